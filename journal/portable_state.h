// The one reset of the portable code's process-wide state. Native tests link
// only the portable code and call this between tests; the Windows build's
// ResetProgramState (driver/program_state_win32.h) calls it too. It lives here,
// in the lowest folder that may use both modules that keep such state.
#pragma once

// Puts the run's variables (common/run_state.h) and the install journal back
// to their values at program start.
void ResetPortableState();
