// The save preview: a double click on a PS2 save opens its own icon, larger,
// animated and turning, with its title, size, dates and files; a save
// without a usable icon shows its list picture.
#include <QLabel>
#include <QListWidget>
#include <QtTest>
#include <fcntl.h>
#include <ctime>
#include <sys/file.h>
#include <unistd.h>

#include "app/iconpreview.h"
#include "gui_rig.h"

using namespace travosk;
using namespace travosk::testing;

class PreviewTest : public QObject {
  Q_OBJECT

 private slots:
  void DoubleClickShowsTheSavesOwnIconAndFacts() {
    qputenv("TZ", "UTC0");
    tzset();
    GuiRig rig(Cards("demo-ps2.ps2", "demo-sm16.bin"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    QVERIFY(rig.ui.Settled());

    bool shown = false;
    rig.ui.modals.push_back(Inspect(
        [&](QDialog& d) {
          shown = true;
          QCOMPARE(d.objectName(), QString("IconPreview"));
          auto& preview = static_cast<TIconPreview&>(d);
          const QString facts = preview.Facts->text();
          QVERIFY(facts.startsWith(
              QString::fromUtf8("メモリーカード デモ　セーブ\nBISLPS-21002MEMCARD")));
          // Kept on the card in Japan time (21:00), shown in the user's.
          QVERIFY(facts.contains("Created: 2024-03-01 12:00:00"));
          QVERIFY(facts.contains("  icon.sys  964 bytes"));
          QVERIFY(facts.contains("  SAVE.DAT  100,000 bytes"));
          const QImage first = preview.Frame(0).toImage(), later = preview.Frame(20).toImage();
          QCOMPARE(first.size(), QSize(TIconPreview::kSide, TIconPreview::kSide));
          QVERIFY(first != later);                              // animated and turning
          QVERIFY(first.pixel(128, 128) != first.pixel(2, 2));  // the cube over its background
          QVERIFY(preview.Animation->isActive());
        },
        "CloseBtn"));
    QListWidgetItem* cube = w.Savertableview->item(rig.Row("BISLPS-21002MEMCARD"));
    emit w.Savertableview->itemDoubleClicked(cube);
    QVERIFY(shown);

    shown = false;
    rig.ui.modals.push_back(Inspect(
        [&](QDialog& d) {
          shown = true;
          auto& preview = static_cast<TIconPreview&>(d);
          const QImage generic = w.savertableImage.At(0).toImage().scaled(
              TIconPreview::kSide, TIconPreview::kSide, Qt::KeepAspectRatio);
          QCOMPARE(preview.Frame(0).toImage().convertToFormat(generic.format()), generic);
        },
        "CloseBtn"));
    w.ShowSavePreview(rig.Row("BASLUS-21007ICONONLY"));
    QVERIFY(shown);
    QVERIFY(rig.ui.Settled());
  }

  // A PS1 save has no dates and no files of its own: its blocks, size and
  // product code, and no empty lines for the rest.
  void APS1SaveShowsWhatItHas() {
    GuiRig rig(Cards("demo-ps1.mcr", "", sim::MediumKind::kPS1));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS1");
    QString facts;
    rig.ui.modals.push_back(Inspect(
        [&](QDialog& d) { facts = static_cast<TIconPreview&>(d).Facts->text(); }, "CloseBtn"));
    w.ShowSavePreview(rig.Row("BASLUS-00102STARS"));
    QVERIFY2(facts.contains("\nProduct: SLUS-00102\nBlocks: 2\nSize: 16,384 bytes"),
             qPrintable(facts));
    for (const char* absent : {"Created:", "Modified:", "Files:"})
      QVERIFY2(!facts.contains(absent), qPrintable(facts));
    QVERIFY(rig.ui.Settled());
  }

  // The private cache files of images opened beside the adapter's card go
  // at exit; those a copy that ended early left behind go at the next start,
  // while one another running copy holds stays.
  void CacheFilesDoNotPileUp() {
    QTemporaryDir dir;
    const QString stale = QDir(dir.path()).filePath("~PS2M-a1B2c3");
    const QString held = QDir(dir.path()).filePath("~PS2M-d4E5f6");
    WriteAll(stale, "left");
    WriteAll(held, "used");
    const int holder = ::open(QFile::encodeName(held).constData(), O_RDWR);
    QVERIFY(holder >= 0);
    QVERIFY(::flock(holder, LOCK_EX | LOCK_NB) == 0);
    auto cache_files = [&] {
      return QDir(dir.path()).entryList({"~PS2M-*"}, QDir::Files | QDir::Hidden | QDir::System);
    };
    {
      GuiRig rig(Cards("demo-ps2.ps2"), dir.path());
      QCOMPARE(cache_files(), QStringList{"~PS2M-d4E5f6"});
      rig.Catalog("DEVPS2");
      for (const char* name : {"a.ps2", "b.ps2"}) {
        (void)rig.Insert("demo-ps2.ps2", name);
        rig.ui.files.push_back(rig.Work(name));
        rig.w().OpenImageClick();
      }
      QCOMPARE(rig.ListNames().size(), 7);
      QVERIFY(cache_files().size() > 1);  // the images' own caches
    }
    QCOMPARE(cache_files(), QStringList{"~PS2M-d4E5f6"});
    ::close(holder);
  }
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
