#pragma once
#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>

#include "reporter.h"

namespace velmora {

// The gap-distribution table: 1201 singles for the gap values -20.0 to 100.0
// in steps of 0.1, entry k standing for k / 10. It holds no values of its own:
// a study brings its EGapDis.txt.
struct GapTable {
  static constexpr int kMinKey = -200;
  static constexpr int kMaxKey = 1000;
  std::array<float, kMaxKey - kMinKey + 1> entries{};

  float& at(int key) { return entries[static_cast<std::size_t>(key - kMinKey)]; }
  float at(int key) const { return entries[static_cast<std::size_t>(key - kMinKey)]; }
};

inline constexpr const char* kGapTableFileName = "EGapDis.txt";

// Reads the table file (heading line, then "gap,value[,anything]" lines) over
// the entries it names; other entries keep what they held. Every bad line is
// recorded and reading goes on; then the one message is reported and the
// answer is false. Entries named by good lines are written either way.
bool LoadGapTable(const std::filesystem::path& file, GapTable& table, Reporter& reporter);
// The same, handing every byte read to `onBytes` in order (for a digest of
// the table as it was loaded).
bool LoadGapTable(const std::filesystem::path& file, GapTable& table, Reporter& reporter,
                  const std::function<void(const char*, std::size_t)>& onBytes);

// The entry for the gap, key = 10 x gap rounded half to even; 0 outside
// -20..100 (and for a gap that is not a number).
float GapLookup(const GapTable& table, float gap);

}  // namespace velmora
