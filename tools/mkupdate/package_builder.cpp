// Building, listing and verifying packages; the byte rules come from the
// program's own package code.
#include "tools/mkupdate/package_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "archive/package_format.h"
#include "common/cp932.h"
#include "tools/mkupdate/encoding.h"

namespace fs = std::filesystem;

enum { kCopyBytes = 1 << 20 };

struct FileCloser {
  void operator()(FILE *file) const {
    if (file)
      std::fclose(file);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens a source file by its full name: on Windows through the wide name, as
// a narrow one can't hold every name the folder may have.
static FILE *OpenForReading(const fs::path &path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"rb");
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

static size_t Depth(const std::string &name) { return static_cast<size_t>(std::count(name.begin(), name.end(), '\\')); }

// The package name of a relative path: UTF-8 components to code page 932.
static bool PackageNameOf(const fs::path &relative, PackFile *file, BuildReport *report) {
  std::string name;
  for (const fs::path &part : relative) {
    std::string utf8 = part.u8string();
    std::string converted;
    if (!Utf8ToCp932(utf8, &converted)) {
      report->error = "\"" + relative.u8string() + "\": the name has no code page 932 form";
      return false;
    }
    if (!name.empty())
      name += '\\';
    name += converted;
  }
  file->name = name;
  file->display = relative.u8string();
  if (name.size() > kMaxNameBytes) {
    report->error = "\"" + file->display + "\": the name is " + std::to_string(name.size()) +
                    " bytes in code page 932; at most 255 fit in a package";
    return false;
  }
  if (!IsSafeEntryName(name.data(), name.size())) {
    report->error = "\"" + file->display + "\": the name is not allowed in a package";
    return false;
  }
  return true;
}

bool CollectPackFiles(const std::string &folder, std::vector<PackFile> *files, BuildReport *report) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    report->error = "\"" + folder + "\" is not a folder";
    return false;
  }
  fs::recursive_directory_iterator it(folder, ec), end;
  if (ec) {
    report->error = "\"" + folder + "\": " + ec.message();
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      report->error = "\"" + folder + "\": " + ec.message();
      return false;
    }
    const fs::directory_entry &entry = *it;
    if (entry.is_directory(ec))
      continue;
    if (!entry.is_regular_file(ec)) {
      report->warnings.push_back("skipped \"" + entry.path().u8string() + "\": not a regular file");
      continue;
    }
    PackFile file;
    file.source = entry.path();
    if (!PackageNameOf(entry.path().lexically_relative(folder), &file, report))
      return false;
    file.size = entry.file_size(ec);
    if (ec) {
      report->error = "\"" + file.display + "\": " + ec.message();
      return false;
    }
    if (file.size > UINT32_MAX) {
      report->error = "\"" + file.display + "\": files of 4 GiB or more do not fit in a package";
      return false;
    }
    files->push_back(file);
  }
  if (files->empty()) {
    report->error = "\"" + folder + "\" holds no file";
    return false;
  }
  std::sort(files->begin(), files->end(), [](const PackFile &a, const PackFile &b) {
    size_t da = Depth(a.name), db = Depth(b.name);
    return da != db ? da < db : a.name < b.name;
  });
  std::vector<const char *> names;
  for (const PackFile &file : *files)
    names.push_back(file.name.c_str());
  int32_t clash = -1;
  if (CheckBackupNameClashes(names.data(), static_cast<int32_t>(names.size()), &clash) != kPackageOk) {
    report->error = "\"" + (*files)[static_cast<size_t>(clash)].display +
                    "\": the package would also replace the file this name is the backup of (\"X\" and \"X_old\"), "
                    "and finishing would delete it";
    return false;
  }
  return true;
}

// The folder part of a package name, cut as the install program cuts it.
static std::string FolderOf(const std::string &name) {
  long cut = FindLastSeparator(name.c_str());
  return cut < 0 ? std::string() : name.substr(0, static_cast<size_t>(cut));
}

void WarnAboutUncreatedDirectories(const std::vector<PackFile> &files, BuildReport *report) {
  std::set<std::string> creatable{""};
  std::set<std::string> warned;
  for (const PackFile &file : files) {
    // Every level of the file's folder must be there when the file comes.
    std::string folder = FolderOf(file.name);
    std::vector<std::string> levels;
    for (std::string level = folder; !level.empty(); level = FolderOf(level))
      levels.push_back(level);
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
      if (creatable.count(*level))
        continue;
      if (*level == folder && creatable.count(FolderOf(*level))) {
        creatable.insert(*level); // this entry creates its own folder
        continue;
      }
      if (warned.insert(*level).second) {
        std::string shown;
        Cp932ToUtf8(*level, &shown);
        report->warnings.push_back("no file creates the folder \"" + shown +
                                   "\" (it holds no file of its own): it must already exist in the game's folder");
      }
      creatable.insert(*level);
    }
  }
}

static bool WriteAll(FILE *out, const void *bytes, size_t length) {
  return length == 0 || std::fwrite(bytes, 1, length, out) == length;
}

bool WritePackage(const std::vector<PackFile> &files, const std::string &output, BuildReport *report,
                  const std::function<void(uint64_t, uint64_t)> &progress) {
  uint64_t total = 0;
  for (const PackFile &file : files)
    total += file.size;
  std::string temp = output + ".part";
  FilePtr out(std::fopen(temp.c_str(), "wb"));
  if (!out) {
    report->error = "cannot create \"" + temp + "\"";
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kCopyBytes]);
  std::string directory;
  uint64_t offset = 0;
  bool ok = true;
  for (const PackFile &file : files) {
    FilePtr in(OpenForReading(file.source));
    if (!in) {
      report->error = "cannot read \"" + file.display + "\"";
      ok = false;
      break;
    }
    uint64_t copied = 0;
    while (copied < file.size) {
      size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBytes, file.size - copied));
      size_t got = std::fread(buffer.get(), 1, want, in.get());
      if (got != want) {
        report->error = "\"" + file.display + "\" changed or could not be read while packing";
        ok = false;
        break;
      }
      if (!WriteAll(out.get(), buffer.get(), got)) {
        report->error = "cannot write \"" + temp + "\" (disk full?)";
        ok = false;
        break;
      }
      copied += got;
      if (progress)
        progress(offset + copied, total);
    }
    if (!ok)
      break;
    unsigned char record[kMaxEntryBytes];
    size_t record_bytes =
        EncodeEntry(file.name.data(), file.name.size(), static_cast<uint32_t>(file.size), offset, record);
    directory.append(reinterpret_cast<const char *>(record), record_bytes);
    offset += file.size;
  }
  if (ok) {
    PackageTrailer trailer{offset, static_cast<int32_t>(files.size())};
    unsigned char trailer_bytes[kTrailerBytes];
    EncodeTrailer(trailer, trailer_bytes);
    ok = WriteAll(out.get(), directory.data(), directory.size()) && WriteAll(out.get(), trailer_bytes, kTrailerBytes);
    ok = ok && std::fflush(out.get()) == 0;
    if (!ok)
      report->error = "cannot write \"" + temp + "\" (disk full?)";
  }
  FILE *raw = out.release();
  if (std::fclose(raw) != 0 && ok) {
    report->error = "cannot write \"" + temp + "\" (disk full?)";
    ok = false;
  }
  std::error_code ec;
  if (ok) {
    fs::rename(temp, output, ec);
    if (ec) {
      report->error = "cannot replace \"" + output + "\": " + ec.message();
      ok = false;
    }
  }
  if (!ok) {
    fs::remove(temp, ec);
    return false;
  }
  report->package_bytes = offset + directory.size() + kTrailerBytes;
  report->entry_count = files.size();
  return true;
}

static bool SeekFile(FILE *file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

static size_t ReadFromStdioAt(void *context, uint64_t offset, unsigned char *dest, size_t want) {
  FILE *file = static_cast<FILE *>(context);
  return SeekFile(file, offset) ? std::fread(dest, 1, want, file) : 0;
}

bool CheckPackage(const std::string &path, PackageCheck *check) {
  FilePtr in(std::fopen(path.c_str(), "rb"));
  std::error_code ec;
  uint64_t file_size = in ? fs::file_size(path, ec) : 0;
  if (!in || ec) {
    check->problems.push_back(std::string("\"") + path + "\": " + DescribePackageError(kPackageCannotOpen));
    return false;
  }
  check->file_size = file_size;
  PackageSource source{ReadFromStdioAt, in.get(), file_size};
  ArchiveEntry *entries = nullptr;
  int32_t count = 0;
  int32_t bad_entry = -1;
  PackageError error = ReadPackageDirectory(source, &entries, &count, &bad_entry);
  if (error != kPackageOk) {
    std::string where = bad_entry >= 0 ? "entry " + std::to_string(bad_entry) + ": " : "";
    check->problems.push_back(where + DescribePackageError(error));
    return false;
  }
  std::unique_ptr<ArchiveEntry, decltype(&std::free)> owned(entries, &std::free);
  for (int32_t i = 0; i < count; ++i) {
    const ArchiveEntry &entry = entries[i];
    ListedEntry listed{entry.name, entry.size, EntryDataOffset(entry)};
    if (listed.name.empty())
      check->problems.push_back("entry " + std::to_string(i) + ": the name is empty");
    if (listed.offset > file_size || entry.size > file_size - listed.offset)
      check->problems.push_back("entry " + std::to_string(i) + ": its data lies past the end of the file");
    check->entries.push_back(listed);
  }
  return true;
}
