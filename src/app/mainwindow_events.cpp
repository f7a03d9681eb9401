// The card manager's events: the hidden index tree, the node table, the
// bytes in use and the progress bar follow what the catalogue reports.
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>

#include "app/mainwindow.h"
#include "app/texts.h"
#include "app/strings.h"

namespace travosk {
namespace {

constexpr int kIndexRole = Qt::UserRole + 1;  // the node's absolute index

}  // namespace

void TForm1::BindCardManagerEvents(manager::TPS2MFMSYS& m) {
  // The events may come from the worker that runs the operation; each is
  // handled on the window's thread while the worker waits.
  m.OnAddMainNode = [this](TfileIP& f) { OnWindowThread([&] { PS2MFMSYS1AddMainNode(f); }); };
  m.OnAddrootNode = [this](TfileIP& f) { OnWindowThread([&] { PS2MFMSYS1AddrootNode(f); }); };
  m.OnAddChildNode = [this](TfileIP& f) { OnWindowThread([&] { PS2MFMSYS1AddChildNode(f); }); };
  m.OnPS1MainNode = [this](int i, TPs1FileitemRec& r) {
    OnWindowThread([&] { PS2MFMSYS1PS1MainNode(i, r); });
  };
  m.OnPS1rootNode = [this](int i, TPs1FileitemRec& r) {
    OnWindowThread([&] { PS2MFMSYS1PS1rootNode(i, r); });
  };
  m.OnCatalogbarbegin = [this](TfileIP& f, int& max, int& min, int& p, bool& b) {
    OnWindowThread([&] { PS2MFMSYS1Catalogbarbegin(f, max, min, p, b); });
  };
  m.OnCatalogbarRun = [this](TfileIP& f, int& max, int& min, int& p, bool& b) {
    OnWindowThread([&] { PS2MFMSYS1CatalogbarRun(f, max, min, p, b); });
  };
  m.OnCatalogbarEnd = [this](TfileIP& f, int& max, int& min, int& p, bool& b) {
    OnWindowThread([&] { PS2MFMSYS1CatalogbarEnd(f, max, min, p, b); });
  };
  m.OnFilebarprocess = [this](TfileIP& f, int& max, int& min, int& p, bool& b) {
    OnWindowThread([&] { PS2MFMSYS1Filebarprocess(f, max, min, p, b); });
  };
  m.Onbarprocess = [this](int& max, int& min, int& p, bool& b) {
    OnWindowThread([&] { PS2MFMSYS1barprocess(max, min, p, b); });
  };
  m.OnErroroninit = [this] { OnWindowThread([this] { PS2MFMSYS1Erroroninit(); }); };
  m.OnLinkSysbusy = [this] { OnWindowThread([this] { PS2MFMSYS1LinkSysbusy(); }); };
  // A mount that completes a write an interruption cut short does so once.
  m.Volume().OnInterruptedWriteCompleted = [this](uint32_t) {
    OnWindowThread([this] { ui_.Information("An interrupted write to the card was completed."); });
  };
}

QTreeWidgetItem* TForm1::AddTreeNode(QTreeWidgetItem* parent, const QString& text, int image) {
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
  node->setText(0, text);
  node->setIcon(0, QIcon(ImageList1.At(image)));
  // Nodes are only ever added at the end of the tree's order, so a node's
  // absolute index is the number of nodes before it.
  node->setData(0, kIndexRole, tree_count_++);
  return node;
}

void TForm1::ClearTree() {
  TreeView1->clear();
  Memo1->clear();
  tree_count_ = 0;
  root_level_.clear();
  root_node_ = last_root_node_ = nullptr;
}

void TForm1::PS2MFMSYS1AddMainNode(TfileIP&) {
  Memo1->clear();
  TreeView1->clear();
  tree_count_ = 0;
  root_level_.clear();
  root_node_ = AddTreeNode(nullptr, "Memory Card", 0);
  last_root_node_ = nullptr;
  used_bytes_ = 0;
  ShowUsage();
}

void TForm1::PS2MFMSYS1AddrootNode(TfileIP& fileip) {
  if (fileip.IsDotName() || fileip.Deleted) return;
  last_root_node_ = AddTreeNode(root_node_, Decoded(fileip.Name), fileip.Dir ? 1 : 2);
  root_level_.push_back(last_root_node_->data(0, kIndexRole).toInt());
  TraceEntry(fileip);
  Card().Nodes().AddNode(last_root_node_->data(0, kIndexRole).toInt(), fileip);
}

void TForm1::PS2MFMSYS1AddChildNode(TfileIP& fileip) {
  if (!fileip.IsDotName() && !fileip.Deleted) {
    QTreeWidgetItem* parent = last_root_node_ ? last_root_node_ : root_node_;
    QTreeWidgetItem* node = AddTreeNode(parent, Decoded(fileip.Name), fileip.Dir ? 1 : 2);
    TraceEntry(fileip);
    Card().Nodes().AddNode(node->data(0, kIndexRole).toInt(), fileip);
    used_bytes_ += Card().EntryCount(fileip);
  } else if (fileip.Name == "." && !fileip.Deleted) {
    used_bytes_ += 1024;
  }
  ShowUsage();
}

void TForm1::PS2MFMSYS1PS1MainNode(int, TPs1FileitemRec&) {
  ps1_list_ = PS1SaveList{};
  Memo1->clear();
  TreeView1->clear();
  tree_count_ = 0;
  root_level_.clear();
  root_node_ = AddTreeNode(nullptr, "PS1 " + texts::MemoryCard(), 4);
  last_root_node_ = nullptr;
  used_bytes_ = 0;
}

void TForm1::PS2MFMSYS1PS1rootNode(int index, TPs1FileitemRec& rec) {
  if (rec.NoTitle != 0 || rec.NotInUse != 0) return;
  AddTreeNode(root_node_, Decoded(rec.FileName), 1);
  if (ps1_list_.count < static_cast<int>(ps1_list_.entries.size()))
    ps1_list_.entries[ps1_list_.count++] = static_cast<uint8_t>(index);
}

void TForm1::PS2MFMSYS1Catalogbarbegin(TfileIP&, int& Max, int& Min, int& process, bool&) {
  SetBar(Max, Min, process);
  SetStatusPanel(1, operation_caption_);
}

void TForm1::PS2MFMSYS1CatalogbarRun(TfileIP&, int& Max, int& Min, int&, bool&) {
  int position = ProgressBar1->value() + 10;
  if (position > Max - 10) position = 0;
  SetBar(Max, Min, position);
}

void TForm1::PS2MFMSYS1CatalogbarEnd(TfileIP&, int& Max, int& Min, int&, bool&) {
  SetBar(Max, Min, Max);
}

void TForm1::PS2MFMSYS1Filebarprocess(TfileIP& fileip, int& Max, int& Min, int& process, bool&) {
  if (!fileip.Name.empty())
    SetStatusPanel(1, operation_caption_ + " File: " + Decoded(fileip.Name));
  SetBar(Max, Min, process);
}

void TForm1::PS2MFMSYS1barprocess(int& Max, int& Min, int& process, bool&) {
  SetBar(Max, Min, process);
}

void TForm1::PS2MFMSYS1Erroroninit() {
  ui_.Beep();
  ui_.Information(texts::kCanNotConnect);
}

void TForm1::PS2MFMSYS1LinkSysbusy() {
  ui_.Beep();
  ui_.Information(texts::kCanNotConnect);
}

void TForm1::TraceEntry(const TfileIP& f) {
  Memo1->appendPlainText(QString(f.Dir ? "Dir " : "File") + ":\"" + Decoded(f.Name) + "\" now" +
                         Hex8(f.NowCluster) + ":" + Hex8(f.NowOffset) + " next:" +
                         Hex8(static_cast<uint32_t>(f.NextCluster)) + ":" + Hex8(f.NextOffset) +
                         " relat:" + Hex8(static_cast<uint32_t>(f.RelatCluster)));
}

void TForm1::TreeView1MouseDown(QTreeWidgetItem* item) {
  if (!item) return;
  const int index = item->data(0, kIndexRole).toInt();
  TfileIP entry;
  if (!Card().Nodes().FindNodeByIndex(index, entry)) return;
  TraceEntry(entry);
  SetStatusPanel(0, "Select: " + Decoded(entry.Name));
  selected_tree_index_ = index;
}

}  // namespace travosk
