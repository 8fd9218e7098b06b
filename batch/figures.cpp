#include "batch/figures.h"

#include <utility>

namespace velmora::batch {

void ColumnTotals::Add(const ColumnTotals& other) {
  count += other.count;
  sum.Add(other.sum);
  min = std::min(min, other.min);
  max = std::max(max, other.max);
}

void RunFigures::Add(const RunFigures& other) {
  computed += other.computed;
  rowRejected += other.rowRejected;
  modelFailed += other.modelFailed;
  for (std::size_t c = 0; c < columns.size(); ++c) columns[c].Add(other.columns[c]);
  delayDamages.insert(delayDamages.end(), other.delayDamages.begin(), other.delayDamages.end());
}

void PutFigures(RunFigures& figures, BatchSummary& summary) {
  summary.computed = figures.computed;
  summary.rowRejected = figures.rowRejected;
  summary.modelFailed = figures.modelFailed;
  summary.delayDamages = std::move(figures.delayDamages);
  for (std::size_t c = 0; c < summary.columns.size(); ++c) {
    const ColumnTotals& totals = figures.columns[c];
    ColumnFigures& column = summary.columns[c];
    column = {};
    column.count = totals.count;
    column.sum = totals.sum.Value();
    if (totals.count > 0) {
      column.min = totals.min;
      column.max = totals.max;
      column.mean = totals.sum.Mean(totals.count);
    }
  }
}

}  // namespace velmora::batch
