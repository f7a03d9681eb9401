#include "support/manager_fixture.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "card/formatter.h"
#include "common/bytes.h"
#include "manager/findsave.h"

namespace travosk::support {

ManagerRig::ManagerRig(CardSetup setup) {
  sim::MediumKind kind = sim::MediumKind::kPS2;
  if (setup.media == CardMedia::kPS1) kind = sim::MediumKind::kPS1;
  if (setup.media == CardMedia::kSmartMedia) kind = sim::MediumKind::kSmartMedia;
  if (setup.media != CardMedia::kNone) {
    image_path_ = dir.File("card.img");
    if (kind == sim::MediumKind::kPS2 && !setup.ecc) {
      // Erased 512-byte pages alone: the medium takes the image as ECC-less.
      WriteFileBytes(image_path_, std::string(size_t(setup.megabytes) << 20, '\xFF'));
    } else {
      sim::Medium::CreateBlank(image_path_, kind, setup.megabytes);
    }
    auto medium = sim::Medium::Open(image_path_, kind);
    if (kind == sim::MediumKind::kSmartMedia)
      session.adapter.InsertSmartMedia(std::move(medium));
    else
      session.adapter.InsertCard(std::move(medium));
  }
  mgr.InitSystem(dir.path());
  mgr.Access().Medium = kind == sim::MediumKind::kSmartMedia ? Slot::kSmartMedia : Slot::kCard;
  if (setup.formatted && kind != sim::MediumKind::kPS1 && setup.media != CardMedia::kNone) {
    if (!mgr.Access().OpenCard() || !card::FormatFileSystem(mgr.Access(), kFormatTime))
      throw std::runtime_error("the test card could not be formatted");
    mgr.Access().CloseCard();
  }
  session.adapter.ResetCounters();
}

ManagerRig::~ManagerRig() { mgr.DoneSystem(); }

sim::Medium& ManagerRig::medium() {
  sim::Medium* m = session.adapter.card() ? session.adapter.card() : session.adapter.smartmedia();
  if (!m) throw std::runtime_error("no medium in the adapter");
  return *m;
}

std::string ManagerRig::WriteArchive(const std::string& file, const std::string& folder,
                                     const std::vector<manager::ArchiveFile>& files) {
  const std::string path = dir.File(file);
  WriteFileBytes(path, manager::BuildSaveArchive(folder, files, kFormatTime));
  return path;
}

bool ManagerRig::AddSave(const std::string& folder, const std::vector<manager::ArchiveFile>& files) {
  const std::string path = WriteArchive(folder + ".psu", folder, files);
  if (!mgr.Catalog()) return false;
  card::TfileIP root = card::RootDirectory();
  return mgr.AppendSaveArchive(path, root).done;
}

bool ManagerRig::FindFolder(const std::string& name, card::TfileIP& out) {
  auto found = manager::FindSave(mgr, name);
  if (found) out = *found;
  return found.has_value();
}

void ManagerRig::LoadImage(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  auto card = medium().bytes();
  if (bytes.size() != card.size()) throw std::runtime_error(path + " does not fit the card");
  std::copy(bytes.begin(), bytes.end(), card.begin());
  mgr.Cache().ResetCache();
}

std::string PeerCard(const std::string& name) {
  return std::string(TRAVOSK_PEER_DIR) + "/" + name;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace travosk::support

namespace travosk::support {

namespace {
size_t FatEntryOffset(uint32_t n) {
  const uint32_t cluster = 9 + n / 256;  // physical cluster of the table
  const uint32_t index = n % 256;
  const uint32_t page = cluster * 2 + index / 128;
  return static_cast<size_t>(page) * 528 + (index % 128) * 4;
}
}  // namespace

void PokeFat(std::span<uint8_t> image, uint32_t n, uint32_t value) {
  store_le32(image, FatEntryOffset(n), value);
}

uint32_t PeekFat(std::span<const uint8_t> image, uint32_t n) {
  return load_le32(image, FatEntryOffset(n));
}

}  // namespace travosk::support
