// The Win32 owners beside common/owned.h: a file handle that closes itself
// and a file of the function's own that deletes itself unless kept, so that
// a function's error paths need no clean-up of their own. Win32 only.
#pragma once
#include <windows.h>

#include "common/confined_win32.h"

// A handle from CreateFileA, INVALID_HANDLE_VALUE when there is none, closed
// when it goes out of scope.
class OwnedHandle {
public:
  explicit OwnedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~OwnedHandle() { Close(); }
  OwnedHandle(const OwnedHandle &) = delete;
  OwnedHandle &operator=(const OwnedHandle &) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes the handle now (where the close must come before a rename, or
  // its result counts). False only when a close failed.
  bool Close() {
    if (handle_ == INVALID_HANDLE_VALUE)
      return true;
    bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }
  // Takes handle in place of the one held, which is closed.
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }

private:
  HANDLE handle_;
};

// A file the function created at path (a buffer that outlives this owner),
// open as handle: closed, then deleted when it goes out of scope, unless
// kept. With an invalid handle there is no file of ours, and nothing is
// deleted; nor is anything that stands at its name once it is closed but the
// plain file (a link put there is never deleted through).
class TemporaryFile {
public:
  TemporaryFile(HANDLE handle, const char *path) : file_(handle), path_(path) {}
  ~TemporaryFile() {
    file_.Close();
    if (!kept_ && path_ != nullptr)
      DeleteAtPlace(path_);
  }
  TemporaryFile(const TemporaryFile &) = delete;
  TemporaryFile &operator=(const TemporaryFile &) = delete;

  HANDLE get() const { return file_.get(); }
  bool valid() const { return file_.valid(); }
  bool Close() { return file_.Close(); }
  // The file stays (it was put in place, or is wanted where it is).
  void Keep() { kept_ = true; }

private:
  OwnedHandle file_;
  const char *path_;
  bool kept_ = !file_.valid();
};
