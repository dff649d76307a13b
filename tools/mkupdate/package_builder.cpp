// Building, listing and verifying packages; the byte rules and the data
// check come from the program's own package code.
#include "tools/mkupdate/package_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <map>
#include <set>
#include <system_error>

#include "archive/data_check.h"
#include "archive/hash.h"
#include "archive/package_format.h"
#include "archive/package_signature.h"
#include "archive/sha256.h"
#include "common/ecdsa.h"
#include "common/cp932.h"
#include "common/file_names.h"
#include "common/name_fold.h"
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

// UTF-8 components to code page 932, joined with '\'; false when one has no
// code page 932 form.
static bool ConvertRelativeName(const fs::path &relative, std::string *name) {
  name->clear();
  for (const fs::path &part : relative) {
    std::string converted;
    if (!Utf8ToCp932(part.u8string(), &converted))
      return false;
    if (!name->empty())
      *name += '\\';
    *name += converted;
  }
  return true;
}

// The package name of a relative path, refused as a package must refuse it.
static bool PackageNameOf(const fs::path &relative, PackFile *file, BuildReport *report) {
  std::string name;
  if (!ConvertRelativeName(relative, &name)) {
    report->error = "\"" + relative.u8string() + "\": the name has no code page 932 form";
    return false;
  }
  file->name = name;
  file->relative = relative;
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

// The folder part of a package name, cut as the install program cuts it.
static std::string FolderOf(const std::string &name) {
  long cut = FindLastSeparator(name.c_str());
  return cut < 0 ? std::string() : name.substr(0, static_cast<size_t>(cut));
}

// Two files whose names Windows takes for one (Readme.txt and README.TXT),
// or a file named as another's folder, can't both reach the game folder:
// one would be lost, or the run would fail.
static bool RefuseNamesThatMeet(const std::vector<PackFile> &files, BuildReport *report) {
  std::map<std::string, const PackFile *> by_name;
  for (const PackFile &file : files) {
    auto added = by_name.emplace(FoldNameCase(file.name.c_str()), &file);
    if (!added.second) {
      report->error = "\"" + added.first->second->display + "\" and \"" + file.display +
                      "\": Windows takes these names for one, so one of the files would be lost";
      return false;
    }
  }
  for (const PackFile &file : files) {
    for (std::string folder = FolderOf(file.name); !folder.empty(); folder = FolderOf(folder)) {
      auto named = by_name.find(FoldNameCase(folder.c_str()));
      if (named != by_name.end()) {
        report->error =
            "\"" + named->second->display + "\" is a file, and \"" + file.display + "\" needs a folder of that name";
        return false;
      }
    }
  }
  return true;
}

// One file met in the game folder: skipped with a warning when it is not a
// regular file, refused when its name or size can't go in a package.
static bool AddPackFile(const std::string &folder, const fs::directory_entry &entry, std::vector<PackFile> *files,
                        BuildReport *report) {
  std::error_code ec;
  if (entry.is_directory(ec))
    return true;
  if (!entry.is_regular_file(ec)) {
    report->warnings.push_back("skipped \"" + entry.path().u8string() + "\": not a regular file");
    return true;
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
  return true;
}

// A name that is another's backup name, or the run record's, would be lost.
static bool RefuseBackupNameClashes(const std::vector<PackFile> &files, BuildReport *report) {
  std::vector<const char *> names;
  for (const PackFile &file : files)
    names.push_back(file.name.c_str());
  int32_t clash = -1;
  PackageError error = CheckBackupNameClashes(names.data(), static_cast<int32_t>(names.size()), &clash);
  if (error == kPackageReservedName) {
    report->error = "\"" + files[static_cast<size_t>(clash)].display +
                    "\": the installer keeps its run record under this name in the game folder";
    return false;
  }
  if (error != kPackageOk) {
    report->error =
        "\"" + files[static_cast<size_t>(clash)].display +
        "\": the package would also replace the file this name is the backup of (\"X\" and \"X" BACKUP_SUFFIX "\", "
        "letter case and full-width letters compared as Windows compares them), and finishing would "
        "delete it";
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
    if (!AddPackFile(folder, *it, files, report))
      return false;
  }
  if (files->empty()) {
    report->error = "\"" + folder + "\" holds no file";
    return false;
  }
  std::sort(files->begin(), files->end(), [](const PackFile &a, const PackFile &b) {
    size_t da = Depth(a.name), db = Depth(b.name);
    return da != db ? da < db : a.name < b.name;
  });
  return RefuseNamesThatMeet(*files, report) && RefuseBackupNameClashes(*files, report);
}

void WarnAboutUncreatedDirectories(const std::vector<PackFile> &files, BuildReport *report,
                                   const std::set<std::string> &existing_folders) {
  std::set<std::string> creatable = existing_folders;
  creatable.insert("");
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

// Whether two files of the given size hold the same bytes; false with
// *error set when one cannot be read.
static bool SameBytes(const fs::path &a, const fs::path &b, uint64_t size, bool *same, std::string *error) {
  FilePtr in_a(OpenForReading(a));
  FilePtr in_b(OpenForReading(b));
  if (!in_a || !in_b) {
    *error = "cannot read \"" + (in_a ? b : a).u8string() + "\"";
    return false;
  }
  std::unique_ptr<char[]> buffer_a(new char[kCopyBytes]);
  std::unique_ptr<char[]> buffer_b(new char[kCopyBytes]);
  *same = true;
  for (uint64_t done = 0; done < size && *same;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBytes, size - done));
    if (std::fread(buffer_a.get(), 1, want, in_a.get()) != want ||
        std::fread(buffer_b.get(), 1, want, in_b.get()) != want) {
      *error = "\"" + a.u8string() + "\" or \"" + b.u8string() + "\" changed or could not be read while comparing";
      return false;
    }
    *same = std::memcmp(buffer_a.get(), buffer_b.get(), want) == 0;
    done += want;
  }
  return true;
}

// The old folder as Windows sees it: its files and folders by folded package
// name (those without a code page 932 form can hold no packed file and are
// left out of the names).
struct OldFolder {
  std::map<std::string, fs::path> files;                       // folded name -> path under the old folder
  std::map<std::string, std::string> folders;                  // folded name -> package name
  std::vector<std::pair<std::string, fs::path>> unnamed_files; // no code page 932 form
};

static bool SurveyOldFolder(const fs::path &base, OldFolder *old, BuildReport *report) {
  std::error_code ec;
  fs::recursive_directory_iterator it(base, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry &entry = *it;
    fs::path relative = entry.path().lexically_relative(base);
    std::string name;
    bool named = ConvertRelativeName(relative, &name);
    if (entry.is_directory(ec)) {
      if (named)
        old->folders[FoldNameCase(name.c_str())] = name;
    } else if (entry.is_regular_file(ec)) {
      if (named)
        old->files[FoldNameCase(name.c_str())] = relative;
      else
        old->unnamed_files.emplace_back(relative.u8string(), relative);
    }
  }
  if (ec) {
    report->error = "\"" + base.u8string() + "\": " + ec.message();
    return false;
  }
  return true;
}

// Whether the new file differs from the old folder's file of the same name
// as Windows compares names (a missing old file differs). *added when it is
// missing.
static bool DiffersFromBase(const PackFile &file, const fs::path &base, const OldFolder &old, bool *differs,
                            bool *added, std::string *error) {
  auto found = old.files.find(FoldNameCase(file.name.c_str()));
  *added = found == old.files.end();
  if (*added) {
    *differs = true;
    return true;
  }
  fs::path old_path = base / found->second;
  std::error_code ec;
  uint64_t old_size = fs::file_size(old_path, ec);
  if (ec) {
    *error = "\"" + old_path.u8string() + "\": " + ec.message();
    return false;
  }
  if (old_size != file.size) {
    *differs = true;
    return true;
  }
  bool same = false;
  if (!SameBytes(file.source, old_path, file.size, &same, error))
    return false;
  *differs = !same;
  return true;
}

// The old folder's files that no new file names: the package can't delete them.
static void NoteRemovedFiles(const OldFolder &old, const std::vector<PackFile> &files, BaseDiff *diff,
                             BuildReport *report) {
  std::set<std::string> packed;
  for (const PackFile &file : files)
    packed.insert(FoldNameCase(file.name.c_str()));
  for (const auto &old_file : old.files)
    if (!packed.count(old_file.first))
      diff->removed.push_back(old_file.second.u8string());
  for (const auto &unnamed : old.unnamed_files)
    diff->removed.push_back(unnamed.first);
  std::sort(diff->removed.begin(), diff->removed.end());
  for (const std::string &name : diff->removed)
    report->warnings.push_back("\"" + name +
                               "\" is in the old folder but not in the new one: a package can't delete files, "
                               "so it stays in the game's folder");
}

bool KeepChangedFiles(const std::string &base_folder, const std::string &new_folder, std::vector<PackFile> *files,
                      BaseDiff *diff, BuildReport *report) {
  std::error_code ec;
  if (!fs::is_directory(base_folder, ec)) {
    report->error = "\"" + base_folder + "\" is not a folder";
    return false;
  }
  OldFolder old;
  if (!SurveyOldFolder(base_folder, &old, report))
    return false;
  for (const auto &folder : old.folders)
    diff->existing_folders.insert(folder.second);
  NoteRemovedFiles(old, *files, diff, report);
  std::vector<PackFile> kept;
  for (const PackFile &file : *files) {
    if (old.folders.count(FoldNameCase(file.name.c_str()))) {
      report->error = "\"" + file.display +
                      "\" is a folder in the old game: the installer can't put a file in "
                      "its place, and the run would fail";
      return false;
    }
    bool differs = false, added = false;
    if (!DiffersFromBase(file, base_folder, old, &differs, &added, &report->error))
      return false;
    if (!differs) {
      diff->unchanged.push_back(file.display);
      continue;
    }
    (added ? diff->added : diff->changed).push_back(file.display);
    kept.push_back(file);
  }
  if (kept.empty()) {
    report->error = "nothing to pack: every file of \"" + new_folder + "\" is the same in \"" + base_folder + "\"";
    return false;
  }
  *files = kept;
  return true;
}

static bool WriteAll(FILE *out, const void *bytes, size_t length) {
  return length == 0 || std::fwrite(bytes, 1, length, out) == length;
}

// The package being written: "<output>.part", deleted when it goes out of
// scope unless it was put in place.
class PartFile {
public:
  explicit PartFile(const std::string &output) : output_(output), path_(output + ".part") {}
  PartFile(const PartFile &) = delete;
  PartFile &operator=(const PartFile &) = delete;
  ~PartFile() {
    out_.reset();
    if (!placed_) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }
  bool Open() { return (out_ = FilePtr(std::fopen(path_.c_str(), "wb"))) != nullptr; }
  FILE *get() const { return out_.get(); }
  const std::string &path() const { return path_; }
  // Closes the file, then renames it over the output.
  bool Place(std::string *error) {
    FILE *raw = out_.release();
    if (std::fclose(raw) != 0) {
      *error = WriteError();
      return false;
    }
    std::error_code ec;
    fs::rename(path_, output_, ec);
    if (ec) {
      *error = "cannot replace \"" + output_ + "\": " + ec.message();
      return false;
    }
    placed_ = true;
    return true;
  }
  std::string WriteError() const { return "cannot write \"" + path_ + "\" (disk full?)"; }

private:
  std::string output_, path_;
  FilePtr out_;
  bool placed_ = false;
};

// Copies one file's bytes into the package, hashing them as they are
// copied (the bytes in the package are the bytes hashed); with sha, their
// SHA-256 too.
static bool CopyIntoPackage(const PackFile &file, PartFile *out, char *buffer, uint64_t *hash, Sha256 *sha,
                            std::string *error, const std::function<void(uint64_t)> &copied_so_far) {
  FilePtr in(OpenForReading(file.source));
  if (!in) {
    *error = "cannot read \"" + file.display + "\"";
    return false;
  }
  DataHasher hasher;
  InitDataHasher(&hasher);
  for (uint64_t copied = 0; copied < file.size;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBytes, file.size - copied));
    if (std::fread(buffer, 1, want, in.get()) != want) {
      *error = "\"" + file.display + "\" changed or could not be read while packing";
      return false;
    }
    UpdateDataHasher(&hasher, buffer, want);
    if (sha)
      UpdateSha256(sha, reinterpret_cast<const unsigned char *>(buffer), want);
    if (!WriteAll(out->get(), buffer, want)) {
      *error = out->WriteError();
      return false;
    }
    copied += want;
    copied_so_far(copied);
  }
  *hash = DataHasherDigest(&hasher);
  return true;
}

// What follows the data: the directory, the data check block, the trailer.
static bool EncodeTail(const std::string &directory, const std::vector<uint64_t> &hashes, uint64_t directory_offset,
                       std::string *tail) {
  int32_t count = static_cast<int32_t>(hashes.size());
  size_t block_bytes = DataCheckBytes(count);
  if (block_bytes == 0)
    return false;
  *tail = directory;
  tail->resize(directory.size() + block_bytes + kTrailerBytes);
  unsigned char *block = reinterpret_cast<unsigned char *>(&(*tail)[directory.size()]);
  if (EncodeDataCheck(hashes.data(), count, HashBytes(directory.data(), directory.size()), block, block_bytes) !=
      block_bytes)
    return false;
  EncodeTrailer(PackageTrailer{directory_offset, count}, block + block_bytes);
  return true;
}

bool SignPackageTail(const std::vector<unsigned char> &data_hashes, const std::string &tail, const SigningKey &key,
                     std::string *block, std::string *error) {
  int32_t count = static_cast<int32_t>(data_hashes.size() / kSignatureHashBytes);
  size_t bytes = SignatureBlockBytes(count);
  if (bytes == 0) {
    *error = "too many files for a signature block";
    return false;
  }
  block->assign(bytes, '\0');
  unsigned char *at = reinterpret_cast<unsigned char *>(&(*block)[0]);
  unsigned char key_id[kSignatureKeyIdBytes];
  PublisherKeyId(key.public_key, key_id);
  EncodeSignatureBlock(count, key_id, data_hashes.data(), at);
  Sha256 sha;
  BeginSignedDigest(&sha, at, bytes);
  UpdateSha256(&sha, reinterpret_cast<const unsigned char *>(tail.data()), tail.size());
  unsigned char digest[kSha256DigestBytes];
  FinishSha256(&sha, digest);
  unsigned char *signature = at + bytes - kSignatureBytes;
  if (!SignEcdsaDigest(key.private_key, key.public_key, digest, signature)) {
    *error = "signing failed: the key file does not hold a valid key pair";
    return false;
  }
  return true;
}

bool WritePackage(const std::vector<PackFile> &files, const std::string &output, BuildReport *report,
                  const std::function<void(uint64_t, uint64_t)> &progress, const SigningKey *key) {
  uint64_t total = 0;
  for (const PackFile &file : files)
    total += file.size;
  PartFile out(output);
  if (!out.Open()) {
    report->error = "cannot create \"" + out.path() + "\"";
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kCopyBytes]);
  std::string directory;
  std::vector<uint64_t> hashes;
  std::vector<unsigned char> signed_hashes;
  uint64_t offset = 0;
  for (const PackFile &file : files) {
    uint64_t hash = 0;
    Sha256 sha;
    InitSha256(&sha);
    auto copied_so_far = [&](uint64_t copied) {
      if (progress)
        progress(offset + copied, total);
    };
    if (!CopyIntoPackage(file, &out, buffer.get(), &hash, key ? &sha : nullptr, &report->error, copied_so_far))
      return false;
    if (key) {
      signed_hashes.resize(signed_hashes.size() + kSha256DigestBytes);
      FinishSha256(&sha, &signed_hashes[signed_hashes.size() - kSha256DigestBytes]);
    }
    unsigned char record[kMaxEntryBytes];
    size_t record_bytes =
        EncodeEntry(file.name.data(), file.name.size(), static_cast<uint32_t>(file.size), offset, record);
    directory.append(reinterpret_cast<const char *>(record), record_bytes);
    hashes.push_back(hash);
    offset += file.size;
  }
  std::string tail, block;
  uint64_t block_bytes = key ? SignatureBlockBytes(static_cast<int32_t>(files.size())) : 0;
  if (!EncodeTail(directory, hashes, offset + block_bytes, &tail)) {
    report->error = "too many files for a data check block";
    return false;
  }
  if (key && !SignPackageTail(signed_hashes, tail, *key, &block, &report->error))
    return false;
  if (!WriteAll(out.get(), block.data(), block.size()) || !WriteAll(out.get(), tail.data(), tail.size()) ||
      std::fflush(out.get()) != 0) {
    report->error = out.WriteError();
    return false;
  }
  if (!out.Place(&report->error))
    return false;
  report->package_bytes = offset + block.size() + tail.size();
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

std::string HexBytes(const unsigned char *bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

// Reads the signature block, if any; false when the file could not be read.
static bool ListSignature(const PackageSource &source, ListedSignature *listed) {
  PackageTrailer trailer;
  if (!ReadPackageTrailer(source, &trailer))
    return false;
  listed->finding = ReadSignatureBlock(source, trailer, &listed->block);
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(listed->block.data_hashes, &std::free);
  listed->block.data_hashes = nullptr;
  if (listed->finding == kSignatureFound)
    listed->hashes.assign(owned.get(), owned.get() + static_cast<size_t>(trailer.count) * kSignatureHashBytes);
  return listed->finding != kSignatureUnreadable;
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
  uint64_t *hashes = nullptr;
  int32_t count = 0;
  int32_t bad_entry = -1;
  PackageError error = ReadPackageDirectory(source, &entries, &count, &bad_entry, &hashes);
  if (error != kPackageOk) {
    std::string where = bad_entry >= 0 ? "entry " + std::to_string(bad_entry) + ": " : "";
    check->problems.push_back(where + DescribePackageError(error));
    return false;
  }
  std::unique_ptr<ArchiveEntry, decltype(&std::free)> owned(entries, &std::free);
  std::unique_ptr<uint64_t, decltype(&std::free)> owned_hashes(hashes, &std::free);
  if (hashes)
    check->hashes.assign(hashes, hashes + count);
  if (!ListSignature(source, &check->signature)) {
    check->problems.push_back(std::string("\"") + path + "\": " + DescribePackageError(kPackageCannotOpen));
    return false;
  }
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

// XXH3-64 and SHA-256 of size bytes at offset; false when they cannot all
// be read.
static bool HashFileRange(FILE *file, uint64_t offset, uint64_t size, char *buffer, uint64_t *hash,
                          unsigned char sha256[kSha256DigestBytes], const std::function<void(uint64_t)> &read) {
  if (!SeekFile(file, offset))
    return false;
  DataHasher hasher;
  InitDataHasher(&hasher);
  Sha256 sha;
  InitSha256(&sha);
  for (uint64_t done = 0; done < size;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBytes, size - done));
    if (std::fread(buffer, 1, want, file) != want)
      return false;
    UpdateDataHasher(&hasher, buffer, want);
    if (sha256)
      UpdateSha256(&sha, reinterpret_cast<const unsigned char *>(buffer), want);
    done += want;
    read(want);
  }
  *hash = DataHasherDigest(&hasher);
  if (sha256)
    FinishSha256(&sha, sha256);
  return true;
}

bool CheckPackageData(const std::string &path, PackageCheck *check,
                      const std::function<void(uint64_t, uint64_t)> &progress) {
  const std::vector<unsigned char> &signed_hashes = check->signature.hashes;
  if (check->hashes.empty() && signed_hashes.empty())
    return true;
  FilePtr in(std::fopen(path.c_str(), "rb"));
  if (!in) {
    check->problems.push_back(std::string("\"") + path + "\": " + DescribePackageError(kPackageCannotOpen));
    return false;
  }
  uint64_t total = 0, done = 0;
  for (const ListedEntry &entry : check->entries)
    total += entry.size;
  auto read = [&](uint64_t bytes) {
    done += bytes;
    if (progress)
      progress(done, total);
  };
  std::unique_ptr<char[]> buffer(new char[kCopyBytes]);
  for (size_t i = 0; i < check->entries.size(); ++i) {
    const ListedEntry &entry = check->entries[i];
    if (entry.offset > check->file_size || entry.size > check->file_size - entry.offset)
      continue; // CheckPackage has reported it
    uint64_t hash = 0;
    unsigned char sha256[kSha256DigestBytes];
    bool signed_entry = (i + 1) * kSignatureHashBytes <= signed_hashes.size();
    std::string where = "entry " + std::to_string(i) + " \"" + PrintableName(entry.name) + "\": ";
    if (!HashFileRange(in.get(), entry.offset, entry.size, buffer.get(), &hash, signed_entry ? sha256 : nullptr,
                       read)) {
      check->problems.push_back(where + "its data could not be read");
      return false;
    }
    if (i < check->hashes.size() && hash != check->hashes[i]) {
      check->damaged.push_back(i);
      check->problems.push_back(where + "its data does not match the data check: damaged");
    }
    if (signed_entry && std::memcmp(sha256, &signed_hashes[i * kSignatureHashBytes], sizeof sha256) != 0) {
      check->signed_mismatch.push_back(i);
      check->problems.push_back(where + "its data does not match the hash its signature covers");
    }
  }
  return true;
}
