// The resources compiled into update.exe, read back from the program file as
// data: exactly six items, and every template byte for byte as the windows
// need them (styles, font, controls, IDs, texts, rectangles), the manifest
// and the version block.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/resources/resource_ids.h"
#include "ui_test_support.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);    // 1041
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US); // 1033

// ---- resource table ----

using ResourceKey = std::pair<std::string, std::string>; // type, name
using ResourceTable = std::map<ResourceKey, std::set<WORD>>;

std::string IdText(LPCSTR id) {
  return IS_INTRESOURCE(id) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(id)) : std::string(id);
}

struct Walk {
  ResourceTable table;
  LPCSTR type = nullptr;
  LPCSTR name = nullptr;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) {
  Walk *walk = reinterpret_cast<Walk *>(context);
  walk->table[{IdText(walk->type), IdText(walk->name)}].insert(language);
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
  Walk *walk = reinterpret_cast<Walk *>(context);
  walk->name = name;
  EnumResourceLanguagesA(module, type, name, CollectLanguage, context);
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR context) {
  Walk *walk = reinterpret_cast<Walk *>(context);
  walk->type = type;
  EnumResourceNamesA(module, type, CollectName, context);
  return TRUE;
}

std::string Raw(LPCSTR type, int id, WORD language) {
  HRSRC found = FindResourceExA(ProgramResources(), type, MAKEINTRESOURCEA(id), language);
  if (found == nullptr)
    return std::string();
  HGLOBAL loaded = LoadResource(ProgramResources(), found);
  const char *bytes = static_cast<const char *>(LockResource(loaded));
  return bytes ? std::string(bytes, SizeofResource(ProgramResources(), found)) : std::string();
}

TEST(Resources, SixItemsWithTheirLanguages) {
  ASSERT_NE(nullptr, ProgramResources()) << "update.exe must be built";
  Walk walk;
  EnumResourceTypesA(ProgramResources(), CollectType, reinterpret_cast<LONG_PTR>(&walk));
  const std::string dialog = "#5", manifest = "#24", version = "#16";
  ResourceTable expected = {
      {{dialog, "#101"}, {kJapanese}}, {{dialog, "#102"}, {kJapanese}},  {{dialog, "#103"}, {kJapanese}},
      {{dialog, "#107"}, {kJapanese}}, {{manifest, "#1"}, {kEnglishUs}}, {{version, "#1"}, {kJapanese}},
  };
  EXPECT_EQ(expected, walk.table);
}

// ---- dialog templates ----

struct Item {
  DWORD help_id = 0;
  DWORD style = 0;
  DWORD ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::string class_name; // lower case; predefined ordinals by their names
  std::string text;
  WORD extra = 0;
};

struct Template {
  bool extended = false;
  DWORD help_id = 0;
  DWORD style = 0;
  DWORD ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string menu, window_class, title;
  WORD point_size = 0;
  WORD weight = 0;
  BYTE italic = 0, charset = 0;
  std::string font;
  std::vector<Item> items;
  bool complete = false; // every byte parsed within the resource
};

// Reads the little-endian fields of a template, refusing to run off its end.
class Reader {
public:
  explicit Reader(const std::string &bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  size_t at() const { return at_; }
  WORD Word() { return static_cast<WORD>(Take(2)); }
  DWORD Dword() { return static_cast<DWORD>(Take(4)); }
  short Short() { return static_cast<short>(Take(2)); }
  BYTE Byte() { return static_cast<BYTE>(Take(1)); }
  void AlignDword() { at_ = (at_ + 3) & ~size_t(3); }
  // A UTF-16 string, returned in code page 932 like the literals of the tests.
  std::string Text() {
    std::wstring wide;
    for (WORD c = Word(); ok_ && c != 0; c = Word())
      wide.push_back(static_cast<wchar_t>(c));
    char text[1024] = "";
    WideCharToMultiByte(932, 0, wide.c_str(), -1, text, sizeof text, nullptr, nullptr);
    return text;
  }
  // sz_Or_Ord: 0 (none), 0xFFFF and an ordinal ("#n"), or a string.
  std::string TextOrOrdinal() {
    size_t start = at_;
    WORD first = Word();
    if (first == 0)
      return std::string();
    if (first == 0xFFFF)
      return "#" + std::to_string(Word());
    at_ = start;
    return Text();
  }

private:
  unsigned long Take(size_t n) {
    if (!ok_ || at_ + n > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    unsigned long value = 0;
    for (size_t i = 0; i < n; ++i)
      value |= static_cast<unsigned long>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    at_ += n;
    return value;
  }
  const std::string &bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

// A class may be written as an ordinal or a name, and names in any case: the
// system takes all of them alike.
std::string ClassName(std::string written) {
  if (written == "#128")
    return "button";
  if (written == "#129")
    return "edit";
  if (written == "#130")
    return "static";
  CharLowerA(&written[0]);
  return written;
}

Template ParseTemplate(const std::string &bytes) {
  Template t;
  Reader r(bytes);
  WORD count;
  if (bytes.size() >= 4 && static_cast<unsigned char>(bytes[2]) == 0xFF &&
      static_cast<unsigned char>(bytes[3]) == 0xFF) {
    t.extended = r.Word() == 1;
    r.Word();
    t.help_id = r.Dword();
    t.ex_style = r.Dword();
    t.style = r.Dword();
  } else {
    t.style = r.Dword();
    t.ex_style = r.Dword();
  }
  count = r.Word();
  t.x = r.Short(), t.y = r.Short(), t.cx = r.Short(), t.cy = r.Short();
  t.menu = r.TextOrOrdinal();
  t.window_class = r.TextOrOrdinal();
  t.title = r.Text();
  if (t.style & DS_SETFONT) {
    t.point_size = r.Word();
    if (t.extended) {
      t.weight = r.Word();
      t.italic = r.Byte();
      t.charset = r.Byte();
    }
    t.font = r.Text();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    Item item;
    if (t.extended) {
      item.help_id = r.Dword();
      item.ex_style = r.Dword();
      item.style = r.Dword();
    } else {
      item.style = r.Dword();
      item.ex_style = r.Dword();
    }
    item.x = r.Short(), item.y = r.Short(), item.cx = r.Short(), item.cy = r.Short();
    item.id = t.extended ? static_cast<int>(r.Dword()) : static_cast<short>(r.Word());
    item.class_name = ClassName(r.TextOrOrdinal());
    item.text = r.TextOrOrdinal();
    item.extra = r.Word();
    for (WORD skip = 0; skip < item.extra; ++skip)
      r.Byte();
    t.items.push_back(item);
  }
  t.complete = r.ok() && t.items.size() == count;
  return t;
}

Template LoadTemplate(int id) { return ParseTemplate(Raw(RT_DIALOG, id, kJapanese)); }

const std::string kButton = "button", kEdit = "edit", kStatic = "static";
const char kFont[] = "ＭＳ Ｐゴシック";

struct ExpectedItem {
  int id;
  std::string class_name;
  std::string text;
  short x, y, cx, cy;
  DWORD style;
};

void ExpectTemplate(const Template &t, DWORD style, short cx, short cy, const std::string &title,
                    const std::vector<ExpectedItem> &items) {
  ASSERT_TRUE(t.complete);
  EXPECT_EQ(style, t.style);
  EXPECT_EQ(0u, t.ex_style);
  EXPECT_EQ(0u, t.help_id);
  EXPECT_EQ(0, t.x);
  EXPECT_EQ(0, t.y);
  EXPECT_EQ(cx, t.cx);
  EXPECT_EQ(cy, t.cy);
  EXPECT_EQ("", t.menu);
  EXPECT_EQ("", t.window_class);
  EXPECT_EQ(title, t.title);
  EXPECT_EQ(9, t.point_size);
  EXPECT_EQ(kFont, t.font);
  ASSERT_EQ(items.size(), t.items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const ExpectedItem &want = items[i];
    const Item &got = t.items[i];
    SCOPED_TRACE("control " + std::to_string(i) + " (" + std::to_string(want.id) + ")");
    EXPECT_EQ(want.id, got.id);
    EXPECT_EQ(want.class_name, got.class_name);
    EXPECT_EQ(want.text, got.text);
    EXPECT_EQ(want.x, got.x);
    EXPECT_EQ(want.y, got.y);
    EXPECT_EQ(want.cx, got.cx);
    EXPECT_EQ(want.cy, got.cy);
    EXPECT_EQ(want.style, got.style) << std::hex << got.style;
    EXPECT_EQ(0u, got.ex_style);
    EXPECT_EQ(0u, got.help_id);
    EXPECT_EQ(0, got.extra);
  }
}

TEST(Resources, ProgressTemplate) {
  Template t = LoadTemplate(IDD_PROGRESS);
  EXPECT_FALSE(t.extended);
  ExpectTemplate(t, 0x80C000C0, 259, 95, "ZORVEKインストール",
                 {
                     {IDCANCEL, kButton, "ｷｬﾝｾﾙ", 103, 74, 50, 14, 0x50010000},
                     {IDC_PROGRESS_BAR, "msctls_progress32", "Progress1", 7, 50, 245, 17, 0x50800000},
                     {IDC_PROGRESS_STATUS, kStatic, "ファイルのコピー中", 7, 7, 245, 13, 0x50020000},
                     {IDC_PROGRESS_SECOND_LINE, kStatic, "", 7, 28, 245, 13, 0x5002000C},
                 });
}

TEST(Resources, ConfirmationTemplateIsExtended) {
  Template t = LoadTemplate(IDD_CONFIRM);
  EXPECT_TRUE(t.extended);
  EXPECT_EQ(0, t.weight);
  EXPECT_EQ(0, t.italic);
  EXPECT_EQ(0, t.charset);
  ExpectTemplate(t, 0x80C800C0, 339, 129, "ZORVEKインストール",
                 {
                     {IDC_CHANGE_DESTINATION, kButton, "インストール先の変更", 16, 24, 80, 20, 0x58000000},
                     {IDC_SELECTDIR_EDIT, kEdit, "", 106, 24, 216, 20, 0x50800880},
                     {IDOK, kButton, "インストール開始", 29, 94, 65, 22, 0x50010001},
                     {IDCANCEL, kButton, "インストール中止", 106, 94, 62, 22, 0x50010000},
                     {IDC_TARGETDIR_TEXT, kStatic, "Static", 106, 56, 216, 17, 0x50021200},
                     {IDC_STATIC_LABEL, kButton, "インストール先", 7, 7, 325, 79, 0x50000007},
                     {IDC_SPACE_TEXT, kStatic, "HDD要 0000M HDD空き 000000M", 203, 100, 129, 17, 0x50020000},
                     {IDC_STATIC_LABEL, kStatic, "インストール先：", 23, 53, 72, 20, 0x50020202},
                 });
}

TEST(Resources, WaitTemplates) {
  Template rollback = LoadTemplate(IDD_ROLLBACK_WAIT);
  EXPECT_FALSE(rollback.extended);
  ExpectTemplate(rollback, 0x80C000C0, 187, 63, "インストール",
                 {{IDC_STATIC_LABEL, kStatic, "インストール情報を削除しています。\nお待ちください。", 7, 23, 173, 33,
                   0x50020001}});
  Template finish = LoadTemplate(IDD_FINISH_WAIT);
  EXPECT_FALSE(finish.extended);
  ExpectTemplate(finish, 0x80C000C0, 187, 63, "インストール",
                 {{IDC_STATIC_LABEL, kStatic, "インストール終了処理を行っています。\nお待ちください。", 7, 23, 173, 33,
                   0x50020001}});
}

// ---- manifest ----

TEST(Resources, ManifestAsksForAdministratorAndNothingElse) {
  std::string xml = Raw(RT_MANIFEST, 1, kEnglishUs);
  ASSERT_FALSE(xml.empty());
  const char *wanted[] = {
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
      "<assemblyIdentity type=\"win32\" name=\"setup\" version=\"1.0.0.9\" processorArchitecture=\"x86\"/>",
      "<description>ZORVEK setup</description>",
      "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
      "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
  };
  for (const char *piece : wanted)
    EXPECT_NE(std::string::npos, xml.find(piece)) << piece;
  // Classic controls: no dependency (on the version 6 controls), no compatibility section.
  EXPECT_EQ(std::string::npos, xml.find("dependency"));
  EXPECT_EQ(std::string::npos, xml.find("compatibility"));
  std::set<std::string> elements;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    size_t end = xml.find_first_of(" />", at + 1);
    if (xml[at + 1] != '/' && xml[at + 1] != '?' && end != std::string::npos)
      elements.insert(xml.substr(at + 1, end - at - 1));
  }
  std::set<std::string> expected = {"assembly",
                                    "assemblyIdentity",
                                    "description",
                                    "trustInfo",
                                    "security",
                                    "requestedPrivileges",
                                    "requestedExecutionLevel"};
  EXPECT_EQ(expected, elements);
}

// ---- version block ----

struct VersionNode {
  std::string key;
  WORD type = 0;
  std::string value; // raw value bytes
  std::vector<VersionNode> children;
};

// One node of the version tree: length, value length, type, key, value,
// children, each part aligned to 4 bytes from the start of the block.
bool ParseVersionNode(const std::string &bytes, size_t at, VersionNode *node, size_t *next) {
  if (at + 6 > bytes.size())
    return false;
  auto word = [&bytes](size_t p) {
    return static_cast<WORD>(static_cast<unsigned char>(bytes[p]) | static_cast<unsigned char>(bytes[p + 1]) << 8);
  };
  WORD length = word(at), value_length = word(at + 2);
  node->type = word(at + 4);
  size_t end = at + length;
  if (length < 6 || end > bytes.size())
    return false;
  size_t p = at + 6;
  std::wstring key;
  for (; p + 2 <= end && word(p) != 0; p += 2)
    key.push_back(static_cast<wchar_t>(word(p)));
  p += 2;
  node->key.assign(key.begin(), key.end());
  p = (p + 3) & ~size_t(3);
  size_t value_bytes = node->type == 1 ? value_length * 2u : value_length;
  if (p + value_bytes > end)
    return false;
  node->value = bytes.substr(p, value_bytes);
  p = (p + value_bytes + 3) & ~size_t(3);
  while (p < end) {
    VersionNode child;
    size_t after;
    if (!ParseVersionNode(bytes, p, &child, &after))
      return false;
    node->children.push_back(child);
    p = (after + 3) & ~size_t(3);
  }
  *next = end;
  return true;
}

std::string Utf16Value(const std::string &raw) {
  std::wstring wide;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(raw[i]) | static_cast<unsigned char>(raw[i + 1]) << 8);
    if (c == 0)
      break;
    wide.push_back(c);
  }
  return std::string(wide.begin(), wide.end());
}

TEST(Resources, VersionBlock) {
  std::string raw = Raw(RT_VERSION, 1, kJapanese);
  VersionNode root;
  size_t end;
  ASSERT_TRUE(ParseVersionNode(raw, 0, &root, &end));
  EXPECT_EQ("VS_VERSION_INFO", root.key);
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), root.value.size());
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, root.value.data(), sizeof fixed);
  EXPECT_EQ(0xFEEF04BDu, fixed.dwSignature);
  EXPECT_EQ(0x00010000u, fixed.dwFileVersionMS);
  EXPECT_EQ(0x00000001u, fixed.dwFileVersionLS);
  EXPECT_EQ(0x00010000u, fixed.dwProductVersionMS);
  EXPECT_EQ(0x00000001u, fixed.dwProductVersionLS);
  EXPECT_EQ(0x3Fu, fixed.dwFileFlagsMask);
  EXPECT_EQ(0u, fixed.dwFileFlags);
  EXPECT_EQ(DWORD(VOS_NT_WINDOWS32), fixed.dwFileOS);
  EXPECT_EQ(DWORD(VFT_APP), fixed.dwFileType);

  std::map<std::string, std::string> strings;
  std::string translation;
  std::vector<std::string> tables;
  for (const VersionNode &block : root.children) {
    if (block.key == "StringFileInfo") {
      for (const VersionNode &table : block.children) {
        tables.push_back(table.key);
        for (const VersionNode &entry : table.children)
          strings[entry.key] = Utf16Value(entry.value);
      }
    } else if (block.key == "VarFileInfo" && !block.children.empty()) {
      translation = block.children[0].value;
    }
  }
  EXPECT_EQ(std::vector<std::string>{"041104b0"}, tables);
  EXPECT_EQ(std::string("\x11\x04\xb0\x04", 4), translation); // 0x0411, 1200
  std::map<std::string, std::string> expected = {
      {"CompanyName", "TALVERA"},
      {"FileDescription", "Update"},
      {"FileVersion", "1, 0, 0, 1"},
      {"InternalName", "update"},
      {"LegalCopyright", "Copyright (C) TALVERA"},
      {"OriginalFilename", "update.exe"},
      {"ProductName", "Update"},
      {"ProductVersion", "1, 0, 0, 1"},
  };
  EXPECT_EQ(expected, strings);
}

} // namespace
