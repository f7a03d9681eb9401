// The window on the real device interface directory: travosk-adapter plugged
// in and pulled out while the window is open, the USB indicator following
// through the platform's notifications, and a catalogue read through FIFOs.
#include <QLabel>
#include <QProcess>
#include <QtTest>

#include "gui_rig.h"
#include "link/clock.h"
#include "link/device_dir_platform.h"

using namespace travosk;
using namespace travosk::testing;

class HotplugTest : public QObject {
  Q_OBJECT

  QString Program() const {
    return QDir(QString::fromLocal8Bit(qgetenv("TRAVOSK_BIN"))).filePath("travosk-adapter");
  }

  // Starts the adapter and waits for the device path it prints when plugged.
  bool Plug(QProcess& adapter, const QString& root, const QString& card) {
    adapter.start(Program(), {"--card", card, "--device-root", root});
    if (!adapter.waitForStarted(5000)) return false;
    for (int i = 0; i < 100 && !adapter.canReadLine(); ++i) adapter.waitForReadyRead(100);
    return adapter.canReadLine();
  }

 private slots:
  void UsbImageFollowsTheAdapter() {
    if (!QFileInfo(Program()).isExecutable()) QSKIP("travosk-adapter was not built");
    QTemporaryDir work, root;
    QVERIFY(work.isValid() && root.isValid());
    const QString card = QDir(work.path()).filePath("card.ps2");
    QVERIFY(QFile::copy(DataFile("demo-ps2.ps2"), card));
    QFile::setPermissions(card, QFile::ReadOwner | QFile::WriteOwner);
    QFile::copy(DataFile("PS2ICO.bmp"), QDir(work.path()).filePath("PS2ICO.bmp"));

    QProcess adapter;
    QVERIFY(Plug(adapter, root.path(), card));
    link::DeviceDirPlatform platform(root.path().toStdString());
    link::SystemClock clock;
    link::Link link(platform, clock);
    ScriptedUi ui;
    FormSet forms(link, ui, work.path());
    TForm1& w = *forms.Form1;
    QVERIFY(!w.USBImage->isHidden());

    adapter.terminate();
    QVERIFY(adapter.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(w.USBImage->isHidden(), 10000);

    QVERIFY(Plug(adapter, root.path(), card));
    QTRY_VERIFY_WITH_TIMEOUT(!w.USBImage->isHidden(), 10000);

    ui.modals.push_back(Click("DEVPS2"));
    w.CatalogBtnClick();
    QCOMPARE(w.Savertableview->count(), 7);
    QVERIFY(ui.Texts("info").isEmpty());

    adapter.terminate();
    QVERIFY(adapter.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(w.USBImage->isHidden(), 10000);
  }
};

QTEST_MAIN(HotplugTest)
#include "hotplug_test.moc"
