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
    bool ok = false;
    QString file;
    if (list_device_ == kPS1Card) {
      if (!ps1_list_.selected || ps1_list_.selected_position >= ps1_list_.count) return;
      const int e = ps1_list_.entries[ps1_list_.selected_position];
      if (e >= manager::kPS1Entries) return;
      file = folder + "/" + SafeFileName(Decoded(Card().PS1Card.Items[e].FileName)) + ".mcs";
      ShowNotify("Backup Saver Now..");
      StartBusy();
      ok = CardWork([&] { return Card().UploadPS1Saver(PathOf(file), e); });
    } else {
      TfileIP save;
      if (!selected_ || SelectedSaveFolder(save) != SaveSelection::kFolder) return;
      file = folder + "/" + SafeFileName(Decoded(save.Name)) + ".psu";
      ShowNotify("Backup Saver Now..");
      StartBusy();
      ok = Card().Volume().Mounted() &&
           CardWork([&] { return Card().BackupSaveFolder(PathOf(file), save); });
    }
    StopBusy();
    HideNotify();
    if (ok)
      files << file;
    else
      ui_.Information(texts::kUploadSaverFail);
  });
  return files;
}

}  // namespace travosk
