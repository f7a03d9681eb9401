// TNotifyForm: the small window that stays up while a card operation runs
// and asks the user to leave the card where it is.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;

namespace travosk {

class TNotifyForm : public QDialog {
  Q_OBJECT

 public:
  explicit TNotifyForm(QWidget* parent = nullptr);

  QFrame* Bevel1;
  QLabel* MessageLabel;
  QLabel* Label1;
};

}  // namespace travosk
