// TMiniEdForm: the Edit and View menus and the hidden File items.
#include <QAction>
#include <QActionGroup>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>

#include "common/errors.h"
#include "hexedit/minied.h"

namespace travosk {

namespace {

const QString kAllFiles = QStringLiteral("All Files (*.*)|*.*");

std::span<const uint8_t> AsBytes(const QByteArray& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())};
}

}  // namespace

int64_t ParsePosition(const QString& text) {
  const QString t = text.trimmed();
  bool ok = false;
  int64_t value = -1;
  if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    value = t.mid(2).toLongLong(&ok, 16);
  } else if (t.startsWith(QLatin1Char('$'))) {
    value = t.mid(1).toLongLong(&ok, 16);
  } else {
    value = t.toLongLong(&ok, 10);
  }
  return ok ? value : -1;
}

// ---- hidden File items ----------------------------------------------------

void TMiniEdForm::New1Click() {
  if (CanClose()) HexEditor1->NewFile();
}

void TMiniEdForm::Open1Click() {
  if (!CanClose()) return;
  const auto chosen = prompts_->OpenFileName(this, QStringLiteral("Open file"), kAllFiles);
  if (!chosen) return;
  try {
    HexEditor1->OpenForEditing(*chosen);
  } catch (const InOutError& e) {
    prompts_->ShowError(this, QString(), QString::fromLocal8Bit(e.what()));
  }
}

void TMiniEdForm::ImportfromHexText1Click() {
  const auto chosen = prompts_->OpenFileName(this, QStringLiteral("Open file"), kAllFiles);
  if (!chosen) return;
  QFile file(*chosen);
  if (!file.open(QIODevice::ReadOnly)) {
    prompts_->ShowError(this, QString(), file.errorString() + QStringLiteral(": ") + *chosen);
    return;
  }
  HexEditor1->LoadHexText(QString::fromLatin1(file.readAll()));
}

// ---- Edit -------------------------------------------------------------------

void TMiniEdForm::Undo1Click() {
  HexEditor1->UndoLast();
}

void TMiniEdForm::Copy1Click() {
  if (HexEditor1->SelectionLength() == 0) return;
  QGuiApplication::clipboard()->setText(
      BytesToHexText(AsBytes(HexEditor1->CopySelection()), false));
}

void TMiniEdForm::Cut1Click() {
  if (HexEditor1->SelectionLength() == 0) return;
  Copy1Click();
  HexEditor1->DeleteSelected();
}

void TMiniEdForm::Paste1Click() {
  const QString text = QGuiApplication::clipboard()->text();
  if (text.isEmpty()) return;
  const QByteArray bytes = HexTextToBytes(text, false);
  HexEditor1->ReplaceSelectionWith(AsBytes(bytes).data(), bytes.size());
}

void TMiniEdForm::PasteText1Click() {
  const QString text = QGuiApplication::clipboard()->text();
  QByteArray bytes;
  bytes.reserve(text.size());
  for (const QChar c : text) {
    const int b = CharToByte(ttAnsi, c);
    bytes.append(static_cast<char>(b >= 0 ? b : '?'));
  }
  if (!bytes.isEmpty()) HexEditor1->ReplaceSelectionWith(AsBytes(bytes).data(), bytes.size());
}

void TMiniEdForm::Goto1Click() {
  if (HexEditor1->ByteCount() == 0) return;
  const auto text = prompts_->InputText(this, QStringLiteral("Goto file position..."),
                                        QStringLiteral("(prefix \"0x\" or \"$\" means hex)"),
                                        QString::number(HexEditor1->CaretPosition()));
  if (!text) return;
  if (!HexEditor1->MoveCaret(ParsePosition(*text), 0, true)) {
    prompts_->ShowError(this, QString(), QStringLiteral("Invalid position"));
  }
}

void TMiniEdForm::Amount1Click() {
  const auto text =
      prompts_->InputText(this, QStringLiteral("Jump amount"), QStringLiteral("Enter new value:"),
                          QString::number(JumpAmount));
  if (!text) return;
  bool ok = false;
  const int value = text->trimmed().toInt(&ok);
  if (ok) JumpAmount = value;
  Amount1->setText(QStringLiteral("Amount : %1").arg(JumpAmount));
}

void TMiniEdForm::Jumpforward1Click() {
  (void)HexEditor1->MoveCaret(JumpAmount, 1, false);
}

void TMiniEdForm::Jumpbackward1Click() {
  (void)HexEditor1->MoveCaret(-static_cast<int64_t>(JumpAmount), 1, false);
}

void TMiniEdForm::FindFrom(int64_t first) {
  QByteArray pattern = findPattern_;
  const int64_t found = HexEditor1->FindBytes(pattern, pattern.size(), false, findIgnoreCase_,
                                              HexEditor1->ByteCount() - 1, first);
  if (found < 0) {
    prompts_->ShowInfo(this, QStringLiteral("Data not found."));
    return;
  }
  findPos_ = found;
  // Selected from its end back to its start: the caret shows the match's
  // first byte and the selection ends where the match begins.
  HexEditor1->Select(found + pattern.size() - 1, found);
}

void TMiniEdForm::Find1Click() {
  if (HexEditor1->ByteCount() == 0) return;
  const auto text = prompts_->InputText(
      this, QStringLiteral("Find Data"),
      QStringLiteral("\"t..\" ascii, \"T..\" + ignore case, else search hex"), findText_);
  if (!text || text->isEmpty()) return;
  findText_ = *text;
  const QChar lead = text->at(0);
  QByteArray pattern;
  bool isText = false;
  bool ignoreCase = false;
  if (lead == QLatin1Char('t') || lead == QLatin1Char('T')) {
    isText = true;
    ignoreCase = lead == QLatin1Char('T');
    for (const QChar c : text->mid(1)) {
      const int b = CharToByte(ttAnsi, c);
      pattern.append(static_cast<char>(b >= 0 ? b : '?'));
    }
  } else {
    pattern = FindHexToBytes(*text);
  }
  if (pattern.isEmpty()) return;
  findPos_ = -1;
  findIgnoreCase_ = ignoreCase;
  const int64_t found =
      HexEditor1->FindBytes(pattern, pattern.size(), isText, ignoreCase,
                            HexEditor1->ByteCount() - 1, HexEditor1->CaretPosition());
  // Kept as searched: translated and, for "T", lower-cased.
  findPattern_ = pattern;
  if (found < 0) {
    prompts_->ShowInfo(this, QStringLiteral("Data not found."));
    return;
  }
  findPos_ = found;
  HexEditor1->Select(found + pattern.size() - 1, found);
}

void TMiniEdForm::FindNext1Click() {
  if (HexEditor1->ByteCount() == 0) return;
  if (findText_.isEmpty() || findPattern_.isEmpty()) {
    Find1Click();
    return;
  }
  int64_t first = std::max<int64_t>(findPos_, 0);
  if (HexEditor1->SelectionLength() > 0 && HexEditor1->SelectionEnd() == findPos_) ++first;
  FindFrom(first);
}

// ---- View -------------------------------------------------------------------

void TMiniEdForm::BuildViewMenu() {
  View1 = MainMenu1->addMenu(QStringLiteral("&View"));
  const auto group = [this](QMenu* menu, const QStringList& captions, auto apply) {
    auto* actions = new QActionGroup(this);
    std::vector<QAction*> items;
    for (qsizetype i = 0; i < captions.size(); ++i) {
      QAction* a = menu->addAction(captions[i]);
      a->setCheckable(true);
      actions->addAction(a);
      connect(a, &QAction::triggered, this, [apply, i] { apply(static_cast<int>(i)); });
      items.push_back(a);
    }
    return items;
  };
  const auto copy = [](const std::vector<QAction*>& from, auto& to) {
    std::copy(from.begin(), from.begin() + static_cast<ptrdiff_t>(to.size()), to.begin());
  };
  THexEditor* ed = HexEditor1;
  copy(group(View1->addMenu(QStringLiteral("Line size")),
             {QStringLiteral("16 Bytes per line"), QStringLiteral("32 Bytes per line"),
              QStringLiteral("64 Bytes per line")},
             [ed](int i) { ed->SetBytesPerLine(16 << i); }),
       LineSize);
  copy(group(View1->addMenu(QStringLiteral("Column width")),
             {QStringLiteral("1 Byte per column"), QStringLiteral("2 Bytes per column"),
              QStringLiteral("4 Bytes per column")},
             [ed](int i) { ed->SetBytesPerColumn(1 << i); }),
       ColumnWidth);
  QMenu* caret = View1->addMenu(QStringLiteral("Caret style"));
  copy(group(caret,
             {QStringLiteral("Full block"), QStringLiteral("Left line"),
              QStringLiteral("Bottom line")},
             [ed](int i) { ed->SetCaretStyle(static_cast<TCaretStyle>(i)); }),
       CaretStyles);
  CaretAuto1 = caret->addAction(QStringLiteral("Auto"));
  CaretAuto1->setCheckable(true);
  connect(CaretAuto1, &QAction::triggered, this,
          [ed] { ed->SetAutoCaretMode(!ed->AutoCaretMode()); });
  copy(group(View1->addMenu(QStringLiteral("Offset display")),
             {QStringLiteral("Hex"), QStringLiteral("Dec"), QStringLiteral("Octal"),
              QStringLiteral("None")},
             [ed](int i) { ed->SetOffsetDisplay(static_cast<TOffsetDisplay>(i)); }),
       OffsetDisplays);
  Translation1 = View1->addMenu(QStringLiteral("Translation"));
  // Menu order differs from the enumeration's.
  static constexpr std::array<TTranslation, 5> kOrder = {ttAnsi, ttASCII, ttDos8, ttMac, ttEBCDIC};
  copy(group(Translation1,
             {QStringLiteral("Ansi"), QStringLiteral("ASCII 7 Bit"), QStringLiteral("DOS 8 Bit"),
              QStringLiteral("Mac"), QStringLiteral("IBM EBCDIC CP 38")},
             [ed](int i) { ed->SetTranslation(kOrder[static_cast<size_t>(i)]); }),
       Translations);
  Translation1->menuAction()->setVisible(false);
  Translation1->menuAction()->setEnabled(false);
  const auto toggle = [this](const QString& caption, auto apply) {
    QAction* a = View1->addAction(caption);
    a->setCheckable(true);
    connect(a, &QAction::triggered, this, apply);
    return a;
  };
  Grid1 = toggle(QStringLiteral("Grid"),
                 [ed] { ed->SetGridLineWidth(ed->GridLineWidth() == 0 ? 1 : 0); });
  Showmarkers1 = toggle(QStringLiteral("Show markers"),
                        [ed] { ed->SetShowMarkerColumn(!ed->ShowMarkerColumn()); });
  Showmarkers1->setVisible(false);
  Showmarkers1->setEnabled(false);
  SwapNibbles1 =
      toggle(QStringLiteral("Swap Nibbles"), [ed] { ed->SetSwapNibbles(!ed->SwapNibbles()); });
  MaskWhitespaces1 = toggle(QStringLiteral("Mask Whitespaces"),
                            [ed] { ed->SetMaskWhiteSpaces(!ed->MaskWhiteSpaces()); });
  FixedFileSize1 =
      toggle(QStringLiteral("Fixed File size"), [ed] { ed->SetNoSizeChange(!ed->NoSizeChange()); });
  View1Popup();
}

void TMiniEdForm::View1Popup() {
  const THexEditor& ed = *HexEditor1;
  for (size_t i = 0; i < LineSize.size(); ++i)
    LineSize[i]->setChecked(ed.BytesPerLine() == (16 << i));
  for (size_t i = 0; i < ColumnWidth.size(); ++i)
    ColumnWidth[i]->setChecked(ed.BytesPerColumn() == (1 << i));
  for (size_t i = 0; i < CaretStyles.size(); ++i)
    CaretStyles[i]->setChecked(ed.CaretStyle() == static_cast<int>(i));
  CaretAuto1->setChecked(ed.AutoCaretMode());
  for (size_t i = 0; i < OffsetDisplays.size(); ++i) {
    OffsetDisplays[i]->setChecked(ed.OffsetDisplay() == static_cast<int>(i));
  }
  static constexpr std::array<TTranslation, 5> kOrder = {ttAnsi, ttASCII, ttDos8, ttMac, ttEBCDIC};
  for (size_t i = 0; i < Translations.size(); ++i)
    Translations[i]->setChecked(ed.Translation() == kOrder[i]);
  Grid1->setChecked(ed.GridLineWidth() != 0);
  Showmarkers1->setChecked(ed.ShowMarkerColumn());
  SwapNibbles1->setChecked(ed.SwapNibbles());
  MaskWhitespaces1->setChecked(ed.MaskWhiteSpaces());
  FixedFileSize1->setChecked(ed.NoSizeChange());
}

}  // namespace travosk
