// OPEN/CATALOG: choose a device, read its catalogue and rebuild the list.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "app/mainwindow.h"
#include "app/strings.h"
#include "app/texts.h"

namespace travosk {

void TForm1::CatalogBtnClick() {
  Guarded([this] {
    SetOperationCaption(texts::kCatalogLoading);
    repaint();
    selected_ = false;
    ResetSelectionDisplay();
    selected_tree_index_ = 0;
    if (SelectDevice() && ReaderHoldsCard()) CatalogChosenDevice();
    SetOperationCaption("");
  });
}

void TForm1::CatalogChosenDevice() {
  for (QPushButton* b : {DeleteSaver, AppendSaver, SaverBackup, savereditbtn}) b->setEnabled(false);
  ShowNotify(texts::kCatalogLoading);
  StartBusy();
  const bool ps1 = current_device_ == kPS1Card;
  const bool ok = ps1 ? CardWork([&] { return Card().PS1Catalog(); })
                      : CardWork([&] { return Card().Catalog(); });
  if (ok && current_image_ >= 0 && images_[static_cast<size_t>(current_image_)]->session) {
    // A folder card's folder follows its card as soon as a change is listed.
    try {
      images_[static_cast<size_t>(current_image_)]->session->WriteBackFolderCard();
    } catch (const std::exception& e) {
      ui_.Information(QString::fromStdString(std::string("The folder card was not brought up to date: ") + e.what()));
    }
  }
  if (ok) {
    KeepListAsOther(card_, Card().Access().Medium);
    list_device_ = current_device_;
    list_medium_ = Card().Access().Medium;
    list_card_ = card_;
    list_image_ = current_image_;
    if (ps1)
      FillPS1List();
    else
      FillSaveList();
    RedetectAdapter();
    ShowMemorySize();
    ShowPaneNames();
    for (QPushButton* b : {DeleteSaver, AppendSaver, SaverBackup, savereditbtn})
      b->setEnabled(true);
  } else {
    ClearTree();
  }
  StopBusy();
  HideNotify();
}

void TForm1::ReadListAgainIfChanged() {
  if (list_device_ == kNoDevice || list_device_ == kPS1Card || list_card_ != card_ ||
      !Card().CardChanged())
    return;
  if (CardWork([&] { return Card().Catalog(); }))
    FillSaveList();
  else
    DropList();
}

void TForm1::MarkListStale() {
  if (list_device_ == kNoDevice || list_image_ >= 0) return;
  list_stale_ = true;
  selected_ = false;
  Savertableview->setEnabled(false);
  for (QPushButton* b : {DeleteSaver, AppendSaver, SaverBackup, savereditbtn}) b->setEnabled(false);
  SelectLabel->setText("The adapter was removed: this list is out of date.");
  SelectLabel->adjustSize();
}

void TForm1::ReadStaleListAgain() {
  Guarded([this] {
    list_stale_ = false;
    Savertableview->setEnabled(true);
    // The card may have been written elsewhere meanwhile, or be another one.
    RestoreListDevice();
    CatalogChosenDevice();
    if (TreeEmpty()) DropList();
    ResetSelectionDisplay();
  });
}

void TForm1::RestoreListDevice() {
  if (list_device_ == kNoDevice || (list_device_ == current_device_ && list_card_ == card_)) return;
  card_ = list_card_;
  current_image_ = list_image_;
  current_device_ = list_device_;
  Card().Access().Medium = list_medium_;
  DEVICENAME->setText(list_device_ == kPS1Card      ? "PS1 CARD"
                      : list_device_ == kSmartMedia ? "SMART CARD"
                                                    : "PS2 CARD");
  DEVICENAME->adjustSize();
}

}  // namespace travosk
