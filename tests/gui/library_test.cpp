// The window's library view: a folder of cards made by the program shown by
// card, by game and as one list, a damaged card shown with its reason, and
// the filter box finding a full-width title typed in half-width letters.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>

#include "app/librarydlg.h"
#include "card/fileip.h"
#include "formats/iconsys.h"
#include "formats/save.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"

using namespace travosk;

namespace {

formats::Ps2Save Save(const std::string& name, const std::string& title) {
  formats::Ps2Save s = formats::MakeSave(name, 1704054896);
  formats::IconSysRecord icon;
  icon.title_first = title;
  icon.icon_file = "icon.ico";
  const auto sys = formats::WriteIconSys(icon);
  formats::AddFile(s, formats::MakeFile(formats::MakeEntry(formats::kFileMode, sys.size(),
                                                           "icon.sys", 1704054896),
                                        sys));
  return s;
}

void Card(const std::string& path, const std::string& work,
          const std::vector<formats::Ps2Save>& saves) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  manager::CreateCardImage(path, formats::ImageFormat::kPs2NoEcc, 8);
  manager::ImageSessionOptions o;
  o.card = path;
  o.work_folder = work;
  manager::ImageSession s(o);
  for (const auto& save : saves) {
    card::TfileIP root = card::RootDirectory();
    QVERIFY(s.Manager().Catalog());
    QVERIFY(s.Manager().AppendSave(save, root));
  }
  s.Close();
}

int Leaves(QTreeWidget* tree) {
  int n = 0;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    auto* item = tree->topLevelItem(i);
    n += item->childCount() ? item->childCount() : (item->text(0).startsWith("B") ? 1 : 0);
  }
  return n;
}

}  // namespace

class LibraryViewTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheFolderByCardByGameAndFiltered() {
    QTemporaryDir dir, cache, work;
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    const std::string root = dir.path().toStdString();
    // "ＳＫＹ　ＲＡＣＥＲ" in full-width Shift-JIS.
    const std::string wide = "\x82\x72\x82\x6a\x82\x78\x81\x40\x82\x71\x82\x60\x82\x62\x82\x64\x82\x71";
    Card(root + "/SLES-50001/SLES-50001-1.mc2", work.path().toStdString(),
         {Save("BESLES-50001GAME", wide), Save("BESLES-50001OPTS", "Options")});
    Card(root + "/SLUS-20312/SLUS-20312-1.mc2", work.path().toStdString(),
         {Save("BASLUS-20312DATA", "Moon Golf")});
    std::filesystem::create_directories(root + "/SCES-00344");
    std::ofstream(root + "/SCES-00344/SCES-00344-1.mcd") << "cut short";

    LibraryDialog dialog(dir.path(), work.path());
    QTreeWidget* tree = dialog.Tree();
    QVERIFY2(dialog.Summary()->text().contains("layout per-game, 3 cards, 3 saves, 1 cannot be read"),
             qPrintable(dialog.Summary()->text()));
    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("SCES-00344/SCES-00344-1.mcd"));
    QVERIFY(tree->topLevelItem(0)->text(1).startsWith("cannot be read"));
    QCOMPARE(tree->topLevelItem(1)->childCount(), 2);
    QCOMPARE(tree->topLevelItem(1)->child(0)->text(1), QString("ＳＫＹ　ＲＡＣＥＲ"));

    dialog.Grouping()->setCurrentIndex(1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("SCES-00344/SCES-00344-1.mcd"));
    QCOMPARE(tree->topLevelItem(1)->text(0), QString("SLES-50001"));
    QCOMPARE(tree->topLevelItem(1)->childCount(), 2);
    QCOMPARE(Leaves(tree), 3);

    dialog.Grouping()->setCurrentIndex(0);
    dialog.Filter()->setText("sky racer");
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->childCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString("BESLES-50001GAME"));
    dialog.Filter()->setText("slus20312");
    QCOMPARE(Leaves(tree), 1);
    QVERIFY(dialog.Summary()->text().endsWith("1 match"));

    if (const QByteArray shot = qgetenv("TRAVOSK_LIBRARY_SHOT"); !shot.isEmpty()) {
      dialog.Filter()->clear();
      dialog.show();
      dialog.grab().save(QString::fromUtf8(shot));
    }
  }
};

QTEST_MAIN(LibraryViewTest)
#include "library_test.moc"
