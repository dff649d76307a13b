// Signed packages through the real update.exe: a copy that carries its
// publisher's key installs what that key signed and refuses everything
// else before any change; a copy without a key installs signed packages as
// it does unsigned ones.
#include <gtest/gtest.h>

#include <windows.h>
// After windows.h, which it needs.
#include <imagehlp.h>

#include <cstring>

#include "common/ecdsa.h"
#include "e2e_support.h"
#include "list_bytes.h"
#include "package_bytes.h"
#include "tools/mkupdate/brand.h"
#include "ui/resources/resource_ids.h"

namespace {

SigningKey NewKey() {
  SigningKey key;
  EXPECT_TRUE(GenerateEcdsaKey(key.private_key, key.public_key));
  return key;
}

std::vector<PackageItem> Items(const std::map<std::string, std::string> &files) {
  std::vector<PackageItem> items;
  for (const auto &file : files)
    items.push_back({file.first, file.second});
  return items;
}

std::string Flipped(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 1);
  return bytes;
}

// The sample game, and a copy of update.exe that carries publisher's key.
struct SignedRun : InstallRun {
  SigningKey publisher = NewKey();
  std::string old_list;
  void SetUp() override {
    install.AddGameFile("a.bin", "old a");
    install.AddGameFile("keep.txt", "untouched");
    old_list = ListEntry("F", Game("a.bin")) + ListEntry("F", Game("keep.txt"));
    install.AddGameFile("uinst.dat", old_list + kListEnd);
  }
  void Brand() {
    std::string path = install.program + "\\update.exe", program = ReadBytes(path);
    ASSERT_EQ(kBrandOk, BrandProgram(&program, publisher.public_key));
    WriteBytes(path, program);
  }
  std::string PackagePath() const { return install.program + "\\UPDATE.DAT"; }
};

TEST_F(SignedRun, ABrandedOrPlainProgramInstallsThePublishersPackage) {
  for (bool branded : {false, true}) {
    SCOPED_TRACE(branded ? "branded" : "plain");
    if (branded)
      Brand();
    install.WriteRawPackage(SignedPackageBytes(Items(SamplePackageFiles()), publisher));
    EXPECT_EQ(kFinished, RunToTheEnd(install).text);
    EXPECT_EQ(SampleRunInstalled(install, old_list), install.Snapshot());
    // The next round starts from the game as it was.
    install.AddGameFile("a.bin", "old a");
    DeleteFileA(Game("new.txt").c_str());
    DeleteFileA(Game("sub\\x.bin").c_str());
    RemoveDirectoryA(Game("sub").c_str());
    install.AddGameFile("uinst.dat", old_list + kListEnd);
  }
}

TEST_F(SignedRun, BrandingWritesOnlyTheKeyAndTheHeaderChecksum) {
  std::string shipped = ReadBytes(install.program + "\\update.exe"), program = shipped;
  unsigned char key[kPublisherKeyBytes];
  bool carries = true;
  ASSERT_EQ(kBrandOk, ReadProgramKey(shipped, key, &carries));
  EXPECT_FALSE(carries);
  ASSERT_EQ(kBrandOk, BrandProgram(&program, publisher.public_key));
  // Windows' own reckoning of the header checksum agrees with the one written.
  DWORD in_header = 0, reckoned = 0;
  ASSERT_NE(nullptr, CheckSumMappedFile(&program[0], static_cast<DWORD>(program.size()), &in_header, &reckoned));
  EXPECT_EQ(reckoned, in_header);
  ASSERT_EQ(kBrandOk, ReadProgramKey(program, key, &carries));
  EXPECT_TRUE(carries);
  EXPECT_EQ(0, std::memcmp(key, publisher.public_key, sizeof key));
  // The empty slot's zeros again give back the linker's own checksum.
  const unsigned char none[kPublisherKeyBytes] = {};
  ASSERT_EQ(kBrandOk, BrandProgram(&program, none));
  EXPECT_EQ(shipped, program);
}

TEST_F(SignedRun, ABrandedProgramRefusesEveryOtherPackageBeforeAnyChange) {
  Brand();
  std::vector<PackageItem> items = Items({{"a.bin", "new a"}, {"new.txt", "hello"}});
  std::string signed_bytes = SignedPackageBytes(items, publisher);
  size_t block = 10, directory = block + SignatureBlockBytes(2), trailer = signed_bytes.size() - kTrailerBytes;
  struct Refused {
    const char *what;
    std::string bytes;
  } refused[] = {
      {"unsigned", PackageBytesWithDataCheck(items)},
      {"signed with another key", SignedPackageBytes(items, NewKey())},
      {"the block's magic", Flipped(signed_bytes, block)},
      {"the block's count", Flipped(signed_bytes, block + 8)},
      {"the key it names", Flipped(signed_bytes, block + 12)},
      {"a signed data hash", Flipped(signed_bytes, block + 44)},
      {"the signature", Flipped(signed_bytes, directory - 1)},
      {"a name in the directory", Flipped(signed_bytes, directory + 1)},
      {"the data check block", Flipped(signed_bytes, trailer - 1)},
      {"the trailer's offset", Flipped(signed_bytes, trailer + 4)},
      {"the trailer's count", Flipped(signed_bytes, trailer + 8)},
  };
  auto before = install.Snapshot();
  for (const Refused &package : refused) {
    SCOPED_TRACE(package.what);
    install.WriteRawPackage(package.bytes);
    Process process = StartUpdate(install);
    MessageBoxView box = AnswerBox(process.pid);
    EXPECT_EQ(WithPath(kPackageUnconfirmed, PackagePath()), box.text);
    EXPECT_EQ(kIconWarning, box.icon);
    ExpectExitsCleanly(process);
    EXPECT_EQ(before, install.Snapshot());
  }
}

// The data check is left out, so that only the signed hashes can tell the
// swapped bytes from the publisher's.
TEST_F(SignedRun, APackageSwappedWhileTheConfirmationIsUpFailsItsEntryAndIsRolledBack) {
  Brand();
  std::vector<PackageItem> items = Items({{"a.bin", "new a"}, {"new.txt", "hello"}});
  install.WriteRawPackage(SignedPackageBytes(items, publisher, false));
  auto before = install.Snapshot();
  Process process = StartUpdate(install);
  HWND confirm = WaitForConfirm(process.pid);
  ASSERT_NE(nullptr, confirm);
  install.WriteRawPackage(PackageBytes(Items({{"a.bin", "evil!"}, {"new.txt", "hello"}})));
  PressButton(confirm, IDOK);
  EXPECT_EQ(kFailedWriting + WithPath(kCopyFailed, Game("a.bin")), AnswerBox(process.pid).text);
  ExpectExitsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
}

} // namespace
