// The plan of a run, made before the extraction changes anything.
#pragma once

// Names in the run record every folder the extraction will create, every
// file it will create or move to its backup, and the new list's temporary
// file, as the package directory and TARGETDIR tell them now, then flushes
// the record once: after a power cut the next start knows every change
// that can be on the disk. 0, or -1 after a reported failure.
int PlanRun();
