#include "hexedit/preview.h"

#include <QLabel>
#include <QPixmap>
#include <QResizeEvent>

namespace travosk {

TfmPreview::TfmPreview(const QImage& page, QWidget* parent) : QDialog(parent), page_(page) {
  setObjectName(QStringLiteral("fmPreview"));
  setWindowTitle(QStringLiteral("Print preview"));
  resize(696, 480);
  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setScaledContents(true);
  FitImage();
}

void TfmPreview::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FitImage();
}

void TfmPreview::FitImage() {
  if (page_.isNull() || page_.width() == 0) return;
  int w = width();
  int h = static_cast<int>(static_cast<int64_t>(w) * page_.height() / page_.width());
  if (h > height()) {
    h = height();
    w = static_cast<int>(static_cast<int64_t>(h) * page_.width() / std::max(1, page_.height()));
  }
  Image1->setGeometry(0, 0, w, h);
  Image1->setPixmap(QPixmap::fromImage(page_));
}

}  // namespace travosk
