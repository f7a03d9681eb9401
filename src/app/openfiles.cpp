#include "app/openfiles.h"

#include <QFileInfo>
#include <QTreeWidget>
#include <optional>
#include <stdexcept>

#include "app/mainwindow.h"
#include "app/strings.h"
#include "app/texts.h"
#include "formats/files.h"
#include "formats/foldercard.h"
#include "formats/images.h"

namespace travosk {
namespace {

struct GivenFile {
  QString path;  // absolute
  bool image = false;
  std::string save_name;  // a save file's save, raw bytes
};

// What the file holds, by its content first; nothing, with the reason in
// `why`, for a file the window cannot take.
std::optional<GivenFile> Identify(const QString& file, QString& why) {
  const QFileInfo info(file);
  GivenFile given;
  given.path = info.absoluteFilePath();
  if (!info.exists()) {
    why = file + ": no such file";
    return std::nullopt;
  }
  // A folder card (the emulator's folder with "_pcsx2_superblock") opens
  // as a card image does.
  if (info.isDir() && formats::IsFolderCard(PathOf(given.path))) {
    given.image = true;
    return given;
  }
  if (info.isDir()) {
    why = file + " is a folder, not a card image or a save file";
    return std::nullopt;
  }
  const std::string path = PathOf(given.path);
  try {
    if (formats::IdentifyImageFile(path)) {
      given.image = true;
      return given;
    }
    const std::vector<uint8_t> bytes = formats::LoadSaveFile(path);
    const auto format = formats::DetectSaveFormat(bytes, path);
    if (!format) {
      why = file + " is neither a card image nor a save file";
      return std::nullopt;
    }
    // The whole save is read now, so a damaged file is refused before any
    // question is asked.
    given.save_name = formats::IsPs1Format(*format) ? formats::ReadPs1Save(bytes, path).Name()
                                                    : formats::ReadPs2Save(bytes, path).Name();
    return given;
  } catch (const std::exception& e) {
    why = file + ": " + QString::fromUtf8(e.what());
    return std::nullopt;
  }
}

}  // namespace

void OpenGivenFiles(TForm1& window, UiServices& ui, const QStringList& files) {
  for (const QString& file : files) {
    QString why;
    const auto given = Identify(file, why);
    if (!given) {
      ui.Error(why);
      continue;
    }
    if (given->image) {
      window.OpenCardImage(given->path);
      continue;
    }
    if (!ui.Confirm("Restore the saver " + texts::Quoted(given->save_name) + " from " +
                    QFileInfo(given->path).fileName() + " to a memory card?"))
      continue;
    // Without a card listed, the user chooses one as OPEN/CATALOG does; a
    // choice cancelled, or a card that could not be read, ends it there.
    if (window.TreeView1->topLevelItemCount() == 0) {
      window.CatalogBtnClick();
      if (window.TreeView1->topLevelItemCount() == 0) return;
    }
    window.RestoreDroppedFiles({given->path});
  }
}

}  // namespace travosk
