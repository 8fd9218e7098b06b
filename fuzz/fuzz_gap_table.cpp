// LoadGapTable on arbitrary file contents. ASan watches the writes into the
// table; the target checks the answer against the messages and that whatever
// was stored is a finite single.
#include <cmath>
#include <cstring>

#include "core/gap_table.h"
#include "fuzz_common.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = fuzz::WriteScratch("EGapDis.txt", data, size);
  GapTable table;
  // A marker that no text converts to, so an entry that changed is visible.
  const float marker = std::nanf("");
  table.entries.fill(marker);
  fuzz::CountingReporter reporter;
  const bool loaded = LoadGapTable(path, table, reporter);

  VELMORA_CHECK(reporter.errors <= 1);
  VELMORA_CHECK(reporter.infos == 0);
  VELMORA_CHECK(loaded == (reporter.errors == 0));
  int written = 0;
  for (float v : table.entries) {
    if (std::isnan(v)) continue;
    VELMORA_CHECK(std::isfinite(v));
    ++written;
  }
  // No heading, no entry: an empty file fails, and a heading alone writes nothing.
  if (size == 0) VELMORA_CHECK(!loaded && written == 0);
  if (std::memchr(data, '\n', size) == nullptr && std::memchr(data, '\r', size) == nullptr)
    VELMORA_CHECK(written == 0);

  // Every gap, in range or not, looks up without leaving the table.
  for (float gap : {-20.0f, -20.05f, -0.25f, 0.0f, 0.25f, 99.95f, 100.0f, 100.01f}) {
    const float v = GapLookup(table, gap);
    if (gap > 100.0f || gap < -20.0f) VELMORA_CHECK(v == 0.0f);
  }
  return 0;
}
