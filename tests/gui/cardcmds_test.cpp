// Formatting each kind of card, the SmartMedia's PC format, and what the
// window does with a list whose card was just erased.
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include "gui_rig.h"
#include "manager/ps1card.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

// The data bytes of every page of a 528-byte-page image are erased.
bool AllDataErased(const QByteArray& image) {
  for (qsizetype page = 0; page + 528 <= image.size(); page += 528)
    for (qsizetype i = 0; i < 512; ++i)
      if (static_cast<uint8_t>(image[page + i]) != 0xFF) return false;
  return true;
}

}  // namespace

class CardCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void PS1FormatAsksOnce() {
    GuiRig rig(Cards("demo-ps1.mcr", "", sim::MediumKind::kPS1));
    TForm1& w = rig.w();
    const QByteArray image = ReadAll(rig.card_image);
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.answers = {false};
    w.FormattoPS2Click();
    QCOMPARE(rig.ui.Questions(),
             QStringList{"The PS1 card will be Erease, Card data will be lose, Erase?"});
    QCOMPARE(ReadAll(rig.card_image), image);

    rig.Catalog("DEVPS1");
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVPS1"));
    rig.ui.answers = {true};
    w.FormattoPS2Click();
    QCOMPARE(rig.ui.Texts("info"),
             QStringList{QString::fromUtf8("PS1　メモリーカード Format complete. Please reset Adaptor. ")});
    QCOMPARE(w.ProgressBar1->maximum(), 63);
    QCOMPARE(w.ProgressBar1->value(), 63);
    const QByteArray after = ReadAll(rig.card_image);
    // A formatted card: the header block of a fresh card, the saves' blocks
    // as they were.
    const std::vector<uint8_t> fresh = manager::FormattedPS1Card();
    QCOMPARE(after.left(8192), QByteArray(reinterpret_cast<const char*>(fresh.data()), 8192));
    QCOMPARE(after.mid(8192), image.mid(8192));
    // The list of the erased card is gone with it.
    QCOMPARE(rig.w().Savertableview->count(), 0);
    rig.ui.Clear();
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts(), QStringList{"Device not opened"});
    // The formatted card offers all its room; one without its header, none.
    rig.Catalog("DEVPS1");
    QVERIFY(w.FreesizeLabel->text().startsWith("120Kbytes"));
    const QString blank = rig.Work("blank.mcr");
    WriteAll(blank, QByteArray(131072, '\0'));
    rig.session.adapter.InsertCard(sim::Medium::Open(blank.toStdString(), sim::MediumKind::kPS1));
    rig.Catalog("DEVPS1");
    QCOMPARE(w.FreesizeLabel->text(), QString("Not formatted"));
  }

  void PS2AndSmartMediaFormatsAskTwice_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("word");
    QTest::newRow("ps2") << "DEVPS2" << "PS2 MemoryCard";
    QTest::newRow("smartmedia") << "DEVSmart" << "SmartMediaCard";
  }
  void PS2AndSmartMediaFormatsAskTwice() {
    QFETCH(QString, button);
    QFETCH(QString, word);
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    const QString image_path = button == "DEVPS2" ? rig.card_image : rig.sm_image;
    const QString other_path = button == "DEVPS2" ? rig.sm_image : rig.card_image;
    const QByteArray image = ReadAll(image_path);
    const QByteArray other = ReadAll(other_path);
    const QString first = "The " + word + " will be Erease, " + word + " data will be lose, Erase?";
    const QString second =
        "The " + word + " turn to Unformated card show in PS2, and Disappear Driver in PC, Continous?";

    for (const QList<bool>& answers : {QList<bool>{false}, QList<bool>{true, false}}) {
      rig.ui.Clear();
      rig.ui.modals.push_back(Click(button));
      rig.ui.answers.assign(answers.begin(), answers.end());
      w.FormattoPS2Click();
      QCOMPARE(rig.ui.Questions(), (QStringList{first, second}.mid(0, answers.size())));
      QCOMPARE(ReadAll(image_path), image);
    }

    rig.Catalog(button);
    rig.ui.Clear();
    rig.ui.modals.push_back(Click(button));
    rig.ui.answers = {true, true};
    w.FormattoPS2Click();
    QCOMPARE(rig.ui.Questions(), (QStringList{first, second}));
    QCOMPARE(rig.ui.Texts("info"), QStringList{word + " Format complete. Please reset Adaptor."});
    QVERIFY(AllDataErased(ReadAll(image_path)));
    QCOMPARE(ReadAll(other_path), other);
    QVERIFY(w.TreeView1->topLevelItemCount() == 0);
    QVERIFY(!w.AppendSaver->isEnabled());
  }

  void FormatOfAnotherDeviceKeepsTheList() {
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    rig.ui.modals.push_back(Click("DEVSmart"));
    rig.ui.answers = {true, true};
    w.FormattoPS2Click();
    QCOMPARE(rig.ListNames().size(), 7);
    // The save commands still work on the card whose saves are listed.
    rig.Select("BASLUS-21003SIZES");
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("sizes.psu"));
    w.SaverBackupClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Upload Saver complete."});
    QCOMPARE(w.PS2MFMSYS1.Access().Medium, Slot::kCard);
    QCOMPARE(w.DEVICENAME->text(), QString("PS2 CARD"));
    QVERIFY(ReadAll(rig.Saver("sizes.psu")).contains("BASLUS-21003SIZES"));
  }

  // A card command that opened the other slot's card and changed nothing
  // leaves the listed card's save commands as they were: a backup reads the
  // same bytes, and a delete leaves the card byte for byte as the same
  // delete made straight after the catalogue, the first time.
  void SaveCommandsAfterACardCommandOnTheOtherSlot_data() {
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("other");
    QTest::newRow("smartmedia list") << "DEVSmart"
                                     << "DEVPS2";
    QTest::newRow("ps2 list") << "DEVPS2"
                              << "DEVSmart";
  }
  void SaveCommandsAfterACardCommandOnTheOtherSlot() {
    QFETCH(QString, listed);
    QFETCH(QString, other);
    const bool sm = listed == "DEVSmart";
    const QString save = sm ? "BASLUS-21101SMART" : "BASLUS-21003SIZES";
    auto listed_image = [sm](GuiRig& r) { return sm ? r.sm_image : r.card_image; };
    auto other_image = [sm](GuiRig& r) { return sm ? r.card_image : r.sm_image; };
    auto remove = [&save](GuiRig& r) {
      r.Select(save);
      r.ui.Clear();
      r.ui.answers = {true};
      r.w().DeleteSaverClick();
      return r.ui.Texts("info");
    };
    auto backup = [&save](GuiRig& r, const QString& file) {
      r.Select(save);
      r.ui.files.push_back(r.Saver(file));
      r.w().SaverBackupClick();
      return ReadAll(r.Saver(file));
    };

    GuiRig straight(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    straight.Catalog(listed);
    QCOMPARE(remove(straight), QStringList{"Delete complete."});

    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    const QByteArray other_before = ReadAll(other_image(rig));
    rig.Catalog(listed);
    const QByteArray copy = backup(rig, "before.psu");
    QVERIFY(copy.contains(save.toLatin1()));
    // "E&xpanded Memory Erase" on the other slot, declined at its question.
    rig.ui.modals.push_back(Click(other));
    rig.ui.answers = {false};
    w.FormattoPS2Click();
    QVERIFY(rig.ui.Settled());
    QCOMPARE(backup(rig, "after.psu"), copy);
    QCOMPARE(remove(rig), QStringList{"Delete complete."});
    QVERIFY(!rig.ListNames().contains(save));
    QCOMPARE(ReadAll(listed_image(rig)), ReadAll(listed_image(straight)));
    QCOMPARE(ReadAll(other_image(rig)), other_before);
    QVERIFY(
        ImageHealthy(listed_image(rig), sm ? sim::MediumKind::kSmartMedia : sim::MediumKind::kPS2));
  }

  // A PC format that fails before it erases anything (the adapter stops
  // answering once the image is chosen) leaves the card and its list.
  void APCFormatThatChangedNothingKeepsTheList() {
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog("DEVSmart");
    const QByteArray sm = ReadAll(rig.sm_image);
    const QStringList names = rig.ListNames();
    const QString free_text = w.FreesizeLabel->text();
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVSmart"));
    rig.ui.modals.push_back([&rig](QDialog& d) {
      rig.session.adapter.SilentAfter(0);
      static_cast<TPCformatDlg&>(d).OKBtn->click();
      return d.result();
    });
    rig.ui.answers = {true, true};
    w.FormattoPCClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Format Not Complete.."});
    rig.session.adapter.ClearFaults();
    QCOMPARE(ReadAll(rig.sm_image), sm);
    QCOMPARE(rig.ListNames(), names);
    QVERIFY(w.DeleteSaver->isEnabled() && w.AppendSaver->isEnabled());
    QCOMPARE(w.FreesizeLabel->text(), free_text);
  }

  void CheckAndRepairShowsThePlanAndFreesALostCluster() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    // Allocation table entry 5000 (card page 57, bytes 32..35) in use, though
    // no file reaches its cluster.
    auto card = rig.session.adapter.card()->bytes();
    const size_t entry = 57 * 528 + 32;
    const QByteArray free_entry(reinterpret_cast<const char*>(card.data()) + entry, 4);
    std::fill_n(card.begin() + entry, 4, uint8_t{0xFF});
    rig.ui.Clear();
    rig.ui.answers.push_back(false);
    w.CheckRepairClick();
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Repair the card?\ncluster 5000: free: in use, but no file or folder "
                         "reaches it"});
    QVERIFY(std::all_of(card.begin() + entry, card.begin() + entry + 4,
                        [](uint8_t b) { return b == 0xFF; }));

    rig.ui.Clear();
    rig.ui.answers.push_back(true);
    w.CheckRepairClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Repair complete."});
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(card.data()) + entry, 4), free_entry);
    QCOMPARE(rig.ListNames().size(), 7);
    rig.ui.Clear();
    w.CheckRepairClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"No problems found on the card."});
    QVERIFY(rig.ui.Settled());
  }

  void PCFormatOffersOnlyTheSmartMedia() {
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    bool card_enabled = true;
    QString preselected;
    rig.ui.modals.push_back(Inspect(
        [&card_enabled](QDialog& d) {
          card_enabled = d.findChild<QPushButton*>("DEVPS2")->isEnabled();
        },
        "DEVSmart"));
    rig.ui.modals.push_back([&preselected](QDialog& d) {
      auto& pc = static_cast<TPCformatDlg&>(d);
      preselected = pc.ImageName;
      pc.OKBtn->click();
      return pc.result();
    });
    rig.ui.answers = {true, true};
    w.FormattoPCClick();
    QVERIFY(!card_enabled);
    QCOMPARE(preselected, QString("pcf16M.bin"));
    QCOMPARE(rig.ui.Questions(),
             (QStringList{"The SmartMedia will be Erease, SmartMedia data will be lose, Erase?",
                          "The SmartMedia turn to Unformated card show in PS2, and Show Driver in "
                          "PC(must logical format need on PC), Continous?"}));
    QCOMPARE(rig.ui.Texts("info"),
             QStringList{"Now SmartMedia turn to PC Format(Phyical formated)..Please Use PC for "
                         "Logical Format now."});
    // The image's first 1,152 pages (data bytes only) are on the card.
    const QByteArray pcf = ReadAll(rig.Work("pcf16M.bin"));
    const QByteArray sm = ReadAll(rig.sm_image);
    QCOMPARE(sm.mid(0, 512), pcf.mid(0, 512));
    QCOMPARE(sm.mid(528, 512), pcf.mid(528, 512));
    QVERIFY(rig.forms->DEVICEDlg->DEVPS2->isEnabled());
    QVERIFY(rig.forms->DEVICEDlg->DEVPS1->isEnabled());
    // An ordinary catalogue offers the card again.
    rig.Catalog("DEVPS2");
    QCOMPARE(rig.ListNames().size(), 7);
  }

  void PCFormatStopsAtCancelAndAtAMissingImage() {
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    const QByteArray sm = ReadAll(rig.sm_image);
    rig.ui.modals.push_back(Click("DEVSmart"));
    rig.ui.modals.push_back(Click("CancelBtn"));
    w.FormattoPCClick();
    QCOMPARE(rig.ui.Questions(), QStringList());

    QFile::remove(rig.Work("pcf8M.bin"));
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVSmart"));
    rig.ui.modals.push_back([](QDialog& d) {
      auto& pc = static_cast<TPCformatDlg&>(d);
      pc.RadioButton2->click();
      pc.OKBtn->click();
      return pc.result();
    });
    rig.ui.answers = {true, true};
    w.FormattoPCClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Error in missing file " + rig.Work("pcf8M.bin")});
    QCOMPARE(ReadAll(rig.sm_image), sm);

    // Without a SmartMedia only Cancel can be chosen.
    GuiRig card_only(Cards("demo-ps2.ps2"));
    card_only.ui.modals.push_back(Click("DEVClose"));
    card_only.w().FormattoPCClick();
    QVERIFY(card_only.ui.Settled());
    QVERIFY(card_only.ui.Questions().isEmpty());
  }
};

QTEST_MAIN(CardCommandsTest)
#include "cardcmds_test.moc"
