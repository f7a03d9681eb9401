// Folder cards of the PC emulator: a card of ours written as a folder card,
// read back and made into the same card again; changes through a session
// that leave every untouched save's files and index as they were; damaged
// folders refused with nothing written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "card/layout.h"
#include "common/errors.h"
#include "formats/files.h"
#include "formats/foldercard.h"
#include "manager/findsave.h"
#include "manager/foldercardimage.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"
#include "support/card_fixture.h"

namespace travosk::manager::testing {
namespace {

namespace fs = std::filesystem;
using formats::Entry;
using formats::Ps2Save;
using support::TempDir;

constexpr std::time_t kWhen = support::kFormatTime;

Ps2Save MakeTestSave(const std::string& name, int seed, int files) {
  Ps2Save s = formats::MakeSave(name, kWhen + seed);
  for (int i = 0; i < files; ++i) {
    // Sizes from empty to several clusters with a part-filled last one.
    std::vector<uint8_t> content(static_cast<size_t>((seed * 977 + i * 1531) % 5000));
    for (size_t b = 0; b < content.size(); ++b) content[b] = static_cast<uint8_t>(b * 7 + seed + i);
    const uint16_t mode = i % 2 ? formats::kFileMode : 0x8497;
    formats::AddFile(s, formats::MakeFile(formats::MakeEntry(mode, static_cast<uint32_t>(content.size()),
                                                              "F" + std::to_string(i) + ".dat",
                                                              kWhen + seed * 60 + i),
                                          content));
  }
  return s;
}

// Saves that take every way a folder card keeps an entry: plain entries, a
// mode of ours (meta files), a name the emulator cleans, a stamp naming no
// moment, "." and ".." of their own.
std::vector<Ps2Save> TestSaves() {
  std::vector<Ps2Save> saves;
  for (int i = 0; i < 5; ++i) saves.push_back(MakeTestSave("BESLES-5000" + std::to_string(i) + "SAVE", i + 1, i + 1));
  saves.push_back(MakeTestSave("BASLUS-20001:A<B>.", 9, 2));
  saves.back().files[0].entry[card::entry::kModified + 5] = 13;  // month 13
  saves.push_back(MakeTestSave("BISLPS-60003GAMMA", 11, 3));
  saves.back().dot[card::entry::kCreated + 1] = 42;
  return saves;
}

void AppendAll(const std::string& image, const std::string& work, const std::vector<Ps2Save>& saves) {
  ImageSessionOptions o;
  o.card = image;
  o.work_folder = work;
  ImageSession s(o);
  for (const auto& save : saves) {
    card::TfileIP root = card::RootDirectory();
    ASSERT_TRUE(s.Manager().Catalog());
    ASSERT_TRUE(s.Manager().AppendSave(save, root)) << save.Name() << s.Manager().LastError();
  }
  s.Close();
}

std::vector<uint8_t> Bytes(const std::string& path) { return formats::LoadWholeFile(path, 80 << 20); }

// Every file under a folder: its bytes and modification time.
std::map<std::string, std::pair<std::vector<uint8_t>, std::time_t>> Snapshot(const std::string& dir) {
  std::map<std::string, std::pair<std::vector<uint8_t>, std::time_t>> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    struct stat st {};
    ::stat(e.path().c_str(), &st);
    out[fs::relative(e.path(), dir).string()] = {Bytes(e.path().string()), st.st_mtime};
  }
  return out;
}

void ExpectSameSaves(const std::vector<Ps2Save>& want, const formats::FolderCard& got) {
  ASSERT_EQ(got.saves.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    Ps2Save w = want[i];
    formats::NormaliseSave(w);
    const Ps2Save& g = got.saves[i].save;
    EXPECT_EQ(g.folder, w.folder) << w.Name();
    EXPECT_EQ(g.dot, w.dot) << w.Name();
    EXPECT_EQ(g.dotdot, w.dotdot) << w.Name();
    ASSERT_EQ(g.files.size(), w.files.size()) << w.Name();
    for (size_t f = 0; f < w.files.size(); ++f) {
      EXPECT_EQ(g.files[f].entry, w.files[f].entry) << w.Name() << "/" << w.files[f].Name();
      const auto a = g.files[f].Content(), b = w.files[f].Content();
      EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << w.files[f].Name();
    }
  }
}

bool TempImageLeft(const std::string& work) {
  for (const auto& e : fs::directory_iterator(work))
    if (e.path().filename().string().rfind("folder-card", 0) == 0) return true;
  return false;
}

struct FolderCardRig {
  TempDir dir;
  std::string work = dir.File("work");
  std::string image = dir.File("card.ps2");
  std::string folder = dir.File("card");
  std::vector<Ps2Save> saves = TestSaves();

  FolderCardRig() {
    fs::create_directories(work);
    CreateCardImage(image, formats::ImageFormat::kPs2Raw, 8);
    AppendAll(image, work, saves);
    ConvertImageToFolderCard(image, folder + "/", work);
  }
};

TEST(FolderCard, OurCardMakesAFolderThatReadsBackAndMakesTheSameCardAgain) {
  FolderCardRig rig;
  ASSERT_TRUE(formats::IsFolderCard(rig.folder));
  EXPECT_EQ(fs::file_size(rig.folder + "/_pcsx2_superblock"), 8192u);
  // The emulator's names: a cleaned folder with its real entry in a meta
  // file, files of the emulator's own mode without one, files of ours with.
  EXPECT_TRUE(fs::exists(rig.folder + "/BASLUS-20001_A_B__/_pcsx2_meta_directory"));
  EXPECT_TRUE(fs::exists(rig.folder + "/BESLES-50001SAVE/F1.dat"));
  EXPECT_FALSE(fs::exists(rig.folder + "/BESLES-50001SAVE/_pcsx2_meta/F0.dat"));
  EXPECT_TRUE(fs::exists(rig.folder + "/BESLES-50001SAVE/_pcsx2_meta/F1.dat"));
  EXPECT_EQ(fs::file_size(rig.folder + "/BISLPS-60003GAMMA/_pcsx2_meta_directory"), 3 * 512u);

  ExpectSameSaves(rig.saves, formats::ReadFolderCard(rig.folder));

  const std::string back = rig.dir.File("back.ps2"), back_noecc = rig.dir.File("back.mc2");
  ConvertFolderCardToImage(rig.folder, back, formats::ImageFormat::kPs2Raw, rig.work);
  EXPECT_TRUE(Bytes(back) == Bytes(rig.image));
  ConvertFolderCardToImage(rig.folder, back_noecc, formats::ImageFormat::kPs2NoEcc, rig.work);
  EXPECT_TRUE(Bytes(back_noecc) == formats::ConvertCardImage(Bytes(rig.image),
                                                             {formats::ImageFormat::kPs2Raw},
                                                             formats::ImageFormat::kPs2NoEcc));
  EXPECT_FALSE(TempImageLeft(rig.work));
}

TEST(FolderCard, ChangesKeepUntouchedSavesAndTheirIndexesAsTheyWere) {
  FolderCardRig rig;
  // An index as an older emulator wrote it: flow form, its own order numbers.
  const std::string alpha = rig.folder + "/BESLES-50002SAVE";
  {
    auto t = [](const Entry& e, size_t at) {
      return formats::StampToIndexTime(std::span<const uint8_t>(e).subspan(at, 8));
    };
    const auto& save = rig.saves[2];
    std::ofstream(alpha + "/_pcsx2_index", std::ios::trunc)
        << "{%ROOT: {timeCreated: " << t(save.folder, card::entry::kCreated)
        << ", timeModified: " << t(save.folder, card::entry::kModified) << "},\n F0.dat: {order: 10, timeCreated: "
        << t(save.files[0].entry, card::entry::kCreated) << ", timeModified: "
        << t(save.files[0].entry, card::entry::kModified) << "}, 'F1.dat': {order: 20}, F2.dat: {order: 30}}\n";
  }
  // A session that changes nothing writes nothing.
  const auto untouched = Snapshot(rig.folder);
  {
    ImageSessionOptions o;
    o.card = rig.folder;
    o.work_folder = rig.work;
    ImageSession s(o);
    ASSERT_TRUE(s.FolderCard());
    ASSERT_TRUE(s.Manager().Catalog());
    s.Close();
  }
  EXPECT_EQ(Snapshot(rig.folder), untouched);

  // One save deleted, one added, on the folder card and on the image it came
  // from: both then hold the same saves in the same order (a folder keeps no
  // cluster places, so the card it makes is laid out afresh).
  const Ps2Save added = MakeTestSave("BESLES-59999NEW", 21, 4);
  auto change = [&](const std::string& card) {
    ImageSessionOptions o;
    o.card = card;
    o.work_folder = rig.work;
    ImageSession s(o);
    auto folder = FindSave(s.Manager(), "BESLES-50000SAVE");
    ASSERT_TRUE(folder);
    ASSERT_TRUE(s.Manager().DeleteSaveFolder(*folder));
    card::TfileIP root = card::RootDirectory();
    ASSERT_TRUE(s.Manager().Catalog());
    ASSERT_TRUE(s.Manager().AppendSave(added, root));
    s.Close();
  };
  change(rig.folder);
  change(rig.image);
  // Every file of every save left alone: same bytes, same time, its index too.
  const auto after = Snapshot(rig.folder);
  for (const auto& [path, content] : untouched) {
    if (path.rfind("BESLES-50000SAVE/", 0) == 0 || path == "_pcsx2_index") continue;
    ASSERT_TRUE(after.count(path)) << path;
    EXPECT_EQ(after.at(path), content) << path;
  }
  EXPECT_FALSE(fs::exists(rig.folder + "/BESLES-50000SAVE"));
  EXPECT_TRUE(fs::exists(rig.folder + "/_pcsx2_deleted_BESLES-50000SAVE/F0.dat"));
  std::vector<Ps2Save> want;
  const auto now = FolderCardFromImage(rig.image, rig.work);
  for (const auto& s : now.saves) want.push_back(s.save);
  ASSERT_EQ(want.size(), rig.saves.size());
  const auto folder = formats::ReadFolderCard(rig.folder);
  ExpectSameSaves(want, folder);
  const auto it = std::find_if(folder.saves.begin(), folder.saves.end(),
                               [](const auto& s) { return s.save.Name() == "BESLES-59999NEW"; });
  ASSERT_NE(it, folder.saves.end());
  formats::FolderCard only_added;
  only_added.saves = {*it};
  ExpectSameSaves({added}, only_added);
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(FolderCard, DamagedFoldersAreRefusedAndNothingIsWritten) {
  FolderCardRig rig;
  const std::string good = rig.dir.File("good");
  fs::copy(rig.folder, good, fs::copy_options::recursive);
  const std::string save = "/BESLES-50002SAVE";
  struct Case {
    const char* what;
    std::function<void(const std::string&)> damage;
  };
  const std::vector<Case> cases = {
      {"no superblock file", [](const std::string& d) { fs::remove(d + "/_pcsx2_superblock"); }},
      {"a short superblock", [](const std::string& d) { fs::resize_file(d + "/_pcsx2_superblock", 512); }},
      {"an index that is no map", [&](const std::string& d) { Write(d + save + "/_pcsx2_index", "- [1, 2]\n"); }},
      {"an index key given twice",
       [&](const std::string& d) { Write(d + save + "/_pcsx2_index", "F0.dat:\n  order: 1\nF0.dat:\n  order: 2\n"); }},
      {"an order out of range",
       [&](const std::string& d) { Write(d + save + "/_pcsx2_index", "F0.dat: {order: 99999999999999999999}\n"); }},
      {"a time no card holds",
       [&](const std::string& d) { Write(d + save + "/_pcsx2_index", "F0.dat: {timeCreated: 999999999999999}\n"); }},
      {"two files of one order",
       [&](const std::string& d) { Write(d + save + "/_pcsx2_index", "F0.dat: {order: 1}\nF1.dat: {order: 1}\n"); }},
      {"a meta name with '/'",
       [&](const std::string& d) {
         auto e = Bytes(d + save + "/_pcsx2_meta/F1.dat");
         e[card::entry::kName + 1] = '/';
         formats::WriteWholeFileAtomically(d + save + "/_pcsx2_meta/F1.dat", e);
       }},
      {"a meta name \"..\"",
       [&](const std::string& d) {
         std::vector<uint8_t> e(512, 0);
         e[0] = 0x27;
         e[1] = 0x84;
         e[card::entry::kName] = e[card::entry::kName + 1] = '.';
         formats::WriteWholeFileAtomically(d + save + "/_pcsx2_meta_directory", e);
       }},
      {"a meta name without its end",
       [&](const std::string& d) {
         auto e = Bytes(d + save + "/_pcsx2_meta/F1.dat");
         std::fill(e.begin() + card::entry::kName, e.end(), 'A');
         formats::WriteWholeFileAtomically(d + save + "/_pcsx2_meta/F1.dat", e);
       }},
      {"a folder inside a save", [&](const std::string& d) { fs::create_directory(d + save + "/sub"); }},
      {"a link", [&](const std::string& d) { fs::create_symlink("/etc/passwd", d + save + "/F9.dat"); }},
      {"a file larger than any card",
       [&](const std::string& d) { fs::resize_file(d + save + "/F0.dat", (64 << 20) + 1); }},
      {"saves that do not fit the card",
       [&](const std::string& d) {
         fs::resize_file(d + save + "/F0.dat", 5 << 20);
         fs::resize_file(d + "/BESLES-50003SAVE/F0.dat", 5 << 20);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(rig.folder);
    fs::copy(good, rig.folder, fs::copy_options::recursive);
    c.damage(rig.folder);
    const auto before = Snapshot(rig.folder);
    ImageSessionOptions o;
    o.card = rig.folder;
    o.work_folder = rig.work;
    if (std::string(c.what) == "no superblock file") {
      EXPECT_THROW(formats::ReadFolderCard(rig.folder), formats::FormatError);
    } else {
      EXPECT_ANY_THROW(ImageSession s(o));
    }
    EXPECT_ANY_THROW(ConvertFolderCardToImage(rig.folder, rig.dir.File("out.ps2"), formats::ImageFormat::kPs2Raw, rig.work));
    EXPECT_FALSE(fs::exists(rig.dir.File("out.ps2")));
    EXPECT_EQ(Snapshot(rig.folder), before);
    EXPECT_FALSE(TempImageLeft(rig.work));
  }
}

}  // namespace
}  // namespace travosk::manager::testing
