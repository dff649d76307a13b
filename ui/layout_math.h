// Arithmetic of the windows, kept apart from Win32 so that it is tested
// natively: where a centred window goes.
#pragma once
#include <cstddef>
#include <cstdint>

// Left (or top) edge that centres a window of size inner on an area that
// starts at origin and has size outer; the half is truncated toward zero.
int CenteredOrigin(int origin, int outer, int inner);
