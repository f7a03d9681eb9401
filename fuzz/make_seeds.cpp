// Writes the fuzz targets' seed corpora: well-formed inputs, so the fuzzer
// starts from the deep paths, and one of each kind of damage the readers must
// refuse, so it starts next to their checks. Usage: travosk-fuzz-seeds DIR
// (the corpus folder; one subfolder per target is filled).
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "common/bytes.h"
#include "formats/cbs.h"
#include "formats/lzari.h"
#include "formats/max.h"
#include "formats/ps1save.h"
#include "formats/ps2icon.h"
#include "formats/psu.h"
#include "fuzz_support.h"
#include "manager/ps1card.h"

using namespace travosk;
namespace fs = std::filesystem;

namespace {

using Bytes8 = std::vector<uint8_t>;

Bytes8 ToBytes(const std::string& s) {
  return {s.begin(), s.end()};
}

class Writer {
 public:
  explicit Writer(fs::path root) : root_(std::move(root)) {}
  void Put(const std::string& target, const std::string& name, const Bytes8& bytes) {
    fs::create_directories(root_ / target);
    fuzz::WriteFile((root_ / target / name).string(), bytes);
    ++count_;
  }
  int count() const { return count_; }

 private:
  fs::path root_;
  int count_ = 0;
};

Bytes8 Le32(uint32_t v) {
  Bytes8 b(4);
  store_le32(b, 0, v);
  return b;
}

// ----- archives -----

void ArchiveSeeds(Writer& w) {
  const auto saves = fuzz::TwoSaves();
  const Bytes8 game = ToBytes(fuzz::BuildArchive(saves[0]));
  const Bytes8 opt = ToBytes(fuzz::BuildArchive(saves[1]));
  w.Put("fuzz_archive_append", "game.psu", game);
  w.Put("fuzz_archive_append", "one-file.psu", opt);
  w.Put("fuzz_archive_append", "empty-folder.psu", ToBytes(fuzz::BuildArchive({"EMPTYSAVE", {}})));

  auto damaged = [&](const std::string& name, size_t at, const Bytes8& bytes) {
    Bytes8 a = opt;
    std::copy(bytes.begin(), bytes.end(), a.begin() + static_cast<std::ptrdiff_t>(at));
    w.Put("fuzz_archive_append", name, a);
  };
  constexpr size_t kFile = 3 * 512;  // the file header after the folder, "." and ".."
  damaged("folder-reserved.psu", card::entry::kReserved, {1, 0});
  damaged("folder-is-file.psu", card::entry::kMode, {0x17, 0x84});
  damaged("folder-length-ffffffff.psu", card::entry::kLength, Le32(0xFFFFFFFF));
  damaged("folder-named-dot.psu", card::entry::kName, {'.', 0});
  damaged("file-is-folder.psu", kFile + card::entry::kMode, {0x27, 0x84});
  damaged("file-length-ffffffff.psu", kFile + card::entry::kLength, Le32(0xFFFFFFFF));
  damaged("file-named-dotdot.psu", kFile + card::entry::kName, {'.', '.', 0});
  damaged("dots-missing.psu", 512 + card::entry::kName, {'X', 0});
  Bytes8 truncated(game.begin(), game.begin() + static_cast<std::ptrdiff_t>(game.size() - 700));
  w.Put("fuzz_archive_append", "truncated.psu", truncated);
}

// ----- save file readers -----

void PutName(Bytes8& out, size_t at, const std::string& name) {
  std::memcpy(out.data() + at, name.data(), name.size());
}

// The formats this system reads but does not write, laid out as published.
Bytes8 CbsOf(const formats::Ps2Save& save) {
  Bytes8 body;
  for (const auto& f : save.files) {
    const size_t at = body.size();
    body.resize(at + 64, 0);
    std::copy_n(f.entry.begin() + card::entry::kCreated, 8, body.begin() + at);
    std::copy_n(f.entry.begin() + card::entry::kModified, 8, body.begin() + at + 8);
    store_le32(body, at + 16, f.Length());
    store_le16(body, at + 20, load_le16(f.entry, card::entry::kMode));
    PutName(body, at + 32, f.Name());
    const Bytes content = f.Content();
    body.insert(body.end(), content.begin(), content.end());
  }
  uLongf size = compressBound(body.size());
  Bytes8 packed(size);
  compress2(packed.data(), &size, body.data(), body.size(), 9);
  packed.resize(size);
  formats::CbsCrypt(packed);
  Bytes8 out(0x128, 0);
  PutName(out, 0, std::string("CFU\0", 4));
  store_le32(out, 8, 0x128);
  store_le32(out, 12, static_cast<uint32_t>(body.size()));
  store_le32(out, 16, static_cast<uint32_t>(packed.size()));
  PutName(out, 0x14, save.Name());
  store_le32(out, 0x48, formats::kFolderMode);
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

Bytes8 SharkPortOf(const formats::Ps2Save& save) {
  Bytes8 out(17 + 4 + 3 * 4 + 4, 0);
  PutName(out, 0, std::string("\x0d\0\0\0SharkPortSave", 17));
  auto record = [&out](const std::string& name, uint32_t size, uint16_t mode) {
    const size_t at = out.size();
    out.resize(at + 98, 0);
    store_le16(out, at, 98);
    PutName(out, at + 2, name);
    store_le32(out, at + 66, size);
    store_le16(out, at + 78, static_cast<uint16_t>((mode >> 8) | (mode << 8)));
  };
  record(save.Name(), static_cast<uint32_t>(save.files.size() + 2), formats::kFolderMode);
  for (const auto& f : save.files) {
    record(f.Name(), f.Length(), load_le16(f.entry, card::entry::kMode));
    const Bytes content = f.Content();
    out.insert(out.end(), content.begin(), content.end());
  }
  store_le32(out, 33, static_cast<uint32_t>(out.size() - 37));
  out.resize(out.size() + 4, 0);
  return out;
}

Bytes8 PsvOf(const formats::Ps2Save& save) {
  Bytes8 out(0xA0 + 0x3C * save.files.size(), 0);
  PutName(out, 0, std::string("\0VSP", 4));
  store_le32(out, 0x3C, 2);
  store_le32(out, 0x64, static_cast<uint32_t>(save.files.size()));
  store_le32(out, 0x68 + 0x10, static_cast<uint32_t>(save.files.size() + 2));
  store_le32(out, 0x68 + 0x14, formats::kFolderMode);
  PutName(out, 0x68 + 0x18, save.Name());
  for (size_t i = 0; i < save.files.size(); ++i) {
    const auto& f = save.files[i];
    const size_t at = 0xA0 + 0x3C * i;
    store_le32(out, at + 0x10, f.Length());
    store_le32(out, at + 0x14, load_le16(f.entry, card::entry::kMode));
    PutName(out, at + 0x18, f.Name());
    store_le32(out, at + 0x38, static_cast<uint32_t>(out.size()));
    const Bytes content = f.Content();
    out.insert(out.end(), content.begin(), content.end());
  }
  return out;
}

void SaveReaderSeeds(Writer& w) {
  const auto saves = fuzz::TwoSaves();
  const Bytes8 game = ToBytes(fuzz::BuildArchive(saves[0]));
  w.Put("fuzz_save_readers", "game.psu", game);
  const auto save = formats::ReadPsu(game, "game.psu");
  w.Put("fuzz_save_readers", "game.max", formats::WriteMax(save));
  formats::Ps1Save ps1;
  ps1.frame = formats::MakePs1Frame("BASLUS-00900SEED", 1);
  ps1.blocks.assign(formats::kPs1BlockBytes, 0x5A);
  w.Put("fuzz_save_readers", "one-block.mcs", formats::WriteMcs(ps1));
  w.Put("fuzz_save_readers", "game.cbs", CbsOf(save));
  w.Put("fuzz_save_readers", "game.sps", SharkPortOf(save));
  w.Put("fuzz_save_readers", "game.psv", PsvOf(save));
  Bytes8 psv1(0x84, 0);
  PutName(psv1, 0, std::string("\0VSP", 4));
  store_le32(psv1, 0x3C, 1);
  store_le32(psv1, 0x40, formats::kPs1BlockBytes);
  store_le32(psv1, 0x44, 0x84);
  PutName(psv1, 0x64, "BASLUS-00900SEED");
  psv1.insert(psv1.end(), ps1.blocks.begin(), ps1.blocks.end());
  w.Put("fuzz_save_readers", "one-block-ps1.psv", psv1);

  std::vector<uint8_t> text;
  for (int i = 0; text.size() < 3000; ++i)
    text.push_back(static_cast<uint8_t>("seed text "[i % 10]));
  Bytes8 stream = Le32(static_cast<uint32_t>(text.size()));
  const auto packed = formats::LzariCompress(text);
  stream.insert(stream.end(), packed.begin(), packed.end());
  w.Put("fuzz_lzari", "text.lzari", stream);
}

// ----- PS2 card images -----

struct Entry {
  uint32_t cluster;  // the file's or folder's first cluster
  uint32_t at;       // relative cluster and offset of its directory entry
  uint16_t offset;
};

// Image offset of byte k of relative cluster r on the console's 8 MB layout.
size_t ClusterByte(uint32_t r, size_t k) {
  const size_t page = (size_t{r} + 41) * 2 + k / 512;
  return page * 528 + k % 512;
}

size_t FatEntry(uint32_t n) {
  const size_t page = (9 + n / 256) * 2 + (n % 256) / 128;
  return page * 528 + (n % 128) * 4;
}

size_t EntryField(const Entry& e, size_t field) {
  return ClusterByte(e.at, e.offset + field);
}

void CardImageSeeds(Writer& w) {
  fuzz::PS2Card card(fuzz::TwoSaves());
  auto& m = card.Manager();
  std::map<std::string, Entry> entries;
  auto note = [&entries](card::TfileIP& x) {
    if (!x.IsDotName() && !x.Deleted)
      entries[x.Name] = {static_cast<uint32_t>(x.RelatCluster), x.NowCluster, x.NowOffset};
  };
  m.OnAddrootNode = note;
  m.OnAddChildNode = note;
  if (!m.Catalog()) fuzz::Fail("the seed card does not catalogue");
  const Entry data = entries.at("DATA.BIN");
  const Entry game = entries.at("BASLUS-20001GAME");
  const Entry opt = entries.at("OPT");

  const std::string t = "fuzz_card_image";
  auto seed = [&](const std::string& name, std::vector<std::pair<size_t, Bytes8>> patches) {
    Bytes8 in;
    for (const auto& [at, bytes] : patches) fuzz::AppendPatch(in, at, bytes);
    w.Put(t, name, in);
  };
  const uint32_t second = data.cluster + 1;  // DATA.BIN's clusters are consecutive on a fresh card
  seed("pristine", {});
  seed("file-chain-cycle", {{FatEntry(second), Le32(0x80000000 | data.cluster)}});
  seed("file-length-ffffffff-cycle", {{FatEntry(second), Le32(0x80000000 | data.cluster)},
                                      {EntryField(data, card::entry::kLength), Le32(0xFFFFFFFF)}});
  seed("file-chain-outside", {{FatEntry(second), Le32(0x80001F00)}});
  seed("file-chain-free", {{FatEntry(second), Le32(0x7FFFFFFF)}});
  seed("file-cross-linked", {{FatEntry(second), Le32(0x80000000 | opt.cluster)}});
  seed("file-first-cluster-outside", {{EntryField(data, card::entry::kCluster), Le32(0x00FFFFFF)}});
  seed("root-cycle",
       {{FatEntry(0), Le32(0x80000000)}, {ClusterByte(0, card::entry::kLength), Le32(1000)}});
  seed("root-length-ffffffff", {{ClusterByte(0, card::entry::kLength), Le32(0xFFFFFFFF)}});
  seed("folder-cycle", {{FatEntry(game.cluster), Le32(0x80000000 | game.cluster)}});
  seed("folder-length-ffffffff", {{EntryField(game, card::entry::kLength), Le32(0xFFFFFFFF)}});
  seed("folder-reserved", {{EntryField(game, card::entry::kReserved), {1, 0}}});
  seed("superblock-magic", {{0, ToBytes("Sony PS2 Memory Card FormaT")}});
  seed("superblock-fat-clusters", {{0x31, {0xFF}}});
  seed("superblock-indirect", {{0x50, Le32(0x0000FFFF)}});
  constexpr size_t kIndirectCluster = 8 * 2 * 528;  // physical cluster 8
  seed("indirect-fat-outside", {{kIndirectCluster, Le32(0xFFFFFFFE)}});
}

// ----- PS1 card images and saves -----

size_t PS1Dir(int entry, size_t field) {
  return size_t{manager::kPS1FrameBytes} * manager::PS1DirectoryFrameOf(entry) + field;
}

void PS1ImageSeeds(Writer& w) {
  using namespace manager;
  const std::string t = "fuzz_ps1_image";
  auto seed = [&](const std::string& name, std::vector<std::pair<size_t, Bytes8>> patches) {
    Bytes8 in;
    for (const auto& [at, bytes] : patches) fuzz::AppendPatch(in, at, bytes);
    w.Put(t, name, in);
  };
  // SomePS1Saves: entry 0 one block, entries 2 and 5 two blocks, entry 7 deleted.
  seed("pristine", {});
  seed("link-cycle",
       {{PS1Dir(5, ps1dir::kLink), {2, 0}}, {PS1Dir(2, ps1dir::kSize), Le32(3 * kPS1BlockBytes)}});
  seed("link-self",
       {{PS1Dir(0, ps1dir::kLink), {0, 0}}, {PS1Dir(0, ps1dir::kSize), Le32(2 * kPS1BlockBytes)}});
  seed("link-outside", {{PS1Dir(2, ps1dir::kLink), {0x40, 0}}});
  seed("size-huge", {{PS1Dir(0, ps1dir::kSize), Le32(0x7FFFFFFF)}});
  seed("size-negative", {{PS1Dir(0, ps1dir::kSize), Le32(0xFFFFFFFF)}});
  seed("magic", {{0, {'X', 'Y'}}});
  seed("undeleted", {{PS1Dir(7, ps1dir::kState), {ps1state::kFirst}}});
  seed("middle-as-first", {{PS1Dir(5, ps1dir::kState), {ps1state::kFirst}}});
}

void PS1DownloadSeeds(Writer& w) {
  using namespace manager;
  const std::string t = "fuzz_ps1_download";
  w.Put(t, "one-block.PS1", fuzz::BuildPS1SaveFile(1, "BASLUS-00100ONE", kPS1BlockBytes));
  w.Put(t, "two-blocks.PS1", fuzz::BuildPS1SaveFile(2, "BASLUS-00101TWO", 2 * kPS1BlockBytes));
  auto trailing = fuzz::BuildPS1SaveFile(3, "BASLUS-00102THREE", 3 * kPS1BlockBytes);
  trailing.resize(trailing.size() + 100, 0xEE);
  w.Put(t, "three-blocks-trailing.PS1", trailing);
  auto short_file = fuzz::BuildPS1SaveFile(1, "BASLUS-00103SHORT", kPS1BlockBytes);
  short_file.pop_back();
  w.Put(t, "short.PS1", short_file);
  w.Put(t, "size-beyond-blocks.PS1",
        fuzz::BuildPS1SaveFile(1, "BASLUS-00104BIG", 2 * kPS1BlockBytes));
  auto magic = fuzz::BuildPS1SaveFile(1, "BASLUS-00105MAGIC", kPS1BlockBytes);
  magic[0] = 0x00;
  w.Put(t, "magic.PS1", magic);
}

// ----- settings and hex text -----

void TextSeeds(Writer& w) {
  const std::vector<std::pair<std::string, std::string>> settings = {
      {"defaults.cfg", "888\r\n00000000\r\n"},
      {"lpt2.cfg", "632\r\n16\r\n"},
      {"bare-lf.cfg", "888\n0\n"},
      {"one-line.cfg", "888"},
      {"empty.cfg", ""},
      {"blanks-signs.cfg", "  -5  \r\n+7\r\n"},
      {"letters.cfg", "abc\r\n0\r\n"},
      {"overflow.cfg", "888\r\n99999999999\r\n"},
      {"hex.cfg", "0x378\r\n0x10\r\n"},
      {"nul.cfg", std::string("8\0"
                              "88\r\n0\r\n",
                              9)},
  };
  for (const auto& [name, text] : settings) w.Put("fuzz_settings", name, ToBytes(text));

  auto utf16 = [](std::u16string s) {
    Bytes8 b{0x02};
    for (char16_t c : s) {
      b.push_back(static_cast<uint8_t>(c));
      b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return b;
  };
  const std::vector<std::pair<std::string, Bytes8>> hex = {
      {"pairs.txt", ToBytes(std::string("\x00", 1) + "0a Zb-E 12\r\n34")},
      {"odd-swapped.txt", ToBytes("\x01"
                                  "ABD")},
      {"utf16.txt", utf16(u"12 34 ff")},
      {"lone-surrogate.txt", utf16(u"1\xD800"
                                   "2")},
      {"fullwidth.txt", ToBytes(std::string("\x00", 1) + "\xEF\xBC\x90\xEF\xBC\x91 0F")},
      {"latin1-set.txt", ToBytes("\x0C"
                                 "\xC3\xA9\xC3\xA0 41")},
  };
  for (const auto& [name, bytes] : hex) w.Put("fuzz_hextext", name, bytes);
}

}  // namespace

// ----- PS2 icon files -----

void IconSeeds(Writer& w) {
  const std::string t = "fuzz_ps2_icon";
  formats::PS2Icon icon;
  icon.vertex_count = 6;
  for (int16_t x : {-4096, 4096, 4096, -4096, 4096, -4096})
    icon.positions.push_back({x, static_cast<int16_t>(x / 2), 0, 0});
  icon.normals.assign(6, formats::IconPoint{0, 0, -4096, 0});
  icon.uvs = {{0, 0}, {4096, 0}, {4096, 4096}, {0, 0}, {4096, 4096}, {0, 4096}};
  icon.colours.assign(6, formats::IconColour{});
  icon.frames = {{0, {{0.0f, 1.0f}}}};
  icon.texture.assign(formats::kIconTexels, 0x7FFF);
  for (size_t i = 0; i < 4096; ++i) icon.texture[i * 3] = static_cast<uint16_t>(i);
  w.Put(t, "quad-raw.ico", formats::WritePS2Icon(icon));
  icon.texture_type = 0x0F;
  const Bytes8 packed = formats::WritePS2Icon(icon);
  w.Put(t, "quad-compressed.ico", packed);
  icon.shapes = 2;
  icon.frame_length = 30;
  const auto first = icon.positions;
  for (auto p : first) {
    p.y = static_cast<int16_t>(-p.y);
    icon.positions.push_back(p);
  }
  icon.frames = {{0, {{0.0f, 1.0f}, {15.0f, 0.0f}}}, {1, {{0.0f, 0.0f}, {15.0f, 1.0f}}}};
  w.Put(t, "two-shapes.ico", formats::WritePS2Icon(icon));
  // The compressed texture's first run made too long: it overruns.
  Bytes8 overrun = packed;
  constexpr size_t texture = 0x14 + 6 * 24 + 0x14 + 16;  // header, vertices, animation, frame
  store_le16(overrun, texture + 4, 0x7FFF);
  w.Put(t, "overrun.ico", overrun);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  Writer w(argv[1]);
  ArchiveSeeds(w);
  SaveReaderSeeds(w);
  CardImageSeeds(w);
  PS1ImageSeeds(w);
  PS1DownloadSeeds(w);
  TextSeeds(w);
  IconSeeds(w);
  std::printf("%d seed files written under %s\n", w.count(), argv[1]);
  return 0;
}
