// The one reset of the whole program's process-wide state, for the tests
// that run its code under Wine: the portable part and each Windows module's
// file statics (common/run_state.h lists them all).
#pragma once

// Puts every process-wide variable of the program back to its value at
// program start: a record still open is closed as a killed run leaves it,
// and nothing on the disk or in the registry changes.
void ResetProgramState();
