#include "app/screenshot.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "app/forms.h"

namespace travosk {

void Settle(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QApplication::sendPostedEvents();
  }
}

bool ScreenshotUi::Confirm(const QString& text) {
  messages_ << text;
  return false;
}

bool ScreenshotUi::Warn(const QString& text) {
  messages_ << text;
  return false;
}

void ScreenshotUi::GrabNext(const QString& form, const QString& file) {
  grabs_ << form + "=" + file;
}

void ScreenshotUi::Grab(QWidget& window, const QString& file) {
  window.raise();
  window.activateWindow();
  Settle(400);
  const QString path = QDir(out_dir_).filePath(file);
  if (window.grab().save(path, "PNG")) {
    written_ << path;
    std::printf("screenshot: %s\n", qPrintable(path));
  } else {
    std::fprintf(stderr, "screenshot: cannot write %s\n", qPrintable(path));
  }
}

int ScreenshotUi::ShowModal(QDialog& dialog) {
  // The form is shown for real, grabbed when asked for, then answered the
  // way a careful user would: a device is chosen, everything else cancelled.
  dialog.setResult(QDialog::Rejected);
  dialog.show();
  for (qsizetype i = 0; i < grabs_.size(); ++i) {
    const QStringList pair = grabs_[i].split('=');
    if (pair[0] == dialog.objectName()) {
      Grab(dialog, pair[1]);
      grabs_.removeAt(i);
      break;
    }
  }
  if (dialog.objectName() == "DEVICEDlg") {
    auto* button = dialog.findChild<QPushButton*>(device_button_);
    if (button && button->isVisible() && button->isEnabled()) {
      button->click();
      return dialog.result();
    }
  }
  dialog.reject();
  dialog.hide();
  return dialog.result();
}

bool StartScreenshotScenario(FormSet& forms, ScreenshotUi& ui, const QString& scenario) {
  TForm1* w = forms.Form1.get();
  ScreenshotUi* u = &ui;
  auto finish = [u] {
    for (const QString& m : u->Messages()) std::printf("message: %s\n", qPrintable(m));
    QApplication::exit(u->Written().isEmpty() ? 1 : 0);
  };
  // Catalogues and selects the first save whose title is not plain ASCII,
  // so that the selection line shows decoded Shift-JIS.
  auto catalogue = [w] {
    w->CatalogBtnClick();
    int row = 0;
    for (int i = w->Savertableview->count() - 1; i >= 0; --i) {
      const QString title = w->Savertableview->item(i)->data(TForm1::kTitleRole).toString();
      for (const QChar c : title)
        if (c.unicode() > 0x7F) row = i;
    }
    if (w->Savertableview->count() > 0) w->Savertableview->setCurrentRow(row);
    Settle(700);  // let the icons animate and the marker blink
  };
  if (scenario == "ps2") {
    QTimer::singleShot(300, w, [w, u, catalogue, finish] {
      u->SetDeviceChoice("DEVPS2");
      u->GrabNext("DEVICEDlg", "device-select.png");
      catalogue();
      u->Grab(*w, "main-ps2.png");
      // The selected save's own icon, larger, with its facts.
      u->GrabNext("IconPreview", "preview-ps2.png");
      w->ShowSavePreview(w->Savertableview->currentRow());
      u->GrabNext("optForm", "config.png");
      w->SETUPClick();
      // The hex editor on the largest save of a size that fills its window.
      const auto& saves = w->SaveEntries();
      int row = 0;
      for (int i = 0; i < static_cast<int>(saves.size()); ++i)
        if (saves[i].size > saves[row].size && saves[i].size < 65536) row = i;
      w->Savertableview->setCurrentRow(row);
      u->GrabNext("MiniEdForm", "hexedit.png");
      w->savereditbtnClick();
      finish();
    });
    return true;
  }
  if (scenario == "ps1" || scenario == "smartmedia") {
    const bool ps1 = scenario == "ps1";
    QTimer::singleShot(300, w, [w, u, ps1, catalogue, finish] {
      u->SetDeviceChoice(ps1 ? "DEVPS1" : "DEVSmart");
      catalogue();
      u->Grab(*w, ps1 ? "main-ps1.png" : "main-smartmedia.png");
      finish();
    });
    return true;
  }
  if (scenario == "image") {
    // A copy of the card in the adapter, opened as a card image; then the
    // device dialog offering both.
    QTimer::singleShot(300, w, [w, u, finish] {
      const QString image = w->WorkFolder() + "image.ps2";
      QFile::remove(image);
      QFile::copy(w->WorkFolder() + "demo-ps2.ps2", image);
      QFile::setPermissions(image, QFile::ReadOwner | QFile::WriteOwner);
      w->OpenCardImage(image);
      if (w->Savertableview->count() > 0) w->Savertableview->setCurrentRow(0);
      Settle(700);
      u->Grab(*w, "main-image.png");
      u->SetDeviceChoice("DEVImage0");
      u->GrabNext("DEVICEDlg", "device-select-image.png");
      w->CatalogBtnClick();
      // The adapter's card beside the image: the split view.
      u->SetDeviceChoice("DEVPS2");
      w->CatalogBtnClick();
      if (w->Savertableview->count() > 0) w->Savertableview->setCurrentRow(0);
      Settle(700);
      u->Grab(*w, "split-view.png");
      finish();
    });
    return true;
  }
  return false;
}

}  // namespace travosk
