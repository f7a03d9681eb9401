// Commands over several selected saves: backup asks once for a folder and
// writes each save under its own name, delete asks once for the whole set.
// A save that fails is named in the report and the others go on; nothing
// already on the PC is written over without a question.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <set>

#include "app/mainwindow.h"
#include "app/strings.h"
#include "app/texts.h"
#include "manager/ps1card.h"
#include "manager/savereplace.h"

namespace travosk {
namespace {

// A line of a report naming a save that failed, with the reason when the
// card manager gave one.
QString FailedLine(const std::string& name, const std::string& reason) {
  return texts::Quoted(name) + (reason.empty() ? QString() : ": " + QString::fromStdString(reason));
}

}  // namespace

bool TForm1::ListedSaves(const std::vector<int>& rows, std::vector<ListedSave>& saves) {
  saves.clear();
  for (const int row : rows) {
    ListedSave save;
    if (list_device_ == kPS1Card) {
      save.ps1_entry = ps1_list_.entries[row];
      if (save.ps1_entry >= manager::kPS1Entries) continue;
      save.name = Card().PS1Card.Items[save.ps1_entry].FileName;
    } else {
      if (SaveFolderAt(row, save.folder) != SaveSelection::kFolder) {
        ui_.Information(texts::kNotSupportSelect);
        selected_tree_index_ = 0;
        return false;
      }
      save.name = save.folder.Name;
    }
    saves.push_back(std::move(save));
  }
  selected_tree_index_ = 0;
  return !saves.empty();
}

void TForm1::BackupSaveSet(const std::vector<int>& rows) {
  std::vector<ListedSave> saves;
  if (!ListedSaves(rows, saves)) return;
  SetOperationCaption("Backup Save");
  const auto folder = ui_.ChooseFolder(BackupFolderDialog);
  if (!folder) {
    SetOperationCaption("");
    return;
  }
  const bool ps1 = list_device_ == kPS1Card;
  const QString extension = ps1 ? ".mcs" : ".psu";
  // Every question first, so that the work then runs without a break. Two
  // saves of one name (a card may hold both) get files of their own.
  std::vector<QString> targets;
  std::set<QString> taken;
  for (const ListedSave& save : saves) {
    QString file = QDir(*folder).filePath(SafeFileName(Decoded(save.name)) + extension);
    if (taken.count(file)) {
      file = QFile::decodeName(QByteArray::fromStdString(
          manager::KeptCopyPath(PathOf(*folder), save.name, extension.toStdString())));
    } else if (QFileInfo::exists(file)) {
      ui_.Beep();
      if (!ui_.Confirm("File " + texts::Quoted(PathOf(QFileInfo(file).fileName())) +
                       " exists Overwrite ?"))
        file.clear();
    }
    if (!file.isEmpty()) taken.insert(file);
    targets.push_back(file);
  }
  repaint();
  ShowNotify("Backup Saver Now..");
  StartBusy();
  QStringList failed;
  int written = 0;
  for (size_t i = 0; i < saves.size(); ++i) {
    if (targets[i].isEmpty()) continue;
    ListedSave& save = saves[i];
    const std::string target = PathOf(targets[i]);
    manager::Outcome outcome;
    if (ps1)
      outcome = CardWork([&] { return Card().UploadPS1Saver(target, save.ps1_entry); });
    else if (Card().Volume().Mounted())
      outcome = CardWork([&] { return Card().BackupSaveFolder(target, save.folder); });
    if (outcome)
      ++written;
    else
      failed << FailedLine(save.name, outcome.reason);
  }
  EndCardWork();
  if (!failed.isEmpty())
    ui_.Information(QString(texts::kUploadSaverFail) + "\n" + failed.join("\n"));
  else if (written > 0)
    ui_.Information(texts::kUploadSaverComplete);
  SetOperationCaption("");
}

void TForm1::DeleteSaveSet(const std::vector<int>& rows) {
  std::vector<ListedSave> saves;
  if (!ListedSaves(rows, saves)) return;
  SetOperationCaption("Delete Save");
  QStringList names;
  for (const ListedSave& save : saves) names << texts::Quoted(save.name);
  ui_.Beep();
  if (!ui_.Confirm(QString("Delete %1 Saves ").arg(saves.size()) + names.join(", "))) {
    SetOperationCaption("");
    return;
  }
  const bool ps1 = list_device_ == kPS1Card;
  ShowNotify("Delete Saver Now..");
  StartBusy();
  QStringList failed;
  int deleted = 0;
  const uint64_t changes = ChangesSent();
  // Each save keeps its place in its directory while others are deleted, so
  // what the catalogue said of the later ones still holds.
  for (ListedSave& save : saves) {
    manager::Outcome outcome;
    if (ps1)
      outcome = CardWork([&] { return Card().DeletePS1Saver(save.ps1_entry); });
    else if (Card().Volume().Mounted())
      outcome = CardWork([&] { return Card().DeleteSaveFolder(save.folder); });
    if (outcome)
      ++deleted;
    else
      failed << FailedLine(save.name, outcome.reason);
  }
  if (ps1) ps1_list_.selected = false;
  // A delete that failed part way may have changed the card all the same:
  // whatever was sent to it, the list shows the card as it now is.
  if (deleted > 0 || ChangesSent() != changes) {
    if (ps1 ? CardWork([&] { return Card().PS1Catalog(); })
            : CardWork([&] { return Card().Catalog(); })) {
      if (ps1)
        FillPS1List();
      else
        FillSaveList();
    } else {
      // The card changed and cannot be read again (pulled out, say): the
      // list would show saves that are gone.
      ForgetCatalogue(changes);
    }
  }
  EndCardWork();
  selected_tree_index_ = 0;
  ui_.Information(failed.isEmpty() ? QString("Delete complete.")
                                   : "Delete Fail.\n" + failed.join("\n"));
  SetOperationCaption("");
}

}  // namespace travosk
