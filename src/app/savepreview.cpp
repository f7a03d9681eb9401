// PS2 saves shown with their own 3D icons: the list pictures rendered from a
// save's icon file, and the preview window of a save.
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <algorithm>

#include "app/iconpreview.h"
#include "app/mainwindow.h"
#include "app/strings.h"
#include "formats/ps1save.h"
#include "manager/saveicon.h"

namespace travosk {

namespace {

// Pictures of one loop that the list cycles through (Timer1 shows each save
// its next picture in turn).
constexpr int kListFrames = 8;

QString ByteCount(int64_t n) {
  QLocale grouped = QLocale::c();  // the same digits and grouping on every desktop
  grouped.setNumberOptions(QLocale::DefaultNumberOptions);
  return grouped.toString(static_cast<qlonglong>(n)) + " bytes";
}

// Card times are kept in Japan time; the user reads them in local time.
QString CardTime(const TfileIP& f, size_t at) {
  return QString::fromStdString(card::FormatCardTimeLocal(travosk::Bytes(f.Header).subspan(at, 8)));
}

}  // namespace

void TForm1::AttachOwnIcon(int entry, const std::vector<TfileIP>& files, int& image_counter) {
  std::string error;
  auto icon = manager::LoadSaveIcon(Card(), files, error);
  if (!icon) return;  // the generic picture stays
  auto shared = std::make_shared<const manager::SaveIcon>(std::move(*icon));
  const int frames = std::min(kListFrames, manager::IconLoopFrames(shared->icon));
  SaveEntry& e = entries_[static_cast<size_t>(entry)];
  e.first_image = savertableImage.Count();
  e.frame_count = frames;
  e.current_frame = 0;
  for (int k = 0; k < frames; ++k) {
    manager::IconView view;
    view.size = 32;
    view.transparent = true;
    view.phase = static_cast<double>(k) / frames;
    const manager::RgbaImage image = manager::RenderIcon(shared->icon, shared->look, view);
    savertableImage.Add(PixmapOf(image.width, image.height, image.pixels.data()));
  }
  image_counter = savertableImage.Count();
  save_icons_[entry] = std::move(shared);
  SetItemImage(entry, e.first_image);
}

void TForm1::ConnectSavePreview() {
  connect(Savertableview, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { ShowSavePreview(Savertableview->row(item)); });
  Savertableview->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(Savertableview, &QListWidget::customContextMenuRequested, this,
          &TForm1::SavertableviewContextMenu);
}

void TForm1::ShowSavePreview(int row) {
  if (row < 0 || row >= Savertableview->count()) return;
  SavePreviewFacts facts;
  std::vector<QPixmap> pictures;
  std::shared_ptr<const manager::SaveIcon> icon;
  if (list_device_ == kPS1Card) {
    if (row >= ps1_list_.count) return;
    const TPs1FileitemRec& rec = list_card_->PS1Card.Items[ps1_list_.entries[row]];
    facts.name = Decoded(rec.FileName);
    facts.title = Decoded(rec.Title);
    facts.size = ByteCount(rec.Size);
    facts.blocks = QString::number(rec.Size / manager::kPS1BlockBytes);
    facts.product = QString::fromStdString(formats::Ps1ProductCode(rec.FileName));
    for (int k = 0; k < rec.IconFrames; ++k)
      pictures.push_back(savertableImage.At(rec.FirstImage + k));
  } else {
    if (row >= static_cast<int>(entries_.size())) return;
    const SaveEntry& e = entries_[static_cast<size_t>(row)];
    facts.name = Decoded(e.name);
    facts.title = Decoded(e.title);
    facts.size = ByteCount(e.size);
    card::TDiritemTable& nodes = list_card_->Nodes();
    if (e.folder_index >= 0 && static_cast<size_t>(e.folder_index) < nodes.Count()) {
      const TfileIP& folder = nodes.At(static_cast<size_t>(e.folder_index)).Item;
      facts.created = CardTime(folder, card::entry::kCreated);
      facts.modified = CardTime(folder, card::entry::kModified);
      // The folder's own records follow it up to the next record of the root.
      for (size_t i = static_cast<size_t>(e.folder_index) + 1; i < nodes.Count(); ++i) {
        const card::TDiritem& record = nodes.At(i);
        if (std::binary_search(root_level_.begin(), root_level_.end(), record.Index)) break;
        if (record.Item.Deleted || record.Item.Dir) continue;
        facts.files << Decoded(record.Item.Name) + "  " + ByteCount(record.Item.Length());
      }
    }
    for (int k = 0; k < e.frame_count; ++k)
      pictures.push_back(savertableImage.At(e.first_image + k));
    if (auto found = save_icons_.find(row); found != save_icons_.end()) icon = found->second;
  }
  TIconPreview preview(this, icon, pictures, facts);
  ui_.ShowModal(preview);
}

}  // namespace travosk
