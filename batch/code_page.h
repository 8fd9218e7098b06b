#pragma once
// Texts between the code pages the users' files come in (CP932 from Excel,
// UTF-8) and the UTF-8 the program works in. Only for what is read as text:
// titles, names and file names of a scenario manifest. Batch fields are
// never converted. The conversion is the system's (platform/platform.h).
#include <cstdint>
#include <string>
#include <string_view>

#include "batch/row.h"  // IsUtf8

namespace velmora::batch {

// The bytes as UTF-8. False when they are not CP932.
bool Cp932ToUtf8(std::string_view cp932, std::string& utf8);
// False when the text holds a character CP932 does not have (or is not UTF-8).
bool Utf8ToCp932(std::string_view utf8, std::string& cp932);

// A text read from a file: without a UTF-8 byte order mark, and as UTF-8
// when it is well-formed UTF-8, else read as CP932. False when it is neither.
bool TextFromFile(std::string_view bytes, std::string& utf8);

}  // namespace velmora::batch
