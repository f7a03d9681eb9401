// Reads that come back corrupted, during a catalogue and a backup.
//
// What the system can and cannot tell. A page travels from the adapter as its
// 512 data bytes and nothing else: the card's error-correcting code stays in
// the spare bytes on the adapter's side, and the link carries no checksum. A
// byte flipped on the way is therefore indistinguishable from data, and a
// backup of a file whose data page was corrupted holds the flipped byte and
// restores it. Bytes that have a structure are another matter: the card's
// recognition reply, the superblock's magic, allocation table entries (which
// must stay inside the table and must not loop), directory entries (reserved
// bytes, mode words, the "." and ".." of a save) and the lengths checked
// against chains all refuse values they cannot hold. A corrupted read of
// those fails the catalogue or the backup, or at worst changes what is
// listed; it never crashes and never makes an archive that does not read
// back. These tests hold the system to that.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "common/errors.h"
#include "manager/findsave.h"
#include "manager/inspectarchive.h"

#include "support/fault_rig.h"

namespace travosk {
namespace {

using manager::ArchiveFile;
using support::ManagerRig;

std::string Pattern(size_t n, uint8_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 29 + (i >> 6));
  return s;
}

const std::string kSave = "BASLUS-20001READ";

// The archive's header ranges: the folder header, "." and "..", and each
// file's header; everything else is file data.
std::vector<std::pair<size_t, size_t>> HeaderRanges(const std::vector<ArchiveFile>& files) {
  std::vector<std::pair<size_t, size_t>> ranges = {{0, 1536}};
  size_t at = 1536;
  for (const auto& f : files) {
    ranges.push_back({at, at + 512});
    at += 512 + (f.data.size() + 1023) / 1024 * 1024;
  }
  return ranges;
}

enum class Outcome { kFailed, kIdentical, kDiffers };

// Catalogue, find the save and back it up, as the window's backup does.
Outcome CatalogueAndBackUp(ManagerRig& rig, const std::string& path, const std::string& clean,
                           std::string& why) {
  std::remove(path.c_str());
  try {
    auto folder = manager::FindSave(rig.mgr, kSave);
    if (!folder) {
      why = "the save is not listed (" + rig.mgr.LastError() + ")";
      return Outcome::kFailed;
    }
    if (!rig.mgr.BackupSaveFolder(path, *folder)) {
      why = rig.mgr.LastError();
      return Outcome::kFailed;
    }
  } catch (const CardError& e) {
    why = e.what();
    return Outcome::kFailed;
  }
  return support::ReadFileBytes(path) == clean ? Outcome::kIdentical : Outcome::kDiffers;
}

TEST(CorruptRead, NeitherCrashesNorMakesABackupThatDoesNotReadBack) {
  ManagerRig rig;
  ASSERT_TRUE(rig.AddSave("BASLUS-20000OTHER", {{"DATA", Pattern(1500, 1)}}));
  const std::vector<ArchiveFile> files = {
      {"icon.sys", Pattern(964, 2)}, {"DATA0", Pattern(3000, 3)}, {"DATA1", Pattern(700, 4)}};
  ASSERT_TRUE(rig.AddSave(kSave, files));
  const std::string path = rig.dir.File("backup.psu");
  const std::vector<uint8_t> image = rig.Snapshot();

  // The clean backup, and the replies it takes: one per recognition and
  // one per page read.
  support::Reconnect(rig);
  rig.adapter().ResetCounters();
  std::string why;
  ASSERT_EQ(CatalogueAndBackUp(rig, path, "", why), Outcome::kDiffers);
  const std::string clean = support::ReadFileBytes(path);
  const auto& counters = rig.adapter().counters();
  const uint64_t replies = counters.Packets(0x51, 0x26) + counters.Packets(0xA5, 0x69);
  const auto headers = HeaderRanges(files);

  uint64_t detected = 0, harmless = 0, in_data = 0, files_as_folders = 0;
  for (uint64_t n = 0; n < replies; ++n) {
    support::RestoreImage(rig, image);
    support::Reconnect(rig);
    rig.adapter().CorruptReadAfter(n);
    const Outcome got = CatalogueAndBackUp(rig, path, clean, why);
    // The card's recognition reply and its superblock come first: neither
    // survives a flipped byte.
    if (n < 2) {
      EXPECT_EQ(got, Outcome::kFailed) << "reply " << n;
    }
    if (got == Outcome::kFailed) {
      ++detected;
      continue;
    }
    if (got == Outcome::kIdentical) {
      ++harmless;
      continue;
    }
    // A backup that went through anyway still reads back, record for record.
    const auto info = manager::InspectArchive(path);
    ASSERT_TRUE(info.has_value()) << "reply " << n;
    const std::string bytes = support::ReadFileBytes(path);
    if (bytes.size() < clean.size()) {
      // A flipped mode word made a file read as a folder, and the archive
      // format leaves folders inside a save out: nothing tells such a file
      // from a real sub-folder.
      EXPECT_LT(info->files, files.size()) << "reply " << n;
      ++files_as_folders;
      continue;
    }
    // Otherwise the one flipped byte is file data, which nothing can tell.
    ASSERT_EQ(bytes.size(), clean.size()) << "reply " << n;
    std::vector<size_t> diff;
    for (size_t i = 0; i < clean.size(); ++i)
      if (bytes[i] != clean[i]) diff.push_back(i);
    ASSERT_EQ(diff.size(), 1u) << "reply " << n;
    for (const auto& [from, to] : headers)
      EXPECT_FALSE(diff[0] >= from && diff[0] < to)
          << "reply " << n << " changed header byte " << diff[0] << " of a backup that succeeded";
    ++in_data;
  }
  std::cout << "fault injection, corrupted reads: " << replies << " cases, detected " << detected
            << ", harmless " << harmless << ", undetected " << in_data + files_as_folders << " ("
            << in_data << " in file data, " << files_as_folders << " files read as folders)\n";
}

// Allocation table entries arrive in pages of 128 at mount, after the card's
// recognition, its superblock and the indirect table page: reply 3 + p holds
// entries 128p .. 128p + 127, and the flipped byte is the low byte of the
// first of them.
TEST(CorruptRead, AFlippedChainEntryFailsTheBackupInsteadOfCopyingWrongClusters) {
  ManagerRig rig;
  // One file long enough to run through cluster 128, whose entry links it on.
  const std::vector<ArchiveFile> files = {{"icon.sys", Pattern(964, 5)},
                                          {"BIG", Pattern(200 * 1024, 6)}};
  ASSERT_TRUE(rig.AddSave(kSave, files));
  ASSERT_EQ(support::PeekFat(rig.medium().bytes(), 128), 0x80000000u | 129);
  const std::string path = rig.dir.File("backup.psu");
  std::string why;

  // Entry 128 comes back as 0x8000007E: the chain turns back to cluster 126.
  rig.adapter().CorruptReadAfter(3 + 1);
  EXPECT_EQ(CatalogueAndBackUp(rig, path, "", why), Outcome::kFailed);
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(std::filesystem::exists(path));

  // The card itself is sound: read again, the backup goes through.
  ASSERT_EQ(CatalogueAndBackUp(rig, path, "", why), Outcome::kDiffers) << why;
  EXPECT_EQ(manager::InspectArchive(path)->files, 2u);
}

}  // namespace
}  // namespace travosk
