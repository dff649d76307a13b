// The package builder: makes an update package from a folder, lists one and
// verifies one with the same rules as the program that applies it.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// One file to pack: where it lies on this machine and its name in the package.
struct PackFile {
  std::filesystem::path source; // path on the publisher's machine
  std::string name;             // code page 932, '\' separators
  std::string display;          // the name as UTF-8, for messages
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
// creates that way (it must then exist in the game's folder already).
void WarnAboutUncreatedDirectories(const std::vector<PackFile> &files, BuildReport *report);

// Writes data, then directory, then trailer. progress(done, total) is called
// now and then with byte counts.
bool WritePackage(const std::vector<PackFile> &files, const std::string &output, BuildReport *report,
                  const std::function<void(uint64_t, uint64_t)> &progress);

struct ListedEntry {
  std::string name; // code page 932 as stored
  uint32_t size = 0;
  uint64_t offset = 0;
};

struct PackageCheck {
  std::vector<ListedEntry> entries;
  std::vector<std::string> problems; // empty when the package is sound
  uint64_t file_size = 0;
};

// Reads a package with the program's own rules, then checks what the
// extraction pass will need: every name non-empty and every entry's data
// inside the file. false when the package could not be read at all.
bool CheckPackage(const std::string &path, PackageCheck *check);
