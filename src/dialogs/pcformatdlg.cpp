#include "dialogs/pcformatdlg.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <array>

namespace travosk {
namespace {

struct Choice {
  int64_t card_bytes;
  const char* image;
};
// Button k offers image k; the sizes count 528 bytes per page.
constexpr std::array<Choice, 4> kChoices{{
    {0x420000, "pcf4M.bin"},
    {0x840000, "pcf8M.bin"},
    {0x1080000, "pcf16M.bin"},
    {0x2100000, "pcf32M.bin"},
}};

}  // namespace

TPCformatDlg::TPCformatDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("PCformatDlg");
  setWindowTitle("SMART MEDIA TYPE SELECT");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(384, 179);

  RadioGroup1 = new QGroupBox(this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->setGeometry(8, 8, 273, 163);
  const char* captions[4] = {"4MB-3.3 , 4MB-5V, ID 4MB", "8MB-3.3 , 8MB-5V, ID 8MB",
                             "16M-3.3, 16MB-5V, ID 16MB", "32M-3.3, 32MB-5V, ID 32MB"};
  QRadioButton** buttons[4] = {&RadioButton1, &RadioButton2, &RadioButton3, &RadioButton4};
  for (int i = 0; i < 4; ++i) {
    auto* b = new QRadioButton(captions[i], RadioGroup1);
    b->setObjectName(QString("RadioButton%1").arg(i + 1));
    b->setGeometry(24, 18 + 36 * i, 240, 24);
    connect(b, &QRadioButton::clicked, this, &TPCformatDlg::RadioButtonClick);
    *buttons[i] = b;
  }
  RadioButton2->setChecked(true);

  OKBtn = new QPushButton("OK", this);
  OKBtn->setObjectName("OKBtn");
  OKBtn->setGeometry(300, 8, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(300, 38, 75, 25);
  connect(OKBtn, &QPushButton::clicked, this, &TPCformatDlg::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &TPCformatDlg::CancelBtnClick);
}

void TPCformatDlg::Preselect(int64_t card_bytes) {
  QRadioButton* buttons[4] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
  for (size_t i = 0; i < kChoices.size(); ++i) {
    if (kChoices[i].card_bytes == card_bytes) {
      buttons[i]->setChecked(true);
      ImageName = kChoices[i].image;
    }
  }
}

void TPCformatDlg::RadioButtonClick() {
  const QRadioButton* buttons[4] = {RadioButton1, RadioButton2, RadioButton3, RadioButton4};
  for (size_t i = 0; i < kChoices.size(); ++i) {
    if (buttons[i]->isChecked()) {
      ImageName = kChoices[i].image;
      return;
    }
  }
}

void TPCformatDlg::OKBtnClick() {
  Accepted = true;
  done(1);
}

void TPCformatDlg::CancelBtnClick() {
  Accepted = false;
  done(2);
}

void TPCformatDlg::reject() { CancelBtnClick(); }

}  // namespace travosk
