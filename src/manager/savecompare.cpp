#include "manager/savecompare.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "formats/save.h"
#include "manager/findsave.h"
#include "manager/ps1card.h"
#include "manager/ps1records.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {
namespace {

constexpr size_t kHeader = formats::kEntryBytes;

std::optional<std::vector<uint8_t>> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}

// The archive with every entry header's place fields cleared; nullopt when
// its headers do not add up to its length.
std::optional<std::vector<uint8_t>> WithoutPlaces(std::vector<uint8_t> a) {
  if (a.size() < 3 * kHeader) return std::nullopt;
  const uint32_t count = Le32(a, 4);
  if (count < 2) return std::nullopt;
  auto clear = [&a](size_t at) {
    for (size_t i = 16; i < 24; ++i) a[at + i] = 0;
  };
  size_t at = 0;
  for (int i = 0; i < 3; ++i, at += kHeader) clear(at);
  for (uint32_t f = 2; f < count; ++f) {
    if (at + kHeader > a.size()) return std::nullopt;
    clear(at);
    const uint64_t length = Le32(a, at + 4);
    at +=
        kHeader + (length + formats::kBlockBytes - 1) / formats::kBlockBytes * formats::kBlockBytes;
  }
  if (at != a.size()) return std::nullopt;
  return a;
}

}  // namespace

bool SameSaveArchive(const std::string& a, const std::string& b) {
  auto x = ReadWhole(a);
  auto y = ReadWhole(b);
  if (!x || !y) return false;
  auto px = WithoutPlaces(std::move(*x));
  auto py = WithoutPlaces(std::move(*y));
  return px && py && *px == *py;
}

bool SamePS1Save(const std::string& a, const std::string& b) {
  auto x = ReadWhole(a);
  auto y = ReadWhole(b);
  if (!x || !y || x->size() != y->size() || x->size() < size_t{kPS1FrameBytes}) return false;
  for (size_t i : {ps1dir::kLink, ps1dir::kLink + 1, ps1dir::kChecksum}) (*x)[i] = (*y)[i] = 0;
  return *x == *y;
}

bool CopyReadsBack(TPS2MFMSYS& manager, const std::string& name, const std::string& source,
                   const std::string& check_path) {
  auto copy = FindSave(manager, name);
  const bool same = copy.has_value() && manager.BackupSaveFolder(check_path, *copy) &&
                    SameSaveArchive(source, check_path);
  std::remove(check_path.c_str());
  return same;
}

bool PS1CopyReadsBack(TPS2MFMSYS& manager, const std::string& name, const std::string& source,
                      const std::string& check_path) {
  const auto entry = FindPS1Save(manager.PS1Card, name);
  const bool same =
      entry && manager.UploadPS1Saver(check_path, *entry).done && SamePS1Save(source, check_path);
  std::remove(check_path.c_str());
  return same;
}

}  // namespace travosk::manager
