// The two panes of the split view: each names its card, and the saves of the
// right one take the save commands as those of the left one do. A command on
// the right pane's saves reads that device into the list for its run and the
// list's own device back afterwards, so the panes keep their sides.
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QTimer>

#include "app/mainwindow.h"
#include "app/savelistview.h"

namespace travosk {
namespace {

QString KindWord(DeviceKind kind) {
  return kind == kPS1Card ? "PS1 CARD" : kind == kSmartMedia ? "SMART CARD" : "PS2 CARD";
}

QStringList ChosenNames(const QListWidget& list) {
  QStringList names;
  for (const QListWidgetItem* item : list.selectedItems()) names << item->text();
  return names;
}

}  // namespace

QString TForm1::CardName(int image) const {
  if (image >= 0 && image < static_cast<int>(images_.size())) {
    const OpenedImage& opened = *images_[static_cast<size_t>(image)];
    // A reader by its kind and its port's own name, short enough for the
    // device dialog's buttons: "MemCARDuino 0.8 ttyUSB0".
    if (opened.reader) {
      const QString identity = QString::fromStdString(opened.reader->Reader().Identity());
      return identity.left(identity.indexOf(" on ")) + " " + QFileInfo(opened.path).fileName();
    }
    return QFileInfo(opened.path).fileName();
  }
  return "adapter";
}

void TForm1::ShowPaneNames() {
  // The list's pane: an image by its file name; the adapter's card by its
  // size, with the USB plug that stands for the adapter.
  if (list_image_ >= 0) {
    Label1->setText(CardName(list_image_));
    Label1->setToolTip(images_[static_cast<size_t>(list_image_)]->path);
  } else {
    Label1->setToolTip({});
  }
  Label1->adjustSize();
  USBImage->setVisible(link_.IsConnected() && list_image_ < 0);
  if (!other_.card) return;
  OtherDeviceName->setText(KindWord(other_.kind) + "  " + CardName(other_.image));
  OtherDeviceName->setToolTip(other_.image >= 0 ? images_[static_cast<size_t>(other_.image)]->path
                                                : QString());
  OtherDeviceName->adjustSize();
}

void TForm1::BuildSaveMenus() {
  auto add = [this](QMenu* menu, const char* name, const QString& caption,
                    std::function<void()> command) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, std::move(command));
  };
  ListMenu = new QMenu(this);
  ListMenu->setObjectName("ListMenu");
  add(ListMenu, "ListCopy", "&Copy to the other pane", [this] { CopySaverClick(); });
  add(ListMenu, "ListBackup", "Backup &Saver", [this] { SaverBackupClick(); });
  add(ListMenu, "ListDelete", "&Delete Saver", [this] { DeleteSaverClick(); });
  add(ListMenu, "ListProperties", "Properties", [this] {
    if (const auto rows = ChosenRows(); !rows.empty()) ShowSavePreview(rows.front());
  });
  OtherMenu = new QMenu(this);
  OtherMenu->setObjectName("OtherMenu");
  add(OtherMenu, "OtherCopy", "&Copy to the other pane",
      [this] { OnOtherPane([this] { CopySaverClick(); }); });
  add(OtherMenu, "OtherBackup", "Backup &Saver",
      [this] { OnOtherPane([this] { SaverBackupClick(); }); });
  add(OtherMenu, "OtherDelete", "&Delete Saver",
      [this] { OnOtherPane([this] { DeleteSaverClick(); }); });
  add(OtherMenu, "OtherProperties", "Properties", [this] {
    OnOtherPane([this] {
      if (const auto rows = ChosenRows(); !rows.empty()) ShowSavePreview(rows.front());
    });
  });
  OtherList->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(OtherList, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QListWidgetItem* item = OtherList->itemAt(at);
    if (!item) return;
    if (!item->isSelected()) {
      OtherList->clearSelection();
      item->setSelected(true);
    }
    OtherMenu->exec(OtherList->viewport()->mapToGlobal(at));
  });
  connect(OtherList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    OtherList->clearSelection();
    item->setSelected(true);
    OnOtherPane([this] {
      if (const auto rows = ChosenRows(); !rows.empty()) ShowSavePreview(rows.front());
    });
  });
}

void TForm1::SavertableviewContextMenu(const QPoint& at) {
  QListWidgetItem* item = Savertableview->itemAt(at);
  if (!item) return;
  if (!item->isSelected()) Savertableview->setCurrentItem(item);
  ListMenu->findChild<QAction*>("ListCopy")->setEnabled(other_.card != nullptr);
  ListMenu->exec(Savertableview->viewport()->mapToGlobal(at));
}

void TForm1::OnOtherPane(const std::function<void()>& command, bool needs_saves) {
  Guarded([&] {
    if (!other_.card) return;
    const QStringList names = ChosenNames(*OtherList);
    if (needs_saves && names.isEmpty()) return;
    const DeviceRef back{list_card_, list_device_, list_medium_, list_image_};
    const DeviceRef other = other_;
    SwitchTo(other);
    CatalogChosenDevice();
    if (list_card_ != other.card || list_medium_ != other.medium) return;  // not read
    Savertableview->clearSelection();
    for (int row = 0; row < Savertableview->count(); ++row)
      if (names.contains(Savertableview->item(row)->text())) {
        Savertableview->setCurrentRow(row, QItemSelectionModel::Select);
      }
    command();
    // The list's own device back on the left.
    if (list_card_ != back.card || list_medium_ != back.medium) {
      SwitchTo(back);
      CatalogChosenDevice();
    }
  });
}

bool TForm1::HandlePaneDrop(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  const bool onto_list = watched == Savertableview->viewport();
  if (!onto_list && watched != OtherList->viewport()) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  const QByteArray from = drop->mimeData() ? drop->mimeData()->data(SaveListView::kPaneFormat)
                                           : QByteArray();
  // Saves dragged from one pane onto the other are copied between the
  // devices, verified, as the copy command does.
  const bool across = onto_list ? from == "other" : from == "list";
  if (across) {
    if (!other_.card) return false;
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop)
      QTimer::singleShot(0, this, [this, onto_list] {
        if (onto_list)
          OnOtherPane([this] { CopySaverClick(); });
        else
          CopySaverClick();
      });
    return true;
  }
  if (onto_list || !from.isEmpty()) return false;  // the list's own drops: HandleListDrop
  // Save files dropped on the right pane go to its device.
  QStringList files;
  if (drop->mimeData() && drop->mimeData()->hasUrls())
    for (const QUrl& url : drop->mimeData()->urls()) {
      if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) return false;
      files << url.toLocalFile();
    }
  if (files.isEmpty() || !other_.card) return false;
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (type == QEvent::Drop)
    QTimer::singleShot(0, this, [this, files] {
      OnOtherPane([this, files] { RestoreDroppedFiles(files); }, false);
    });
  return true;
}

}  // namespace travosk
