// The split view's two panes: each names its card, and the right pane's
// saves take the save commands and the drags the list's saves take.
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QtTest>

#include "app/savelistview.h"
#include "gui_rig.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

QStringList Names(const QListWidget& list) {
  QStringList out;
  for (int i = 0; i < list.count(); ++i) out << list.item(i)->text();
  return out;
}

void SelectIn(QListWidget& list, const QString& name) {
  list.clearSelection();
  for (int i = 0; i < list.count(); ++i)
    if (list.item(i)->text() == name) list.item(i)->setSelected(true);
}

// A drag of the saves of one pane ("list" or "other") dropped on a widget.
void DropPane(QWidget* target, const QByteArray& pane) {
  QMimeData data;
  data.setData(SaveListView::kPaneFormat, pane);
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  QVERIFY(drop.isAccepted());
}

void Trigger(QMenu* menu, const char* action) {
  QAction* a = menu->findChild<QAction*>(action);
  QVERIFY2(a, action);
  a->trigger();
}

}  // namespace

class PanesTest : public QObject {
  Q_OBJECT

 private slots:
  void EachPaneNamesItsCardAndTheRightOneTakesCommands() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    const QString a = rig.Insert("demo-ps2.ps2", "a.ps2");
    rig.ui.files = {a, rig.Work("b.ps2")};
    w.OpenImageClick();
    QCOMPARE(w.Label1->text(), QString("a.ps2"));
    QVERIFY(!w.USBImage->isVisibleTo(&w));
    w.NewImageClick();
    QCOMPARE(w.Label1->text(), QString("b.ps2"));
    QCOMPARE(w.OtherDeviceName->text(), QString("PS2 CARD  a.ps2"));

    // The right pane's menu copies its save onto the list's card; the panes
    // keep their sides.
    SelectIn(*w.OtherList, "BASLUS-21003SIZES");
    rig.ui.Clear();
    Trigger(w.OtherMenu, "OtherCopy");
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Copy complete."});
    QCOMPARE(w.Label1->text(), QString("b.ps2"));
    QCOMPARE(rig.ListNames(), QStringList{"BASLUS-21003SIZES"});
    QCOMPARE(w.OtherList->count(), 7);

    // Dragged from the right pane onto the list: copied the same way.
    SelectIn(*w.OtherList, "BASLUS-21007ICONONLY");
    rig.ui.Clear();
    DropPane(w.Savertableview->viewport(), "other");
    QTRY_COMPARE(rig.ListNames().size(), 2);
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Copy complete."});
    QCOMPARE(w.Label1->text(), QString("b.ps2"));

    // Deleted from the right pane: its own card loses the save.
    SelectIn(*w.OtherList, "BESCES-21006SPINNER");
    rig.ui.Clear();
    rig.ui.answers = {true};
    Trigger(w.OtherMenu, "OtherDelete");
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    QVERIFY(!Names(*w.OtherList).contains("BESCES-21006SPINNER"));
    QCOMPARE(w.OtherList->count(), 6);
    QCOMPARE(rig.ListNames().size(), 2);

    // A save dragged from the list onto the right pane goes to its card.
    rig.Select("BASLUS-21003SIZES");
    rig.ui.Clear();
    rig.ui.answers = {true};
    DropPane(w.OtherList->viewport(), "list");
    QTRY_COMPARE(rig.ui.Texts("info"), QStringList{"Copy complete."});
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Saver \"BASLUS-21003SIZES\" on Memory card, OVERWRITE ?"});

    // The adapter's card: its size and the USB plug; the image on the right
    // by its name.
    rig.Catalog("DEVPS2");
    QCOMPARE(w.Label1->text(), QString("8MBytes Memory Detected."));
    QVERIFY(w.USBImage->isVisibleTo(&w));
    QCOMPARE(w.OtherDeviceName->text(), QString("PS2 CARD  b.ps2"));
    rig.Catalog("DEVImage1");
    QCOMPARE(w.OtherDeviceName->text(), QString("PS2 CARD  adapter"));
    QVERIFY(rig.ui.Settled());
  }
};

QTEST_MAIN(PanesTest)
#include "panes_test.moc"
