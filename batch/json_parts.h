#pragma once
// JSON pieces that the summary and the explanation of one household share.
#include <array>
#include <string>
#include <nlohmann/json.hpp>

#include "core/records.h"

namespace velmora {

using Json = nlohmann::ordered_json;

// A single as a JSON number: the double of the single, which the library
// writes as the shortest text that reads back to it.
inline Json SingleJson(float value) { return static_cast<double>(value); }

// The four settings: each as the text given and as the single the mode's
// model reads (null for the ones it does not read).
Json SettingsJson(Mode mode, const std::array<std::string, 4>& texts, const CommonSettings& settings);

// Texts that are not UTF-8 (paths, setting texts) do not stop the output:
// their bytes become U+FFFD.
inline std::string DumpJson(const Json& json) {
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace velmora
