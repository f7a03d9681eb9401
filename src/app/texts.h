// Texts of the window that are not plain ASCII, and the pieces of messages
// that several workflows share.
#pragma once

#include <QString>
#include <string>

#include "app/strings.h"

namespace travosk::texts {

// "memory card" in full-width katakana.
inline QString MemoryCard() { return QString::fromUtf8("メモリーカード"); }
// "file" in half-width katakana (the hex editor's caption).
inline QString File() { return QString::fromUtf8("ﾌｧｲﾙ"); }
// "free" (the free-space label).
inline QString Free() { return QString::fromUtf8("空容量"); }
// "PS1", a full-width space and the word for memory card.
inline QString PS1CardWord() { return "PS1" + QString::fromUtf8("\u3000") + MemoryCard(); }
// "The savers folder could not be created.", then CR LF and the folder's path.
inline QString SaversFolderError(const QString& path) {
  return QString::fromUtf8("セーバーフォルダを作成できませんでした。") + "\r\n" + path;
}

// A save's name in double quotes, decoded for display.
inline QString Quoted(const std::string& name) {
  return "\"" + Decoded(name) + "\"";
}
// A save restored beside one of its name, under the name it went on under.
inline QString KeptBothAs(const std::string& name, const std::string& placed) {
  return "The saver " + Quoted(name) + " was already on the card: the new copy is " +
         Quoted(placed) + ".";
}
// A replaced save that could not be put back, and where its copy is kept.
inline QString NotPutBack(const std::string& name, const QString& kept_in) {
  return "The saver " + Quoted(name) + " could not be put back on the card; it is kept in " +
         kept_in;
}

inline const char* const kCanNotConnect = "Can not connect PS2.";
inline const char* const kDeviceNotOpened = "Device not opened";
inline const char* const kNotSupportSelect = "not support select <file>";
inline const char* const kCatalogLoading = "Catalog Loading...";
// In place of the free space, for a PS1 card without its "MC" header.
inline const char* const kNotFormatted = "Not formatted";
inline const char* const kDownloadSaverComplete = "Download Saver complete.";
inline const char* const kDownloadSaverFail = "Download Saver Fail.";
inline const char* const kUploadSaverComplete = "Upload Saver complete.";
inline const char* const kUploadSaverFail = "Upload Saver Fail.";
inline const char* const kPleaseInsertPS1 = "Please insert PS1 Card.";

}  // namespace travosk::texts
