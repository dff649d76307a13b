// The texts of the run's failures (those that name a path have one %s),
// shared by the parts of the program that report them and by the package
// builder's check, which names a failure as the run would. Literals are code page 932 in update.exe and
// UTF-8 in mkupdate, as each program's sources are compiled.
#pragma once
#include "common/file_names.h"

// Pieces of more than one text.
#define FAILED_DURING_INSTALL "インストール中にエラーが発生しました。"
#define INSTALL_ENDS_LINE "\nインストールを終了します。"

inline constexpr char kCreateFailedTemplate[] = "\"%s\"の作成に失敗しました。";
inline constexpr char kBackupFailedTemplate[] = "\"%s\"の退避に失敗しました。";
inline constexpr char kCopyFailedTemplate[] = "\"%s\"のコピーに失敗しました。";
inline constexpr char kCannotCreateTemplate[] = "\"%s\"を作成できません。";
inline constexpr char kCannotWriteTemplate[] = "\"%s\"に書き込めません。";
// The box that reports a failure while writing puts the detail after this;
// any other failure shows the first line alone.
inline constexpr char kFailedWritingPrefix[] = FAILED_DURING_INSTALL "(書き込み中)\r\n";
inline constexpr char kFailedMessage[] = FAILED_DURING_INSTALL;
inline constexpr char kListUnreadableMessage[] = UNINSTALL_FILE_NAME "が読み込めませんでした。" INSTALL_ENDS_LINE;
// A program that carries the publisher's key, at start, about a package whose
// signature does not verify with it.
inline constexpr char kPackageUnconfirmedTemplate[] =
    "\"%s\"が発行元のものであることを確認できませんでした。" INSTALL_ENDS_LINE;
// The confirmation's answer to a destination without the room the package needs.
inline constexpr char kNoSpaceMessage[] = "ディスクの空き容量が不足しています。";
