// The walks scripts/check-shipped.sh takes the shipped update.exe through:
// an install that finishes, a cancel that rolls back, a refused package, a
// branded copy with signed and unsigned packages and a killed run settled by
// the next start. This driver is built for the
// tested Windows tree (64-bit where the host can't run 32-bit code) and
// drives the program named by UPD_SHIPPED_PROGRAM, which may be the 32-bit
// one under an emulator: each walk starts it once, and every wait allows for
// the minute such a start can take.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "e2e_support.h"
#include "list_bytes.h"
#include "common/ecdsa.h"
#include "package_bytes.h"
#include "tools/mkupdate/brand.h"
#include "ui/resources/resource_ids.h"

namespace {

const char kCancelled[] = "インストールを中止しました。";

// How long a window of the shipped program may take to show (seconds in
// UPD_SHIPPED_WAIT_S, 300 when unset).
DWORD ShippedWaitMs() {
  const char *seconds = std::getenv("UPD_SHIPPED_WAIT_S");
  long value = seconds ? std::strtol(seconds, nullptr, 10) : 0;
  return static_cast<DWORD>(value > 0 ? value : 300) * 1000;
}

std::string ShippedProgram() {
  const char *path = std::getenv("UPD_SHIPPED_PROGRAM");
  return path ? path : "";
}

uint64_t SizeOf(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return 0;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

struct ShippedWalk : InstallRun {
  void SetUp() override {
    ASSERT_FALSE(ShippedProgram().empty()) << "UPD_SHIPPED_PROGRAM names no program";
    ASSERT_TRUE(FileExists(ShippedProgram())) << ShippedProgram();
  }
  // Puts the shipped program in place of the build tree's copy.
  void UseShipped() {
    ASSERT_TRUE(CopyFileA(ShippedProgram().c_str(), (install.program + "\\update.exe").c_str(), FALSE));
  }
  // The next box of the process, read; nullptr box when none showed.
  MessageBoxView ReadNextBox(DWORD pid, HWND *box) {
    *box = WaitForBox(pid, ShippedWaitMs());
    EXPECT_NE(nullptr, *box) << "no message box";
    return *box ? ReadMessageBox(*box) : MessageBoxView();
  }
  void Answer(HWND box, int button) {
    PressButton(box, button);
    EXPECT_TRUE(WaitForWindowGone(box, ShippedWaitMs()));
  }
  void ExpectEndsCleanly(Process &process) {
    EXPECT_EQ(0u, WaitForExit(process, ShippedWaitMs()));
    KillProcess(process);
  }
  // Starts the shipped program and presses start on its confirmation.
  Process StartAndPressStart() {
    Process process = StartUpdate(install);
    HWND confirm = WaitForConfirm(process.pid, ShippedWaitMs());
    EXPECT_NE(nullptr, confirm) << "no confirmation";
    if (confirm)
      PressButton(confirm, IDOK);
    return process;
  }
};

TEST_F(ShippedWalk, InstallCreatesAndReplacesFilesAndFinishes) {
  UseShipped();
  install.AddGameFile("a.bin", "old a");
  install.AddGameFile("keep.txt", "untouched");
  std::string old_list = ListEntry("F", Game("a.bin")) + ListEntry("F", Game("keep.txt"));
  install.AddGameFile("uinst.dat", old_list + kListEnd);
  install.MakePackage(SamplePackageFiles());
  Process process = StartAndPressStart();
  HWND box = nullptr;
  MessageBoxView done = ReadNextBox(process.pid, &box);
  EXPECT_EQ(kFinished, done.text);
  EXPECT_EQ(kIconInformation, done.icon);
  if (box)
    Answer(box, IDOK);
  ExpectEndsCleanly(process);
  EXPECT_EQ(SampleRunInstalled(install, old_list), install.Snapshot());
}

TEST_F(ShippedWalk, CancelDuringTheCopyRollsBack) {
  UseShipped();
  install.AddGameWithList({{"a.bin", "old a"}, {"keep.txt", "kept"}});
  // Many small entries after the large one keep the copy going while the
  // question is asked.
  std::map<std::string, std::string> package = {{"a.bin", "new a"}, {"big\\large.bin", PatternBytes(8 << 20, 9)}};
  for (int i = 0; i < 300; ++i)
    package["late\\" + std::to_string(i) + ".txt"] = "late " + std::to_string(i);
  install.MakePackage(package);
  auto before = install.Snapshot();
  Process process = StartAndPressStart();
  HWND progress = WaitForDialogWithControl(process.pid, kWindowTitle, IDC_PROGRESS_BAR, ShippedWaitMs());
  ASSERT_NE(nullptr, progress);
  for (DWORD start = GetTickCount(); !FileExists(Game("big\\large.bin")) && GetTickCount() - start < ShippedWaitMs();)
    Sleep(5);
  PressButton(progress, IDCANCEL);
  HWND box = nullptr;
  EXPECT_EQ(kCancelQuestion, ReadNextBox(process.pid, &box).text);
  ASSERT_NE(nullptr, box);
  Answer(box, IDYES);
  MessageBoxView last = ReadNextBox(process.pid, &box);
  EXPECT_EQ(kCancelled, last.text);
  if (box)
    Answer(box, IDOK);
  ExpectEndsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
}

TEST_F(ShippedWalk, ARefusedPackageChangesNothing) {
  UseShipped();
  install.AddGameWithList({{"a.txt", "old"}});
  install.WriteRawPackage("abc" + EntryRecord("..\\a.txt", 3, 0) + Trailer(3, 1));
  auto before = install.Snapshot();
  Process process = StartUpdate(install);
  HWND box = nullptr;
  EXPECT_EQ(kPackageUnreadable, ReadNextBox(process.pid, &box).text);
  if (box)
    Answer(box, IDOK);
  ExpectEndsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
}

// The shipped program branded with a key: an unsigned package is refused,
// the one signed with the key installed, its data hashed on the way.
TEST_F(ShippedWalk, ABrandedCopyRefusesAnUnsignedPackageAndInstallsASignedOne) {
  UseShipped();
  SigningKey key;
  ASSERT_TRUE(GenerateEcdsaKey(key.private_key, key.public_key));
  std::string program = ReadBytes(install.program + "\\update.exe");
  ASSERT_EQ(kBrandOk, BrandProgram(&program, key.public_key));
  WriteBytes(install.program + "\\update.exe", program);
  install.AddGameWithList({{"a.bin", "old a"}});
  std::vector<PackageItem> items = {{"a.bin", "new a"}, {"big.bin", PatternBytes(6 << 20, 3)}};
  install.WriteRawPackage(PackageBytesWithDataCheck(items));
  Process refused = StartUpdate(install);
  HWND box = nullptr;
  EXPECT_EQ(WithPath(kPackageUnconfirmed, install.program + "\\UPDATE.DAT"), ReadNextBox(refused.pid, &box).text);
  if (box)
    Answer(box, IDOK);
  ExpectEndsCleanly(refused);
  install.WriteRawPackage(SignedPackageBytes(items, key));
  Process process = StartAndPressStart();
  EXPECT_EQ(kFinished, ReadNextBox(process.pid, &box).text);
  if (box)
    Answer(box, IDOK);
  ExpectEndsCleanly(process);
  EXPECT_EQ(items[1].data, ReadBytes(Game("big.bin")));
}

// The run is killed in the build tree's program (the one the tests run, so
// that only the settling start is of the shipped one): the run record must
// read the same in both builds.
TEST_F(ShippedWalk, AKilledRunIsSettledByTheNextStart) {
  install.AddGameWithList({{"a.bin", "old a"}, {"keep.txt", "kept"}});
  install.MakePackage({{"a.bin", "new a"}, {"big.bin", PatternBytes(48 << 20, 1)}, {"z.bin", "z"}});
  auto before = install.Snapshot();
  {
    Process killed = StartUpdate(install);
    HWND confirm = WaitForConfirm(killed.pid);
    ASSERT_NE(nullptr, confirm);
    PressButton(confirm, IDOK);
    for (DWORD start = GetTickCount();
         !(FileExists(Game("a.bin_old")) && SizeOf(Game("big.bin")) > 0) && GetTickCount() - start < 60000;)
      Sleep(5);
    KillProcess(killed);
  }
  ASSERT_TRUE(FileExists(Game("update.run")));
  UseShipped();
  Process process = StartUpdate(install);
  HWND box = nullptr;
  MessageBoxView view = ReadNextBox(process.pid, &box);
  EXPECT_EQ(WithPath(kUndoQuestion, install.game), view.text); // settling is asked first
  if (box)
    Answer(box, IDYES);
  box = nullptr;
  view = ReadNextBox(process.pid, &box);
  EXPECT_EQ(kRolledBack, view.text);
  EXPECT_EQ(before, install.Snapshot());
  if (box)
    Answer(box, IDOK);
  HWND confirm = WaitForConfirm(process.pid, ShippedWaitMs());
  ASSERT_NE(nullptr, confirm);
  PressButton(confirm, IDCANCEL);
  ExpectEndsCleanly(process);
  EXPECT_FALSE(FileExists(Game("update.run")));
}

} // namespace
