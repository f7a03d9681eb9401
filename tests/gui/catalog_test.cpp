// OPEN/CATALOG on each kind of card, the save list built from it (titles,
// sizes, animated icons, selection and marker), the device indicator, reset
// and exit.
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QtTest>

#include "app/busyanimation.h"
#include "gui_rig.h"
#include "manager/archive_builder.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

constexpr std::time_t kWhen = 1709294400;

// An "ICON.SYS" whose title is `title` and list icon "list.ico".
std::string IconSys(const std::string& title) {
  std::string data(964, '\0');
  data.replace(0, 4, "PS2D");
  data.replace(0xC0, title.size(), title);
  data.replace(0x104, 8, "list.ico");
  return data;
}

QStringList Visible(QDialog& d, std::initializer_list<const char*> names) {
  QStringList out;
  for (const char* n : names)
    if (auto* w = d.findChild<QWidget*>(n); w && w->isVisibleTo(&d)) out << n;
  return out;
}

}  // namespace

class CatalogTest : public QObject {
  Q_OBJECT

 private slots:
  void PS2CardListsItsSavesWithTitlesAndIcons() {
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    QCOMPARE(w.windowTitle(), QString("TRAVOSK v3.010e"));
    QCOMPARE(w.Label1->text(), QString("UNKOWN AREA"));
    QVERIFY(!w.AppendSaver->isEnabled() && !w.savereditbtn->isEnabled());
    QCOMPARE(w.StatusPanels[0]->text(), QString("Notthing selected"));

    rig.ui.modals.push_back(Inspect(
        [](QDialog& d) {
          QCOMPARE(Visible(d, {"NODEVICE", "DEVPS1", "DEVPS2", "DEVSmart", "DEVClose"}),
                   (QStringList{"DEVPS2", "DEVSmart", "DEVClose"}));
        },
        "DEVPS2"));
    w.CatalogBtnClick();
    QVERIFY(rig.ui.Settled());
    QCOMPARE(rig.ListNames(),
             (QStringList{"BASLUS-21001TRAVOSK", "BISLPS-21002MEMCARD", "BASLUS-21003SIZES",
                          "BASLUS-21004BIGDATA", "BISLPS-21005ADVENTURE", "BESCES-21006SPINNER",
                          "BASLUS-21007ICONONLY"}));
    // Titles decoded from Shift-JIS, a space at the break of their two lines;
    // the PS1 save in a folder shows its own.
    QCOMPARE(w.Savertableview->item(1)->data(TForm1::kTitleRole).toString(),
             QString::fromUtf8("メモリーカード デモ　セーブ"));
    QCOMPARE(w.Savertableview->item(5)->data(TForm1::kTitleRole).toString(),
             QString("SPINNING TOP"));
    QCOMPARE(w.Label1->text(), QString("8MBytes Memory Detected."));
    QCOMPARE(w.DEVICENAME->text(), QString("PS2 CARD"));
    QVERIFY(w.FreesizeLabel->text().endsWith(QString::fromUtf8("Kbytes 空容量")));
    QVERIFY(w.StatusPanels[2]->text().contains("K Used about "));
    QVERIFY(w.StatusPanels[2]->text().endsWith("K Free"));
    QCOMPARE(w.StatusPanels[1]->text(), QString());
    QVERIFY(w.AppendSaver->isEnabled() && w.SaverBackup->isEnabled() &&
            w.DeleteSaver->isEnabled() && w.savereditbtn->isEnabled());
    QVERIFY(w.Animate1->isHidden());
    QVERIFY(rig.forms->NotifyForm->isHidden());

    // The hidden index tree and its trace lines.
    QCOMPARE(w.TreeView1->topLevelItem(0)->text(0), QString("Memory Card"));
    QCOMPARE(w.TreeView1->topLevelItem(0)->childCount(), 7);
    QVERIFY(w.Memo1->toPlainText().startsWith("Dir :\"BASLUS-21001TRAVOSK\" now"));
    QVERIFY(w.Memo1->toPlainText().contains(QRegularExpression(
        "File:\"icon.sys\" now[0-9A-F]{8}:[0-9A-F]{8} next:[0-9A-F]{8}:[0-9A-F]{8} relat:[0-9A-F]{8}")));
    QVERIFY(w.Memo2->toPlainText().startsWith("TRAVOSK DEMOFIRST SAVE name: list.ico"));

    // Saves with "ICON.SYS" show their own rendered icons, eight pictures of
    // an animated one; the save whose icon file is missing shows the generic
    // image 0; the spinner cycles through its three PS1 frames.
    const int frames[7] = {1, 8, 8, 1, 8, 3, 1};
    int next = 1;
    for (int i = 0; i < 7; ++i) {
      const SaveEntry& e = w.SaveEntries()[i];
      QCOMPARE(e.frame_count, frames[i]);
      QCOMPARE(e.first_image, i == 6 ? 0 : next);
      QCOMPARE(w.Savertableview->item(i)->data(TForm1::kImageRole).toInt(), e.first_image);
      if (i != 6) next += frames[i];
    }
    QCOMPARE(w.savertableImage.Count(), next);
    const int spinner = w.SaveEntries()[5].first_image, cube = w.SaveEntries()[1].first_image;
    QVERIFY(w.savertableImage.At(cube).toImage() != w.savertableImage.At(0).toImage());
    QList<int> seen;
    for (int round = 0; round < 3; ++round) {
      for (int tick = 0; tick < 7; ++tick) w.Timer1Timer();  // one item per tick
      seen << w.Savertableview->item(5)->data(TForm1::kImageRole).toInt();
    }
    QCOMPARE(seen, (QList<int>{spinner + 1, spinner + 2, spinner}));
    QCOMPARE(w.Savertableview->item(1)->data(TForm1::kImageRole).toInt(), cube + 3);
    QCOMPARE(w.Savertableview->item(0)->data(TForm1::kImageRole).toInt(), 1);
    QCOMPARE(w.Savertableview->item(6)->data(TForm1::kImageRole).toInt(), 0);

    // Selecting a save: its caption, its size, and the blinking marker.
    rig.Select("BASLUS-21004BIGDATA");
    QVERIFY(w.SaveSelected());
    // The title's two lines with a space at their break.
    QCOMPARE(w.SelectLabel->text(), QString("BASLUS-21004BIGDATA BIG SAVE ABOUT ONE MEGABYTE"));
    QCOMPARE(w.SAVERSIZELabel->text(),
             QString::number(w.SaveEntries()[3].size / 1024) + "KBytes ");
    QCOMPARE(w.Savertableview->item(3)->data(TForm1::kStateRole).toInt(), 0);
    QList<int> blink;
    for (int i = 0; i < 4; ++i) {
      w.Timer2Timer();
      blink << w.Savertableview->item(3)->data(TForm1::kStateRole).toInt();
    }
    QCOMPARE(blink, (QList<int>{1, 2, 3, 0}));
    rig.Select("BASLUS-21001TRAVOSK");
    QCOMPARE(w.Savertableview->item(3)->data(TForm1::kStateRole).toInt(), -1);
    QCOMPARE(w.Savertableview->item(0)->data(TForm1::kStateRole).toInt(), 0);
    QCOMPARE(w.MarkerIndex(), 0);
  }

  void SizesChargeEveryFileAndEmptyFoldersGiveNoItem() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    std::vector<int64_t> before;
    for (const SaveEntry& e : w.SaveEntries()) before.push_back(e.size);

    const std::string known = manager::BuildSaveArchive(
        "BASLUS-30001KNOWN",
        {{"icon.sys", IconSys("KNOWN SIZES")}, {"DATA", std::string(3000, 'x')}}, kWhen);
    WriteAll(rig.Saver("known.psu"), QByteArray::fromStdString(known));
    WriteAll(rig.Saver("empty.psu"),
             QByteArray::fromStdString(manager::BuildSaveArchive("BASLUS-30002EMPTY", {}, kWhen)));
    for (const char* file : {"empty.psu", "known.psu"}) {
      rig.ui.files.push_back(rig.Saver(file));
      w.AppendSaverClick();
    }
    QCOMPARE(rig.ui.Texts("info"),
             (QStringList{"Download Saver complete.", "Download Saver complete."}));
    QCOMPARE(w.TreeView1->topLevelItem(0)->childCount(), 9);  // the empty folder is on the card
    QCOMPARE(w.SaveEntries().size(), size_t{8});
    QCOMPARE(rig.ListNames().last(), QString("BASLUS-30001KNOWN"));
    // What the save occupies on the card, in whole 1,024-byte clusters: its
    // folder's four entries (two files, "." and ".."), 964 and 3,000 bytes.
    QCOMPARE(w.SaveEntries().back().size, int64_t{2048 + 1024 + 3072});
    for (size_t i = 0; i < before.size(); ++i) QCOMPARE(w.SaveEntries()[i].size, before[i]);
    // The file system's own free clusters: the demo card's 6,820 KiB less one
    // cluster for the empty folder, six for the other and one more for the
    // root directory's two new entries.
    QCOMPARE(w.FreesizeLabel->text(), QString::fromUtf8("6812Kbytes 空容量"));
    rig.Select("BASLUS-30001KNOWN");
    QCOMPARE(w.SAVERSIZELabel->text(), QString("6KBytes "));

    // A fresh card: the whole file system's room, not the card's capacity.
    rig.ui.files.push_back(rig.Work("fresh.ps2"));
    w.NewImageClick();
    QCOMPARE(w.FreesizeLabel->text(), QString::fromUtf8("8134Kbytes 空容量"));
  }

  // A folder without "ICON.SYS" whose last file is no PS1 save (no "SC"):
  // the generic icon and the folder's name, not its bytes read as a title,
  // a frame count and a palette.
  void AFolderWhoseLastFileIsNoPS1SaveShowsTheGenericIcon() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    std::string junk(3000, '\x83');
    junk[2] = 0x13;  // would read as three icon frames
    WriteAll(rig.Saver("junk.psu"), QByteArray::fromStdString(manager::BuildSaveArchive(
                                        "BASLUS-30003JUNK", {{"DATA", junk}}, kWhen)));
    rig.ui.files.push_back(rig.Saver("junk.psu"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    const SaveEntry& e = w.SaveEntries().back();
    QCOMPARE(e.name, std::string("DATA"));
    QCOMPARE(e.title, std::string("BASLUS-30003JUNK"));
    QCOMPARE(e.frame_count, 1);
    QCOMPARE(e.first_image, 0);
    QListWidgetItem* item = w.Savertableview->item(w.Savertableview->count() - 1);
    QCOMPARE(item->data(TForm1::kTitleRole).toString(), QString("BASLUS-30003JUNK"));
    QCOMPARE(item->data(TForm1::kImageRole).toInt(), 0);
  }

  void PS1CardListsItsSaves() {
    GuiRig rig(Cards("demo-ps1.mcr", "demo-sm16.bin", sim::MediumKind::kPS1));
    TForm1& w = rig.w();
    rig.ui.modals.push_back(Inspect(
        [](QDialog& d) {
          QCOMPARE(Visible(d, {"NODEVICE", "DEVPS1", "DEVPS2", "DEVSmart", "DEVClose"}),
                   (QStringList{"DEVPS1", "DEVSmart", "DEVClose"}));
          QVERIFY(d.findChild<QPushButton*>("DEVPS1")->isDefault());
        },
        "DEVPS1"));
    w.CatalogBtnClick();
    // The deleted save is not listed.
    QCOMPARE(rig.ListNames(),
             (QStringList{"BASLUS-00101TRAVOSK", "BASLUS-00102STARS", "BISLPS-00104BALL"}));
    QCOMPARE(w.Savertableview->item(2)->data(TForm1::kTitleRole).toString(),
             QString::fromUtf8("ＴＲＡＶＯＳＫ　デモ　３ブロック"));
    QCOMPARE(w.TreeView1->topLevelItem(0)->text(0), QString::fromUtf8("PS1 メモリーカード"));
    QCOMPARE(w.Label1->text(), QString("128KBytes Memory Detected."));
    QCOMPARE(w.DEVICENAME->text(), QString("PS1 CARD"));
    // 1 + 2 + 3 blocks in use.
    QCOMPARE(w.FreesizeLabel->text(), QString::number((122880 - 6 * 8192) / 1024) +
                                          QString::fromUtf8("Kbytes 空容量"));
    QCOMPARE(w.savertableImage.Count(), 1 + 2 + 3);
    QCOMPARE(w.ProgressBar1->value(), 2);

    // Three saves: each animated save advances once every three ticks.
    QList<int> ball;
    for (int round = 0; round < 4; ++round) {
      for (int tick = 0; tick < 3; ++tick) w.Timer1Timer();
      ball << w.Savertableview->item(2)->data(TForm1::kImageRole).toInt();
    }
    QCOMPARE(ball, (QList<int>{4, 5, 3, 4}));
    QCOMPARE(w.Savertableview->item(0)->data(TForm1::kImageRole).toInt(), 0);

    rig.Select("BASLUS-00102STARS");
    QVERIFY(w.PS1List().selected);
    QCOMPARE(w.SelectLabel->text(), QString("BASLUS-00102STARS TWO BLOCKS OF STARS"));
    QCOMPARE(w.SAVERSIZELabel->text(), QString("16KBytes "));
  }

  void SmartMediaIsCataloguedLikeAPS2Card() {
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog("DEVSmart");
    QCOMPARE(rig.ListNames(), (QStringList{"BASLUS-21101SMART", "BESCES-21102STARS"}));
    QCOMPARE(w.DEVICENAME->text(), QString("SMART CARD"));
    QCOMPARE(w.Label1->text(), QString("16MBytes Memory Detected."));
    QCOMPARE(w.PS2MFMSYS1.Access().Medium, Slot::kSmartMedia);
    QCOMPARE(w.SaveEntries()[1].frame_count, 2);

    // With the card slot empty the SmartMedia is still offered.
    GuiRig alone(Cards("", "demo-sm16.bin"));
    alone.ui.modals.push_back(Inspect(
        [](QDialog& d) {
          QCOMPARE(Visible(d, {"NODEVICE", "DEVPS1", "DEVPS2", "DEVSmart", "DEVClose"}),
                   (QStringList{"DEVSmart", "DEVClose"}));
        },
        "DEVSmart"));
    alone.w().CatalogBtnClick();
    QCOMPARE(alone.ListNames().size(), 2);
    QCOMPARE(alone.w().DEVICENAME->text(), QString("SMART CARD"));
  }

  void NoDeviceOrNoAdapterLeavesTheListAlone() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    const QStringList names = rig.ListNames();
    rig.session.adapter.InsertCard(nullptr);
    rig.ui.modals.push_back(Inspect(
        [](QDialog& d) {
          QCOMPARE(Visible(d, {"NODEVICE", "DEVPS1", "DEVPS2", "DEVSmart", "DEVClose"}),
                   (QStringList{"NODEVICE", "DEVClose"}));
        },
        "DEVClose"));
    w.CatalogBtnClick();
    QCOMPARE(rig.ListNames(), names);
    QVERIFY(w.AppendSaver->isEnabled());  // disabled only once a device is chosen
    QCOMPARE(w.SelectLabel->text(), QString("SELECT SAVER"));

    rig.ui.Clear();
    rig.session.platform.Unplug(rig.session.adapter);
    w.CatalogBtnClick();
    QCOMPARE(rig.ui.Texts(), QStringList{"Can not connect PS2."});
    QCOMPARE(rig.ListNames(), names);
  }

  void MissingIconPictureIsReportedAndTheWindowRecovers() {
    RigSetup setup = Cards("demo-ps2.ps2");
    setup.generic_icon = false;
    GuiRig rig(setup);
    rig.Catalog("DEVPS2");
    QCOMPARE(rig.ui.Texts("error").size(), 1);
    QVERIFY(rig.ui.Texts("error")[0].contains("PS2ICO.bmp"));
    QVERIFY(rig.w().Animate1->isHidden());
    QVERIFY(rig.forms->NotifyForm->isHidden());
    QCOMPARE(rig.w().OperationCaption(), QString());
  }

  void SaversFolderThatCannotBeMadeIsReported() {
    QTemporaryDir work;
    WriteAll(QDir(work.path()).filePath("savers"), "a file where the folder should be");
    sim::LoopbackSession session;
    ScriptedUi ui;
    FormSet forms(session.link, ui, work.path());
    const QString path = QDir(work.path()).filePath("savers");
    QCOMPARE(ui.Texts("error"),
             QStringList{QString::fromUtf8("セーバーフォルダを作成できませんでした。") + "\r\n" + path});
    // The window still opens and reads cards.
    QVERIFY(forms.Form1->CatalogBtn->isEnabled());
  }

  void UsbImageFollowsPlugAndUnplug() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    QVERIFY(!w.USBImage->isHidden());
    rig.session.platform.Unplug(rig.session.adapter);
    w.WMDeviceChange();
    QVERIFY(w.USBImage->isHidden());
    rig.session.platform.Plug(rig.session.adapter);
    w.WMDeviceChange();
    QVERIFY(!w.USBImage->isHidden());
    rig.Catalog("DEVPS2");
    QCOMPARE(rig.ListNames().size(), 7);
  }

  void ResetAndExit() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    w.show();
    w.BitBtn1Click();
    QCOMPARE(rig.ui.beeps, 1);
    QVERIFY(rig.ui.Texts().isEmpty());
    rig.session.platform.Unplug(rig.session.adapter);
    w.BitBtn1Click();
    QCOMPARE(rig.ui.Texts(), QStringList{"Can not connect PS2."});
    rig.session.platform.Plug(rig.session.adapter);
    w.WMDeviceChange();
    const uint64_t resets = rig.session.adapter.counters().Packets(0xCA, 0x59);
    w.EXITClick();
    QVERIFY(!w.isVisible());
    QVERIFY(rig.session.adapter.counters().Packets(0xCA, 0x59) > resets);
  }
};

QTEST_MAIN(CatalogTest)
#include "catalog_test.moc"
