// TMiniEdForm: printing, the print preview and the printer setup.
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <cmath>

#include "hexedit/minied.h"
#include "hexedit/preview.h"

namespace travosk {

void TMiniEdForm::PaintPages(QPainter& painter, bool onePage) {
  const QPaintDevice* device = painter.device();
  HexToCanvas1.HexEditor = HexEditor1;
  HexToCanvas1.TakeEditorSettings();
  HexToCanvas1.StretchToFit = false;
  HexToCanvas1.MemFieldDisplay = static_cast<TMemFieldDisplay>(std::clamp(PrintLayout, 0, 2));
  HexToCanvas1.TopMargin = HexToCanvas1.BottomMargin = device->height() / 20;
  HexToCanvas1.LeftMargin = HexToCanvas1.RightMargin = device->width() / 20;
  const QString header =
      QStringLiteral("QX THexEditor-Sample:") + QFileInfo(HexEditor1->FileName()).fileName();
  const int64_t last = HexEditor1->ByteCount() - 1;
  auto* printer = dynamic_cast<QPrinter*>(painter.device());
  lastPrintedPages_ = 0;
  int64_t pos = 0;
  for (int page = 1; pos <= last; ++page) {
    if (page > 1 && printer != nullptr && !printer->newPage()) break;
    const int64_t next =
        HexToCanvas1.PaintPage(painter, pos, QStringLiteral("Page %1").arg(page), header, last);
    ++lastPrintedPages_;
    // A page too small for a single line would otherwise print blank pages
    // for ever.
    if (next <= pos || onePage) break;
    pos = next;
  }
}

void TMiniEdForm::Print1Click() {
  if (HexEditor1->ByteCount() == 0) return;
  QPrinter& printer = Printer();
  printer.setDocName(QFileInfo(HexEditor1->FileName()).fileName());
  QPainter painter;
  if (!painter.begin(&printer)) {
    prompts_->ShowError(this, QString(), QStringLiteral("Cannot print"));
    return;
  }
  PaintPages(painter, false);
  painter.end();
}

QImage TMiniEdForm::PreviewImage() {
  QPrinter& printer = Printer();
  const QRectF page = printer.pageRect(QPrinter::DevicePixel);
  const int width = 1000;
  const int height = page.width() > 0
                         ? static_cast<int>(std::lround(1000.0 * page.height() / page.width()))
                         : 1414;
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setPen(Qt::black);
  PaintPages(painter, true);
  return image;
}

void TMiniEdForm::Printpreview1Click() {
  if (HexEditor1->ByteCount() == 0) return;
  TfmPreview preview(PreviewImage(), this);
  preview.exec();
}

void TMiniEdForm::Printsetup1Click() {
  (void)prompts_->SetupPrinter(this, Printer());
}

}  // namespace travosk
