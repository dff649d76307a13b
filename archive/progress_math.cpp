// Progress bar arithmetic, in 64 bits so that no count can overflow it.
#include "archive/progress_math.h"

int32_t AddChunkKiB(int32_t progress_kib, uint32_t chunk_bytes) {
  int64_t sum = static_cast<int64_t>(progress_kib) + (static_cast<int64_t>(chunk_bytes) + 1023) / 1024;
  return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

int32_t ProgressPercent(int32_t progress_kib, int64_t archive_kib) {
  if (archive_kib <= 0 || progress_kib >= archive_kib)
    return kProgressFullPercent;
  if (progress_kib <= 0)
    return 0;
  // progress_kib < archive_kib here, so the quotient is below 100.
  return static_cast<int32_t>(static_cast<int64_t>(progress_kib) * 100 / archive_kib);
}
