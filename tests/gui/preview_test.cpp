// The save preview: a double click on a PS2 save opens its own icon, larger,
// animated and turning, with its title, size, dates and files; a save
// without a usable icon shows its list picture.
#include <QLabel>
#include <QListWidget>
#include <QtTest>

#include "app/iconpreview.h"
#include "gui_rig.h"

using namespace travosk;
using namespace travosk::testing;

class PreviewTest : public QObject {
  Q_OBJECT

 private slots:
  void DoubleClickShowsTheSavesOwnIconAndFacts() {
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
              QString::fromUtf8("メモリーカードデモ　セーブ\nBISLPS-21002MEMCARD")));
          QVERIFY(facts.contains("Created: 2024-03-01 21:00:00"));  // noon UTC, kept in Japan time
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
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
