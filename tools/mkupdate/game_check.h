// Predicts what update.exe would do with a package on a real game folder,
// without touching the folder: the run's own rules, applied entry by entry
// to the folder as the earlier entries would have left it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/package_format.h"

enum CheckedAction { kWouldCreate, kWouldReplace, kWouldFail };

struct CheckedEntry {
  std::string name; // as stored (code page 932)
  CheckedAction action = kWouldCreate;
  std::vector<std::string> folders; // folders the entry creates first (code page 932, full paths)
  std::string detail;               // on failure: the program's detail line (UTF-8)
  std::string reason;               // on failure, or a note: why (English)
};

// How a run ends: its first failure, what the player would be told, and when.
struct RunEnd {
  bool would_fail = false;
  std::string failure;       // the whole message (UTF-8)
  std::string failure_stage; // "start", "entry", "list" or "space"
  int first_failing_entry = -1;
};

// What the next start does with the run record an interrupted run left.
enum RecordFate {
  kNoRecord,
  kRecordCompleted, // asks, then completes the run: its backups go, its new list goes in place
  kRecordUndone,    // asks (unless it names nothing), then undoes the run
  kRecordRemoved,   // a run that changed nothing: removed without a word
  kRecordIgnored,   // refused: a warning, nothing changed, and the run goes on
};

struct GameCheck : RunEnd { // the run's end, after the next start settled any record
  std::string target;       // the data directory as the program sees it (code page 932)
  std::vector<CheckedEntry> entries;
  uint32_t required_mib = 0;
  uint32_t free_mib = 0;
  bool record_present = false;   // a run record of an interrupted run is there
  bool record_readable = false;  // ... and is of this program's kind, naming paths it would act on
  bool record_committed = false; // ... and the next start would complete it (else undo it)
  RecordFate record_fate = kNoRecord;
  // The record's seal can't be checked here (the key is the player's
  // machine's): the fate above holds when that machine's program sealed it.
  // Otherwise the start refuses it and the run ends as if_refused says.
  bool record_unverified = false;
  RunEnd if_refused;
  std::string error; // the check itself could not be made (English)
  // With a publisher's key: why a program carrying it refuses the package
  // (kPackageOk when it does not).
  PackageError signature_refusal = kPackageOk;
  bool checks_signature = false; // a key was given
  std::string package_cp932;     // the package's path, as the refusal names it
};

// Checks the package at package_path against the game folder game_dir (a
// path of this machine). target is the folder's path on the player's machine
// (UTF-8); empty: game_dir as this machine's Windows sees it ("Z:" and the
// absolute path under Wine). false when the package or the folder can't be
// read at all (check->error).
// With program_key, the run of a program that carries that publisher's key.
bool CheckAgainstGame(const std::string &package_path, const std::string &game_dir, const std::string &target,
                      GameCheck *check, const unsigned char *program_key = nullptr);

// The check as text for a person, and as JSON for a publisher's scripts.
std::string DescribeGameCheck(const GameCheck &check);
std::string GameCheckJson(const GameCheck &check);
