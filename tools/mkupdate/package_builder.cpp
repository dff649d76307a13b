// Building, listing and verifying packages; the byte rules come from the
// program's own package code.
#include "tools/mkupdate/package_builder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "archive/package_format.h"
#include "common/cp932.h"
#include "tools/mkupdate/encoding.h"

namespace fs = std::filesystem;

enum { kMaxNameBytes = 255, kCopyBytes = 1 << 20 };

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

static void AppendLe32(std::string *bytes, uint32_t value) {
  unsigned char raw[4];
  WriteLe32(raw, value);
  bytes->append(reinterpret_cast<char *>(raw), 4);
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
    directory += static_cast<char>(file.name.size());
    directory += file.name;
    AppendLe32(&directory, static_cast<uint32_t>(file.size));
    AppendLe32(&directory, static_cast<uint32_t>(offset >> 32));
    AppendLe32(&directory, static_cast<uint32_t>(offset));
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

static size_t FillFromStdio(void *context, unsigned char *dest, size_t want) {
  return std::fread(dest, 1, want, static_cast<FILE *>(context));
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
  unsigned char trailer_bytes[kTrailerBytes];
  if (file_size < kTrailerBytes || !SeekFile(in.get(), file_size - kTrailerBytes) ||
      std::fread(trailer_bytes, 1, kTrailerBytes, in.get()) != kTrailerBytes) {
    check->problems.push_back(DescribePackageError(kPackageTooShort));
    return false;
  }
  PackageTrailer trailer = DecodeTrailer(trailer_bytes);
  uint64_t directory_bytes = 0;
  PackageError error = CheckTrailer(trailer, file_size, &directory_bytes);
  size_t array_bytes = error == kPackageOk ? DirectoryArrayBytes(trailer.count) : 0;
  if (error == kPackageOk && array_bytes == 0)
    error = kPackageNoMemory;
  if (error != kPackageOk) {
    check->problems.push_back(DescribePackageError(error));
    return false;
  }
  std::vector<ArchiveEntry> entries(static_cast<size_t>(trailer.count));
  std::vector<unsigned char> read_ahead(256 * 1024);
  int32_t bad_entry = -1;
  error = kPackageDirectoryShort;
  if (SeekFile(in.get(), trailer.directory_offset)) {
    ByteStream stream;
    InitByteStream(&stream, FillFromStdio, in.get(), read_ahead.data(), read_ahead.size(), directory_bytes);
    error = DecodeDirectory(&stream, trailer.count, entries.data(), &bad_entry);
  }
  if (error != kPackageOk) {
    check->problems.push_back("entry " + std::to_string(bad_entry) + ": " + DescribePackageError(error));
    return false;
  }
  for (int32_t i = 0; i < trailer.count; ++i) {
    const ArchiveEntry &entry = entries[static_cast<size_t>(i)];
    ListedEntry listed{entry.name, entry.size, EntryDataOffset(entry)};
    if (listed.name.empty())
      check->problems.push_back("entry " + std::to_string(i) + ": the name is empty");
    if (listed.offset > file_size || entry.size > file_size - listed.offset)
      check->problems.push_back("entry " + std::to_string(i) + ": its data lies past the end of the file");
    check->entries.push_back(listed);
  }
  return true;
}
