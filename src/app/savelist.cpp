// The visible save list: built from the catalogue, with titles, animated
// icons, the selection and its blinking marker.
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <algorithm>

#include "app/mainwindow.h"
#include "app/texts.h"
#include "common/errors.h"
#include "app/strings.h"
#include "manager/icons.h"
#include "manager/cardroom.h"
#include "manager/listing.h"

namespace travosk {
namespace {

QPixmap FramePixmap(const manager::DecodedIcon& icon) {
  const QImage image(icon.rgb.data(), manager::kIconSide, manager::kIconSide,
                     manager::kIconSide * 3, QImage::Format_RGB888);
  return QPixmap::fromImage(image.copy());
}

// The icons of one PS1-style save appended to the list's images; missing
// frames become blank images so that the numbering of later saves holds.
int AppendFrames(ImageList& images, const std::vector<manager::DecodedIcon>& frames, int wanted) {
  const int first = images.Count();
  for (const auto& f : frames) images.Add(FramePixmap(f));
  for (int i = static_cast<int>(frames.size()); i < wanted; ++i) {
    QPixmap blank(manager::kIconSide, manager::kIconSide);
    blank.fill(Qt::white);
    images.Add(blank);
  }
  return first;
}

}  // namespace

void TForm1::LoadGenericIcon() {
  savertableImage.Clear();
  const QString path = WorkFile(manager::kGenericIconFile);
  QPixmap icon(path);
  if (icon.isNull()) throw InOutError(QFile::encodeName(path).toStdString(), "Cannot load the picture");
  savertableImage.Add(icon.scaled(32, 32));
}

QListWidgetItem* TForm1::AddListItem(const std::string& name, const std::string& title,
                                     int image) {
  auto* item = new QListWidgetItem(Decoded(name), Savertableview);
  item->setData(kTitleRole, Decoded(title));
  item->setData(kImageRole, image);
  item->setData(kStateRole, -1);
  item->setToolTip(Decoded(title));
  SetItemImage(Savertableview->row(item), image);
  return item;
}

// An item shows its state image (the marker) left of its icon.
void TForm1::SetItemImage(int row, int image) {
  QListWidgetItem* item = Savertableview->item(row);
  if (!item) return;
  item->setData(kImageRole, image);
  QPixmap both(48, 32);
  both.fill(Qt::transparent);
  QPainter p(&both);
  const int state = item->data(kStateRole).toInt();
  if (state >= 0) p.drawPixmap(0, 8, Stateimglist.At(state));
  p.drawPixmap(16, 0, savertableImage.At(image));
  p.end();
  item->setIcon(QIcon(both));
}

void TForm1::SetItemState(int row, int state) {
  QListWidgetItem* item = Savertableview->item(row);
  if (!item) return;
  item->setData(kStateRole, state);
  SetItemImage(row, item->data(kImageRole).toInt());
}

void TForm1::FillSaveList() {
  Memo2->clear();
  Savertableview->clear();
  entries_.clear();
  selected_ = false;
  ps1_list_ = PS1SaveList{};
  LoadGenericIcon();
  save_icons_.clear();
  marker_index_ = 0;
  int image_counter = 1;
  card::TDiritemTable& nodes = Card().Nodes();

  struct Folder {
    int position = -1;  // node-table position of the folder being read
    std::vector<TfileIP> files;
  } folder;

  auto close_folder = [&] {
    if (folder.position < 0 || folder.files.empty()) {
      folder = Folder{};
      return;
    }
    const TfileIP& folder_item = nodes.At(folder.position).Item;
    manager::ListedSave save;
    try {
      save = manager::DescribeSave(Card(), folder_item, folder.files);
    } catch (const CardError&) {
      // A save whose files cannot be read is listed without a title, as one
      // with an unreadable "icon.sys" is.
      save.icon_sys = true;
      save.size = manager::OccupiedBytes(folder_item, folder.files);
    }
    SaveEntry e{save.title, folder_item.Name, folder.position, 0, 1, 0, 0};
    e.size = static_cast<int64_t>(save.size);
    if (save.icon_sys) {
      entries_.push_back(e);
      AddListItem(e.name, e.title, 0);
      Memo2->appendPlainText(Decoded(save.stored_title) + " name: " + Decoded(save.list_icon));
      AttachOwnIcon(static_cast<int>(entries_.size()) - 1, folder.files, image_counter);
    } else {
      TfileIP file = folder.files.back();
      e.name = file.Name;
      if (save.ps1_save) {
        const manager::PS1IconSet icons = manager::LoadFolderPS1Icons(Card(), file);
        const int n = static_cast<int>(icons.frames.size());
        e.frame_count = n;
        e.first_image = image_counter;
        image_counter += n;
        AppendFrames(savertableImage, icons.frames, n);
      }
      // Not a PS1 save: the generic icon, and the folder's name as its title.
      entries_.push_back(e);
      AddListItem(e.name, e.title, e.first_image);
    }
    folder = Folder{};
  };

  for (size_t i = 0; i < nodes.Count(); ++i) {
    const card::TDiritem& record = nodes.At(i);
    const TfileIP& f = record.Item;
    if (f.Deleted) continue;
    const bool root_level = std::binary_search(root_level_.begin(), root_level_.end(), record.Index);
    if (f.Dir && root_level) {
      close_folder();
      folder.position = static_cast<int>(i);
      continue;
    }
    // A file of the root belongs to no save; it ends the folder before it.
    if (root_level) {
      close_folder();
      continue;
    }
    // Sub-folders of a save are not entered by the catalogue and hold no
    // bytes of their own here.
    if (folder.position < 0 || f.Dir) continue;
    folder.files.push_back(f);
  }
  close_folder();

  // The file system's own count of free clusters, as the command line gives
  // it: capacity less the saves would miss the system's own clusters.
  SetRightAligned(FreesizeLabel,
                  QString::number(manager::FreeBytes(Card().Volume()) / 1024) + "Kbytes " +
                      texts::Free(),
                  288 + 85, 85);
  ShowDeviceImage(current_device_);
  FillSaveDetails();
}

void TForm1::FillPS1List() {
  Memo2->clear();
  Savertableview->clear();
  savertableImage.Clear();
  entries_.clear();
  selected_ = false;
  marker_index_ = 0;
  ps1_list_.selected = false;
  int64_t total = 0;
  const int n = ps1_list_.count;
  if (n > 0) SetBar(n - 1, 0, 0);
  for (int k = 0; k < n; ++k) {
    const int e = ps1_list_.entries[k];
    TPs1FileitemRec& rec = Card().PS1Card.Items[e];
    const int frames = std::clamp(rec.IconFrames, 0, 15);
    const manager::PS1IconSet icons = manager::LoadCardPS1Icons(Card(), e, frames);
    rec.FirstImage = AppendFrames(savertableImage, icons.frames, frames);
    rec.CurFrame = 0;
    AddListItem(rec.FileName, rec.Title, rec.FirstImage);
    total += rec.Size;
    SetBar(n - 1, 0, k + 1);
  }
  // A card without its "MC" header has no free space to offer: nothing can
  // be written to it before it is formatted.
  SetRightAligned(FreesizeLabel,
                  Card().PS1Card.Formatted
                      ? QString::number((manager::kPS1Capacity - total) / 1024) + "Kbytes " +
                            texts::Free()
                      : QString(texts::kNotFormatted),
                  288 + 85, 85);
  ShowDeviceImage(kPS1Card);
  FillSaveDetails();
}

std::vector<int> TForm1::SelectedRows() const {
  const int listed = list_device_ == kPS1Card ? ps1_list_.count : static_cast<int>(entries_.size());
  std::vector<int> rows;
  for (const QListWidgetItem* item : Savertableview->selectedItems())
    if (const int row = Savertableview->row(item); row >= 0 && row < listed) rows.push_back(row);
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<int> TForm1::ChosenRows() const {
  std::vector<int> rows = SelectedRows();
  if (!rows.empty()) return rows;
  if (list_device_ == kPS1Card) {
    if (ps1_list_.selected && ps1_list_.selected_position < ps1_list_.count)
      rows = {ps1_list_.selected_position};
  } else if (selected_) {
    rows = {selected_index_};
  }
  return rows;
}

void TForm1::SavertableviewSelectItem() {
  const QList<QListWidgetItem*> chosen = Savertableview->selectedItems();
  if (chosen.isEmpty()) return;
  // Of several selected saves, the one last clicked is the selected save.
  QListWidgetItem* current = Savertableview->currentItem();
  const int row = Savertableview->row(current && current->isSelected() ? current : chosen.first());
  QString caption;
  int64_t size = 0;
  if (list_device_ == kPS1Card) {
    if (row >= ps1_list_.count) return;
    ps1_list_.selected_position = row;
    ps1_list_.selected = true;
    const TPs1FileitemRec& rec = Card().PS1Card.Items[ps1_list_.entries[row]];
    caption = Decoded(rec.FileName) + " " + Decoded(rec.Title);
    size = rec.Size;
  } else {
    if (row >= static_cast<int>(entries_.size())) return;
    selected_index_ = row;
    selected_ = true;
    const SaveEntry& entry = entries_[row];
    caption = Decoded(entry.name) + " " + Decoded(entry.title);
    size = entry.size;
  }
  if (const auto rows = SelectedRows(); rows.size() > 1) {
    caption = QString("%1 saves selected").arg(rows.size());
    size = 0;
    for (const int r : rows)
      size += list_device_ == kPS1Card ? Card().PS1Card.Items[ps1_list_.entries[r]].Size
                                       : entries_[r].size;
  }
  SelectLabel->setText(caption);
  SelectLabel->adjustSize();
  // The size line takes the room from 408 on.
  SetRightAligned(SAVERSIZELabel, QString::number(size / 1024) + "KBytes ", 408 + 129, 129);
  if (marker_index_ < Savertableview->count()) SetItemState(marker_index_, -1);
  SetItemState(row, 0);
  marker_index_ = row;
}

void TForm1::Timer1Timer() {
  if (list_device_ == kPS1Card) {
    // The frames live in the card manager's record, which a running card
    // operation may be rewriting.
    if (ps1_list_.count == 0 || card_busy_) return;
    if (++animation_counter_ >= ps1_list_.count) animation_counter_ = 0;
    TPs1FileitemRec& rec = Card().PS1Card.Items[ps1_list_.entries[animation_counter_]];
    if (rec.IconFrames < 2) return;
    if (++rec.CurFrame >= rec.IconFrames) rec.CurFrame = 0;
    SetItemImage(animation_counter_, rec.FirstImage + rec.CurFrame);
    return;
  }
  const int count = static_cast<int>(entries_.size());
  if (count == 0) return;
  if (++animation_counter_ >= count) animation_counter_ = 0;
  SaveEntry& e = entries_[animation_counter_];
  if (e.frame_count < 2) return;
  if (++e.current_frame >= e.frame_count) e.current_frame = 0;
  SetItemImage(animation_counter_, e.first_image + e.current_frame);
}

void TForm1::Timer2Timer() {
  const bool any = list_device_ == kPS1Card ? ps1_list_.selected : selected_;
  if (!any || marker_index_ >= Savertableview->count()) return;
  const int state = Savertableview->item(marker_index_)->data(kStateRole).toInt();
  if (state < 0) return;
  SetItemState(marker_index_, state >= 3 ? 0 : state + 1);
}

}  // namespace travosk
