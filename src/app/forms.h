// The program's forms, created in the order the program starts them: the
// main window first (its creation finds the adapter and starts the card
// manager), then the SmartMedia type dialog, CONFIG, the device dialog, the
// notify window and the hex editor window. Destroyed in the reverse order.
#pragma once

#include <QString>
#include <memory>

#include "app/mainwindow.h"
#include "app/devicedlg.h"
#include "app/notifyform.h"
#include "dialogs/optform.h"
#include "dialogs/pcformatdlg.h"
#include "hexedit/minied.h"

namespace travosk {

class FormSet {
 public:
  FormSet(link::Link& link, UiServices& ui, const QString& work_folder = {});
  ~FormSet();

  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TPCformatDlg> PCformatDlg;
  std::unique_ptr<ToptForm> optForm;
  std::unique_ptr<TDEVICEDlg> DEVICEDlg;
  std::unique_ptr<TNotifyForm> NotifyForm;
  std::unique_ptr<TMiniEdForm> MiniEdForm;

 private:
  // The edit command's use of the hex editor window.
  bool EditSave(const QString& file, const QString& caption);
  UiServices& ui_;
};

}  // namespace travosk
