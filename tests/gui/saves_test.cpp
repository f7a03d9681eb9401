// The save commands on a PS2 card and on the SmartMedia: append (with the
// duplicate and overwrite questions), backup, delete and edit, with the
// old save never lost when a replacement fails.
#include <QLabel>
#include <QListWidget>
#include <QtTest>

#include "gui_rig.h"
#include "hexedit/minied.h"
#include "manager/archive_builder.h"
#include "sim/medium.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

constexpr std::time_t kWhen = 1709294400;

// An archive's bytes with the cluster and position fields of every entry
// header cleared: what stays the same when a save is written elsewhere.
QByteArray WithoutPositions(QByteArray a) {
  auto mask = [&a](qsizetype at) {
    if (at + 512 <= a.size())
      for (qsizetype i = 0x10; i < 0x18; ++i) a[at + i] = 0;
  };
  if (a.size() < 512) return a;
  const uint32_t count = qFromLittleEndian<uint32_t>(a.constData() + 4);
  qsizetype at = 0;
  for (int i = 0; i < 3; ++i, at += 512) mask(at);
  for (uint32_t f = 2; f < count && at + 512 <= a.size(); ++f) {
    mask(at);
    const uint32_t length = qFromLittleEndian<uint32_t>(a.constData() + at + 4);
    at += 512 + (qsizetype(length) + 1023) / 1024 * 1024;
  }
  return a;
}

struct Device {
  const char* button;
  const char* save;   // a save of the demo card with "ICON.SYS"
  int saves;
};

Device DeviceFor(const QString& kind) {
  if (kind == "smartmedia") return {"DEVSmart", "BASLUS-21101SMART", 2};
  return {"DEVPS2", "BASLUS-21001TRAVOSK", 7};
}

}  // namespace

class SavesTest : public QObject {
  Q_OBJECT

  // Backs the save up through the window and answers the archive's bytes.
  QByteArray Backup(GuiRig& rig, const QString& save, const QString& file) {
    rig.Select(save);
    rig.ui.files.push_back(rig.Saver(file));
    rig.w().SaverBackupClick();
    return ReadAll(rig.Saver(file));
  }

  void kinds() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("ps2") << "ps2";
    QTest::newRow("smartmedia") << "smartmedia";
  }

 private slots:
  void CommandsNeedACatalogue() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    w.AppendSaverClick();
    w.SaverBackupClick();
    w.DeleteSaverClick();
    w.savereditbtnClick();
    QCOMPARE(rig.ui.Texts(), QStringList(4, "Device not opened"));
    QCOMPARE(rig.ui.beeps, 4);
  }

  void FileErrorsAreShownAndTheWindowGoesOn() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("missing.psu"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("error").size(), 1);
    QVERIFY(rig.ui.Texts("error")[0].contains("missing.psu"));
    QVERIFY(rig.forms->NotifyForm->isHidden());
    QCOMPARE(w.OperationCaption(), QString());
    // A truncated archive: refused, nothing reaches the card.
    const QByteArray image = ReadAll(rig.card_image);
    const std::string whole = manager::BuildSaveArchive(
        "BASLUS-30003CUT", {{"DATA", std::string(5000, 'c')}}, kWhen);
    WriteAll(rig.Saver("cut.psu"), QByteArray::fromStdString(whole.substr(0, whole.size() - 3000)));
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("cut.psu"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info").size() + rig.ui.Texts("error").size(), qsizetype{1});
    QCOMPARE(ReadAll(rig.card_image), image);
    QCOMPARE(rig.ListNames().size(), 7);
  }

  void ASwappedCardIsNotWrittenWithTheOldCardsTables() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    rig.Select("BASLUS-21003SIZES");
    rig.ui.files.push_back(rig.Saver("sizes.psu"));
    w.SaverBackupClick();
    // An erased card takes the demo card's place while its list is shown.
    const QString blank = rig.Work("blank.ps2");
    sim::Medium::CreateBlank(blank.toStdString(), sim::MediumKind::kPS2);
    rig.session.adapter.InsertCard(sim::Medium::Open(blank.toStdString(), sim::MediumKind::kPS2));
    const QByteArray before = ReadAll(blank);
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("sizes.psu"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Can not connect PS2."});
    QCOMPARE(rig.ui.Failures(), QStringList{"Download Saver Fail."});
    rig.Select("BASLUS-21001TRAVOSK");
    rig.ui.Clear();
    rig.ui.answers = {true};
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Failures(), QStringList{"Delete Fail."});
    QCOMPARE(ReadAll(blank), before);
  }

  void AppendAskedTwiceKeepsBothOrNeither_data() { kinds(); }
  void AppendAskedTwiceKeepsBothOrNeither() {
    QFETCH(QString, kind);
    const Device dev = DeviceFor(kind);
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog(dev.button);
    const QByteArray archive = Backup(rig, dev.save, "copy.psu");
    QVERIFY(archive.size() > 1536);
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Upload Saver complete."});
    QCOMPARE(rig.ui.dialogs.back().filter, QString("*.psu|*.psu|*.psd|*.psd"));
    QCOMPARE(rig.ui.dialogs.back().default_extension, QString(".psu"));
    QCOMPARE(rig.ui.dialogs.back().start_folder, rig.Saver(""));

    // No, then No: nothing reaches the card.
    const QByteArray image = ReadAll(kind == "ps2" ? rig.card_image : rig.sm_image);
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("copy.psu"));
    rig.ui.answers = {false, false};
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Questions(),
             (QStringList{QString("Saver \"%1\" on Memory card, OVERWRITE ?").arg(dev.save),
                          QString("The saver \"%1\" will be double, continous ?").arg(dev.save)}));
    QCOMPARE(rig.ui.Texts("info"), QStringList());
    QCOMPARE(ReadAll(kind == "ps2" ? rig.card_image : rig.sm_image), image);

    // No, then Yes: both kept, the new copy under a name of its own (two
    // folders of one name would leave the second out of every lookup).
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("copy.psu"));
    rig.ui.answers = {false, true};
    w.AppendSaverClick();
    const QString copy = QString(dev.save) + "_1";
    QCOMPARE(rig.ui.Texts("info"),
             QStringList{QString("Download Saver complete.\nThe saver \"%1\" was already on the "
                                 "card: the new copy is \"%2\".")
                             .arg(dev.save, copy)});
    QCOMPARE(rig.ListNames().count(dev.save), 1);
    QCOMPARE(rig.ListNames().count(copy), 1);
    QCOMPARE(rig.ListNames().size(), dev.saves + 1);
    QVERIFY(!w.SaveSelected());
    QVERIFY(rig.ui.Settled());
  }

  void OverwriteReplacesTheSave_data() { kinds(); }
  void OverwriteReplacesTheSave() {
    QFETCH(QString, kind);
    const Device dev = DeviceFor(kind);
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog(dev.button);
    const std::string data(5000, 'N');
    WriteAll(rig.Saver("new.psu"),
             QByteArray::fromStdString(manager::BuildSaveArchive(
                 dev.save, {{"icon.sys", std::string(964, '\0')}, {"NEWDATA", data}}, kWhen)));
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("new.psu"));
    rig.ui.answers = {true};
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames().count(dev.save), 1);
    QCOMPARE(rig.ListNames().size(), dev.saves);
    QVERIFY(Backup(rig, dev.save, "after.psu").contains(QByteArray::fromStdString(data)));
    QVERIFY(!QFileInfo::exists(rig.Work("~replace.psu")));
  }

  void OverwriteThatCannotBeDoneKeepsTheOldSave() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    const QString save = "BASLUS-21001TRAVOSK";
    const QByteArray old_copy = WithoutPositions(Backup(rig, save, "old.psu"));

    // Too big for the room the old save would free: nothing is deleted.
    const QByteArray image = ReadAll(rig.card_image);
    WriteAll(rig.Saver("huge.psu"),
             QByteArray::fromStdString(manager::BuildSaveArchive(
                 save.toStdString(), {{"HUGE", std::string(7800 * 1024, 'h')}}, kWhen)));
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("huge.psu"));
    rig.ui.answers = {true};
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Failures(), QStringList{"Download Saver Fail."});
    QCOMPARE(ReadAll(rig.card_image), image);

    // Refused half-way after the delete (a folder where a file should be):
    // the old save is put back from its backup.
    WriteAll(rig.Saver("bad.psu"),
             QByteArray::fromStdString(manager::BuildSaveArchive(
                 save.toStdString(),
                 {{"icon.sys", std::string(964, '\0')}, {"SUB", "", manager::kSaveFolderMode}},
                 kWhen)));
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("bad.psu"));
    rig.ui.answers = {true};
    rig.session.adapter.ResetCounters();
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Failures(), QStringList{"Download Saver Fail."});
    QVERIFY(rig.session.adapter.counters().blocks_erased > 0);  // it was deleted, then put back
    QCOMPARE(rig.ui.Texts("error"), QStringList());
    QCOMPARE(rig.ListNames().count(save), 1);
    QCOMPARE(WithoutPositions(Backup(rig, save, "restored.psu")), old_copy);
    QVERIFY(!QFileInfo::exists(rig.Work("~replace.psu")));
  }

  void BackupToAFolderThatIsNotThereFails() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    rig.Catalog("DEVPS2");
    rig.Select("BASLUS-21003SIZES");
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Work("no/such/folder/x.psu"));
    rig.w().SaverBackupClick();
    QCOMPARE(rig.ui.Failures(), QStringList{"Upload Saver Fail."});
    // Nothing selected: nothing happens.
    rig.w().Savertableview->clearSelection();
    GuiRig fresh(Cards("demo-ps2.ps2"));
    fresh.Catalog("DEVPS2");
    fresh.ui.Clear();
    fresh.w().SaverBackupClick();
    QCOMPARE(fresh.ui.log.size(), size_t{0});
  }

  void DeleteAsksAndRebuildsTheList_data() { kinds(); }
  void DeleteAsksAndRebuildsTheList() {
    QFETCH(QString, kind);
    const Device dev = DeviceFor(kind);
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog(dev.button);
    // Nothing selected: only the selection line is reset.
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.log.size(), size_t{1});  // the device dialog of the catalogue
    QCOMPARE(w.SelectLabel->text(), QString("SELECT SAVER"));

    rig.Select(dev.save);
    rig.ui.Clear();
    rig.ui.answers = {false};
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Questions(), QStringList{QString("Delete Save \"%1\"").arg(dev.save)});
    QCOMPARE(rig.ListNames().size(), dev.saves);
    QCOMPARE(w.SelectLabel->text(), QString("SELECT SAVER"));

    rig.Select(dev.save);
    rig.ui.Clear();
    rig.ui.answers = {true};
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    QVERIFY(!rig.ListNames().contains(dev.save));
    QCOMPARE(rig.ListNames().size(), dev.saves - 1);
    QVERIFY(!w.SaveSelected());
    // The list was rebuilt: Delete does nothing until a save is selected.
    rig.ui.Clear();
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.log.size(), size_t{0});
  }

  void EditWritesTheEditedSaveBack_data() { kinds(); }
  void EditWritesTheEditedSaveBack() {
    QFETCH(QString, kind);
    const Device dev = DeviceFor(kind);
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog(dev.button);
    const QString edit_file = rig.Work("~psd._");

    // Closing the editor without saving changes nothing.
    const QByteArray image = ReadAll(kind == "ps2" ? rig.card_image : rig.sm_image);
    rig.Select(dev.save);
    rig.ui.Clear();
    QString caption;
    rig.ui.modals.push_back([&caption](QDialog& d) {
      caption = d.windowTitle();
      return int(QDialog::Rejected);
    });
    w.savereditbtnClick();
    QCOMPARE(caption, QString::fromUtf8("ﾌｧｲﾙ:") + dev.save);
    QVERIFY(rig.ui.Settled());
    QCOMPARE(rig.ui.Texts("info"), QStringList());
    QCOMPARE(ReadAll(kind == "ps2" ? rig.card_image : rig.sm_image), image);

    // Saving in the editor: the edited bytes replace the save on the card.
    rig.Select(dev.save);
    rig.ui.Clear();
    QString opened;
    rig.ui.modals.push_back([&](QDialog& d) {
      auto& editor = static_cast<TMiniEdForm&>(d);
      opened = editor.HexEditor1->FileName();
      QByteArray bytes = ReadAll(edit_file);
      // The first byte of the first file's data (after four 512-byte headers).
      bytes[4 * 512] = 'E';
      WriteAll(edit_file, bytes);
      editor.SaveRequested = 1;
      return int(QDialog::Accepted);
    });
    w.savereditbtnClick();
    QCOMPARE(opened, edit_file);
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Update complete."});
    QCOMPARE(rig.ListNames().count(dev.save), 1);
    QCOMPARE(rig.ListNames().size(), dev.saves);
    const QByteArray after = Backup(rig, dev.save, "after.psu");
    QCOMPARE(after[4 * 512], 'E');
    // Only data bytes changed: the save was written over itself, every
    // cluster where it was, so its backup is the edited file to the byte.
    QCOMPARE(after, ReadAll(edit_file));
  }

  void FailedWriteBackKeepsTheOldSaveAndTheEditedCopy() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    const QString save = "BASLUS-21003SIZES";
    const QByteArray old_copy = WithoutPositions(Backup(rig, save, "old.psu"));
    const QString edit_file = rig.Work("~psd._");
    const QByteArray broken = QByteArray::fromStdString(manager::BuildSaveArchive(
        save.toStdString(), {{"icon.sys", std::string(964, '\0')}, {"SUB", "", manager::kSaveFolderMode}},
        kWhen));
    rig.Select(save);
    rig.ui.Clear();
    rig.ui.modals.push_back([&](QDialog& d) {
      WriteAll(edit_file, broken);
      static_cast<TMiniEdForm&>(d).SaveRequested = 1;
      return int(QDialog::Accepted);
    });
    w.savereditbtnClick();
    // Kept under a name of its own, which the next edit leaves alone.
    const QString kept = rig.Saver(save + "_1.psu");
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Update Fail. The edited saver is kept in " + kept});
    QCOMPARE(ReadAll(kept), broken);
    QCOMPARE(WithoutPositions(Backup(rig, save, "restored.psu")), old_copy);
    rig.Select(save);
    rig.ui.Clear();
    rig.ui.modals.push_back([](QDialog&) { return int(QDialog::Rejected); });
    w.savereditbtnClick();
    QVERIFY(rig.ui.Settled());
    QCOMPARE(ReadAll(kept), broken);
  }
};

QTEST_MAIN(SavesTest)
#include "saves_test.moc"
