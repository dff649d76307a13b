// mkupdate: the publisher's command line for update packages.
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

#include "tools/mkupdate/encoding.h"
#include "tools/mkupdate/package_builder.h"

static const char kUsage[] = "usage:\n"
                             "  mkupdate build FOLDER -o UPDATE.DAT   pack every file under FOLDER\n"
                             "  mkupdate list UPDATE.DAT              show the entries of a package\n"
                             "  mkupdate verify UPDATE.DAT            check a package as the installer will\n"
                             "  mkupdate --help                       this text\n"
                             "\n"
                             "File names are converted from UTF-8 to code page 932 and stored with '\\'\n"
                             "separators, shallower files first. Names must have a code page 932 form and\n"
                             "fit in 255 bytes; files must be smaller than 4 GiB.\n";

static int Usage(const char *problem) {
  if (problem)
    std::fprintf(stderr, "mkupdate: %s\n\n", problem);
  std::fputs(kUsage, problem ? stderr : stdout);
  return problem ? 2 : 0;
}

static void ShowProgress(uint64_t done, uint64_t total) {
  static int last_percent = -1;
  if (total < (64u << 20) || !isatty(fileno(stderr)))
    return; // small packages are quick; logs stay clean
  int percent = static_cast<int>(done * 100 / total);
  if (percent != last_percent) {
    std::fprintf(stderr, "\rpacking: %3d%%", percent);
    if (percent == 100)
      std::fputc('\n', stderr);
    last_percent = percent;
  }
}

static int Build(const std::string &folder, const std::string &output) {
  std::vector<PackFile> files;
  BuildReport report;
  bool ok = CollectPackFiles(folder, &files, &report);
  if (ok)
    WarnAboutUncreatedDirectories(files, &report);
  for (const std::string &warning : report.warnings)
    std::fprintf(stderr, "mkupdate: warning: %s\n", warning.c_str());
  if (ok)
    ok = WritePackage(files, output, &report, ShowProgress);
  if (!ok) {
    std::fprintf(stderr, "mkupdate: %s\n", report.error.c_str());
    return 1;
  }
  std::printf("%s: %zu files, %llu bytes\n", output.c_str(), report.entry_count,
              static_cast<unsigned long long>(report.package_bytes));
  return 0;
}

static std::string Printable(const std::string &cp932) {
  std::string utf8;
  if (Cp932ToUtf8(cp932, &utf8))
    return utf8;
  std::string escaped;
  for (unsigned char c : cp932) {
    char hex[8];
    if (c >= 0x20 && c < 0x7F)
      escaped += static_cast<char>(c);
    else if (std::snprintf(hex, sizeof hex, "\\x%02X", c) > 0)
      escaped += hex;
  }
  return escaped;
}

static int ListOrVerify(const std::string &path, bool verify) {
  PackageCheck check;
  bool read = CheckPackage(path, &check);
  if (read && !verify) {
    for (const ListedEntry &entry : check.entries)
      std::printf("%12lu  %12llu  %s\n", static_cast<unsigned long>(entry.size),
                  static_cast<unsigned long long>(entry.offset), Printable(entry.name).c_str());
  }
  for (const std::string &problem : check.problems)
    std::fprintf(stderr, "mkupdate: %s: %s\n", path.c_str(), problem.c_str());
  if (!read || !check.problems.empty()) {
    if (verify)
      std::fprintf(stderr, "mkupdate: %s: the installer would refuse or fail on this package\n", path.c_str());
    return 1;
  }
  if (verify)
    std::printf("%s: ok, %zu entries, %llu bytes\n", path.c_str(), check.entries.size(),
                static_cast<unsigned long long>(check.file_size));
  return 0;
}

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty())
    return Usage("no command given");
  const std::string &command = args[0];
  if (command == "--help" || command == "-h" || command == "help")
    return Usage(nullptr);
  if (command == "build") {
    if (args.size() == 4 && args[2] == "-o")
      return Build(args[1], args[3]);
    if (args.size() == 4 && args[1] == "-o")
      return Build(args[3], args[2]);
    return Usage("build needs a folder and -o OUTPUT");
  }
  if ((command == "list" || command == "verify") && args.size() == 2)
    return ListOrVerify(args[1], command == "verify");
  if (command == "list" || command == "verify")
    return Usage((command + " needs exactly one package").c_str());
  return Usage(("unknown command \"" + command + "\"").c_str());
}
