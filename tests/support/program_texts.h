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
// Asked before an interrupted run is settled; %s the data directory.
inline constexpr char kUndoQuestion[] =
    "前回中断されたインストールを元に戻します。\n対象フォルダー: %s\nよろしいですか？";
inline constexpr char kCompleteQuestion[] =
    "前回中断されたインストールを完了します。\n対象フォルダー: %s\nよろしいですか？";
// A run record the program does not obey; %s its path.
inline constexpr char kRecordRefused[] =
    "前回中断されたインストールの記録\"%s\"は、このコンピューターでこのプログラムが書いたものでないか、"
    "ゲームのフォルダーの外やリンクを指しているため、無視しました。\nファイルは変更していません。"
    "名前の末尾に「_old」が付いたファイルが残っている場合は、手作業で元の名前に戻してください。";
// A record cut short beside a backup, and something other than a file at
// the record's name; %s its path. The line that names a file the settling kept.
inline constexpr char kRecordCut[] =
    "前回中断されたインストールの記録\"%s\"は途中で切れているため、無視しました。\nファイルは変更していません。"
    "名前の末尾に「_old」が付いたファイルが残っている場合は、手作業で元の名前に戻してください。";
inline constexpr char kRecordNotAFile[] =
    "前回中断されたインストールの記録の場所\"%s\"に、フォルダーまたはリンクがあります。\n"
    "これを削除するか名前を変えてから、もう一度実行してください。";
inline constexpr char kKeptLine[] = "\n\"%s\"はこのインストールが作ったものと確かめられないため、残しました。";
// A program that carries its publisher's key, about a package the key does
// not confirm; %s the package's path.
inline constexpr char kPackageUnconfirmed[] =
    "\"%s\"が発行元のものであることを確認できませんでした。\nインストールを終了します。";
inline constexpr char kListUnreadable[] = "uinst.datが読み込めませんでした。\nインストールを終了します。";
inline constexpr char kCannotWrite[] = "\"%s\"に書き込めません。";
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
