// mkupdate: the publisher's command line for update packages.
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <unistd.h>
#include <string>
#include <vector>

#include "tools/mkupdate/brand.h"
#include "tools/mkupdate/encoding.h"
#include "tools/mkupdate/game_check.h"
#include "tools/mkupdate/keys.h"
#include "tools/mkupdate/package_builder.h"

static const char kUsage[] =
    "usage:\n"
    "  mkupdate build FOLDER -o UPDATE.DAT   pack every file under FOLDER\n"
    "  mkupdate build --base OLD NEW -o UPDATE.DAT\n"
    "                                        pack only the files of NEW that OLD lacks or\n"
    "                                        holds with other bytes\n"
    "  mkupdate list UPDATE.DAT              show the entries of a package\n"
    "  mkupdate verify UPDATE.DAT            check a package as the installer will, and\n"
    "                                        its data against its data check\n"
    "  mkupdate keygen NAME                  make a signing key: NAME.key (private) and NAME.pub\n"
    "  mkupdate check UPDATE.DAT GAMEDIR [--json] [--target WINPATH]\n"
    "                                        predict a run on a game folder without\n"
    "                                        touching it; WINPATH: the folder's path\n"
    "                                        on the player's machine\n"
    "  mkupdate --help                       this text\n"
    "\n"
    "File names are converted from UTF-8 to code page 932 and stored with '\\'\n"
    "separators, shallower files first. Names must have a code page 932 form and\n"
    "fit in 255 bytes; files must be smaller than 4 GiB. Every package carries an\n"
    "XXH3-64 hash of each file's data. Exit status: 0 done, 1 failed (or, for\n"
    "verify, the package is refused or damaged; for check, the run would fail),\n"
    "2 wrong usage.\n";

static int Usage(const char *problem) {
  if (problem)
    std::fprintf(stderr, "mkupdate: %s\n\n", problem);
  std::fputs(kUsage, problem ? stderr : stdout);
  return problem ? 2 : 0;
}

// A line on a terminal that says how far a long job is.
static std::function<void(uint64_t, uint64_t)> ProgressLine(const char *doing) {
  int last_percent = -1;
  return [doing, last_percent](uint64_t done, uint64_t total) mutable {
    if (total < (64u << 20) || !isatty(fileno(stderr)))
      return; // small packages are quick; logs stay clean
    int percent = static_cast<int>(done * 100 / total);
    if (percent != last_percent) {
      std::fprintf(stderr, "\r%s: %3d%%", doing, percent);
      if (percent == 100)
        std::fputc('\n', stderr);
      last_percent = percent;
    }
  };
}

// What a build against an old folder packed and left out.
static void PrintBaseDiff(const BaseDiff &diff) {
  for (const std::string &name : diff.added)
    std::printf("packed (new): %s\n", name.c_str());
  for (const std::string &name : diff.changed)
    std::printf("packed (changed): %s\n", name.c_str());
  for (const std::string &name : diff.unchanged)
    std::printf("skipped (unchanged): %s\n", name.c_str());
}

// base empty: pack the whole folder; else only what differs from base. With
// a key file, signed.
static int Build(const std::string &folder, const std::string &base, const std::string &output,
                 const std::string &key_path) {
  SigningKey key;
  std::string key_error;
  if (!key_path.empty() && !ReadPrivateKeyFile(key_path, key.private_key, key.public_key, &key_error)) {
    std::fprintf(stderr, "mkupdate: %s\n", key_error.c_str());
    return 1;
  }
  std::vector<PackFile> files;
  BuildReport report;
  BaseDiff diff;
  bool ok = CollectPackFiles(folder, &files, &report);
  if (ok && !base.empty())
    ok = KeepChangedFiles(base, folder, &files, &diff, &report);
  if (ok)
    WarnAboutUncreatedDirectories(files, &report, diff.existing_folders);
  for (const std::string &warning : report.warnings)
    std::fprintf(stderr, "mkupdate: warning: %s\n", warning.c_str());
  if (ok && !base.empty())
    PrintBaseDiff(diff);
  if (ok)
    ok = WritePackage(files, output, &report, ProgressLine("packing"), key_path.empty() ? nullptr : &key);
  if (!ok) {
    std::fprintf(stderr, "mkupdate: %s\n", report.error.c_str());
    return 1;
  }
  std::printf("%s: %zu files, %llu bytes\n", output.c_str(), report.entry_count,
              static_cast<unsigned long long>(report.package_bytes));
  if (!key_path.empty())
    std::printf("signed by the key %s\n", KeyFingerprint(key.public_key).c_str());
  return 0;
}

// The key of --key: a public key file, or a program that carries one.
static bool ReadKeyArgument(const std::string &path, unsigned char key[kPublisherKeyBytes], std::string *error) {
  std::string bytes;
  if (!ReadProgramFile(path, &bytes) || bytes.compare(0, 2, "MZ") != 0)
    return ReadPublicKeyFile(path, key, error);
  bool carries = false;
  if (ReadProgramKey(bytes, key, &carries) != kBrandOk || !carries) {
    *error = "\"" + path + "\" is a program that carries no publisher key";
    return false;
  }
  return true;
}

static std::string SignerOf(const ListedSignature &signature) { return KeyIdFingerprint(signature.block.key_id); }

static std::string DescribeSignature(const ListedSignature &signature) {
  if (signature.finding == kSignatureAbsent)
    return "not signed";
  if (signature.finding != kSignatureFound)
    return "a damaged signature block";
  return "signed by the key " + SignerOf(signature);
}

static int List(const std::string &path) {
  PackageCheck check;
  bool read = CheckPackage(path, &check);
  if (read) {
    for (const ListedEntry &entry : check.entries)
      std::printf("%12lu  %12llu  %s\n", static_cast<unsigned long>(entry.size),
                  static_cast<unsigned long long>(entry.offset), PrintableName(entry.name).c_str());
    std::printf("data check: %s\n", check.hashes.empty() ? "none" : "XXH3-64 of each entry's data");
    std::printf("signature: %s\n", DescribeSignature(check.signature).c_str());
  }
  for (const std::string &problem : check.problems)
    std::fprintf(stderr, "mkupdate: %s: %s\n", path.c_str(), problem.c_str());
  return read && check.problems.empty() ? 0 : 1;
}

// The signature judged against key, as a problem when it fails.
static void JudgeAgainstKey(const std::string &key_path, PackageCheck *check) {
  unsigned char key[kPublisherKeyBytes];
  std::string error;
  if (!ReadKeyArgument(key_path, key, &error)) {
    check->problems.push_back(error);
    return;
  }
  PackageError judged = JudgeSignature(check->signature.finding, check->signature.block, key);
  if (judged == kPackageSignedByOtherKey)
    check->problems.push_back("signed by the key " + SignerOf(check->signature) + ", not by " + KeyFingerprint(key) +
                              " (" + key_path + ")");
  else if (judged != kPackageOk)
    check->problems.push_back(DescribePackageError(judged));
}

static int Verify(const std::string &path, const std::string &key_path) {
  PackageCheck check;
  bool read = CheckPackage(path, &check) && CheckPackageData(path, &check, ProgressLine("verifying"));
  if (read && !key_path.empty())
    JudgeAgainstKey(key_path, &check);
  for (const std::string &problem : check.problems)
    std::fprintf(stderr, "mkupdate: %s: %s\n", path.c_str(), problem.c_str());
  if (!read || !check.problems.empty()) {
    // Damaged entries are problems of their own: the package was sound when built.
    std::set<size_t> damaged(check.damaged.begin(), check.damaged.end());
    damaged.insert(check.signed_mismatch.begin(), check.signed_mismatch.end());
    if (!read || check.problems.size() > check.damaged.size() + check.signed_mismatch.size())
      std::fprintf(stderr, "mkupdate: %s: the installer would refuse or fail on this package\n", path.c_str());
    if (!damaged.empty())
      std::fprintf(stderr, "mkupdate: %s: %zu of %zu entries damaged since the package was built: do not ship it\n",
                   path.c_str(), damaged.size(), check.entries.size());
    return 1;
  }
  std::string signature = DescribeSignature(check.signature);
  if (check.signature.finding != kSignatureAbsent)
    signature += key_path.empty() ? ", its data matches its signed hashes (give --key to check the signature)"
                                  : ", its signature verifies";
  std::printf("%s: ok, %zu entries, %llu bytes, %s, %s\n", path.c_str(), check.entries.size(),
              static_cast<unsigned long long>(check.file_size),
              check.hashes.empty() ? "no data check (its data cannot be checked)" : "data matches its data check",
              signature.c_str());
  return 0;
}

// check PACKAGE GAMEDIR [--json] [--target WINPATH]
static int Check(const std::vector<std::string> &args) {
  std::vector<std::string> paths;
  std::string target, key_path;
  bool json = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json")
      json = true;
    else if (args[i] == "--target" && i + 1 < args.size())
      target = args[++i];
    else if (args[i] == "--key" && i + 1 < args.size())
      key_path = args[++i];
    else
      paths.push_back(args[i]);
  }
  if (paths.size() != 2)
    return Usage("check needs a package and a game folder");
  GameCheck check;
  unsigned char key[kPublisherKeyBytes];
  if (!key_path.empty() && !ReadKeyArgument(key_path, key, &check.error)) {
    std::fprintf(stderr, "mkupdate: %s\n", check.error.c_str());
    return 1;
  }
  if (!CheckAgainstGame(paths[0], paths[1], target, &check, key_path.empty() ? nullptr : key)) {
    std::fprintf(stderr, "mkupdate: %s\n", check.error.c_str());
    return 1;
  }
  std::fputs(json ? GameCheckJson(check).c_str() : DescribeGameCheck(check).c_str(), stdout);
  return check.would_fail ? 1 : 0;
}

struct BuildArgs {
  std::string folder, base, output, key;
};

// build [--base OLD] FOLDER -o OUTPUT [--sign NAME.key], the options in any order.
static bool ParseBuildArgs(const std::vector<std::string> &args, BuildArgs *build) {
  bool have_folder = false, have_output = false, have_base = false, have_key = false;
  for (size_t i = 1; i < args.size(); ++i) {
    bool has_value = i + 1 < args.size();
    if (args[i] == "-o" && has_value && !have_output) {
      build->output = args[++i];
      have_output = true;
    } else if (args[i] == "--base" && has_value && !have_base) {
      build->base = args[++i];
      have_base = true;
    } else if (args[i] == "--sign" && has_value && !have_key) {
      build->key = args[++i];
      have_key = !build->key.empty();
    } else if (args[i] != "-o" && args[i] != "--base" && args[i] != "--sign" && !have_folder) {
      build->folder = args[i];
      have_folder = true;
    } else {
      return false;
    }
  }
  return have_folder && have_output && (!have_base || !build->base.empty());
}

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    return Usage("no command given");
  const std::string &command = args[0];
  if (command == "--help" || command == "-h" || command == "help")
    return Usage(nullptr);
  if (command == "build") {
    BuildArgs build;
    if (!ParseBuildArgs(args, &build))
      return Usage("build needs a folder and -o OUTPUT (and, with --base, the old folder first)");
    return Build(build.folder, build.base, build.output, build.key);
  }
  if (command == "keygen")
    return args.size() == 2 ? RunKeygen(args[1]) : Usage("keygen needs exactly one NAME");
  if (command == "brand")
    return RunBrand(std::vector<std::string>(args.begin() + 1, args.end()));
  if (command == "check")
    return Check(args);
  if (command == "list" && args.size() == 2)
    return List(args[1]);
  if (command == "verify" && args.size() == 2)
    return Verify(args[1], "");
  if (command == "verify" && args.size() == 4 && args[2] == "--key")
    return Verify(args[1], args[3]);
  if (command == "list" || command == "verify")
    return Usage((command + " needs exactly one package (and, for verify, --key NAME.pub)").c_str());
  return Usage(("unknown command \"" + command + "\"").c_str());
}
