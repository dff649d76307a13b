// The sizes of the program's path and text buffers and the length limits
// that follow from them, in one place for update.exe, its passes and
// mkupdate. Portable, and nothing else: a file that needs only a size
// includes this header, not the process-wide state (common/run_state.h).
#pragma once

enum {
  // A path with its terminator: the longest the system's ANSI file calls
  // take. Joined paths, backup names and package entry names fit in it.
  kPathBytes = 260,
  // A folder variable (TARGETDIR and its kin): room for a folder too long to
  // use, so that it is refused whole rather than cut.
  kFolderBufferBytes = 1024,
  // ErrorDetail and the messages built around it.
  kDetailBytes = 1024,
  // A window's text: its title, the space figures.
  kTextBufferBytes = 1024,
  // The longest destination folder the confirmation accepts (in bytes,
  // without the terminator): the paths joined under it must still fit
  // kPathBytes.
  kLongestDestination = 200,
};
