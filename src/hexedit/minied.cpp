// TMiniEdForm: construction, menus, status bar, saving and closing.
#include "hexedit/minied.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "common/errors.h"

namespace travosk {

namespace {

const QString kAllFiles = QStringLiteral("All Files (*.*)|*.*");
constexpr std::array<int, 6> kPanelWidths = {120, 150, 30, 30, 38, 50};
constexpr size_t kSizePanel = 5;

// Items present in the menu but neither visible nor usable.
void Hide(QAction* action) {
  action->setVisible(false);
  action->setEnabled(false);
}

}  // namespace

TMiniEdForm::TMiniEdForm(QWidget* parent, THexPrompts* prompts) : QDialog(parent) {
  setObjectName(QStringLiteral("MiniEdForm"));
  setWindowTitle(QStringLiteral("Mini HexEditor"));
  SetPrompts(prompts);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  layout->setMenuBar(MainMenu1);
  HexEditor1 = new THexEditor(this);
  HexEditor1->setObjectName(QStringLiteral("HexEditor1"));
  HexEditor1->SetBytesPerLine(16);
  HexEditor1->SetBytesPerColumn(1);
  HexEditor1->SetOffsetDisplay(odHex);
  HexEditor1->SetOffsetSeparator(QStringLiteral(":"));
  HexEditor1->SetTranslation(ttAnsi);
  HexEditor1->SetMaskChar(QChar(0x2E));
  HexEditor1->SetAllowInsertMode(true);
  HexEditor1->SetFocusFrame(false);
  HexEditor1->SetBackupExtension(QStringLiteral(".bak"));
  HexEditor1->installEventFilter(this);
  layout->addWidget(HexEditor1, 1);
  BuildStatusBar();
  layout->addWidget(StatusBar1);
  BuildMenus();

  // Single border: the client area keeps its size below the menu bar.
  setFixedSize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  const QStringList args = QCoreApplication::arguments();
  if (args.size() > 1) startupFile_ = args.at(1);

  connect(HexEditor1, &THexEditor::OnStateChanged, this, &TMiniEdForm::HexEditor1StateChanged);
  connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
          &TMiniEdForm::UpdateMenuStates);
  HexEditor1->NewFile();
  PasteText1->setEnabled(false);
}

TMiniEdForm::~TMiniEdForm() = default;

void TMiniEdForm::SetPrompts(THexPrompts* prompts) {
  if (prompts != nullptr) {
    prompts_ = prompts;
    return;
  }
  if (!ownPrompts_) ownPrompts_ = std::make_unique<THexQtPrompts>();
  prompts_ = ownPrompts_.get();
}

QPrinter& TMiniEdForm::Printer() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *printer_;
}

void TMiniEdForm::BuildStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  for (size_t i = 0; i < panels_.size(); ++i) {
    panels_[i] = new QLabel(StatusBar1);
    panels_[i]->setFixedWidth(kPanelWidths[i]);
    StatusBar1->addWidget(panels_[i]);
  }
  // The byte count is a 64-bit number, and its design width holds only a few
  // digits: the size panel grows to hold the largest count there is.
  QLabel* size = panels_[kSizePanel];
  const QString largest = QStringLiteral("Size : %1").arg(std::numeric_limits<int64_t>::max());
  const QMargins m = size->contentsMargins();
  size->setFixedWidth(std::max(kPanelWidths[kSizePanel],
                               size->fontMetrics().horizontalAdvance(largest) + m.left() +
                                   m.right() + 2 * size->margin() + 2 * size->frameWidth()));
}

QString TMiniEdForm::StatusText(int panel) const {
  return panel >= 0 && panel < static_cast<int>(panels_.size())
             ? panels_[static_cast<size_t>(panel)]->text()
             : QString();
}

void TMiniEdForm::BuildMenus() {
  // Every item is also the form's own action, so its shortcut works while its
  // menu is closed or hidden.
  const auto item = [this](QMenu* menu, const QString& caption, const QKeySequence& key,
                           void (TMiniEdForm::*handler)()) {
    QAction* action = menu->addAction(caption);
    if (!key.isEmpty()) action->setShortcut(key);
    if (handler != nullptr) connect(action, &QAction::triggered, this, handler);
    addAction(action);
    return action;
  };
  File1 = MainMenu1->addMenu(QStringLiteral("&File"));
  New1 = item(File1, QStringLiteral("&New"), {}, &TMiniEdForm::New1Click);
  Open1 = item(File1, QStringLiteral("&Open..."), {}, &TMiniEdForm::Open1Click);
  Save1 = item(File1, QStringLiteral("&Save"), {}, &TMiniEdForm::Save1Click);
  Saveas1 = File1->addMenu(QStringLiteral("Save &as"));
  Anyfile1 = item(Saveas1, QStringLiteral("Any file..."), {}, &TMiniEdForm::Anyfile1Click);
  Hextext1 = item(Saveas1, QStringLiteral("Hex text..."), {}, &TMiniEdForm::Hextext1Click);
  ImportfromHexText1 = item(File1, QStringLiteral("Import from Hex Text..."), {},
                            &TMiniEdForm::ImportfromHexText1Click);
  File1->addSeparator();
  Printlayout1 = File1->addMenu(QStringLiteral("Print layout"));
  auto* layouts = new QActionGroup(this);
  const std::array<QString, 3> layoutNames = {QStringLiteral("Hex"), QStringLiteral("Decimal"),
                                              QStringLiteral("Octal")};
  std::array<QAction*, 3> layoutItems{};
  for (int i = 0; i < 3; ++i) {
    QAction* a = item(Printlayout1, layoutNames[static_cast<size_t>(i)], {}, nullptr);
    a->setCheckable(true);
    layouts->addAction(a);
    connect(a, &QAction::triggered, this, [this, i] { PrintLayout = i; });
    layoutItems[static_cast<size_t>(i)] = a;
  }
  LayoutHex1 = layoutItems[0];
  LayoutDecimal1 = layoutItems[1];
  LayoutOctal1 = layoutItems[2];
  Printpreview1 =
      item(File1, QStringLiteral("Print preview"), {}, &TMiniEdForm::Printpreview1Click);
  Printsetup1 = item(File1, QStringLiteral("Print setup"), {}, &TMiniEdForm::Printsetup1Click);
  Print1 = item(File1, QStringLiteral("Print"), QKeySequence(QStringLiteral("Ctrl+P")),
                &TMiniEdForm::Print1Click);
  File1->addSeparator();
  Exit1 = item(File1, QStringLiteral("&Exit"), {}, &TMiniEdForm::Exit1Click);
  Hide(New1);
  Hide(Open1);
  Hide(ImportfromHexText1);

  Edit1 = MainMenu1->addMenu(QStringLiteral("&Edit"));
  Undo1 = item(Edit1, QStringLiteral("Undo"), QKeySequence(QStringLiteral("Ctrl+Z")),
               &TMiniEdForm::Undo1Click);
  Edit1->addSeparator();
  Cut1 = item(Edit1, QStringLiteral("Cut"), QKeySequence(QStringLiteral("Ctrl+X")),
              &TMiniEdForm::Cut1Click);
  Copy1 = item(Edit1, QStringLiteral("Copy"), QKeySequence(QStringLiteral("Ctrl+C")),
               &TMiniEdForm::Copy1Click);
  Paste1 = item(Edit1, QStringLiteral("Paste"), QKeySequence(QStringLiteral("Ctrl+V")),
                &TMiniEdForm::Paste1Click);
  PasteText1 = item(Edit1, QStringLiteral("Paste Text"),
                    QKeySequence(QStringLiteral("Ctrl+Shift+V")), &TMiniEdForm::PasteText1Click);
  Edit1->addSeparator();
  Goto1 = item(Edit1, QStringLiteral("Goto..."), QKeySequence(QStringLiteral("Ctrl+G")),
               &TMiniEdForm::Goto1Click);
  Jump1 = Edit1->addMenu(QStringLiteral("Jump"));
  Amount1 =
      item(Jump1, QStringLiteral("Amount : %1").arg(JumpAmount), {}, &TMiniEdForm::Amount1Click);
  Jumpforward1 = item(Jump1, QStringLiteral("Jump forward"), QKeySequence(QStringLiteral("Ctrl+J")),
                      &TMiniEdForm::Jumpforward1Click);
  Jumpbackward1 =
      item(Jump1, QStringLiteral("Jump backward"), QKeySequence(QStringLiteral("Ctrl+Shift+J")),
           &TMiniEdForm::Jumpbackward1Click);
  Hide(Jump1->menuAction());
  Edit1->addSeparator();
  Find1 = item(Edit1, QStringLiteral("Find "), QKeySequence(QStringLiteral("Ctrl+F")),
               &TMiniEdForm::Find1Click);
  FindNext1 = item(Edit1, QStringLiteral("Find Next"), QKeySequence(Qt::Key_F3),
                   &TMiniEdForm::FindNext1Click);

  BuildViewMenu();
  connect(File1, &QMenu::aboutToShow, this, &TMiniEdForm::File1Popup);
  connect(Edit1, &QMenu::aboutToShow, this, &TMiniEdForm::Edit1Popup);
  connect(View1, &QMenu::aboutToShow, this, &TMiniEdForm::View1Popup);
}

// ---- state ----------------------------------------------------------------

void TMiniEdForm::HexEditor1StateChanged() {
  THexEditor& ed = *HexEditor1;
  panels_[0]->setText(QStringLiteral("Pos : %1").arg(ed.CaretPosition()));
  panels_[1]->setText(
      ed.SelectionLength() > 0
          ? QStringLiteral("Sel : %1 - %2").arg(ed.SelectionLow()).arg(ed.SelectionHigh())
          : QString());
  panels_[2]->setText(ed.Modified() ? QStringLiteral("*") : QString());
  panels_[3]->setText(ed.ReadOnly() ? QStringLiteral("R") : QString());
  panels_[4]->setText(ed.InsertMode() ? QStringLiteral("INS") : QStringLiteral("OVW"));
  panels_[5]->setText(QStringLiteral("Size : %1").arg(ed.ByteCount()));
  UpdateMenuStates();
}

void TMiniEdForm::UpdateMenuStates() {
  // Kept current all the time, not only when a menu opens, so that shortcuts
  // see the same states as the menus.
  File1Popup();
  Edit1Popup();
}

void TMiniEdForm::File1Popup() {
  const bool hasData = HexEditor1->ByteCount() > 0;
  Save1->setEnabled(HexEditor1->Modified() && !HexEditor1->ReadOnly());
  Saveas1->menuAction()->setEnabled(hasData);
  Anyfile1->setEnabled(hasData);
  Hextext1->setEnabled(hasData);
  Printpreview1->setEnabled(hasData);
  Print1->setEnabled(hasData);
}

void TMiniEdForm::Edit1Popup() {
  const bool hasData = HexEditor1->ByteCount() > 0;
  const bool selected = HexEditor1->SelectionLength() > 0;
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  const bool clipText = mime != nullptr && mime->hasText();
  Undo1->setEnabled(HexEditor1->UndoAvailable());
  Undo1->setText(QStringLiteral("Undo : ") + HexEditor1->UndoText());
  Cut1->setEnabled(selected);
  Copy1->setEnabled(selected);
  Paste1->setEnabled(clipText);
  PasteText1->setEnabled(clipText);
  Goto1->setEnabled(hasData);
  Find1->setEnabled(hasData);
  FindNext1->setEnabled(hasData);
}

// ---- saving and closing ---------------------------------------------------

void TMiniEdForm::CannotSave(const QString& name) {
  prompts_->ShowError(this, QString(), QStringLiteral("Cannot save file\r\n") + name);
}

bool TMiniEdForm::SaveTo(const QString& name) {
  if (HexEditor1->SaveToTarget(name)) return true;
  CannotSave(name);
  return false;
}

bool TMiniEdForm::SaveDocument() {
  const QString name = HexEditor1->FileName();
  bool saved = false;
  if (QFileInfo::exists(name) && !HexEditor1->ReadOnly()) {
    saved = SaveTo(name);
  } else if (const auto chosen =
                 prompts_->SaveFileName(this, QStringLiteral("Save as"), kAllFiles, name)) {
    saved = SaveTo(*chosen);
  }
  // The caller writes the file back whenever the user asked to save.
  SaveRequested = 1;
  return saved;
}

void TMiniEdForm::Save1Click() {
  (void)SaveDocument();
}

void TMiniEdForm::Anyfile1Click() {
  if (const auto chosen = prompts_->SaveFileName(this, QStringLiteral("Save as"), kAllFiles,
                                                 HexEditor1->FileName())) {
    (void)SaveTo(*chosen);
  }
}

void TMiniEdForm::Hextext1Click() {
  const auto chosen =
      prompts_->SaveFileName(this, QStringLiteral("Save as"), kAllFiles, HexEditor1->FileName());
  if (!chosen) return;
  const QByteArray text = HexEditor1->ToHexText().toLatin1();
  QString reason;
  const bool written = WriteFileAtomically(
      *chosen,
      [&](int fd, QString* why) {
        return WriteAll(fd, reinterpret_cast<const uint8_t*>(text.constData()), text.size(), why);
      },
      &reason);
  if (!written) CannotSave(*chosen);
}

bool TMiniEdForm::CanClose() {
  if (!HexEditor1->Modified()) return true;
  const QString name = HexEditor1->FileName();
  const QString shown = QFileInfo::exists(name) ? name : QStringLiteral("Unnamed File");
  switch (prompts_->AskYesNoCancel(
      this, QStringLiteral("Save changes to\r\n") + shown + QStringLiteral(" ?"))) {
    case THexPrompts::Answer::Yes:
      return SaveDocument();
    case THexPrompts::Answer::No:
      return true;
    case THexPrompts::Answer::Cancel:
      break;
  }
  return false;
}

void TMiniEdForm::closeEvent(QCloseEvent* event) {
  if (!CanClose()) {
    event->ignore();
    return;
  }
  event->accept();
  QDialog::done(QDialog::Rejected);
}

void TMiniEdForm::reject() {
  if (CanClose()) QDialog::done(QDialog::Rejected);
}

void TMiniEdForm::Exit1Click() {
  close();
}

void TMiniEdForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!activated_) FormActivate();
}

void TMiniEdForm::FormActivate() {
  if (activated_) return;
  activated_ = true;
  // Only a window still without a file takes the command line's: a file the
  // caller opened for this edit is never replaced behind its back.
  if (startupFile_.isEmpty() || !HexEditor1->WorkingCopyPath().isEmpty()) return;
  if (!QFileInfo(startupFile_).isFile()) return;
  try {
    HexEditor1->OpenForEditing(startupFile_);
  } catch (const InOutError& e) {
    prompts_->ShowError(this, QString(), QString::fromLocal8Bit(e.what()));
  }
}

bool TMiniEdForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == HexEditor1 && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_A && key->modifiers() == Qt::ControlModifier) {
      const uint8_t ff = 0xFF;
      HexEditor1->AppendBytes(&ff, 1);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace travosk
