// The prediction of a run against a game folder: the extraction pass's rules
// (one missing folder created per entry, a backup name that must be free, the
// 260-byte path limit), the uninstall list's, the confirmation's space figure
// and the run record of an interrupted run, on the folder as it is.
#include "tools/mkupdate/game_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>

#include "archive/package_format.h"
#include "common/cp932.h"
#include "common/failure_messages.h"
#include "common/file_names.h"
#include "common/name_fold.h"
#include "common/limits.h"
#include "common/text.h"
#include "journal/backup_name.h"
#include "journal/run_record_format.h"
#include "tools/mkupdate/encoding.h"
#include "tools/mkupdate/package_builder.h"
#include "ui/space_math.h"

namespace fs = std::filesystem;

namespace {

// The folder as Windows sees it: names compared without regard to ASCII
// case, and the files the run has made so far laid over it.
struct GameFolder {
  fs::path root;
  std::map<fs::path, std::vector<fs::path>> listings; // folder -> its entries
  std::map<std::string, bool> made;                   // folded relative name -> is a folder
};

// Components of a relative name, split at its true separators.
std::vector<std::string> Components(const std::string &name) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsLeadByte932(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) {
      parts.back() += name.substr(i, 2);
      ++i;
    } else if (name[i] == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += name[i];
    }
  }
  return parts;
}

std::string FoldUtf8(const std::string &text) {
  std::string folded = text;
  for (char &c : folded) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

const std::vector<fs::path> &ListingOf(GameFolder &folder, const fs::path &dir) {
  auto found = folder.listings.find(dir);
  if (found != folder.listings.end())
    return found->second;
  std::vector<fs::path> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path());
  return folder.listings[dir] = names;
}

// The file or folder of this machine the relative name reaches, as Windows
// would find it; false when there is none.
bool FindOnDisk(GameFolder &folder, const std::string &name, fs::path *found) {
  fs::path at = folder.root;
  for (const std::string &part : Components(name)) {
    std::string utf8;
    if (!Cp932ToUtf8(part, &utf8))
      return false;
    std::string wanted = FoldUtf8(utf8);
    const std::vector<fs::path> &names = ListingOf(folder, at);
    auto match = std::find_if(names.begin(), names.end(),
                              [&](const fs::path &entry) { return FoldUtf8(entry.filename().u8string()) == wanted; });
    if (match == names.end())
      return false;
    at = *match;
  }
  *found = at;
  return true;
}

enum Presence { kAbsent, kFile, kFolder };

Presence PresenceOf(GameFolder &folder, const std::string &name) {
  auto made = folder.made.find(FoldNameCase(name.c_str()));
  if (made != folder.made.end())
    return made->second ? kFolder : kFile;
  fs::path found;
  if (!FindOnDisk(folder, name, &found))
    return kAbsent;
  std::error_code ec;
  return fs::is_directory(found, ec) ? kFolder : kFile;
}

bool IsReadOnlyOnDisk(GameFolder &folder, const std::string &name) {
  fs::path found;
  std::error_code ec;
  if (!FindOnDisk(folder, name, &found))
    return false;
  fs::perms perms = fs::status(found, ec).permissions();
  return !ec &&
         (perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
}

// The relative name's folder part, cut as the program cuts it; empty for a
// name at the top of the folder.
std::string FolderPart(const std::string &name) {
  long cut = FindLastSeparator(name.c_str());
  return cut < 0 ? std::string() : name.substr(0, static_cast<size_t>(cut));
}

std::string Utf8(const std::string &cp932) {
  std::string utf8;
  return Cp932ToUtf8(cp932, &utf8) ? utf8 : PrintableName(cp932);
}

std::string Detail(const char *message_template, const std::string &path_cp932) {
  char detail[kDetailBytes * 2];
  std::snprintf(detail, sizeof detail, message_template, Utf8(path_cp932).c_str());
  return detail;
}

void Fail(CheckedEntry *entry, const char *message_template, const std::string &path, const std::string &reason) {
  entry->action = kWouldFail;
  entry->detail = Detail(message_template, path);
  entry->reason = reason;
}

// The extraction pass's own steps for one entry, on the folder as the earlier
// entries left it.
CheckedEntry CheckEntry(GameFolder &folder, const std::string &target, const ListedEntry &listed, uint64_t package_size,
                        bool damaged) {
  CheckedEntry entry;
  entry.name = listed.name;
  const std::string &name = listed.name;
  char path[kPathBytes];
  if (JoinPath(path, sizeof path, target.c_str(), name.c_str()) != 0) {
    Fail(&entry, kCreateFailedTemplate, target + "\\" + name, "the path is longer than 259 bytes");
    return entry;
  }
  if (name.empty()) { // joins to the folder itself, which can't be moved aside
    Fail(&entry, kBackupFailedTemplate, path, "the name is empty");
    return entry;
  }
  std::string parent = FolderPart(name);
  if (!parent.empty() && PresenceOf(folder, parent) != kFolder) {
    std::string grandparent = FolderPart(parent);
    std::string parent_path = target + "\\" + parent;
    if (PresenceOf(folder, parent) == kFile) {
      Fail(&entry, kCreateFailedTemplate, parent_path, "a file is where its folder should be");
      return entry;
    }
    if (!grandparent.empty() && PresenceOf(folder, grandparent) != kFolder) {
      Fail(&entry, kCreateFailedTemplate, parent_path,
           "its folder is missing and so is the one above it (the run creates one folder per entry)");
      return entry;
    }
    folder.made[FoldNameCase(parent.c_str())] = true;
    entry.folders.push_back(parent_path);
  }
  Presence presence = PresenceOf(folder, name);
  if (presence == kAbsent) {
    entry.action = kWouldCreate;
  } else {
    char backup[kPathBytes];
    CopyText(backup, sizeof backup, path);
    if (presence == kFolder) {
      Fail(&entry, kBackupFailedTemplate, path, "a folder is in the way");
      return entry;
    }
    if (AppendBackupSuffix(backup) == nullptr) {
      Fail(&entry, kBackupFailedTemplate, path, "the backup name would be longer than 259 bytes");
      return entry;
    }
    if (PresenceOf(folder, name + kBackupSuffix) != kAbsent) {
      Fail(&entry, kBackupFailedTemplate, path,
           "\"" + Utf8(name) + kBackupSuffix + "\" is in the way (a stale backup)");
      return entry;
    }
    entry.action = kWouldReplace;
    if (IsReadOnlyOnDisk(folder, name))
      entry.reason = "read-only: replaced all the same (the new file is not read-only)";
    folder.made[FoldNameCase((name + kBackupSuffix).c_str())] = false;
  }
  folder.made[FoldNameCase(name.c_str())] = false;
  if (listed.offset > package_size || listed.size > package_size - listed.offset)
    Fail(&entry, kCopyFailedTemplate, path, "its data lies past the end of the package");
  else if (damaged)
    Fail(&entry, kCopyFailedTemplate, path, "its data does not match the package's data check");
  return entry;
}

// "Z:" and the absolute path, as Wine shows a folder of this machine.
std::string DefaultTarget(const fs::path &game) {
#ifdef _WIN32
  return game.u8string();
#else
  std::string path = "Z:" + fs::absolute(game).lexically_normal().u8string();
  std::replace(path.begin(), path.end(), '/', '\\');
  while (path.size() > 3 && path.back() == '\\')
    path.pop_back();
  return path;
#endif
}

// Takes the records of an interrupted run's record: whether the last word
// on the commit point was the commit.
int NoteRecord(void *context, char kind, const char *, size_t) {
  bool *committed = static_cast<bool *>(context);
  if (kind == kRecordCommit)
    *committed = true;
  else if (kind == kRecordAbandon)
    *committed = false;
  return 0;
}

void CheckRunRecord(GameFolder &folder, GameCheck *check) {
  fs::path found;
  if (!FindOnDisk(folder, kRunRecordFileName, &found))
    return;
  check->record_present = true;
  std::string bytes;
  if (FILE *in = std::fopen(found.string().c_str(), "rb")) {
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
      bytes.append(buffer, got);
    std::fclose(in);
  }
  // The key that sealed it is the installer's on the player's machine: here
  // the record is only looked at, not checked.
  bool committed = false;
  RunRecordState state;
  check->record_readable = ReadRunRecord(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), nullptr,
                                         NoteRecord, &committed, &state) == 0;
  check->record_committed = check->record_readable && committed;
}

void SetFailure(GameCheck *check, const char *stage, const std::string &message) {
  if (check->would_fail)
    return; // the run stops at its first failure
  check->would_fail = true;
  check->failure_stage = stage;
  check->failure = message;
}

bool IsListReadable(GameFolder &folder) {
  fs::path found;
  std::error_code ec;
  return FindOnDisk(folder, kUninstallFileName, &found) && fs::is_regular_file(found, ec);
}

const char *ActionName(CheckedAction action) {
  return action == kWouldCreate ? "create" : action == kWouldReplace ? "replace" : "fail";
}

} // namespace

bool CheckAgainstGame(const std::string &package_path, const std::string &game_dir, const std::string &target,
                      GameCheck *check) {
  std::error_code ec;
  fs::path game = fs::u8path(game_dir);
  if (!fs::is_directory(game, ec)) {
    check->error = "\"" + game_dir + "\" is not a folder";
    return false;
  }
  PackageCheck package;
  if (!CheckPackage(package_path, &package) || !CheckPackageData(package_path, &package)) {
    check->error = package.problems.empty() ? "the package can't be read" : package.problems.front();
    return false;
  }
  if (!Utf8ToCp932(target.empty() ? DefaultTarget(game) : target, &check->target)) {
    check->error = "the game folder's path has no code page 932 form";
    return false;
  }
  GameFolder folder{game, {}, {}};
  CheckRunRecord(folder, check);
  check->required_mib = RequiredMiB(SizeFigureKiB(PackageSizeFigure(package.file_size)));
  fs::space_info space = fs::space(game, ec);
  check->free_mib = ec ? 0 : BytesToMiB(space.available);
  // In the run's order: the confirmation, the list read, the copy, the list saved.
  if (IsDestinationTooLong(check->target.c_str()))
    SetFailure(check, "start", "the data directory is longer than 200 bytes: the start button stays disabled");
  if (check->free_mib < check->required_mib)
    SetFailure(check, "space", kNoSpaceMessage);
  if (!IsListReadable(folder))
    SetFailure(check, "start", kListUnreadableMessage);
  std::set<size_t> damaged(package.damaged.begin(), package.damaged.end());
  for (size_t i = 0; i < package.entries.size(); ++i) {
    CheckedEntry entry = CheckEntry(folder, check->target, package.entries[i], package.file_size, damaged.count(i) > 0);
    if (entry.action == kWouldFail && !check->would_fail) {
      SetFailure(check, "entry", std::string(kFailedWritingPrefix) + entry.detail);
      check->first_failing_entry = static_cast<int>(i);
    }
    check->entries.push_back(entry);
  }
  if (IsReadOnlyOnDisk(folder, kUninstallFileName))
    SetFailure(check, "list",
               std::string(kFailedWritingPrefix) +
                   Detail(kCannotCreateTemplate, check->target + "\\" + kUninstallFileName));
  return true;
}

std::string DescribeGameCheck(const GameCheck &check) {
  std::string text = "data directory: " + Utf8(check.target) + "\n";
  if (check.record_present)
    text += !check.record_readable   ? "run record: an interrupted run left one this program can't read: the next "
                                       "start stops with a warning\n"
            : check.record_committed ? "run record: an interrupted run had saved its list: the next start completes "
                                       "it first\n"
                                     : "run record: an interrupted run had not saved its list: the next start undoes "
                                       "it first\n";
  for (const CheckedEntry &entry : check.entries) {
    for (const std::string &made : entry.folders)
      text += "  folder    " + Utf8(made) + "\n";
    char action[16];
    std::snprintf(action, sizeof action, "  %-9s", ActionName(entry.action));
    text += action + Utf8(entry.name);
    if (!entry.reason.empty())
      text += " (" + entry.reason + ")";
    text += "\n";
  }
  char space[128];
  std::snprintf(space, sizeof space, "space: %u MiB needed, %u MiB free\n", check.required_mib, check.free_mib);
  text += space;
  if (!check.would_fail)
    return text + "result: the run would install the package\n";
  std::string where = check.failure_stage == "entry"
                          ? "at entry " + std::to_string(check.first_failing_entry) + " (" +
                                Utf8(check.entries[static_cast<size_t>(check.first_failing_entry)].name) + ")"
                      : check.failure_stage == "list"  ? "when it saves " UNINSTALL_FILE_NAME ", after the copy"
                      : check.failure_stage == "space" ? "at the confirmation"
                                                       : "before it changes anything";
  std::string said = check.failure;
  for (size_t at; (at = said.find("\r\n")) != std::string::npos;)
    said.erase(at, 1);
  return text + "result: the run would fail " + where + ", saying:\n" + said + "\n";
}

static nlohmann::ordered_json EntryJson(const CheckedEntry &entry) {
  nlohmann::ordered_json json = {{"name", Utf8(entry.name)}, {"action", ActionName(entry.action)}};
  nlohmann::ordered_json folders = nlohmann::ordered_json::array();
  for (const std::string &folder : entry.folders)
    folders.push_back(Utf8(folder));
  json["folders_created"] = folders;
  if (!entry.detail.empty())
    json["message"] = entry.detail;
  if (!entry.reason.empty())
    json["reason"] = entry.reason;
  return json;
}

static nlohmann::ordered_json RunRecordJson(const GameCheck &check) {
  if (!check.record_present)
    return nullptr;
  return !check.record_readable ? "unreadable" : check.record_committed ? "completes" : "undoes";
}

std::string GameCheckJson(const GameCheck &check) {
  nlohmann::ordered_json json = {{"data_directory", Utf8(check.target)}};
  nlohmann::ordered_json entries = nlohmann::ordered_json::array();
  for (const CheckedEntry &entry : check.entries)
    entries.push_back(EntryJson(entry));
  json["entries"] = entries;
  json["required_mib"] = check.required_mib;
  json["free_mib"] = check.free_mib;
  json["run_record"] = RunRecordJson(check);
  json["would_fail"] = check.would_fail;
  if (check.would_fail) {
    json["failure"] = {{"stage", check.failure_stage}, {"message", check.failure}};
    if (check.first_failing_entry >= 0)
      json["failure"]["entry"] = check.first_failing_entry;
  }
  // A byte that is no UTF-8 is shown replaced rather than failing the report.
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
