// The window on the USB platform over an emulated kernel: an adapter plugged
// in and pulled out while the window is open, the USB indicator following
// through libusb's hot-plug notifications and the window's notifier.
#include <QLabel>
#include <QtTest>

#include "gui_rig.h"
#include "link/clock.h"
#include "link/usb_platform.h"
#include "usb/usb_testbed.h"

using namespace travosk;
using namespace travosk::testing;

class UsbHotplugTest : public QObject {
  Q_OBJECT

 private slots:
  void UsbImageFollowsTheUsbAdapter() {
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QFile::copy(DataFile("PS2ICO.bmp"), QDir(work.path()).filePath("PS2ICO.bmp"));
    usbtest::UsbTestbed bed;
    link::UsbPlatform platform(1000);
    link::SystemClock clock;
    link::Link link(platform, clock);
    ScriptedUi ui;
    FormSet forms(link, ui, work.path());
    TForm1& w = *forms.Form1;
    QVERIFY(w.USBImage->isHidden());

    sim::Adapter adapter;
    const std::string syspath = bed.Add(adapter, {.announce = true});
    QTRY_VERIFY_WITH_TIMEOUT(!w.USBImage->isHidden(), 10000);
    QCOMPARE(link.DevicePath(), std::string("usb:1-2"));
    QVERIFY(link.ReadPipeOpen() && link.WritePipeOpen());

    bed.Remove(syspath);
    QTRY_VERIFY_WITH_TIMEOUT(w.USBImage->isHidden(), 10000);
    QVERIFY(!link.ReadPipeOpen());
  }
};

QTEST_MAIN(UsbHotplugTest)
#include "usb_hotplug_test.moc"
