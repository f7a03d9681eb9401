#include "app/devicedlg.h"

#include <QLabel>
#include <QPushButton>

#include "common/slots.h"
#include "dialogs/pictures.h"

namespace travosk {
namespace {

constexpr int kPS2Card = static_cast<int>(CardKind::kPS2);
constexpr int kPS1Card = static_cast<int>(CardKind::kPS1);
constexpr int kSmartMedia = static_cast<int>(CardKind::kSmartMedia);

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int kind,
                        int top) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setGeometry(24, top, 257, 33);
  b->setIcon(QIcon(pictures::Device(kind, QSize(26, 26))));
  b->setIconSize(QSize(26, 26));
  return b;
}

}  // namespace

TDEVICEDlg::TDEVICEDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("DEVICEDlg");
  setWindowTitle("DEVICE SELECT");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(306, 160);
  QFont bold = font();
  bold.setFamilies({"MS Sans Serif", "DejaVu Sans", "IPAGothic"});
  bold.setBold(true);
  setFont(bold);

  NODEVICE = new QLabel("NO DEVICE", this);
  NODEVICE->setObjectName("NODEVICE");
  QFont big = bold;
  big.setPixelSize(20);
  NODEVICE->setFont(big);
  NODEVICE->move(96, 48);
  NODEVICE->adjustSize();

  DEVPS1 = MakeButton(this, "DEVPS1", "PS Card", kPS1Card, 24);
  DEVPS2 = MakeButton(this, "DEVPS2", "PS2 Card", kPS2Card, 24);
  DEVSmart = MakeButton(this, "DEVSmart", "Smart Card", kSmartMedia, 64);
  DEVClose = new QPushButton("Cancel", this);
  DEVClose->setObjectName("DEVClose");
  DEVClose->setGeometry(24, 104, 257, 33);
  DEVPS1->setDefault(true);

  connect(DEVPS1, &QPushButton::clicked, this, &TDEVICEDlg::DEVPS1Click);
  connect(DEVPS2, &QPushButton::clicked, this, &TDEVICEDlg::DEVPS2Click);
  connect(DEVSmart, &QPushButton::clicked, this, &TDEVICEDlg::DEVSmartClick);
  connect(DEVClose, &QPushButton::clicked, this, &TDEVICEDlg::DEVCloseClick);
}

void TDEVICEDlg::PrepareDevices(int devices_found, int first_kind, int second_kind) {
  ImageIndex = -1;
  DEVPS1->hide();
  DEVPS2->hide();
  DEVSmart->hide();
  NODEVICE->hide();
  SlotIndex = 0;
  DEVClose->show();
  if (devices_found == 0) {
    NODEVICE->show();
    return;
  }
  if (first_kind == kPS2Card) {
    DEVPS2->show();
    DEVPS2->setDefault(true);
  } else if (first_kind == kPS1Card) {
    DEVPS1->show();
    DEVPS1->setDefault(true);
  }
  if (second_kind == kSmartMedia && devices_found >= 2) {
    DEVSmart->show();
    smart_slot_ = 1;
  } else if (first_kind == kSmartMedia) {
    // An empty card slot puts the SmartMedia first in the list: offer it
    // there rather than leaving the user with Cancel only.
    DEVSmart->show();
    DEVSmart->setDefault(true);
    smart_slot_ = 0;
  }
}

void TDEVICEDlg::PrepareImages(const QStringList& names, const std::vector<int>& kinds) {
  for (QPushButton* b : image_buttons_) delete b;
  image_buttons_.clear();
  constexpr int kFirstTop = 104;
  for (int i = 0; i < names.size(); ++i) {
    const int kind = static_cast<size_t>(i) < kinds.size() ? kinds[static_cast<size_t>(i)] : kPS2Card;
    QPushButton* b = MakeButton(this, "", names[i], kind, kFirstTop + 40 * i);
    b->setObjectName(QString("DEVImage%1").arg(i));
    connect(b, &QPushButton::clicked, this, [this, i] {
      Choice = 1;
      SlotIndex = 0;
      ImageIndex = i;
      accept();
    });
    b->show();
    image_buttons_.push_back(b);
  }
  const int extra = 40 * static_cast<int>(names.size());
  DEVClose->move(24, kFirstTop + extra);
  setFixedSize(306, 160 + extra);
}

void TDEVICEDlg::DEVPS2Click() {
  Choice = 1;
  SlotIndex = 0;
  accept();
}

void TDEVICEDlg::DEVPS1Click() {
  Choice = 1;
  SlotIndex = 0;
  accept();
}

void TDEVICEDlg::DEVSmartClick() {
  Choice = 2;
  SlotIndex = smart_slot_;
  accept();
}

void TDEVICEDlg::DEVCloseClick() {
  DEVPS2->setEnabled(true);
  DEVPS1->setEnabled(true);
  DEVSmart->setEnabled(true);
  QDialog::reject();
}

void TDEVICEDlg::reject() { DEVCloseClick(); }

}  // namespace travosk
