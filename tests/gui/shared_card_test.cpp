// The window's catalogue is not the card: between two window commands a
// console or another program may write to it. A command then works on the
// card as it is now, never from the list it read before, and a save that is
// gone is reported with the new list shown. Judged by every save's bytes on
// a fresh mount.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "gui_rig.h"
#include "manager/archive_builder.h"
#include "manager/findsave.h"

#include "support/fault_rig.h"
#include "support/manager_fixture.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

struct Device {
  QString demo;
  QString button;
  sim::MediumKind kind;
  support::CardSetup setup;
  QString save;  // one save of the demo card, deleted in the window
};

Device DeviceOf(const QString& kind) {
  if (kind == "smartmedia")
    return {"demo-sm16.bin", "DEVSmart", sim::MediumKind::kSmartMedia,
            {support::CardMedia::kSmartMedia, 16, false}, "BASLUS-21101SMART"};
  return {"demo-ps2.ps2", "DEVPS2", sim::MediumKind::kPS2, {support::CardMedia::kPS2, 8, false},
          "BASLUS-21001TRAVOSK"};
}

// Another program on the same card: its own in-process adapter over the
// image file, its own card manager, as a second program or a console would
// work on the card.
class OtherProgram {
 public:
  OtherProgram(const QString& image, sim::MediumKind kind) {
    auto medium = sim::Medium::Open(image.toStdString(), kind);
    if (kind == sim::MediumKind::kSmartMedia)
      session.adapter.InsertSmartMedia(std::move(medium));
    else
      session.adapter.InsertCard(std::move(medium));
    m.InitSystem(work.path().toStdString());
    m.Access().Medium = kind == sim::MediumKind::kSmartMedia ? Slot::kSmartMedia : Slot::kCard;
  }
  ~OtherProgram() { m.DoneSystem(); }
  bool Append(const std::string& name) {
    const std::string path = QDir(work.path()).filePath("other.psu").toStdString();
    // With an icon.sys, so that the list names it by its folder.
    std::string icon_sys(964, '\0');
    icon_sys.replace(0, 4, "PS2D");
    support::WriteFileBytes(
        path, manager::BuildSaveArchive(
                  name, {{"icon.sys", icon_sys}, {"DATA", std::string(40000, 'o')}}, 1704054896));
    card::TfileIP root = card::RootDirectory();
    return m.Catalog() && m.AppendSaveArchive(path, root);
  }
  bool Delete(const std::string& name) {
    const auto found = manager::FindSave(m, name);
    card::TfileIP folder = found.value_or(card::TfileIP{});
    return found && m.DeleteSaveFolder(folder);
  }

  QTemporaryDir work;
  sim::LoopbackSession session;
  manager::TPS2MFMSYS m{session.link};
};

// Every save on the image, read from a copy by a card manager of its own.
support::SaveMap SavesOn(const QString& image, const Device& dev) {
  support::ManagerRig judge(dev.setup);
  judge.LoadImage(image.toStdString());
  return support::PS2Saves(judge).value_or(support::SaveMap{});
}

// The saves that differ between two listings, by name, for a failure message.
QByteArray Differences(const support::SaveMap& now, const support::SaveMap& expected) {
  QStringList out;
  for (const auto& [name, bytes] : expected) {
    const auto it = now.find(name);
    if (it == now.end())
      out << QString::fromStdString(name) + " missing";
    else if (it->second != bytes)
      out << QString::fromStdString(name) + " changed";
  }
  for (const auto& [name, bytes] : now)
    if (!expected.count(name)) out << QString::fromStdString(name) + " unexpected";
  return out.join(", ").toUtf8();
}

}  // namespace

class SharedCardTest : public QObject {
  Q_OBJECT

  void kinds() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("PS2 card") << "ps2";
    QTest::newRow("SmartMedia") << "smartmedia";
  }

 private slots:
  void ADeleteAfterAnotherProgramWroteKeepsItsSave_data() { kinds(); }
  void ADeleteAfterAnotherProgramWroteKeepsItsSave() {
    QFETCH(QString, kind);
    const Device dev = DeviceOf(kind);
    GuiRig rig(kind == "smartmedia" ? Cards("", dev.demo) : Cards(dev.demo));
    TForm1& w = rig.w();
    rig.Catalog(dev.button);
    QVERIFY(rig.ListNames().contains(dev.save));
    const QString image = kind == "smartmedia" ? rig.sm_image : rig.card_image;
    {
      OtherProgram other(image, dev.kind);
      QVERIFY(other.Append("BASLUS-29999OTHER"));
    }
    support::SaveMap expected = SavesOn(image, dev);
    QVERIFY(expected.count("BASLUS-29999OTHER"));
    expected.erase(dev.save.toStdString());

    rig.ui.Clear();
    rig.ui.answers = {true};
    rig.Select(dev.save);
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    const support::SaveMap now = SavesOn(image, dev);
    QVERIFY2(now == expected, Differences(now, expected).constData());
    QVERIFY(ImageHealthy(image, dev.kind));
    // The list is the card's as it is now.
    QVERIFY(rig.ListNames().contains("BASLUS-29999OTHER"));
    QVERIFY(!rig.ListNames().contains(dev.save));
  }

  void ASaveGoneBehindTheWindowIsReportedAndTheListReadAgain_data() { kinds(); }
  void ASaveGoneBehindTheWindowIsReportedAndTheListReadAgain() {
    QFETCH(QString, kind);
    const Device dev = DeviceOf(kind);
    GuiRig rig(kind == "smartmedia" ? Cards("", dev.demo) : Cards(dev.demo));
    TForm1& w = rig.w();
    rig.Catalog(dev.button);
    const QString image = kind == "smartmedia" ? rig.sm_image : rig.card_image;
    {
      // The save goes, and another comes in its place.
      OtherProgram other(image, dev.kind);
      QVERIFY(other.Delete(dev.save.toStdString()));
      QVERIFY(other.Append("BASLUS-29999OTHER"));
    }
    const support::SaveMap expected = SavesOn(image, dev);

    rig.ui.Clear();
    rig.ui.answers = {true};
    rig.Select(dev.save);
    w.DeleteSaverClick();
    const QStringList info = rig.ui.Texts("fail");
    QCOMPARE(info.size(), qsizetype{1});
    QVERIFY2(info[0].startsWith("Delete Fail.\n\"" + dev.save + "\": the card changed"),
             qPrintable(info[0]));
    const support::SaveMap now = SavesOn(image, dev);
    QVERIFY2(now == expected, Differences(now, expected).constData());
    QVERIFY(ImageHealthy(image, dev.kind));
    QVERIFY(rig.ListNames().contains("BASLUS-29999OTHER"));
    QVERIFY(!rig.ListNames().contains(dev.save));
  }

  void RemovalMarksTheListStaleAndArrivalReadsItAgain() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    rig.Catalog("DEVPS2");
    rig.session.platform.Unplug(rig.session.adapter);
    w.WMDeviceChange();
    // The list no longer stands for a card: shown as such, no save command.
    QVERIFY(!w.Savertableview->isEnabled());
    QVERIFY(w.SelectLabel->text().contains("out of date"));
    for (QPushButton* b : {w.DeleteSaver, w.AppendSaver, w.SaverBackup, w.savereditbtn})
      QVERIFY(!b->isEnabled());
    {
      // Elsewhere, as in a console, the card takes a save.
      OtherProgram other(rig.card_image, sim::MediumKind::kPS2);
      QVERIFY(other.Append("BASLUS-29999OTHER"));
    }
    rig.session.platform.Plug(rig.session.adapter);
    w.WMDeviceChange();
    QVERIFY(w.Savertableview->isEnabled());
    QVERIFY(rig.ListNames().contains("BASLUS-29999OTHER"));
    for (QPushButton* b : {w.DeleteSaver, w.AppendSaver, w.SaverBackup, w.savereditbtn})
      QVERIFY(b->isEnabled());
    QVERIFY(rig.ui.Texts("error").isEmpty());
  }

  void ABusyCardIsInUseInTheWindowAndNotDamaged() {
    qputenv("TRAVOSK_LOCK_WAIT_MS", "50");
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    const QString image = rig.Insert("demo-ps2.ps2", "image.ps2");
    w.OpenCardImage(image);
    QCOMPARE(w.ListImage(), 0);
    const QStringList before = rig.ListNames();
    const QByteArray bytes = ReadAll(image);
    {
      // Another program holds the image, as the command line does for a
      // whole command.
      const int fd = ::open(image.toLocal8Bit().constData(), O_RDONLY);
      QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
      rig.ui.Clear();
      rig.ui.answers = {true};
      rig.Select("BASLUS-21001TRAVOSK");
      w.DeleteSaverClick();
      ::close(fd);
    }
    const QStringList said = rig.ui.Texts();
    QVERIFY2(said.contains("the card is in use by another program"), qPrintable(said.join(" | ")));
    QVERIFY2(!said.join(" ").contains("Can not connect"), qPrintable(said.join(" | ")));
    QCOMPARE(rig.ListNames(), before);
    QVERIFY(ReadAll(image) == bytes);
    QVERIFY(!w.CardBusy());
    // Between two window commands the card is free for the other program,
    // and once that is done the window's command goes through.
    const int fd = ::open(image.toLocal8Bit().constData(), O_RDONLY);
    QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);
    ::close(fd);
    rig.ui.Clear();
    rig.ui.answers = {true};
    rig.Select("BASLUS-21001TRAVOSK");
    w.DeleteSaverClick();
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Delete complete."});
    qunsetenv("TRAVOSK_LOCK_WAIT_MS");
  }
};

QTEST_MAIN(SharedCardTest)
#include "shared_card_test.moc"
