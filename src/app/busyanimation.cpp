#include "app/busyanimation.h"

#include <QTimer>

#include "dialogs/pictures.h"

namespace travosk {

BusyAnimation::BusyAnimation(QWidget* parent) : QLabel(parent), timer_(new QTimer(this)) {
  timer_->setInterval(90);
  connect(timer_, &QTimer::timeout, this, &BusyAnimation::Advance);
  setPixmap(pictures::BusyFrame(1));
}

void BusyAnimation::Play(int first, int last) {
  first_ = first;
  last_ = last;
  frame_ = first;
  active_ = true;
  setPixmap(pictures::BusyFrame(frame_));
  show();
  repaint();
  timer_->start();
}

void BusyAnimation::Stop() {
  active_ = false;
  timer_->stop();
}

void BusyAnimation::Advance() {
  frame_ = frame_ >= last_ ? first_ : frame_ + 1;
  setPixmap(pictures::BusyFrame(frame_));
}

}  // namespace travosk
