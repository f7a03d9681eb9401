#include "dialogs/optform.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

namespace travosk {
namespace {

constexpr uint16_t kLpt1 = 0x378;
constexpr uint16_t kLpt2 = 0x278;

// The edits take upper case only: typed letters are upper-cased as they come.
class UpperCaseValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(8);
  edit->setValidator(new UpperCaseValidator(edit));
  edit->setText(text);
  edit->setGeometry(left, top, 97, 21);
  return edit;
}

}  // namespace

QString HexText(uint32_t value, int digits) {
  return QString::number(value, 16).toUpper().rightJustified(digits, '0');
}

uint32_t ToptForm::ParseHex(const QString& text) {
  if (text.isEmpty()) return 0xFFFF;
  uint64_t sum = 0;
  uint64_t weight = 1;
  for (qsizetype i = text.size() - 1; i >= 0; --i) {
    const QChar c = text[i].toUpper();
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c.unicode() - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c.unicode() - 'A' + 10;
    } else {
      return 0xFFFF;
    }
    sum += digit * weight;
    weight *= 16;
  }
  return static_cast<uint32_t>(sum);
}

ToptForm::ToptForm(QWidget* parent) : QDialog(parent) {
  setObjectName("optForm");
  setWindowTitle("CONFIG");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(289, 281);
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);

  Label1 = MakeLabel(this, "Label1", "CONFIG", 16, 8);
  QFont heading = bold;
  heading.setPixelSize(18);
  Label1->setFont(heading);
  Label1->adjustSize();

  RadioGroup1 = new QGroupBox("Parallel Port Select", this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->setGeometry(16, 36, 257, 81);
  RadioButton1 = new QRadioButton("LPT1", RadioGroup1);
  RadioButton1->setObjectName("RadioButton1");
  RadioButton1->setGeometry(16, 22, 100, 20);
  RadioButton1->setChecked(true);
  RadioButton2 = new QRadioButton("LPT2", RadioGroup1);
  RadioButton2->setObjectName("RadioButton2");
  RadioButton2->setGeometry(16, 48, 100, 20);
  RadioButton3 = new QRadioButton("Custom", RadioGroup1);
  RadioButton3->setObjectName("RadioButton3");
  RadioButton3->setGeometry(128, 22, 120, 20);

  Label2 = MakeLabel(this, "Label2", "Parallel Port I/O", 16, 128);
  baseEdit = MakeEdit(this, "baseEdit", "378", 160, 125);
  Label3 = MakeLabel(this, "Label3", "Connection Delay", 16, 156);
  delayEdit1 = MakeEdit(this, "delayEdit1", "00000000", 160, 153);

  Label4 = MakeLabel(this, "Label4", "Note: Turn the BIOS", 16, 186);
  Label5 = MakeLabel(this, "Label5", "config run on EPP,  ECP", 16, 202);
  Label6 = MakeLabel(this, "Label6", "or EPP +ECP Mode.", 16, 218);

  BitBtn2 = new QPushButton("OK", this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(40, 244, 89, 27);
  BitBtn2->setDefault(true);
  BitBtn1 = new QPushButton("EXIT", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(160, 244, 89, 27);

  // The design texts above are in place before the handlers are bound, so
  // they do not count as edits.
  connect(baseEdit, &QLineEdit::textChanged, this, &ToptForm::baseEditChange);
  connect(delayEdit1, &QLineEdit::textChanged, this, &ToptForm::delayEdit1Change);
  connect(BitBtn2, &QPushButton::clicked, this, &ToptForm::BitBtn2Click);
  connect(BitBtn1, &QPushButton::clicked, this, &ToptForm::BitBtn1Click);
}

void ToptForm::ShowSettings() {
  RadioButton3->setText("Custom");
  // Exclusive buttons cannot all be off; lift the rule while clearing them.
  for (QRadioButton* b : {RadioButton1, RadioButton2, RadioButton3}) b->setAutoExclusive(false);
  for (QRadioButton* b : {RadioButton1, RadioButton2, RadioButton3}) b->setChecked(false);
  for (QRadioButton* b : {RadioButton1, RadioButton2, RadioButton3}) b->setAutoExclusive(true);
  if (PortBase == kLpt1) {
    RadioButton1->setChecked(true);
  } else if (PortBase == kLpt2) {
    RadioButton2->setChecked(true);
  } else {
    RadioButton3->setChecked(true);
    RadioButton3->setText("I/O " + HexText(PortBase, 3));
  }
  delayEdit1->setText(HexText(static_cast<uint32_t>(ConnectDelay), 8));
}

// An edit keeps only a text that is exactly the zero-padded hexadecimal form
// of its own value; anything else puts the default text back (which runs the
// handler again with that text).
void ToptForm::baseEditChange() {
  const QString text = baseEdit->text().toUpper();
  if (HexText(ParseHex(text), static_cast<int>(text.size())) != text) baseEdit->setText("378");
  PortBase = static_cast<uint16_t>(ParseHex(baseEdit->text()));
  RadioButton3->setText("I/O " + HexText(PortBase, 3));
  RadioButton3->setChecked(true);
}

void ToptForm::delayEdit1Change() {
  const QString text = delayEdit1->text().toUpper();
  if (HexText(ParseHex(text), static_cast<int>(text.size())) != text)
    delayEdit1->setText("00000000");
  ConnectDelay = static_cast<int32_t>(ParseHex(delayEdit1->text()));
}

void ToptForm::BitBtn2Click() {
  if (RadioButton1->isChecked()) PortBase = kLpt1;
  if (RadioButton2->isChecked()) PortBase = kLpt2;
  Accepted = true;
  QDialog::accept();
}

void ToptForm::BitBtn1Click() {
  Accepted = false;
  QDialog::reject();
}

void ToptForm::reject() { BitBtn1Click(); }

}  // namespace travosk
