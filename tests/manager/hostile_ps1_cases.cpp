// PS1 inputs that must not reach the card or a PC file: directory chains that
// loop or leave the directory, sizes the card cannot hold, ".PS1" save files
// and ".pss" card images that are short, too long or of another kind. A
// failed upload leaves no file; every failure leaves the card as it was.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "hostile.h"
#include "ps1_rig.h"

namespace travosk::manager::hostile {

namespace {

using testing::PS1Rig;

// A ".PS1" file of n blocks whose header records `size` bytes.
std::vector<uint8_t> SaveFile(int blocks, uint32_t size) {
  std::vector<uint8_t> file(kPS1SaveHeaderBytes + size_t{kPS1BlockBytes} * blocks, 0x5A);
  std::fill_n(file.begin(), kPS1FrameBytes, 0);
  file[ps1dir::kState] = ps1state::kFirst;
  store_le32(file, ps1dir::kSize, size);
  store_le16(file, ps1dir::kLink, kPS1LastLink);
  const std::string name = "BASLUS-00900BAD";
  std::copy(name.begin(), name.end(), file.begin() + ps1dir::kName);
  PS1Checksum(file.data());
  return file;
}

struct PS1Case {
  std::string name;
  std::function<void(PS1Rig&)> damage;         // on the card, before the operation
  std::function<std::vector<uint8_t>()> file;  // the PC file an operation reads, if any
  // The operation, given the path of the file it reads or writes.
  std::function<bool(PS1Rig&, const std::string&)> run;
  Result expected;
};

bool Upload(PS1Rig& rig, const std::string& path, int entry) {
  return rig.mgr.UploadPS1Saver(path, entry).done;
}

std::vector<PS1Case> Cases() {
  auto none = [](PS1Rig&) {};
  auto no_file = [] { return std::vector<uint8_t>(); };
  auto upload2 = [](PS1Rig& r, const std::string& p) { return Upload(r, p, 2); };
  auto upload0 = [](PS1Rig& r, const std::string& p) { return Upload(r, p, 0); };
  auto save_down = [](PS1Rig& r, const std::string& p) { return r.mgr.DownloadPS1Saver(p).done; };
  auto card_down = [](PS1Rig& r, const std::string& p) { return r.mgr.DownloadPS1Card(p); };
  auto whole_card = [] {
    PS1Rig other;
    other.PlaceSave({4}, "BASLUS-00950OTHER");
    return other.Snapshot();
  };
  return {
      // The save in entries 2 and 5 with its chain damaged.
      {"chain loops back: upload",
       [](PS1Rig& r) {
         r.SetDir(5, ps1state::kLast, 0, 2, "");
         r.SetDir(2, ps1state::kFirst, 3 * kPS1BlockBytes, 5, "BASLUS-00902TWO");
       },
       no_file, upload2, Result::kRefused},
      {"chain links to itself: upload",
       [](PS1Rig& r) { r.SetDir(0, ps1state::kFirst, 2 * kPS1BlockBytes, 0, "BASLUS-00901ONE"); },
       no_file, upload0, Result::kRefused},
      {"link outside the directory: upload",
       [](PS1Rig& r) {
         r.SetDir(2, ps1state::kFirst, 2 * kPS1BlockBytes, 0x40, "BASLUS-00902TWO");
       },
       no_file, upload2, Result::kRefused},
      {"size beyond the card: upload",
       [](PS1Rig& r) {
         r.SetDir(0, ps1state::kFirst, 0x7FFFFFFF, kPS1LastLink, "BASLUS-00901ONE");
       },
       no_file, upload0, Result::kRefused},
      {"negative size: upload",
       [](PS1Rig& r) {
         r.SetDir(0, ps1state::kFirst, 0xFFFFFFFF, kPS1LastLink, "BASLUS-00901ONE");
       },
       no_file, upload0, Result::kRefused},
      {"free entry: upload", none, no_file,
       [](PS1Rig& r, const std::string& p) { return Upload(r, p, 9); }, Result::kRefused},
      {"entry 15: upload", none, no_file,
       [](PS1Rig& r, const std::string& p) { return Upload(r, p, 15); }, Result::kRefused},
      {"entry -1: delete", none, no_file,
       [](PS1Rig& r, const std::string&) { return r.mgr.DeletePS1Saver(-1).done; },
       Result::kRefused},
      {"entry 15: delete", none, no_file,
       [](PS1Rig& r, const std::string&) { return r.mgr.DeletePS1Saver(15).done; },
       Result::kRefused},
      // ".PS1" save files.
      {"save file of another kind (byte 0)", none,
       [] {
         auto f = SaveFile(1, kPS1BlockBytes);
         f[ps1dir::kState] = 0x00;
         return f;
       },
       save_down, Result::kRefused},
      {"save file of another kind (byte 1)", none,
       [] {
         auto f = SaveFile(1, kPS1BlockBytes);
         f[1] = 0x20;
         return f;
       },
       save_down, Result::kRefused},
      {"empty save file", none, no_file, save_down, Result::kRefused},
      {"save file one byte short of a block", none,
       [] {
         auto f = SaveFile(1, kPS1BlockBytes);
         f.pop_back();
         return f;
       },
       save_down, Result::kRefused},
      {"save file whose size needs more blocks than it holds", none,
       [] { return SaveFile(1, 2 * kPS1BlockBytes); }, save_down, Result::kInOutError},
      {"save file of 16 blocks", none, [] { return SaveFile(16, 16 * kPS1BlockBytes); }, save_down,
       Result::kRefused},
      {"save file larger than the free blocks", none,
       [] { return SaveFile(13, 13 * kPS1BlockBytes); }, save_down, Result::kRefused},
      // ".pss" card images.
      {"card image of 1,000 bytes", none, [] { return std::vector<uint8_t>(1000, 0); }, card_down,
       Result::kRefused},
      {"card image one byte long", none,
       [=] {
         auto image = whole_card();
         image.push_back(0);
         return image;
       },
       card_down, Result::kRefused},
      {"card image one byte short", none,
       [=] {
         auto image = whole_card();
         image.pop_back();
         return image;
       },
       card_down, Result::kRefused},
      {"card image without the \"MC\" header", none,
       [=] {
         auto image = whole_card();
         image[0] = 'X';
         return image;
       },
       card_down, Result::kRefused},
  };
}

}  // namespace

Tally RunPS1Cases() {
  Tally tally;
  PS1Rig rig;
  // A one-block save in entry 0 and a two-block save in entries 2 and 5:
  // three blocks in use, twelve free.
  rig.PlaceSave({0}, "BASLUS-00901ONE");
  rig.PlaceSave({2, 5}, "BASLUS-00902TWO");
  const std::vector<uint8_t> card = rig.Snapshot();
  const std::string input = rig.dir.File("input.bin");
  const std::string output = rig.dir.File("output.PS1");

  for (const PS1Case& c : Cases()) {
    const std::string name = "PS1: " + c.name;
    std::copy(card.begin(), card.end(), rig.Card().begin());
    c.damage(rig);
    const std::vector<uint8_t> before = rig.Snapshot();
    testing::WriteFile(input, c.file());
    // Operations that read a file get the input; uploads write the output.
    std::filesystem::remove(output);
    const bool upload = c.name.ends_with(": upload");
    const Outcome got = Attempt(name, [&] { return c.run(rig, upload ? output : input); });
    const bool no_file = !std::filesystem::exists(output);
    if (!no_file) ADD_FAILURE() << name << ": a failed upload left a file";
    Record(tally, name, got, c.expected, no_file && rig.Snapshot() == before);
  }

  // A delete follows a looping chain once round and ends: every block of the
  // loop is marked deleted, nothing else changes.
  std::copy(card.begin(), card.end(), rig.Card().begin());
  rig.SetDir(5, ps1state::kLast, 0, 2, "");
  const std::vector<uint8_t> before = rig.Snapshot();
  const Outcome got =
      Attempt("PS1: chain loops back: delete", [&] { return rig.mgr.DeletePS1Saver(2).done; });
  const std::vector<uint8_t> after = rig.Snapshot();
  bool only_states = true;
  for (size_t i = 0; i < before.size(); ++i) {
    const size_t frame = i / kPS1FrameBytes, at = i % kPS1FrameBytes;
    const bool may_change =
        (frame == 3 || frame == 6) && (at == ps1dir::kState || at == ps1dir::kChecksum);
    if (!may_change && after[i] != before[i]) only_states = false;
  }
  only_states = only_states && (rig.Dir(2)[0] & 0xF0) == ps1state::kDeleted &&
                (rig.Dir(5)[0] & 0xF0) == ps1state::kDeleted;
  Record(tally, "PS1: chain loops back: delete", got, Result::kSucceeded, only_states);
  return tally;
}

}  // namespace travosk::manager::hostile
