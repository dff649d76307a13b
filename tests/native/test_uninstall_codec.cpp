// The uninstall list codec: parsing a file's bytes, the duplicate test and
// writing the list back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal/uninstall_codec.h"

namespace {

const std::string kSample("DC:\\G\\sub\0FC:\\G\\sub\\b.bin\0\0", 27);

struct List {
  UninstallEntries entries = {};
  ~List() { ClearUninstallEntries(&entries); }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (int32_t n = 0; n < entries.count; ++n)
      texts.push_back(entries.entries[n].text);
    return texts;
  }
};

int AppendToString(void *context, const void *bytes, size_t count) {
  static_cast<std::string *>(context)->append(static_cast<const char *>(bytes), count);
  return 0;
}

std::string Written(const List &list) {
  std::string out;
  EXPECT_EQ(0, WriteUninstallEntries(&list.entries, AppendToString, &out));
  return out;
}

std::string Parsed(const std::string &bytes) {
  List list;
  EXPECT_EQ(0, ParseUninstallBytes(&list.entries, bytes.data(), bytes.size()));
  return Written(list);
}

std::vector<std::string> ParsedTexts(const std::string &bytes) {
  List list;
  EXPECT_EQ(0, ParseUninstallBytes(&list.entries, bytes.data(), bytes.size()));
  return list.Texts();
}

using Texts = std::vector<std::string>;

TEST(UninstallCodec, WritesTheSampleOfTwentySevenBytes) {
  List list;
  EXPECT_EQ(1, AddEntryText(&list.entries, "D", "C:\\G\\sub"));
  EXPECT_EQ(1, AddEntryText(&list.entries, "F", "C:\\G\\sub\\b.bin"));
  EXPECT_EQ(kSample, Written(list));
  EXPECT_EQ(kSample, Parsed(kSample));
  EXPECT_EQ((Texts{"DC:\\G\\sub", "FC:\\G\\sub\\b.bin"}), ParsedTexts(kSample));
}

TEST(UninstallCodec, EmptyListIsOneZeroByte) {
  List list;
  EXPECT_EQ(std::string(1, '\0'), Written(list));
  EXPECT_TRUE(ParsedTexts("").empty());
  EXPECT_TRUE(ParsedTexts(std::string(1, '\0')).empty());
}

TEST(UninstallCodec, ReadsToTheEndWithoutTerminatorOrEndMarker) {
  EXPECT_EQ((Texts{"Fa", "Fb"}), ParsedTexts(std::string("Fa\0Fb", 5)));
  EXPECT_EQ((Texts{"Fa", "Fb"}), ParsedTexts(std::string("Fa\0Fb\0", 6)));
  // A lone kind byte at the very end is an entry of its own.
  EXPECT_EQ((Texts{"Fa", "D"}), ParsedTexts(std::string("Fa\0D", 4)));
  EXPECT_EQ(std::string("Fa\0Fb\0\0", 7), Parsed(std::string("Fa\0Fb", 5)));
}

TEST(UninstallCodec, IgnoresBytesAfterTheEndMarker) {
  EXPECT_EQ(kSample, Parsed(kSample + "Fjunk" + std::string(1, '\0') + "Dmore"));
  EXPECT_TRUE(ParsedTexts(std::string("\0Fa\0", 4)).empty());
}

TEST(UninstallCodec, CarriesAnyKindByteOverUnchanged) {
  const std::string odd("X\\a\0\x83\\b\0\x01\0\0", 11);
  EXPECT_EQ((Texts{"X\\a", "\x83\\b", "\x01"}), ParsedTexts(odd));
  EXPECT_EQ(odd, Parsed(odd));
}

TEST(UninstallCodec, DropsDuplicatesAtTheirFirstAppearance) {
  EXPECT_EQ(std::string("Fa\0Fb\0Fc\0\0", 10), Parsed(std::string("Fa\0Fb\0Fa\0Fc\0Fb\0\0", 16)));
  List list;
  EXPECT_EQ(1, AddEntryText(&list.entries, "F", "C:\\G\\a.bin"));
  EXPECT_EQ(0, AddEntryText(&list.entries, "F", "C:\\G\\a.bin"));
  EXPECT_EQ(1, list.entries.count);
}

TEST(UninstallCodec, CaseAndKindLetterMakeEntriesDifferent) {
  List list;
  EXPECT_EQ(1, AddEntryText(&list.entries, "F", "C:\\G\\a.bin"));
  EXPECT_EQ(1, AddEntryText(&list.entries, "F", "C:\\G\\A.bin"));
  EXPECT_EQ(1, AddEntryText(&list.entries, "D", "C:\\G\\a.bin"));
  // The kind letter is part of the text: "F" + "Fx" is not "FF" + "x".
  EXPECT_EQ(1, AddEntryText(&list.entries, "F", "Fx"));
  EXPECT_EQ(0, AddEntryText(&list.entries, "FF", "x"));
  EXPECT_EQ((Texts{"FC:\\G\\a.bin", "FC:\\G\\A.bin", "DC:\\G\\a.bin", "FFx"}), list.Texts());
}

TEST(UninstallCodec, TakesEntriesLongerThanAnyWorkingBuffer) {
  for (size_t length : {1022u, 1023u, 1024u, 100000u}) {
    std::string path(length, 'p');
    std::string file = "F" + path + std::string(1, '\0') + "D" + path + std::string(2, '\0');
    List list;
    ASSERT_EQ(0, ParseUninstallBytes(&list.entries, file.data(), file.size()));
    ASSERT_EQ(2, list.entries.count);
    EXPECT_EQ(length + 1, list.entries.entries[1].length);
    EXPECT_EQ(0, AddEntryText(&list.entries, "F", path.c_str()));
    EXPECT_EQ(file, Written(list));
  }
}

std::string NumberedPath(int n) { return "C:\\G\\data\\file" + std::to_string(n) + ".bin"; }

TEST(UninstallCodec, HoldsMoreThanTwentyThousandEntriesInOrder) {
  const int kEntries = 50000;
  std::string file;
  for (int n = 0; n < kEntries; ++n)
    file += "F" + NumberedPath(n) + std::string(1, '\0');
  file += std::string(1, '\0');
  List list;
  ASSERT_EQ(0, ParseUninstallBytes(&list.entries, file.data(), file.size()));
  ASSERT_EQ(kEntries, list.entries.count);
  // Every path again: all found, none added; then new ones are appended.
  for (int n = 0; n < kEntries; ++n)
    ASSERT_EQ(0, AddEntryText(&list.entries, "F", NumberedPath(n).c_str())) << n;
  for (int n = kEntries; n < kEntries + 10; ++n)
    ASSERT_EQ(1, AddEntryText(&list.entries, "F", NumberedPath(n).c_str())) << n;
  ASSERT_EQ(kEntries + 10, list.entries.count);
  EXPECT_EQ("F" + NumberedPath(20000), list.Texts()[20000]);
  EXPECT_EQ("F" + NumberedPath(kEntries + 9), list.Texts().back());
  std::string expected = file.substr(0, file.size() - 1);
  for (int n = kEntries; n < kEntries + 10; ++n)
    expected += "F" + NumberedPath(n) + std::string(1, '\0');
  EXPECT_EQ(expected + std::string(1, '\0'), Written(list));
}

// A sink that takes a given number of calls, then comes up short.
struct ShortSink {
  int calls_left;
  std::string out;
};

int ShortAfter(void *context, const void *bytes, size_t count) {
  ShortSink *sink = static_cast<ShortSink *>(context);
  if (sink->calls_left-- <= 0)
    return -1;
  sink->out.append(static_cast<const char *>(bytes), count);
  return 0;
}

TEST(UninstallCodec, StopsAtTheFirstShortWrite) {
  List list;
  ASSERT_EQ(0, ParseUninstallBytes(&list.entries, kSample.data(), kSample.size()));
  for (int calls = 0; calls <= 2; ++calls) {
    ShortSink sink{calls, ""};
    EXPECT_EQ(-1, WriteUninstallEntries(&list.entries, ShortAfter, &sink)) << calls;
    // One refused call, none after it.
    EXPECT_EQ(-1, sink.calls_left) << calls;
    EXPECT_EQ(kSample.substr(0, calls == 0 ? 0 : calls == 1 ? 10 : 26), sink.out) << calls;
  }
  ShortSink enough{3, ""};
  EXPECT_EQ(0, WriteUninstallEntries(&list.entries, ShortAfter, &enough));
  EXPECT_EQ(kSample, enough.out);
}

} // namespace
