// Animate1: the busy animation beside the buttons, a clip of our own drawing
// played while a card operation runs.
#pragma once

#include <QLabel>

class QTimer;

namespace travosk {

class BusyAnimation : public QLabel {
  Q_OBJECT

 public:
  explicit BusyAnimation(QWidget* parent = nullptr);

  // Shows the animation and plays frames first..last, repeating without end.
  void Play(int first, int last);
  void Stop();
  bool Active() const { return active_; }
  int Frame() const { return frame_; }

 private:
  void Advance();

  QTimer* timer_;
  bool active_ = false;
  int first_ = 1;
  int last_ = 1;
  int frame_ = 1;
};

}  // namespace travosk
