// Saves copied and moved between a library's cards, card images outside it,
// the card in an adapter and folder cards, judged by the bytes of every save
// on both ends; a move whose target write fails keeps the save on its source.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>

#include "formats/files.h"
#include "formats/foldercard.h"
#include "library/reorganise.h"
#include "library_rig.h"
#include "manager/foldercardimage.h"
#include "sim/loopback_platform.h"

namespace travosk::library::testing {
namespace {

using Bytes = std::map<std::string, std::vector<uint8_t>>;

// The card in an adapter: a card image in the slot of a simulated adapter,
// open (and its card manager started) for as long as this lives.
struct AdapterCard {
  explicit AdapterCard(const std::string& image) {
    manager::ImageSessionOptions o;
    o.card = image;
    o.work_folder = Work();
    session = std::make_unique<manager::ImageSession>(o);
  }
  CardEnd End() { return {"adapter", &session->Manager()}; }
  std::unique_ptr<manager::ImageSession> session;
};

std::vector<uint8_t> FileBytes(const std::string& path) {
  return formats::LoadWholeFile(path, 80 << 20);
}

void ExpectNoTemporaryFiles(const std::string& dir) {
  for (const auto& e : fs::recursive_directory_iterator(dir))
    EXPECT_NE(e.path().filename().string().rfind(".travosk-", 0), 0u) << e.path();
}

TEST(Transfer, CopiesAndMovesBetweenOutsideImagesAndTheAdapterByteForByte) {
  TempDir lib, out, slot;
  MakePs2Card(lib.File("lib.ps2"), formats::ImageFormat::kPs2Raw,
              {Ps2("BESLES-50001GAME", "One", 1), Ps2("BASLUS-20312DATA", "Two", 2)});
  MakePs2Card(out.File("elsewhere.mc2"), formats::ImageFormat::kPs2NoEcc,
              {Ps2("BISLPS-25001SAVE", "Three", 3)});
  MakePs2Card(slot.File("adapter.ps2"), formats::ImageFormat::kPs2Raw,
              {Ps2("BESLES-50009X", "Four", 4)});
  const Bytes lib_before = SaveBytes(lib.File("lib.ps2"));
  const Bytes out_before = SaveBytes(out.File("elsewhere.mc2"));
  const Bytes slot_before = SaveBytes(slot.File("adapter.ps2"));
  const CardEnd outside{out.File("elsewhere.mc2"), nullptr};
  {
    AdapterCard adapter(slot.File("adapter.ps2"));
    // Library to an image elsewhere; that image to the adapter; the adapter
    // back into the library.
    CopySave(lib.path(), {"lib.ps2"}, "BESLES-50001GAME", outside, false, Work());
    CopySave(lib.path(), outside, "BISLPS-25001SAVE", adapter.End(), true, Work());
    CopySave(lib.path(), adapter.End(), "BESLES-50009X", {"lib.ps2"}, true, Work());
    const Bytes on_adapter = SaveBytesOf(adapter.session->Manager());
    EXPECT_EQ(on_adapter, (Bytes{{"BISLPS-25001SAVE", out_before.at("BISLPS-25001SAVE")}}));
    // A save of that name on the target: refused.
    EXPECT_THROW(CopySave(lib.path(), outside, "BESLES-50001GAME", {"lib.ps2"}, false, Work()),
                 ReorganiseError);
  }
  Bytes lib_now = lib_before;
  lib_now["BESLES-50009X"] = slot_before.at("BESLES-50009X");
  EXPECT_EQ(SaveBytes(lib.File("lib.ps2")), lib_now);
  EXPECT_EQ(SaveBytes(out.File("elsewhere.mc2")),
            (Bytes{{"BESLES-50001GAME", lib_before.at("BESLES-50001GAME")}}));

  // The adapter unplugged a few packets into the save's write: the move
  // fails, the library's card keeps its file as it was, and the adapter's
  // card, mounted again, holds what it held.
  const auto lib_file = FileBytes(lib.File("lib.ps2"));
  {
    AdapterCard adapter(slot.File("adapter.ps2"));
    auto& firmware = adapter.session->Loopback().adapter;
    firmware.write_filter = [&firmware](std::span<uint8_t>) {
      firmware.write_filter = nullptr;
      firmware.UnplugAfter(3);
    };
    EXPECT_THROW(CopySave(lib.path(), {"lib.ps2"}, "BASLUS-20312DATA", adapter.End(), true, Work()),
                 ReorganiseError);
    EXPECT_FALSE(firmware.plugged());
  }
  EXPECT_EQ(FileBytes(lib.File("lib.ps2")), lib_file);
  EXPECT_EQ(SaveBytes(slot.File("adapter.ps2")),
            (Bytes{{"BISLPS-25001SAVE", out_before.at("BISLPS-25001SAVE")}}));

  // PS1: a save from an image elsewhere onto a PS1 card in the adapter and
  // back into the library.
  MakePs1Card(out.File("one.mcr"), formats::ImageFormat::kPs1Raw, {Ps1("BESCES-00344RACE", "R", 1)});
  MakePs1Card(slot.File("ps1.mcr"), formats::ImageFormat::kPs1Raw, {Ps1("BASLUS-00101", "O", 2)});
  MakePs1Card(lib.File("lib.mcr"), formats::ImageFormat::kPs1Raw, {});
  const Bytes one_before = SaveBytes(out.File("one.mcr"));
  {
    AdapterCard adapter(slot.File("ps1.mcr"));
    CopySave(lib.path(), {out.File("one.mcr")}, "BESCES-00344RACE", adapter.End(), true, Work());
    CopySave(lib.path(), adapter.End(), "BESCES-00344RACE", {"lib.mcr"}, true, Work());
    EXPECT_EQ(SaveBytesOf(adapter.session->Manager()).count("BESCES-00344RACE"), 0u);
    // Kinds do not cross.
    EXPECT_THROW(CopySave(lib.path(), adapter.End(), "BASLUS-00101", {"lib.ps2"}, false, Work()),
                 ReorganiseError);
  }
  EXPECT_TRUE(SaveBytes(out.File("one.mcr")).empty());
  EXPECT_EQ(SaveBytes(lib.File("lib.mcr")), one_before);
  for (const auto* dir : {&lib, &out, &slot}) ExpectNoTemporaryFiles(dir->path());
}

// Folder cards take saves as cards do: copied into, split into and merged
// into, each written through the folder card's own files.
TEST(Transfer, FolderCardsTakeCopiesSplitsAndMerges) {
  TempDir lib;
  MakePs2Card(lib.File("Mcd001.ps2"), formats::ImageFormat::kPs2Raw,
              {Ps2("BESLES-50001GAME", "One", 1), Ps2("BESLES-50001OPTS", "Opts", 2),
               Ps2("BASLUS-20312DATA", "Two", 3)});
  MakePs2Card(lib.File("conv.ps2"), formats::ImageFormat::kPs2Raw, {Ps2("BISLPS-25001SAVE", "F", 4)});
  manager::ConvertImageToFolderCard(lib.File("conv.ps2"), lib.File("Mcd002"), Work());
  fs::remove(lib.File("conv.ps2"));
  const Bytes image_before = SaveBytes(lib.File("Mcd001.ps2"));
  const Bytes folder_before = SaveBytes(lib.File("Mcd002"));

  CopySave(lib.path(), "Mcd001.ps2", "BASLUS-20312DATA", "Mcd002", false, Work());
  CopySave(lib.path(), "Mcd002", "BISLPS-25001SAVE", "Mcd001.ps2", true, Work());
  EXPECT_EQ(SaveBytes(lib.File("Mcd002")),
            (Bytes{{"BASLUS-20312DATA", image_before.at("BASLUS-20312DATA")}}));
  // The emulator's own files: the new save's directory with its index, the
  // moved one set aside as the emulator sets a deleted save aside.
  EXPECT_TRUE(fs::exists(lib.File("Mcd002/BASLUS-20312DATA/_pcsx2_index")));
  EXPECT_FALSE(fs::exists(lib.File("Mcd002/BISLPS-25001SAVE")));
  EXPECT_TRUE(fs::exists(lib.File("Mcd002/_pcsx2_deleted_BISLPS-25001SAVE")));
  EXPECT_NO_THROW(formats::ReadFolderCard(lib.File("Mcd002")));
  Bytes all = image_before;
  all["BISLPS-25001SAVE"] = folder_before.at("BISLPS-25001SAVE");
  EXPECT_EQ(SaveBytes(lib.File("Mcd001.ps2")), all);

  const auto made = SplitCard(lib.path(), "Mcd001.ps2", DeviceLayout::kEmulator, Work(), true);
  ASSERT_EQ(made.size(), 3u);
  EXPECT_EQ(made[0].path, "SLES-50001.ps2");
  Bytes split;
  std::vector<std::string> parts;
  for (const auto& nc : made) {
    EXPECT_TRUE(formats::IsFolderCard(lib.File(nc.path))) << nc.path;
    for (auto& [name, bytes] : SaveBytes(lib.File(nc.path))) split[name] = bytes;
    parts.push_back(nc.path);
  }
  EXPECT_EQ(split, all);
  MergeCards(lib.path(), parts, "merged/", Work());
  EXPECT_TRUE(formats::IsFolderCard(lib.File("merged")));
  EXPECT_EQ(SaveBytes(lib.File("merged")), all);
  // A PS1 card's saves have no folder card to go to.
  MakePs1Card(lib.File("a.mcr"), formats::ImageFormat::kPs1Raw, {Ps1("BESCES-00344RACE", "R", 1)});
  EXPECT_THROW(MergeCards(lib.path(), {"a.mcr"}, "ps1/", Work()), ReorganiseError);
  EXPECT_FALSE(fs::exists(lib.File("ps1")));
  ExpectNoTemporaryFiles(lib.path());
}

}  // namespace
}  // namespace travosk::library::testing
