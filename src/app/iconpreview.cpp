#include "app/iconpreview.h"

#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "manager/saveicon.h"

namespace travosk {

namespace {

constexpr int kTickMs = 33;
constexpr int kTicksPerTurn = 240;   // one turn every eight seconds
constexpr int kTicksPerPicture = 8;  // list pictures change four times a second

}  // namespace

QPixmap PixmapOf(int width, int height, const uint8_t* rgba) {
  const QImage image(rgba, width, height, width * 4, QImage::Format_RGBA8888);
  return QPixmap::fromImage(image.copy());
}

TIconPreview::TIconPreview(QWidget* parent, std::shared_ptr<const manager::SaveIcon> icon,
                           std::vector<QPixmap> pictures, const SavePreviewFacts& facts)
    : QDialog(parent), icon_(std::move(icon)), pictures_(std::move(pictures)) {
  setObjectName("IconPreview");
  setWindowTitle(facts.name);
  Picture = new QLabel(this);
  Picture->setObjectName("Picture");
  Picture->setFixedSize(kSide, kSide);
  Picture->setAlignment(Qt::AlignCenter);
  Facts = new QLabel(this);
  Facts->setObjectName("Facts");
  Facts->setTextFormat(Qt::PlainText);
  Facts->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // A fact the save does not have (a PS1 save's dates and files) is left
  // out rather than shown empty.
  QStringList lines = {facts.title, facts.name, ""};
  auto fact = [&lines](const char* label, const QString& value) {
    if (!value.isEmpty()) lines << label + value;
  };
  fact("Product: ", facts.product);
  fact("Blocks: ", facts.blocks);
  fact("Size: ", facts.size);
  fact("Created: ", facts.created);
  fact("Modified: ", facts.modified);
  if (!facts.files.isEmpty()) lines << "" << "Files:";
  for (const QString& f : facts.files) lines << "  " + f;
  Facts->setText(lines.join('\n'));
  auto* close = new QPushButton("Close", this);
  close->setObjectName("CloseBtn");
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(Picture);
  row->addWidget(Facts, 1);
  auto* column = new QVBoxLayout(this);
  column->addLayout(row);
  column->addWidget(close, 0, Qt::AlignRight);

  Picture->setPixmap(Frame(0));
  Animation = new QTimer(this);
  Animation->setInterval(kTickMs);
  connect(Animation, &QTimer::timeout, this, &TIconPreview::Tick);
  Animation->start();
}

QPixmap TIconPreview::Frame(long long k) const {
  if (icon_) {
    manager::IconView view;
    view.size = kSide;
    view.phase = manager::IconFramePhase(icon_->icon, k);
    view.yaw = 2 * M_PI * static_cast<double>(k % kTicksPerTurn) / kTicksPerTurn;
    const manager::RgbaImage image = manager::RenderIcon(icon_->icon, icon_->look, view);
    return PixmapOf(image.width, image.height, image.pixels.data());
  }
  if (pictures_.empty()) return {};
  const QPixmap& p = pictures_[static_cast<size_t>(k / kTicksPerPicture) % pictures_.size()];
  return p.scaled(kSide, kSide, Qt::KeepAspectRatio, Qt::FastTransformation);
}

void TIconPreview::Tick() {
  Picture->setPixmap(Frame(++tick_));
}

}  // namespace travosk
