// Every question, message and file dialog of the hex editor window goes
// through this interface, so tests can answer them; THexQtPrompts is the one
// the program uses.
#pragma once

#include <QString>
#include <optional>

class QPrinter;
class QWidget;

namespace travosk {

class THexPrompts {
 public:
  enum class Answer { Yes, No, Cancel };

  virtual ~THexPrompts() = default;
  virtual Answer AskYesNoCancel(QWidget* parent, const QString& text) = 0;
  // An error box; an empty caption means the application's title.
  virtual void ShowError(QWidget* parent, const QString& caption, const QString& text) = 0;
  virtual void ShowInfo(QWidget* parent, const QString& text) = 0;
  // The text entered, or nothing when cancelled.
  virtual std::optional<QString> InputText(QWidget* parent, const QString& title,
                                           const QString& prompt, const QString& initial) = 0;
  // filter uses the "Description|*.ext" form of the window's dialogs.
  virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& title,
                                              const QString& filter, const QString& initial) = 0;
  virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& title,
                                              const QString& filter) = 0;
  // The printer setup dialog; true when the user accepted it.
  virtual bool SetupPrinter(QWidget* parent, QPrinter& printer) = 0;
};

class THexQtPrompts : public THexPrompts {
 public:
  Answer AskYesNoCancel(QWidget* parent, const QString& text) override;
  void ShowError(QWidget* parent, const QString& caption, const QString& text) override;
  void ShowInfo(QWidget* parent, const QString& text) override;
  std::optional<QString> InputText(QWidget* parent, const QString& title, const QString& prompt,
                                   const QString& initial) override;
  std::optional<QString> SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& initial) override;
  std::optional<QString> OpenFileName(QWidget* parent, const QString& title,
                                      const QString& filter) override;
  bool SetupPrinter(QWidget* parent, QPrinter& printer) override;
};

// "All Files (*.*)|*.*" as a Qt file dialog filter.
QString QtFileFilter(const QString& filter);

}  // namespace travosk
