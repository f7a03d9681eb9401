// Card images in the window: opened and created from the File menu, listed in
// the device dialog beside the adapter's devices, and written by the save
// commands in their own format.
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QtTest>

#include "app/devicedlg.h"
#include "gui_rig.h"
#include "manager/archive_builder.h"
#include "manager/savecompare.h"
#include "manager/findsave.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

// The named save as our own reader backs it up from the image file.
QByteArray SaveArchive(const QString& image, const std::string& save) {
  sim::LoopbackSession s;
  s.adapter.InsertCard(sim::Medium::Open(image.toStdString(), sim::MediumKind::kPS2));
  manager::TPS2MFMSYS m(s.link);
  QTemporaryDir work;
  m.InitSystem(work.path().toStdString());
  m.Access().Medium = Slot::kCard;
  QByteArray out;
  const QString file = QDir(work.path()).filePath("save.psu");
  if (auto folder = manager::FindSave(m, save))
    if (m.BackupSaveFolder(file.toStdString(), *folder)) out = ReadAll(file);
  m.DoneSystem();
  return out;
}

}  // namespace

class ImagesTest : public QObject {
  Q_OBJECT

 private slots:
  void AnImageIsListedAndWrittenLikeACard() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    const QString image = rig.Insert("demo-ps2.ps2", "mine.ps2");
    rig.ui.files.push_back(image);
    w.OpenImageClick();
    QCOMPARE(rig.ListNames().size(), 7);
    // The saves' own icons, read from the image as from a card in the adapter.
    std::vector<int> frames;
    for (const SaveEntry& e : w.SaveEntries()) frames.push_back(e.frame_count);
    QCOMPARE(frames, (std::vector<int>{1, 8, 8, 1, 8, 3, 1}));
    QCOMPARE(w.DEVICENAME->text(), QString("PS2 CARD"));
    QCOMPARE(w.Label1->text(), QString("mine.ps2"));  // the pane names the image
    QCOMPARE(w.ListImage(), 0);
    QCOMPARE(w.RecentImages(), QStringList{image});
    QCOMPARE(w.RecentImages1->actions().size(), 1);

    // Appended to the image: the image file holds the save's bytes.
    const std::string payload(40000, 'i');
    WriteAll(rig.Work("new.psu"), QByteArray::fromStdString(manager::BuildSaveArchive(
                                      "BASLUS-30010IMAGE", {{"DATA", payload}}, 1709294400)));
    const QByteArray adapter_card = ReadAll(rig.card_image);
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Work("new.psu"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames().size(), 8);
    const QByteArray archive = SaveArchive(image, "BASLUS-30010IMAGE");
    QCOMPARE(archive.size(), 3 * 512 + 512 + 40960);
    QCOMPARE(archive.mid(4 * 512, 40000), QByteArray::fromStdString(payload));
    QCOMPARE(ReadAll(rig.card_image), adapter_card);

    // The device dialog offers the adapter's card and the open image.
    rig.ui.Clear();
    rig.ui.modals.push_back(Inspect(
        [](QDialog& d) {
          QVERIFY(d.findChild<QWidget*>("DEVPS2")->isVisibleTo(&d));
          QVERIFY(d.findChild<QWidget*>("DEVImage0")->isVisibleTo(&d));
        },
        "DEVPS2"));
    w.CatalogBtnClick();
    QCOMPARE(w.ListImage(), -1);
    QCOMPARE(rig.ListNames().size(), 7);
    rig.Catalog("DEVImage0");
    QCOMPARE(w.ListImage(), 0);
    QCOMPARE(rig.ListNames().size(), 8);

    // Without an adapter the dialog still offers the image.
    rig.session.platform.Unplug(rig.session.adapter);
    w.WMDeviceChange();
    rig.ui.Clear();
    rig.Catalog("DEVImage0");
    QCOMPARE(rig.ListNames().size(), 8);
    QVERIFY(rig.ui.Settled());
  }

  void NewImagesAreFormattedAndTakeSaves() {
    GuiRig rig(Cards("demo-ps1.mcr", "", sim::MediumKind::kPS1));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS1");
    rig.Select("BASLUS-00102STARS");
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.SaverBackupClick();

    const QString ps1 = rig.Work("new.mcr");
    rig.ui.Clear();
    rig.ui.files.push_back(ps1);
    w.NewImageClick();
    QCOMPARE(QFileInfo(ps1).size(), 131072);
    QCOMPARE(w.DEVICENAME->text(), QString("PS1 CARD"));
    QCOMPARE(rig.ListNames(), QStringList());
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames(), QStringList{"BASLUS-00102STARS"});
    // The save's two blocks sit in blocks 1 and 2 of the image, as on the card.
    const QByteArray save = ReadAll(rig.Saver("stars.PS1"));
    QCOMPARE(ReadAll(ps1).mid(8192, 2 * 8192), save.mid(128));

    const QString ps2 = rig.Work("new.ps2");
    rig.ui.files.push_back(ps2);
    w.NewImageClick();
    QCOMPARE(QFileInfo(ps2).size(), 8650752);
    QCOMPARE(w.DEVICENAME->text(), QString("PS2 CARD"));
    QCOMPARE(rig.ListNames(), QStringList());
    QCOMPARE(w.Images().size(), size_t{2});
    // A name of the layout without spare bytes gets 512-byte pages.
    const QString mc2 = rig.Work("new.mc2");
    rig.ui.files.push_back(mc2);
    w.NewImageClick();
    QCOMPARE(QFileInfo(mc2).size(), 8388608);
    QCOMPARE(rig.ListNames(), QStringList());
    QVERIFY(rig.ui.Settled());
    QCOMPARE(rig.ui.Texts("error"), QStringList());
  }

  void ImagesOfOtherLayoutsKeepTheirLayout() {
    GuiRig rig(Cards("demo-ps1.mcr", "", sim::MediumKind::kPS1));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS1");
    rig.Select("BASLUS-00102STARS");
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.SaverBackupClick();
    // A DexDrive image and a PSP image of a fresh card, and the raw one the
    // window makes: the same save goes to each.
    const QString raw = rig.Work("fresh.mcr");
    rig.ui.files.push_back(raw);
    w.NewImageClick();
    const QByteArray gme_head = QByteArray("123-456-STD").leftJustified(3904, '\0');
    const QByteArray vmp_head = QByteArray("\0PMV", 4).leftJustified(128, '\x5a');
    const QByteArray fresh = ReadAll(raw);
    WriteAll(rig.Work("fresh.gme"), gme_head + fresh);
    WriteAll(rig.Work("fresh.vmp"), vmp_head + fresh);
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.AppendSaverClick();
    rig.ui.Clear();
    rig.ui.files = {rig.Work("fresh.gme"), rig.Saver("stars.PS1")};
    w.OpenImageClick();
    QCOMPARE(w.DEVICENAME->text(), QString("PS1 CARD"));
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames(), QStringList{"BASLUS-00102STARS"});
    const QByteArray gme = ReadAll(rig.Work("fresh.gme"));
    QCOMPARE(gme.left(3904), gme_head);
    QCOMPARE(gme.mid(3904), ReadAll(raw));
    // The PSP image is signed: it is listed, and a change is refused.
    rig.ui.Clear();
    rig.ui.files = {rig.Work("fresh.vmp")};
    w.OpenImageClick();
    QCOMPARE(rig.ListNames(), QStringList());
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info").size(), qsizetype{1});
    QVERIFY(rig.ui.Texts("info")[0].contains("reading only"));
    QCOMPARE(ReadAll(rig.Work("fresh.vmp")), vmp_head + fresh);
    QVERIFY(rig.ui.Settled());
  }

  void EcclessImagesAreWrittenWithoutSpareBytes() {
    GuiRig rig(Cards(""));
    TForm1& w = rig.w();
    // The demo card without the 16 spare bytes of every page.
    const QByteArray full = ReadAll(DataFile("demo-ps2.ps2"));
    QByteArray data;
    for (qsizetype at = 0; at < full.size(); at += 528) data += full.mid(at, 512);
    const QString image = rig.Work("noecc.ps2");
    WriteAll(image, data);
    rig.ui.files = {image, rig.Work("new.psu")};
    WriteAll(rig.Work("new.psu"),
             QByteArray::fromStdString(manager::BuildSaveArchive(
                 "BASLUS-30012NOECC", {{"DATA", "no spare bytes"}}, 1709294400)));
    w.OpenImageClick();
    QCOMPARE(rig.ListNames().size(), 7);
    w.AppendSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(QFileInfo(image).size(), data.size());
    QCOMPARE(SaveArchive(image, "BASLUS-30012NOECC").mid(4 * 512, 14),
             QByteArray("no spare bytes"));
    QVERIFY(ImageHealthy(image, sim::MediumKind::kPS2));
  }

  void CopyBetweenTwoImagesIsVerified() {
    GuiRig rig(Cards(""));
    TForm1& w = rig.w();
    const QString a = rig.Insert("demo-ps2.ps2", "a.ps2");
    rig.ui.files = {a, rig.Work("b.ps2")};
    w.OpenImageClick();
    QVERIFY(!w.OtherPanel->isVisibleTo(&w));
    w.NewImageClick();
    // Two devices open: the split view shows the first beside the second.
    QVERIFY(w.OtherPanel->isVisibleTo(&w));
    QCOMPARE(w.OtherList->count(), 7);
    rig.Catalog("DEVImage0");
    QCOMPARE(w.OtherList->count(), 0);
    rig.ui.Clear();
    rig.Select("BASLUS-21003SIZES");
    w.CopySaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Copy complete."});
    QCOMPARE(w.OtherList->count(), 1);
    QCOMPARE(w.ListImage(), 0);
    QCOMPARE(rig.ListNames().size(), 7);
    // The copy backs up to the source's save, apart from where it sits.
    rig.Select("BASLUS-21003SIZES");
    rig.ui.files.push_back(rig.Work("from-a.psu"));
    w.SaverBackupClick();
    rig.Catalog("DEVImage1");
    rig.Select("BASLUS-21003SIZES");
    rig.ui.files.push_back(rig.Work("from-b.psu"));
    w.SaverBackupClick();
    QCOMPARE(ReadAll(rig.Work("from-b.psu")).size(), ReadAll(rig.Work("from-a.psu")).size());
    QVERIFY(manager::SameSaveArchive(rig.Work("from-a.psu").toStdString(),
                                     rig.Work("from-b.psu").toStdString()));
    // Copying it again asks before replacing the copy.
    rig.Catalog("DEVImage0");
    rig.Select("BASLUS-21003SIZES");
    rig.ui.Clear();
    rig.ui.answers = {false};
    w.CopySaverClick();
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Saver \"BASLUS-21003SIZES\" on Memory card, OVERWRITE ?"});
    QCOMPARE(rig.ui.Texts("info"), QStringList());
    QVERIFY(rig.ui.Settled());
  }

  // The target keeps other bytes than it was sent (with page codes that
  // match them): only the read-back tells, and the copy is no success.
  void ACopyTheTargetReadsBackWrongIsAFailure() {
    GuiRig rig(Cards(""));
    TForm1& w = rig.w();
    WriteAll(rig.Work("q.psu"), QByteArray::fromStdString(manager::BuildSaveArchive(
                                    "BASLUS-30011COPY", {{"DATA", std::string(4000, 'Q')}},
                                    1709294400)));
    rig.ui.files = {rig.Work("a.ps2"), rig.Work("q.psu"), rig.Work("b.ps2")};
    w.NewImageClick();
    w.AppendSaverClick();
    w.NewImageClick();
    rig.Catalog("DEVImage0");
    w.Images()[1]->session->Loopback().adapter.write_filter = [](std::span<uint8_t> page) {
      if (std::all_of(page.begin(), page.begin() + 16, [](uint8_t b) { return b == 'Q'; }))
        page[100] = 'R';
    };
    rig.ui.Clear();
    w.Savertableview->setCurrentRow(0);  // the save, listed by its file's name
    w.CopySaverClick();
    QCOMPARE(rig.ui.Texts("fail"),
             QStringList{"Copy Fail.\nthe copy on the other card reads back different bytes"});
    QVERIFY(rig.ui.Settled());
  }
};

QTEST_MAIN(ImagesTest)
#include "images_test.moc"
