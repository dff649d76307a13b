// The package builder: makes an update package from a folder (or from what
// changed between two folders), lists one and verifies one with the same
// rules as the program that applies it, and checks its data against the
// package's data check.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "archive/package_format.h"
#include "archive/package_signature.h"

// One file to pack: where it lies on this machine and its name in the package.
struct PackFile {
  std::filesystem::path source;   // path on the publisher's machine
  std::filesystem::path relative; // path under the folder being packed
  std::string name;               // code page 932, '\' separators
  std::string display;            // the name as UTF-8, for messages
  uint64_t size = 0;
};

struct BuildReport {
  std::vector<std::string> warnings;
  std::string error; // empty on success
  uint64_t package_bytes = 0;
  size_t entry_count = 0;
};

// Lists the files under folder in install order: shallower files first, so
// that the entry that creates a directory comes before those that need it.
// Fails (report->error) on names without a code page 932 form, names over
// 255 bytes, files of 4 GiB or more, and unreadable entries.
bool CollectPackFiles(const std::string &folder, std::vector<PackFile> *files, BuildReport *report);

// The install program creates at most one missing directory per entry: its
// own, when its parent exists. Warns about every directory that no entry
// creates that way and that is not among existing_folders (package names of
// folders the game already has): it must then exist in the game's folder.
void WarnAboutUncreatedDirectories(const std::vector<PackFile> &files, BuildReport *report,
                                   const std::set<std::string> &existing_folders = {});

// How the new folder's files compare with the old folder's (names as UTF-8,
// packed ones in package order).
struct BaseDiff {
  std::vector<std::string> added;         // missing in the old folder: packed
  std::vector<std::string> changed;       // other size or bytes: packed
  std::vector<std::string> unchanged;     // the same byte for byte: left out
  std::vector<std::string> removed;       // only in the old folder: the package can't delete them
  std::set<std::string> existing_folders; // the old folder's folders, as package names
};

// Keeps in *files (CollectPackFiles' list of the new folder) only the files
// that are missing in base_folder or differ from its file of the same path,
// size first, then bytes. Warns (report->warnings) about every file of
// base_folder gone from the new folder. Fails on unreadable files and when
// nothing is left to pack.
bool KeepChangedFiles(const std::string &base_folder, const std::string &new_folder, std::vector<PackFile> *files,
                      BaseDiff *diff, BuildReport *report);

// The publisher's key pair, for a signed package.
struct SigningKey {
  unsigned char private_key[32];
  unsigned char public_key[65];
};

// The signature block for the entries' data hashes (SHA-256, 32 bytes each,
// in directory order) and the tail that follows it (directory, data check
// block, trailer), signed with key. It checks its own signature, so that a
// key pair that does not belong together signs nothing.
bool SignPackageTail(const std::vector<unsigned char> &data_hashes, const std::string &tail, const SigningKey &key,
                     std::string *block, std::string *error);

// Writes data, then (with key) the signature block, then directory, then the
// data check block (an XXH3-64 hash of each file's bytes, taken as they are
// copied, as is the SHA-256 that a signature covers), then the trailer.
// progress(done, total) is called now and then with byte counts.
bool WritePackage(const std::vector<PackFile> &files, const std::string &output, BuildReport *report,
                  const std::function<void(uint64_t, uint64_t)> &progress, const SigningKey *key = nullptr);

struct ListedEntry {
  std::string name; // code page 932 as stored
  uint32_t size = 0;
  uint64_t offset = 0;
};

// A package's signature block, as read: JudgeSignature tells what a
// program with a key makes of it.
struct ListedSignature {
  SignatureFinding finding = kSignatureAbsent;
  SignatureBlock block{};            // its data_hashes are in hashes
  std::vector<unsigned char> hashes; // the signed SHA-256 of each entry's data
};

struct PackageCheck {
  ListedSignature signature;
  std::vector<ListedEntry> entries;
  std::vector<std::string> problems; // empty when the package is sound
  uint64_t file_size = 0;
  std::vector<uint64_t> hashes;        // the data check, one per entry; empty when the package has none
  std::vector<size_t> damaged;         // entries whose data does not match the data check (CheckPackageData)
  std::vector<size_t> signed_mismatch; // entries whose data does not match its signed hash
};

// Reads a package with the program's own rules, then checks what the
// extraction pass will need: every name non-empty and every entry's data
// inside the file. false when the package could not be read at all.
bool CheckPackage(const std::string &path, PackageCheck *check);

// After CheckPackage: hashes every entry's data and compares it with the
// package's data check and with the hash its signature block holds, adding
// a problem naming each entry that differs. Does nothing for a package
// without either. progress(done, total) as for WritePackage. false when the
// file could not be read.
bool CheckPackageData(const std::string &path, PackageCheck *check,
                      const std::function<void(uint64_t, uint64_t)> &progress = nullptr);

// Lowercase hex of count bytes.
std::string HexBytes(const unsigned char *bytes, size_t count);
