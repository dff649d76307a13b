// The run record's bytes: what a killed run leaves must decode to exactly the
// records it finished writing; a record whose tag does not hold ends it (a
// torn tail); nothing written without the key is taken for a record; a batch
// replaces what came before it only once it is complete.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "journal/run_record_format.h"

namespace {

using Records = std::vector<std::pair<char, std::string>>;

// A stand-in for the keyed hash: any function of key, previous tag and bytes
// that differs with each of them will do for the format.
void TestTag(void *context, const unsigned char previous[kRecordTagBytes], const unsigned char *bytes, size_t count,
             unsigned char out[kRecordTagBytes]) {
  uint64_t h = *static_cast<const uint64_t *>(context);
  for (size_t i = 0; i < kRecordTagBytes; ++i)
    h = (h ^ previous[i]) * 1099511628211ull;
  for (size_t i = 0; i < count; ++i)
    h = (h ^ bytes[i]) * 1099511628211ull;
  for (size_t i = 0; i < kRecordTagBytes; ++i, h = h * 6364136223846793005ull + 1)
    out[i] = static_cast<unsigned char>(h >> 56);
}

uint64_t kKey = 42, kOtherKey = 43;
const RecordSeal kSeal = {TestTag, &kKey};
const RecordSeal kOtherSeal = {TestTag, &kOtherKey};
const unsigned char kRunId[kRunIdBytes] = {1, 2, 3};

const char kFolder[] = "C:\\Games\\G";

std::string Encode(const Records &records, const RecordSeal &seal = kSeal) {
  unsigned char header[kRunRecordHeaderBytes], chain[kRecordTagBytes];
  EncodeRunRecordHeader(kRunId, kFolder, seal, header, chain);
  std::string bytes(reinterpret_cast<char *>(header), sizeof header);
  for (const auto &record : records) {
    unsigned char out[300];
    size_t length = EncodeRunRecord(record.first, record.second.c_str(), seal, chain, out, sizeof out);
    EXPECT_NE(0u, length);
    bytes.append(reinterpret_cast<char *>(out), length);
  }
  return bytes;
}

int Collect(void *context, char kind, const char *path, size_t length) {
  static_cast<Records *>(context)->emplace_back(kind, std::string(path, length));
  return 0;
}

int Decode(const std::string &bytes, Records *records, const RecordSeal *seal = &kSeal, const char *folder = kFolder,
           RunRecordState *state_out = nullptr) {
  RunRecordState state;
  records->clear();
  int result = ReadRunRecord(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), folder, seal, Collect,
                             records, &state);
  if (state_out)
    *state_out = state;
  return result;
}

const Records kRun = {{'D', "sub"},      {'C', "sub\\a.bin"}, {'R', "\x83\x5C.bin"},
                      {'T', "uin1.tmp"}, {'P', "uin2.tmp"},   {'K', "uin1.tmp"},
                      {'A', ""}};

TEST(RunRecord, RoundTripsAndEndsAtARecordCutShortOrTorn) {
  std::string bytes = Encode(kRun);
  Records decoded;
  ASSERT_EQ(0, Decode(bytes, &decoded));
  EXPECT_EQ(kRun, decoded);
  // Every cut inside the last record, and a tail of zeros or of anything
  // after any record, leaves the records before it.
  const Records before_last(kRun.begin(), kRun.end() - 1);
  const std::string whole = Encode(before_last), shorter = Encode(Records(kRun.begin(), kRun.end() - 2));
  for (size_t cut = shorter.size(); cut < whole.size(); ++cut) {
    ASSERT_EQ(0, Decode(whole.substr(0, cut), &decoded)) << cut;
    EXPECT_EQ(Records(kRun.begin(), kRun.end() - 2), decoded) << cut;
  }
  for (const std::string &tail : {std::string(4096, '\0'), std::string("Cevil.txt") + '\0' + std::string(32, 'x')}) {
    ASSERT_EQ(0, Decode(whole + tail, &decoded));
    EXPECT_EQ(before_last, decoded);
  }
}

TEST(RunRecord, AHeaderCutShortHoldsNoRecords) {
  const std::string header = Encode({});
  for (size_t cut = 0; cut < header.size(); ++cut) {
    Records decoded;
    EXPECT_EQ(0, Decode(header.substr(0, cut), &decoded)) << cut;
    EXPECT_TRUE(decoded.empty()) << cut;
  }
}

TEST(RunRecord, WhatWasNotWrittenWithTheKeyIsRefusedOrEndsTheRecord) {
  Records decoded;
  // Another key, the old unsealed format, another magic: refused whole.
  for (const std::string &bytes :
       {Encode(kRun, kOtherSeal), std::string("UPDRUN1\nCa.bin\0", 15), "UPDRUN2\n" + Encode(kRun).substr(8)})
    EXPECT_EQ(-1, Decode(bytes, &decoded));
  // A record is its folder's: another spelling of it reads, another folder
  // does not.
  for (const char *folder : {"c:\\games\\g", "C:\\\\Games\\G\\", "C:\\Games\\G\\\\"})
    EXPECT_EQ(0, Decode(Encode(kRun), &decoded, &kSeal, folder)) << folder;
  for (const char *folder : {"C:\\Games\\H", "C:\\Games", "D:\\Games\\G", "C:\\Games\\G\\sub"})
    EXPECT_EQ(-1, Decode(Encode(kRun), &decoded, &kSeal, folder)) << folder;
  // A record changed in the middle ends the record there: only those before
  // it stand, and nothing after it.
  std::string changed = Encode(kRun);
  changed[Encode(Records(kRun.begin(), kRun.begin() + 1)).size() + 1] = 'x'; // "sub\a.bin" -> "xub\a.bin"
  ASSERT_EQ(0, Decode(changed, &decoded));
  EXPECT_EQ(Records(kRun.begin(), kRun.begin() + 1), decoded);
  // Without a seal (a tool that only looks) the tags are passed over.
  ASSERT_EQ(0, Decode(Encode(kRun, kOtherSeal), &decoded, nullptr));
  EXPECT_EQ(kRun, decoded);
  unsigned char out[64], chain[kRecordTagBytes] = {};
  EXPECT_EQ(0u, EncodeRunRecord('C', "", kSeal, chain, out, sizeof out));
  EXPECT_EQ(0u, EncodeRunRecord('Q', "x", kSeal, chain, out, sizeof out));
  EXPECT_EQ(0u, EncodeRunRecord('C', "toolong", kSeal, chain, out, 40)); // needs 41
  EXPECT_EQ(41u, EncodeRunRecord('C', "toolong", kSeal, chain, out, 41));
}

TEST(RunRecord, ACompleteBatchReplacesWhatCameBeforeIt) {
  const Records run = {{'C', "a.bin"}, {'R', "b.bin"}, {'C', "c.bin"}};
  const Records left = {{'R', "b.bin"}};
  Records with_batch = run;
  with_batch.push_back({'N', ""});
  with_batch.insert(with_batch.end(), left.begin(), left.end());
  Records decoded;
  // Cut before its end, the batch counts for nothing.
  ASSERT_EQ(0, Decode(Encode(with_batch), &decoded));
  EXPECT_EQ(run, decoded);
  with_batch.push_back({'E', ""});
  RunRecordState state;
  ASSERT_EQ(0, Decode(Encode(with_batch), &decoded, &kSeal, kFolder, &state));
  EXPECT_EQ(left, decoded);
  EXPECT_TRUE(state.plan_whole); // a complete batch names all that is left
}

TEST(RunRecord, IsWholeOnlyFromThePlansEndOn) {
  const Records plan = {{'W', "a.bin"}, {'T', "uin1.tmp"}, {'L', ""}, {'C', "a.bin"}};
  for (size_t kept = 0; kept <= plan.size(); ++kept) {
    Records decoded;
    RunRecordState state;
    ASSERT_EQ(0, Decode(Encode(Records(plan.begin(), plan.begin() + kept)), &decoded, &kSeal, kFolder, &state));
    EXPECT_EQ(kept >= 3, state.plan_whole) << kept;
  }
}

} // namespace
