// The publisher's key files and mkupdate keygen: the text format (pure, so
// that both systems read and write the same bytes) and the few file calls
// that differ between them (a private file only its owner may open).
#include "tools/mkupdate/keys.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "archive/package_signature.h"
#include "archive/sha256.h"
#include "tools/mkupdate/package_builder.h"

namespace {

const char kPublicFirstLine[] = "update public key, ECDSA P-256";
const char kPrivateFirstLine[] = "update private key, ECDSA P-256 - keep it secret";
const size_t kMaxKeyFileBytes = 4096; // a key file is about 260 bytes
const unsigned char kUncompressedPoint = 0x04;

// One line of hex digits in a key file and the bytes it holds.
struct HexLine {
  const char *what; // for messages
  unsigned char *bytes;
  size_t count;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Splits text into lines, each ended by "\n" or "\r\n"; false when the last
// line has no end.
bool SplitLines(const std::string &text, std::vector<std::string> *lines) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      return false;
    size_t length = end - start;
    if (length > 0 && text[end - 1] == '\r')
      --length;
    lines->push_back(text.substr(start, length));
    start = end + 1;
  }
  return true;
}

bool DecodeHexLine(const std::string &line, size_t line_number, const HexLine &field, std::string *error) {
  std::string where = "line " + std::to_string(line_number) + " (" + field.what + ")";
  if (line.size() != 2 * field.count) {
    *error = where + " must be " + std::to_string(2 * field.count) + " hex digits, not " + std::to_string(line.size()) +
             " characters";
    return false;
  }
  for (size_t i = 0; i < field.count; ++i) {
    int high = HexValue(line[2 * i]), low = HexValue(line[2 * i + 1]);
    if (high < 0 || low < 0) {
      *error = where + " holds a character that is not a hex digit";
      return false;
    }
    field.bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

// The first line, then one line per field, nothing more.
bool DecodeKeyText(const std::string &text, const char *first_line, const HexLine *fields, size_t field_count,
                   const char *kind, std::string *error) {
  std::vector<std::string> lines;
  if (!SplitLines(text, &lines)) {
    *error = "its last line does not end with a line break (the file may be cut short)";
    return false;
  }
  if (lines.empty() || lines[0] != first_line) {
    *error = std::string("it is not ") + kind + ": its first line must be \"" + first_line + "\"";
    return false;
  }
  if (lines.size() != field_count + 1) {
    *error = "it has " + std::to_string(lines.size()) + " lines, " + kind + " has " + std::to_string(field_count + 1);
    return false;
  }
  for (size_t i = 0; i < field_count; ++i)
    if (!DecodeHexLine(lines[i + 1], i + 2, fields[i], error))
      return false;
  return true;
}

bool CheckPointForm(const unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error) {
  if (public_key[0] == kUncompressedPoint)
    return true;
  *error = "the public key does not start with 04 (an uncompressed P-256 point)";
  return false;
}

// The whole file, refusing any too large to be a key.
bool ReadSmallFile(const std::string &path, std::string *text, std::string *error) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = path + ": cannot open it: " + std::strerror(errno);
    return false;
  }
  char buffer[kMaxKeyFileBytes + 1];
  size_t got = std::fread(buffer, 1, sizeof buffer, file);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed)
    *error = path + ": cannot read it";
  else if (got > kMaxKeyFileBytes)
    *error = path + ": too large to be a key file";
  else
    text->assign(buffer, got);
  return !failed && got <= kMaxKeyFileBytes;
}

#ifdef _WIN32

bool PathExists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string LastErrorText() { return "Windows error " + std::to_string(GetLastError()); }

// The SID of the user running us, as SDDL text; empty when unknown.
std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return "";
  union {
    TOKEN_USER user;
    unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size = 0;
  char *text = nullptr;
  std::string sid;
  if (GetTokenInformation(token, TokenUser, &info, static_cast<DWORD>(sizeof info), &size) &&
      ConvertSidToStringSidA(info.user.User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return sid;
}

// A protected DACL (no inherited entries) with one entry: full access for
// the user. Named by the user's SID rather than "owner rights", which
// Windows XP lacks and Wine maps to no Unix permission at all (mode 000).
bool MakeOwnerOnlyDescriptor(PSECURITY_DESCRIPTOR *descriptor) {
  std::string sid = CurrentUserSid();
  return !sid.empty() && ConvertStringSecurityDescriptorToSecurityDescriptorA(("D:P(A;;FA;;;" + sid + ")").c_str(),
                                                                              SDDL_REVISION_1, descriptor, nullptr);
}

// Creates path (never over an existing file), writes bytes, flushes them.
bool WriteNewFile(const std::string &path, const std::string &bytes, bool owner_only, std::string *error) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (owner_only && !MakeOwnerOnlyDescriptor(&attributes.lpSecurityDescriptor)) {
    *error = path + ": cannot make an owner-only security descriptor: " + LastErrorText();
    return false;
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, owner_only ? &attributes : nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (attributes.lpSecurityDescriptor != nullptr)
    LocalFree(attributes.lpSecurityDescriptor);
  if (file == INVALID_HANDLE_VALUE) {
    *error = path + ": cannot create it: " + LastErrorText();
    return false;
  }
  DWORD written = 0;
  bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file);
  if (!done)
    *error = path + ": cannot write it: " + LastErrorText();
  if (!CloseHandle(file) && done) {
    *error = path + ": cannot close it: " + LastErrorText();
    done = false;
  }
  if (!done)
    DeleteFileA(path.c_str());
  return done;
}

#else

bool PathExists(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0; // a dangling link still takes the name
}

bool WriteAll(int fd, const std::string &bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0)
      return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// Creates path (never over an existing file or link), writes bytes, flushes
// them. owner_only: mode 0600 whatever the umask.
bool WriteNewFile(const std::string &path, const std::string &bytes, bool owner_only, std::string *error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, owner_only ? 0600 : 0666);
  if (fd < 0) {
    *error = path + ": cannot create it: " + std::strerror(errno);
    return false;
  }
  bool done = (!owner_only || fchmod(fd, 0600) == 0) && WriteAll(fd, bytes) && fsync(fd) == 0;
  if (!done)
    *error = path + ": cannot write it: " + std::strerror(errno);
  if (close(fd) != 0 && done) {
    *error = path + ": cannot close it: " + std::strerror(errno);
    done = false;
  }
  if (!done)
    unlink(path.c_str());
  return done;
}

#endif

int Fail(const std::string &message) {
  std::fprintf(stderr, "mkupdate: %s\n", message.c_str());
  return 1;
}

// Signs a digest with the new pair and verifies it, so that no key that
// cannot sign is ever written.
bool SelfCheck(const unsigned char private_key[kEcdsaPrivateKeyBytes],
               const unsigned char public_key[kEcdsaPublicKeyBytes]) {
  static const char kMessage[] = "mkupdate keygen self-check";
  unsigned char digest[kEcdsaDigestBytes], signature[kEcdsaSignatureBytes];
  HashSha256(reinterpret_cast<const unsigned char *>(kMessage), sizeof kMessage - 1, digest);
  if (!SignEcdsaDigest(private_key, public_key, digest, signature) || !VerifyEcdsaDigest(public_key, digest, signature))
    return false;
  digest[0] ^= 1; // and a different digest is refused
  return !VerifyEcdsaDigest(public_key, digest, signature);
}

} // namespace

std::string EncodePublicKeyFile(const unsigned char public_key[kEcdsaPublicKeyBytes]) {
  return std::string(kPublicFirstLine) + "\n" + HexBytes(public_key, kEcdsaPublicKeyBytes) + "\n";
}

bool DecodePublicKeyFile(const std::string &text, unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error) {
  const HexLine fields[] = {{"the public key", public_key, kEcdsaPublicKeyBytes}};
  return DecodeKeyText(text, kPublicFirstLine, fields, 1, "a public key file", error) &&
         CheckPointForm(public_key, error);
}

std::string EncodePrivateKeyFile(const unsigned char private_key[kEcdsaPrivateKeyBytes],
                                 const unsigned char public_key[kEcdsaPublicKeyBytes]) {
  return std::string(kPrivateFirstLine) + "\n" + HexBytes(private_key, kEcdsaPrivateKeyBytes) + "\n" +
         HexBytes(public_key, kEcdsaPublicKeyBytes) + "\n";
}

bool DecodePrivateKeyFile(const std::string &text, unsigned char private_key[kEcdsaPrivateKeyBytes],
                          unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error) {
  const HexLine fields[] = {{"the private key", private_key, kEcdsaPrivateKeyBytes},
                            {"the public key", public_key, kEcdsaPublicKeyBytes}};
  return DecodeKeyText(text, kPrivateFirstLine, fields, 2, "a private key file", error) &&
         CheckPointForm(public_key, error);
}

std::string KeyIdFingerprint(const unsigned char key_id[kSignatureKeyIdBytes]) {
  return HexBytes(key_id, kSignatureKeyIdBytes);
}

std::string KeyFingerprint(const unsigned char public_key[kEcdsaPublicKeyBytes]) {
  unsigned char id[kSignatureKeyIdBytes];
  PublisherKeyId(public_key, id);
  return KeyIdFingerprint(id);
}

bool ReadPublicKeyFile(const std::string &path, unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error) {
  std::string text, problem;
  if (!ReadSmallFile(path, &text, error))
    return false;
  if (DecodePublicKeyFile(text, public_key, &problem))
    return true;
  *error = path + ": not a usable public key file: " + problem;
  return false;
}

bool ReadPrivateKeyFile(const std::string &path, unsigned char private_key[kEcdsaPrivateKeyBytes],
                        unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error) {
  std::string text, problem;
  if (!ReadSmallFile(path, &text, error))
    return false;
  if (DecodePrivateKeyFile(text, private_key, public_key, &problem))
    return true;
  *error = path + ": not a usable private key file: " + problem;
  return false;
}

int RunKeygen(const std::string &name) {
  const std::string key_path = name + ".key", public_path = name + ".pub";
  for (const std::string &path : {key_path, public_path})
    if (PathExists(path))
      return Fail(path + " already exists: keygen never replaces a key (choose another NAME)");
  unsigned char private_key[kEcdsaPrivateKeyBytes], public_key[kEcdsaPublicKeyBytes];
  if (!GenerateEcdsaKey(private_key, public_key))
    return Fail("the system could not make a new key pair");
  if (!SelfCheck(private_key, public_key))
    return Fail("the new key pair failed its signing self-check: nothing was written");
  std::string error;
  if (!WriteNewFile(key_path, EncodePrivateKeyFile(private_key, public_key), true, &error))
    return Fail(error);
  if (!WriteNewFile(public_path, EncodePublicKeyFile(public_key), false, &error)) {
    // The new private key was never shown to anyone: leave no half pair.
    std::remove(key_path.c_str());
    return Fail(error + " (" + key_path + " removed again)");
  }
  std::printf("%s: private key (keep it secret)\n%s: public key\nfingerprint: %s\n", key_path.c_str(),
              public_path.c_str(), KeyFingerprint(public_key).c_str());
  return 0;
}
