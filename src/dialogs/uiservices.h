// The one door through which the front end talks to the user outside its own
// forms: message boxes, file dialogs, the beep and modal showing of a form.
// The window holds a reference to it, so that tests answer every question
// from a script while the production program uses the standard dialogs.
#pragma once

#include <QString>
#include <optional>

class QDialog;
class QWidget;

namespace travosk {

struct FileDialogOptions {
  QString title;
  // Pairs "description|pattern|description|pattern", the way the window's
  // dialogs describe their file types ("*.psu|*.psu|*.psd|*.psd").
  QString filter;
  // Appended (".psu") when the user types a name without one.
  QString default_extension;
  QString start_folder;
  // Proposed in the name field of a save dialog (the save's own name).
  QString file_name;
  // Only the dialogs whose workflow does not ask for itself.
  bool confirm_overwrite = false;
};

class UiServices {
 public:
  virtual ~UiServices() = default;

  // An information box with OK: outcomes and reports.
  virtual void Information(const QString& text) = 0;
  // A confirmation box with Yes and No (overwrite and delete questions).
  [[nodiscard]] virtual bool Confirm(const QString& text) = 0;
  // A warning box with Yes and No (erase and duplicate questions).
  [[nodiscard]] virtual bool Warn(const QString& text) = 0;
  // The standard error box: exceptions that reached a command handler.
  virtual void Error(const QString& text) = 0;
  // A box with OK and a warning sign: a command that failed, its message on
  // the first line and why on the next.
  virtual void Failure(const QString& text) = 0;

  // The chosen file, or nothing when the dialog was cancelled.
  [[nodiscard]] virtual std::optional<QString> OpenFile(const FileDialogOptions& options) = 0;
  [[nodiscard]] virtual std::optional<QString> SaveFile(const FileDialogOptions& options) = 0;
  // A folder (for several files written at once), or nothing when cancelled.
  [[nodiscard]] virtual std::optional<QString> ChooseFolder(const FileDialogOptions& options) = 0;

  virtual void Beep() = 0;

  // Shows a form modally and answers its result code (QDialog::Accepted...).
  virtual int ShowModal(QDialog& dialog) = 0;
};

// "*.psu|*.psu|*.psd|*.psd" -> "*.psu (*.psu);;*.psd (*.psd)".
QString DialogFileFilter(const QString& pairs);
// name with extension (".psu") appended when its last path part has none.
QString WithDefaultExtension(const QString& name, const QString& extension);

// The standard dialogs of the desktop.
class QtUiServices final : public UiServices {
 public:
  // Boxes and file dialogs stand over this window (may change at any time).
  void SetParentWindow(QWidget* parent) { parent_ = parent; }

  void Information(const QString& text) override;
  bool Confirm(const QString& text) override;
  bool Warn(const QString& text) override;
  void Error(const QString& text) override;
  void Failure(const QString& text) override;
  std::optional<QString> OpenFile(const FileDialogOptions& options) override;
  std::optional<QString> SaveFile(const FileDialogOptions& options) override;
  std::optional<QString> ChooseFolder(const FileDialogOptions& options) override;
  void Beep() override;
  int ShowModal(QDialog& dialog) override;

 private:
  QWidget* parent_ = nullptr;
};

}  // namespace travosk
