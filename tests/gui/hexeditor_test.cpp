// THexEditor on its own: the piece table against a plain byte vector, undo,
// hex text, caret moves, searching, and saving with its backup and failures.
#include "hexedit/hexeditor.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "common/errors.h"

using namespace travosk;

namespace {

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray Contents(const THexEditor& ed) {
  const std::vector<uint8_t> all = ed.BufferFromFile(0, ed.ByteCount());
  return QByteArray(reinterpret_cast<const char*>(all.data()), static_cast<qsizetype>(all.size()));
}

void Append(THexEditor& ed, const QByteArray& bytes) {
  ed.AppendBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
}

void Replace(THexEditor& ed, const QByteArray& bytes) {
  ed.ReplaceSelectionWith(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size());
}

QStringList WorkingCopies(const QString& folder) {
  return QDir(folder).entryList({QStringLiteral("*.QXHT")}, QDir::Files);
}

}  // namespace

class HexEditorTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir temp_;
  QTemporaryDir tmpdir_;  // stands in for the system temp folder

  QString Path(const QString& name) const { return temp_.filePath(name); }

 private slots:
  void initTestCase() {
    QVERIFY(temp_.isValid());
    QVERIFY(tmpdir_.isValid());
    qputenv("TMPDIR", tmpdir_.path().toLocal8Bit());
    QCOMPARE(QDir::tempPath(), QDir(tmpdir_.path()).canonicalPath());
  }

  void undoKeepsTheNewestHundredSteps() {
    THexEditor ed;
    ed.NewFile();
    QCOMPARE(ed.UndoText(), QStringLiteral("No Undo"));
    for (int i = 0; i < 101; ++i) Append(ed, QByteArray(1, static_cast<char>(i)));
    QCOMPARE(ed.ByteCount(), 101);
    QCOMPARE(ed.UndoCount(), size_t{100});
    QCOMPARE(ed.UndoText(), QStringLiteral("Append buffer"));
    for (int i = 0; i < 100; ++i) {
      QVERIFY(ed.UndoAvailable());
      ed.UndoLast();
    }
    QVERIFY(!ed.UndoAvailable());
    QCOMPARE(ed.UndoText(), QStringLiteral("No Undo"));
    // The first append fell off the list and stays.
    QCOMPARE(Contents(ed), QByteArray(1, '\0'));
    ed.UndoLast();
    QCOMPARE(ed.ByteCount(), 1);
  }

  void eachEditNamesItsUndoStep() {
    THexEditor ed;
    ed.NewFile();
    Append(ed, "abcdef");
    QCOMPARE(ed.UndoText(), QStringLiteral("Append buffer"));
    ed.Select(1, 2);
    Replace(ed, "XYZ");
    QCOMPARE(ed.UndoText(), QStringLiteral("Replace selection"));
    QCOMPARE(Contents(ed), QByteArray("aXYZdef"));
    QCOMPARE(ed.SelectionLow(), 1);
    QCOMPARE(ed.SelectionHigh(), 3);
    ed.ClearSelection();
    QVERIFY(ed.MoveCaret(0, 0, true));
    Replace(ed, "--");
    QCOMPARE(ed.UndoText(), QStringLiteral("Insert buffer"));
    QCOMPARE(Contents(ed), QByteArray("--aXYZdef"));
    ed.Select(2, 5);
    ed.DeleteSelected();
    QCOMPARE(ed.UndoText(), QStringLiteral("Byte(s) removed"));
    QCOMPARE(Contents(ed), QByteArray("--def"));
    QVERIFY(ed.InsertNibble(0, true));
    QCOMPARE(ed.UndoText(), QStringLiteral("Insert nibble"));
    QVERIFY(ed.DeleteNibble(0, true));
    QCOMPARE(ed.UndoText(), QStringLiteral("Delete nibble"));
    QCOMPARE(Contents(ed), QByteArray("--def").append('\0'));
    ed.Select(0, 1);
    ed.ConvertSelection(ttAnsi, ttEBCDIC);
    QCOMPARE(ed.UndoText(), QStringLiteral("Convert"));
    QCOMPARE(static_cast<uint8_t>(Contents(ed)[0]), uint8_t{0x60});  // '-' in EBCDIC
    QVERIFY(ed.MoveCaret(3, 0, true));
    ed.setFocus();
    QTest::keyClicks(&ed, "4");
    QCOMPARE(ed.UndoText(), QStringLiteral("Byte changed"));
    for (int i = 0; i < 7; ++i) ed.UndoLast();
    QCOMPARE(Contents(ed), QByteArray("abcdef"));
    QVERIFY(ed.Modified());
    ed.UndoLast();
    QCOMPARE(ed.ByteCount(), 0);
    QVERIFY(!ed.Modified());
  }

  void nibbleShiftsMoveEveryLaterNibble() {
    THexEditor ed;
    ed.NewFile();
    Append(ed, QByteArray::fromHex("123456"));
    QVERIFY(ed.InsertNibble(1, false));
    QCOMPARE(Contents(ed), QByteArray::fromHex("12304560"));
    ed.UndoLast();
    QVERIFY(ed.DeleteNibble(0, false));
    QCOMPARE(Contents(ed), QByteArray::fromHex("134560"));
    QVERIFY(!ed.InsertNibble(3, true));
  }

  void hexTextReadsOnlyPairsOfDigits() {
    QCOMPARE(HexTextToBytes(u"0a Zb-E", false), QByteArray::fromHex("0ABE"));
    QCOMPARE(HexTextToBytes(u"ABD", false), QByteArray::fromHex("AB"));
    QCOMPARE(HexTextToBytes(u"0a Zb-E", true), QByteArray::fromHex("A0EB"));
    QCOMPARE(HexTextToBytes(u"", false), QByteArray());
    QCOMPARE(FindHexToBytes(u"414"), QByteArray::fromHex("0414"));
    QCOMPARE(FindHexToBytes(u"x"), QByteArray());
    const uint8_t bytes[] = {0x00, 0x1F, 0xA0, 0xFF};
    QCOMPARE(BytesToHexText(bytes, false), QStringLiteral("001FA0FF"));
    QCOMPARE(BytesToHexText(bytes, true), QStringLiteral("00F10AFF"));

    THexEditor ed;
    ed.NewFile();
    ed.SetSwapNibbles(true);
    ed.LoadHexText(u"12 3");
    QCOMPARE(Contents(ed), QByteArray::fromHex("21"));
    QCOMPARE(ed.UndoText(), QStringLiteral("Replace selection"));
    QCOMPARE(ed.ToHexText(), QStringLiteral("12"));
    ed.SetSwapNibbles(false);
    QCOMPARE(ed.ToHexText(), QStringLiteral("21"));
  }

  void moveCaretStrictOrClipped() {
    THexEditor ed;
    ed.NewFile();
    QVERIFY(!ed.MoveCaret(0, 0, false));  // no data
    Append(ed, QByteArray(10, 'x'));
    QVERIFY(ed.MoveCaret(4, 0, true));
    QVERIFY(!ed.MoveCaret(-5, 0, true));
    QCOMPARE(ed.CaretPosition(), 4);
    QVERIFY(ed.MoveCaret(-5, 0, false));
    QCOMPARE(ed.CaretPosition(), 0);
    QVERIFY(!ed.MoveCaret(10, 0, true));
    QVERIFY(ed.MoveCaret(10, 0, false));
    QCOMPARE(ed.CaretPosition(), 9);
    QVERIFY(ed.MoveCaret(-3, 1, true));
    QCOMPARE(ed.CaretPosition(), 6);
    QVERIFY(ed.MoveCaret(-1, 2, true));
    QCOMPARE(ed.CaretPosition(), 8);
    QVERIFY(!ed.MoveCaret(1, 2, true));
    QSignalSpy spy(&ed, &THexEditor::OnStateChanged);
    QVERIFY(ed.MoveCaret(0, 0, true));
    QVERIFY(spy.count() >= 1);
  }

  void badArgumentsAreRefusedWithTheirTexts() {
    THexEditor ed;
    ed.NewFile();
    Append(ed, "abc");
    const auto message = [](auto&& call) {
      try {
        call();
      } catch (const EHexEditor& e) {
        return QString::fromLatin1(e.what());
      }
      return QString();
    };
    QCOMPARE(message([&] { ed.SetSelectionStart(3); }), QStringLiteral("Invalid SelStart"));
    QCOMPARE(message([&] { ed.SetSelectionEnd(-2); }), QStringLiteral("Invalid SelEnd"));
    QCOMPARE(message([&] { ed.SetBytesPerLine(0); }),
             QStringLiteral("Invalid BytesPerLine argument"));
    QCOMPARE(message([&] { (void)ed.BufferFromFile(2, 2); }),
             QStringLiteral("Invalid BufferFromFile argument"));
    QCOMPARE(message([&] { ed.SetMarker(10, 0); }),
             QStringLiteral("SetMarker : Invalid marker index"));
    QCOMPARE(ed.BytesPerLine(), 16);
    QCOMPARE(Contents(ed), QByteArray("abc"));
  }

  void pieceTableAgreesWithAPlainVector() {
    // A file larger than the read window, edited at random and undone at
    // random, must always read back like the same edits on a plain vector.
    QByteArray original(200 * 1024, '\0');
    QRandomGenerator rng(1234);
    for (char& c : original) c = static_cast<char>(rng.bounded(256));
    WriteFile(Path("big.bin"), original);
    THexEditor ed;
    ed.OpenForEditing(Path("big.bin"));
    QCOMPARE(Contents(ed), original);
    QByteArray model = original;
    std::vector<QByteArray> history;
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(rng.bounded(5));
      if (op == 4 && !history.empty()) {
        ed.UndoLast();
        model = history.back();
        history.pop_back();
      } else {
        const qsizetype pos = rng.bounded(static_cast<int>(model.size()));
        const qsizetype len = std::min<qsizetype>(rng.bounded(70000) + 1, model.size() - pos);
        QByteArray insert(rng.bounded(3000), '\0');
        for (char& c : insert) c = static_cast<char>(rng.bounded(256));
        history.push_back(model);
        if (history.size() > 100) history.erase(history.begin());
        ed.Select(pos, pos + len - 1);
        if (op == 0) {
          ed.DeleteSelected();
          model.remove(pos, len);
        } else {
          Replace(ed, insert);
          model.replace(pos, insert.isEmpty() ? len : len, insert);
        }
      }
      QCOMPARE(ed.ByteCount(), model.size());
      const qsizetype probe = rng.bounded(static_cast<int>(model.size()));
      QCOMPARE(ed.ByteAt(probe), static_cast<uint8_t>(model[probe]));
    }
    QCOMPARE(Contents(ed), model);
    QCOMPARE(ReadFile(Path("big.bin")), original);  // never edited in place
  }

  void findBytesStreamsThroughTheData() {
    QByteArray data(3 * 64 * 1024, 'x');
    const qsizetype border = 64 * 1024 - 2;
    data.replace(border, 5, "Hello");
    data.replace(data.size() - 4, 4, "tail");
    WriteFile(Path("find.bin"), data);
    THexEditor ed;
    ed.OpenForEditing(Path("find.bin"));
    QByteArray p("Hello");
    QCOMPARE(ed.FindBytes(p, 5, false, false, ed.ByteCount(), 0), border);
    p = "HELLO";
    QCOMPARE(ed.FindBytes(p, 5, false, false, ed.ByteCount(), 0), -1);
    p = "HELLO";
    QCOMPARE(ed.FindBytes(p, 5, false, true, ed.ByteCount(), 0), border);
    p = "Hello";
    QCOMPARE(ed.FindBytes(p, 5, false, false, ed.ByteCount(), border + 1), -1);
    p = "Hello";
    QCOMPARE(ed.FindBytes(p, 5, false, false, border + 3, 0), -1);  // does not fit before last
    p = "tail";
    QCOMPARE(ed.FindBytes(p, 4, false, false, 1LL << 40, 0), data.size() - 4);
    p = "tail";
    QCOMPARE(ed.FindBytes(p, 0, false, false, ed.ByteCount(), 0), -1);
    // A text pattern is translated into the character field's set first.
    ed.Select(0, 1);
    Replace(ed, QByteArray::fromHex("C1C2"));  // "AB" in EBCDIC
    ed.SetTranslation(ttEBCDIC);
    p = "AB";
    QCOMPARE(ed.FindBytes(p, 2, true, false, ed.ByteCount(), 0), 0);
    QCOMPARE(p, QByteArray::fromHex("C1C2"));
  }

  void fixedSizeReplacesOnlyTheSelection() {
    THexEditor ed;
    ed.NewFile();
    Append(ed, "abcdef");
    ed.SetNoSizeChange(true);
    ed.Select(1, 2);
    Replace(ed, "WXYZ");
    QCOMPARE(Contents(ed), QByteArray("aWXdef"));
    ed.Select(1, 4);
    Replace(ed, "Q");
    QCOMPARE(Contents(ed), QByteArray("aQXdef"));
    Append(ed, "z");
    ed.Select(0, 0);
    ed.DeleteSelected();
    QCOMPARE(ed.ByteCount(), 6);
  }

  void typingEditsNibblesAndCharacters() {
    THexEditor ed;
    ed.NewFile();
    Append(ed, QByteArray::fromHex("0000"));
    ed.ClearSelection();
    QVERIFY(ed.MoveCaret(0, 0, true));
    QTest::keyClicks(&ed, "a5");
    QCOMPARE(Contents(ed), QByteArray::fromHex("A500"));
    QCOMPARE(ed.CaretPosition(), 1);
    ed.SetInsertMode(true);
    QTest::keyClicks(&ed, "7");
    QCOMPARE(Contents(ed), QByteArray::fromHex("A57000"));
    QTest::keyClick(&ed, Qt::Key_Tab);
    QVERIFY(ed.InCharField());
    QTest::keyClicks(&ed, "Z");
    QCOMPARE(Contents(ed), QByteArray::fromHex("A55A7000"));
    QTest::keyClick(&ed, Qt::Key_Backspace);
    QCOMPARE(Contents(ed), QByteArray::fromHex("A57000"));
    QVERIFY(ed.IsChanged(0));
    QTest::keyClick(&ed, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(ed.SelectionLength(), 2);
  }

  void gridPaintsAndHitsEveryLayout() {
    THexEditor ed;
    ed.resize(500, 200);
    ed.NewFile();
    QByteArray bytes(1000, '\0');
    for (int i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
    Append(ed, bytes);
    ed.SetMarker(3, 20);
    QImage image(ed.size(), QImage::Format_RGB32);
    for (const int bpl : {16, 32, 64}) {
      for (const TOffsetDisplay od : {odHex, odDec, odOctal, odNone}) {
        ed.SetBytesPerLine(bpl);
        ed.SetOffsetDisplay(od);
        ed.SetBytesPerColumn(bpl / 16);
        ed.SetShowMarkerColumn(bpl == 32);
        ed.SetGridLineWidth(od == odDec ? 1 : 0);
        ed.SetCaretStyle(static_cast<TCaretStyle>(bpl % 3));
        ed.SetTranslation(static_cast<TTranslation>(od));
        ed.SetSwapNibbles(od == odOctal);
        QVERIFY(ed.MoveCaret(0, 2, true));
        ed.render(&image);
        QVERIFY(ed.MoveCaret(0, 0, true));
        ed.render(&image);
      }
    }
    // A click on the character field's third cell of the first line.
    ed.SetBytesPerLine(16);
    ed.SetOffsetDisplay(odHex);
    ed.SetBytesPerColumn(1);
    ed.SetShowMarkerColumn(false);
    ed.SetGridLineWidth(0);
    const int cw = QFontMetrics(ed.font()).horizontalAdvance(QLatin1Char('0'));
    const int charField = 8 + 1 + 1 + 16 * 2 + 16 + 1;
    QTest::mouseClick(ed.viewport(), Qt::LeftButton, {}, QPoint((charField + 2) * cw + cw / 2, 3));
    QVERIFY(ed.InCharField());
    QCOMPARE(ed.CaretPosition(), 2);
    QTest::mouseClick(ed.viewport(), Qt::LeftButton, {}, QPoint((8 + 2 + 3 * 3) * cw + cw / 2, 3));
    QVERIFY(!ed.InCharField());
    QCOMPARE(ed.CaretPosition(), 3);
  }

  void savingOverTheOpenedFileKeepsABackup() {
    WriteFile(Path("save.psu"), "old contents");
    THexEditor ed;
    ed.OpenForEditing(Path("save.psu"));
    ed.Select(0, 2);
    Replace(ed, "new");
    QVERIFY(ed.IsChanged(0));
    QVERIFY(ed.SaveToTarget(Path("save.psu")));
    QCOMPARE(ReadFile(Path("save.psu")), QByteArray("new contents"));
    QCOMPARE(ReadFile(Path("save.bak")), QByteArray("old contents"));
    QVERIFY(!ed.Modified());
    QVERIFY(!ed.UndoAvailable());
    QVERIFY(!ed.IsChanged(0));
    QCOMPARE(ed.FileName(), Path("save.psu"));
    // Unchanged data make no new backup.
    WriteFile(Path("save.bak"), "kept");
    QVERIFY(ed.SaveToTarget(Path("save.psu")));
    QCOMPARE(ReadFile(Path("save.bak")), QByteArray("kept"));
    // Saving elsewhere leaves no temporary file behind.
    QVERIFY(ed.SaveToTarget(Path("copy.psu")));
    QCOMPARE(QDir(temp_.path()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden),
             QStringList());
  }

  void aFailedSaveChangesNothing() {
    WriteFile(Path("keep.bin"), "0123456789");
    THexEditor ed;
    ed.OpenForEditing(Path("keep.bin"));
    ed.Select(0, 0);
    Replace(ed, "A");
    Append(ed, "B");
    const QByteArray before = Contents(ed);
    const auto unchanged = [&] {
      QCOMPARE(Contents(ed), before);
      QVERIFY(ed.Modified());
      QCOMPARE(ed.UndoCount(), size_t{2});
      QCOMPARE(ed.UndoText(), QStringLiteral("Append buffer"));
      QVERIFY(ed.IsChanged(0));
      QCOMPARE(ed.FileName(), Path("keep.bin"));
    };
    QVERIFY(!ed.SaveToTarget(Path("missing/dir/keep.bin")));
    QVERIFY(!ed.SaveError().isEmpty());
    unchanged();
    QVERIFY(QDir(temp_.path()).mkdir("adir"));
    QVERIFY(!ed.SaveToTarget(Path("adir")));
    unchanged();
    // A backup that cannot be written stops the save before the target.
    QVERIFY(QDir(temp_.path()).mkdir("keep.bak"));
    QVERIFY(!ed.SaveToTarget(Path("keep.bin")));
    unchanged();
    QCOMPARE(ReadFile(Path("keep.bin")), QByteArray("0123456789"));
    ed.UndoLast();
    QCOMPARE(Contents(ed), QByteArray("A123456789"));
  }

  void workingCopyIsPrivateAndGoesAway() {
    WriteFile(Path("a.bin"), "first");
    WriteFile(Path("b.bin"), "second");
    QString first;
    {
      THexEditor ed;
      ed.OpenForEditing(Path("a.bin"));
      first = ed.WorkingCopyPath();
      QVERIFY(first.endsWith(".QXHT"));
      QCOMPARE(QFileInfo(first).absolutePath(), QDir::tempPath());
      QCOMPARE(QFileInfo(first).completeBaseName().size(), 16);
      struct stat st {};
      QCOMPARE(::stat(QFile::encodeName(first).constData(), &st), 0);
      QCOMPARE(st.st_mode & 0777, 0600u);
      QCOMPARE(WorkingCopies(QDir::tempPath()).size(), 1);
      ed.OpenForEditing(Path("b.bin"));
      QVERIFY(!QFile::exists(first));
      QCOMPARE(WorkingCopies(QDir::tempPath()).size(), 1);
      QCOMPARE(Contents(ed), QByteArray("second"));
      // A file that cannot be read leaves the open one in place.
      bool threw = false;
      try {
        ed.OpenForEditing(Path("nothere.bin"));
      } catch (const InOutError& e) {
        threw = QString::fromStdString(e.file()).endsWith("nothere.bin");
      }
      QVERIFY(threw);
      QCOMPARE(Contents(ed), QByteArray("second"));
      QCOMPARE(ed.FileName(), Path("b.bin"));
    }
    QCOMPARE(WorkingCopies(QDir::tempPath()), QStringList());
  }
};

QTEST_MAIN(HexEditorTest)
#include "hexeditor_test.moc"
