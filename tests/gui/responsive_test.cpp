// The window stays alive while a card operation runs: it paints, its progress
// bar and busy animation move, and it takes no second command and does not
// close until the card is safe.
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QtTest>
#include <chrono>

#include "app/busyanimation.h"
#include "gui_rig.h"
#include "manager/archive_builder.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

// Counts the paint events a widget gets while the window is busy.
class PaintCounter : public QObject {
 public:
  PaintCounter(QWidget* target, TForm1& window) : window_(window) {
    target->installEventFilter(this);
  }
  int busy_paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && window_.CardBusy()) ++busy_paints;
    return false;
  }

 private:
  TForm1& window_;
};

}  // namespace

class ResponsiveTest : public QObject {
  Q_OBJECT

 private slots:
  void AppendThroughASlowAdapterKeepsTheWindowAlive() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    rig.Catalog("DEVPS2");
    const QString psu = rig.Work("slow.psu");
    WriteAll(psu, QByteArray::fromStdString(manager::BuildSaveArchive(
                      "BASLUS-30009SLOW", {{"DATA", std::string(96 * 1024, 's')}}, 1709294400)));
    rig.Select("BASLUS-21001TRAVOSK");
    rig.ui.Clear();
    rig.session.platform.SetPacketDelay(std::chrono::microseconds(400));

    PaintCounter paints(w.Animate1, w);
    QSet<int> positions, frames;
    int busy_ticks = 0;
    bool refused_checked = false;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      if (!w.CardBusy()) return;
      ++busy_ticks;
      positions.insert(w.ProgressBar1->value());
      frames.insert(w.Animate1->Frame());
      w.update();
      if (refused_checked) return;
      refused_checked = true;
      // A second command mid-operation: neither a click nor a direct call
      // starts it, and the window does not close.
      const int beeps = rig.ui.beeps;
      const size_t said = rig.ui.log.size();
      QTest::mouseClick(w.DeleteSaver, Qt::LeftButton);
      w.DeleteSaverClick();
      w.CatalogBtnClick();
      QVERIFY(!w.close());
      QCOMPARE(rig.ui.log.size(), said);
      QVERIFY(rig.ui.beeps > beeps);
    });
    probe.start();
    rig.ui.files.push_back(psu);
    w.AppendSaverClick();
    probe.stop();

    QVERIFY(refused_checked);
    QVERIFY2(busy_ticks > 10, qPrintable(QString::number(busy_ticks)));
    QVERIFY2(positions.size() > 2, "the progress bar did not move");
    QVERIFY2(frames.size() > 2, "the busy animation did not play");
    QVERIFY(paints.busy_paints > 2);
    // Only what the append itself says, in its order.
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ui.Texts("error"), QStringList());
    QVERIFY(rig.ui.Settled());
    QCOMPARE(rig.ListNames().size(), 8);
    QVERIFY(!w.CardBusy());
  }
};

QTEST_MAIN(ResponsiveTest)
#include "responsive_test.moc"
