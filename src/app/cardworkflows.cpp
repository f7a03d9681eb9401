// Commands on a whole card or on the adapter: format, PC format, PS1 card
// upload and download, settings, reset and exit.
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include "app/devicedlg.h"
#include "app/mainwindow.h"
#include "app/strings.h"
#include "app/texts.h"
#include "dialogs/pcformatdlg.h"

namespace travosk {

uint64_t TForm1::ChangesSent() {
  return Card().ChangesSent();
}

void TForm1::ForgetCatalogue(uint64_t changes) {
  // The split view no longer describes a device that may have been rewritten.
  if (other_.card == card_ && other_.medium == Card().Access().Medium &&
      ChangesSent() != changes) {
    other_ = DeviceRef{};
    OtherList->clear();
    OtherPanel->hide();
  }
  // Only when the command may have rewritten the medium whose saves the list shows.
  if (list_device_ == kNoDevice || list_card_ != card_ || list_medium_ != Card().Access().Medium)
    return;
  if (ChangesSent() == changes) return;
  DropList();
}

void TForm1::DropList() {
  ClearTree();
  Card().Nodes().ClearNodes();
  Savertableview->clear();
  entries_.clear();
  ps1_list_ = PS1SaveList{};
  selected_ = false;
  marker_index_ = 0;
  list_device_ = kNoDevice;
  for (QPushButton* b : {DeleteSaver, AppendSaver, SaverBackup, savereditbtn}) b->setEnabled(false);
  ResetSelectionDisplay();
  // The free space shown was the old card's.
  SetRightAligned(FreesizeLabel, "--- KBytes Free", 288 + 85, 85);
}

bool TForm1::ErasePS1Card() {
  // The card's first block becomes a freshly formatted card's, so the console
  // and this program then see an empty formatted card; the bar follows the
  // core's 64 frame steps.
  SetBar(63, 0, 0);
  return CardWork([&] { return Card().FormatPS1Card(); });
}

void TForm1::FormattoPS2Click() {
  Guarded([this] {
    if (!SelectDevice()) {
      RedetectAdapter();
      SetOperationCaption("");
      return;
    }
    if (RefuseReadOnly(current_image_)) return;
    if (current_device_ == kPS1Card) {
      ui_.Beep();
      if (ui_.Warn("The PS1 card will be Erease, Card data will be lose, Erase?")) {
        const QString word = texts::PS1CardWord();
        ShowNotify("Now Formating...");
        const uint64_t changes = ChangesSent();
        // A frame that did not reach the card leaves it as it was there: say
        // so rather than report an erase that did not happen.
        const bool ok = ErasePS1Card();
        HideNotify();
        ForgetCatalogue(changes);
        ui_.Information(ok ? word + " Format complete. Please reset Adaptor. "
                           : word + " Format failed.");
      }
    } else if (!CardWork([&] { return Card().CheckLink(); })) {
      ui_.Information(texts::kCanNotConnect);
    } else {
      const QString word =
          Card().Access().Medium == Slot::kCard ? "PS2 MemoryCard" : "SmartMediaCard";
      ui_.Beep();
      if (ui_.Warn("The " + word + " will be Erease, " + word + " data will be lose, Erase?")) {
        ui_.Beep();
        if (ui_.Warn("The " + word + " turn to Unformated card show in PS2," +
                     " and Disappear Driver in PC, Continous?")) {
          ShowNotify("Now Formating...");
          const uint64_t changes = ChangesSent();
          const bool ok = CardWork([&] { return Card().FormatCard(); });
          HideNotify();
          ForgetCatalogue(changes);
          ui_.Information(ok ? word + " Format complete. Please reset Adaptor."
                             : word + " Format failed.");
        }
      }
    }
    RedetectAdapter();
    SetOperationCaption("");
  });
}

void TForm1::FormattoPCClick() {
  Guarded([this] {
    TDEVICEDlg& dlg = *forms_.DEVICEDlg;
    dlg.DEVPS1->setEnabled(false);
    dlg.DEVPS2->setEnabled(false);
    const bool chosen = SelectDevice();
    dlg.DEVPS1->setEnabled(true);
    dlg.DEVPS2->setEnabled(true);
    if (!chosen) {
      RedetectAdapter();
    } else if (Card().Access().Medium != Slot::kSmartMedia) {
      ui_.Beep();
      ui_.Information("Only support SmartMedia Card.");
    } else if (CardWork([&] { return Card().CheckLink(); })) {
      TPCformatDlg& pc = *forms_.PCformatDlg;
      pc.Accepted = false;
      pc.Preselect(Card().Access().CardBytes);
      ui_.ShowModal(pc);
      if (pc.Accepted) {
        ui_.Beep();
        if (ui_.Warn("The SmartMedia will be Erease, SmartMedia data will be lose, Erase?")) {
          ui_.Beep();
          if (ui_.Warn("The SmartMedia turn to Unformated card show in PS2, and Show Driver in "
                       "PC(must logical format need on PC), Continous?")) {
            const QString image = work_folder_ + pc.ImageName;
            if (!pc.ImageName.isEmpty() && QFileInfo(image).isFile()) {
              ShowNotify("Now Formating...");
              StartBusy();
              const uint64_t changes = ChangesSent();
              const bool ok = CardWork([&] { return Card().FormatToPC(PathOf(pc.ImageName)); });
              StopBusy();
              HideNotify();
              ForgetCatalogue(changes);
              ui_.Information(ok ? "Now SmartMedia turn to PC Format(Phyical formated)..Please Use "
                                   "PC for Logical Format now."
                                 : "Format Not Complete..");
            } else {
              ui_.Beep();
              ui_.Information("Error in missing file " + image);
            }
          }
        }
      }
    }
    SetOperationCaption("");
  });
}

// Steps 1 and 2 of both PS1 card transfers: a PS1 card must be chosen.
bool TForm1::ChoosePS1Card() {
  if (!SelectDevice()) {
    RedetectAdapter();
    return false;
  }
  if (current_image_ >= 0 && images_[static_cast<size_t>(current_image_)]->reader)
    return ReaderHoldsCard();
  if (Card().Access().Medium != Slot::kCard || CardWork([&] { return Card().CheckLink(); })) {
    ui_.Information(texts::kPleaseInsertPS1);
    return false;
  }
  if (!Card().Access().IsPS1Card) {
    ui_.Beep();
    ui_.Information(texts::kPleaseInsertPS1);
    RedetectAdapter();
    return false;
  }
  return true;
}

void TForm1::PS1ReadClick() {
  Guarded([this] {
    if (ChoosePS1Card()) {
      if (const auto file = ui_.SaveFile(PS1SaveDialog)) {
        bool go = true;
        if (QFileInfo::exists(*file)) {
          ui_.Beep();
          go = ui_.Confirm("File exists Overwrite ?");
        }
        if (go) {
          ShowNotify("Uploading...");
          const bool ok = CardWork([&] { return Card().UploadPS1Card(PathOf(*file)); });
          HideNotify();
          if (ok) {
            ui_.Information("Upload complete.");
            ui_.Beep();
          } else {
            ShowFailure("Upload Fail.");
          }
        }
      }
      RedetectAdapter();
    }
    SetOperationCaption("");
  });
}

void TForm1::PS1writeClick() {
  Guarded([this] {
    if (ChoosePS1Card() && !RefuseReadOnly(current_image_)) {
      if (const auto file = ui_.OpenFile(PS1OpenDialog)) {
        if (!QFileInfo::exists(*file)) {
          ui_.Information("File not exists.");
          ui_.Beep();
        } else {
          ShowNotify("Downloading...");
          const uint64_t changes = ChangesSent();
          const bool ok = CardWork([&] { return Card().DownloadPS1Card(PathOf(*file)); });
          if (ok) {
            ui_.Beep();
            ui_.Information("Download complete.");
            ShowNotify(texts::kCatalogLoading);
            if (CardWork([&] { return Card().PS1Catalog(); })) {
              list_device_ = kPS1Card;
              list_medium_ = Slot::kCard;
              list_card_ = card_;
              list_image_ = current_image_;
              FillPS1List();
            }
          } else {
            HideNotify();
            ForgetCatalogue(changes);
            ShowFailure("Download Fail.");
          }
          HideNotify();
        }
      }
      RedetectAdapter();
    }
    SetOperationCaption("");
  });
}

void TForm1::SETUPClick() {
  Guarded([this] { OpenConfigDialog(); });
}

void TForm1::BitBtn1Click() {
  Guarded([this] {
    if (!CardWork([&] { return Card().Com().DetectAdapter(); })) {
      ui_.Information(texts::kCanNotConnect);
      return;
    }
    RedetectAdapter();
    ui_.Beep();
  });
}

void TForm1::EXITClick() {
  if (card_busy_) {
    ui_.Beep();
    return;
  }
  if (start_error_.isEmpty()) PS2MFMSYS1.Com().ResetAdapter();
  close();
}

}  // namespace travosk
