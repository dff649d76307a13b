// Reading and rewriting uinst.dat on real files under Wine: the created
// paths, the one message pump, and failures that must keep the old list.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/run_state.h"
#include "journal/journal.h"
#include "journal/uninstall_list_win32.h"
#include "ui/progress_dialog_win32.h"
#include "list_bytes.h"
#include "test_support.h"

namespace {

const std::vector<std::string> kOnlyTheList = {"uinst.dat"};

// The folder's names once the run has settled: the copy of the old list the
// save keeps until then is gone.
std::vector<std::string> NamesOnceSettled(const std::string &folder) {
  EXPECT_EQ(0, DeleteKeptList());
  return FolderNames(folder);
}

class UninstallList : public ::testing::Test {
protected:
  TempDir dir;
  std::string list_path;

  void SetUp() override {
    ResetProgramState();
    UseTarget(dir.path);
  }
  void TearDown() override { ResetProgramState(); }

  void UseTarget(const std::string &folder) {
    ASSERT_LT(folder.size(), sizeof TARGETDIR);
    std::memcpy(TARGETDIR, folder.c_str(), folder.size() + 1);
    list_path = folder + "\\uinst.dat";
  }

  std::string Path(const std::string &name) const { return dir.path + "\\" + name; }

  void ExpectNoFailure() {
    EXPECT_EQ(kStatusRunning, InstallStatus);
    EXPECT_STREQ("", ErrorDetail);
  }

  void ExpectWriteFailure(const std::string &message) {
    EXPECT_EQ(kStatusFailed, InstallStatus);
    EXPECT_EQ(kErrorKindWriting, ErrorKind);
    EXPECT_EQ("\"" + list_path + "\"" + message, std::string(ErrorDetail));
  }
};

TEST_F(UninstallList, AddsTheCreatedPathsToAnEmptyList) {
  ASSERT_TRUE(WriteBytes(list_path, ""));
  ASSERT_EQ(0, LoadUninstallList());
  EXPECT_EQ(0, UninstallEntryCount());
  JournalAppend("F", Path("a.bin").c_str(), kJournalReplaced);
  JournalAppend("D", Path("sub").c_str(), kJournalCreated);
  JournalAppend("F", Path("sub\\b.bin").c_str(), kJournalCreated);

  EXPECT_EQ(0, SaveUninstallList(nullptr));

  ExpectNoFailure();
  EXPECT_EQ(ListEntry("D", Path("sub")) + ListEntry("F", Path("sub\\b.bin")) + kListEnd, ReadBytes(list_path));
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(dir.path));
}

TEST_F(UninstallList, KeepsLoadedEntriesFirstAndAddsOnlyNewTexts) {
  std::string loaded = ListEntry("F", Path("a.bin")) + ListEntry("D", Path("old")) + ListEntry("F", Path("a.bin")) +
                       ListEntry("X", Path("odd")) + kListEnd + "Fjunk after the end";
  ASSERT_TRUE(WriteBytes(list_path, loaded));
  ASSERT_EQ(0, LoadUninstallList());
  EXPECT_EQ(3, UninstallEntryCount());
  JournalAppend("F", Path("a.bin").c_str(), kJournalCreated); // listed already
  JournalAppend("F", Path("A.bin").c_str(), kJournalCreated); // differs in case
  JournalAppend("D", Path("a.bin").c_str(), kJournalCreated); // differs in kind
  JournalAppend("F", Path("new.bin").c_str(), kJournalCreated);

  SaveUninstallList(nullptr);

  ExpectNoFailure();
  EXPECT_EQ(ListEntry("F", Path("a.bin")) + ListEntry("D", Path("old")) + ListEntry("X", Path("odd")) +
                ListEntry("F", Path("A.bin")) + ListEntry("D", Path("a.bin")) + ListEntry("F", Path("new.bin")) +
                kListEnd,
            ReadBytes(list_path));
}

TEST_F(UninstallList, RunThatOnlyReplacedFilesRewritesTheListWithoutDuplicates) {
  // More entries than a first store holds, one longer than a path buffer.
  std::string unique;
  for (int n = 0; n < 20500; ++n)
    unique += ListEntry("F", Path("data\\file" + std::to_string(n) + ".bin"));
  unique += ListEntry("D", Path(std::string(2000, 'd')));
  std::string duplicates = ListEntry("F", Path("data\\file7.bin")) + ListEntry("F", Path("data\\file20499.bin"));
  ASSERT_TRUE(WriteBytes(list_path, unique + duplicates + kListEnd + "Djunk"));
  ASSERT_EQ(0, LoadUninstallList());
  EXPECT_EQ(20501, UninstallEntryCount());
  JournalAppend("F", Path("data\\file7.bin").c_str(), kJournalReplaced);
  JournalAppend("F", Path("data\\file8.bin").c_str(), kJournalReplaced);

  SaveUninstallList(nullptr);

  ExpectNoFailure();
  EXPECT_TRUE(ReadBytes(list_path) == unique + kListEnd);
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(dir.path));
}

TEST_F(UninstallList, EmptyJournalLeavesTheFileUntouched) {
  std::string loaded = ListEntry("F", Path("a.bin")) + kListEnd + "junk";
  ASSERT_TRUE(WriteBytes(list_path, loaded));
  ASSERT_EQ(0, LoadUninstallList());
  SaveUninstallList(nullptr);
  ExpectNoFailure();
  EXPECT_EQ(loaded, ReadBytes(list_path));
}

TEST_F(UninstallList, LoadFailsOnlyWhenTheFileCannotBeRead) {
  EXPECT_EQ(-1, LoadUninstallList());
  EXPECT_EQ(0, FileSizeOf(list_path.c_str()));
  ASSERT_TRUE(WriteBytes(list_path, ListEntry("F", "x")));
  EXPECT_EQ(3, FileSizeOf(list_path.c_str()));
  // The folder may end in a separator.
  UseTarget(dir.path + "\\");
  EXPECT_EQ(0, LoadUninstallList());
  EXPECT_EQ(1, UninstallEntryCount());
  // A folder named like the list can't be read as one.
  ResetProgramState();
  UseTarget(dir.path);
  ASSERT_TRUE(DeleteFileA(list_path.c_str()));
  ASSERT_TRUE(CreateDirectoryA(list_path.c_str(), nullptr));
  EXPECT_EQ(-1, LoadUninstallList());
}

TEST_F(UninstallList, FolderEndingInTheTrailByteOfADoubleByteCharacter) {
  // The last byte of "ソ" is 0x5C, the value of a separator, yet it is none.
  std::string folder = Path("ソ");
  ASSERT_EQ('\\', folder.back());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  UseTarget(folder);
  ASSERT_TRUE(WriteBytes(list_path, ListEntry("F", "x") + kListEnd));
  ASSERT_EQ(0, LoadUninstallList());
  JournalAppend("F", (folder + "\\y").c_str(), kJournalCreated);
  SaveUninstallList(nullptr);
  ExpectNoFailure();
  EXPECT_EQ(ListEntry("F", "x") + ListEntry("F", folder + "\\y") + kListEnd, ReadBytes(list_path));
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(folder));
}

// A window whose posted message shows what the one pump during the save
// sees: the list held open for writing and still unchanged.
struct PumpProbe {
  static int handled;
  static bool list_was_held;
  static std::string list_seen;
  static std::string list_path;
  static bool cancel;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != WM_APP)
      return DefWindowProcA(window, message, w, l);
    ++handled;
    HANDLE exclusive =
        CreateFileA(list_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    list_was_held = exclusive == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
    if (exclusive != INVALID_HANDLE_VALUE)
      CloseHandle(exclusive);
    list_seen = ReadBytes(list_path);
    if (cancel)
      InstallStatus = kStatusCancelled;
    return 0;
  }

  HWND window = nullptr;
  WindowProgress progress{nullptr};
  explicit PumpProbe(const std::string &path) {
    handled = 0;
    list_was_held = false;
    list_seen.clear();
    list_path = path;
    cancel = false;
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = Procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "UninstallPumpProbe";
    RegisterClassA(&window_class);
    window =
        CreateWindowA("UninstallPumpProbe", "", 0, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    PostMessageA(window, WM_APP, 0, 0);
    progress = WindowProgress(window);
  }
  ~PumpProbe() { DestroyWindow(window); }
};
int PumpProbe::handled;
bool PumpProbe::list_was_held;
std::string PumpProbe::list_seen;
std::string PumpProbe::list_path;
bool PumpProbe::cancel;

TEST_F(UninstallList, PumpsOnceBetweenOpeningAndWriting) {
  std::string loaded = ListEntry("F", Path("a.bin"));
  ASSERT_TRUE(WriteBytes(list_path, loaded));
  ASSERT_EQ(0, LoadUninstallList());
  JournalAppend("F", Path("b.bin").c_str(), kJournalCreated);
  PumpProbe probe(list_path);
  ASSERT_NE(nullptr, probe.window);

  SaveUninstallList(&probe.progress);

  EXPECT_EQ(1, PumpProbe::handled);
  EXPECT_TRUE(PumpProbe::list_was_held);
  EXPECT_EQ(loaded, PumpProbe::list_seen);
  ExpectNoFailure();
  EXPECT_EQ(loaded + ListEntry("F", Path("b.bin")) + kListEnd, ReadBytes(list_path));
}

// The run is rolled back after a cancel: the list must not name the files
// the rollback removes.
TEST_F(UninstallList, CancelDuringThePumpKeepsTheOldList) {
  ASSERT_TRUE(WriteBytes(list_path, ""));
  ASSERT_EQ(0, LoadUninstallList());
  JournalAppend("F", Path("b.bin").c_str(), kJournalCreated);
  PumpProbe probe(list_path);
  PumpProbe::cancel = true;

  SaveUninstallList(&probe.progress);

  EXPECT_EQ(kStatusCancelled, InstallStatus);
  EXPECT_EQ("", ReadBytes(list_path));
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(dir.path));
}

TEST_F(UninstallList, ReadOnlyListFailsBeforeAnythingIsWritten) {
  SKIP_UNLESS_ROOT("makes the list immutable");
  std::string loaded = ListEntry("F", Path("a.bin")) + kListEnd;
  ASSERT_TRUE(WriteBytes(list_path, loaded));
  ASSERT_EQ(0, LoadUninstallList());
  JournalAppend("F", Path("b.bin").c_str(), kJournalCreated);
  ASSERT_TRUE(SetImmutable(list_path, true));
  PumpProbe probe(list_path);

  SaveUninstallList(&probe.progress);

  SetImmutable(list_path, false);
  ExpectWriteFailure("を作成できません。");
  EXPECT_EQ(0, PumpProbe::handled);
  EXPECT_EQ(loaded, ReadBytes(list_path));
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(dir.path));
}

TEST_F(UninstallList, WriteThatRunsOutOfSpaceKeepsTheOldList) {
  SKIP_UNLESS_ROOT("mounts a small drive");
  SmallDrive drive(Path("small"), 256);
  ASSERT_TRUE(drive.mounted);
  UseTarget(drive.folder);
  // About 130 KiB loaded and as much created: the old list fits, the new one
  // does not fit beside it, so the write fails after its first blocks.
  std::string loaded;
  for (int n = 0; n < 700; ++n)
    loaded += ListEntry("F", drive.folder + "\\old_" + std::string(150, 'o') + std::to_string(n));
  loaded += kListEnd;
  ASSERT_TRUE(WriteBytes(list_path, loaded));
  ASSERT_EQ(0, LoadUninstallList());
  for (int n = 0; n < 700; ++n)
    JournalAppend("F", (drive.folder + "\\new_" + std::string(150, 'n') + std::to_string(n)).c_str(), kJournalCreated);

  SaveUninstallList(nullptr);

  ExpectWriteFailure("に書き込めません。");
  EXPECT_TRUE(ReadBytes(list_path) == loaded);
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(drive.folder));
}

// Another program holds the list open against replacing it (no delete
// sharing) but lets it be written: the complete new list is copied in place.
TEST_F(UninstallList, ListHeldOpenByAnotherProgramIsRewrittenInPlace) {
  std::string loaded = ListEntry("F", Path("a.bin")) + kListEnd;
  ASSERT_TRUE(WriteBytes(list_path, loaded));
  ASSERT_EQ(0, LoadUninstallList());
  JournalAppend("F", Path("b.bin").c_str(), kJournalCreated);
  Process holder = StartFileHolder(list_path);
  ASSERT_NE(nullptr, holder.handle);

  SaveUninstallList(nullptr);

  KillProcess(holder);
  EXPECT_EQ(kStatusRunning, InstallStatus);
  EXPECT_EQ(ListEntry("F", Path("a.bin")) + ListEntry("F", Path("b.bin")) + kListEnd, ReadBytes(list_path));
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(dir.path));
}

// Held open as above, on a drive that runs out while the list grows in
// place: the old list comes back whole from the copy taken beside it.
TEST_F(UninstallList, AnInPlaceRewriteCutShortPutsTheOldListBack) {
  SKIP_UNLESS_ROOT("mounts a small drive");
  SmallDrive drive(Path("small"), 256);
  ASSERT_TRUE(drive.mounted);
  UseTarget(drive.folder);
  // About 42 KiB loaded, 127 KiB new: the new list and a copy of the old one
  // fit beside it, the list grown to the new size in place does not.
  std::string loaded;
  for (int n = 0; n < 250; ++n)
    loaded += ListEntry("F", drive.folder + "\\old_" + std::string(150, 'o') + std::to_string(n));
  loaded += kListEnd;
  ASSERT_TRUE(WriteBytes(list_path, loaded));
  ASSERT_EQ(0, LoadUninstallList());
  for (int n = 0; n < 500; ++n)
    JournalAppend("F", (drive.folder + "\\new_" + std::string(150, 'n') + std::to_string(n)).c_str(), kJournalCreated);
  Process holder = StartFileHolder(list_path);
  ASSERT_NE(nullptr, holder.handle);

  SaveUninstallList(nullptr);

  KillProcess(holder);
  ExpectWriteFailure("に書き込めません。");
  EXPECT_TRUE(ReadBytes(list_path) == loaded);
  EXPECT_EQ(kOnlyTheList, NamesOnceSettled(drive.folder));
}

} // namespace
