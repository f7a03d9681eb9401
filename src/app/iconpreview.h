// The save preview: a larger picture of a save's own icon, animated and
// turning slowly, with the save's title, size, dates and files. A save with
// no 3D icon shows its list pictures instead.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QStringList>
#include <memory>
#include <vector>

class QLabel;
class QTimer;

namespace travosk {

namespace manager {
struct SaveIcon;
}

struct SavePreviewFacts {
  QString name;
  QString title;
  QString size;
  QString blocks;   // a PS1 save's blocks of 8,192 bytes
  QString product;  // a PS1 save's product code, from its name
  QString created;
  QString modified;
  QStringList files;  // "name  size" lines
};

class TIconPreview : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kSide = 256;

  TIconPreview(QWidget* parent, std::shared_ptr<const manager::SaveIcon> icon,
               std::vector<QPixmap> pictures, const SavePreviewFacts& facts);

  QLabel* Picture = nullptr;
  QLabel* Facts = nullptr;
  QTimer* Animation = nullptr;

  // The picture shown at tick k of the animation (30 ticks a second).
  QPixmap Frame(long long k) const;

 private:
  void Tick();

  std::shared_ptr<const manager::SaveIcon> icon_;
  std::vector<QPixmap> pictures_;
  long long tick_ = 0;
};

// The rendered picture as a Qt image (a deep copy).
QPixmap PixmapOf(int width, int height, const uint8_t* rgba);

}  // namespace travosk
