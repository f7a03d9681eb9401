// TDEVICEDlg: "DEVICE SELECT", the choice between the memory card in the card
// slot and the SmartMedia, among the devices the adapter reports.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>
#include <vector>

class QLabel;
class QPushButton;

namespace travosk {

class TDEVICEDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TDEVICEDlg(QWidget* parent = nullptr);

  // Called before every showing with the number of devices found and the
  // DeviceKind (1 PS2 card, 2 PS1 card, 3 SmartMedia) of the first two.
  void PrepareDevices(int devices_found, int first_kind, int second_kind);
  // Called after PrepareDevices with the names of the open card images: one
  // button each ("DEVImage0"...) below the adapter's devices, the dialog
  // growing to hold them, each with the picture of its DeviceKind (a PS2
  // card when none is given). With no image open the dialog is as it was.
  void PrepareImages(const QStringList& names, const std::vector<int>& kinds = {});

  QLabel* NODEVICE;
  QPushButton* DEVPS1;
  QPushButton* DEVPS2;
  QPushButton* DEVSmart;
  QPushButton* DEVClose;

  uint8_t Choice = 0;     // 1 card slot, 2 SmartMedia
  uint8_t SlotIndex = 0;  // position of the chosen device in the device list
  int ImageIndex = -1;    // the open image chosen, -1 for a device of the adapter

  void reject() override;

 private slots:
  void DEVPS2Click();
  void DEVPS1Click();
  void DEVSmartClick();
  void DEVCloseClick();

 private:
  uint8_t smart_slot_ = 1;  // list position of the SmartMedia
  std::vector<QPushButton*> image_buttons_;
};

}  // namespace travosk
