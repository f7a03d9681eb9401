// Drag and drop on the save list: dropped save files are restored one after
// another; a save dragged out becomes its own archive file; the backup
// dialogs propose the save's own name.
#include <QListWidget>
#include <QMimeData>
#include <QtTest>

#include "formats/files.h"
#include "gui_rig.h"
#include "manager/archive_builder.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

void DropFiles(QWidget* target, const QStringList& files) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& f : files) urls << QUrl::fromLocalFile(f);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  QVERIFY(drop.isAccepted());
}

}  // namespace

class DragDropTest : public QObject {
  Q_OBJECT

 private slots:
  void DroppedFilesAreRestoredInTurn() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    // One new save and one of the card's own: the second asks to overwrite.
    rig.Select("BASLUS-21003SIZES");
    rig.ui.files.push_back(rig.Saver("sizes.psu"));
    w.SaverBackupClick();
    QCOMPARE(rig.ui.dialogs.back().file_name, QString("BASLUS-21003SIZES.psu"));
    WriteAll(rig.Saver("drop.psu"), QByteArray::fromStdString(manager::BuildSaveArchive(
                                        "BASLUS-30011DROP", {{"DATA", "dropped"}}, 1709294400)));
    rig.ui.Clear();
    rig.ui.answers = {true};
    DropFiles(w.Savertableview->viewport(), {rig.Saver("drop.psu"), rig.Saver("sizes.psu")});
    QTRY_COMPARE(rig.ui.Texts("info").size(), 2);
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Saver \"BASLUS-21003SIZES\" on Memory card, OVERWRITE ?"});
    QCOMPARE(rig.ui.Texts("info"), QStringList(2, "Download Saver complete."));
    QCOMPARE(rig.ListNames().size(), 8);
    QVERIFY(rig.ui.Settled());

    // Dragged out: the save's own archive, the bytes the backup writes.
    rig.Select("BASLUS-21003SIZES");
    const QStringList out = w.ExportSelectedForDrag();
    QCOMPARE(out.size(), qsizetype{1});
    QCOMPARE(QFileInfo(out[0]).fileName(), QString("BASLUS-21003SIZES.psu"));
    rig.Select("BASLUS-21003SIZES");
    rig.ui.files.push_back(rig.Saver("again.psu"));
    w.SaverBackupClick();
    QCOMPARE(ReadAll(out[0]), ReadAll(rig.Saver("again.psu")));
  }

  void CompressedSavesDropByTheirOwnNameAndSetsDragOut() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    // A ".max" of a save the card holds: its name is inside the compressed
    // body, so the overwrite question must come from reading the file.
    rig.Select("BASLUS-21003SIZES");
    rig.ui.files.push_back(rig.Saver("sizes.psu"));
    w.SaverBackupClick();
    const auto save = formats::ReadPs2SaveFile(rig.Saver("sizes.psu").toStdString());
    const auto max = formats::WritePs2Save(save, formats::SaveFormat::kMax);
    WriteAll(rig.Saver("sizes.max"), QByteArray(reinterpret_cast<const char*>(max.data()),
                                                static_cast<qsizetype>(max.size())));
    rig.ui.Clear();
    rig.ui.answers = {true};
    DropFiles(w.Savertableview->viewport(), {rig.Saver("sizes.max")});
    QTRY_COMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Saver \"BASLUS-21003SIZES\" on Memory card, OVERWRITE ?"});
    QCOMPARE(rig.ListNames().size(), 7);

    // Two saves selected are dragged out as two archives.
    rig.Select("BASLUS-21003SIZES");
    w.Savertableview->item(rig.Row("BASLUS-21001TRAVOSK"))->setSelected(true);
    QStringList out = w.ExportSelectedForDrag();
    for (QString& f : out) f = QFileInfo(f).fileName();
    out.sort();
    QCOMPARE(out, (QStringList{"BASLUS-21001TRAVOSK.psu", "BASLUS-21003SIZES.psu"}));
    QVERIFY(rig.ui.Settled());
  }

  void PS1SavesDropAndDragAsMcs() {
    GuiRig rig(Cards("demo-ps1.mcr", "", sim::MediumKind::kPS1));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS1");
    rig.Select("BASLUS-00102STARS");
    const QStringList out = w.ExportSelectedForDrag();
    QCOMPARE(out.size(), qsizetype{1});
    QCOMPARE(QFileInfo(out[0]).fileName(), QString("BASLUS-00102STARS.mcs"));
    QCOMPARE(QFileInfo(out[0]).size(), 128 + 2 * 8192);
    rig.Select("BASLUS-00102STARS");
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.SaverBackupClick();
    QCOMPARE(rig.ui.dialogs.back().file_name, QString("BASLUS-00102STARS.PS1"));
    rig.Select("BASLUS-00102STARS");
    rig.ui.answers = {true};
    w.DeleteSaverClick();
    QCOMPARE(rig.ListNames().size(), 2);
    rig.ui.Clear();
    DropFiles(w.Savertableview->viewport(), {out[0]});
    QTRY_COMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames().size(), 3);
  }
};

QTEST_MAIN(DragDropTest)
#include "dragdrop_test.moc"
