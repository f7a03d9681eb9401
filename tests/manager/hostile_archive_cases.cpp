// Save archives that must not reach the card: cut short, larger than the
// card, with headers of the wrong kind, reserved bytes set, the directory's
// own names, or lengths of 0xFFFFFFFF. Each is appended onto a card that
// already holds a save, and the card must come out byte for byte as it was.
#include <functional>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "common/bytes.h"
#include "hostile.h"
#include "support/manager_fixture.h"

namespace travosk::manager::hostile {

namespace {

using support::kFormatTime;

constexpr size_t kHeader = 512;
constexpr size_t kFileHeader = 3 * kHeader;  // after the folder, "." and ".."

std::string Archive(const std::vector<ArchiveFile>& files) {
  return BuildSaveArchive("BASLUS-20999NEW", files, kFormatTime);
}

std::string TwoFiles() {
  return Archive({{"icon.sys", std::string(964, 'i')}, {"DATA", std::string(2500, 'd')}});
}
std::string OneFile() {
  return Archive({{"DATA", std::string(100, 'd')}});
}

// The archive with `bytes` written at `at`.
std::string With(std::string archive, size_t at, const std::string& bytes) {
  archive.replace(at, bytes.size(), bytes);
  return archive;
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  store_le32(MutableBytes(reinterpret_cast<uint8_t*>(s.data()), 4), 0, v);
  return s;
}

std::string Cut(const std::string& archive, size_t keep) {
  return archive.substr(0, keep);
}

struct ArchiveCase {
  std::string name;
  std::function<std::string()> bytes;
  Result expected;
};

std::vector<ArchiveCase> Cases() {
  using card::entry::kLength;
  using card::entry::kMode;
  using card::entry::kName;
  using card::entry::kReserved;
  const std::string two = TwoFiles();
  return {
      // Cut short: the stream ends before what the headers announce.
      {"empty archive", [] { return std::string(); }, Result::kInOutError},
      {"cut inside the folder header", [=] { return Cut(two, 300); }, Result::kInOutError},
      {"folder header alone", [=] { return Cut(two, kHeader); }, Result::kInOutError},
      {"cut inside a file header", [=] { return Cut(two, kFileHeader + 100); },
       Result::kInOutError},
      {"cut inside a file's data", [=] { return Cut(two, two.size() - 1500); },
       Result::kInOutError},
      {"one byte short", [=] { return Cut(two, two.size() - 1); }, Result::kInOutError},
      {"fewer files than announced", [] { return With(OneFile(), kLength, Le32(5)); },
       Result::kInOutError},
      {"folder length 0xFFFFFFFF", [] { return With(OneFile(), kLength, Le32(0xFFFFFFFF)); },
       Result::kInOutError},
      // Larger than the card: a length the table cannot hold, and a file
      // that is all there but does not fit into the free clusters.
      {"file length 0xFFFFFFFF",
       [] { return With(OneFile(), kFileHeader + kLength, Le32(0xFFFFFFFF)); }, Result::kRefused},
      // 8,150 clusters: fewer than the table's 8,192, more than the card's
      // free ones (8,135 allocatable, some of them taken).
      {"file larger than the free space",
       [] {
         return Archive({{"HUGE", std::string(8150 * 1024, 'h')}});
       },
       Result::kRefused},
      // Headers the reader refuses.
      {"folder header bytes 2..3 set", [=] { return With(two, kReserved, "\x01"); },
       Result::kRefused},
      {"file header bytes 2..3 set", [=] { return With(two, kFileHeader + kReserved + 1, "\x80"); },
       Result::kRefused},
      {"folder header that is a file", [=] { return With(two, kMode, std::string("\x17\x84", 2)); },
       Result::kRefused},
      {"file header that is a folder",
       [=] { return With(two, kFileHeader + kMode, std::string("\x27\x84", 2)); },
       Result::kRefused},
      {"folder named \".\"", [=] { return With(two, kName, std::string(".\0", 2)); },
       Result::kRefused},
      {"folder named \"..\"", [=] { return With(two, kName, std::string("..\0", 3)); },
       Result::kRefused},
      {"file named \".\"", [=] { return With(two, kFileHeader + kName, std::string(".\0", 2)); },
       Result::kRefused},
      {"file named \"..\"", [=] { return With(two, kFileHeader + kName, std::string("..\0", 3)); },
       Result::kRefused},
      // Entries the catalogue could not list, nor anything after them.
      {"folder named \".SAVE\"", [=] { return With(two, kName, std::string(".SAVE\0", 6)); },
       Result::kRefused},
      {"file named \".DATA\"",
       [=] { return With(two, kFileHeader + kName, std::string(".DATA\0", 6)); }, Result::kRefused},
      {"folder header attribute word set",
       [=] { return With(two, card::entry::kAttributes, "\x01"); }, Result::kRefused},
      {"last file header's reserved byte 0x3F set",
       [=] { return With(two, two.size() - 3 * 1024 - kHeader + 0x3F, "\x01"); }, Result::kRefused},
      // Entries that do not exist would hold clusters no directory reaches.
      {"folder header of a deleted entry",
       [=] { return With(two, kMode, std::string("\x27\x04", 2)); }, Result::kRefused},
      {"folder header of an erased slot (mode 0xFFFF)",
       [=] { return With(two, kMode, std::string("\xFF\xFF", 2)); }, Result::kRefused},
      {"file header of a deleted entry",
       [=] { return With(two, kFileHeader + kMode, std::string("\x17\x21", 2)); },
       Result::kRefused},
      {"blank file header (mode 0)",
       [=] { return With(two, kFileHeader + kMode, std::string("\0\0", 2)); }, Result::kRefused},
      {"folder length 0", [=] { return With(two, kLength, Le32(0)); }, Result::kRefused},
      {"folder length 1", [=] { return With(two, kLength, Le32(1)); }, Result::kRefused},
      {"\".\" and \"..\" missing",
       [=] { return With(two, kHeader + kName, std::string("X\0", 2)); }, Result::kRefused},
  };
}

}  // namespace

Tally RunArchiveCases() {
  Tally tally;
  support::ManagerRig rig;
  if (!rig.AddSave("BASLUS-20001GAME", {{"icon.sys", std::string(964, 'g')}, {"SAVE", "data"}})) {
    ADD_FAILURE() << "the card for the archive cases could not be made";
    return tally;
  }
  const std::vector<uint8_t> card = rig.Snapshot();
  const std::string path = rig.dir.File("hostile.psu");
  for (const ArchiveCase& c : Cases()) {
    // Each case starts from the same card, whatever the one before did.
    std::copy(card.begin(), card.end(), rig.medium().bytes().begin());
    support::WriteFileBytes(path, c.bytes());
    const Outcome got = Attempt("archive: " + c.name, [&] {
      if (!rig.mgr.Catalog()) return false;
      card::TfileIP root = card::RootDirectory();
      return rig.mgr.AppendSaveArchive(path, root).done;
    });
    Record(tally, "archive: " + c.name, got, c.expected, rig.Snapshot() == card);
  }
  // A name that is not there at all.
  const Outcome got = Attempt("archive: missing file", [&] {
    card::TfileIP root = card::RootDirectory();
    return rig.mgr.Catalog() && rig.mgr.AppendSaveArchive(rig.dir.File("missing.psu"), root);
  });
  Record(tally, "archive: missing file", got, Result::kRefused, rig.Snapshot() == card);
  return tally;
}

}  // namespace travosk::manager::hostile
