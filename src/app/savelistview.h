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

  // The files that stand for the selected saves; empty ends the drag.
  std::function<QStringList()> ExportSelected;

 protected:
  void startDrag(Qt::DropActions) override {
    if (!ExportSelected) return;
    const QStringList files = ExportSelected();
    if (files.isEmpty()) return;
    auto* data = new QMimeData;
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
