// Files named on the program's command line (a file manager's "Open with"):
// a card image opens and is listed, a save file is restored onto the card the
// user chooses after one question, and anything else is refused with its
// name, with nothing written anywhere.
#include <QtTest>

#include "app/openfiles.h"
#include "app/strings.h"
#include "formats/files.h"
#include "gui_rig.h"
#include "manager/archive_builder.h"
#include "manager/findsave.h"

using namespace travosk;
using namespace travosk::testing;

namespace {

QString Copy(GuiRig& rig, const QString& demo, const QString& name) {
  const QString path = rig.Work(name);
  QFile::copy(DataFile(demo), path);
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
  return path;
}

// A save as a copy of the PS2 card image holds it, read by a card manager of
// its own; nothing when the card does not hold it.
std::optional<formats::Ps2Save> SaveOnImage(const QString& image, const std::string& name) {
  // A working folder of its own: the window's card manager keeps its cache
  // file in the rig's.
  QTemporaryDir work;
  const QString copy = QDir(work.path()).filePath("read-back.ps2");
  if (!work.isValid() || !QFile::copy(image, copy)) return std::nullopt;
  QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
  std::optional<formats::Ps2Save> save;
  {
    sim::LoopbackSession session;
    session.adapter.InsertCard(sim::Medium::Open(PathOf(copy), sim::MediumKind::kPS2));
    manager::TPS2MFMSYS mgr(session.link);
    mgr.InitSystem(PathOf(work.path()));
    mgr.Access().Medium = Slot::kCard;
    const QString out = QDir(work.path()).filePath("read-back.psu");
    if (auto folder = manager::FindSave(mgr, name);
        folder && mgr.BackupSaveFolder(PathOf(out), *folder))
      save = formats::ReadPs2SaveFile(PathOf(out));
    mgr.DoneSystem();
  }
  return save;
}

}  // namespace

class OpenFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void CardImagesOpenAndAreListedUnchanged() {
    GuiRig rig(RigSetup{});
    TForm1& w = rig.w();
    const QString ps2 = Copy(rig, "demo-ps2.ps2", "given.ps2");
    const QString ps1 = Copy(rig, "demo-ps1.mcr", "given.mcr");
    const QByteArray ps2_before = ReadAll(ps2), ps1_before = ReadAll(ps1);
    // Named relative to the current folder, as a terminal passes them.
    QDir::setCurrent(rig.dir.path());
    OpenGivenFiles(w, rig.ui, {"given.ps2"});
    QCOMPARE(w.Images().size(), size_t{1});
    QCOMPARE(w.Images()[0]->path, ps2);
    QCOMPARE(w.ListImage(), 0);
    QCOMPARE(rig.ListNames().size(), 7);
    QVERIFY(rig.ListNames().contains("BASLUS-21001TRAVOSK"));
    OpenGivenFiles(w, rig.ui, {ps1});
    QCOMPARE(w.ListImage(), 1);
    QCOMPARE(w.ListDevice(), kPS1Card);
    QCOMPARE(w.PS1List().count, 3);
    QCOMPARE(ReadAll(ps2), ps2_before);
    QCOMPARE(ReadAll(ps1), ps1_before);
    QVERIFY(rig.ui.Texts("error").isEmpty());
    QVERIFY(rig.ui.Settled());
  }

  void SaveFileIsRestoredOntoTheChosenCardAfterOneQuestion() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    const std::string archive =
        manager::BuildSaveArchive("BASLUS-30011GIVEN", {{"DATA", "given bytes"}}, 1709294400);
    const QString file = rig.Saver("given.psu");
    WriteAll(file, QByteArray::fromStdString(archive));
    const QByteArray card_before = ReadAll(rig.card_image);

    // No: nothing is asked further and the card is not touched.
    rig.ui.answers = {false};
    OpenGivenFiles(w, rig.ui, {file});
    QCOMPARE(rig.ui.Questions(),
             QStringList{"Restore the saver \"BASLUS-30011GIVEN\" from given.psu to a memory card?"});
    QVERIFY(rig.ui.Texts("modal").isEmpty());
    QCOMPARE(ReadAll(rig.card_image), card_before);
    QVERIFY(rig.ui.Settled());

    // Yes: the device dialog chooses the card, then the restore runs.
    rig.ui.Clear();
    rig.ui.answers = {true};
    rig.ui.modals.push_back(Click("DEVPS2"));
    OpenGivenFiles(w, rig.ui, {file});
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QCOMPARE(rig.ListNames().size(), 8);
    QVERIFY(rig.ui.Settled());
    // The save on the card holds the file's bytes.
    const auto back = SaveOnImage(rig.card_image, "BASLUS-30011GIVEN");
    QVERIFY(back);
    QCOMPARE(back->files.size(), size_t{1});
    const Bytes content = back->files[0].Content();
    QCOMPARE(std::string(content.begin(), content.end()), std::string("given bytes"));
    QVERIFY(ImageHealthy(rig.card_image, sim::MediumKind::kPS2));

    // A save of a name the card holds asks the restore's own question too.
    rig.ui.Clear();
    rig.ui.answers = {true, true};
    OpenGivenFiles(w, rig.ui, {file});
    QCOMPARE(rig.ui.Questions().size(), qsizetype{2});
    QCOMPARE(rig.ui.Questions()[1],
             QString("Saver \"BASLUS-30011GIVEN\" on Memory card, OVERWRITE ?"));
    QCOMPARE(rig.ui.Texts("info"), QStringList{"Download Saver complete."});
    QVERIFY(rig.ui.Texts("modal").isEmpty());
    QCOMPARE(rig.ListNames().size(), 8);
    QVERIFY(rig.ui.Settled());
  }

  void OtherFilesAreRefusedByName() {
    GuiRig rig(Cards("demo-ps2.ps2"));
    TForm1& w = rig.w();
    const QByteArray card_before = ReadAll(rig.card_image);
    WriteAll(rig.Work("notes.txt"), "shopping list\n");
    // A ".psu" name on bytes that hold no save is refused on its content.
    WriteAll(rig.Work("broken.psu"), QByteArray(700, 'x'));
    OpenGivenFiles(w, rig.ui,
                   {rig.Work("notes.txt"), rig.Work("missing.ps2"), rig.Work("broken.psu"),
                    rig.dir.path()});
    const QStringList errors = rig.ui.Texts("error");
    QCOMPARE(errors.size(), qsizetype{4});
    QVERIFY(errors[0].startsWith(rig.Work("notes.txt")));
    QVERIFY(errors[1].startsWith(rig.Work("missing.ps2") + ": no such file"));
    QVERIFY(errors[2].startsWith(rig.Work("broken.psu") + ": "));
    QVERIFY(errors[3].contains("is a folder"));
    QVERIFY(rig.ui.Questions().isEmpty());
    QVERIFY(w.Images().empty());
    QCOMPARE(ReadAll(rig.card_image), card_before);
    QVERIFY(rig.ui.Settled());
  }
};

QTEST_MAIN(OpenFilesTest)
#include "openfiles_test.moc"
