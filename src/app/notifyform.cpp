#include "app/notifyform.h"

#include <QFrame>
#include <QLabel>

namespace travosk {

TNotifyForm::TNotifyForm(QWidget* parent) : QDialog(parent) {
  setObjectName("NotifyForm");
  setWindowTitle("Notify window");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(365, 79);
  setModal(false);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(4, 4, 357, 71);

  MessageLabel = new QLabel("MESSAGE", this);
  MessageLabel->setObjectName("MessageLabel");
  MessageLabel->setAlignment(Qt::AlignCenter);
  QFont big = font();
  big.setBold(true);
  big.setPixelSize(20);
  MessageLabel->setFont(big);
  MessageLabel->setGeometry(16, 23, 321, 30);

  Label1 = new QLabel("Please do not Remove the memory card.", this);
  Label1->setObjectName("Label1");
  QFont small = font();
  small.setBold(true);
  Label1->setFont(small);
  Label1->move(72, 64);
  Label1->adjustSize();
}

}  // namespace travosk
