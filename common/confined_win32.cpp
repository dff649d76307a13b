// Where a path below the data directory really leads, and the changes made
// only once it leads there.
#include "common/confined_win32.h"

#include <cstring>
#include <string>

#include "common/cp932.h"
#include "common/file_look_win32.h"
#include "common/limits.h"
#include "common/name_fold.h"
#include "common/owned_win32.h"
#include "common/run_state.h"
#include "common/text.h"

// Final paths are longer than the paths meant: "\\?\" and the resolved drive.
enum { kFinalPathBytes = 2 * kFolderBufferBytes };

typedef DWORD(WINAPI *FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
typedef BOOL(WINAPI *MitigationFunction)(int, PVOID, SIZE_T);

// The data directory as spelt when its final path was taken, and that final
// path, folded as Windows compares names.
static char sRootSpelling[kFolderBufferBytes];
static char sRootFinal[kFinalPathBytes];
static bool sRootKnown = false;

static FARPROC Kernel32Function(const char *name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

// Vista and later; without it (XP) there are no symbolic links, and a
// junction shows its reparse bit.
static FinalPathFunction FinalPathCall() {
  static const FinalPathFunction call =
      reinterpret_cast<FinalPathFunction>(reinterpret_cast<void *>(Kernel32Function("GetFinalPathNameByHandleA")));
  return call;
}

// The handle's final path, folded; false when the system gives none.
static bool FoldedFinalPath(HANDLE handle, std::string *folded) {
  char final_path[kFinalPathBytes];
  DWORD length = FinalPathCall()(handle, final_path, sizeof final_path, 0);
  if (length == 0 || length >= sizeof final_path)
    return false;
  *folded = FoldNameCase(final_path);
  return true;
}

// A handle for looking at the object at path itself: no access to its data,
// so another program's sharing never stands in the way.
static HANDLE OpenForLook(const char *path, DWORD flags) {
  return CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// The folder of a path below no data directory (a tool's or a test's), in
// which only its last name is judged.
static char sOwnFolder[kPathBytes];

// The data directory below which path lies, with the rest of path after it.
static const char *RootOf(const char *path, const char **relative) {
  for (const char *root : {static_cast<const char *>(TARGETDIR), static_cast<const char *>(DataDirectory)}) {
    size_t length = std::strlen(root);
    if (length == 0 || std::strncmp(path, root, length) != 0)
      continue;
    const char *rest = path + length;
    if (!EndsWithSeparator(root)) {
      if (*rest != '\\')
        continue;
      ++rest;
    }
    if (*rest == '\0')
      continue;
    *relative = rest;
    return root;
  }
  long separator = FindLastSeparator(path);
  if (separator <= 0 || path[separator + 1] == '\0' || CopyText(sOwnFolder, sizeof sOwnFolder, path) != 0)
    return nullptr;
  sOwnFolder[separator] = '\0';
  *relative = path + separator + 1;
  return sOwnFolder;
}

// The root's final path, taken once per spelling. The root may itself be a
// link: that is where the player chose to keep the game.
static bool KnowRoot(const char *root) {
  if (sRootKnown && std::strcmp(sRootSpelling, root) == 0)
    return true;
  sRootKnown = false;
  if (CopyText(sRootSpelling, sizeof sRootSpelling, root) != 0)
    return false;
  sRootFinal[0] = '\0';
  if (FinalPathCall() == nullptr) {
    sRootKnown = true;
    return true;
  }
  // A bare drive ("D:") names that drive's current folder: its root is meant.
  char opened[kFolderBufferBytes];
  if (FormatText(opened, sizeof opened, "%s%s", root, root[1] == ':' && root[2] == '\0' ? "\\" : "") != 0)
    return false;
  OwnedHandle handle(OpenForLook(opened, 0));
  if (!handle.valid())
    return false;
  // A volume that gives no final path (one without a drive letter, say)
  // leaves the reparse bits to tell the links.
  std::string folded;
  if (!FoldedFinalPath(handle.get(), &folded) || CopyText(sRootFinal, sizeof sRootFinal, folded.c_str()) != 0)
    sRootFinal[0] = '\0';
  sRootKnown = true;
  return true;
}

// The handle's attributes and its count of names. Through the calls of Vista
// and later where they are there: under Wine GetFileInformationByHandle also
// asks for the volume, some hundred times slower.
static bool AttributesAndNames(HANDLE handle, DWORD *attributes, DWORD *names) {
  typedef BOOL(WINAPI * InformationFunction)(HANDLE, int, LPVOID, DWORD);
  static const InformationFunction information =
      reinterpret_cast<InformationFunction>(reinterpret_cast<void *>(Kernel32Function("GetFileInformationByHandleEx")));
  // FILE_BASIC_INFO (class 0) and FILE_STANDARD_INFO (class 1).
  struct {
    LARGE_INTEGER times[4];
    DWORD attributes;
  } basic;
  struct {
    LARGE_INTEGER sizes[2];
    DWORD links;
    BOOLEAN delete_pending, directory;
  } standard;
  if (information != nullptr) {
    if (!information(handle, 0, &basic, sizeof basic) || !information(handle, 1, &standard, sizeof standard))
      return false;
    *attributes = basic.attributes;
    *names = standard.links;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info))
    return false;
  *attributes = info.dwFileAttributes;
  *names = info.nNumberOfLinks;
  return true;
}

static bool HandleLeadsTo(HANDLE handle, const char *path, DWORD *names) {
  const char *relative = nullptr;
  const char *root = RootOf(path, &relative);
  DWORD attributes = 0;
  if (root == nullptr || !KnowRoot(root) || !AttributesAndNames(handle, &attributes, names) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  if (FinalPathCall() == nullptr || sRootFinal[0] == '\0')
    return true;
  std::string final_path;
  if (!FoldedFinalPath(handle, &final_path))
    return false;
  std::string expected = sRootFinal;
  if (!EndsWithSeparator(sRootFinal))
    expected += '\\';
  expected += FoldNameCase(relative);
  return final_path == expected;
}

bool IsHandleAtPlace(HANDLE handle, const char *path) {
  DWORD names = 0;
  return HandleLeadsTo(handle, path, &names);
}

bool IsHandleAtPlaceAlone(HANDLE handle, const char *path) {
  DWORD names = 0;
  return HandleLeadsTo(handle, path, &names) && names <= 1;
}

// The object at path, if it is there (found): whether it is at its place;
// absent when it is not there, unknown when the look failed.
static PlaceLook LookAtPresent(const char *path, bool *found) {
  OwnedHandle handle(OpenForLook(path, FILE_FLAG_OPEN_REPARSE_POINT));
  *found = handle.valid();
  if (!handle.valid())
    return MeansNotFound(GetLastError()) ? kPlaceAbsent : kPlaceUnknown;
  return IsHandleAtPlace(handle.get(), path) ? kPlacePlain : kPlaceLinked;
}

// Whether folder, a folder on the way to path, is the root path is judged in.
static bool IsRootItself(const char *path, const char *folder) {
  const char *relative = nullptr;
  const char *root = RootOf(path, &relative);
  if (root == nullptr)
    return true;
  std::string trimmed = root;
  while (trimmed.size() > 1 && EndsWithSeparator(trimmed.c_str()))
    trimmed.pop_back();
  return std::strlen(folder) <= trimmed.size();
}

PlaceLook LookAtPlace(const char *path) {
  const char *relative = nullptr;
  if (RootOf(path, &relative) == nullptr)
    return kPlaceLinked;
  bool found = false;
  PlaceLook look = LookAtPresent(path, &found);
  if (look != kPlaceAbsent)
    return look;
  // Not there: the deepest folder on its way that is there must be at its
  // place, or a create would land elsewhere.
  char folder[kPathBytes];
  if (CopyText(folder, sizeof folder, path) != 0)
    return kPlaceUnknown;
  for (;;) {
    long separator = FindLastSeparator(folder);
    if (separator < 0)
      return kPlaceUnknown;
    folder[separator] = '\0';
    if (IsRootItself(path, folder))
      return kPlaceAbsent; // up to the data directory itself
    look = LookAtPresent(folder, &found);
    if (found || look == kPlaceUnknown)
      return look == kPlacePlain ? kPlaceAbsent : look;
  }
}

// The last error a refused act leaves: what CreateFileA gives for a file it
// may not touch.
static bool Refuse() {
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

HANDLE CreateFileAtPlace(const char *path, DWORD access, DWORD share) {
  HANDLE file = CreateFileA(path, access | DELETE, share, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || IsHandleAtPlace(file, path))
    return file;
  // Landed elsewhere: the file is new and empty, and goes at once, through
  // its handle (FILE_DISPOSITION_INFO of FileDispositionInfo, class 4).
  enum { kFileDispositionInfo = 4 };
  struct {
    BOOLEAN delete_file;
  } disposition = {TRUE};
  typedef BOOL(WINAPI * SetInformationFunction)(HANDLE, int, LPVOID, DWORD);
  static const SetInformationFunction set_information = reinterpret_cast<SetInformationFunction>(
      reinterpret_cast<void *>(Kernel32Function("SetFileInformationByHandle")));
  if (set_information != nullptr)
    set_information(file, kFileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file);
  Refuse();
  return INVALID_HANDLE_VALUE;
}

HANDLE OpenFileAtPlace(const char *path, DWORD access, DWORD share) {
  HANDLE file = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE || IsHandleAtPlace(file, path))
    return file;
  CloseHandle(file);
  Refuse();
  return INVALID_HANDLE_VALUE;
}

bool CreateFolderAtPlace(const char *path) {
  if (LookAtPlace(path) != kPlaceAbsent)
    return LookForFile(path) == kFilePresent ? (SetLastError(ERROR_ALREADY_EXISTS), false) : Refuse();
  if (!CreateDirectoryA(path, nullptr))
    return false;
  if (LookAtPlace(path) == kPlacePlain)
    return true;
  // Made elsewhere after the look: it is empty and goes.
  RemoveDirectoryA(path);
  return Refuse();
}

bool RemoveFolderAtPlace(const char *path) {
  return LookAtPlace(path) == kPlacePlain ? RemoveDirectoryA(path) : Refuse();
}

bool DeleteAtPlace(const char *path) {
  switch (LookAtPlace(path)) {
  case kPlaceAbsent:
    return true;
  case kPlacePlain:
    return DeleteFileA(path) || LookForFile(path) == kFileAbsent;
  default:
    return Refuse();
  }
}

// Whether two paths name entries of one folder.
static bool InOneFolder(const char *a, const char *b) {
  long separator = FindLastSeparator(a);
  return separator >= 0 && separator == FindLastSeparator(b) && std::strncmp(a, b, static_cast<size_t>(separator)) == 0;
}

bool MoveAtPlace(const char *from, const char *to, bool replace) {
  if (LookAtPlace(from) != kPlacePlain)
    return Refuse();
  // Beside a file just found at its place, a name that is not there is at its
  // place too: its folder is the one just looked through.
  FileLook beside = InOneFolder(from, to) ? LookForFile(to) : kFileUnknown;
  PlaceLook target = beside == kFileAbsent ? kPlaceAbsent : LookAtPlace(to);
  if (target != kPlaceAbsent && !(replace && target == kPlacePlain))
    return target == kPlacePlain ? (SetLastError(ERROR_ALREADY_EXISTS), false) : Refuse();
  return replace ? MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
                 : MoveFileA(from, to) != 0;
}

void TrustNoRedirection() {
  // PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY, EnforceRedirectionTrust;
  // the policy's number in PROCESS_MITIGATION_POLICY.
  enum { kRedirectionTrustPolicy = 16 };
  DWORD flags = 1;
  MitigationFunction set_policy =
      reinterpret_cast<MitigationFunction>(reinterpret_cast<void *>(Kernel32Function("SetProcessMitigationPolicy")));
  if (set_policy != nullptr)
    set_policy(kRedirectionTrustPolicy, &flags, sizeof flags);
}

void ResetConfinementState() {
  sOwnFolder[0] = '\0';
  sRootKnown = false;
  sRootSpelling[0] = '\0';
  sRootFinal[0] = '\0';
}
