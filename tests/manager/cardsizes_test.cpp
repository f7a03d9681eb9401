// PS2 cards of every size devices use, 1 to 64 MB, in both page layouts:
// made by our formatter, filled through the card manager (saves that reach
// the card's far end, then small ones until the root directory's clusters are
// full), checked, converted to the other layout and back, and read back
// save by save. The 8 MB card is held against the independent tool's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "card/checker.h"
#include "common/atomic_file.h"
#include "common/errors.h"
#include "formats/images.h"
#include "formats/save.h"
#include "manager/cardroom.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"
#include "manager/resizecard.h"
#include "support/card_fixture.h"
#include "../formats/peer_files.h"

namespace travosk {
namespace {

namespace fs = std::filesystem;
using formats::ImageFormat;
using SaveBytes = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

std::vector<uint8_t> FileBytes(const std::string& path) { return testing::ReadAll(path); }

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 17);
  return s;
}

Bytes AsBytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

formats::Ps2Save MakeSave(const std::string& name, const std::vector<std::string>& contents) {
  formats::Ps2Save save = formats::MakeSave(name, 1700000000);
  for (size_t i = 0; i < contents.size(); ++i) {
    const auto& data = contents[i];
    const auto entry = formats::MakeEntry(card::entry::kModeNewFile,
                                          static_cast<uint32_t>(data.size()),
                                          "F" + std::to_string(i), 1700000000);
    formats::AddFile(save, formats::MakeFile(entry, AsBytes(data)));
  }
  return save;
}

manager::ImageSessionOptions Opening(const std::string& image, const std::string& work,
                                     bool unwritten = false) {
  manager::ImageSessionOptions opening;
  opening.card = image;
  opening.card_unwritten = unwritten;
  opening.work_folder = work;
  return opening;
}

std::string Work(const support::TempDir& dir) {
  const std::string work = dir.File("work");
  fs::create_directories(work);
  return work;
}

// Every save of the card image with its files' bytes; the card must check
// healthy.
SaveBytes ReadBack(const std::string& image, const std::string& work) {
  const auto opening = Opening(image, work, true);
  manager::ImageSession session(opening);
  auto& m = session.Manager();
  std::vector<card::TfileIP> folders;
  m.OnAddrootNode = [&](card::TfileIP& x) {
    if (x.Dir && !x.Deleted && !x.IsDotName()) folders.push_back(x);
  };
  EXPECT_TRUE(m.Catalog()) << m.LastError();
  m.OnAddrootNode = nullptr;
  SaveBytes saves;
  for (auto& folder : folders) {
    formats::Ps2Save save;
    bool isbreak = false;
    m.ReadSaveFromCard(folder, save, isbreak);
    auto& files = saves[folder.Name];
    for (const auto& f : save.files) {
      const Bytes content = f.Content();
      files.emplace_back(f.Name(), std::string(content.begin(), content.end()));
    }
  }
  const auto report = card::CheckFileSystem(m.Volume());
  EXPECT_TRUE(report.Healthy()) << image << ": " << report.findings.front().what;
  return saves;
}

void Convert(const std::string& from, const std::string& to, ImageFormat target) {
  const auto kind = formats::IdentifyPs2CardImageFile(from);
  ASSERT_TRUE(kind) << from;
  AtomicFile out(to);
  formats::ConvertPs2ImageFile(from, *kind, target, out.stream());
  out.Commit();
}

TEST(CardSizes, EverySizeInBothLayoutsFillsConvertsBothWaysAndReadsBack) {
  support::TempDir dir;
  const std::string work = Work(dir);
  for (const int mb : manager::kNewPS2Sizes) {
    SCOPED_TRACE(std::to_string(mb) + " MB");
    const std::string ecc = dir.File("c" + std::to_string(mb) + ".ps2");
    const std::string plain = dir.File("c" + std::to_string(mb) + ".mc2");
    const std::string back = dir.File("back" + std::to_string(mb) + ".ps2");
    manager::CreateCardImage(ecc, ImageFormat::kPs2Raw, mb);
    ASSERT_EQ(fs::file_size(ecc), (uint64_t(mb) << 20) / 512 * 528);
    // The layout other tools write for N MB: N x 1,024 clusters, a table
    // cluster for every 256 allocatable ones after indirect cluster 8, the
    // last two erase blocks for the backups.
    {
      const auto head = FileBytes(ecc);
      const uint32_t clusters = uint32_t(mb) * 1024, blocks = clusters / 8;
      const uint32_t table = (clusters - 10 + 255) / 256, offset = 8 + 1 + table;
      EXPECT_EQ(load_le32(head, 0x30), clusters);
      EXPECT_EQ(load_le32(head, 0x34), offset);
      EXPECT_EQ(load_le32(head, 0x38), (blocks - 2) * 8 - offset);
      EXPECT_EQ(load_le32(head, 0x40), blocks - 1);
      EXPECT_EQ(load_le32(head, 0x44), blocks - 2);
    }

    SaveBytes written;
    {
      const auto opening = Opening(ecc, work);
      manager::ImageSession session(opening);
      auto& m = session.Manager();
      ASSERT_TRUE(m.Catalog());
      // Large saves until the card's far end is in use (past page 65,536 on
      // the 64 MB card), each well within one commit; then small ones until
      // the root's last cluster is full.
      const uint64_t big = std::min<uint64_t>(uint64_t(mb) << 18, 6u << 20);
      int n = 0;
      while (manager::FreeClusters(m.Volume()) * 1024 > big + (64u << 10)) {
        const std::string name = "BASLUS-2" + std::to_string(1000 + n) + "BIG";
        const auto contents = std::vector<std::string>{Pattern(964, n), Pattern(big - 4096, n + 1)};
        card::TfileIP target;
        ASSERT_TRUE(m.AppendSave(MakeSave(name, contents), target)) << name << m.LastError();
        for (size_t i = 0; i < contents.size(); ++i)
          written[name].emplace_back("F" + std::to_string(i), contents[i]);
        ++n;
      }
      for (int i = 0; i < 24 || (n + i + 2) % 2 != 0; ++i) {
        const std::string name = "BESLES-3" + std::to_string(1000 + i) + "SMALL";
        const auto contents = std::vector<std::string>{Pattern(100 + i * 37, 500 + i)};
        card::TfileIP target;
        ASSERT_TRUE(m.AppendSave(MakeSave(name, contents), target)) << name << m.LastError();
        written[name].emplace_back("F0", contents[0]);
      }
    }
    EXPECT_EQ(ReadBack(ecc, work), written);

    // The other page layout and back: the same card, byte for byte.
    Convert(ecc, plain, ImageFormat::kPs2NoEcc);
    ASSERT_EQ(fs::file_size(plain), uint64_t(mb) << 20);
    EXPECT_EQ(formats::IdentifyImageFile(plain)->format, ImageFormat::kPs2NoEcc);
    EXPECT_EQ(ReadBack(plain, work), written);
    Convert(plain, back, ImageFormat::kPs2Raw);
    EXPECT_TRUE(FileBytes(back) == FileBytes(ecc));

    // A card made without ECC takes its codes and loses them again.
    const std::string made = dir.File("m" + std::to_string(mb) + ".bin");
    const std::string made_ecc = dir.File("m" + std::to_string(mb) + ".vm2");
    const std::string made_back = dir.File("mb" + std::to_string(mb) + ".vmc");
    manager::CreateCardImage(made, ImageFormat::kPs2NoEcc, mb);
    Convert(made, made_ecc, ImageFormat::kPs2Raw);
    Convert(made_ecc, made_back, ImageFormat::kPs2NoEcc);
    EXPECT_TRUE(FileBytes(made_back) == FileBytes(made));
    EXPECT_TRUE(ReadBack(made_ecc, work).empty());
    for (const auto& f : {ecc, plain, back, made, made_ecc, made_back}) fs::remove(f);
  }
}

TEST(CardSizes, AFreshEightMegabyteCardIsTheIndependentToolsButForTheFormatTime) {
  const std::string peer = testing::PeerFolder();
  if (peer.empty()) GTEST_SKIP() << "no golden files";
  support::TempDir dir;
  const std::string ours = dir.File("fresh.ps2");
  manager::CreateCardImage(ours, ImageFormat::kPs2Raw, 8);
  auto a = FileBytes(ours), b = FileBytes(peer + "/peer_fresh.ps2");
  ASSERT_EQ(a.size(), b.size());
  // The root's "." and ".." (cluster 41) carry each tool's format time, and
  // the ECC of that page follows them.
  const size_t root = 41 * 2 * 528;
  for (size_t e : {root, root + 528}) {
    for (size_t k = 0; k < 8; ++k) a[e + 8 + k] = b[e + 8 + k], a[e + 24 + k] = b[e + 24 + k];
    std::copy_n(b.begin() + e + 512, 16, a.begin() + e + 512);
  }
  EXPECT_TRUE(a == b);
}

TEST(CardSizes, MovingSavesToAnotherSizeKeepsThemAndRefusesWhatDoesNotFit) {
  const std::string peer = testing::PeerFolder();
  if (peer.empty()) GTEST_SKIP() << "no golden files";
  support::TempDir dir;
  const std::string work = Work(dir);
  const std::string small = dir.File("small.mc2"), large = dir.File("large.ps2");
  manager::ResizeCardImage(peer + "/peer_card.ps2", small, ImageFormat::kPs2NoEcc, 1, work, false);
  manager::ResizeCardImage(small, large, ImageFormat::kPs2Raw, 64, work, false);
  const auto saves = ReadBack(large, work);
  EXPECT_EQ(saves, ReadBack(peer + "/peer_card.ps2", work));
  EXPECT_EQ(saves, ReadBack(small, work));
  ASSERT_EQ(saves.size(), 3u);
  for (const auto& [name, files] : saves) {
    const auto expected = testing::PeerSave(name);
    ASSERT_EQ(files.size(), expected.size()) << name;
    for (const auto& want : expected) {
      const auto got = std::find_if(files.begin(), files.end(),
                                    [&](const auto& f) { return f.first == want.name; });
      ASSERT_NE(got, files.end()) << name << "/" << want.name;
      EXPECT_EQ(got->second, std::string(want.bytes.begin(), want.bytes.end()))
          << name << "/" << want.name;
    }
  }

  // 1 MB holds less than the 8 MB card's biggest saves: refused, naming them,
  // with nothing left behind.
  const std::string full = dir.File("full.ps2"), tiny = dir.File("tiny.ps2");
  manager::CreateCardImage(full, ImageFormat::kPs2Raw, 8);
  {
    const auto opening = Opening(full, work);
    manager::ImageSession session(opening);
    ASSERT_TRUE(session.Manager().Catalog());
    for (int i = 0; i < 3; ++i) {
      card::TfileIP target;
      ASSERT_TRUE(session.Manager().AppendSave(
          MakeSave("BASLUS-2000" + std::to_string(i) + "FAT", {Pattern(400 << 10, i)}), target));
    }
  }
  try {
    manager::ResizeCardImage(full, tiny, ImageFormat::kPs2Raw, 1, work, false);
    ADD_FAILURE() << "a card too small was made";
  } catch (const InOutError& e) {
    EXPECT_NE(e.reason().find("BASLUS-20002FAT"), std::string::npos) << e.reason();
    EXPECT_EQ(e.reason().find("BASLUS-20000FAT"), std::string::npos) << e.reason();
  }
  EXPECT_FALSE(fs::exists(tiny));
}

}  // namespace
}  // namespace travosk
