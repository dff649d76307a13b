// Rules of the confirmation dialog that need no window: how long a
// destination may be, which form counts as a drive path, and the space
// figures shown beside the start button.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/limits.h" // kLongestDestination

// Takes the place of a TARGETDIR that is too long.
extern const char kDestinationTooDeepNote[];

// True when the text is over kLongestDestination bytes long.
bool IsDestinationTooLong(const char *path);

// Byte 0 an ASCII letter and byte 1 a colon.
bool HasDriveLetterForm(const char *path);

// The drive-letter form followed by a backslash: a path from a drive's root.
bool HasFullDriveForm(const char *path);

// How the dialog treats a TARGETDIR: replaced by the note (start disabled),
// a drive path (space shown, start enabled) or anything else (start disabled).
enum DestinationKind { kDestinationTooLong, kDestinationOnDrive, kDestinationOther };
DestinationKind ClassifyDestination(const char *target);

// Space the update needs: the package rounded up to whole MiB plus 4 MiB.
// Saturates instead of wrapping for packages beyond 32-bit figures.
uint32_t RequiredMiB(int64_t archive_size_kib);

// Whole MiB in a count of bytes, saturated to 32 bits.
uint32_t BytesToMiB(uint64_t bytes);

// "HDD要:<required>M HDD空き:<free>M" into dest. 0, or -1 when it does not fit.
int FormatSpaceText(char *dest, size_t capacity, uint32_t required_mib, uint32_t free_mib);
