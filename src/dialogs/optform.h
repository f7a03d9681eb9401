// ToptForm: the CONFIG dialog in which the user edits the link settings, the
// parallel port base and the connection delay. The main window copies the
// settings in, shows the dialog modally and copies them back when Accepted.
#pragma once

#include <QDialog>
#include <cstdint>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace travosk {

class ToptForm : public QDialog {
  Q_OBJECT

 public:
  explicit ToptForm(QWidget* parent = nullptr);

  // Text -> value; 0xFFFF when the text is empty or holds a character that is
  // not a hexadecimal digit.
  static uint32_t ParseHex(const QString& text);

  // Sets the radio buttons and delayEdit1 from PortBase and ConnectDelay.
  void ShowSettings();

  QLabel* Label1;
  QGroupBox* RadioGroup1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QLabel* Label2;
  QLineEdit* baseEdit;
  QLabel* Label3;
  QLineEdit* delayEdit1;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QPushButton* BitBtn2;  // OK
  QPushButton* BitBtn1;  // EXIT

  uint16_t PortBase = 0x378;
  int32_t ConnectDelay = 0;
  bool Accepted = false;

  // Closing by other means than the two buttons (Escape) counts as EXIT.
  void reject() override;

 private slots:
  void baseEditChange();
  void delayEdit1Change();
  void BitBtn2Click();
  void BitBtn1Click();
};

// value in upper-case hexadecimal with at least `digits` digits.
QString HexText(uint32_t value, int digits);

}  // namespace travosk
