// Writing and reading the run record file.
#include "journal/run_record.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "common/run_state.h"
#include "common/text.h"
#include "journal/durability.h"

// Larger files are no record of ours: a run of 20 000 entries writes ~2 MiB.
enum { kLargestRunRecordBytes = 256 * 1024 * 1024 };

static HANDLE RunRecordFile = INVALID_HANDLE_VALUE;
static char RunRecordPath[kPathBytes];

int BuildRunRecordPath(char *dest, size_t capacity, const char *folder) {
  return JoinPath(dest, capacity, folder, kRunRecordFileName);
}

static bool WriteAllTo(HANDLE file, const void *bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

int OpenRunRecord(const char *folder) {
  CloseRunRecord(false);
  if (BuildRunRecordPath(RunRecordPath, sizeof RunRecordPath, folder) != 0)
    return -1;
  RunRecordFile = CreateFileA(RunRecordPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (RunRecordFile == INVALID_HANDLE_VALUE)
    return -1;
  if (!WriteAllTo(RunRecordFile, kRunRecordHeader, kRunRecordHeaderBytes)) {
    CloseRunRecord(true);
    return -1;
  }
  return 0;
}

int AppendRunRecord(char kind, const char *path) {
  if (RunRecordFile == INVALID_HANDLE_VALUE)
    return 0;
  unsigned char bytes[kPathBytes + 2];
  size_t length = EncodeRunRecord(kind, path, bytes, sizeof bytes);
  return length != 0 && WriteAllTo(RunRecordFile, bytes, static_cast<DWORD>(length)) ? 0 : -1;
}

int FlushRunRecord() {
  if (RunRecordFile == INVALID_HANDLE_VALUE)
    return 0;
  return FlushFileBuffers(RunRecordFile) ? 0 : -1;
}

int RecordCommit(const char *temporary) {
  return AppendRunRecord(kRecordCommit, temporary) == 0 ? FlushRunRecord() : -1;
}

int RecordAbandon() { return AppendRunRecord(kRecordAbandon, "") == 0 ? FlushRunRecord() : -1; }

void CloseRunRecord(bool settled) {
  if (RunRecordFile == INVALID_HANDLE_VALUE)
    return;
  CloseHandle(RunRecordFile);
  RunRecordFile = INVALID_HANDLE_VALUE;
  // Gone from the disk before the run's last message: a cut after it must
  // not bring the run back.
  if (settled && DeleteFileA(RunRecordPath))
    FlushFolderOf(RunRecordPath);
}

int ReadRunRecordFile(const char *path, RunRecordVisitor visit, void *context) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : -1;
  LARGE_INTEGER size;
  unsigned char *bytes = nullptr;
  DWORD got = 0;
  bool read = GetFileSizeEx(file, &size) && size.QuadPart <= kLargestRunRecordBytes &&
              (bytes = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(size.QuadPart) + 1))) != nullptr &&
              ReadFile(file, bytes, static_cast<DWORD>(size.QuadPart), &got, nullptr) &&
              got == static_cast<DWORD>(size.QuadPart);
  CloseHandle(file);
  int result = read ? ReadRunRecord(bytes, got, visit, context) : -1;
  std::free(bytes);
  return result;
}
