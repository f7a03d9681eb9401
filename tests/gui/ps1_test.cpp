// PS1 cards: single saves (backup, delete, append with its overwrite and
// space questions) and whole-card upload and download.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "gui_rig.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

RigSetup PS1Card() { return Cards("demo-ps1.mcr", "demo-sm16.bin", sim::MediumKind::kPS1); }

// A ".PS1" copy under another name (bytes 10.. of its directory frame).
QByteArray Renamed(QByteArray save, const QByteArray& name) {
  for (int i = 10; i < 31; ++i) save[i] = 0;
  for (int i = 0; i < name.size(); ++i) save[10 + i] = name[i];
  return save;
}

}  // namespace

class PS1Test : public QObject {
  Q_OBJECT

 private slots:
  void BackupDeleteAndAppendASave() {
    GuiRig rig(PS1Card());
    TForm1& w = rig.w();
    rig.Catalog("DEVPS1");
    rig.Select("BASLUS-00102STARS");
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.SaverBackupClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Upload Saver complete."});
    QCOMPARE(rig.ui.dialogs[0].filter, QString("*.PS1|*.PS1"));
    QCOMPARE(rig.ui.dialogs[0].default_extension, QString(".ps1"));
    QCOMPARE(QFileInfo(rig.Saver("stars.PS1")).size(), 128 + 2 * 8192);

    rig.Select("BASLUS-00102STARS");
    rig.ui.Clear();
    rig.ui.answers = {true};
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Questions(), QStringList{"Delete Save \"BASLUS-00102STARS\""});
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    QCOMPARE(rig.ListNames(), (QStringList{"BASLUS-00101TRAVOSK", "BISLPS-00104BALL"}));
    QVERIFY(!w.PS1List().selected);

    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames().size(), 3);
    QVERIFY(rig.ListNames().contains("BASLUS-00102STARS"));
    QVERIFY(rig.ui.Settled());

    // The editor is not for PS1 saves; a file that is no PS1 save is refused.
    rig.ui.Clear();
    w.savereditbtnClick();
    WriteAll(rig.Saver("junk.PS1"), QByteArray(9000, 'j'));
    rig.ui.files.push_back(rig.Saver("junk.PS1"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"),
             (QStringList{"This function do not support PS1 card.", "Not is PS1 saver file."}));
  }

  void OverwriteOnAFullCard() {
    GuiRig rig(PS1Card());
    TForm1& w = rig.w();
    rig.Catalog("DEVPS1");
    rig.Select("BISLPS-00104BALL");
    rig.ui.files.push_back(rig.Saver("ball.PS1"));
    w.SaverBackupClick();
    const QByteArray ball = ReadAll(rig.Saver("ball.PS1"));
    QCOMPARE(ball.size(), 128 + 3 * 8192);
    // Nine free blocks take three more copies of the three-block save.
    for (const char* name : {"BISLPS-00104BALL1", "BISLPS-00104BALL2", "BISLPS-00104BALL3"}) {
      const QString file = rig.Saver(QString(name) + ".PS1");
      WriteAll(file, Renamed(ball, name));
      rig.ui.files.push_back(file);
      w.AppendSaverClick();
    }
    QCOMPARE(rig.ListNames().size(), 6);
    QVERIFY(w.FreesizeLabel->text().startsWith("0Kbytes"));

    const QByteArray image = ReadAll(rig.card_image);
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("ball.PS1"));
    rig.ui.answers = {false};
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Saver \"BISLPS-00104BALL\" on Memory card, OVERWRITE ?"});
    QCOMPARE(rig.ui.Texts("info"), (QStringList{"Download Saver Cancelled.",
                                                "Not enough free space to append saver."}));
    QCOMPARE(ReadAll(rig.card_image), image);

    // Yes: the old save's room takes the new one.
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("ball.PS1"));
    rig.ui.answers = {true};
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames().count("BISLPS-00104BALL"), 1);
    QCOMPARE(rig.ListNames().size(), 6);
    QVERIFY(!QFileInfo::exists(rig.Work("~replace.PS1")));

    // A bigger save of that name would not fit even in the room of the old
    // one: the old one stays.
    const QByteArray bigger = ball + QByteArray(8192, 'b');  // four blocks
    WriteAll(rig.Saver("bigger.PS1"), bigger);
    const QByteArray full = ReadAll(rig.card_image);
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("bigger.PS1"));
    rig.ui.answers = {true};
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Not enough free space to append saver."});
    QCOMPARE(ReadAll(rig.card_image), full);
  }

  void UploadTheWholeCard() {
    GuiRig rig(PS1Card());
    TForm1& w = rig.w();
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Saver("card.pss"));
    w.PS1ReadClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Upload complete."});
    QCOMPARE(rig.ui.dialogs[0].filter, QString("*.pss|*.pss"));
    QCOMPARE(ReadAll(rig.Saver("card.pss")), ReadAll(rig.card_image));

    // An existing file: No leaves it untouched and says nothing more.
    WriteAll(rig.Saver("card.pss"), "keep");
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Saver("card.pss"));
    rig.ui.answers = {false};
    w.PS1ReadClick();
    QCOMPARE(rig.ui.Questions(), QStringList{"File exists Overwrite ?"});
    QCOMPARE(rig.ui.Texts("info"), QStringList());
    QCOMPARE(ReadAll(rig.Saver("card.pss")), QByteArray("keep"));
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Saver("card.pss"));
    rig.ui.answers = {true};
    w.PS1ReadClick();
    QCOMPARE(ReadAll(rig.Saver("card.pss")), ReadAll(rig.card_image));

    // A file that cannot be written: the failure is reported.
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Work("no/such/folder/card.pss"));
    w.PS1ReadClick();
    QCOMPARE(rig.ui.Failures(), QStringList{"Upload Fail."});

    // The SmartMedia is no PS1 card: no file dialog.
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVSmart"));
    w.PS1ReadClick();
    QCOMPARE(rig.ui.Texts(), (QStringList{"DEVICEDlg", "Please insert PS1 Card."}));
  }

  void DownloadACardImageAndReadItsCatalogue() {
    GuiRig rig(PS1Card());
    TForm1& w = rig.w();
    QByteArray pss = ReadAll(rig.card_image);
    // Entry 0 deleted in the image to download.
    pss[128] = char(0xA1);
    char sum = 0;
    for (int i = 0; i < 127; ++i) sum ^= pss[128 + i];
    pss[128 + 127] = sum;
    WriteAll(rig.Saver("other.pss"), pss);

    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Saver("other.pss"));
    w.PS1writeClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download complete."});
    QCOMPARE(ReadAll(rig.card_image), pss);
    QCOMPARE(rig.ListNames(), (QStringList{"BASLUS-00102STARS", "BISLPS-00104BALL"}));

    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Saver("missing.pss"));
    w.PS1writeClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"File not exists."});

    // A file that is no card image: the failure is reported.
    WriteAll(rig.Saver("short.pss"), QByteArray(1000, 'x'));
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Saver("short.pss"));
    w.PS1writeClick();
    QCOMPARE(rig.ui.Failures(), QStringList{"Download Fail."});
    QCOMPARE(ReadAll(rig.card_image), pss);

    // Refused before anything was written: the list still shows the card.
    rig.Catalog("DEVPS1");
    const QStringList names = rig.ListNames();
    WriteAll(rig.Saver("long.pss"), pss + QByteArray(128, '\0'));
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.files.push_back(rig.Saver("long.pss"));
    w.PS1writeClick();
    QCOMPARE(rig.ui.Failures(), QStringList{"Download Fail."});
    QCOMPARE(ReadAll(rig.card_image), pss);
    QCOMPARE(rig.ListNames(), names);
    QVERIFY(w.DeleteSaver->isEnabled());

    // A PS2 card in the slot is no PS1 card either.
    GuiRig ps2(Cards("demo-ps2.ps2"));
    ps2.ui.modals.push_back(Click("DEVPS2"));
    ps2.w().PS1writeClick();
    QCOMPARE(ps2.ui.Texts("info"), QStringList{"Please insert PS1 Card."});
    QVERIFY(ps2.ui.Settled());
  }
};

QTEST_MAIN(PS1Test)
#include "ps1_test.moc"
