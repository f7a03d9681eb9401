#include "hexedit/hexeditor_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace travosk {

QString QtFileFilter(const QString& filter) {
  // "Desc|pattern|Desc|pattern" pairs become "Desc (pattern);;..." filters;
  // a description that already names its pattern is kept as it is.
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString pattern = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
    out << (parts[i].contains(QLatin1Char('(')) ? parts[i] : parts[i] + " (" + pattern + ")");
  }
  return out.join(QStringLiteral(";;"));
}

THexPrompts::Answer THexQtPrompts::AskYesNoCancel(QWidget* parent, const QString& text) {
  const auto button =
      QMessageBox::question(parent, QApplication::applicationName(), text,
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (button == QMessageBox::Yes) return Answer::Yes;
  if (button == QMessageBox::No) return Answer::No;
  return Answer::Cancel;
}

void THexQtPrompts::ShowError(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::critical(parent, caption.isEmpty() ? QApplication::applicationName() : caption,
                        text);
}

void THexQtPrompts::ShowInfo(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationName(), text);
}

std::optional<QString> THexQtPrompts::InputText(QWidget* parent, const QString& title,
                                                const QString& prompt, const QString& initial) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, &ok);
  if (!ok) return std::nullopt;
  return text;
}

std::optional<QString> THexQtPrompts::SaveFileName(QWidget* parent, const QString& title,
                                                   const QString& filter, const QString& initial) {
  // QFileDialog asks before overwriting an existing file by default.
  const QString name = QFileDialog::getSaveFileName(parent, title, initial, QtFileFilter(filter));
  if (name.isEmpty()) return std::nullopt;
  return name;
}

std::optional<QString> THexQtPrompts::OpenFileName(QWidget* parent, const QString& title,
                                                   const QString& filter) {
  const QString name = QFileDialog::getOpenFileName(parent, title, QString(), QtFileFilter(filter));
  if (name.isEmpty()) return std::nullopt;
  return name;
}

bool THexQtPrompts::SetupPrinter(QWidget* parent, QPrinter& printer) {
  QPrintDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace travosk
