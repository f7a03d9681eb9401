// The hex editor window driven through its menus and handlers, with every
// question, input box and file dialog answered by a scripted prompter.
#include "hexedit/minied.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <limits>
#include <optional>

#include "hexedit/preview.h"

using namespace travosk;

namespace {

class ScriptedPrompts : public THexPrompts {
 public:
  std::deque<Answer> answers;
  // A null string answers like the Cancel button.
  std::deque<QString> inputs;
  std::deque<QString> fileNames;
  QStringList log;

  Answer AskYesNoCancel(QWidget*, const QString& text) override {
    log << "ask:" + text;
    if (answers.empty()) return Answer::Cancel;
    const Answer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowError(QWidget*, const QString& caption, const QString& text) override {
    log << "error:" + caption + "|" + text;
  }
  void ShowInfo(QWidget*, const QString& text) override { log << "info:" + text; }
  std::optional<QString> InputText(QWidget*, const QString& title, const QString& prompt,
                                   const QString& initial) override {
    log << "input:" + title + "|" + prompt + "|" + initial;
    return TakeText(inputs);
  }
  std::optional<QString> SaveFileName(QWidget*, const QString& title, const QString& filter,
                                      const QString&) override {
    log << "save:" + title + "|" + filter;
    return TakeText(fileNames);
  }
  std::optional<QString> OpenFileName(QWidget*, const QString& title, const QString&) override {
    log << "open:" + title;
    return TakeText(fileNames);
  }
  bool SetupPrinter(QWidget*, QPrinter&) override {
    log << "printer setup";
    return false;
  }

 private:
  static std::optional<QString> TakeText(std::deque<QString>& queue) {
    if (queue.empty()) return std::nullopt;
    const QString value = queue.front();
    queue.pop_front();
    if (value.isNull()) return std::nullopt;
    return value;
  }
};

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

QByteArray Contents(const THexEditor& ed) {
  const std::vector<uint8_t> all = ed.BufferFromFile(0, ed.ByteCount());
  return QByteArray(reinterpret_cast<const char*>(all.data()), static_cast<qsizetype>(all.size()));
}

QStringList Captions(const QMenu* menu) {
  QStringList out;
  for (const QAction* a : menu->actions()) {
    if (!a->isSeparator()) out << a->text();
  }
  return out;
}

}  // namespace

class MiniEdTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir temp_;
  ScriptedPrompts prompts_;
  std::unique_ptr<TMiniEdForm> form_;

  QString Path(const QString& name) const { return temp_.filePath(name); }
  THexEditor& Ed() { return *form_->HexEditor1; }

  void Open(const QString& name, const QByteArray& bytes) {
    WriteFile(Path(name), bytes);
    Ed().OpenForEditing(Path(name));
  }

 private slots:
  void initTestCase() {
    QVERIFY(temp_.isValid());
    qputenv("TMPDIR", temp_.path().toLocal8Bit());
  }

  void init() {
    prompts_ = ScriptedPrompts();
    form_ = std::make_unique<TMiniEdForm>(nullptr, &prompts_);
  }

  void cleanup() {
    QCOMPARE(prompts_.answers.size() + prompts_.inputs.size() + prompts_.fileNames.size(),
             size_t{0});
    form_.reset();
  }

  void windowHasItsControlsAndMenus() {
    TMiniEdForm& f = *form_;
    QCOMPARE(f.windowTitle(), QStringLiteral("Mini HexEditor"));
    QCOMPARE(f.width(), 680);
    QCOMPARE(f.height() - f.MainMenu1->sizeHint().height(), 487);
    QCOMPARE(f.HexEditor1->objectName(), QStringLiteral("HexEditor1"));
    QCOMPARE(f.StatusBar1->objectName(), QStringLiteral("StatusBar1"));
    QList<int> widths;
    for (const QLabel* l : f.StatusBar1->findChildren<QLabel*>()) widths << l->width();
    // The size panel grows from its design width of 50 to hold any byte count.
    QCOMPARE(widths.mid(0, 5), (QList<int>{120, 150, 30, 30, 38}));
    QVERIFY(widths.size() == 6 && widths[5] >= 50);
    QCOMPARE(Captions(f.File1),
             (QStringList{"&New", "&Open...", "&Save", "Save &as", "Import from Hex Text...",
                          "Print layout", "Print preview", "Print setup", "Print", "&Exit"}));
    QCOMPARE(Captions(f.Saveas1), (QStringList{"Any file...", "Hex text..."}));
    QCOMPARE(Captions(f.Printlayout1), (QStringList{"Hex", "Decimal", "Octal"}));
    QCOMPARE(Captions(f.Edit1), (QStringList{"Undo : No Undo", "Cut", "Copy", "Paste", "Paste Text",
                                             "Goto...", "Jump", "Find ", "Find Next"}));
    QCOMPARE(Captions(f.Jump1), (QStringList{"Amount : 4000", "Jump forward", "Jump backward"}));
    QCOMPARE(f.Print1->shortcut(), QKeySequence("Ctrl+P"));
    QCOMPARE(f.Undo1->shortcut(), QKeySequence("Ctrl+Z"));
    QCOMPARE(f.PasteText1->shortcut(), QKeySequence("Ctrl+Shift+V"));
    QCOMPARE(f.Goto1->shortcut(), QKeySequence("Ctrl+G"));
    QCOMPARE(f.Jumpforward1->shortcut(), QKeySequence("Ctrl+J"));
    QCOMPARE(f.Jumpbackward1->shortcut(), QKeySequence("Ctrl+Shift+J"));
    QCOMPARE(f.Find1->shortcut(), QKeySequence("Ctrl+F"));
    QCOMPARE(f.FindNext1->shortcut(), QKeySequence(Qt::Key_F3));
    for (QAction* hidden : {f.New1, f.Open1, f.ImportfromHexText1, f.Jump1->menuAction(),
                            f.Translation1->menuAction(), f.Showmarkers1}) {
      QVERIFY2(!hidden->isVisible() && !hidden->isEnabled(), qPrintable(hidden->text()));
    }
    QVERIFY(!f.PasteText1->isEnabled());
    QVERIFY(f.MaskWhitespaces1->isChecked());
    QVERIFY(f.LineSize[0]->isChecked());
    QCOMPARE(f.JumpAmount, 4000);
    QCOMPARE(f.SaveRequested, uint8_t{0});
  }

  void statusBarAndMenusFollowTheGrid() {
    Open("status.bin", QByteArray(40, 'a'));
    TMiniEdForm& f = *form_;
    QCOMPARE(f.StatusText(0), QStringLiteral("Pos : 0"));
    QCOMPARE(f.StatusText(1), QString());
    QCOMPARE(f.StatusText(4), QStringLiteral("OVW"));
    QCOMPARE(f.StatusText(5), QStringLiteral("Size : 40"));
    // The size panel holds the largest byte count whole.
    QLabel* size = f.StatusBar1->findChildren<QLabel*>().at(5);
    QVERIFY(size->fontMetrics().horizontalAdvance(
                QStringLiteral("Size : %1").arg(std::numeric_limits<int64_t>::max())) <=
            size->contentsRect().width());
    QVERIFY(!f.Save1->isEnabled());
    QCOMPARE(f.Undo1->text(), QStringLiteral("Undo : No Undo"));
    Ed().Select(5, 2);
    QCOMPARE(f.StatusText(1), QStringLiteral("Sel : 2 - 5"));
    QVERIFY(f.Copy1->isEnabled());
    const uint8_t b = 0x42;
    Ed().ReplaceSelectionWith(&b, 1);
    QCOMPARE(f.StatusText(2), QStringLiteral("*"));
    QCOMPARE(f.StatusText(5), QStringLiteral("Size : 37"));
    QVERIFY(f.Save1->isEnabled());
    QCOMPARE(f.Undo1->text(), QStringLiteral("Undo : Replace selection"));
    Ed().SetInsertMode(true);
    QCOMPARE(f.StatusText(4), QStringLiteral("INS"));
    f.LineSize[2]->trigger();
    QCOMPARE(Ed().BytesPerLine(), 64);
    f.OffsetDisplays[2]->trigger();
    QCOMPARE(Ed().OffsetDisplay(), odOctal);
    f.SwapNibbles1->trigger();
    QVERIFY(Ed().SwapNibbles());
    f.Grid1->trigger();
    QCOMPARE(Ed().GridLineWidth(), 1);
    f.FixedFileSize1->trigger();
    QVERIFY(Ed().NoSizeChange());
    f.View1Popup();
    QVERIFY(f.LineSize[2]->isChecked() && f.SwapNibbles1->isChecked() &&
            f.FixedFileSize1->isChecked());
  }

  void gotoReadsHexAndDecimal() {
    Open("goto.bin", QByteArray(64, 'g'));
    for (const QString& text : {QStringLiteral("0x1F"), QStringLiteral("0X1f"),
                                QStringLiteral("$1F"), QStringLiteral("31")}) {
      QVERIFY(Ed().MoveCaret(0, 0, true));
      prompts_.inputs.push_back(text);
      form_->Goto1Click();
      QCOMPARE(Ed().CaretPosition(), 31);
    }
    QCOMPARE(prompts_.log.last(),
             QStringLiteral("input:Goto file position...|(prefix \"0x\" or \"$\" means hex)|0"));
    prompts_.inputs.push_back(QStringLiteral("abc"));
    form_->Goto1Click();
    QCOMPARE(prompts_.log.last(), QStringLiteral("error:|Invalid position"));
    prompts_.inputs.push_back(QStringLiteral("64"));
    form_->Goto1Click();
    QCOMPARE(prompts_.log.last(), QStringLiteral("error:|Invalid position"));
    QCOMPARE(Ed().CaretPosition(), 31);
    QCOMPARE(prompts_.log.filter("input:").last().section('|', 2), QStringLiteral("31"));
  }

  void findTextHexAndNext() {
    Open("find.bin", QByteArray("..abc..ABC..abc\x04\x14.", 18));
    prompts_.inputs.push_back(QStringLiteral("tABC"));
    form_->Find1Click();
    QCOMPARE(
        prompts_.log.last(),
        QStringLiteral("input:Find Data|\"t..\" ascii, \"T..\" + ignore case, else search hex|"));
    QCOMPARE(Ed().SelectionLow(), 7);
    QCOMPARE(Ed().SelectionHigh(), 9);
    QVERIFY(Ed().MoveCaret(0, 0, true));
    prompts_.inputs.push_back(QStringLiteral("TABC"));
    form_->Find1Click();
    QCOMPARE(prompts_.log.last().section('|', 2), QStringLiteral("tABC"));  // last text offered
    QCOMPARE(Ed().SelectionLow(), 2);
    form_->FindNext1Click();
    QCOMPARE(Ed().SelectionLow(), 7);
    form_->FindNext1Click();
    QCOMPARE(Ed().SelectionLow(), 12);
    form_->FindNext1Click();
    QCOMPARE(prompts_.log.last(), QStringLiteral("info:Data not found."));
    QVERIFY(Ed().MoveCaret(0, 0, true));
    prompts_.inputs.push_back(QStringLiteral("414"));
    form_->Find1Click();
    QCOMPARE(Ed().SelectionLow(), 15);
    QCOMPARE(Ed().SelectionLength(), 2);
    prompts_.inputs.push_back(QStringLiteral("tzz"));
    form_->Find1Click();
    QCOMPARE(prompts_.log.last(), QStringLiteral("info:Data not found."));
    const qsizetype before = prompts_.log.size();
    prompts_.inputs.push_back(QString());
    form_->Find1Click();
    QCOMPARE(prompts_.log.size(), before + 1);  // cancelled: the box only
  }

  void findNextWithoutATextAsksForOne() {
    Open("next.bin", "xyzxyz");
    prompts_.inputs.push_back(QStringLiteral("tyz"));
    form_->FindNext1Click();
    QVERIFY(prompts_.log.last().startsWith("input:Find Data"));
    QCOMPARE(Ed().SelectionLow(), 1);
  }

  void closeQuestionAnswers() {
    Open("close.bin", "abcd");
    const uint8_t b = 'Z';
    Ed().ReplaceSelectionWith(&b, 1);
    form_->show();
    prompts_.answers.push_back(THexPrompts::Answer::Cancel);
    form_->Exit1Click();
    QVERIFY(form_->isVisible());
    QCOMPARE(prompts_.log.last(), "ask:Save changes to\r\n" + Path("close.bin") + " ?");
    prompts_.answers.push_back(THexPrompts::Answer::No);
    QVERIFY(form_->close());
    QVERIFY(!form_->isVisible());
    QCOMPARE(form_->SaveRequested, uint8_t{0});
    QCOMPARE(ReadFile(Path("close.bin")), QByteArray("abcd"));

    form_->show();
    prompts_.answers.push_back(THexPrompts::Answer::Yes);
    form_->Exit1Click();
    QVERIFY(!form_->isVisible());
    QCOMPARE(form_->SaveRequested, uint8_t{1});
    QCOMPARE(ReadFile(Path("close.bin")), QByteArray("Zabcd"));
    QCOMPARE(ReadFile(Path("close.bak")), QByteArray("abcd"));
  }

  void closeQuestionNamesAnUnnamedFile() {
    Ed().NewFile();
    const uint8_t b = 1;
    Ed().AppendBytes(&b, 1);
    form_->show();
    prompts_.answers.push_back(THexPrompts::Answer::Yes);
    prompts_.fileNames.push_back(QString());  // the save dialog is cancelled
    form_->Exit1Click();
    QCOMPARE(prompts_.log.first(), QStringLiteral("ask:Save changes to\r\nUnnamed File ?"));
    QCOMPARE(prompts_.log.last(), QStringLiteral("save:Save as|All Files (*.*)|*.*"));
    QVERIFY(form_->isVisible());
    prompts_.answers.push_back(THexPrompts::Answer::No);
    form_->Exit1Click();
  }

  void savingAnUnchangedFileStillRequestsTheWriteBack() {
    Open("same.bin", "same");
    form_->Save1Click();
    QCOMPARE(form_->SaveRequested, uint8_t{1});
    QCOMPARE(ReadFile(Path("same.bin")), QByteArray("same"));
    QVERIFY(!QFile::exists(Path("same.bak")));
    QCOMPARE(prompts_.log, QStringList());
  }

  void aFailedSaveShowsTheNameAndKeepsTheEdits() {
    QVERIFY(QDir(temp_.path()).mkpath("gone"));
    Open("gone/file.bin", "12345");
    const uint8_t b = '0';
    Ed().ReplaceSelectionWith(&b, 1);
    QVERIFY(QDir(Path("gone")).removeRecursively());
    prompts_.fileNames.push_back(Path("gone/file.bin"));
    form_->Save1Click();
    QCOMPARE(prompts_.log.last(), "error:|Cannot save file\r\n" + Path("gone/file.bin"));
    QVERIFY(Ed().Modified());
    QCOMPARE(Contents(Ed()), QByteArray("012345"));
    QCOMPARE(Ed().UndoText(), QStringLiteral("Insert buffer"));
    QCOMPARE(form_->SaveRequested, uint8_t{1});
  }

  void saveAsAnyFileAndHexText() {
    Open("src.bin", QByteArray::fromHex("00A1FF"));
    prompts_.fileNames.push_back(Path("any.bin"));
    form_->Anyfile1Click();
    QCOMPARE(ReadFile(Path("any.bin")), QByteArray::fromHex("00A1FF"));
    QCOMPARE(Ed().FileName(), Path("any.bin"));
    prompts_.fileNames.push_back(Path("text.txt"));
    form_->Hextext1Click();
    QCOMPARE(ReadFile(Path("text.txt")), QByteArray("00A1FF"));
    prompts_.fileNames.push_back(Path("nowhere/text.txt"));
    form_->Hextext1Click();
    QCOMPARE(prompts_.log.last(), "error:|Cannot save file\r\n" + Path("nowhere/text.txt"));
    QCOMPARE(form_->SaveRequested, uint8_t{0});
  }

  void clipboardAndAppend() {
    Open("clip.bin", "ABCD");
    Ed().Select(1, 2);
    form_->Copy1Click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("4243"));
    form_->Cut1Click();
    QCOMPARE(Contents(Ed()), QByteArray("AD"));
    form_->Edit1Popup();
    QVERIFY(form_->Paste1->isEnabled() && form_->PasteText1->isEnabled());
    QGuiApplication::clipboard()->setText(QStringLiteral("0a Zb-E"));
    QVERIFY(Ed().MoveCaret(1, 0, true));
    form_->Paste1Click();
    QCOMPARE(Contents(Ed()), QByteArray("A\x0A\xBE"
                                        "D"));
    QCOMPARE(Ed().SelectionLength(), 2);
    QGuiApplication::clipboard()->setText(QStringLiteral("xy"));
    form_->PasteText1Click();
    QCOMPARE(Contents(Ed()), QByteArray("AxyD"));
    QTest::keyClick(form_->HexEditor1, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(Contents(Ed()), QByteArray("AxyD\xFF"));
    QCOMPARE(Ed().UndoText(), QStringLiteral("Append buffer"));
    form_->Undo1Click();
    QCOMPARE(Contents(Ed()), QByteArray("AxyD"));
  }

  void jumpsMoveByTheAmount() {
    Open("jump.bin", QByteArray(10000, 'j'));
    form_->Jumpforward1->trigger();
    QCOMPARE(Ed().CaretPosition(), 4000);
    form_->Jumpforward1Click();
    form_->Jumpforward1Click();
    QCOMPARE(Ed().CaretPosition(), 9999);
    form_->Jumpbackward1Click();
    QCOMPARE(Ed().CaretPosition(), 5999);
    prompts_.inputs.push_back(QStringLiteral("many"));
    form_->Amount1Click();
    QCOMPARE(prompts_.log.last(), QStringLiteral("input:Jump amount|Enter new value:|4000"));
    QCOMPARE(form_->JumpAmount, 4000);
    prompts_.inputs.push_back(QStringLiteral("100"));
    form_->Amount1Click();
    QCOMPARE(form_->JumpAmount, 100);
    QCOMPARE(form_->Amount1->text(), QStringLiteral("Amount : 100"));
    form_->Jumpbackward1Click();
    QCOMPARE(Ed().CaretPosition(), 5899);
  }

  void printingCoversEveryByte() {
    QByteArray data(5000, '\0');
    for (int i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
    Open("print.bin", data);
    QPrinter& printer = form_->Printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(Path("out.pdf"));
    form_->Print1Click();
    const int pages = form_->LastPrintedPages();
    QVERIFY(pages >= 2);
    const QByteArray pdf = ReadFile(Path("out.pdf"));
    QCOMPARE(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r"), pages);

    // The same layout page by page: each continues where the last stopped.
    THexToCanvas& canvas = form_->HexToCanvas1;
    canvas.TopMargin = canvas.BottomMargin = canvas.LeftMargin = canvas.RightMargin = 40;
    QImage page(800, 1000, QImage::Format_RGB32);
    int64_t pos = 0;
    int count = 0;
    while (pos < data.size()) {
      QPainter painter(&page);
      const int64_t next = canvas.PaintPage(painter, pos, QStringLiteral("Page"),
                                            QStringLiteral("head"), data.size() - 1);
      QVERIFY(next > pos);
      // Header line and page-text slot leave the rest for whole data lines.
      const int lh = canvas.LastLineHeight();
      const int lines = (page.height() - 2 * canvas.TopMargin - lh - lh) / lh;
      QCOMPARE(next, std::min<int64_t>(pos + int64_t{lines} * 16, data.size()));
      pos = next;
      ++count;
    }
    QCOMPARE(pos, data.size());
    QPainter painter(&page);
    QCOMPARE(canvas.PaintPage(painter, data.size(), QString(), QString(), data.size() + 10),
             data.size());
    canvas.HexEditor = nullptr;
    QCOMPARE(canvas.PaintPage(painter, 0, QString(), QString(), 10),
             std::numeric_limits<int64_t>::max());
  }

  void canvasLinesFollowTheLayout() {
    Open("line.bin", "AB\x01");
    THexToCanvas& c = form_->HexToCanvas1;
    c.HexEditor = form_->HexEditor1;
    c.TakeEditorSettings();
    c.SetBytesPerLine(4);
    const uint8_t bytes[] = {'A', 'B', 0x01};
    QCOMPARE(c.LineText(16, bytes, 3), QStringLiteral("00000010: 41 42 01    AB."));
    c.MemFieldDisplay = mfOctal;
    c.OffsetDisplay = odNone;
    QCOMPARE(c.LineText(0, bytes, 3), QStringLiteral("101 102 001     AB."));
    bool threw = false;
    try {
      c.SetBytesPerLine(0);
    } catch (const EHexEditor& e) {
      threw = QString::fromLatin1(e.what()) == "Invalid Line Length argument";
    }
    QVERIFY(threw);
    c.ShrinkToFit = true;
    c.LeftMargin = c.RightMargin = 0;
    c.MemFieldDisplay = mfHex;
    QImage narrow(60, 400, QImage::Format_RGB32);
    QPainter painter(&narrow);
    QCOMPARE(c.PaintPage(painter, 0, QString(), QString(), 2), 3);
    QVERIFY(painter.font().pointSizeF() < form_->HexEditor1->font().pointSizeF());
  }

  void previewShowsTheFirstPage() {
    Open("prev.bin", QByteArray(3000, 'p'));
    const QImage image = form_->PreviewImage();
    const QRectF page = form_->Printer().pageRect(QPrinter::DevicePixel);
    QCOMPARE(image.width(), 1000);
    QCOMPARE(image.height(), qRound(1000.0 * page.height() / page.width()));
    QVERIFY(form_->LastPrintedPages() == 1);
    QTimer::singleShot(0, [] {
      auto* preview = qobject_cast<TfmPreview*>(QApplication::activeModalWidget());
      QVERIFY(preview != nullptr);
      QCOMPARE(preview->windowTitle(), QStringLiteral("Print preview"));
      QCOMPARE(preview->size(), QSize(696, 480));
      // Fitted to the client width, the page would be too tall: fitted to the height.
      QCOMPARE(preview->Image1->height(), 480);
      QCOMPARE(preview->Image1->width(), 480 * 1000 / preview->Page().height());
      preview->close();
    });
    form_->Printpreview1Click();
  }

  void startupFileOpensOnFirstActivation() {
    WriteFile(Path("start.bin"), "start");
    form_->SetStartupFile(Path("start.bin"));
    form_->show();
    QCOMPARE(Ed().FileName(), Path("start.bin"));
    QCOMPARE(Contents(Ed()), QByteArray("start"));

    TMiniEdForm other(nullptr, &prompts_);
    other.SetStartupFile(Path("start.bin"));
    Open("given.bin", "given");
    other.HexEditor1->OpenForEditing(Path("given.bin"));
    other.show();
    QCOMPARE(other.HexEditor1->FileName(), Path("given.bin"));
  }
};

QTEST_MAIN(MiniEdTest)
#include "minied_test.moc"
