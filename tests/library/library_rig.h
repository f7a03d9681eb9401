// Cards made by the program itself for the library's tests, and every save
// of a card read back as bytes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "card/layout.h"
#include "common/slots.h"
#include "formats/iconsys.h"
#include "formats/images.h"
#include "formats/psu.h"
#include "formats/save.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"
#include "manager/ps1card.h"
#include "support/card_fixture.h"

namespace travosk::library::testing {

namespace fs = std::filesystem;
using support::TempDir;

inline constexpr std::time_t kWhen = support::kFormatTime;
// "ＦＩＮＡＬ　ＳＡＧＡ" in full-width Shift-JIS.
inline const std::string kFullWidthTitle =
    "\x82\x65\x82\x68\x82\x6d\x82\x60\x82\x6b\x81\x40\x82\x72\x82\x60\x82\x66\x82\x60";

inline formats::Ps2Save Ps2(const std::string& name, const std::string& title, int seed) {
  formats::Ps2Save s = formats::MakeSave(name, kWhen + seed);
  formats::IconSysRecord icon;
  icon.title_first = title;
  icon.icon_file = "icon.ico";
  const auto sys = formats::WriteIconSys(icon);
  formats::AddFile(s, formats::MakeFile(formats::MakeEntry(formats::kFileMode,
                                                           static_cast<uint32_t>(sys.size()),
                                                           "icon.sys", kWhen + seed),
                                        sys));
  std::vector<uint8_t> data(static_cast<size_t>(1500 + seed * 977));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + seed);
  formats::AddFile(s, formats::MakeFile(formats::MakeEntry(formats::kFileMode,
                                                           static_cast<uint32_t>(data.size()),
                                                           "DATA", kWhen + seed),
                                        data));
  return s;
}

inline formats::Ps1Save Ps1(const std::string& name, const std::string& title, int seed) {
  formats::Ps1Save s;
  s.frame = formats::MakePs1Frame(name, 1);
  s.blocks.assign(formats::kPs1BlockBytes, 0);
  for (size_t i = 128; i < s.blocks.size(); ++i) s.blocks[i] = static_cast<uint8_t>(i + seed);
  s.blocks[0] = 'S';
  s.blocks[1] = 'C';
  s.blocks[2] = 0x11;
  s.blocks[3] = 1;
  std::copy(title.begin(), title.end(), s.blocks.begin() + 4);
  return s;
}

inline std::string Work() {
  static TempDir work;
  return work.path();
}

inline void MakePs2Card(const std::string& path, formats::ImageFormat format,
                 const std::vector<formats::Ps2Save>& saves) {
  fs::create_directories(fs::path(path).parent_path());
  manager::CreateCardImage(path, format, 8);
  manager::ImageSessionOptions o;
  o.card = path;
  o.work_folder = Work();
  manager::ImageSession s(o);
  for (const auto& save : saves) {
    card::TfileIP root = card::RootDirectory();
    ASSERT_TRUE(s.Manager().Catalog());
    ASSERT_TRUE(s.Manager().AppendSave(save, root)) << save.Name();
  }
  s.Close();
}

inline void MakePs1Card(const std::string& path, formats::ImageFormat format,
                 const std::vector<formats::Ps1Save>& saves) {
  fs::create_directories(fs::path(path).parent_path());
  manager::CreateCardImage(path, format);
  manager::ImageSessionOptions o;
  o.card = path;
  o.work_folder = Work();
  manager::ImageSession s(o);
  auto& m = s.Manager();
  m.Access().Medium = Slot::kCard;
  ASSERT_FALSE(m.CheckLink());
  for (const auto& save : saves) {
    ASSERT_TRUE(m.PS1Catalog());
    ASSERT_TRUE(m.DownloadPS1Saver(save)) << save.Name();
  }
  s.Close();
}

// Every save of the card a card manager reaches, by name, as its archive
// bytes (PS1: frame and blocks).
inline std::map<std::string, std::vector<uint8_t>> SaveBytesOf(manager::TPS2MFMSYS& m) {
  std::map<std::string, std::vector<uint8_t>> out;
  m.Access().Medium = Slot::kCard;
  if (m.CheckLink()) {
    std::vector<card::TfileIP> folders;
    m.OnAddrootNode = [&](card::TfileIP& x) {
      if (x.Dir && !x.Deleted && !x.IsDotName()) folders.push_back(x);
    };
    EXPECT_TRUE(m.Catalog());
    m.OnAddrootNode = nullptr;
    for (auto f : folders) {
      formats::Ps2Save save;
      bool isbreak = false;
      m.ReadSaveFromCard(f, save, isbreak);
      // Where the save lies on its card is the card's business: each
      // entry's first cluster and its index in its folder are left out.
      for (auto* e : {&save.folder, &save.dot, &save.dotdot}) {
        std::fill_n(e->begin() + card::entry::kCluster, 4, 0);
        std::fill_n(e->begin() + card::entry::kDirEntry, 4, 0);
      }
      for (auto& file : save.files) {
        std::fill_n(file.entry.begin() + card::entry::kCluster, 4, 0);
        std::fill_n(file.entry.begin() + card::entry::kDirEntry, 4, 0);
      }
      out[f.Name] = formats::WritePsu(save);
    }
  } else {
    EXPECT_TRUE(m.PS1Catalog());
    for (const int e : manager::PS1SaveEntries(m.PS1Card)) {
      formats::Ps1Save save;
      EXPECT_TRUE(m.ReadPS1Saver(e, save));
      std::vector<uint8_t> bytes(save.frame.begin(), save.frame.end());
      bytes.insert(bytes.end(), save.blocks.begin(), save.blocks.end());
      out[m.PS1Card.Items[e].FileName] = bytes;
    }
  }
  return out;
}

// The same for the card file (image or folder card) at `path`.
inline std::map<std::string, std::vector<uint8_t>> SaveBytes(const std::string& path) {
  manager::ImageSessionOptions o;
  o.card = path;
  o.card_unwritten = true;
  o.work_folder = Work();
  manager::ImageSession s(o);
  return SaveBytesOf(s.Manager());
}

}  // namespace travosk::library::testing
