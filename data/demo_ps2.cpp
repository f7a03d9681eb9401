// The demo PS2 card (demo-ps2.ps2, 8 MB) and the demo SmartMedia
// (demo-sm16.bin, 16 MB): each is formatted on a loopback adapter, and its
// saves are written from archives built in memory, as an append does it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "card/checker.h"
#include "card/erasecache.h"
#include "card/fileaccess.h"
#include "card/fileops.h"
#include "card/formatter.h"
#include "card/volume.h"
#include "common/bytes.h"
#include "formats/iconsys.h"
#include "manager/archive_builder.h"
#include "mkdata.h"
#include "sim/loopback_platform.h"
#include "sim/medium.h"

namespace travosk::mkdata {

namespace {

using manager::ArchiveFile;
using Sjis = std::vector<uint8_t>;

struct DemoSave {
  std::string folder;
  std::vector<ArchiveFile> files;
};

// "ICON.SYS": the demo's lights and a dark blue background.
std::string IconSys(const Sjis& line1, const Sjis& line2, const std::string& icon) {
  formats::IconSysRecord r;
  r.title_first.assign(line1.begin(), line1.end());
  r.title_second.assign(line2.begin(), line2.end());
  r.background = {{{40, 40, 96}, {40, 40, 96}, {8, 8, 32}, {8, 8, 32}}};
  r.light_dirs = {{{0.5f, 0.5f, 0.5f}, {0.0f, -0.4f, -1.0f}, {-0.5f, -0.5f, 0.5f}}};
  r.light_colours = {{{0.4f, 0.4f, 0.4f}, {0.3f, 0.3f, 0.3f}, {0.2f, 0.2f, 0.2f}}};
  r.ambient = {0.5f, 0.5f, 0.5f};
  r.icon_file = icon;
  const std::vector<uint8_t> sys = formats::WriteIconSys(r);
  return {sys.begin(), sys.end()};
}

Sjis Ascii(const std::string& s) {
  return {s.begin(), s.end()};
}

// Bytes of a made-up game file: a short tag, then a pattern of the seed.
std::string Payload(const std::string& tag, size_t size, uint8_t seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(seed + i * 11 + (i >> 10));
  data.replace(0, std::min(tag.size(), size), tag.substr(0, size));
  return data;
}

// A PS1 save as a PS2 keeps it in a folder of its own: the folder holds no
// "ICON.SYS" and its last file is the save's data, title frame first.
std::string PS1SaveFile(const Sjis& title, PS1Art art, uint8_t seed) {
  const std::vector<uint8_t> block = PS1FirstBlock(title, DrawPS1Icon(art), 1, seed);
  return {block.begin(), block.end()};
}

// Shift-JIS titles, written out byte by byte.
const Sjis kMemoryCard = {0x83, 0x81, 0x83, 0x82, 0x83, 0x8A, 0x81,
                          0x5B, 0x83, 0x4A, 0x81, 0x5B, 0x83, 0x68};  // メモリーカード
const Sjis kDemoSave = {0x83, 0x66, 0x83, 0x82, 0x81, 0x40,
                        0x83, 0x5A, 0x81, 0x5B, 0x83, 0x75};  // デモ　セーブ
const Sjis kFullDemo3 = {0x82, 0x63, 0x82, 0x64, 0x82, 0x6C,
                         0x82, 0x6E, 0x81, 0x40, 0x82, 0x52};  // ＤＥＭＯ　３
const Sjis kAdventureLog = {0x96, 0x60, 0x8C, 0xAF, 0x82,
                            0xCC, 0x8B, 0x4C, 0x98, 0x5E};  // 冒険の記録
const Sjis kGameData = {0x83, 0x51, 0x81, 0x5B, 0x83, 0x80, 0x81,
                        0x40, 0x83, 0x66, 0x81, 0x5B, 0x83, 0x5E};  // ゲーム　データ

std::vector<DemoSave> PS2Saves() {
  return {
      {"BASLUS-21001TRAVOSK",
       {{"icon.sys", IconSys(Ascii("TRAVOSK DEMO"), Ascii("FIRST SAVE"), "list.ico")},
        {"list.ico", DemoIcon(DemoIconArt::kCard)},
        {"DATA000", Payload("SAVE DATA", 20000, 0x20)}}},
      {"BISLPS-21002MEMCARD",
       {{"icon.sys", IconSys(kMemoryCard, kDemoSave, "icon.ico")},
        {"icon.ico", DemoIcon(DemoIconArt::kCube)},
        {"SAVE.DAT", Payload("SAVE DATA", 100000, 0x40)}}},
      {"BASLUS-21003SIZES",
       {{"icon.sys", IconSys(Ascii("TRAVOSK "), kFullDemo3, "icon.ico")},
        {"icon.ico", DemoIcon(DemoIconArt::kPyramid)},
        {"EMPTY.DAT", ""},
        {"ONE.DAT", "1"},
        {"PAGE.DAT", Payload("PAGE", 512, 0x51)},
        {"CLUSTER.DAT", Payload("CLUSTER", 1024, 0x52)},
        {"ODD.DAT", Payload("ODD", 1025, 0x53)}}},
      {"BASLUS-21004BIGDATA",
       {{"icon.sys", IconSys(Ascii("BIG SAVE"), Ascii("ABOUT ONE MEGABYTE"), "big.ico")},
        {"big.ico", DemoIcon(DemoIconArt::kBarrel)},
        {"BIG.BIN", Payload("BIG DATA", 1000000, 0x61)}}},
      {"BISLPS-21005ADVENTURE",
       {{"icon.sys", IconSys(kAdventureLog, kGameData, "hero.ico")},
        {"hero.ico", DemoIcon(DemoIconArt::kGem)},
        {"SLOT1", Payload("SLOT 1", 40000, 0x71)},
        {"SLOT2", Payload("SLOT 2", 40000, 0x72)}}},
      {"BESCES-21006SPINNER",
       {{"README", Payload("A PS1 SAVE KEPT ON A PS2 CARD", 200, 0x80)},
        {"BESCES-21006SPINNER", PS1SaveFile(Ascii("SPINNING TOP"), PS1Art::kSpinner, 0x81)}}},
      {"BASLUS-21007ICONONLY",
       {{"icon.sys", IconSys(Ascii("ONLY AN "), Ascii("ICON.SYS"), "none.ico")}}},
  };
}

std::vector<DemoSave> SmartMediaSaves() {
  return {
      {"BASLUS-21101SMART",
       {{"icon.sys", IconSys(Ascii("SMARTMEDIA "), Ascii("EXPANDED MEMORY"), "sm.ico")},
        {"sm.ico", DemoIcon(DemoIconArt::kSmartCard)},
        {"DATA", Payload("SAVE DATA", 50000, 0x91)}}},
      {"BESCES-21102STARS",
       {{"BESCES-21102STARS", PS1SaveFile(Ascii("STARS ON SMARTMEDIA"), PS1Art::kStar, 0xA1)}}},
  };
}

// Formats the medium in the slot and writes the saves; throws on any failure.
void Fill(sim::LoopbackSession& session, Slot medium, const std::vector<DemoSave>& saves) {
  card::TPSfileaccess access{session.link};
  access.InitDefaults();  // no settings file, a private cache file
  access.Medium = medium;
  if (!access.OpenCard()) throw std::runtime_error("the demo medium is not recognised");
  if (!card::FormatFileSystem(access, kDemoTime)) throw std::runtime_error("format failed");
  card::TPSEarsemanager cache{access};
  cache.OpenCache();
  card::TPSFilemanager volume{access, cache};
  if (!volume.Mount()) throw std::runtime_error("the formatted demo card does not mount");
  for (const DemoSave& save : saves) {
    std::stringstream in(manager::BuildSaveArchive(save.folder, save.files, kDemoTime));
    card::TfileIP target = card::RootDirectory();
    uint32_t count = 0;
    if (!card::CreateFolderFromStream(volume, in, target, count))
      throw std::runtime_error("cannot create " + save.folder);
    for (uint32_t i = 0; i < count; ++i) {
      if (!card::WriteFileFromStream(volume, in, target))
        throw std::runtime_error("cannot write a file of " + save.folder);
    }
    cache.FlushCache();
  }
  if (!volume.Mount()) throw std::runtime_error("the demo card does not mount");
  const card::CheckReport report = card::CheckFileSystem(volume);
  for (const auto& f : report.findings)
    std::fprintf(stderr, "travosk-mkdata: %s %s: %s\n", card::KindName(f.kind), f.where.c_str(),
                 f.what.c_str());
  if (!report.Healthy()) throw std::runtime_error("the demo card's file system is not sound");
  cache.CloseCache();
}

// Builds the image beside its final name and renames it into place.
void MakeCard(const std::string& path, sim::MediumKind kind, int megabytes,
              const std::vector<DemoSave>& saves) {
  const std::string temp = path + ".part";
  sim::Medium::CreateBlank(temp, kind, megabytes);
  try {
    sim::LoopbackSession session;
    const bool smartmedia = kind == sim::MediumKind::kSmartMedia;
    if (smartmedia)
      session.adapter.InsertSmartMedia(sim::Medium::Open(temp, kind));
    else
      session.adapter.InsertCard(sim::Medium::Open(temp, kind));
    Fill(session, smartmedia ? Slot::kSmartMedia : Slot::kCard, saves);
  } catch (...) {
    std::remove(temp.c_str());
    throw;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0)
    throw std::runtime_error("cannot rename " + temp + ": " + std::strerror(errno));
}

}  // namespace

void WriteDemoPS2(const std::string& folder) {
  MakeCard(folder + "/demo-ps2.ps2", sim::MediumKind::kPS2, 8, PS2Saves());
}

void WriteDemoSmartMedia(const std::string& folder) {
  MakeCard(folder + "/demo-sm16.bin", sim::MediumKind::kSmartMedia, 16, SmartMediaSaves());
}

}  // namespace travosk::mkdata
