// The CONFIG dialog's edit rules and its round trip through the settings file,
// the device dialog's button sets, the SmartMedia type dialog and the notify
// window.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "gui_rig.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

void Type(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

QStringList SettingsLines(const GuiRig& rig) {
  return QString::fromUtf8(ReadAll(rig.Work("PS2M.cfg"))).split("\r\n", Qt::SkipEmptyParts);
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void ParseHexTakesOnlyHexDigits() {
    QCOMPARE(ToptForm::ParseHex(""), 0xFFFFu);
    QCOMPARE(ToptForm::ParseHex("378"), 0x378u);
    QCOMPARE(ToptForm::ParseHex("ff"), 0xFFu);
    QCOMPARE(ToptForm::ParseHex("12G4"), 0xFFFFu);
    QCOMPARE(ToptForm::ParseHex("FFFFFFFF"), 0xFFFFFFFFu);
  }

  void ConfigEditsKeepOnlyCanonicalHex() {
    ToptForm f;
    QCOMPARE(f.windowTitle(), QString("CONFIG"));
    QCOMPARE(f.RadioGroup1->title(), QString("Parallel Port Select"));
    QCOMPARE(f.baseEdit->text(), QString("378"));
    QCOMPARE(f.delayEdit1->text(), QString("00000000"));
    QVERIFY(f.RadioButton1->isChecked());

    Type(f.baseEdit, "12345");
    QCOMPARE(f.baseEdit->text(), QString("12345"));
    QCOMPARE(f.PortBase, uint16_t{0x2345});
    QCOMPARE(f.RadioButton3->text(), QString("I/O 2345"));
    QVERIFY(f.RadioButton3->isChecked());

    Type(f.baseEdit, "2a");  // typed lower case, shown upper case
    QCOMPARE(f.baseEdit->text(), QString("2A"));
    QCOMPARE(f.RadioButton3->text(), QString("I/O 02A"));

    f.baseEdit->clear();
    QCOMPARE(f.baseEdit->text(), QString("378"));
    QCOMPARE(f.PortBase, uint16_t{0x378});

    f.ConnectDelay = 5;
    Type(f.delayEdit1, "G");
    QCOMPARE(f.delayEdit1->text(), QString("00000000"));
    QCOMPARE(f.ConnectDelay, 0);
    Type(f.delayEdit1, "10");
    QCOMPARE(f.ConnectDelay, 0x10);
  }

  void ShowSettingsChecksThePortAndShowsTheDelay() {
    ToptForm f;
    f.PortBase = 0x278;
    f.ConnectDelay = 0x10;
    f.ShowSettings();
    QVERIFY(f.RadioButton2->isChecked());
    QCOMPARE(f.RadioButton3->text(), QString("Custom"));
    QCOMPARE(f.delayEdit1->text(), QString("00000010"));
    f.PortBase = 0x3BC;
    f.ShowSettings();
    QVERIFY(f.RadioButton3->isChecked());
    QVERIFY(!f.RadioButton1->isChecked() && !f.RadioButton2->isChecked());
    QCOMPARE(f.RadioButton3->text(), QString("I/O 3BC"));
  }

  void SetupSavesOnOkAndLeavesEverythingOnExit() {
    GuiRig rig({});
    TForm1& w = rig.w();
    // A fresh folder gets the defaults.
    QCOMPARE(SettingsLines(rig), (QStringList{"888", "00000000"}));

    rig.ui.modals.push_back(Inspect(
        [](QDialog& d) {
          auto& f = static_cast<ToptForm&>(d);
          QVERIFY(f.RadioButton1->isChecked());
          f.RadioButton2->click();
          Type(f.delayEdit1, "10");
        },
        "BitBtn2"));
    w.SETUPClick();
    QCOMPARE(SettingsLines(rig), (QStringList{"632", "16"}));
    QCOMPARE(w.PS2MFMSYS1.Com().PortBase, uint16_t{0x278});
    QCOMPARE(w.PS2MFMSYS1.Com().ConnectDelay, 16);

    rig.ui.modals.push_back(Inspect(
        [](QDialog& d) {
          auto& f = static_cast<ToptForm&>(d);
          QVERIFY(f.RadioButton2->isChecked());
          QCOMPARE(f.delayEdit1->text(), QString("00000010"));
          Type(f.baseEdit, "3BC");
          Type(f.delayEdit1, "FF");
        },
        "BitBtn1"));
    w.SETUPClick();
    QCOMPARE(SettingsLines(rig), (QStringList{"632", "16"}));
    QCOMPARE(w.PS2MFMSYS1.Com().PortBase, uint16_t{0x278});
    QCOMPARE(w.PS2MFMSYS1.Com().ConnectDelay, 16);

    // Custom keeps the base typed in.
    rig.ui.modals.push_back(Inspect([](QDialog& d) { Type(static_cast<ToptForm&>(d).baseEdit, "3BC"); },
                                    "BitBtn2"));
    w.SETUPClick();
    QCOMPARE(SettingsLines(rig), (QStringList{"956", "16"}));
    QVERIFY(rig.ui.Settled());
  }

  void BadSettingsAreShownAndTheWindowStillWorks() {
    RigSetup setup = Cards("demo-ps2.ps2");
    setup.settings = "12x\r\n0\r\n";
    GuiRig rig(setup);
    QCOMPARE(rig.ui.Texts("error"), QStringList{"'12x' is not a valid integer value"});
    QCOMPARE(rig.w().PS2MFMSYS1.Com().PortBase, uint16_t{0x378});
    QVERIFY(QFileInfo(rig.Work("savers")).isDir());
    rig.Catalog("DEVPS2");
    QVERIFY(rig.w().Savertableview->count() > 0);
    QVERIFY(rig.w().AppendSaver->isEnabled());
  }

  void DeviceDialogShowsTheButtonsOfTheDevicesFound() {
    TDEVICEDlg d;
    QCOMPARE(d.windowTitle(), QString("DEVICE SELECT"));
    QCOMPARE(d.size(), QSize(306, 160));
    auto shown = [&d] {
      QStringList out;
      for (QWidget* c : {static_cast<QWidget*>(d.NODEVICE), static_cast<QWidget*>(d.DEVPS1),
                         static_cast<QWidget*>(d.DEVPS2), static_cast<QWidget*>(d.DEVSmart),
                         static_cast<QWidget*>(d.DEVClose)})
        if (c->isVisibleTo(&d)) out << c->objectName();
      return out;
    };
    d.PrepareDevices(0, 0, 0);
    QCOMPARE(shown(), (QStringList{"NODEVICE", "DEVClose"}));
    QCOMPARE(d.NODEVICE->text(), QString("NO DEVICE"));
    d.PrepareDevices(2, 2, 3);
    QCOMPARE(shown(), (QStringList{"DEVPS1", "DEVSmart", "DEVClose"}));
    QVERIFY(d.DEVPS1->isDefault());
    QCOMPARE(d.DEVPS1->text(), QString("PS Card"));
    QCOMPARE(d.DEVSmart->text(), QString("Smart Card"));
    d.PrepareDevices(1, 1, 0);
    QCOMPARE(shown(), (QStringList{"DEVPS2", "DEVClose"}));
    QCOMPARE(d.DEVPS2->text(), QString("PS2 Card"));
    QCOMPARE(d.DEVPS2->geometry(), d.DEVPS1->geometry());

    d.DEVSmart->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.Choice, uint8_t{2});
    QCOMPARE(d.SlotIndex, uint8_t{1});
    d.PrepareDevices(2, 1, 3);
    QCOMPARE(d.SlotIndex, uint8_t{0});
    d.DEVPS2->click();
    QCOMPARE(d.Choice, uint8_t{1});
    QCOMPARE(d.SlotIndex, uint8_t{0});

    // A SmartMedia alone stands first in the list, and is offered there.
    d.PrepareDevices(1, 3, 0);
    QCOMPARE(shown(), (QStringList{"DEVSmart", "DEVClose"}));
    d.DEVSmart->click();
    QCOMPARE(d.Choice, uint8_t{2});
    QCOMPARE(d.SlotIndex, uint8_t{0});

    // Cancel after the PC format's choice leaves every button enabled.
    d.DEVPS1->setEnabled(false);
    d.DEVPS2->setEnabled(false);
    d.DEVClose->click();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(d.DEVPS1->isEnabled() && d.DEVPS2->isEnabled() && d.DEVSmart->isEnabled());
  }

  void SmartMediaTypeDialogPreselectsBySize() {
    TPCformatDlg d;
    QCOMPARE(d.windowTitle(), QString("SMART MEDIA TYPE SELECT"));
    QCOMPARE(d.size(), QSize(384, 179));
    QCOMPARE(d.RadioButton1->text(), QString("4MB-3.3 , 4MB-5V, ID 4MB"));
    QCOMPARE(d.RadioButton2->text(), QString("8MB-3.3 , 8MB-5V, ID 8MB"));
    QCOMPARE(d.RadioButton3->text(), QString("16M-3.3, 16MB-5V, ID 16MB"));
    QCOMPARE(d.RadioButton4->text(), QString("32M-3.3, 32MB-5V, ID 32MB"));
    QVERIFY(d.RadioButton2->isChecked());
    d.Preselect(0x4200000);  // 64 MB: no image for it
    QVERIFY(d.ImageName.isEmpty());
    QVERIFY(d.RadioButton2->isChecked());
    d.Preselect(0x840000);
    QCOMPARE(d.ImageName, QString("pcf8M.bin"));
    d.Preselect(0x1080000);
    QVERIFY(d.RadioButton3->isChecked());
    QCOMPARE(d.ImageName, QString("pcf16M.bin"));
    d.RadioButton4->click();
    QCOMPARE(d.ImageName, QString("pcf32M.bin"));
    d.OKBtn->click();
    QVERIFY(d.Accepted);
    d.CancelBtn->click();
    QVERIFY(!d.Accepted);
  }

  void NotifyWindowTexts() {
    TNotifyForm f;
    QCOMPARE(f.windowTitle(), QString("Notify window"));
    QCOMPARE(f.size(), QSize(365, 79));
    QCOMPARE(f.MessageLabel->text(), QString("MESSAGE"));
    QCOMPARE(f.Label1->text(), QString("Please do not Remove the memory card."));
    QCOMPARE(f.Label1->pos(), QPoint(72, 64));
  }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
