// TPCformatDlg: "SMART MEDIA TYPE SELECT", the choice of the physical-format
// image that turns the SmartMedia back into a card a PC can use.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

class QGroupBox;
class QPushButton;
class QRadioButton;

namespace travosk {

class TPCformatDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TPCformatDlg(QWidget* parent = nullptr);

  // Checks the button and sets the image name for a memory of 4, 8, 16 or
  // 32 MB (CardBytes counted at 528 bytes per page); any other size leaves
  // the previous choice.
  void Preselect(int64_t card_bytes);

  QPushButton* OKBtn;
  QPushButton* CancelBtn;
  QGroupBox* RadioGroup1;
  QRadioButton* RadioButton1;
  QRadioButton* RadioButton2;
  QRadioButton* RadioButton3;
  QRadioButton* RadioButton4;

  QString ImageName;  // "pcf8M.bin", empty until a choice was made
  bool Accepted = false;

  void reject() override;

 private slots:
  void RadioButtonClick();
  void OKBtnClick();
  void CancelBtnClick();
};

}  // namespace travosk
