// The run record's bytes: what a killed run leaves must decode to exactly the
// records it finished writing, and nothing else may be taken for a record.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "journal/run_record_format.h"

namespace {

using Records = std::vector<std::pair<char, std::string>>;

std::string Encode(const Records &records) {
  std::string bytes = kRunRecordHeader;
  for (const auto &record : records) {
    unsigned char out[300];
    size_t length = EncodeRunRecord(record.first, record.second.c_str(), out, sizeof out);
    EXPECT_NE(0u, length);
    bytes.append(reinterpret_cast<char *>(out), length);
  }
  return bytes;
}

int Collect(void *context, char kind, const char *path, size_t length) {
  static_cast<Records *>(context)->emplace_back(kind, std::string(path, length));
  return 0;
}

int Decode(const std::string &bytes, Records *records) {
  return ReadRunRecord(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), Collect, records);
}

const Records kRun = {{'D', "G:\\game\\sub"},      {'C', "G:\\game\\sub\\a.bin"}, {'R', "G:\\game\\\x83\x5C.bin"},
                      {'T', "G:\\game\\uin1.tmp"}, {'K', "G:\\game\\uin1.tmp"},   {'A', ""}};

TEST(RunRecord, RoundTripsAndIgnoresARecordCutShort) {
  std::string bytes = Encode(kRun);
  Records decoded;
  ASSERT_EQ(0, Decode(bytes, &decoded));
  EXPECT_EQ(kRun, decoded);
  // Every cut inside the last record leaves the ones before it.
  std::string without_last = Encode(Records(kRun.begin(), kRun.end() - 2));
  for (size_t cut = without_last.size(); cut < Encode(Records(kRun.begin(), kRun.end() - 1)).size(); ++cut) {
    decoded.clear();
    ASSERT_EQ(0, Decode(Encode(Records(kRun.begin(), kRun.end() - 1)).substr(0, cut), &decoded)) << cut;
    EXPECT_EQ(Records(kRun.begin(), kRun.end() - 2), decoded) << cut;
  }
}

TEST(RunRecord, AHeaderCutShortHoldsNoRecords) {
  const std::string header = kRunRecordHeader;
  for (size_t cut = 0; cut < header.size(); ++cut) {
    Records decoded;
    EXPECT_EQ(0, Decode(header.substr(0, cut), &decoded)) << cut;
    EXPECT_TRUE(decoded.empty()) << cut;
  }
}

TEST(RunRecord, AnythingElseIsRefused) {
  Records decoded;
  const std::string header = kRunRecordHeader;
  const std::vector<std::string> refused = {"UPDRUN2\n",
                                            "UPDRUX",
                                            "X",
                                            header + std::string("Xa\0", 3),
                                            header + std::string("C\0", 2),
                                            header + std::string(1, '\0')};
  for (const std::string &bytes : refused) {
    EXPECT_EQ(-1, Decode(bytes, &decoded)) << bytes;
  }
  unsigned char out[16];
  EXPECT_EQ(0u, EncodeRunRecord('C', "", out, sizeof out));
  EXPECT_EQ(0u, EncodeRunRecord('Q', "x", out, sizeof out));
  EXPECT_EQ(0u, EncodeRunRecord('C', "toolong", out, 8)); // needs 9
  EXPECT_EQ(9u, EncodeRunRecord('C', "toolong", out, 9));
}

} // namespace
