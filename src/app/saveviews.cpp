// The window as it grows, and the details view of the saves. Enlarging the
// window gives the room to the save list: the controls below it move down,
// those at the right move right. The details view shows the list's saves as
// rows of name, title, size and date, sortable by each, and the filter box
// hides the saves whose name and title both lack its text, in either view.
// The icon list stays the one the commands read: a selection in the details
// view selects the same saves there.
#include <QAction>
#include <QActionGroup>
#include <QMenuBar>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QResizeEvent>
#include <QTreeWidget>
#include <algorithm>

#include "app/mainwindow.h"
#include "app/strings.h"
#include "card/fileip.h"

namespace travosk {
namespace {

// Controls that start right of this stay at the right edge as the window grows.
constexpr int kRightSide = 280;
constexpr int kListRowRole = Qt::UserRole + 1;  // the save's row in Savertableview
constexpr int kSortRole = Qt::UserRole + 2;     // what a column sorts by
enum Column { kNameColumn, kTitleColumn, kSizeColumn, kDateColumn };

// Rows sort by their sort value where a column has one (sizes as numbers).
class DetailsItem : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    const QVariant a = data(column, kSortRole), b = other.data(column, kSortRole);
    if (a.isValid() && b.isValid()) return a.toLongLong() < b.toLongLong();
    return text(column).toLower() < other.text(column).toLower();
  }
};

QString Grouped(int64_t n) {
  QLocale grouped = QLocale::c();
  grouped.setNumberOptions(QLocale::DefaultNumberOptions);
  return grouped.toString(static_cast<qlonglong>(n));
}

}  // namespace

void TForm1::BuildSaveViews(QWidget* client) {
  SaveDetails = new QTreeWidget(client);
  SaveDetails->setObjectName("SaveDetails");
  SaveDetails->setGeometry(Savertableview->geometry());
  SaveDetails->setHeaderLabels({"Name", "Title", "Size", "Date"});
  SaveDetails->setRootIsDecorated(false);
  SaveDetails->setUniformRowHeights(true);
  SaveDetails->setSortingEnabled(true);
  SaveDetails->sortByColumn(kNameColumn, Qt::AscendingOrder);
  SaveDetails->setSelectionMode(QAbstractItemView::ExtendedSelection);
  SaveDetails->setEditTriggers(QAbstractItemView::NoEditTriggers);
  SaveDetails->setFont(Savertableview->font());
  SaveDetails->header()->resizeSection(kNameColumn, 170);
  SaveDetails->header()->resizeSection(kTitleColumn, 220);
  SaveDetails->header()->resizeSection(kSizeColumn, 75);
  SaveDetails->hide();
  SaveDetails->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(SaveDetails, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (!SaveDetails->itemAt(at)) return;
    ListMenu->exec(SaveDetails->viewport()->mapToGlobal(at));
  });
  connect(SaveDetails, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { ShowSavePreview(item->data(0, kListRowRole).toInt()); });
  connect(SaveDetails, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (syncing_views_) return;
    syncing_views_ = true;
    Savertableview->clearSelection();
    for (const QTreeWidgetItem* item : SaveDetails->selectedItems())
      if (QListWidgetItem* row = Savertableview->item(item->data(0, kListRowRole).toInt()))
        row->setSelected(true);
    if (QTreeWidgetItem* current = SaveDetails->currentItem(); current && current->isSelected())
      Savertableview->setCurrentRow(current->data(0, kListRowRole).toInt(),
                                    QItemSelectionModel::Current);
    syncing_views_ = false;
  });
  connect(Savertableview, &QListWidget::itemSelectionChanged, this, [this] {
    if (syncing_views_) return;
    syncing_views_ = true;
    SaveDetails->clearSelection();
    for (int i = 0; i < SaveDetails->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = SaveDetails->topLevelItem(i);
      const QListWidgetItem* row = Savertableview->item(item->data(0, kListRowRole).toInt());
      if (row && row->isSelected()) item->setSelected(true);
    }
    syncing_views_ = false;
  });
  // A list emptied (a catalogue forgotten) empties the details too.
  connect(Savertableview->model(), &QAbstractItemModel::modelReset, SaveDetails,
          &QTreeWidget::clear);

  SaveFilter = new QLineEdit(client);
  SaveFilter->setObjectName("SaveFilter");
  SaveFilter->setPlaceholderText("Filter");
  SaveFilter->setClearButtonEnabled(true);
  SaveFilter->setGeometry(373, 292, 170, 20);
  SaveFilter->setFont(Savertableview->font());
  connect(SaveFilter, &QLineEdit::textChanged, this, [this] { ApplySaveFilter(); });
}

void TForm1::BuildViewMenu() {
  View1 = menuBar()->addMenu("&View");
  auto* kind = new QActionGroup(this);
  IconsView1 = View1->addAction("&Icons");
  IconsView1->setObjectName("IconsView1");
  DetailsView1 = View1->addAction("&Details");
  DetailsView1->setObjectName("DetailsView1");
  for (QAction* a : {IconsView1, DetailsView1}) {
    a->setCheckable(true);
    kind->addAction(a);
  }
  IconsView1->setChecked(true);
  connect(DetailsView1, &QAction::toggled, this, [this](bool details) {
    SaveDetails->setVisible(details);
    Savertableview->setVisible(!details);
  });
}

void TForm1::FillSaveDetails() {
  SaveDetails->setSortingEnabled(false);
  SaveDetails->clear();
  card::TDiritemTable& nodes = Card().Nodes();
  for (int row = 0; row < Savertableview->count(); ++row) {
    auto* item = new DetailsItem(SaveDetails);
    const QListWidgetItem* save = Savertableview->item(row);
    item->setText(kNameColumn, save->text());
    item->setText(kTitleColumn, save->data(kTitleRole).toString());
    int64_t size = 0;
    QString date;
    if (list_device_ == kPS1Card) {
      if (row < ps1_list_.count) size = Card().PS1Card.Items[ps1_list_.entries[row]].Size;
    } else if (row < static_cast<int>(entries_.size())) {
      const SaveEntry& e = entries_[static_cast<size_t>(row)];
      size = e.size;
      if (e.folder_index >= 0 && static_cast<size_t>(e.folder_index) < nodes.Count()) {
        const TfileIP& folder = nodes.At(static_cast<size_t>(e.folder_index)).Item;
        date = QString::fromStdString(
            card::FormatCardTimeLocal(Bytes(folder.Header).subspan(card::entry::kModified, 8)));
      }
    }
    item->setText(kSizeColumn, Grouped(size));
    item->setData(kSizeColumn, kSortRole, static_cast<qlonglong>(size));
    item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(kDateColumn, date);
    item->setIcon(kNameColumn, QIcon(savertableImage.At(save->data(kImageRole).toInt())));
    item->setData(0, kListRowRole, row);
  }
  SaveDetails->setSortingEnabled(true);
  ApplySaveFilter();
}

void TForm1::ApplySaveFilter() {
  const QString text = SaveFilter->text().trimmed();
  auto shown = [&text](const QString& name, const QString& title) {
    return text.isEmpty() || name.contains(text, Qt::CaseInsensitive) ||
           title.contains(text, Qt::CaseInsensitive);
  };
  for (int row = 0; row < Savertableview->count(); ++row) {
    QListWidgetItem* item = Savertableview->item(row);
    item->setHidden(!shown(item->text(), item->data(kTitleRole).toString()));
  }
  for (int i = 0; i < SaveDetails->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = SaveDetails->topLevelItem(i);
    item->setHidden(!shown(item->text(kNameColumn), item->text(kTitleColumn)));
  }
}

void TForm1::NoteGrowingControls(QWidget* client) {
  // By where each control sits in the window's first size: below the list
  // it moves down, right of the middle it moves right; the bars and frames
  // across the window widen, and the list (and its frame) takes the rest.
  for (QObject* child : client->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (!widget) continue;
    const QRect r = widget->geometry();
    Growth g;
    g.down = r.y() >= 289;
    const bool to_right_edge = r.x() + r.width() >= client->width() - 6;
    const bool list = widget == Savertableview || widget == SaveDetails ||
                      (to_right_edge && r.x() <= 4 && r.y() == 30);
    g.wider = to_right_edge && r.x() < kRightSide;
    g.taller = list;
    g.right = !g.wider && r.x() >= kRightSide;
    growth_.push_back({widget, g});
  }
  // The right pane grows in height alone: its list and the list's frame.
  for (QObject* child : OtherPanel->children())
    if (auto* widget = qobject_cast<QWidget*>(child);
        widget && (widget == OtherList || widget->y() == 30))
      growth_.push_back({widget, Growth{false, false, false, true}});
  grown_ = QSize(0, 0);
}

void TForm1::GrowControls(const QSize& client_size) {
  const QSize grown(std::max(0, client_size.width() - kBaseClientWidth),
                    std::max(0, client_size.height() - kBaseClientHeight));
  const int dx = grown.width() - grown_.width(), dy = grown.height() - grown_.height();
  if (dx == 0 && dy == 0) return;
  grown_ = grown;
  for (const auto& [widget, g] : growth_) {
    QRect r = widget->geometry();
    r.translate(g.right ? dx : 0, g.down ? dy : 0);
    r.setWidth(r.width() + (g.wider ? dx : 0));
    r.setHeight(r.height() + (g.taller ? dy : 0));
    widget->setGeometry(r);
  }
}

}  // namespace travosk
