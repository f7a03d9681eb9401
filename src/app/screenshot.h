// Pictures of the real windows for the documentation: started with the
// hidden option --screenshot-script DIR SCENARIO, the program runs a fixed
// scenario on the adapter it finds, answers every question itself (never a
// destructive one) and writes PNG grabs of its windows into DIR.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "dialogs/uiservices.h"

namespace travosk {

class FormSet;

class ScreenshotUi final : public UiServices {
 public:
  explicit ScreenshotUi(QString out_dir) : out_dir_(std::move(out_dir)) {}

  // The device button the device dialog is answered with ("DEVPS2"...).
  void SetDeviceChoice(const QString& button) { device_button_ = button; }
  // Grabs of the next showings of forms, by object name -> file name.
  void GrabNext(const QString& form, const QString& file);
  const QStringList& Written() const { return written_; }
  const QStringList& Messages() const { return messages_; }

  void Information(const QString& text) override { messages_ << text; }
  void Failure(const QString& text) override { messages_ << text; }
  bool Confirm(const QString& text) override;
  bool Warn(const QString& text) override;
  void Error(const QString& text) override { messages_ << "Error: " + text; }
  std::optional<QString> OpenFile(const FileDialogOptions&) override { return std::nullopt; }
  std::optional<QString> SaveFile(const FileDialogOptions&) override { return std::nullopt; }
  std::optional<QString> ChooseFolder(const FileDialogOptions&) override { return std::nullopt; }
  void Beep() override {}
  int ShowModal(QDialog& dialog) override;

  // Writes a grab of the widget's window as DIR/file.
  void Grab(QWidget& window, const QString& file);

 private:
  QString out_dir_;
  QString device_button_ = "DEVPS2";
  QStringList grabs_;  // "form=file" pairs waiting for their form
  QStringList written_;
  QStringList messages_;
};

// Runs the scenario ("ps2", "ps1" or "smartmedia") once the event loop runs
// and quits the program when done; false for an unknown scenario.
bool StartScreenshotScenario(FormSet& forms, ScreenshotUi& ui, const QString& scenario);

// Lets the window system and the timers run for ms milliseconds.
void Settle(int ms);

}  // namespace travosk
