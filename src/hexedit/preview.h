// TfmPreview shows one printed page as a picture: the image is stretched to
// the window's client width, or to its height when it would be too tall.
#pragma once

#include <QDialog>
#include <QImage>

class QLabel;

namespace travosk {

class TfmPreview : public QDialog {
  Q_OBJECT

 public:
  explicit TfmPreview(const QImage& page, QWidget* parent = nullptr);
  QLabel* Image1 = nullptr;
  const QImage& Page() const { return page_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitImage();
  QImage page_;
};

}  // namespace travosk
