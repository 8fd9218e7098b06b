#pragma once
// What the batch check, the run and the command share (batch/batch.cpp);
// internal to them.
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

#include "batch/options.h"

namespace velmora::batch {

// Whether the result is written in UTF-8 (else CP932).
inline bool WritesUtf8(OutputEncoding encoding, bool inputUtf8) {
  return encoding == OutputEncoding::FromInput ? inputUtf8 : encoding == OutputEncoding::Utf8;
}

// The refusal of a byte outside ASCII that would be echoed into a result of
// another code page than the input's.
std::string MixedMessage(std::uint64_t line, bool inputUtf8);

}  // namespace velmora::batch
