#include "manager/archive_builder.h"

#include <array>

#include "card/fileip.h"
#include "common/bytes.h"

namespace travosk::manager {

namespace {

using Header = std::array<uint8_t, card::entry::kBytes>;

Header Entry(uint16_t mode, uint32_t length, const std::string& name, std::time_t when) {
  Header h{};
  store_le16(h, card::entry::kMode, mode);
  store_le32(h, card::entry::kLength, length);
  card::StoreCardTime(h, card::entry::kCreated, when);
  card::StoreCardTime(h, card::entry::kModified, when);
  for (size_t i = 0; i < name.size() && card::entry::kName + i < h.size() - 1; ++i)
    h[card::entry::kName + i] = static_cast<uint8_t>(name[i]);
  return h;
}

void Append(std::string& out, const Header& h) { out.append(h.begin(), h.end()); }

}  // namespace

std::string BuildSaveArchive(const std::string& folder, const std::vector<ArchiveFile>& files,
                             std::time_t when) {
  std::string out;
  Append(out, Entry(kSaveFolderMode, static_cast<uint32_t>(files.size() + 2), folder, when));
  Append(out, Entry(kSaveFolderMode, 0, ".", when));
  Append(out, Entry(kSaveFolderMode, 0, "..", when));
  for (const auto& f : files) {
    Append(out, Entry(f.mode, static_cast<uint32_t>(f.data.size()), f.name, when));
    out += f.data;
    out.append((1024 - f.data.size() % 1024) % 1024, '\0');
  }
  return out;
}

}  // namespace travosk::manager
