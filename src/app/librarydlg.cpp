#include "app/librarydlg.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>

#include "common/sjis.h"
#include "library/icons.h"
#include "manager/icons.h"

namespace travosk {

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

constexpr int kIconSide = 32;
// A save row's card and save, by their places in the library.
constexpr int kCardRole = Qt::UserRole;
constexpr int kSaveRole = Qt::UserRole + 1;

QTreeWidgetItem* SaveItem(const library::SaveEntry& s, const std::string& card, size_t card_index,
                          size_t save_index) {
  auto* item = new QTreeWidgetItem(
      QStringList{Text(s.name), Text(DecodeShiftJis(s.title)), QString::number(s.size),
                  Text(s.modified), Text(s.product), Text(card)});
  item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  item->setData(0, kCardRole, static_cast<qulonglong>(card_index));
  item->setData(0, kSaveRole, static_cast<qulonglong>(save_index));
  return item;
}

QIcon IconOf(const manager::RgbaImage& image, const QIcon& generic) {
  if (image.width <= 0) return generic;
  const QImage picture(image.pixels.data(), image.width, image.height, image.width * 4,
                       QImage::Format_RGBA8888);
  return QIcon(QPixmap::fromImage(picture.copy()));
}

}  // namespace

LibraryDialog::LibraryDialog(const QString& folder, const QString& work_folder, QWidget* parent)
    : QDialog(parent), work_folder_(work_folder.toStdString()) {
  setObjectName("LibraryDialog");
  setWindowTitle("Library: " + folder);
  resize(900, 560);
  summary_ = new QLabel(this);
  summary_->setObjectName("LibrarySummary");
  grouping_ = new QComboBox(this);
  grouping_->setObjectName("LibraryGrouping");
  grouping_->addItems({"By card", "By game", "One list"});
  filter_ = new QLineEdit(this);
  filter_->setObjectName("LibraryFilter");
  filter_->setPlaceholderText("Find a save: name, product code or title");
  filter_->setClearButtonEnabled(true);
  tree_ = new QTreeWidget(this);
  tree_->setObjectName("LibraryTree");
  tree_->setHeaderLabels({"Save", "Title", "Size", "Modified", "Game", "Card"});
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tree_->setIconSize(QSize(kIconSide, kIconSide));
  connect(tree_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { ScheduleIcons(); });
  connect(tree_, &QTreeWidget::itemExpanded, this, [this] { ScheduleIcons(); });
  auto* top = new QHBoxLayout;
  top->addWidget(grouping_);
  top->addWidget(filter_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addLayout(top);
  layout->addWidget(tree_, 1);
  try {
    library::OpenOptions options;
    options.work_folder = work_folder.toStdString();
    options.index_path = library::DefaultIndexPath(folder.toStdString());
    library_ = library::OpenLibrary(folder.toStdString(), options);
  } catch (const std::exception& e) {
    summary_->setText(QString("The folder cannot be listed: ") + e.what());
  }
  connect(grouping_, &QComboBox::currentIndexChanged, this, [this] { Fill(); });
  connect(filter_, &QLineEdit::textChanged, this, [this] { Fill(); });
  if (!library_.root.empty()) Fill();
}

void LibraryDialog::Fill() {
  tree_->clear();
  const std::string folded = library::FoldForSearch(filter_->text().toStdString());
  const bool filtering = !folded.empty();
  size_t saves = 0, shown = 0, unreadable = 0;
  std::map<std::string, QTreeWidgetItem*> games;
  for (size_t card_index = 0; card_index < library_.cards.size(); ++card_index) {
    const auto& card = library_.cards[card_index];
    if (!card.readable) ++unreadable;
    QTreeWidgetItem* card_item = nullptr;
    if (grouping_->currentIndex() == 0 || (!card.readable && !filtering)) {
      const QString what = card.readable ? Text(card.format) + ", " +
                                               QString::number(card.saves.size()) +
                                               (card.saves.size() == 1 ? " save" : " saves")
                                         : "cannot be read: " + Text(card.problem);
      card_item = new QTreeWidgetItem(QStringList{Text(card.path), what});
      if (!card.readable) card_item->setForeground(1, Qt::red);
      if (grouping_->currentIndex() == 0 || !card.readable) tree_->addTopLevelItem(card_item);
    }
    for (size_t save_index = 0; save_index < card.saves.size(); ++save_index) {
      const auto& s = card.saves[save_index];
      ++saves;
      if (!library::SaveMatches(s, folded)) continue;
      ++shown;
      auto* item = SaveItem(s, card.path, card_index, save_index);
      if (const auto known = icons_.find(card_index); known != icons_.end())
        item->setIcon(0, known->second[save_index]);
      if (grouping_->currentIndex() == 0) {
        card_item->addChild(item);
      } else if (grouping_->currentIndex() == 1) {
        const std::string game = s.product.empty() ? "(no product code)" : s.product;
        auto& g = games[game];
        if (!g) {
          g = new QTreeWidgetItem(QStringList{Text(game)});
          tree_->addTopLevelItem(g);
        }
        g->addChild(item);
      } else {
        tree_->addTopLevelItem(item);
      }
    }
    if (card_item && filtering && card_item->childCount() == 0) delete card_item;
  }
  tree_->sortItems(0, Qt::AscendingOrder);
  tree_->expandAll();
  summary_->setText(QString("%1: layout %2, %3 cards, %4 saves%5%6")
                        .arg(Text(library_.root), Text(std::string(library::LayoutName(library_.layout))))
                        .arg(library_.cards.size())
                        .arg(saves)
                        .arg(unreadable ? QString(", %1 cannot be read").arg(unreadable) : QString())
                        .arg(filtering ? QString(", %1 match").arg(shown) : QString()));
  ScheduleIcons();
}

void LibraryDialog::ScheduleIcons() {
  if (icons_scheduled_) return;
  icons_scheduled_ = true;
  QTimer::singleShot(0, this, [this] { ShowIcons(); });
}

void LibraryDialog::ShowIcons() {
  icons_scheduled_ = false;
  const QRect view = tree_->viewport()->rect();
  for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
    QTreeWidgetItem* item = *it;
    const QVariant card_data = item->data(0, kCardRole);
    if (!card_data.isValid()) continue;
    const size_t card_index = card_data.toULongLong();
    if (icons_.count(card_index) || !tree_->visualItemRect(item).intersects(view)) continue;
    const library::CardEntry& card = library_.cards[card_index];
    // A save without an icon of its own shows the generic picture, as in the save list.
    const QPixmap generic_picture(
        QDir(QString::fromStdString(work_folder_)).filePath(manager::kGenericIconFile));
    const QIcon generic = generic_picture.isNull()
                              ? QIcon()
                              : QIcon(generic_picture.scaled(kIconSide, kIconSide));
    std::vector<QIcon> icons;
    for (const auto& picture : library::SavePictures(library_.root, card, kIconSide, work_folder_))
      icons.push_back(IconOf(picture, generic));
    for (QTreeWidgetItemIterator row(tree_); *row; ++row) {
      const QVariant c = (*row)->data(0, kCardRole);
      if (c.isValid() && c.toULongLong() == card_index)
        (*row)->setIcon(0, icons[(*row)->data(0, kSaveRole).toULongLong()]);
    }
    icons_[card_index] = std::move(icons);
    // The next card in view when the window has had its turn.
    ScheduleIcons();
    return;
  }
}

void OpenFolderOfCards(QWidget* parent, const QString& work_folder) {
  const QString folder = QFileDialog::getExistingDirectory(parent, "Open folder of cards");
  if (folder.isEmpty()) return;
  LibraryDialog dialog(folder, work_folder, parent);
  dialog.exec();
}

}  // namespace travosk
