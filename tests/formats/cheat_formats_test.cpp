// ".cbs", ".sps"/".xps" and ".psv" saves: files built here from the
// published layouts read back into the same files, byte for byte, through
// the content-first dispatch; cut or damaged ones are refused whole.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "common/errors.h"
#include "formats/cbs.h"
#include "formats/files.h"

namespace travosk::formats {
namespace {

struct File {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::vector<File> SampleFiles() {
  std::vector<File> files = {{"icon.sys", std::vector<uint8_t>(964)},
                             {"empty.bin", {}},
                             {"data.dat", std::vector<uint8_t>(3000)}};
  uint32_t x = 12345;
  for (auto& f : files)
    for (auto& b : f.bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  return files;
}

constexpr uint8_t kCreated[8] = {0, 1, 2, 3, 4, 5, 0xE0, 0x07};
constexpr uint8_t kModified[8] = {0, 9, 8, 7, 6, 5, 0xE1, 0x07};

void Put(std::vector<uint8_t>& out, size_t at, const void* src, size_t n) {
  if (out.size() < at + n) out.resize(at + n);
  std::memcpy(out.data() + at, src, n);
}
void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  if (out.size() < at + 4) out.resize(at + 4);
  store_le32(out, at, v);
}
void PutText(std::vector<uint8_t>& out, size_t at, const std::string& s) {
  Put(out, at, s.data(), s.size());
}

void ExpectSave(const Ps2Save& save, const std::string& name, const std::vector<File>& files) {
  EXPECT_EQ(save.Name(), name);
  EXPECT_EQ(load_le32(save.folder, card::entry::kLength), files.size() + 2);
  ASSERT_EQ(save.files.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const auto& f = save.files[i];
    EXPECT_EQ(f.Name(), files[i].name);
    EXPECT_EQ(load_le16(f.entry, card::entry::kMode), kFileMode);
    const Bytes got = f.Content();
    EXPECT_TRUE(std::equal(got.begin(), got.end(), files[i].bytes.begin(), files[i].bytes.end()))
        << files[i].name;
    EXPECT_EQ(0, std::memcmp(f.entry.data() + card::entry::kCreated, kCreated, 8));
    EXPECT_EQ(0, std::memcmp(f.entry.data() + card::entry::kModified, kModified, 8));
  }
}

// Reading must refuse (never crash, never return part of a save), and for
// the reason the damage gives: a refusal for another reason would hide a
// reader that misses this damage and fails later by chance.
void ExpectRefused(const std::vector<uint8_t>& file, const std::string& path,
                   const std::string& reason) {
  try {
    (void)ReadPs2Save(file, path);
    ADD_FAILURE() << path << " was read";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << path << ": " << e.what();
  } catch (const InOutError& e) {
    EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << path << ": " << e.what();
  }
}

// Header: magic, 0x1F40, header length, inflated length, stored length,
// folder name, times, mode at 0x48, title. Body: 64-byte records and bytes.
std::vector<uint8_t> BuildCbs(const std::vector<File>& files) {
  std::vector<uint8_t> body;
  for (const auto& f : files) {
    const size_t at = body.size();
    body.resize(at + 64, 0);
    Put(body, at, kCreated, 8);
    Put(body, at + 8, kModified, 8);
    Put32(body, at + 16, static_cast<uint32_t>(f.bytes.size()));
    store_le16(body, at + 20, kFileMode);
    PutText(body, at + 32, f.name);
    body.insert(body.end(), f.bytes.begin(), f.bytes.end());
  }
  uLongf packed_size = compressBound(body.size());
  std::vector<uint8_t> packed(packed_size);
  EXPECT_EQ(compress2(packed.data(), &packed_size, body.data(), body.size(), 9), Z_OK);
  packed.resize(packed_size);
  CbsCrypt(packed);

  constexpr size_t kHeader = 0x128;
  std::vector<uint8_t> out(kHeader, 0);
  PutText(out, 0, std::string("CFU\0", 4));
  Put32(out, 4, 0x1F40);
  Put32(out, 8, kHeader);
  Put32(out, 12, static_cast<uint32_t>(body.size()));
  Put32(out, 16, static_cast<uint32_t>(packed.size()));
  PutText(out, 0x14, "BESLES-12345CBS");
  Put(out, 0x34, kCreated, 8);
  Put(out, 0x3C, kModified, 8);
  Put32(out, 0x48, kFolderMode);
  PutText(out, 0x5C, "A title");
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

TEST(CbsFormat, ReadsTheDocumentedLayoutAndRefusesWhatDoesNotAddUp) {
  // The device's stream from its published state: its first bytes, as an
  // independent computation of the cipher gives them.
  std::vector<uint8_t> stream(8, 0);
  CbsCrypt(stream);
  EXPECT_EQ(stream, (std::vector<uint8_t>{0xcf, 0x46, 0x18, 0x61, 0x5b, 0xf1, 0xad, 0xd0}));

  const auto files = SampleFiles();
  const auto cbs = BuildCbs(files);
  // The content decides, not the name.
  ExpectSave(ReadPs2Save(cbs, "save.psu"), "BESLES-12345CBS", files);
  // Some tools store the whole file's length in place of the body's.
  auto whole = cbs;
  store_le32(whole, 16, static_cast<uint32_t>(whole.size()));
  ExpectSave(ReadPs2Save(whole, "x.cbs"), "BESLES-12345CBS", files);

  ExpectRefused({cbs.begin(), cbs.end() - 10}, "cut.cbs", "ends before its stored length");
  auto damaged = cbs;
  damaged[0x128 + 40] ^= 0x55;
  ExpectRefused(damaged, "damaged.cbs", "is damaged");
  auto longer = cbs;  // inflates to more than its header says
  store_le32(longer, 12, load_le32(cbs, 12) - 1);
  ExpectRefused(longer, "longer.cbs", "inflates to more than its header says");
  auto bomb = cbs;  // claims more than a card holds
  store_le32(bomb, 12, 0x7FFFFFFF);
  ExpectRefused(bomb, "bomb.cbs", "claims more than a card holds");
  auto header = cbs;
  store_le32(header, 8, static_cast<uint32_t>(cbs.size() + 1));
  ExpectRefused(header, "header.cbs", "header's length does not fit the file");
}

// "\x0d\0\0\0SharkPortSave", u32, three length-prefixed texts, the length of
// the rest, then records (u16 own length, name, size, mode bytes swapped,
// times) each file's followed by its bytes, and a 4-byte check.
std::vector<uint8_t> BuildSharkPort(const std::vector<File>& files, uint16_t record) {
  std::vector<uint8_t> out;
  PutText(out, 0, std::string("\x0d\0\0\0SharkPortSave", 17));
  Put32(out, 17, 0);
  for (const std::string text : {"Title", "2024-01-02", "a comment"}) {
    Put32(out, out.size(), static_cast<uint32_t>(text.size()));
    PutText(out, out.size(), text);
  }
  const size_t rest = out.size();
  Put32(out, rest, 0);
  auto add_record = [&](const std::string& name, uint32_t size, uint16_t mode) {
    const size_t at = out.size();
    out.resize(at + record, 0);
    store_le16(out, at, record);
    PutText(out, at + 2, name);
    store_le32(out, at + 66, size);
    store_le16(out, at + 78, static_cast<uint16_t>((mode >> 8) | (mode << 8)));
    Put(out, at + 82, kCreated, 8);
    Put(out, at + 90, kModified, 8);
  };
  add_record("BASLUS-12345SPS", static_cast<uint32_t>(files.size() + 2), kFolderMode);
  for (const auto& f : files) {
    add_record(f.name, static_cast<uint32_t>(f.bytes.size()), kFileMode);
    out.insert(out.end(), f.bytes.begin(), f.bytes.end());
  }
  store_le32(out, rest, static_cast<uint32_t>(out.size() - rest - 4));
  Put32(out, out.size(), 0x12345678);
  return out;
}

TEST(SharkPortFormat, ReadsBothRecordSizesAndRefusesWhatDoesNotAddUp) {
  const auto files = SampleFiles();
  // The two devices' records differ in length; the records say how long.
  for (const uint16_t record : {uint16_t{98}, uint16_t{0xF2}}) {
    const auto sps = BuildSharkPort(files, record);
    ExpectSave(ReadPs2Save(sps, "save.bin"), "BASLUS-12345SPS", files);
    ExpectRefused({sps.begin(), sps.end() - 500}, "cut.xps", "ends before the length it announces");
  }
  auto sps = BuildSharkPort(files, 98);
  const size_t folder = sps.size() - 4 - 3 * 98 - 964 - 3000 - 98;
  auto count = sps;  // more files than the body holds
  store_le32(count, folder + 66, 7);
  ExpectRefused(count, "count.sps", "ends");
  auto short_record = sps;
  store_le16(short_record, folder, 20);
  ExpectRefused(short_record, "record.sps", "too short");
  auto sub = sps;  // a file record that is a folder
  store_le16(sub, folder + 98 + 78, 0x2784);
  ExpectRefused(sub, "sub.sps", "is not a plain file");
}

// "\0VSP", signature, kind at 0x3C; PS2: file count at 0x64, the folder's
// record at 0x68, files' records from 0xA0 (times, size, mode, name,
// offset), bytes anywhere after. PS1: length 0x40, start 0x44, name 0x64.
std::vector<uint8_t> BuildPsv(const std::vector<File>& files) {
  std::vector<uint8_t> out(0xA0 + 0x3C * files.size(), 0);
  PutText(out, 0, std::string("\0VSP", 4));
  Put32(out, 0x38, 0x2C);
  Put32(out, 0x3C, 2);
  Put32(out, 0x64, static_cast<uint32_t>(files.size()));
  auto record = [&](size_t at, uint32_t size, uint16_t mode, const std::string& name) {
    Put(out, at, kCreated, 8);
    Put(out, at + 8, kModified, 8);
    Put32(out, at + 16, size);
    Put32(out, at + 20, mode);
    PutText(out, at + 24, name);
  };
  record(0x68, static_cast<uint32_t>(files.size() + 2), kFolderMode, "BESLES-12345PSV");
  // Bytes in reverse order, so that offsets matter.
  for (size_t i = files.size(); i-- > 0;) {
    const size_t at = 0xA0 + 0x3C * i;
    record(at, static_cast<uint32_t>(files[i].bytes.size()), kFileMode, files[i].name);
    out[at + 24 + files[i].name.size() + 1] = 0xAA;  // exporters leave bytes after the NUL
    Put32(out, at + 0x38, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), files[i].bytes.begin(), files[i].bytes.end());
  }
  return out;
}

TEST(PsvFormat, ReadsPs2AndPs1SavesAndRefusesWhatDoesNotAddUp) {
  const auto files = SampleFiles();
  const auto psv = BuildPsv(files);
  ExpectSave(ReadPs2Save(psv, "save.psv"), "BESLES-12345PSV", files);
  ExpectRefused({psv.begin(), psv.end() - 1}, "cut.psv", "runs past the end of the .psv file");
  auto offset = psv;
  store_le32(offset, 0xA0 + 0x38, static_cast<uint32_t>(psv.size()));
  ExpectRefused(offset, "offset.psv", "runs past the end of the .psv file");
  auto count = psv;
  store_le32(count, 0x64, 0x10000000);
  ExpectRefused(count, "count.psv", "file table runs past the end");

  // A PS1 save: two blocks after the 0x84-byte header.
  std::vector<uint8_t> ps1(0x84, 0);
  PutText(ps1, 0, std::string("\0VSP", 4));
  Put32(ps1, 0x38, 0x14);
  Put32(ps1, 0x3C, 1);
  Put32(ps1, 0x40, 2 * 8192);
  Put32(ps1, 0x44, 0x84);
  Put32(ps1, 0x48, 0x200);
  PutText(ps1, 0x64, "BESLES-00001GAME");
  for (size_t i = 0; i < 2 * 8192; ++i) ps1.push_back(static_cast<uint8_t>(i * 7));
  const Ps1Save save = ReadPs1Save(ps1, "game.psv");
  EXPECT_EQ(save.Name(), "BESLES-00001GAME");
  EXPECT_EQ(save.BlockCount(), 2u);
  EXPECT_EQ(load_le32(save.frame, ps1frame::kSize), 2u * 8192);
  EXPECT_TRUE(std::equal(save.blocks.begin(), save.blocks.end(), ps1.begin() + 0x84, ps1.end()));
  EXPECT_THROW((void)ReadPs2Save(ps1, "game.psv"), FormatError);
  EXPECT_THROW((void)ReadPs1Save(psv, "save.psv"), FormatError);
  EXPECT_THROW((void)ReadPs1Save({ps1.begin(), ps1.end() - 1}, "cut.psv"), InOutError);
}

}  // namespace
}  // namespace travosk::formats
