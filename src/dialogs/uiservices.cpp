#include "dialogs/uiservices.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace travosk {

QString DialogFileFilter(const QString& pairs) {
  const QStringList parts = pairs.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString pattern = parts[i + 1];
    pattern.replace(';', ' ');
    filters << parts[i] + " (" + pattern + ")";
  }
  return filters.join(";;");
}

QString WithDefaultExtension(const QString& name, const QString& extension) {
  if (name.isEmpty() || extension.isEmpty()) return name;
  if (!QFileInfo(name).suffix().isEmpty()) return name;
  return extension.startsWith('.') ? name + extension : name + "." + extension;
}

namespace {

// A standard message box; the default button is the first one, as in the
// dialogs the system was designed with.
int Box(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton default_button) {
  QMessageBox box(icon, title, text, buttons, parent);
  box.setDefaultButton(default_button);
  return box.exec();
}

QFileDialog::Options DialogOptions(const FileDialogOptions& options) {
  QFileDialog::Options result;
  if (!options.confirm_overwrite) result |= QFileDialog::DontConfirmOverwrite;
  return result;
}

}  // namespace

void QtUiServices::Information(const QString& text) {
  Box(parent_, QMessageBox::Information, "Information", text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtUiServices::Failure(const QString& text) {
  Box(parent_, QMessageBox::Warning, "Information", text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtUiServices::Confirm(const QString& text) {
  return Box(parent_, QMessageBox::Question, "Confirm", text, QMessageBox::Yes | QMessageBox::No,
             QMessageBox::Yes) == QMessageBox::Yes;
}

bool QtUiServices::Warn(const QString& text) {
  return Box(parent_, QMessageBox::Warning, "Warning", text, QMessageBox::Yes | QMessageBox::No,
             QMessageBox::Yes) == QMessageBox::Yes;
}

void QtUiServices::Error(const QString& text) {
  Box(parent_, QMessageBox::Critical, "Error", text, QMessageBox::Ok, QMessageBox::Ok);
}

std::optional<QString> QtUiServices::OpenFile(const FileDialogOptions& options) {
  const QString name = QFileDialog::getOpenFileName(
      parent_, options.title.isEmpty() ? QString("Open") : options.title, options.start_folder,
      DialogFileFilter(options.filter), nullptr, DialogOptions(options));
  if (name.isEmpty()) return std::nullopt;
  return name;
}

std::optional<QString> QtUiServices::SaveFile(const FileDialogOptions& options) {
  const QString name = QFileDialog::getSaveFileName(
      parent_, options.title.isEmpty() ? QString("Save As") : options.title,
      options.file_name.isEmpty() ? options.start_folder
                                  : QDir(options.start_folder).filePath(options.file_name),
      DialogFileFilter(options.filter), nullptr, DialogOptions(options));
  if (name.isEmpty()) return std::nullopt;
  return WithDefaultExtension(name, options.default_extension);
}

std::optional<QString> QtUiServices::ChooseFolder(const FileDialogOptions& options) {
  const QString name = QFileDialog::getExistingDirectory(
      parent_, options.title.isEmpty() ? QString("Choose Folder") : options.title,
      options.start_folder, DialogOptions(options) | QFileDialog::ShowDirsOnly);
  if (name.isEmpty()) return std::nullopt;
  return name;
}

void QtUiServices::Beep() { QApplication::beep(); }

int QtUiServices::ShowModal(QDialog& dialog) { return dialog.exec(); }

}  // namespace travosk
