// Drag and drop on the save list: save files dropped on it are restored one
// after another, as the append command restores a chosen file; a save
// dragged out of it becomes its ".psu" (PS1: ".mcs") where it is dropped.
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QListWidget>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/mainwindow.h"
#include "app/strings.h"
#include "app/texts.h"
#include "manager/savereplace.h"

namespace travosk {
namespace {

// The local files a drag carries; empty when it carries anything else.
QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) return {};
    files << url.toLocalFile();
  }
  return files;
}

}  // namespace

bool TForm1::HandleListDrop(QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  // A save dragged within the list is not a file to restore.
  if (drop->source() == Savertableview) return false;
  const QStringList files = LocalFiles(drop->mimeData());
  if (files.isEmpty()) return false;
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  // The restores ask their questions after the drop has ended, not inside
  // the drag's own event handling.
  if (type == QEvent::Drop)
    QTimer::singleShot(0, this, [this, files] { RestoreDroppedFiles(files); });
  return true;
}

void TForm1::RestoreDroppedFiles(const QStringList& files) {
  Guarded([&] {
    if (RefuseWithoutCatalogue()) return;
    RestoreListDevice();
    if (RefuseReadOnly(list_image_)) return;
    for (const QString& file : files) {
      if (list_device_ == kPS1Card)
        AppendPS1Saver(file);
      else
        AppendArchive(file);
    }
  });
}

QStringList TForm1::ExportSelectedForDrag() {
  QStringList files;
  Guarded([&] {
    if (TreeEmpty()) return;
    RestoreListDevice();
    const QString folder = work_folder_ + "drag";
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder)) return;
    const bool ps1 = list_device_ == kPS1Card;
    const std::vector<int> rows = ChosenRows();
    std::vector<ListedSave> saves;
    // A drag carries no message box: a row that names no save drags nothing.
    for (const int row : rows) {
      ListedSave save;
      if (ps1) {
        save.ps1_entry = ps1_list_.entries[row];
        if (save.ps1_entry >= manager::kPS1Entries) return;
        save.name = Card().PS1Card.Items[save.ps1_entry].FileName;
      } else {
        if (SaveFolderAt(row, save.folder) != SaveSelection::kFolder) return;
        save.name = save.folder.Name;
      }
      saves.push_back(std::move(save));
    }
    if (saves.empty()) return;
    ShowNotify("Backup Saver Now..");
    StartBusy();
    bool ok = true;
    for (ListedSave& save : saves) {
      // Two saves of one name get files of their own.
      QString file = folder + "/" + SafeFileName(Decoded(save.name)) + (ps1 ? ".mcs" : ".psu");
      if (QFileInfo::exists(file))
        file = QFile::decodeName(QByteArray::fromStdString(
            manager::KeptCopyPath(PathOf(folder), save.name, ps1 ? ".mcs" : ".psu")));
      if (ps1)
        ok = CardWork([&] { return Card().UploadPS1Saver(PathOf(file), save.ps1_entry); }).done;
      else
        ok = Card().Volume().Mounted() &&
             CardWork([&] { return Card().BackupSaveFolder(PathOf(file), save.folder); });
      if (!ok) break;
      files << file;
    }
    StopBusy();
    HideNotify();
    // A drag that cannot carry every save it was asked for carries none.
    if (!ok) {
      files.clear();
      ShowFailure(texts::kUploadSaverFail);
    }
  });
  return files;
}

}  // namespace travosk
