// Writing and reading the run record file.
#include "journal/run_record_win32.h"

#include <windows.h>

#include <cstring>

#include "common/confined_win32.h"
#include "common/cp932.h"
#include "common/file_look_win32.h"
#include "common/limits.h"
#include "common/owned.h"
#include "common/owned_win32.h"
#include "common/text.h"
#include "journal/durability_win32.h"
#include "journal/journal.h"
#include "journal/record_seal_win32.h"

// Larger files are no record of ours: a run of 20 000 entries writes ~3 MiB.
enum { kLargestRunRecordBytes = 256 * 1024 * 1024 };

static HANDLE sRunRecordFile = INVALID_HANDLE_VALUE;
static char sRunRecordPath[kPathBytes];
static char sRunRecordFolder[kPathBytes];
static RecordSeal sSeal;
static unsigned char sRunId[kRunIdBytes];
static unsigned char sChain[kRecordTagBytes];
// The list's files named in the record, for what is left after an undo.
static char sListTemporary[kPathBytes];
static char sPreviousList[kPathBytes];
static bool sPreviousListWhole = false; // named a second time: the copy is complete

int BuildRunRecordPath(char *dest, size_t capacity, const char *folder) {
  return JoinPath(dest, capacity, folder, kRunRecordFileName);
}

static bool WriteAllTo(HANDLE file, const void *bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// Cuts the record to its header and flushes it: a header alone names nothing
// to do, whatever becomes of the file and of the registry's note.
static void EmptyRecord(HANDLE file) {
  if (SetFilePointer(file, kRunRecordHeaderBytes, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
      SetEndOfFile(file))
    FlushFileBuffers(file);
}

void RemoveRunRecordFile(const char *path) {
  // Only a plain file at its place: a link named like the record is no
  // record, and a delete through it would reach its target.
  if (LookAtPlace(path) != kPlacePlain || DeleteFileA(path))
    return;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY) && DeleteFileA(path))
    return;
  // Held by another program that lets it be written, not removed.
  OwnedHandle file(OpenFileAtPlace(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
  LARGE_INTEGER size;
  if (file.valid() && IsHandleAtPlaceAlone(file.get(), path) && GetFileSizeEx(file.get(), &size) &&
      size.QuadPart > kRunRecordHeaderBytes)
    EmptyRecord(file.get());
}

static void ForgetRun() {
  sListTemporary[0] = '\0';
  sPreviousList[0] = '\0';
  sPreviousListWhole = false;
}

int OpenRunRecord(const char *folder) {
  CloseRunRecord(false);
  ForgetRun();
  if (CopyText(sRunRecordFolder, sizeof sRunRecordFolder, folder) != 0 ||
      BuildRunRecordPath(sRunRecordPath, sizeof sRunRecordPath, folder) != 0 || !LoadRecordSeal(true, &sSeal) ||
      !NewRunId(sRunId))
    return -1;
  // Whatever file is there goes first, and the record is made new: a link
  // in its place is neither followed nor written through, and the create
  // fails on it.
  RemoveRunRecordFile(sRunRecordPath);
  sRunRecordFile = CreateFileAtPlace(sRunRecordPath, GENERIC_WRITE, FILE_SHARE_READ);
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return -1;
  unsigned char header[kRunRecordHeaderBytes];
  EncodeRunRecordHeader(sRunId, folder, sSeal, header, sChain);
  if (!WriteAllTo(sRunRecordFile, header, sizeof header)) {
    CloseRunRecord(true);
    return -1;
  }
  return 0;
}

// The part of path after the record's folder and its separator; nullptr
// when path does not lie in it.
static const char *RelativeToFolder(const char *path) {
  size_t length = std::strlen(sRunRecordFolder);
  if (std::strncmp(path, sRunRecordFolder, length) != 0)
    return nullptr;
  const char *rest = path + length;
  if (!EndsWithSeparator(sRunRecordFolder)) {
    if (*rest != '\\')
      return nullptr;
    ++rest;
  }
  return *rest != '\0' ? rest : nullptr;
}

static int AppendRecord(char kind, const char *relative) {
  unsigned char bytes[kPathBytes + 2 + kRecordTagBytes];
  size_t length = EncodeRunRecord(kind, relative, sSeal, sChain, bytes, sizeof bytes);
  return length != 0 && WriteAllTo(sRunRecordFile, bytes, static_cast<DWORD>(length)) ? 0 : -1;
}

int AppendRunRecord(char kind, const char *path) {
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return 0;
  const char *relative = path[0] == '\0' ? "" : RelativeToFolder(path);
  if (relative == nullptr)
    return -1;
  if (kind == kRecordListTemp)
    CopyText(sListTemporary, sizeof sListTemporary, path);
  else if (kind == kRecordPreviousList) {
    sPreviousListWhole = std::strcmp(sPreviousList, path) == 0;
    CopyText(sPreviousList, sizeof sPreviousList, path);
  }
  return AppendRecord(kind, relative);
}

int RecordPlanWhole() {
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return 0;
  return AppendRecord(kRecordPlanEnd, "");
}

int FlushRunRecord() {
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return 0;
  return FlushFileBuffers(sRunRecordFile) ? 0 : -1;
}

int RecordCommit(const char *temporary) {
  return AppendRunRecord(kRecordCommit, temporary) == 0 ? FlushRunRecord() : -1;
}

int RecordAbandon() {
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return 0;
  // Either one keeps the next start from completing the run.
  bool noted = NoteRunStanding(sRunId, kRunAbandoned);
  bool recorded = AppendRecord(kRecordAbandon, "") == 0 && FlushRunRecord() == 0;
  return noted || recorded ? 0 : -1;
}

// The record of a journal entry that still has something to undo, or 0. A
// path that could not be looked at stays in the record.
static char KindLeft(const JournalRecord &record) {
  if (record.kind[0] == 'D')
    return MayExist(record.path) ? kRecordDirectory : 0;
  if (record.action == kJournalCreated)
    return MayExist(record.path) ? kRecordCreated : 0;
  if (record.action == kJournalMaybeCreated)
    return MayExist(record.path) ? kRecordCreating : 0;
  char backup[kPathBytes];
  return BuildBackupPath(backup, sizeof backup, record.path) == 0 && MayExist(backup) ? kRecordReplacing : 0;
}

// The list's copy named once, or twice when it was complete.
static int AppendPreviousList(const char *previous) {
  bool whole = sPreviousListWhole;
  if (AppendRunRecord(kRecordPreviousList, previous) != 0)
    return -1;
  return whole ? AppendRunRecord(kRecordPreviousList, previous) : 0;
}

int RecordWhatIsLeft() {
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return 0;
  if (AppendRecord(kRecordBatchStart, "") != 0)
    return -1;
  for (int32_t i = 0; i < JournalCount(); ++i) {
    char kind = KindLeft(JournalAt(i));
    if (kind != 0 && AppendRunRecord(kind, JournalAt(i).path) != 0)
      return -1;
  }
  const char *temporary = sListTemporary, *previous = sPreviousList;
  if ((temporary[0] != '\0' && MayExist(temporary) && AppendRunRecord(kRecordListTemp, temporary) != 0) ||
      (previous[0] != '\0' && MayExist(previous) && AppendPreviousList(previous) != 0))
    return -1;
  return AppendRecord(kRecordBatchEnd, "") == 0 ? FlushRunRecord() : -1;
}

void CloseRunRecord(bool settled) {
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return;
  if (settled) {
    // From here the file is never obeyed, whatever becomes of it: emptied of
    // its records on the disk, and its run noted as settled; but only once
    // what the settling did is on the disk, or a cut would keep half of it
    // with a record that no longer says so.
    FlushJournalFolders(sRunRecordFolder);
    EmptyRecord(sRunRecordFile);
    NoteRunStanding(sRunId, kRunSettled);
  }
  CloseHandle(sRunRecordFile);
  sRunRecordFile = INVALID_HANDLE_VALUE;
  // Gone from the disk before the run's last message: a cut after it must
  // not bring the run back.
  if (settled) {
    RemoveRunRecordFile(sRunRecordPath);
    FlushFolder(sRunRecordFolder);
  }
}

// The whole file, up to the largest record of ours, in *bytes (*got of them).
static bool ReadRecordBytes(HANDLE file, MallocPtr<unsigned char> *bytes, DWORD *got) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart > kLargestRunRecordBytes)
    return false;
  *bytes = MallocArray<unsigned char>(static_cast<size_t>(size.QuadPart) + 1);
  return *bytes && ReadFile(file, bytes->get(), static_cast<DWORD>(size.QuadPart), got, nullptr) &&
         *got == static_cast<DWORD>(size.QuadPart);
}

RecordReading ReadRunRecordFile(const char *path, RunRecordVisitor visit, void *context, RunRecordState *state) {
  *state = RunRecordState{};
  // Nothing there (nor the folder): no record. A look that failed is no
  // proof of that; the open tells (a share the look can't see into opens,
  // or is not found). A folder or a link there is no record of ours: the
  // program writes its record only as a plain file.
  switch (LookAtPlace(path)) {
  case kPlaceAbsent:
    return kRecordAbsent;
  case kPlaceLinked:
    return kRecordNotPlain;
  default:
    break;
  }
  if (PathIsFolder(path))
    return kRecordNotPlain;
  OwnedHandle file(OpenFileAtPlace(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!file.valid()) {
    DWORD error = GetLastError();
    return MeansNotFound(error)                ? kRecordAbsent
           : LookAtPlace(path) == kPlaceLinked ? kRecordNotPlain
                                               : kRecordUnreadable;
  }
  MallocPtr<unsigned char> bytes;
  DWORD got = 0;
  if (!ReadRecordBytes(file.get(), &bytes, &got))
    return kRecordUnreadable;
  file.Close();
  char folder[kPathBytes];
  long separator = FindLastSeparator(path);
  if (separator < 0 || CopyText(folder, sizeof folder, path) != 0)
    return kRecordNotOurs;
  folder[separator] = '\0';
  // A machine without a key has sealed nothing; an empty or cut header
  // holds no records and needs none.
  RecordSeal seal;
  bool sealed = LoadRecordSeal(false, &seal);
  if (!sealed && got >= kRunRecordHeaderBytes)
    return kRecordNotOurs;
  return ReadRunRecord(bytes.get(), got, folder, sealed ? &seal : nullptr, visit, context, state) == 0 ? kRecordRead
                                                                                                       : kRecordNotOurs;
}

int ReopenRunRecord(const char *folder, const RunRecordState &state, const char *temporary, const char *previous,
                    bool previous_whole) {
  CloseRunRecord(false);
  ForgetRun();
  if (!state.has_header || CopyText(sRunRecordFolder, sizeof sRunRecordFolder, folder) != 0 ||
      BuildRunRecordPath(sRunRecordPath, sizeof sRunRecordPath, folder) != 0 || !LoadRecordSeal(false, &sSeal))
    return -1;
  CopyText(sListTemporary, sizeof sListTemporary, temporary);
  CopyText(sPreviousList, sizeof sPreviousList, previous);
  sPreviousListWhole = previous_whole;
  std::memcpy(sRunId, state.run_id, sizeof sRunId);
  std::memcpy(sChain, state.chain, sizeof sChain);
  sRunRecordFile = OpenFileAtPlace(sRunRecordPath, GENERIC_WRITE, FILE_SHARE_READ);
  if (sRunRecordFile == INVALID_HANDLE_VALUE)
    return -1;
  if (!IsHandleAtPlaceAlone(sRunRecordFile, sRunRecordPath)) {
    CloseRunRecord(false);
    return -1;
  }
  LONG high = 0;
  if (SetFilePointer(sRunRecordFile, static_cast<LONG>(state.sealed_end), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(sRunRecordFile)) {
    CloseRunRecord(false);
    return -1;
  }
  return 0;
}

void ResetRunRecordState() {
  CloseRunRecord(false);
  sRunRecordPath[0] = '\0';
  sRunRecordFolder[0] = '\0';
  sSeal = RecordSeal{};
  std::memset(sRunId, 0, sizeof sRunId);
  std::memset(sChain, 0, sizeof sChain);
  ForgetRun();
}
