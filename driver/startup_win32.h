// Start-up: instance guards, the program's own folder, the game's data
// directory and the destination folders.
#pragma once

extern const char kGameMutexName[];     // held by the running game
extern const char kInstanceMutexName[]; // held by a running copy of this program

// True when a mutex of that name can be opened (it exists).
bool IsMutexPresent(const char *name);

// Creates the mutex and keeps it for the life of the process. 0 on success;
// -1 when it can't be created or already existed.
int CreateInstanceMutex(const char *name);

// Reads DataDir into DataDirectory; 1 when a non-empty value was read, else 0.
int ReadDataDir();

// Cuts the program path at its last separator, leaving its folder. 0, or -1
// when the path has no separator.
int CutAtLastSeparator(char *path);

// Sets TARGETDIR to the data directory and SELECTDIR to its parent.
void DeriveDestinations();

// Outcome of the start-up half of the program.
enum StartupResult { kStartupContinue, kStartupQuit };

// Runs the start-up in its order and shows its two messages; kStartupQuit
// means the program must end now.
StartupResult RunStartup();
