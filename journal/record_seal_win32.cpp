// The machine key of the run records and the runs under way, in the
// registry; the records' keyed hash through bcrypt.
#include "journal/record_seal_win32.h"

#include <bcrypt.h>
#include <sddl.h>

#include <cstring>

const char kRecordSealKey[] = "Software\\TALVERA\\lumerant_qen\\update";
// Protected (nothing inherited), full access for administrators and SYSTEM
// only: a program the player runs without elevation can neither read the
// key nor note a run.
const char kRecordSealAccess[] = "D:P(A;OICI;KA;;;BA)(A;OICI;KA;;;SY)";

static const char kKeyValue[] = "RecordKey";
static const char kRunValuePrefix[] = "run-";

enum { kMachineKeyBytes = 32 };

static unsigned char sMachineKey[kMachineKeyBytes];
static BCRYPT_ALG_HANDLE sHmacAlgorithm = nullptr;

static bool RandomBytes(unsigned char *out, ULONG count) {
  return BCryptGenRandom(nullptr, out, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

bool NewRunId(unsigned char id[kRunIdBytes]) { return RandomBytes(id, kRunIdBytes); }

// The key's access rights, set again at every open: Wine does not keep them
// in its registry file, so they last only as long as its server runs.
static bool ApplySealAccess(HKEY key, PSECURITY_DESCRIPTOR descriptor) {
  return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor) ==
         ERROR_SUCCESS;
}

// Opens (or, with create, makes) the program's key with its restricted access.
static HKEY OpenSealKey(bool create) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kRecordSealAccess, SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  // Always the 32-bit view, as the shipped program sees it: a 64-bit build
  // would otherwise keep its own key and refuse the other build's records.
  const REGSAM access = KEY_READ | KEY_WRITE | WRITE_DAC | KEY_WOW64_32KEY;
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordSealKey, 0, access, &key);
  if (result != ERROR_SUCCESS && create) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecordSealKey, 0, nullptr, 0, access, &attributes, &key, nullptr);
  }
  if (result == ERROR_SUCCESS && !ApplySealAccess(key, descriptor)) {
    RegCloseKey(key);
    result = ERROR_ACCESS_DENIED;
  }
  LocalFree(descriptor);
  return result == ERROR_SUCCESS ? key : nullptr;
}

static bool ReadMachineKey(HKEY key) {
  DWORD type = 0, size = sizeof sMachineKey;
  return RegQueryValueExA(key, kKeyValue, nullptr, &type, sMachineKey, &size) == ERROR_SUCCESS && type == REG_BINARY &&
         size == sizeof sMachineKey;
}

static bool MakeMachineKey(HKEY key) {
  return RandomBytes(sMachineKey, sizeof sMachineKey) &&
         RegSetValueExA(key, kKeyValue, 0, REG_BINARY, sMachineKey, sizeof sMachineKey) == ERROR_SUCCESS &&
         RegFlushKey(key) == ERROR_SUCCESS;
}

static void HmacTag(void *, const unsigned char previous[kRecordTagBytes], const unsigned char *bytes, size_t count,
                    unsigned char out[kRecordTagBytes]) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCryptCreateHash(sHmacAlgorithm, &hash, nullptr, 0, sMachineKey, sizeof sMachineKey, 0) == 0 &&
              BCryptHashData(hash, const_cast<unsigned char *>(previous), kRecordTagBytes, 0) == 0 &&
              BCryptHashData(hash, const_cast<unsigned char *>(bytes), static_cast<ULONG>(count), 0) == 0 &&
              BCryptFinishHash(hash, out, kRecordTagBytes, 0) == 0;
  if (hash != nullptr)
    BCryptDestroyHash(hash);
  // A tag that could not be made matches none: all zeros is what a torn
  // tail holds, which no reader takes for a record.
  if (!done)
    std::memset(out, 0, kRecordTagBytes);
}

bool LoadRecordSeal(bool create, RecordSeal *seal) {
  HKEY key = OpenSealKey(create);
  if (key == nullptr)
    return false;
  bool have = ReadMachineKey(key) || (create && MakeMachineKey(key));
  RegCloseKey(key);
  if (!have)
    return false;
  if (sHmacAlgorithm == nullptr && BCryptOpenAlgorithmProvider(&sHmacAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                               BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0) {
    sHmacAlgorithm = nullptr;
    return false;
  }
  seal->tag = HmacTag;
  seal->context = nullptr;
  return true;
}

// "run-" and the id in hex.
static void RunValueName(const unsigned char id[kRunIdBytes], char (&name)[sizeof kRunValuePrefix + 2 * kRunIdBytes]) {
  static const char kHex[] = "0123456789abcdef";
  std::memcpy(name, kRunValuePrefix, sizeof kRunValuePrefix - 1);
  char *digits = name + sizeof kRunValuePrefix - 1;
  for (int i = 0; i < kRunIdBytes; ++i) {
    digits[2 * i] = kHex[id[i] >> 4];
    digits[2 * i + 1] = kHex[id[i] & 15];
  }
  digits[2 * kRunIdBytes] = '\0';
}

bool NoteRunStanding(const unsigned char id[kRunIdBytes], RunStanding standing) {
  HKEY key = OpenSealKey(true);
  if (key == nullptr)
    return false;
  char name[sizeof kRunValuePrefix + 2 * kRunIdBytes];
  RunValueName(id, name);
  DWORD value = static_cast<DWORD>(standing);
  bool noted =
      RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value) == ERROR_SUCCESS &&
      RegFlushKey(key) == ERROR_SUCCESS;
  RegCloseKey(key);
  return noted;
}

RunStanding RunStandingOf(const unsigned char id[kRunIdBytes]) {
  HKEY key = OpenSealKey(false);
  if (key == nullptr)
    return kRunNotNoted;
  char name[sizeof kRunValuePrefix + 2 * kRunIdBytes];
  RunValueName(id, name);
  DWORD type = 0, value = 0, size = sizeof value;
  LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_DWORD)
    return kRunNotNoted;
  return value == kRunSettled ? kRunSettled : value == kRunAbandoned ? kRunAbandoned : kRunNotNoted;
}

void ResetRecordSealState() {
  if (sHmacAlgorithm != nullptr)
    BCryptCloseAlgorithmProvider(sHmacAlgorithm, 0);
  sHmacAlgorithm = nullptr;
  std::memset(sMachineKey, 0, sizeof sMachineKey);
}
