#pragma once
// The figures a run gathers for its summary: counts and the result columns
// as the file holds them. Internal to the run; each thread gathers its own
// and they are merged in any order to the same figures.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "batch/summary.h"

namespace velmora::batch {

// A result column as the file holds it.
struct ColumnTotals {
  std::uint64_t count = 0;
  ExactSum sum;
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();

  void Add(double value) {
    ++count;
    sum.Add(value);
    min = std::min(min, value);
    max = std::max(max, value);
  }
  void Add(const ColumnTotals& other);
};

struct RunFigures {
  std::uint64_t computed = 0;
  std::uint64_t rowRejected = 0;
  std::uint64_t modelFailed = 0;
  std::array<ColumnTotals, 4> columns;  // in the order of kResultNames
  bool keepDelayDamages = false;
  std::vector<double> delayDamages;

  void Add(const RunFigures& other);
};

// The counts, the column figures and the delay damages of a completed run
// into its summary (the delay damages are moved).
void PutFigures(RunFigures& figures, BatchSummary& summary);

}  // namespace velmora::batch
