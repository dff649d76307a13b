// Hand-made malformed packages through the real update.exe: each one ends
// with the package message, and nothing in the game folder changes.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "list_bytes.h"
#include "package_bytes.h"

namespace {

std::string Entry(const std::string &name, uint32_t size, uint32_t offset) { return EntryRecord(name, size, offset); }

std::string Trailer(uint32_t high, uint32_t low, uint32_t count) {
  return ::Trailer(static_cast<uint64_t>(high) << 32 | low, count);
}

struct Malformed {
  const char *what;
  std::string bytes;
};

std::vector<Malformed> Corpus() {
  std::string data = "abc";
  std::string good_entry = Entry("a.txt", 3, 0);
  std::string good = data + good_entry + Trailer(0, 3, 1);
  return {
      {"eleven bytes", good.substr(good.size() - 11)},
      {"truncated trailer", good.substr(0, good.size() - 1)},
      {"count of zero", data + good_entry + Trailer(0, 3, 0)},
      {"negative count", data + good_entry + Trailer(0, 3, 0xFFFFFFF0u)},
      {"count too large", data + good_entry + Trailer(0, 3, 2)},
      {"huge count", data + good_entry + Trailer(0, 3, 0x7FFFFFFF)},
      {"directory past the end", data + good_entry + Trailer(0, 4000, 1)},
      {"directory beyond 4 GiB", data + good_entry + Trailer(1, 3, 1)},
      {"name length past the end", data + std::string(1, '\xFF') + "a.txt" + Trailer(0, 3, 1)},
      {"parent folder", data + Entry("..\\a.txt", 3, 0) + Trailer(0, 3, 1)},
      {"parent inside", data + Entry("sub\\..\\..\\a.txt", 3, 0) + Trailer(0, 3, 1)},
      {"colon", data + Entry("a.txt:stream", 3, 0) + Trailer(0, 3, 1)},
      {"leading separator", data + Entry("\\Windows\\a.txt", 3, 0) + Trailer(0, 3, 1)},
      {"drive letter", data + Entry("C:\\a.txt", 3, 0) + Trailer(0, 3, 1)},
      {"lead byte before colon", data + Entry("\x8D:a.txt", 3, 0) + Trailer(0, 3, 1)},
      {"empty component", data + Entry("sub\\\\a.txt", 3, 0) + Trailer(0, 3, 1)},
      {"unsafe second entry", data + good_entry + Entry("..\\b.txt", 3, 0) + Trailer(0, 3, 2)},
      {"device name", data + Entry("sub\\con.txt", 3, 0) + Trailer(0, 3, 1)},
      {"trailing dot", data + good_entry + Entry("a.txt.", 3, 0) + Trailer(0, 3, 2)},
      {"a file and its backup name", data + Entry("A.TXT_OLD", 3, 0) + good_entry + Trailer(0, 3, 2)},
  };
}

TEST(MalformedPackages, EachEndsWithThePackageMessageAndChangesNothing) {
  GameInstall install;
  install.AddGameFile("uinst.dat", std::string("Fx\0\0", 4));
  install.AddGameFile("a.txt", "old");
  auto before = install.Snapshot();
  for (const Malformed &package : Corpus()) {
    SCOPED_TRACE(package.what);
    install.WriteRawPackage(package.bytes);
    Process process = StartUpdate(install);
    EXPECT_EQ(kPackageUnreadable, AnswerBox(process.pid).text);
    ExpectExitsCleanly(process);
    EXPECT_EQ(before, install.Snapshot());
  }
}

} // namespace

namespace {

// Valid packages at the edges of the format, as the program must take them.
struct BoundaryPackage : InstallRun {
  void SetUp() override { install.AddGameFile("uinst.dat", kListEnd); }
};

TEST_F(BoundaryPackage, BlobsInAnyOrderSharedBlobsAndEmptyFiles) {
  // Data "CCCBBA": c.bin first, a.bin last; d.bin shares b.bin's blob.
  std::string data = "CCCBBA";
  std::string directory = EntryRecord("a.bin", 1, 5) + EntryRecord("b.bin", 2, 3) + EntryRecord("c.bin", 3, 0) +
                          EntryRecord("d.bin", 2, 3) + EntryRecord("empty.bin", 0, 0);
  install.WriteRawPackage(data + directory + ::Trailer(data.size(), 5));
  EXPECT_EQ(kFinished, RunToTheEnd(install).text);
  auto files = install.Snapshot();
  EXPECT_EQ("A", files["a.bin"]);
  EXPECT_EQ("BB", files["b.bin"]);
  EXPECT_EQ("CCC", files["c.bin"]);
  EXPECT_EQ("BB", files["d.bin"]);
  EXPECT_EQ("", files["empty.bin"]);
  EXPECT_EQ(6u, files.size()); // with uinst.dat
}

TEST_F(BoundaryPackage, A255ByteNameLoadsButCannotBeJoinedAndIsRolledBack) {
  std::string long_name(251, 'n');
  long_name += ".bin";
  install.WriteRawPackage(PackageBytes({{"first.bin", "1"}, {long_name, "x"}}));
  auto before = install.Snapshot();
  EXPECT_EQ(kFailedWriting + WithPath(kCreateFailed, Game(long_name)), RunToTheEnd(install).text);
  EXPECT_EQ(before, install.Snapshot());
}

} // namespace
