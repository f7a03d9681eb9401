// Append and backup of a save (PS2 card and SmartMedia alike; PS1 cards have
// their own branch).
#include <QFile>
#include <QFileInfo>

#include "app/mainwindow.h"
#include "app/pcfiles.h"
#include "app/strings.h"
#include "app/texts.h"
#include "formats/files.h"
#include "manager/findsave.h"
#include "manager/keepboth.h"
#include "manager/ps1card.h"
#include "manager/savereplace.h"

namespace travosk {
namespace {

constexpr const char* kNoRoomReason = "not enough free space on the card";
constexpr const char* kNotReadReason = "the card is no longer the one read: OPEN/CATALOG it again";

}  // namespace

void TForm1::AppendSaverClick() {
  Guarded([this] {
    if (RefuseWithoutCatalogue()) return;
    RestoreListDevice();
    if (RefuseReadOnly(list_image_)) return;
    if (list_device_ == kPS1Card) {
      AppendPS1Saver();
      return;
    }
    const auto archive = ui_.OpenFile(OpenDialog2);
    if (!archive) return;
    AppendArchive(*archive);
  });
}

void TForm1::AppendArchive(const QString& archive) {
  // Without a mounted card there is no allocation table to write into.
  if (!CardWork([&] { return Card().Catalog(); })) {
    ShowFailure(texts::kDownloadSaverFail);
    SetOperationCaption("");
    return;
  }
  // Any save file the core reads: its own name and the room it takes.
  const SaveFileFacts facts = PS2SaveFileFacts(archive);
  const std::string& name = facts.name;
  const std::optional<TfileIP> existing = manager::CataloguedSave(Card(), name);
  bool replace = false, keep_both = false;
  if (existing) {
    ui_.Beep();
    if (ui_.Confirm("Saver " + texts::Quoted(name) + " on Memory card, OVERWRITE ?")) {
      replace = true;
    } else {
      ui_.Beep();
      if (!ui_.Warn("The saver " + texts::Quoted(name) + " will be double, continous ?")) {
        SetOperationCaption("");
        return;
      }
      keep_both = true;
    }
  }
  SetOperationCaption("Append Save");
  repaint();
  bool ok = false;
  QString reason;
  std::string placed = name;
  if (replace) {
    const auto result = ReplaceWithBackup(archive, *existing);
    ok = result == manager::ReplaceResult::kDone;
    if (result == manager::ReplaceResult::kNoRoom) reason = kNoRoomReason;
    FillSaveList();
  } else {
    ShowNotify("Append Saver Now...");
    StartBusy();
    if (facts.bytes >= Capacity() - used_bytes_) reason = kNoRoomReason;
    if (facts.bytes < Capacity() - used_bytes_) {
      TfileIP blank = card::RootDirectory();
      // Both kept: the incoming save takes a name of its own, since the
      // console and every lookup reach only the first of two equal names.
      auto keep_both_copies = [&] {
        try {
          const formats::Ps2Save save = formats::ReadPs2SaveFile(PathOf(archive));
          return CardWork([&] { return manager::AppendSaveKeepingBoth(Card(), save, placed); });
        } catch (const std::runtime_error& e) {
          reason = QString::fromStdString(e.what());
          return false;
        }
      };
      ok = keep_both ? keep_both_copies()
                     : CardWork([&] { return Card().AppendSaveArchive(PathOf(archive), blank); }).done;
      if (ok) {
        (void)CardWork([&] { return Card().Catalog(); });
        FillSaveList();
      }
    }
  }
  EndCardWork();
  selected_tree_index_ = 0;
  if (ok && placed != name)
    ui_.Information(QString(texts::kDownloadSaverComplete) + "\n" +
                    texts::KeptBothAs(name, placed));
  else if (ok)
    ui_.Information(texts::kDownloadSaverComplete);
  else
    ShowFailure(texts::kDownloadSaverFail, reason);
  SetOperationCaption("");
}

manager::ReplaceResult TForm1::ReplaceWithBackup(const QString& archive, TfileIP existing) {
  // The old save goes only when the new one fits in the room it frees, is
  // backed up first, and comes back when the new one cannot be written.
  ShowNotify("delete Exist Saver..");
  StartBusy();
  const QString backup = KeptCopy(existing.Name, ".psu");
  const auto result = CardWork(
      [&] { return manager::ReplaceSave(Card(), PathOf(archive), existing, PathOf(backup)); });
  if (result == manager::ReplaceResult::kFailedLost) {
    StopBusy();
    HideNotify();
    ui_.Error(texts::NotPutBack(existing.Name, backup));
  }
  return result;
}

void TForm1::AppendPS1Saver(const std::optional<QString>& given) {
  const auto file = given ? given : ui_.OpenFile(PS1itmOpenDialog);
  if (!file) {
    SetOperationCaption("");
    return;
  }
  ShowNotify(texts::kCatalogLoading);
  (void)CardWork([&] { return Card().PS1Catalog(); });
  FillPS1List();
  HideNotify();

  // The whole file is read and checked first, whatever PS1 format it is.
  formats::Ps1Save save;
  try {
    save = formats::ReadPs1SaveFile(PathOf(*file));
  } catch (const std::runtime_error&) {
    ui_.Information("Not is PS1 saver file.");
    SetOperationCaption("");
    return;
  }
  const std::string name = save.Name();

  const std::optional<int> found = manager::FindPS1Save(Card().PS1Card, name);
  if (found) {
    if (ui_.Confirm("Saver " + texts::Quoted(name) + " on Memory card, OVERWRITE ?")) {
      ReplacePS1Saver(save, name, *found);
      SetOperationCaption("");
      return;
    }
    ui_.Information("Download Saver Cancelled.");
  }
  // The save's own blocks, whatever header its file had.
  const auto size = static_cast<int64_t>(save.BlockCount() * formats::kPs1BlockBytes);
  if (manager::kPS1Capacity - manager::PS1UsedBytes(Card().PS1Card) < size) {
    ui_.Information("Not enough free space to append saver.");
  } else if (!found) {
    ShowNotify("Append Saver Now...");
    if (CardWork([&] { return Card().DownloadPS1Saver(save); }).done) {
      ShowNotify(texts::kCatalogLoading);
      StartBusy();
      (void)CardWork([&] { return Card().PS1Catalog(); });
      FillPS1List();
      HideNotify();
      StopBusy();
      RedetectAdapter();
      ui_.Information(texts::kDownloadSaverComplete);
    } else {
      HideNotify();
      RedetectAdapter();
      ShowFailure(texts::kDownloadSaverFail);
    }
  }
  SetOperationCaption("");
}

void TForm1::ReplacePS1Saver(const formats::Ps1Save& save, const std::string& name, int entry) {
  // The old save goes only when the new one fits in the room it frees, only
  // after a copy of it is on the PC, and comes back when the new one cannot
  // be written.
  StartBusy();
  ShowNotify("delete Exist Saver..");
  const QString backup = KeptCopy(name, ".PS1");
  const auto result =
      CardWork([&] { return manager::ReplacePS1Save(Card(), save, entry, PathOf(backup)); });
  ShowNotify(texts::kCatalogLoading);
  (void)CardWork([&] { return Card().PS1Catalog(); });
  FillPS1List();
  StopBusy();
  HideNotify();
  RedetectAdapter();
  switch (result) {
    case manager::ReplaceResult::kDone:
      ui_.Information(texts::kDownloadSaverComplete);
      break;
    case manager::ReplaceResult::kNoRoom:
      ui_.Information("Not enough free space to append saver.");
      break;
    case manager::ReplaceResult::kFailedLost:
      ui_.Error(texts::NotPutBack(name, backup));
      ShowFailure(texts::kDownloadSaverFail);
      break;
    case manager::ReplaceResult::kBackupFailed:
      ShowFailure(texts::kDownloadSaverFail, "the save on the card could not be backed up first");
      break;
    case manager::ReplaceResult::kFailedRestored:
      ShowFailure(texts::kDownloadSaverFail);
      break;
  }
}

void TForm1::SaverBackupClick() {
  Guarded([this] {
    if (RefuseWithoutCatalogue()) return;
    RestoreListDevice();
    if (const auto rows = SelectedRows(); rows.size() > 1) {
      BackupSaveSet(rows);
      return;
    }
    if (list_device_ == kPS1Card) {
      BackupPS1Saver();
      return;
    }
    if (!selected_) return;
    TfileIP folder;
    const SaveSelection selection = SelectedSaveFolder(folder);
    if (selection != SaveSelection::kNoIndex) SetOperationCaption("Backup Save");
    if (selection != SaveSelection::kFolder) {
      ui_.Information(texts::kNotSupportSelect);
      SetOperationCaption("");
      return;
    }
    SaveDialog1.file_name = SafeFileName(Decoded(folder.Name)) + ".psu";
    if (const auto target = ui_.SaveFile(SaveDialog1)) {
      repaint();
      ShowNotify("Backup Saver Now..");
      StartBusy();
      const bool ok = Card().Volume().Mounted() &&
                      CardWork([&] { return Card().BackupSaveFolder(PathOf(*target), folder); });
      EndCardWork();
      if (ok)
        ui_.Information(texts::kUploadSaverComplete);
      else
        ShowFailure(texts::kUploadSaverFail, Card().Volume().Mounted() ? QString() : kNotReadReason);
    }
    SetOperationCaption("");
  });
}

void TForm1::BackupPS1Saver() {
  if (!ps1_list_.selected || ps1_list_.selected_position >= ps1_list_.count) return;
  const int e = ps1_list_.entries[ps1_list_.selected_position];
  if (e >= manager::kPS1Entries) return;
  SetOperationCaption("Backup Save");
  PS1itmSaveDialog.file_name = SafeFileName(Decoded(Card().PS1Card.Items[e].FileName)) + ".PS1";
  if (const auto target = ui_.SaveFile(PS1itmSaveDialog)) {
    repaint();
    ShowNotify("Backup Saver Now..");
    StartBusy();
    const manager::Outcome outcome =
        CardWork([&] { return Card().UploadPS1Saver(PathOf(*target), e); });
    EndCardWork();
    if (outcome)
      ui_.Information(texts::kUploadSaverComplete);
    else
      ShowFailure(texts::kUploadSaverFail, QString::fromStdString(outcome.reason));
  }
  SetOperationCaption("");
}

}  // namespace travosk
