// Arithmetic of the progress bar: KiB counted per chunk and the percentage
// shown, kept portable so that its limits are tested natively.
#pragma once
#include <cstdint>

enum { kProgressFullPercent = 100 };

// The KiB a chunk of bytes counts for: rounded up, so that every chunk moves
// the count. The sum saturates at INT32_MAX instead of wrapping.
int32_t AddChunkKiB(int32_t progress_kib, uint32_t chunk_bytes);

// Percentage of the package copied, 0 to 100. Rounded-up chunks can count
// more KiB than the package has, and a package under 1 KiB has a size figure
// of 0: both show a full bar.
int32_t ProgressPercent(int32_t progress_kib, int64_t archive_kib);
