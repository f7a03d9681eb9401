// Copy between two open devices: the selected save of the list's device goes
// to the other device (the one catalogued before it, shown in the split
// view) through the same never-lose-the-old-save path as an append, and the
// copy is read back and compared with the source before success is said.
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>

#include "app/mainwindow.h"
#include "app/pcfiles.h"
#include "app/strings.h"
#include "app/texts.h"
#include "manager/findsave.h"
#include "manager/ps1card.h"
#include "manager/savecompare.h"
#include "manager/savereplace.h"

namespace travosk {
namespace {

constexpr const char* kCopySource = "~copy-source";
constexpr const char* kCopyCheck = "~copy-check";
constexpr const char* kNoAnswer = "the other card or the adapter did not answer as expected";
constexpr const char* kReadsBackOther = "the copy on the other card reads back different bytes";

QString KindName(DeviceKind kind) {
  return kind == kPS1Card ? "PS1 CARD" : kind == kSmartMedia ? "SMART CARD" : "PS2 CARD";
}

}  // namespace

void TForm1::KeepListAsOther(manager::TPS2MFMSYS* next_card, Slot next_medium) {
  if (list_device_ == kNoDevice) return;
  if (list_card_ == next_card && list_medium_ == next_medium) return;  // read again
  other_ = {list_card_, list_device_, list_medium_, list_image_};
  OtherList->clear();
  for (int i = 0; i < Savertableview->count(); ++i) {
    const QListWidgetItem* item = Savertableview->item(i);
    auto* copy = new QListWidgetItem(QIcon(savertableImage.At(item->data(kImageRole).toInt())),
                                     item->text(), OtherList);
    copy->setToolTip(item->data(kTitleRole).toString());
  }
  OtherPanel->show();
}

void TForm1::SwitchTo(const DeviceRef& device) {
  card_ = device.card;
  current_image_ = device.image;
  current_device_ = device.kind;
  Card().Access().Medium = device.medium;
  DEVICENAME->setText(KindName(device.kind));
  DEVICENAME->adjustSize();
}

void TForm1::CopySaverClick() {
  Guarded([this] {
    if (RefuseWithoutCatalogue()) return;
    RestoreListDevice();
    if (!other_.card) {
      ui_.Information("Open a second device to copy to.");
      return;
    }
    if (RefuseReadOnly(other_.image)) return;
    const bool ps1 = list_device_ == kPS1Card;
    if (ps1 != (other_.kind == kPS1Card)) {
      ui_.Information("PS1 saves copy to a PS1 card, PS2 saves to a PS2 card or SmartMedia.");
      return;
    }
    const std::vector<int> rows = ChosenRows();
    std::vector<ListedSave> saves;
    if (!ListedSaves(rows, saves)) return;
    SetOperationCaption("Copy Save");
    // Every save is read off the source before the target is touched, so
    // the source is never reopened between the copies.
    std::vector<QString> sources;
    auto forget_sources = [&sources] {
      for (const QString& s : sources) QFile::remove(s);
    };
    ShowNotify("Backup Saver Now..");
    StartBusy();
    bool backed_up = true;
    for (size_t i = 0; i < saves.size() && backed_up; ++i) {
      ListedSave& save = saves[i];
      const QString source = WorkFile(kCopySource) + (i ? QString("-%1").arg(i) : QString());
      sources.push_back(source);
      if (ps1)
        backed_up =
            CardWork([&] { return Card().UploadPS1Saver(PathOf(source), save.ps1_entry); }).done;
      else
        backed_up = Card().Volume().Mounted() &&
                    CardWork([&] { return Card().BackupSaveFolder(PathOf(source), save.folder); });
      if (!backed_up && saves.size() > 1) {
        StopBusy();
        HideNotify();
        forget_sources();
        ui_.Information(QString(texts::kUploadSaverFail) + "\n" + texts::Quoted(save.name));
        SetOperationCaption("");
        return;
      }
    }
    StopBusy();
    HideNotify();
    if (!backed_up) {
      forget_sources();
      ShowFailure(texts::kUploadSaverFail);
      SetOperationCaption("");
      return;
    }
    const DeviceRef from{list_card_, list_device_, list_medium_, list_image_};
    const DeviceRef to = other_;
    SwitchTo(to);
    QStringList failed;
    int copies = 0;
    for (size_t i = 0; i < saves.size(); ++i) {
      const std::optional<bool> copied =
          ps1 ? CopyPS1Save(sources[i], saves[i].name) : CopyPS2Save(sources[i], saves[i].name);
      if (!copied) continue;  // declined, or already there
      ++copies;
      if (!*copied) failed << texts::Quoted(saves[i].name);
    }
    forget_sources();
    // Both devices read again: the target into the split view, the source
    // back into the list.
    CatalogChosenDevice();
    SwitchTo(from);
    CatalogChosenDevice();
    selected_tree_index_ = 0;
    if (saves.size() == 1 && copies == 1 && failed.isEmpty())
      ui_.Information("Copy complete.");
    else if (saves.size() == 1 && copies == 1)
      ui_.Failure(QString("Copy Fail.\n") + copy_failure_);
    else if (!failed.isEmpty())
      ui_.Failure("Copy Fail.\n" + failed.join("\n") + "\n" + copy_failure_);
    else if (copies > 0)
      ui_.Information("Copy complete.");
    SetOperationCaption("");
  });
}

bool TForm1::CatalogueCopyTarget(bool ps1) {
  copy_failure_ = kNoAnswer;
  ShowNotify(texts::kCatalogLoading);
  StartBusy();
  return CardWork([&] { return ps1 ? Card().PS1Catalog() : Card().Catalog(); });
}

std::optional<bool> TForm1::EndCopy(std::optional<bool> result) {
  EndCardWork();
  return result;
}

std::optional<bool> TForm1::CopyPS2Save(const QString& source, const std::string& name) {
  if (!CatalogueCopyTarget(false)) return EndCopy(false);
  manager::Outcome copied;
  if (const auto existing = manager::CataloguedSave(Card(), name)) {
    StopBusy();
    HideNotify();
    ui_.Beep();
    if (!ui_.Confirm("Saver " + texts::Quoted(name) + " on Memory card, OVERWRITE ?"))
      return std::nullopt;
    copied.done = ReplaceWithBackup(source, *existing) == manager::ReplaceResult::kDone;
    if (!copied) copied.reason = Card().LastError();
  } else {
    ShowNotify("Append Saver Now...");
    TfileIP root = card::RootDirectory();
    copied = CardWork([&] { return Card().AppendSaveArchive(PathOf(source), root); });
  }
  if (!copied) {
    if (!copied.reason.empty()) copy_failure_ = QString::fromStdString(copied.reason);
    return EndCopy(false);
  }
  // The copy as the other device holds it must back up to the same save.
  const bool same = CardWork([&] {
    return manager::CopyReadsBack(Card(), name, PathOf(source), PathOf(WorkFile(kCopyCheck)));
  });
  if (!same) copy_failure_ = kReadsBackOther;
  return EndCopy(same);
}

std::optional<bool> TForm1::CopyPS1Save(const QString& source, const std::string& name) {
  if (!CatalogueCopyTarget(true)) return EndCopy(false);
  if (manager::FindPS1Save(Card().PS1Card, name)) {
    EndCopy(std::nullopt);
    ui_.Information("Saver " + texts::Quoted(name) + " is on the other card already.");
    return std::nullopt;
  }
  ShowNotify("Append Saver Now...");
  const manager::Outcome placed = CardWork([&] { return Card().DownloadPS1Saver(PathOf(source)); });
  if (!placed) {
    if (!placed.reason.empty()) copy_failure_ = QString::fromStdString(placed.reason);
    return EndCopy(false);
  }
  if (!CardWork([&] { return Card().PS1Catalog(); })) {
    if (!Card().LastError().empty()) copy_failure_ = QString::fromStdString(Card().LastError());
    return EndCopy(false);
  }
  const bool same = CardWork([&] {
    return manager::PS1CopyReadsBack(Card(), name, PathOf(source), PathOf(WorkFile(kCopyCheck)));
  });
  if (!same) copy_failure_ = kReadsBackOther;
  return EndCopy(same);
}

}  // namespace travosk
