// What the program shows, as the tests expect it: the caption of its boxes,
// the title of its windows and the messages that more than one test reads.
#pragma once
#include <string>

inline constexpr char kBoxCaption[] = "インストール";
inline constexpr char kWindowTitle[] = "lumerant_qen　インストール";

inline constexpr char kFinished[] = "インストールが終了しました。";
inline constexpr char kCancelQuestion[] = "インストールを中止しますか？";
inline constexpr char kNoSpace[] = "ディスクの空き容量が不足しています。";
inline constexpr char kPackageUnreadable[] = "UPDATE.DATの読み込みに失敗しました。\nインストールを終了します。";
inline constexpr char kRolledBack[] = "前回中断されたインストールを元に戻しました。";
inline constexpr char kCompleted[] = "前回中断されたインストールを完了しました。";
// The first line of the failure box; the failure's detail follows it.
inline constexpr char kFailedWriting[] = "インストール中にエラーが発生しました。(書き込み中)\r\n";

// Texts about a path: %s stands for it (see WithPath).
inline constexpr char kCreateFailed[] = "\"%s\"の作成に失敗しました。";
inline constexpr char kBackupFailed[] = "\"%s\"の退避に失敗しました。";
inline constexpr char kCopyFailed[] = "\"%s\"のコピーに失敗しました。";
inline constexpr char kCannotInstallThere[] = "%sにはインストールできません。";
inline constexpr char kNotFixedQuestion[] =
    "内蔵ハードディスク以外にインストールすることはお勧めしません。\n%sにインストールしますか？";

// The text with its %s replaced by the path. '%' is never part of a double
// byte character, so the search can't land inside one.
inline std::string WithPath(const char *text_template, const std::string &path) {
  std::string text = text_template;
  size_t at = text.find("%s");
  return at == std::string::npos ? text : text.replace(at, 2, path);
}
