// UI services for the window's tests: every message is recorded, and every
// question, file dialog and modal form is answered from a script. A question
// that the script did not expect is recorded too, answered No or Cancel, and
// fails the test that checks `unexpected`.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

#include "dialogs/uiservices.h"

namespace travosk::testing {

class ScriptedUi final : public UiServices {
 public:
  struct Entry {
    QString kind;  // "info", "confirm", "warn", "error", "open", "save", "folder", "modal"
    QString text;
  };
  using ModalAnswer = std::function<int(QDialog&)>;

  std::vector<Entry> log;
  std::deque<bool> answers;                   // Confirm and Warn, in turn
  std::deque<QString> files;  // OpenFile, SaveFile, ChooseFolder in turn; a null string cancels
  std::deque<ModalAnswer> modals;             // ShowModal, in turn
  std::vector<FileDialogOptions> dialogs;     // every file dialog shown
  QStringList unexpected;
  int beeps = 0;

  void Information(const QString& text) override { log.push_back({"info", text}); }
  bool Confirm(const QString& text) override {
    log.push_back({"confirm", text});
    return Answer(text);
  }
  bool Warn(const QString& text) override {
    log.push_back({"warn", text});
    return Answer(text);
  }
  void Error(const QString& text) override { log.push_back({"error", text}); }
  void Failure(const QString& text) override { log.push_back({"fail", text}); }
  std::optional<QString> OpenFile(const FileDialogOptions& options) override {
    log.push_back({"open", options.filter});
    return File(options);
  }
  std::optional<QString> SaveFile(const FileDialogOptions& options) override {
    log.push_back({"save", options.filter});
    return File(options);
  }
  std::optional<QString> ChooseFolder(const FileDialogOptions& options) override {
    log.push_back({"folder", options.title});
    return File(options);
  }
  void Beep() override { ++beeps; }
  int ShowModal(QDialog& dialog) override {
    log.push_back({"modal", dialog.objectName()});
    if (modals.empty()) {
      unexpected << "modal " + dialog.objectName();
      return QDialog::Rejected;
    }
    ModalAnswer answer = std::move(modals.front());
    modals.pop_front();
    return answer(dialog);
  }

  // The texts of one kind (or of every kind), in order.
  QStringList Texts(const QString& kind = {}) const {
    QStringList out;
    for (const Entry& e : log)
      if (kind.isEmpty() || e.kind == kind) out << e.text;
    return out;
  }
  // The failures' messages, their first lines; a failure that gives no
  // reason on a line of its own is marked, so that a comparison fails.
  QStringList Failures() const {
    QStringList out;
    for (const Entry& e : log)
      if (e.kind == "fail")
        out << (e.text.section('\n', 1).trimmed().isEmpty() ? "(no reason) " + e.text
                                                            : e.text.section('\n', 0, 0));
    return out;
  }
  // Questions (confirm and warn) asked, in order.
  QStringList Questions() const {
    QStringList out;
    for (const Entry& e : log)
      if (e.kind == "confirm" || e.kind == "warn") out << e.text;
    return out;
  }
  void Clear() {
    log.clear();
    dialogs.clear();
    beeps = 0;
  }
  // Everything scripted was used and nothing unscripted was asked.
  bool Settled() const {
    return unexpected.isEmpty() && answers.empty() && files.empty() && modals.empty();
  }

 private:
  bool Answer(const QString& text) {
    if (answers.empty()) {
      unexpected << text;
      return false;
    }
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  std::optional<QString> File(const FileDialogOptions& options) {
    dialogs.push_back(options);
    if (files.empty()) {
      unexpected << "file dialog " + options.filter;
      return std::nullopt;
    }
    const QString f = files.front();
    files.pop_front();
    if (f.isNull()) return std::nullopt;
    return f;
  }
};

// A modal answer that clicks the named button, which must be shown and
// enabled; -1 (neither accepted nor rejected) when it is not.
inline ScriptedUi::ModalAnswer Click(const QString& button) {
  return [button](QDialog& dialog) {
    auto* b = dialog.findChild<QAbstractButton*>(button);
    if (!b || !b->isVisibleTo(&dialog) || !b->isEnabled()) return -1;
    dialog.setResult(-1);
    b->click();
    return dialog.result();
  };
}

// A modal answer that looks at the form first, then clicks.
inline ScriptedUi::ModalAnswer Inspect(std::function<void(QDialog&)> look,
                                       const QString& button) {
  return [look = std::move(look), button](QDialog& dialog) {
    look(dialog);
    return Click(button)(dialog);
  };
}

}  // namespace travosk::testing
