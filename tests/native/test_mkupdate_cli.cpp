// The mkupdate program itself: its commands, what they print and the exit
// codes docs/publishing.md promises publishers' scripts.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "package_bytes.h"
#include "tools/mkupdate/package_builder.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int exit_code;
  std::string output; // stdout and stderr together
};

std::string Quoted(const std::string &text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs mkupdate with the arguments and waits for it to end.
Outcome RunMkupdate(const std::string &arguments) {
  std::string command = Quoted(MKUPDATE_PROGRAM) + " " + arguments + " 2>&1";
  Outcome outcome{-1, ""};
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return outcome;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
    outcome.output.append(chunk, got);
  int status = pclose(pipe);
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

void WriteFile(const fs::path &path, const std::string &bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

class MkupdateProgram : public ::testing::Test {
protected:
  fs::path root = fs::temp_directory_path() / ("mkupdate_cli_" + std::to_string(getpid()));

  void SetUp() override {
    WriteFile(root / "old/readme.txt", "same");
    WriteFile(root / "old/data/a.bin", "old a");
    WriteFile(root / "old/gone.txt", "g");
    WriteFile(root / "new/readme.txt", "same");
    WriteFile(root / "new/data/a.bin", "new a");
    WriteFile(root / "new/data/b.bin", std::string(3000, 'b'));
    WriteFile(root / "old-style.dat", PackageBytes({{"a.txt", "abc"}}));
    ASSERT_EQ(0, RunMkupdate("build " + P("new") + " -o " + P("full.dat")).exit_code);
    // One data byte of data\b.bin flipped, as on a bad download.
    std::ifstream in(root / "full.dat", std::ios::binary);
    std::string package((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PackageCheck check;
    ASSERT_TRUE(CheckPackage(Path("full.dat"), &check));
    ASSERT_EQ(3u, check.entries.size());
    ASSERT_EQ("data\\b.bin", check.entries[2].name);
    package[check.entries[2].offset + 1000] ^= 0x01;
    WriteFile(root / "damaged.dat", package);
    // Signed, and signed with its signature's last byte flipped.
    for (const char *name : {"pub", "other"})
      ASSERT_EQ(0, RunMkupdate("keygen " + P(name)).exit_code);
    ASSERT_EQ(0, RunMkupdate("build " + P("new") + " -o " + P("signed.dat") + " --sign " + P("pub.key")).exit_code);
    std::ifstream signed_in(root / "signed.dat", std::ios::binary);
    std::string signed_package((std::istreambuf_iterator<char>(signed_in)), std::istreambuf_iterator<char>());
    signed_package[check.entries[2].offset + 3000 + SignatureBlockBytes(3) - 1] ^= 0x01;
    WriteFile(root / "bad-signature.dat", signed_package);
    WriteFile(root / "game/uinst.dat", std::string(1, '\0'));
  }
  void TearDown() override { fs::remove_all(root); }

  std::string Path(const std::string &relative) const { return (root / relative).string(); }
  std::string P(const std::string &relative) const { return Quoted(Path(relative)); } // for the command line
};

TEST_F(MkupdateProgram, CommandsPrintWhatTheyFoundAndExitAsDocumented) {
  struct Case {
    std::string arguments;
    int exit_code;
    const char *must_print; // "" for anything
  } cases[] = {
      {"--help", 0, "--base"},
      {"", 2, "no command"},
      {"build " + P("new"), 2, "-o"},
      {"build --base " + P("old") + " -o " + P("x.dat"), 2, "-o"},
      {"build " + P("new") + " -o " + P("again.dat"), 0, "3 files"},
      {"build " + P("empty") + " -o " + P("x.dat"), 1, "not a folder"},
      {"list " + P("full.dat"), 0, "data check: XXH3-64"},
      {"list " + P("old-style.dat"), 0, "data check: none"},
      {"verify " + P("full.dat"), 0, "data matches its data check"},
      {"verify " + P("old-style.dat"), 0, "no data check"},
      {"verify " + P("damaged.dat"), 1, "entry 2 \"data\\b.bin\": its data does not match"},
      {"verify " + P("missing.dat"), 1, "cannot be opened"},
      {"verify", 2, "exactly one package"},
      {"build --base " + P("old") + " " + P("new") + " -o " + P("changes.dat"), 0, "skipped (unchanged): readme.txt"},
      {"build " + P("new") + " --base " + P("new") + " -o " + P("x.dat"), 1, "nothing to pack"},
      {"build --base " + P("old") + " " + P("new") + " -o " + P("c.dat") + " --sign " + P("pub.key"), 0, "signed by"},
      {"build " + P("new") + " -o " + P("x.dat") + " --sign " + P("pub.pub"), 1, "pub.pub"},
      {"list " + P("signed.dat"), 0, "signature: signed by the key"},
      {"list " + P("full.dat"), 0, "signature: not signed"},
      {"verify " + P("signed.dat"), 0, "give --key"},
      {"verify " + P("signed.dat") + " --key " + P("pub.pub"), 0, "its signature verifies"},
      {"verify " + P("signed.dat") + " --key " + P("other.pub"), 1, ", not by "},
      {"verify " + P("full.dat") + " --key " + P("pub.pub"), 1, "not signed"},
      {"verify " + P("bad-signature.dat") + " --key " + P("pub.pub"), 1, "does not verify"},
      {"check " + P("signed.dat") + " " + P("game") + " --key " + P("pub.pub"), 0, "would install"},
      {"check " + P("full.dat") + " " + P("game") + " --key " + P("pub.pub"), 1, "fail before it changes anything"},
      {"brand --show " + P("full.dat"), 1, "not a Windows program"},
      {"brand " + P("full.dat"), 2, "--show"},
  };
  for (const Case &c : cases) {
    Outcome outcome = RunMkupdate(c.arguments);
    EXPECT_EQ(c.exit_code, outcome.exit_code) << c.arguments << "\n" << outcome.output;
    EXPECT_NE(std::string::npos, outcome.output.find(c.must_print)) << c.arguments << "\n" << outcome.output;
  }
  EXPECT_FALSE(fs::exists(root / "x.dat"));
}

TEST_F(MkupdateProgram, BuildAgainstAnOldFolderSaysWhatItPackedAndSkipped) {
  Outcome outcome = RunMkupdate("build --base " + P("old") + " " + P("new") + " -o " + P("changes.dat"));
  ASSERT_EQ(0, outcome.exit_code) << outcome.output;
  for (const char *line : {"packed (new): data/b.bin\n", "packed (changed): data/a.bin\n",
                           "skipped (unchanged): readme.txt\n", "warning: \"gone.txt\" is in the old folder"})
    EXPECT_NE(std::string::npos, outcome.output.find(line)) << line << "\n" << outcome.output;
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(Path("changes.dat"), &check));
  ASSERT_EQ(2u, check.entries.size());
  EXPECT_EQ("data\\a.bin", check.entries[0].name);
  EXPECT_EQ("data\\b.bin", check.entries[1].name);
}

} // namespace
