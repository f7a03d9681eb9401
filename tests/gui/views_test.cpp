// The window as it grows, and the details view: the list takes the room of
// an enlarged window; the details view lists name, title, size and date,
// sorts by each, and the filter hides the saves that do not match in both
// views; a selection there is the list's selection.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include "gui_rig.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

QStringList Column(const QTreeWidget& view, int column, bool shown_only = false) {
  QStringList out;
  for (int i = 0; i < view.topLevelItemCount(); ++i)
    if (!shown_only || !view.topLevelItem(i)->isHidden()) out << view.topLevelItem(i)->text(column);
  return out;
}

}  // namespace

class ViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void TheListTakesTheRoomOfAGrownWindow() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    w.show();
    rig.Catalog("DEVPS2");
    const QRect list = w.Savertableview->geometry(), exit = w.EXIT->geometry(),
                bar = w.ProgressBar1->geometry(), append = w.AppendSaver->geometry();
    w.resize(w.width() + 300, w.height() + 200);
    QTRY_COMPARE(w.Savertableview->size(), list.size() + QSize(300, 200));
    QCOMPARE(w.OtherList->height(), list.height() + 200);  // the right pane's list too
    QCOMPARE(w.EXIT->geometry(), exit.translated(300, 200));
    QCOMPARE(w.AppendSaver->geometry(), append.translated(0, 200));
    QCOMPARE(w.ProgressBar1->geometry(), QRect(bar.x(), bar.y() + 200, bar.width() + 300, bar.height()));
    // The free space keeps to the right edge when its text changes.
    const int free_right = w.FreesizeLabel->geometry().right();
    rig.Select("BASLUS-21003SIZES");
    rig.ui.answers = {true};
    w.DeleteSaverClick();
    QCOMPARE(w.FreesizeLabel->geometry().right(), free_right);
    QVERIFY(rig.ui.Settled());
  }

  void DetailsSortFilterAndSelect() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    w.DetailsView1->trigger();
    QVERIFY(w.SaveDetails->isVisibleTo(&w) && !w.Savertableview->isVisibleTo(&w));
    QTreeWidget& d = *w.SaveDetails;
    QCOMPARE(d.headerItem()->text(0) + d.headerItem()->text(1) + d.headerItem()->text(2) +
                 d.headerItem()->text(3),
             QString("NameTitleSizeDate"));
    QCOMPARE(d.topLevelItemCount(), 7);
    // Sizes are what each save occupies, the figures of the list; sorted as numbers.
    d.sortItems(2, Qt::DescendingOrder);
    QCOMPARE(Column(d, 0).first(), QString("BASLUS-21004BIGDATA"));
    QCOMPARE(Column(d, 2).first(), QString("1,021,952"));
    QCOMPARE(Column(d, 2).last(), QString("3,072"));
    d.sortItems(1, Qt::AscendingOrder);
    QVERIFY(Column(d, 1).first().startsWith("BIG SAVE"));
    QVERIFY(Column(d, 3).first().contains(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d")));
    d.sortItems(0, Qt::AscendingOrder);

    // The filter looks at names and titles, in both views.
    w.SaveFilter->setText("spin");
    QCOMPARE(Column(d, 0, true), QStringList{"BESCES-21006SPINNER"});
    int shown = 0;
    for (int i = 0; i < w.Savertableview->count(); ++i) shown += !w.Savertableview->item(i)->isHidden();
    QCOMPARE(shown, 1);
    w.SaveFilter->setText("megabyte");
    QCOMPARE(Column(d, 0, true), QStringList{"BASLUS-21004BIGDATA"});
    w.SaveFilter->clear();
    QCOMPARE(Column(d, 0, true).size(), 7);

    // A row chosen in the details is the save the commands take.
    d.setCurrentItem(d.topLevelItem(Column(d, 0).indexOf("BASLUS-21007ICONONLY")));
    QCOMPARE(w.SelectLabel->text(), QString("BASLUS-21007ICONONLY ONLY AN ICON.SYS"));
    QCOMPARE(w.ChosenRows(), std::vector<int>{rig.Row("BASLUS-21007ICONONLY")});
    rig.ui.answers = {true};
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    QCOMPARE(d.topLevelItemCount(), 6);
    QVERIFY(!Column(d, 0).contains("BASLUS-21007ICONONLY"));
    QVERIFY(rig.ui.Settled());
  }
};

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
