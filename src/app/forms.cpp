#include "app/forms.h"

namespace travosk {

FormSet::FormSet(link::Link& link, UiServices& ui, const QString& work_folder) : ui_(ui) {
  Form1 = std::make_unique<TForm1>(link, ui, work_folder);
  PCformatDlg = std::make_unique<TPCformatDlg>(Form1.get());
  optForm = std::make_unique<ToptForm>(Form1.get());
  DEVICEDlg = std::make_unique<TDEVICEDlg>(Form1.get());
  NotifyForm = std::make_unique<TNotifyForm>(Form1.get());
  MiniEdForm = std::make_unique<TMiniEdForm>(Form1.get());
  OtherForms others;
  others.PCformatDlg = PCformatDlg.get();
  others.optForm = optForm.get();
  others.DEVICEDlg = DEVICEDlg.get();
  others.NotifyForm = NotifyForm.get();
  others.EditSave = [this](const QString& file, const QString& caption) {
    return EditSave(file, caption);
  };
  Form1->AttachForms(others);
}

FormSet::~FormSet() {
  // The main window must not reach a form that is already gone.
  if (Form1) Form1->AttachForms(OtherForms{});
  MiniEdForm.reset();
  NotifyForm.reset();
  DEVICEDlg.reset();
  optForm.reset();
  PCformatDlg.reset();
  Form1.reset();
}

bool FormSet::EditSave(const QString& file, const QString& caption) {
  TMiniEdForm& editor = *MiniEdForm;
  const QRect main = Form1->frameGeometry();
  const QSize size = editor.frameGeometry().size();
  editor.move(main.left() + (main.width() - size.width()) / 2,
              main.top() + (main.height() - size.height()) / 2);
  editor.SaveRequested = 0;
  editor.HexEditor1->OpenForEditing(file);
  editor.setWindowTitle(caption);
  ui_.ShowModal(editor);
  return editor.SaveRequested != 0;
}

}  // namespace travosk
