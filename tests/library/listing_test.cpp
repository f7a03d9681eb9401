// A library reads each card only as far as its listing needs; what it lists
// must be what a whole session of that card lists, for every card shape and
// for damaged cards, whose reason is the whole session's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "card/fileip.h"
#include "card/layout.h"
#include "common/bytes.h"
#include "formats/files.h"
#include "formats/iconsys.h"
#include "formats/images.h"
#include "formats/save.h"
#include "library/library.h"
#include "manager/foldercardimage.h"
#include "manager/imagesession.h"
#include "manager/listing.h"
#include "manager/newcard.h"
#include "manager/ps1card.h"
#include "support/card_fixture.h"

namespace travosk::library::testing {
namespace {

namespace fs = std::filesystem;
using support::TempDir;

formats::Ps2Save Save(const std::string& name, const std::string& title, size_t bytes) {
  formats::Ps2Save s = formats::MakeSave(name, support::kFormatTime);
  formats::IconSysRecord icon;
  icon.title_first = title;
  icon.icon_file = "list.ico";
  const auto sys = formats::WriteIconSys(icon);
  formats::AddFile(s, formats::MakeFile(formats::MakeEntry(formats::kFileMode,
                                                           static_cast<uint32_t>(sys.size()),
                                                           "icon.sys", support::kFormatTime),
                                        sys));
  std::vector<uint8_t> data(bytes, 0x3C);
  formats::AddFile(s, formats::MakeFile(formats::MakeEntry(formats::kFileMode,
                                                           static_cast<uint32_t>(data.size()),
                                                           "DATA", support::kFormatTime),
                                        data));
  return s;
}

void MakeCard(const std::string& path, formats::ImageFormat format, int megabytes,
              const std::string& work) {
  manager::CreateCardImage(path, format, megabytes);
  if (formats::IsPs1Image(format)) return;
  manager::ImageSessionOptions o;
  o.card = path;
  o.work_folder = work;
  manager::ImageSession s(o);
  int n = 0;
  for (const auto& save : {Save("BESLES-50001GAME", "Sky Racer", 40000),
                           Save("BASLUS-20312DATA", "Moon Golf", 3000), Save("NOCODE", "", 0)}) {
    card::TfileIP root = card::RootDirectory();
    ASSERT_TRUE(s.Manager().Catalog());
    ASSERT_TRUE(s.Manager().AppendSave(save, root)) << ++n;
  }
  s.Close();
}

// The card as a whole session lists it, in the library's words.
std::string WholeListing(const std::string& path, const std::string& work) {
  manager::ImageSessionOptions o;
  o.card = path;
  o.card_unwritten = true;
  o.work_folder = work;
  manager::ImageSession s(o);
  auto& m = s.Manager();
  m.Access().Medium = Slot::kCard;
  std::string out;
  if (!m.CheckLink()) {
    EXPECT_TRUE(m.PS1Catalog());
    for (const int e : manager::PS1SaveEntries(m.PS1Card))
      out += m.PS1Card.Items[e].FileName + "|" + m.PS1Card.Items[e].Title + "\n";
    return out;
  }
  manager::CardListing listing;
  std::string error;
  if (!manager::ListCard(m, listing, error)) return "unreadable: " + error;
  for (const auto& save : listing.saves)
    out += save.folder.Name + "|" + save.title + "|" + std::to_string(save.size) + "|" +
           card::FormatCardTime(Bytes(save.folder.Header.data() + card::entry::kModified, 8)) +
           "|" + save.list_icon + "\n";
  return out + std::to_string(listing.capacity) + " " + std::to_string(listing.free);
}

std::string LibraryListing(const CardEntry& card) {
  if (!card.readable) return "unreadable: " + card.problem;
  std::string out;
  for (const auto& save : card.saves)
    out += card.ps1 ? save.name + "|" + save.title + "\n"
                    : save.name + "|" + save.title + "|" + std::to_string(save.size) + "|" +
                          save.modified + "|" + save.icon + "\n";
  return card.ps1 ? out : out + std::to_string(card.capacity) + " " + std::to_string(card.free);
}

// Writes a little-endian word into the data of card page `page` of a raw
// (528-byte page) image.
void Poke(const std::string& path, uint32_t page, size_t at, uint32_t value) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(page) * card::kPageBytes + static_cast<std::streamoff>(at));
  const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                         static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
  f.write(bytes, 4);
}

uint32_t Peek(const std::string& path, uint32_t page, size_t at) {
  std::ifstream f(path, std::ios::binary);
  f.seekg(static_cast<std::streamoff>(page) * card::kPageBytes + static_cast<std::streamoff>(at));
  unsigned char b[4] = {};
  f.read(reinterpret_cast<char*>(b), 4);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

TEST(LibraryListing, ReadsOnlyWhatItNeedsAndListsAsAWholeSessionDoes) {
  TempDir lib, work;
  MakeCard(lib.File("raw8.ps2"), formats::ImageFormat::kPs2Raw, 8, work.path());
  MakeCard(lib.File("noecc8.mc2"), formats::ImageFormat::kPs2NoEcc, 8, work.path());
  MakeCard(lib.File("noecc32.vmc"), formats::ImageFormat::kPs2NoEcc, 32, work.path());
  MakeCard(lib.File("conv.ps2"), formats::ImageFormat::kPs2Raw, 8, work.path());
  manager::ConvertImageToFolderCard(lib.File("conv.ps2"), lib.File("Mcd003"), work.path());
  fs::remove(lib.File("conv.ps2"));
  MakeCard(lib.File("ps1.mcr"), formats::ImageFormat::kPs1Raw, 0, work.path());
  // Damaged: the superblock gone; an allocation table cluster past the card
  // (neither mounts); the root directory's chain running off the card; a
  // save folder pointing past the card.
  MakeCard(lib.File("damaged-super.ps2"), formats::ImageFormat::kPs2Raw, 8, work.path());
  Poke(lib.File("damaged-super.ps2"), 0, 0, 0x58585858);
  MakeCard(lib.File("damaged-table.ps2"), formats::ImageFormat::kPs2Raw, 8, work.path());
  Poke(lib.File("damaged-table.ps2"),
       Peek(lib.File("damaged-table.ps2"), 0, card::superblock::kIndirectList) * 2, 0, 0x00FFFFF0);
  MakeCard(lib.File("odd-chain.ps2"), formats::ImageFormat::kPs2Raw, 8, work.path());
  const std::string chain = lib.File("odd-chain.ps2");
  const uint32_t indirect = Peek(chain, 0, card::superblock::kIndirectList);
  const uint32_t fat = Peek(chain, indirect * 2, 0);
  Poke(chain, fat * 2, 0, card::kInUse | 0x00FFFFF0);
  MakeCard(lib.File("odd-folder.ps2"), formats::ImageFormat::kPs2Raw, 8, work.path());
  const std::string folder = lib.File("odd-folder.ps2");
  const uint32_t root_page = Peek(folder, 0, card::superblock::kAllocOffset) * 2;
  // The root's second cluster holds its entries 2 and 3: the first save's folder.
  const uint32_t root_next =
      Peek(folder, Peek(folder, Peek(folder, 0, card::superblock::kIndirectList) * 2, 0) * 2, 0) &
      card::kNextMask;
  Poke(folder, root_page + root_next * 2, card::entry::kCluster, 0x00FFFFF0);

  const auto paths = FindCards(lib.path());
  ASSERT_EQ(paths.size(), 9u);
  for (const auto& relative : paths) {
    const CardEntry card = ReadCard(lib.path(), relative, work.path());
    EXPECT_EQ(LibraryListing(card), WholeListing(lib.File(relative), work.path())) << relative;
    // The odd cards list as the card layer's walk reads them, whatever that is.
    if (relative.rfind("odd-", 0) == 0) continue;
    const bool damaged = relative.rfind("damaged-", 0) == 0;
    EXPECT_EQ(card.readable, !damaged) << relative << ": " << card.problem;
    if (!damaged && !card.ps1) {
      EXPECT_EQ(card.saves.size(), 3u) << relative;
    }
  }
}

}  // namespace
}  // namespace travosk::library::testing
