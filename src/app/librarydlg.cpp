#include "app/librarydlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>

#include "common/sjis.h"

namespace travosk {

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QTreeWidgetItem* SaveItem(const library::SaveEntry& s, const std::string& card) {
  auto* item = new QTreeWidgetItem(
      QStringList{Text(s.name), Text(DecodeShiftJis(s.title)), QString::number(s.size),
                  Text(s.modified), Text(s.product), Text(card)});
  item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  return item;
}

}  // namespace

LibraryDialog::LibraryDialog(const QString& folder, const QString& work_folder, QWidget* parent)
    : QDialog(parent) {
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
  for (const auto& card : library_.cards) {
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
    for (const auto& s : card.saves) {
      ++saves;
      if (!library::SaveMatches(s, folded)) continue;
      ++shown;
      auto* item = SaveItem(s, card.path);
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
}

void OpenFolderOfCards(QWidget* parent, const QString& work_folder) {
  const QString folder = QFileDialog::getExistingDirectory(parent, "Open folder of cards");
  if (folder.isEmpty()) return;
  LibraryDialog dialog(folder, work_folder, parent);
  dialog.exec();
}

}  // namespace travosk
