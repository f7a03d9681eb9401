// Savertableview's widget: a list of icons from which saves can be dragged out
// as files. What a drag carries is the window's to say: it writes the files
// when the drag starts.
#pragma once

#include <QDrag>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>
#include <functional>

namespace travosk {

class SaveListView : public QListWidget {
 public:
  explicit SaveListView(QWidget* parent = nullptr) : QListWidget(parent) {}

  // The files that stand for the selected saves; empty ends the drag. A
  // list without it drags its saves only onto the other pane.
  std::function<QStringList()> ExportSelected;
  // Which pane a drag comes from ("list" or "other"), under kPaneFormat.
  QByteArray pane;
  static constexpr const char* kPaneFormat = "application/x-travosk-pane";

 protected:
  void startDrag(Qt::DropActions) override {
    QStringList files;
    if (ExportSelected) {
      files = ExportSelected();
      if (files.isEmpty()) return;
    }
    auto* data = new QMimeData;
    data->setData(kPaneFormat, pane);
    QList<QUrl> urls;
    for (const QString& f : files) urls << QUrl::fromLocalFile(f);
    data->setUrls(urls);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    if (QListWidgetItem* item = currentItem()) drag->setPixmap(item->icon().pixmap(32, 32));
    drag->exec(Qt::CopyAction);
  }
};

}  // namespace travosk
