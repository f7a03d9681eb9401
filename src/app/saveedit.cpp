// Delete and edit of a save.
#include <QFile>
#include <QFileInfo>

#include "app/mainwindow.h"
#include "app/pcfiles.h"
#include "app/strings.h"
#include "app/texts.h"
#include "manager/findsave.h"
#include "manager/savereplace.h"

namespace travosk {
namespace {

constexpr const char* kEditFile = "~psd._";

}  // namespace

TForm1::SaveSelection TForm1::SelectedSaveFolder(TfileIP& folder) {
  return SaveFolderAt(selected_index_, folder);
}

TForm1::SaveSelection TForm1::SaveFolderAt(int row, TfileIP& folder) {
  selected_tree_index_ = 0;
  if (row < 0 || row >= static_cast<int>(entries_.size())) return SaveSelection::kNoIndex;
  const int position = entries_[row].folder_index;
  const card::TDiritemTable& nodes = Card().Nodes();
  if (position < 0 || static_cast<size_t>(position) >= nodes.Count()) return SaveSelection::kNoIndex;
  selected_tree_index_ = nodes.At(position).Index;
  if (selected_tree_index_ == 0) return SaveSelection::kNoIndex;
  if (!nodes.FindNodeByIndex(selected_tree_index_, folder) || !folder.Dir || folder.IsDotName())
    return SaveSelection::kNotFolder;
  return SaveSelection::kFolder;
}

void TForm1::DeleteSaverClick() {
  Guarded([this] {
    if (RefuseWithoutCatalogue()) return;
    RestoreListDevice();
    if (RefuseReadOnly(list_image_)) return;
    if (const auto rows = SelectedRows(); rows.size() > 1) {
      DeleteSaveSet(rows);
    } else if (list_device_ == kPS1Card) {
      DeletePS1SaverFlow();
    } else if (selected_) {
      TfileIP folder;
      const SaveSelection selection = SelectedSaveFolder(folder);
      if (selection != SaveSelection::kNoIndex) SetOperationCaption("Delete Save");
      if (selection != SaveSelection::kFolder) {
        ui_.Information(texts::kNotSupportSelect);
      } else {
        ui_.Beep();
        if (ui_.Confirm("Delete Save " + texts::Quoted(folder.Name))) {
          ShowNotify("Delete Saver Now..");
          StartBusy();
          // The card must still be the one the list was read from.
          manager::Outcome deleted;
          if (Card().Volume().Mounted())
            deleted = CardWork([&] { return Card().DeleteSaveFolder(folder); });
          const bool ok = deleted.done;
          // A save gone from the card since the list was read is named; the
          // list is read again as the command ends.
          const QString changed =
              deleted.card_changed
                  ? texts::Quoted(folder.Name) + ": " + QString::fromStdString(deleted.reason)
                  : QString();
          if (ok) {
            (void)CardWork([&] { return Card().Catalog(); });
            FillSaveList();
          }
          EndCardWork();
          selected_tree_index_ = 0;
          if (ok)
            ui_.Information("Delete complete.");
          else
            ShowFailure("Delete Fail.", changed);
        }
      }
      SetOperationCaption("");
    }
    ResetSelectionDisplay();
  });
}

void TForm1::DeletePS1SaverFlow() {
  if (!ps1_list_.selected || ps1_list_.selected_position >= ps1_list_.count) return;
  const int e = ps1_list_.entries[ps1_list_.selected_position];
  if (e >= manager::kPS1Entries) return;
  SetOperationCaption("Delete Save");
  ui_.Beep();
  if (ui_.Confirm("Delete Save " + texts::Quoted(Card().PS1Card.Items[e].FileName))) {
    ShowNotify("Delete Saver Now..");
    StartBusy();
    const manager::Outcome deleted = CardWork([&] { return Card().DeletePS1Saver(e); });
    StopBusy();
    ps1_list_.selected = false;
    if (deleted) {
      (void)CardWork([&] { return Card().PS1Catalog(); });
      FillPS1List();
      HideNotify();
      ui_.Information("Delete complete.");
    } else {
      // A save gone from the card since the list was read: the list is read
      // again so that it shows what the card holds now.
      if (deleted.card_changed && CardWork([&] { return Card().PS1Catalog(); })) FillPS1List();
      HideNotify();
      ShowFailure("Delete Fail.", QString::fromStdString(deleted.reason));
    }
  }
  SetOperationCaption("");
}

void TForm1::savereditbtnClick() {
  Guarded([this] {
    if (RefuseUnlessPS2List()) return;
    if (!selected_ || RefuseReadOnly(list_image_)) return;
    TfileIP folder;
    const SaveSelection selection = SelectedSaveFolder(folder);
    if (selection == SaveSelection::kNoIndex) {
      ui_.Information(texts::kNotSupportSelect);
      SetOperationCaption("");
      return;
    }
    SetOperationCaption("Backup Save");
    ShowNotify("Upload Saver Now..");
    const QString edit_file = WorkFile(kEditFile);
    // A copy left over from an earlier edit must not pass for this save.
    QFile::remove(edit_file);
    bool copied = false;
    if (selection == SaveSelection::kFolder) {
      repaint();
      StartBusy();
      copied = Card().Volume().Mounted() &&
               CardWork([&] { return Card().BackupSaveFolder(PathOf(edit_file), folder); });
      RedetectAdapter();
      StopBusy();
    }
    HideNotify();
    if (!copied || !QFileInfo::exists(edit_file) || !forms_.EditSave) {
      ui_.Information("Edit function not ready");
      SetOperationCaption("");
      return;
    }
    if (forms_.EditSave(edit_file, texts::File() + ":" + Decoded(folder.Name))) {
      ShowNotify("Recover Saver Now..");
      const bool ok = WriteBackEditedSave(edit_file);
      HideNotify();
      if (ok) {
        ui_.Information("Update complete.");
      } else {
        // The next edit starts from a fresh "~psd._": the edited bytes move to
        // a file of their own, which the program never touches again.
        const QString kept = KeptCopy(ArchiveSaveName(edit_file), ".psu");
        ui_.Information("Update Fail. The edited saver is kept in " +
                        (QFile::rename(edit_file, kept) ? kept : edit_file));
      }
      FillSaveList();
      RedetectAdapter();
      ui_.Beep();
    }
    SetOperationCaption("");
  });
}

QString TForm1::KeptCopy(const std::string& save_name, const char* extension) const {
  return QFile::decodeName(QByteArray::fromStdString(
      manager::KeptCopyPath(PathOf(work_folder_ + "savers"), save_name, extension)));
}

bool TForm1::WriteBackEditedSave(const QString& archive) {
  repaint();
  if (!CardWork([&] { return Card().Catalog(); })) return false;
  const std::string name = ArchiveSaveName(archive);
  const std::optional<TfileIP> existing = manager::CataloguedSave(Card(), name);
  SetOperationCaption("Append Save");
  repaint();
  StartBusy();
  bool ok = false;
  if (existing) {
    ok = ReplaceWithBackup(archive, *existing) == manager::ReplaceResult::kDone;
  } else if (QFileInfo(archive).size() < Capacity() - used_bytes_) {
    TfileIP blank = card::RootDirectory();
    ok = CardWork([&] { return Card().AppendSaveArchive(PathOf(archive), blank); }).done;
    if (ok) (void)CardWork([&] { return Card().Catalog(); });
  }
  StopBusy();
  selected_tree_index_ = 0;
  SetOperationCaption("");
  return ok;
}

}  // namespace travosk
