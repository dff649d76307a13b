// Run records made by hand for the tests: sealed as this machine's
// update.exe seals them, with another machine's key, or in the old unsealed
// format anyone can write.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "journal/record_seal_win32.h"
#include "journal/run_record_win32.h"

using Records = std::vector<std::pair<char, std::string>>;

// Tags made with a key other than this machine's.
inline const RecordSeal kOtherMachineSeal = {
    [](void *, const unsigned char *previous, const unsigned char *bytes, size_t count, unsigned char *out) {
      for (size_t i = 0; i < kRecordTagBytes; ++i)
        out[i] = static_cast<unsigned char>(previous[i] * 31 + (i < count ? bytes[i] : i));
    },
    nullptr};

// The data directory the registry names now, the folder a record is for
// unless a test says otherwise.
inline std::string RegistryDataDir() {
  char value[1024] = "";
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TALVERA\\lumerant_qen", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD size = sizeof value - 1;
    RegQueryValueExA(key, "DataDir", nullptr, nullptr, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
  }
  return value;
}

// A run record as this machine's update.exe writes it: sealed with the
// machine's key (or with seal) for folder (the registry's DataDir when
// empty), its plan whole unless it names none; with settled, its run noted
// as settled.
inline std::string SealedRecord(const Records &records, bool settled = false, const RecordSeal *seal = nullptr,
                                const std::string &folder = "") {
  RecordSeal machine;
  EXPECT_TRUE(LoadRecordSeal(true, &machine));
  unsigned char id[kRunIdBytes], header[kRunRecordHeaderBytes], chain[kRecordTagBytes];
  EXPECT_TRUE(NewRunId(id));
  EncodeRunRecordHeader(id, folder.empty() ? RegistryDataDir().c_str() : folder.c_str(), seal ? *seal : machine, header,
                        chain);
  std::string bytes(reinterpret_cast<char *>(header), sizeof header);
  Records with_plan_end = records;
  if (!records.empty())
    with_plan_end.insert(with_plan_end.begin(), {'L', ""});
  for (const auto &record : with_plan_end) {
    unsigned char out[300 + kRecordTagBytes];
    size_t length =
        EncodeRunRecord(record.first, record.second.c_str(), seal ? *seal : machine, chain, out, sizeof out);
    EXPECT_NE(0u, length) << record.second;
    bytes.append(reinterpret_cast<char *>(out), length);
  }
  if (settled) {
    EXPECT_TRUE(NoteRunStanding(id, kRunSettled));
  }
  return bytes;
}

// A record as anyone can write it by hand: the old unsealed format.
inline std::string PlainRecord(const Records &records) {
  std::string bytes = "UPDRUN1\n";
  for (const auto &record : records)
    bytes += record.first + record.second + std::string(1, '\0');
  return bytes;
}
