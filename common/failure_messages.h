// The texts of the run's failures that name a path (one %s), shared by the
// passes that report them and by the package builder's check, which names a
// failure as the run would. Literals are code page 932 in update.exe and
// UTF-8 in mkupdate, as each program's sources are compiled.
#pragma once

inline constexpr char kCreateFailedTemplate[] = "\"%s\"の作成に失敗しました。";
inline constexpr char kBackupFailedTemplate[] = "\"%s\"の退避に失敗しました。";
inline constexpr char kCopyFailedTemplate[] = "\"%s\"のコピーに失敗しました。";
inline constexpr char kCannotCreateTemplate[] = "\"%s\"を作成できません。";
inline constexpr char kCannotWriteTemplate[] = "\"%s\"に書き込めません。";
// The box that reports a failure while writing puts the detail after this.
inline constexpr char kFailedWritingPrefix[] = "インストール中にエラーが発生しました。(書き込み中)\r\n";
// The confirmation's answer to a start without the space the package needs.
inline constexpr char kNoSpaceMessage[] = "ディスクの空き容量が不足しています。";
inline constexpr char kListUnreadableMessage[] = "uinst.datが読み込めませんでした。\nインストールを終了します。";
