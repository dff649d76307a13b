// The prediction of a run against a game folder: the run's own rules
// (archive/run_rules.h: the path limit, the backup name that must be free,
// which entries replace and which create; the space figure; the failure
// texts) applied to a copy of the folder, with the settling of an
// interrupted run's record first. What is this tool's own: reading a folder
// of this machine as Windows would see it, and the report.
#include "tools/mkupdate/game_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <system_error>
#include <utility>

#include "archive/package_format.h"
#include "archive/run_rules.h"
#include "common/cp932.h"
#include "common/failure_messages.h"
#include "common/name_fold.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/backup_name.h"
#include "journal/run_record_format.h"
#include "journal/uninstall_codec.h"
#include "tools/mkupdate/encoding.h"
#include "tools/mkupdate/package_builder.h"
#include "ui/space_math.h"

namespace fs = std::filesystem;

namespace {

enum Presence { kAbsent, kFile, kFolder };

// A name in a folder of this machine, in code page 932 (empty when it has
// no such form: no entry can name it) and folded as Windows compares names.
struct DiskName {
  fs::path path;
  std::string name;
  std::string folded;
};

// The folder as Windows sees it: names compared as Windows compares them,
// and what the settling and the run change laid over it.
struct GameFolder {
  fs::path root;
  std::map<fs::path, std::vector<DiskName>> listings; // folder -> its entries
  std::map<std::string, Presence> changed;            // folded relative name -> what is there now
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

const std::vector<DiskName> &ListingOf(GameFolder &folder, const fs::path &dir) {
  auto found = folder.listings.find(dir);
  if (found != folder.listings.end())
    return found->second;
  std::vector<DiskName> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    DiskName entry{it->path(), "", ""};
    if (Utf8ToCp932(entry.path.filename().u8string(), &entry.name))
      entry.folded = FoldNameCase(entry.name.c_str());
    names.push_back(entry);
  }
  return folder.listings[dir] = names;
}

// The file or folder of this machine the relative name reaches, as Windows
// would find it; false when there is none. crossed_link: whether a step on
// the way (the end included) is a symbolic link.
bool FindOnDisk(GameFolder &folder, const std::string &name, fs::path *found, bool *crossed_link = nullptr) {
  fs::path at = folder.root;
  for (const std::string &part : Components(name)) {
    std::string wanted = FoldNameCase(part.c_str());
    const std::vector<DiskName> &names = ListingOf(folder, at);
    auto match = std::find_if(names.begin(), names.end(),
                              [&](const DiskName &entry) { return !entry.name.empty() && entry.folded == wanted; });
    if (part.empty() || match == names.end())
      return false;
    at = match->path;
    std::error_code ec;
    if (crossed_link != nullptr && fs::is_symlink(at, ec))
      *crossed_link = true;
  }
  *found = at;
  return true;
}

// True when a step from the folder to the name (the name included) is a
// symbolic link, which the program would not follow.
bool CrossesLink(GameFolder &folder, const std::string &name) {
  fs::path found;
  bool crossed = false;
  FindOnDisk(folder, name, &found, &crossed);
  return crossed;
}

Presence PresenceOf(GameFolder &folder, const std::string &name) {
  auto changed = folder.changed.find(FoldNameCase(name.c_str()));
  if (changed != folder.changed.end())
    return changed->second;
  fs::path found;
  if (!FindOnDisk(folder, name, &found))
    return kAbsent;
  std::error_code ec;
  return fs::is_directory(found, ec) ? kFolder : kFile;
}

void SetPresence(GameFolder &folder, const std::string &name, Presence presence) {
  folder.changed[FoldNameCase(name.c_str())] = presence;
}

// A file as it is on the disk here: one the settling or the run made is not.
bool IsReadOnlyOnDisk(GameFolder &folder, const std::string &name) {
  fs::path found;
  std::error_code ec;
  if (folder.changed.count(FoldNameCase(name.c_str())) > 0 || !FindOnDisk(folder, name, &found))
    return false;
  fs::perms perms = fs::status(found, ec).permissions();
  return !ec &&
         (perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
}

// True when nothing is left in the folder the relative name reaches.
bool IsEmptyFolder(GameFolder &folder, const std::string &name) {
  fs::path found;
  if (!FindOnDisk(folder, name, &found))
    return true;
  for (const DiskName &entry : ListingOf(folder, found)) {
    if (entry.name.empty() || PresenceOf(folder, name + "\\" + entry.name) != kAbsent)
      return false;
  }
  return true;
}

// The relative name's folder part, cut as the program cuts it; empty for a
// name at the top of the folder.
std::string FolderPart(const std::string &name) {
  long cut = FindLastSeparator(name.c_str());
  return cut < 0 ? std::string() : name.substr(0, static_cast<size_t>(cut));
}

// The folder and a name joined as the program joins them.
std::string Joined(const std::string &folder, const std::string &name) {
  return folder + (EndsWithSeparator(folder.c_str()) ? "" : "\\") + name;
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

std::string LongerThan(int bytes) { return "longer than " + std::to_string(bytes) + " bytes"; }

// The entry's folder as the pass meets it: there, or created when the one
// above it is there (the pass creates one missing folder per entry). false
// after a failure.
bool CheckEntryFolder(GameFolder &folder, const std::string &target, const std::string &name, CheckedEntry *entry) {
  std::string parent = FolderPart(name);
  Presence presence = parent.empty() ? kFolder : PresenceOf(folder, parent);
  if (presence == kFolder)
    return true;
  std::string parent_path = Joined(target, parent);
  std::string above = FolderPart(parent);
  if (presence == kFile)
    Fail(entry, kCreateFailedTemplate, parent_path, "a file is where its folder should be");
  else if (!above.empty() && PresenceOf(folder, above) != kFolder)
    Fail(entry, kCreateFailedTemplate, parent_path,
         "its folder is missing and so is the one above it (the run creates one folder per entry)");
  if (entry->action == kWouldFail)
    return false;
  SetPresence(folder, parent, kFolder);
  entry->folders.push_back(parent_path);
  return true;
}

std::string RefusalReason(BackupRefusal refusal, const std::string &name) {
  if (refusal == kBackupFolderInTheWay)
    return "a folder is in the way";
  if (refusal == kBackupNameTooLong)
    return "the backup name would be " + LongerThan(kPathBytes - 1);
  return "\"" + Utf8(name) + kBackupSuffix + "\" is in the way (a stale backup)";
}

// The entry's file as the pass meets it: created when it is not there,
// otherwise moved to its backup name when JudgeBackup allows. false after a
// failure.
bool CheckEntryFile(GameFolder &folder, const std::string &name, const char *path, CheckedEntry *entry) {
  Presence presence = PresenceOf(folder, name);
  entry->action = presence == kAbsent ? kWouldCreate : kWouldReplace;
  if (presence != kAbsent) {
    char backup[kPathBytes];
    CopyText(backup, sizeof backup, path);
    const std::string backup_name = name + kBackupSuffix;
    BackupRefusal refusal = JudgeBackup(presence == kFolder, AppendBackupSuffix(backup) != nullptr,
                                        PresenceOf(folder, backup_name) != kAbsent);
    if (refusal != kBackupAllowed) {
      Fail(entry, kBackupFailedTemplate, path, RefusalReason(refusal, name));
      return false;
    }
    if (IsReadOnlyOnDisk(folder, name))
      entry->reason = "read-only: replaced all the same (the new file is not read-only)";
    SetPresence(folder, backup_name, kFile);
  }
  SetPresence(folder, name, kFile);
  return true;
}

// The extraction pass's own steps for one entry, on the folder as the earlier
// entries left it.
CheckedEntry CheckEntry(GameFolder &folder, const std::string &target, const ListedEntry &listed, uint64_t package_size,
                        bool damaged) {
  CheckedEntry entry;
  entry.name = listed.name;
  char path[kPathBytes];
  char whole[kWholeEntryPathBytes];
  if (JoinEntryPath(path, whole, target.c_str(), listed.name.c_str()) != 0)
    Fail(&entry, kCreateFailedTemplate, whole, "the path is " + LongerThan(kPathBytes - 1));
  else if (listed.name.empty()) // joins to the folder itself, which can't be moved aside
    Fail(&entry, kBackupFailedTemplate, path, "the name is empty");
  if (entry.action == kWouldFail || !CheckEntryFolder(folder, target, listed.name, &entry) ||
      !CheckEntryFile(folder, listed.name, path, &entry))
    return entry;
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

// What an interrupted run's record says, taken as the next start takes it.
struct RecordedRun {
  GameFolder &folder;
  const std::string &target;
  std::vector<std::pair<char, std::string>> changes; // folders, created and replaced files, in order
  std::string temporary;                             // the new list's temporary file
  std::string previous;                              // the list's copy before an in-place rewrite
  bool committed = false;
  bool refused = false; // a path the start refuses to act on
};

int NoteRecord(void *context, char kind, const char *path, size_t length) {
  RecordedRun &run = *static_cast<RecordedRun *>(context);
  if (kind == kRecordAbandon) {
    run.committed = false;
    return 0;
  }
  std::string relative(path, length);
  char full[kPathBytes];
  if (!IsRecordedPathAccepted(kind, path, length) || JoinPath(full, sizeof full, run.target.c_str(), path) != 0 ||
      CrossesLink(run.folder, relative)) {
    run.refused = true;
    return -1;
  }
  if (kind == kRecordListTemp || kind == kRecordCommit)
    run.temporary = relative;
  else if (kind == kRecordPreviousList)
    run.previous = relative;
  else
    run.changes.emplace_back(kind, relative);
  run.committed = run.committed || kind == kRecordCommit;
  return 0;
}

// Completion as the start does it: the new list in place, the list's copy
// and the run's backups gone.
void CompleteRecordedRun(GameFolder &folder, const RecordedRun &run) {
  if (!run.temporary.empty() && PresenceOf(folder, run.temporary) == kFile) {
    SetPresence(folder, run.temporary, kAbsent);
    SetPresence(folder, kUninstallFileName, kFile);
  }
  if (!run.previous.empty())
    SetPresence(folder, run.previous, kAbsent);
  for (const auto &change : run.changes) {
    if (change.first == kRecordReplacing)
      SetPresence(folder, change.second + kBackupSuffix, kAbsent);
  }
}

// The undo as the start does it, last change first: backups put back, the
// files it created deleted, its folders removed when empty; then the list's
// temporary file goes and its copy comes back.
void UndoRecordedRun(GameFolder &folder, const RecordedRun &run) {
  for (auto change = run.changes.rbegin(); change != run.changes.rend(); ++change) {
    const std::string &name = change->second;
    if (change->first == kRecordReplacing && PresenceOf(folder, name + kBackupSuffix) == kFile) {
      SetPresence(folder, name + kBackupSuffix, kAbsent);
      SetPresence(folder, name, kFile);
    } else if (change->first == kRecordCreated) {
      // Only a file recorded as created is removed; one the run was only
      // about to create stays (unless empty, which this check can't tell).
      SetPresence(folder, name, kAbsent);
    } else if (change->first == kRecordDirectory && PresenceOf(folder, name) == kFolder &&
               IsEmptyFolder(folder, name)) {
      SetPresence(folder, name, kAbsent);
    }
  }
  if (!run.temporary.empty())
    SetPresence(folder, run.temporary, kAbsent);
  if (!run.previous.empty() && PresenceOf(folder, run.previous) == kFile) {
    SetPresence(folder, run.previous, kAbsent);
    SetPresence(folder, kUninstallFileName, kFile);
  }
}

std::string ReadWholeFile(const fs::path &path) {
  std::string bytes;
  if (FILE *in = std::fopen(path.string().c_str(), "rb")) {
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
      bytes.append(buffer, got);
    std::fclose(in);
  }
  return bytes;
}

// Whether a name ending in the backup suffix lies in the folder or below:
// beside a record cut before its plan's end, the start refuses the record.
bool AnyBackupIn(const fs::path &root) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() > kBackupSuffixBytes &&
        name.compare(name.size() - kBackupSuffixBytes, kBackupSuffixBytes, kBackupSuffix) == 0)
      return true;
  }
  return false;
}

// The record's fate and its settling laid over the folder. The key that
// sealed it is the one of the machine that ran the program: here the record
// is only read, not checked, and a record with a header is obeyed only if
// that key sealed it.
void SettleRunRecord(GameFolder &folder, GameCheck *check) {
  fs::path found;
  if (!FindOnDisk(folder, kRunRecordFileName, &found))
    return;
  check->record_present = true;
  std::string bytes = ReadWholeFile(found);
  RecordedRun run{folder, check->target, {}, {}, {}};
  RunRecordState state;
  check->record_readable = ReadRunRecord(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                                         check->target.c_str(), nullptr, NoteRecord, &run, &state) == 0 &&
                           !run.refused;
  check->record_committed = check->record_readable && run.committed;
  bool anything = !run.changes.empty() || !run.temporary.empty() || !run.previous.empty();
  check->record_unverified = check->record_readable && state.has_header;
  if (!check->record_readable)
    check->record_fate = kRecordIgnored;
  else if (!state.has_header || !state.plan_whole)
    check->record_fate = AnyBackupIn(folder.root) ? kRecordIgnored : kRecordRemoved;
  else if (!anything)
    check->record_fate = kRecordRemoved;
  else
    check->record_fate = run.committed ? kRecordCompleted : kRecordUndone;
  if (check->record_fate == kRecordCompleted)
    CompleteRecordedRun(folder, run);
  else if (check->record_fate == kRecordUndone)
    UndoRecordedRun(folder, run);
}

void SetFailure(RunEnd *end, const char *stage, const std::string &message) {
  if (end->would_fail)
    return; // the run stops at its first failure
  end->would_fail = true;
  end->failure_stage = stage;
  end->failure = message;
}

// The run on the folder as the start left it, in its order: the
// confirmation, the list read, the copy, the list saved.
void PredictRun(GameFolder &folder, const PackageCheck &package, const GameCheck &check, RunEnd *end,
                std::vector<CheckedEntry> *entries) {
  if (check.signature_refusal != kPackageOk)
    SetFailure(end, "start", Detail(kPackageUnconfirmedTemplate, check.package_cp932));
  if (IsDestinationTooLong(check.target.c_str()))
    SetFailure(end, "start",
               "the data directory is " + LongerThan(kLongestDestination) + ": the start button stays disabled");
  if (check.free_mib < check.required_mib)
    SetFailure(end, "space", kNoSpaceMessage);
  if (PresenceOf(folder, kUninstallFileName) != kFile)
    SetFailure(end, "start", kListUnreadableMessage);
  std::set<size_t> damaged(package.damaged.begin(), package.damaged.end());
  if (check.signature_refusal == kPackageOk && check.checks_signature)
    damaged.insert(package.signed_mismatch.begin(), package.signed_mismatch.end());
  for (size_t i = 0; i < package.entries.size(); ++i) {
    CheckedEntry entry = CheckEntry(folder, check.target, package.entries[i], package.file_size, damaged.count(i) > 0);
    if (entry.action == kWouldFail && !end->would_fail) {
      SetFailure(end, "entry", std::string(kFailedWritingPrefix) + entry.detail);
      end->first_failing_entry = static_cast<int>(i);
    }
    entries->push_back(entry);
  }
  if (IsReadOnlyOnDisk(folder, kUninstallFileName))
    SetFailure(end, "list",
               std::string(kFailedWritingPrefix) +
                   Detail(kCannotCreateTemplate, Joined(check.target, kUninstallFileName)));
}

const char *ActionName(CheckedAction action) {
  return action == kWouldCreate ? "create" : action == kWouldReplace ? "replace" : "fail";
}

} // namespace

bool CheckAgainstGame(const std::string &package_path, const std::string &game_dir, const std::string &target,
                      GameCheck *check, const unsigned char *program_key) {
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
  if (program_key) {
    check->checks_signature = true;
    check->signature_refusal = JudgeSignature(package.signature.finding, package.signature.block, program_key);
    if (!Utf8ToCp932(package_path, &check->package_cp932))
      check->package_cp932 = kPackageFileName;
  }
  check->required_mib = RequiredMiB(SizeFigureKiB(PackageSizeFigure(package.file_size)));
  fs::space_info space = fs::space(game, ec);
  check->free_mib = ec ? 0 : BytesToMiB(space.available);
  GameFolder folder{game, {}, {}};
  SettleRunRecord(folder, check);
  PredictRun(folder, package, *check, check, &check->entries);
  if (check->record_unverified) {
    GameFolder as_it_is{game, {}, {}};
    std::vector<CheckedEntry> entries;
    PredictRun(as_it_is, package, *check, &check->if_refused, &entries);
  }
  return true;
}

namespace {

const char *const kRecordFates[] = {
    "",
    "run record: an interrupted run had saved its list: the next start asks, then completes it (its backups go, "
    "its list goes in place)",
    "run record: an interrupted run had not saved its list: the next start asks, then undoes it",
    "run record: an interrupted run changed nothing: the next start removes the record without a word",
    "run record: the next start refuses the one an interrupted run left (not of this program's format, or it names "
    "a path outside the folder, of another kind or through a link): it warns that it ignored it, changes nothing "
    "and goes on; files named \"..._old\" stay",
};

std::string DescribeEnd(const RunEnd &end, const std::vector<CheckedEntry> &entries) {
  if (!end.would_fail)
    return "the run would install the package\n";
  std::string where =
      end.failure_stage == "entry" ? "at entry " + std::to_string(end.first_failing_entry) + " (" +
                                         Utf8(entries[static_cast<size_t>(end.first_failing_entry)].name) + ")"
      : end.failure_stage == "list"  ? std::string("when it saves ") + kUninstallFileName + ", after the copy"
      : end.failure_stage == "space" ? "at the confirmation"
                                     : "before it changes anything";
  std::string said = end.failure;
  for (size_t at; (at = said.find("\r\n")) != std::string::npos;)
    said.erase(at, 1);
  return "the run would fail " + where + ", saying:\n" + said + "\n";
}

std::string DescribeRecord(const GameCheck &check) {
  if (check.record_fate == kNoRecord)
    return "";
  std::string text = std::string(kRecordFates[check.record_fate]) + "\n";
  if (check.record_unverified)
    text += "  this check can't verify the record's seal (the key is the one of the machine that ran the "
            "program): the start obeys it only there, unless that machine noted the run as settled (the record "
            "is then removed) or abandoned (the run is then undone). Elsewhere the start warns that it ignored "
            "the record, changes nothing, and ";
  return text + (check.record_unverified ? DescribeEnd(check.if_refused, check.entries) : "");
}

} // namespace

std::string DescribeGameCheck(const GameCheck &check) {
  std::string text = "data directory: " + Utf8(check.target) + "\n" + DescribeRecord(check);
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
  return text + space + "result: " + DescribeEnd(check, check.entries);
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

static void AddEndJson(const RunEnd &end, nlohmann::ordered_json &json) {
  json["would_fail"] = end.would_fail;
  if (end.would_fail) {
    json["failure"] = {{"stage", end.failure_stage}, {"message", end.failure}};
    if (end.first_failing_entry >= 0)
      json["failure"]["entry"] = end.first_failing_entry;
  }
}

static nlohmann::ordered_json RunRecordJson(const GameCheck &check) {
  const char *const fates[] = {nullptr, "completes", "undoes", "removed", "ignored"};
  if (check.record_fate == kNoRecord)
    return nullptr;
  return fates[check.record_fate];
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
  if (check.record_unverified) {
    json["run_record_seal"] = "unverified";
    AddEndJson(check.if_refused, json["if_run_record_refused"]);
  }
  AddEndJson(check, json);
  // A byte that is no UTF-8 is shown replaced rather than failing the report.
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
