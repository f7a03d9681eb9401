// Adding to the card from a PC stream: one file into a folder, or a save
// folder with its "." and ".." entries into the root. The stream holds a
// 512-byte header laid out like a directory entry, then (for a file) its data
// in whole 1,024-byte clusters.
//
// Nothing here flushes except WriteFileFromPath: the card manager adds a
// folder and its files and commits them at once. A stream that ends early
// throws InOutError before any flush, so the card keeps what it had.
#include <fstream>

#include "card/chain_util.h"
#include "card/fileops.h"
#include "common/errors.h"

namespace travosk::card {

using namespace detail;

namespace {

using Header = std::array<uint8_t, entry::kBytes>;

// The header checks that files and folders share: bytes 2 and 3 are zero (the
// mode is a 16-bit value), the entry exists (a deleted or blank one would hold
// clusters that no directory reaches, and 0xFFFF reads as an erased slot that
// ends its directory), and the name is not one of the directory's own.
bool HeaderAcceptable(const Header& h) {
  if (load_le16(h, entry::kReserved) != 0) return false;
  const uint16_t mode = load_le16(h, entry::kMode);
  if ((mode & entry::kModeExists) == 0 || mode == 0xFFFF) return false;
  // Entries the walk cannot list would hide what they hold, and every entry
  // after them in the directory: one with attribute bytes set ends the
  // listing there, and one whose name starts with "." reads as the
  // directory's own "." or "..".
  for (size_t i = entry::kAttributes; i < entry::kName; ++i) {
    if (h[i] != 0) return false;
  }
  const std::string name = load_cstr(h, entry::kName, entry::kNameMax);
  return name.empty() || name[0] != '.';
}

bool IsDirectoryHeader(const Header& h) {
  return (load_le16(h, entry::kMode) & entry::kModeDirectory) != 0;
}

void StoreSlot(TPSFilemanager& v, FreeSlot& slot, const Header& h) {
  std::copy(h.begin(), h.end(), slot.bytes.begin() + slot.offset);
  v.cache().CacheWriteCluster(v.ClusterPage(slot.cluster), slot.bytes.data());
  // The first entry added (a save's own, before its files') is what makes
  // the change visible: its block goes to the card last.
  v.cache().MarkVisibleEntry(v.ClusterPage(slot.cluster), true);
}

}  // namespace

bool WriteFile(TPSFilemanager& v, const Header& header, Bytes blocks, const TfileIP& d) {
  FreeSlot slot;
  if (!FindFreeSlot(v, d, slot)) return false;
  Header h = header;
  if (!HeaderAcceptable(h) || IsDirectoryHeader(h)) return false;

  const uint32_t length = load_le32(h, entry::kLength);
  const uint64_t clusters = (static_cast<uint64_t>(length) + kClusterBytes - 1) / kClusterBytes;
  // More clusters than the table has can never be found.
  if (clusters >= v.FatEntryCount()) return false;
  if (blocks.size() < clusters * kClusterBytes)
    throw CardError("file \"" + load_cstr(h, entry::kName, entry::kNameMax) +
                    "\" holds fewer bytes than its length");

  // An empty file owns no cluster; its entry says so with 0xFFFFFFFF, as the
  // console writes it.
  uint32_t first = kChainEnd;
  if (clusters > 0 && !v.AllocateCluster(first)) return false;
  store_le32(h, entry::kCluster, first);
  StoreSlot(v, slot, h);

  uint32_t c = first;
  for (uint64_t i = 0; i < clusters; ++i) {
    v.cache().CacheWriteCluster(v.ClusterPage(c), blocks.data() + i * kClusterBytes);
    if (i + 1 < clusters) {
      uint32_t next = 0;
      if (!v.ExtendChain(c, next)) return false;
      c = next;
    }
  }

  StoreCount(v, d.ParentCluster, d.ParentOffset, CountEntries(v, d));
  v.StoreFat();
  return true;
}

bool WriteFileFromStream(TPSFilemanager& v, std::istream& in, const TfileIP& d,
                         const std::string& source) {
  Header h{};
  ReadBytes(in, h.data(), h.size(), source);
  const uint64_t clusters =
      (static_cast<uint64_t>(load_le32(h, entry::kLength)) + kClusterBytes - 1) / kClusterBytes;
  // A refused header, or more clusters than the table has, is refused before
  // the stream is read for nothing.
  if (!HeaderAcceptable(h) || IsDirectoryHeader(h) || clusters >= v.FatEntryCount()) {
    FreeSlot slot;
    (void)FindFreeSlot(v, d, slot);
    return false;
  }
  std::vector<uint8_t> data(static_cast<size_t>(clusters * kClusterBytes));
  if (!data.empty()) ReadBytes(in, data.data(), data.size(), source);
  return WriteFile(v, h, data, d);
}

bool WriteFileFromPath(TPSFilemanager& v, const std::string& path, const TfileIP& d) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  StagedChange change(v);
  if (!WriteFileFromStream(v, in, d, path)) return false;
  change.Commit();
  return true;
}

bool CreateFolder(TPSFilemanager& v, const Header& header, Bytes dots1024, TfileIP& d,
                  uint32_t& count) {
  FreeSlot slot;
  if (!FindFreeSlot(v, d, slot)) return false;
  Header h = header;
  if (load_le16(h, entry::kReserved) != 0) return false;
  const uint32_t length = load_le32(h, entry::kLength);
  count = length;
  if (!HeaderAcceptable(h) || !IsDirectoryHeader(h) || length < 2) return false;
  // The length counts "." and ".."; the files that follow are the rest.
  count = length - 2;

  std::array<uint8_t, kClusterBytes> dots{};
  if (dots1024.size() != dots.size()) return false;
  std::copy(dots1024.begin(), dots1024.end(), dots.begin());
  if (!DotEntriesPresent(dots.data())) return false;

  uint32_t first = 0;
  if (!v.AllocateCluster(first)) return false;
  // The folder starts with its two own entries; each file added later raises
  // the length as it lands.
  store_le32(h, entry::kLength, 2);
  store_le32(h, entry::kCluster, first);
  StoreSlot(v, slot, h);

  // The "." entry records where the folder's own entry sits in the root.
  store_le32(dots, entry::kDirEntry, slot.index);
  v.cache().CacheWriteCluster(v.ClusterPage(first), dots.data());

  d.Dir = 1;
  d.Deleted = 0;
  StoreCount(v, d.ParentCluster, d.ParentOffset, CountEntries(v, d));
  v.StoreFat();

  // From here d names the new folder for the file entries that follow.
  d.Dir = 0;
  d.Deleted = 0;
  d.RelatCluster = static_cast<int32_t>(first);
  d.HeadCluster = static_cast<int32_t>(first);
  d.HeadOffset = 0;
  d.ParentCluster = slot.cluster;
  d.ParentOffset = slot.offset;
  return true;
}

bool CreateFolderFromStream(TPSFilemanager& v, std::istream& in, TfileIP& d, uint32_t& count,
                            const std::string& source) {
  Header h{};
  ReadBytes(in, h.data(), h.size(), source);
  const uint32_t length = load_le32(h, entry::kLength);
  if (load_le16(h, entry::kReserved) != 0 || !HeaderAcceptable(h) || !IsDirectoryHeader(h) ||
      length < 2) {
    count = length;
    FreeSlot slot;
    (void)FindFreeSlot(v, d, slot);
    return false;
  }
  std::array<uint8_t, kClusterBytes> dots{};
  ReadBytes(in, dots.data(), dots.size(), source);
  return CreateFolder(v, h, dots, d, count);
}

}  // namespace travosk::card
