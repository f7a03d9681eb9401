// Damaged PS2 card images: allocation table chains that loop, leave the table
// or run into free clusters, entries whose lengths or clusters lie, and
// superblocks that ask for more than the card has. The catalogue must end,
// the checker must flag the damage, a backup of what the damage touches must
// fail with a reason and leave no file, and none of it may write the card.
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "card/checker.h"
#include "card/fileip.h"
#include "common/bytes.h"
#include "hostile.h"
#include "support/manager_fixture.h"

namespace travosk::manager::hostile {

namespace {

using support::PokeFat;

// Where an entry sits on the card and the cluster it names.
struct Place {
  uint32_t cluster = 0;  // first cluster of the file or folder
  uint32_t at = 0;       // relative cluster and offset of its directory entry
  uint16_t offset = 0;
};

// Image offset of a directory entry's field on the console's 8 MB layout
// (allocatable cluster r is physical cluster r + 41; pages of 528 bytes).
size_t EntryField(const Place& p, size_t field) {
  const size_t page = (size_t{p.at} + 41) * 2 + p.offset / 512;
  return page * 528 + field;
}

size_t RootDotField(size_t field) {
  return EntryField({0, 0, 0}, field);
}

using Image = std::span<uint8_t>;
using Places = std::map<std::string, Place>;

enum class Op { kCatalog, kBackupGame, kBackupOpt };

struct CardCase {
  std::string name;
  std::function<void(Image, const Places&)> damage;
  Op op;
  Result expected;
};

std::vector<CardCase> Cases() {
  using card::entry::kCluster;
  using card::entry::kLength;
  using card::entry::kReserved;
  // DATA.BIN holds three clusters, consecutive on a fresh card.
  auto second = [](const Places& p) { return p.at("DATA.BIN").cluster + 1; };
  auto loop_data = [second](Image i, const Places& p) {
    PokeFat(i, second(p), 0x80000000 | p.at("DATA.BIN").cluster);
  };
  return {
      {"file chain loops: catalogue", loop_data, Op::kCatalog, Result::kSucceeded},
      {"file chain loops: backup", loop_data, Op::kBackupGame, Result::kRefused},
      {"file chain loops, length 0xFFFFFFFF: backup",
       [=](Image i, const Places& p) {
         loop_data(i, p);
         store_le32(i, EntryField(p.at("DATA.BIN"), kLength), 0xFFFFFFFF);
       },
       Op::kBackupGame, Result::kRefused},
      {"file chain leaves the table: backup",
       [=](Image i, const Places& p) { PokeFat(i, second(p), 0x80007000); }, Op::kBackupGame,
       Result::kRefused},
      {"file chain runs into a free cluster: backup",
       [=](Image i, const Places& p) { PokeFat(i, second(p), 0x7FFFFFFF); }, Op::kBackupGame,
       Result::kRefused},
      {"file's first cluster outside the card: backup",
       [](Image i, const Places& p) {
         store_le32(i, EntryField(p.at("DATA.BIN"), kCluster), 0x00FFFFFF);
       },
       Op::kBackupGame, Result::kRefused},
      {"file length 0xFFFFFFFF: backup",
       [](Image i, const Places& p) {
         store_le32(i, EntryField(p.at("DATA.BIN"), kLength), 0xFFFFFFFF);
       },
       Op::kBackupGame, Result::kRefused},
      {"root chain loops: catalogue",
       [](Image i, const Places&) {
         PokeFat(i, 0, 0x80000000);
         store_le32(i, RootDotField(kLength), 1000);
       },
       Op::kCatalog, Result::kSucceeded},
      {"root length 0xFFFFFFFF: catalogue",
       [](Image i, const Places&) { store_le32(i, RootDotField(kLength), 0xFFFFFFFF); },
       Op::kCatalog, Result::kSucceeded},
      {"save folder chain loops: catalogue",
       [](Image i, const Places& p) {
         const uint32_t folder = p.at("BASLUS-20001GAME").cluster;
         PokeFat(i, folder + 1, 0x80000000 | folder);
       },
       Op::kCatalog, Result::kSucceeded},
      {"save folder chain loops: backup",
       [](Image i, const Places& p) {
         const uint32_t folder = p.at("BASLUS-20001GAME").cluster;
         PokeFat(i, folder + 1, 0x80000000 | folder);
       },
       Op::kBackupGame, Result::kRefused},
      {"save folder length 0xFFFFFFFF: backup of the other save",
       [](Image i, const Places& p) {
         store_le32(i, EntryField(p.at("BASLUS-20001GAME"), kLength), 0xFFFFFFFF);
       },
       Op::kBackupOpt, Result::kSucceeded},
      {"save folder's first cluster outside the card: catalogue",
       [](Image i, const Places& p) {
         store_le32(i, EntryField(p.at("BASLUS-20001GAME"), kCluster), 0x7FFFFFF0);
       },
       Op::kCatalog, Result::kSucceeded},
      {"entry with bytes 2..3 set: catalogue",
       [](Image i, const Places& p) { i[EntryField(p.at("BASLUS-20001GAME"), kReserved)] = 1; },
       Op::kCatalog, Result::kSucceeded},
      {"superblock magic damaged: catalogue", [](Image i, const Places&) { i[25] = 'A'; },
       Op::kCatalog, Result::kRefused},
      {"superblock asks for 255 table clusters: catalogue",
       [](Image i, const Places&) { i[0x31] = 0xFF; }, Op::kCatalog, Result::kRefused},
      {"table cluster outside the card: catalogue",
       [](Image i, const Places&) { store_le32(i, 8 * 2 * 528, 0xFFFFFFF0); }, Op::kCatalog,
       Result::kRefused},
  };
}

Places Locate(support::ManagerRig& rig) {
  Places places;
  auto note = [&places](card::TfileIP& x) {
    if (!x.IsDotName() && !x.Deleted)
      places[x.Name] = {static_cast<uint32_t>(x.RelatCluster), x.NowCluster, x.NowOffset};
  };
  rig.mgr.OnAddrootNode = note;
  rig.mgr.OnAddChildNode = note;
  if (!rig.mgr.Catalog()) ADD_FAILURE() << "the card for the card-image cases does not catalogue";
  rig.mgr.OnAddrootNode = nullptr;
  rig.mgr.OnAddChildNode = nullptr;
  return places;
}

bool Run(support::ManagerRig& rig, Op op, const std::string& backup) {
  if (op == Op::kCatalog) return rig.mgr.Catalog();
  card::TfileIP folder;
  const char* name = op == Op::kBackupGame ? "BASLUS-20001GAME" : "BESLES-50002OPT";
  // The damage may hide the save from the catalogue; then there is nothing
  // to back up, which is a refusal too.
  if (!rig.FindFolder(name, folder)) return false;
  return rig.mgr.BackupSaveFolder(backup, folder).done;
}

}  // namespace

Tally RunCardImageCases() {
  Tally tally;
  support::ManagerRig rig;
  if (!rig.AddSave("BASLUS-20001GAME", {{"icon.sys", std::string(964, 'g')},
                                        {"DATA.BIN", std::string(2500, 'd')},
                                        {"EMPTY", ""}}) ||
      !rig.AddSave("BESLES-50002OPT", {{"OPT", "x"}})) {
    ADD_FAILURE() << "the card for the card-image cases could not be made";
    return tally;
  }
  const Places places = Locate(rig);
  const std::vector<uint8_t> healthy = rig.Snapshot();
  const std::string backup = rig.dir.File("backup.psu");

  for (const CardCase& c : Cases()) {
    const std::string name = "card image: " + c.name;
    auto image = rig.medium().bytes();
    std::copy(healthy.begin(), healthy.end(), image.begin());
    c.damage(image, places);
    const std::vector<uint8_t> damaged = rig.Snapshot();
    std::filesystem::remove(backup);

    const Outcome got = Attempt(
        name, [&] { return Run(rig, c.op, backup); }, [&] { return rig.mgr.LastError(); });
    // A failed backup leaves no file behind; a good one is a whole archive.
    const bool file_as_claimed =
        std::filesystem::exists(backup) == (got.result == Result::kSucceeded) ||
        c.op == Op::kCatalog;
    if (!file_as_claimed) ADD_FAILURE() << name << ": the backup file does not match the result";
    // The checker sees every one of these (except where the damage makes the
    // card unmountable, which the catalogue reports).
    bool flagged = true;
    if (rig.mgr.Volume().Mount()) {
      const Outcome checked = Attempt(
          name + " (checker)", [&] { return card::CheckFileSystem(rig.mgr.Volume()).Healthy(); });
      flagged = checked.result != Result::kSucceeded;
      if (!flagged) ADD_FAILURE() << name << ": the checker finds the card healthy";
    }
    // A backup refused for damage says what it found.
    Record(tally, name, got, c.expected, file_as_claimed && flagged && rig.Snapshot() == damaged,
           c.op != Op::kCatalog);
  }
  std::copy(healthy.begin(), healthy.end(), rig.medium().bytes().begin());
  return tally;
}

}  // namespace travosk::manager::hostile
