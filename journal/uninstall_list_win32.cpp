// Reading and rewriting uinst.dat. The new list goes to a temporary file
// beside it, which replaces uinst.dat only once it is complete and flushed,
// so that a failing write never costs the list its earlier content. Once it
// is complete the run record takes it as the commit point.
#include "journal/uninstall_list_win32.h"

#include <cstring>

#include "common/confined_win32.h"
#include "common/failure_messages.h"
#include "common/owned.h"
#include "common/owned_win32.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/durability_win32.h"
#include "journal/journal.h"
#include "journal/run_record_win32.h"
#include "journal/uninstall_codec.h"

enum { kWriteBufferBytes = 64 * 1024 };

static UninstallEntries UninstallList;
static unsigned char sWriteBuffer[kWriteBufferBytes];

static int BuildUninstallPath(char *dest, size_t capacity) {
  return JoinPath(dest, capacity, TARGETDIR, kUninstallFileName);
}

int LoadUninstallList() {
  char path[kPathBytes];
  if (BuildUninstallPath(path, sizeof path) != 0)
    return -1;
  return ReadUninstallFile(path);
}

int32_t FileSizeOf(const char *path) {
  WIN32_FILE_ATTRIBUTE_DATA status;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &status))
    return 0;
  if (status.nFileSizeHigh != 0 || status.nFileSizeLow > INT32_MAX)
    return -1;
  return static_cast<int32_t>(status.nFileSizeLow);
}

// Exactly size bytes, and nothing after them: a file that is shorter or
// longer than its status said is not read at all.
static bool ReadWhole(HANDLE file, char *buffer, int32_t size) {
  DWORD got = 0;
  if (!ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr) || got != static_cast<DWORD>(size))
    return false;
  char extra;
  DWORD more = 0;
  return ReadFile(file, &extra, 1, &more, nullptr) && more == 0;
}

int ReadUninstallFile(const char *path) {
  int32_t size = FileSizeOf(path);
  if (size < 0)
    return -1;
  MallocPtr<char> buffer = MallocArray<char>(static_cast<size_t>(size) + 1);
  if (!buffer)
    return -1;
  // Only the plain file at its place: a link named uinst.dat is never followed.
  OwnedHandle file(OpenFileAtPlace(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!file.valid() || !ReadWhole(file.get(), buffer.get(), size))
    return -1;
  file.Close();
  return ParseUninstallBytes(&UninstallList, buffer.get(), static_cast<size_t>(size));
}

int AddUninstallEntry(const char *kind, const char *path) {
  return AddEntryText(&UninstallList, kind, path) < 0 ? -1 : 0;
}

// Buffered output to a file; every WriteFile must take all its bytes.
struct FileSink {
  HANDLE file;
  size_t used;
};

static bool WriteAll(HANDLE file, const void *bytes, size_t count) {
  if (count > MAXDWORD)
    return false;
  DWORD written = 0;
  return WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr) && written == count;
}

static bool FlushSink(FileSink *sink) {
  bool ok = WriteAll(sink->file, sWriteBuffer, sink->used);
  sink->used = 0;
  return ok;
}

static int SinkBytes(void *context, const void *bytes, size_t count) {
  FileSink *sink = static_cast<FileSink *>(context);
  if (count > sizeof sWriteBuffer - sink->used && !FlushSink(sink))
    return -1;
  if (count >= sizeof sWriteBuffer)
    return WriteAll(sink->file, bytes, count) ? 0 : -1;
  std::memcpy(sWriteBuffer + sink->used, bytes, count);
  sink->used += count;
  return 0;
}

int WriteUninstallFile(HANDLE file) {
  FileSink sink = {file, 0};
  if (WriteUninstallEntries(&UninstallList, SinkBytes, &sink) != 0)
    return -1;
  return FlushSink(&sink) ? 0 : -1;
}

static int AddCreatedPaths() {
  for (int32_t i = 0; i < JournalCount(); ++i) {
    const JournalRecord &record = JournalAt(i);
    if (record.action == kJournalCreated && AddUninstallEntry(record.kind, record.path) != 0)
      return -1;
  }
  return 0;
}

// Opens uinst.dat for writing, as the rewrite needs, without cutting it: a
// file that can't be written fails here, before anything is written. A
// missing file is no obstacle (the rewrite creates it): existing then holds
// no handle.
static bool OpenForRewrite(const char *path, OwnedHandle *existing) {
  HANDLE file = OpenFileAtPlace(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  bool missing = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
  existing->Reset(file);
  return existing->valid() || missing;
}

// A new, uniquely named file "uinXXXX.tmp" in TARGETDIR (so that the final
// rename stays on one drive), named in the run record as kind before it is
// made: a kill right after the create must not leave a file the next start
// does not know of. A name already there is passed over; one taken between
// the look and the create is superseded by the next record of the kind.
static HANDLE CreateListFileBeside(char kind, char path[kPathBytes]) {
  // The temporary file's name the run's plan chose is in the record already.
  if (kind == kRecordListTemp && TakePlannedListTemporary(TARGETDIR, path, kPathBytes)) {
    HANDLE file = CreateFileAtPlace(path, GENERIC_WRITE, 0);
    if (file != INVALID_HANDLE_VALUE)
      return file;
  }
  for (unsigned attempt = 0; attempt < 64; ++attempt) {
    if (ChooseListTemporaryName(TARGETDIR, path, kPathBytes) != 0)
      return INVALID_HANDLE_VALUE;
    // On the disk before the file: a power cut must not keep the file alone.
    if (RecordChange(kind, path) != 0)
      return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileAtPlace(path, GENERIC_WRITE, 0);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
      return file;
  }
  return INVALID_HANDLE_VALUE;
}

// Writes the list to the temporary file and flushes it to the disk. Closes
// the file in any case.
static bool WriteTemporary(TemporaryFile *file) {
  bool written = WriteUninstallFile(file->get()) == 0 && FlushFileBuffers(file->get());
  return file->Close() && written;
}

// Copies the complete temporary file over the list in place and flushes it:
// the way left when another program holds the list open without letting it
// be replaced (but letting it be written). Never into a file that is not the
// list itself alone: a link, or a second name of another file, would carry
// the write outside the game folder.
static bool RewriteInPlace(const char *temporary, const char *path) {
  // The source may be the list itself, held by that other program.
  OwnedHandle source(OpenFileAtPlace(temporary, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!source.valid())
    return false;
  OwnedHandle list(OpenFileAtPlace(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
  bool ok = list.valid() && IsHandleAtPlaceAlone(list.get(), path);
  for (DWORD got = 1; ok && got > 0;) {
    ok = ReadFile(source.get(), sWriteBuffer, sizeof sWriteBuffer, &got, nullptr) &&
         WriteAll(list.get(), sWriteBuffer, got);
  }
  return ok && SetEndOfFile(list.get()) && FlushFileBuffers(list.get());
}

// The hidden and system attributes the list had, for the new one.
static DWORD KeptAttributesOf(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return 0;
  return attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

// A copy of the list beside it, flushed, and named in the run record (the
// record flushed too) before the list is rewritten in place: named before it
// is made, so that nothing of the run's is unknown to the next start, and
// again once it is complete, so that an undo puts back only a whole copy.
static bool CopyListBeside(const char *path, char previous[kPathBytes]) {
  TemporaryFile copy(CreateListFileBeside(kRecordPreviousList, previous), previous);
  if (!copy.valid())
    return false;
  copy.Close();
  if (!RewriteInPlace(path, previous) || AppendRunRecord(kRecordPreviousList, previous) != 0 || FlushRunRecord() != 0)
    return false;
  copy.Keep();
  return true;
}

// The list at path from the file at source, by rename or, when another
// program holds the list, in place; source is gone after success.
static bool ReplaceList(const char *source, const char *path, DWORD kept) {
  if (MoveAtPlace(source, path, true)) {
    if (kept != 0)
      SetFileAttributesA(path, GetFileAttributesA(path) | kept);
    return true;
  }
  DWORD error = GetLastError();
  if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || !RewriteInPlace(source, path))
    return false;
  DeleteAtPlace(source);
  return true;
}

// Whether the list is a plain file of its own, which a write in place
// changes and nothing else.
static bool IsListAlone(const char *path) {
  OwnedHandle list(OpenFileAtPlace(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  return list.valid() && IsHandleAtPlaceAlone(list.get(), path);
}

// The copy taken before an in-place rewrite that did not finish, until the
// old list is back from it.
static char sPreviousList[kPathBytes];
// The copy of the old list the run's save takes before its commit point,
// kept until the run has settled: an undo that comes after the new list is
// in place (its commit mark lost from a damaged record) puts it back.
static char sKeptList[kPathBytes];

int PutListInPlace(const char *temporary, const char *path) {
  DWORD kept = KeptAttributesOf(path);
  if (MoveAtPlace(temporary, path, true)) {
    if (kept != 0)
      SetFileAttributesA(path, GetFileAttributesA(path) | kept);
    return 0;
  }
  DWORD error = GetLastError();
  if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || !IsListAlone(path))
    return -1;
  // In place, the old content is gone from the first byte written: a copy
  // of it, named in the run record, stays beside it until the list is whole
  // (the save's own copy, when it took one, until the run has settled).
  char previous[kPathBytes];
  bool saved_copy = sKeptList[0] != '\0';
  if (saved_copy ? CopyText(previous, sizeof previous, sKeptList) != 0 : !CopyListBeside(path, previous))
    return -1;
  if (RewriteInPlace(temporary, path)) {
    DeleteAtPlace(temporary);
    if (!saved_copy)
      DeleteAtPlace(previous);
    return 0;
  }
  CopyText(sPreviousList, sizeof sPreviousList, previous);
  RestorePreviousList();
  return -1;
}

int RestorePreviousList() {
  if (sPreviousList[0] == '\0')
    return 0;
  char path[kPathBytes];
  if (BuildUninstallPath(path, sizeof path) != 0 || !RewriteInPlace(sPreviousList, path))
    return -1;
  DeleteAtPlace(sPreviousList);
  sPreviousList[0] = '\0';
  return 0;
}

int DeleteKeptList() {
  if (sKeptList[0] == '\0')
    return 0;
  if (!DeleteAtPlace(sKeptList))
    return -1;
  sKeptList[0] = '\0';
  return 0;
}

int PutPreviousListBack(const char *previous, const char *path) {
  return ReplaceList(previous, path, KeptAttributesOf(path)) ? 0 : -1;
}

// The pass's answer to a list it could not write: the failure goes to the
// shared failure state, the result is 0.
static int ListNotWritten(const char *message_template, const char *path) {
  ReportWriteFailure(message_template, path);
  return 0;
}

int SaveUninstallList(PassProgress *progress) {
  if (JournalCount() == 0)
    return 0;
  char path[kPathBytes];
  if (BuildUninstallPath(path, sizeof path) != 0)
    return ListNotWritten(kCannotCreateTemplate, TARGETDIR);
  if (AddCreatedPaths() != 0)
    return ListNotWritten(kCannotWriteTemplate, path);
  OwnedHandle existing;
  if (!OpenForRewrite(path, &existing))
    return ListNotWritten(kCannotCreateTemplate, path);
  char temporary[kPathBytes];
  TemporaryFile file(CreateListFileBeside(kRecordListTemp, temporary), temporary);
  if (!file.valid())
    return ListNotWritten(kCannotCreateTemplate, path);
  PumpProgress(progress);
  // A cancel confirmed during the pump rolls the run back: the list keeps
  // its old content rather than naming files that are about to go.
  if (InstallStatus != kStatusRunning)
    return 0;
  bool written = WriteTemporary(&file);
  // The names the run made go to the disk before its commit point does.
  if (written)
    FlushFolder(TARGETDIR);
  if (written && existing.valid() && !CopyListBeside(path, sKeptList)) {
    sKeptList[0] = '\0';
    return ListNotWritten(kCannotWriteTemplate, path);
  }
  bool committed = written && RecordCommit(temporary) == 0;
  // The rename can't replace a file that is still open.
  existing.Close();
  if (committed && PutListInPlace(temporary, path) == 0) {
    file.Keep();
    return 0;
  }
  // Past the commit point (or where its record may be on the disk though
  // its flush failed) the abandonment is made durable before any rollback.
  if (written)
    RecordAbandon();
  return ListNotWritten(kCannotWriteTemplate, path);
}

int32_t UninstallEntryCount() { return UninstallList.count; }

const char *UninstallEntryAt(int32_t i) { return UninstallList.entries[i].text; }

void ResetUninstallListState() {
  ClearUninstallEntries(&UninstallList);
  std::memset(sWriteBuffer, 0, sizeof sWriteBuffer);
  sPreviousList[0] = '\0';
  sKeptList[0] = '\0';
}
