#pragma once
// Field texts of the input, for a map file, which holds UTF-8: the input's own
// bytes are UTF-8 after a byte order mark and CP932 otherwise.
#include <string>
#include <string_view>

namespace velmora::map {

// The bytes as UTF-8: ASCII as it is, CP932 converted (platform::
// Utf8FromCp932), and whatever does not convert as U+FFFD, so that the text
// is always valid UTF-8.
std::string TextToUtf8(std::string_view bytes, bool inputUtf8);

// Replaces every byte sequence that is not UTF-8 with U+FFFD.
std::string ValidUtf8(std::string_view bytes);

}  // namespace velmora::map
