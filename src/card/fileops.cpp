// Copying a card file off the card: its 512-byte header and its clusters, to a
// PC stream or a PC file. Also the helpers that every file operation shares.
#include "card/fileops.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "card/chain_util.h"
#include "common/atomic_file.h"
#include "common/errors.h"

namespace travosk::card {
namespace detail {

void ChainGuard::Visit(uint32_t c) {
  if (!InTable(v_, c)) {
    throw CardError("The card's allocation table is damaged: a chain leads to cluster " +
                    std::to_string(c) + ", which the card does not have.");
  }
  if (seen_[c]) {
    throw CardError("The card's allocation table is damaged: the chain through cluster " +
                    std::to_string(c) + " loops.");
  }
  seen_[c] = true;
}

void ReadBytes(std::istream& in, uint8_t* dest, size_t count, const std::string& file) {
  in.read(reinterpret_cast<char*>(dest), static_cast<std::streamsize>(count));
  if (static_cast<size_t>(in.gcount()) != count) {
    throw InOutError(file, in.bad() ? "Read error" : "Read beyond end of file");
  }
}

void WriteBytes(std::ostream& out, const uint8_t* src, size_t count, const std::string& file) {
  errno = 0;
  out.write(reinterpret_cast<const char*>(src), static_cast<std::streamsize>(count));
  if (!out) throw InOutError(file, errno != 0 ? std::strerror(errno) : "Disk write error");
}

}  // namespace detail

using detail::InTable;
using detail::WriteBytes;

std::array<uint8_t, 512> BuildHeader(const TfileIP& x) {
  std::array<uint8_t, 512> h{};
  std::copy(x.Header.begin(), x.Header.end(), h.begin());
  const size_t room = h.size() - entry::kName;
  const size_t n = std::min(x.Name.size(), room);
  std::copy_n(x.Name.begin(), n, h.begin() + entry::kName);
  return h;
}

bool ReadChainCluster(TPSFilemanager& v, uint32_t& c, uint8_t* dest1024) {
  if (c == kChainEnd || c == kFreeEntry) return false;
  if (!InTable(v, c)) {
    throw CardError("The card's allocation table is damaged: a file's chain leads to cluster " +
                    std::to_string(c) + ", which the card does not have.");
  }
  v.ReadCluster(c, dest1024);
  const uint32_t e = v.Fat[c];
  c = (e == kChainEnd || e == kFreeEntry) ? e : (e & detail::kNextMask);
  return true;
}

ChainReader::ChainReader(TPSFilemanager& v, uint32_t first)
    : v_(v), position_(first), seen_(v.Fat.size(), false) {}

bool ChainReader::Next(uint8_t* dest1024) {
  if (position_ != kChainEnd && position_ != kFreeEntry && InTable(v_, position_)) {
    if (seen_[position_]) {
      throw CardError("The card's allocation table is damaged: the chain through cluster " +
                      std::to_string(position_) + " loops.");
    }
    seen_[position_] = true;
  }
  return ReadChainCluster(v_, position_, dest1024);
}

bool ExportEntry(TPSFilemanager& v, std::ostream& out, const TfileIP& x,
                 const std::string& target) {
  if (x.Dir == 0 && x.Deleted == 0) {
    const auto header = BuildHeader(x);
    WriteBytes(out, header.data(), header.size(), target);
    // Every cluster of the chain goes out, whatever the length field says:
    // the archive carries what the card holds.
    ChainReader chain(v, static_cast<uint32_t>(x.RelatCluster));
    std::array<uint8_t, kClusterBytes> cluster{};
    while (chain.Next(cluster.data())) WriteBytes(out, cluster.data(), cluster.size(), target);
    return true;
  }
  if (x.Dir == 1 && x.Deleted == 0 && x.IsDotName()) {
    const auto header = BuildHeader(x);
    WriteBytes(out, header.data(), header.size(), target);
    return true;
  }
  return false;
}

bool ExportFileToPath(TPSFilemanager& v, const std::string& path, const TfileIP& x) {
  if (x.Dir != 0 || x.Deleted != 0) return false;
  // The copy replaces an existing file only once it is whole.
  std::optional<AtomicFile> file;
  try {
    file.emplace(path);
  } catch (const InOutError&) {
    return false;  // the file cannot be created
  }
  if (!ExportEntry(v, file->stream(), x, path)) return false;
  file->Commit();
  return true;
}

StagedChange::StagedChange(TPSFilemanager& v) : v_(v), fat_(v.Fat) {}

StagedChange::~StagedChange() {
  if (committed_) return;
  v_.Fat = std::move(fat_);
  try {
    v_.cache().ResetCache();
  } catch (...) {
    // Forgetting the slots cannot fail in a way that matters here: the next
    // mount resets the cache again before anything is written.
  }
}

void StagedChange::Commit(const std::function<void(int slot, int slots)>& progress) {
  v_.cache().FlushCache(progress);
  committed_ = true;
}

}  // namespace travosk::card
