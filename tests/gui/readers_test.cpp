// The window through a PS1 card reader on an emulated serial port (the
// board's firmware behind a USB-serial bridge, as the serial tests have it):
// "Find PS1 card readers" opens the reader as a card, its saves are listed,
// one is backed up and deleted, the whole card is read to a file, and a
// reader without a card says so. Judged by the bytes of the board's card.
#include <QLabel>
#include <QtTest>

#include "gui_rig.h"
#include "manager/ps1card.h"
#include "serial/serial_testbed.h"
#include "sim/ps1readers.h"

using namespace travosk;
using namespace travosk::testing;

class ReadersTest : public QObject {
  Q_OBJECT

 private slots:
  void AReaderWorksAsACard() {
    const QByteArray demo = ReadAll(DataFile("demo-ps1.mcr"));
    QCOMPARE(demo.size(), 131072);
    std::vector<uint8_t> card(demo.begin(), demo.end());
    serialtest::SerialTestbed bed;
    sim::ReaderFirmware board(sim::ReaderKind::kMemCARDuino, &card);
    const std::string port = bed.Add(board);

    GuiRig rig(RigSetup{});  // an adapter with both slots empty
    TForm1& w = rig.w();
    w.FindReaders1->trigger();
    QCOMPARE(rig.ListNames(),
             (QStringList{"BASLUS-00101TRAVOSK", "BASLUS-00102STARS", "BISLPS-00104BALL"}));
    QCOMPARE(w.Label1->text(),
             "MemCARDuino 0.8 " + QFileInfo(QString::fromStdString(port)).fileName());

    // Looking again leaves the open reader alone: its board hears nothing.
    const uint64_t heard = board.bytes_in;
    rig.ui.Clear();
    w.FindReaders1->trigger();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"No other PS1 card reader was found."});
    QCOMPARE(board.bytes_in, heard);

    // A save backed up through the reader is the card's own bytes.
    rig.Select("BASLUS-00102STARS");
    rig.ui.Clear();
    rig.ui.files.push_back(rig.Saver("stars.PS1"));
    w.SaverBackupClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Upload Saver complete."});
    const QByteArray stars = ReadAll(rig.Saver("stars.PS1"));
    QCOMPARE(stars.size(), 128 + 2 * 8192);
    // Its blocks on the card, by its directory entries' links.
    int entry = 0;
    while (entry < 15 && demo.mid(128 * (entry + 1) + 10, 17) != "BASLUS-00102STARS") ++entry;
    QVERIFY(entry < 15);
    QByteArray blocks;
    for (int e = entry; e >= 0 && e < 15 && blocks.size() < 2 * 8192;) {
      blocks += demo.mid(8192 * (e + 1), 8192);
      e = static_cast<uint8_t>(demo[128 * (e + 1) + 8]) |
          static_cast<uint8_t>(demo[128 * (e + 1) + 9]) << 8;
    }
    QCOMPARE(stars.mid(128), blocks);

    // Deleted through the reader: only its directory frames change on the card.
    rig.Select("BASLUS-00102STARS");
    rig.ui.Clear();
    rig.ui.answers = {true};
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    QCOMPARE(rig.ListNames(), (QStringList{"BASLUS-00101TRAVOSK", "BISLPS-00104BALL"}));
    QCOMPARE(card[manager::PS1DirectoryFrameOf(entry) * 128] & 0xF0, 0xA0);
    for (size_t i = 8192; i < card.size(); ++i)
      if (card[i] != static_cast<uint8_t>(demo[static_cast<qsizetype>(i)]))
        QFAIL(qPrintable(QString("byte %1 of the card's blocks changed").arg(i)));

    // The whole card read through the reader is the board's card.
    rig.ui.Clear();
    rig.ui.modals.push_back(Click("DEVImage0"));
    rig.ui.files.push_back(rig.Work("whole.mcr"));
    w.PS1ReadClick();
    const QByteArray whole = ReadAll(rig.Work("whole.mcr"));
    QCOMPARE(whole, QByteArray(reinterpret_cast<const char*>(card.data()), 131072));

    // Without a card the reader says so, and nothing is listed from it.
    {
      std::lock_guard lock(bed.mutex());
      board.Insert(nullptr);
    }
    rig.ui.Clear();
    rig.Catalog("DEVImage0");
    QCOMPARE(rig.ui.Texts("info").size(), 1);
    QVERIFY(rig.ui.Texts("info")[0].startsWith("no card in MemCARDuino"));
    QVERIFY(rig.ui.Settled());
  }
};

QTEST_MAIN(ReadersTest)
#include "readers_test.moc"
