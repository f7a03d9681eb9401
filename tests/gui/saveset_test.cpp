// Several saves selected at once: backup asks once for a folder and writes
// each save under its own name, never over a file without asking, naming a
// save that fails; delete asks once for the set.
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QtTest>
#include <chrono>

#include "gui_rig.h"
#include "manager/findsave.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

void SelectRows(GuiRig& rig, const QStringList& names) {
  rig.Select(names.first());
  for (const QString& n : names) rig.w().Savertableview->item(rig.Row(n))->setSelected(true);
}

// Whether a save of that name is on the card image, read by a card manager of
// its own from a copy.
bool OnCard(const QString& image, const QString& name) {
  QTemporaryDir work;
  const QString copy = QDir(work.path()).filePath("copy.ps2");
  QFile::copy(image, copy);
  QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
  sim::LoopbackSession s;
  s.adapter.InsertCard(sim::Medium::Open(copy.toStdString(), sim::MediumKind::kPS2));
  manager::TPS2MFMSYS m(s.link);
  m.InitSystem(work.path().toStdString());
  m.Access().Medium = Slot::kCard;
  const bool found = manager::FindSave(m, name.toStdString()).has_value();
  m.DoneSystem();
  return found;
}

}  // namespace

class SaveSetTest : public QObject {
  Q_OBJECT

 private slots:
  void BackupOfASetAsksOnceAndNamesAFailure() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    // What a backup of one save writes, to compare with.
    rig.Select("BASLUS-21003SIZES");
    rig.ui.files.push_back(rig.Work("sizes-alone.psu"));
    w.SaverBackupClick();
    rig.Select("BASLUS-21001TRAVOSK");
    rig.ui.files.push_back(rig.Work("travosk-alone.psu"));
    w.SaverBackupClick();

    const QString out = rig.Work("out");
    QVERIFY(QDir().mkpath(out));
    // A file of one save's name is there already, and its owner keeps it.
    WriteAll(out + "/BASLUS-21001TRAVOSK.psu", "mine");
    // Where another save's file would go stands a folder: that save fails.
    QStringList others = rig.ListNames();
    others.removeAll("BASLUS-21003SIZES");
    others.removeAll("BASLUS-21001TRAVOSK");
    const QString blocked = others.first();
    QVERIFY(QDir().mkpath(out + "/" + blocked + ".psu"));
    rig.ui.Clear();
    rig.ui.files.push_back(out);
    // The questions come in list order: No for the owner's file, Yes for the folder.
    const bool mine_first = rig.Row("BASLUS-21001TRAVOSK") < rig.Row(blocked);
    rig.ui.answers = {!mine_first, mine_first};
    SelectRows(rig, {"BASLUS-21003SIZES", "BASLUS-21001TRAVOSK", blocked});
    QCOMPARE(w.SelectLabel->text(), QString("3 saves selected"));
    w.SaverBackupClick();
    QCOMPARE(rig.ui.Texts("folder").size(), qsizetype{1});
    QStringList asked{"File \"BASLUS-21001TRAVOSK.psu\" exists Overwrite ?",
                      "File \"" + blocked + ".psu\" exists Overwrite ?"};
    if (!mine_first) asked.swapItemsAt(0, 1);
    QCOMPARE(rig.ui.Questions(), asked);
    QCOMPARE(ReadAll(out + "/BASLUS-21001TRAVOSK.psu"), QByteArray("mine"));
    QCOMPARE(ReadAll(out + "/BASLUS-21003SIZES.psu"), ReadAll(rig.Work("sizes-alone.psu")));
    const QStringList info = rig.ui.Texts("info");
    QCOMPARE(info.size(), qsizetype{1});
    QVERIFY2(info[0].startsWith("Upload Saver Fail.\n\"" + blocked + "\""), qPrintable(info[0]));
    QVERIFY(!info[0].contains("SIZES"));
    QVERIFY(rig.ui.Settled());

    // Answered Yes (both files are there now), they take the saves' backups.
    rig.ui.Clear();
    rig.ui.files.push_back(out);
    rig.ui.answers = {true, true};
    SelectRows(rig, {"BASLUS-21003SIZES", "BASLUS-21001TRAVOSK"});
    w.SaverBackupClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Upload Saver complete."});
    QCOMPARE(ReadAll(out + "/BASLUS-21001TRAVOSK.psu"), ReadAll(rig.Work("travosk-alone.psu")));
    QVERIFY(rig.ui.Settled());
  }

  void DeleteOfASetAsksOnce() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    const QStringList before = rig.ListNames();
    rig.ui.Clear();
    rig.ui.answers = {false};
    SelectRows(rig, {"BASLUS-21003SIZES", "BASLUS-21001TRAVOSK"});
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Delete 2 Saves \"BASLUS-21001TRAVOSK\", \"BASLUS-21003SIZES\""});
    QCOMPARE(rig.ListNames(), before);

    rig.ui.Clear();
    rig.ui.answers = {true};
    SelectRows(rig, {"BASLUS-21003SIZES", "BASLUS-21001TRAVOSK"});
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    QStringList expected = before;
    expected.removeAll("BASLUS-21003SIZES");
    expected.removeAll("BASLUS-21001TRAVOSK");
    QCOMPARE(rig.ListNames(), expected);
    QVERIFY(ImageHealthy(rig.card_image, sim::MediumKind::kPS2));
    QVERIFY(rig.ui.Settled());
  }

  void AdapterPulledDuringADeleteOfASet() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    rig.session.platform.SetPacketDelay(std::chrono::microseconds(200));
    QTimer pull;
    pull.setInterval(2);
    QObject::connect(&pull, &QTimer::timeout, [&] {
      if (w.CardBusy()) {
        rig.session.platform.Unplug(rig.session.adapter);
        pull.stop();
      }
    });
    pull.start();
    rig.ui.Clear();
    rig.ui.answers = {true};
    SelectRows(rig, {"BASLUS-21003SIZES", "BASLUS-21001TRAVOSK"});
    w.DeleteSaverClick();
    pull.stop();
    const QStringList info = rig.ui.Texts("info");
    QVERIFY(!info.isEmpty());
    QVERIFY2(info.last().startsWith("Delete Fail.\n\""), qPrintable(info.join(" | ")));
    // The list never shows a save that is gone from the card: it is as it
    // was when nothing reached the card, and empty when the card changed
    // and could not be read again.
    for (const QString& name : {QString("BASLUS-21003SIZES"), QString("BASLUS-21001TRAVOSK")})
      if (rig.ListNames().contains(name)) QVERIFY(OnCard(rig.card_image, name));
    QVERIFY(rig.ListNames().isEmpty() || rig.ListNames().size() == 7);
  }

  void PS1SetsBackUpAsMcsAndDelete() {
    GuiRig rig(Cards("demo-ps1.mcr", "", sim::MediumKind::kPS1));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS1");
    const QStringList names = rig.ListNames();
    QVERIFY(names.size() >= 3);
    const QString out = rig.Work("ps1");
    QVERIFY(QDir().mkpath(out));
    rig.ui.files.push_back(out);
    SelectRows(rig, {names[0], names[2]});
    w.SaverBackupClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Upload Saver complete."});
    QCOMPARE(QDir(out).entryList(QDir::Files), (QStringList{names[0] + ".mcs", names[2] + ".mcs"}));
    rig.ui.Clear();
    rig.ui.answers = {true};
    SelectRows(rig, {names[0], names[2]});
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    QCOMPARE(rig.ListNames(), QStringList{names[1]});
    QVERIFY(rig.ui.Settled());
  }
};

QTEST_MAIN(SaveSetTest)
#include "saveset_test.moc"
