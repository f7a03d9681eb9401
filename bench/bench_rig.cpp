#include "bench_rig.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "card/fileip.h"
#include "card/formatter.h"
#include "common/bytes.h"
#include "manager/ps1card.h"
#include "manager/findsave.h"

namespace travosk::bench {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "travosk-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary folder under " + pattern);
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

long TracePlatform::WritePipe(link::Handle h, const uint8_t* data, size_t count) {
  if (recording && count == link::kPacketBytes) {
    const Packet p{data[0], data[1], data[2], data[3]};
    const bool erase = p.Pair() == 0x8C67 || p.Pair() == 0x3781;
    const bool write = p.Pair() == 0xC8A2 || p.Pair() == 0xBC35 || p.Pair() == 0xE9DC;
    // A commit is a run of erases and page writes; any other command ends it.
    if (erase && !in_commit_ && before_commit) before_commit();
    if (erase) in_commit_ = true;
    if (!erase && !write) in_commit_ = false;
    packets.push_back(p);
  }
  return ForwardingPlatform::WritePipe(h, data, count);
}

Rig::Rig(Media media, int megabytes) : media_(media) {
  const std::string path = dir.File("card.img");
  const sim::MediumKind kind = media == Media::kPS1          ? sim::MediumKind::kPS1
                               : media == Media::kSmartMedia ? sim::MediumKind::kSmartMedia
                                                             : sim::MediumKind::kPS2;
  sim::Medium::CreateBlank(path, kind, megabytes);
  if (media == Media::kSmartMedia)
    adapter.InsertSmartMedia(sim::Medium::Open(path, kind));
  else
    adapter.InsertCard(sim::Medium::Open(path, kind));
  loopback.Plug(adapter);
  link.FindAdapter();
  (void)trace.TakeDeviceEvents();
  mgr.InitSystem(dir.path());
  mgr.Access().Medium = media == Media::kSmartMedia ? Slot::kSmartMedia : Slot::kCard;
  if (media == Media::kPS1) FormatPS1(image());
  ResetMeters();
}

Rig::~Rig() {
  mgr.DoneSystem();
}

sim::Medium& Rig::medium() {
  sim::Medium* m = media_ == Media::kSmartMedia ? adapter.smartmedia() : adapter.card();
  if (!m) throw std::runtime_error("no medium in the adapter");
  return *m;
}

void Rig::Restore(std::span<const uint8_t> bytes) {
  if (bytes.size() != image().size()) throw std::runtime_error("snapshot of another card");
  std::copy(bytes.begin(), bytes.end(), image().begin());
}

void Rig::ResetMeters() {
  adapter.ResetCounters();
  clock.total_sleep_ms = 0;
  clock.sleeps.clear();
  trace.packets.clear();
}

std::string Rig::WriteFile(const std::string& name, const std::string& data) {
  const std::string path = dir.File(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
  return path;
}

void Rig::FormatFileSystem() {
  if (!mgr.Access().OpenCard() || !card::FormatFileSystem(mgr.Access(), kBenchTime))
    throw std::runtime_error("the benchmark card could not be formatted");
  mgr.Access().CloseCard();
}

void Rig::AppendSave(const std::string& path) {
  card::TfileIP root = card::RootDirectory();
  if (!mgr.Catalog() || !mgr.AppendSaveArchive(path, root))
    throw std::runtime_error("appending " + path + " failed: " + mgr.LastError());
}

card::TfileIP Rig::FindSave(const std::string& name) {
  auto found = manager::FindSave(mgr, name);
  if (!found) throw std::runtime_error("no save " + name + " on the benchmark card");
  return *found;
}

namespace {

// Bytes that do not repeat within a file, so that no page of one save looks
// like a page of another.
std::string Filler(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

std::string IconSys(const std::string& title) {
  std::string icon(964, '\0');
  icon.replace(0, 4, "PS2D");
  icon.replace(0xC0, std::min<size_t>(title.size(), 68), title.substr(0, 68));
  icon.replace(0x104, 8, "list.ico");
  return icon;
}

}  // namespace

std::string SaveName(int n) {
  return "BESLES-" + std::to_string(50000 + n) + "BENCH";
}

std::vector<manager::ArchiveFile> TypicalSave(int n) {
  const size_t data = 8192 + static_cast<size_t>(n % 7) * 8704;  // 8 to 60 KB
  return {{"icon.sys", IconSys("Bench save " + std::to_string(n))},
          {"list.ico", Filler(33688, static_cast<uint32_t>(n * 3 + 1))},
          {"DATA.BIN", Filler(data, static_cast<uint32_t>(n * 3 + 2))}};
}

std::vector<manager::ArchiveFile> MegabyteSave() {
  return {{"icon.sys", IconSys("Bench 1 MB save")}, {"BIG.DAT", Filler(1024 * 1024, 0xB16)}};
}

void FormatPS1(std::span<uint8_t> card) {
  using namespace manager;
  std::fill(card.begin(), card.end(), 0);
  card[0] = 'M';
  card[1] = 'C';
  PS1Checksum(card.data());
  for (int e = 0; e < kPS1Entries; ++e) {
    uint8_t* f = card.data() + size_t{kPS1FrameBytes} * PS1DirectoryFrameOf(e);
    f[ps1dir::kState] = ps1state::kDeleted;
    store_le16(MutableBytes(f, kPS1FrameBytes), ps1dir::kLink, kPS1LastLink);
    PS1Checksum(f);
  }
}

std::string PS1SaveFile(int blocks) {
  using namespace manager;
  std::string file(kPS1SaveHeaderBytes + size_t{kPS1BlockBytes} * blocks, '\0');
  auto* f = reinterpret_cast<uint8_t*>(file.data());
  f[ps1dir::kState] = ps1state::kFirst;
  store_le32(MutableBytes(f, kPS1FrameBytes), ps1dir::kSize,
             static_cast<uint32_t>(kPS1BlockBytes * blocks));
  store_le16(MutableBytes(f, kPS1FrameBytes), ps1dir::kLink, kPS1LastLink);
  const std::string name = "BESLES-50000BENCH";
  std::copy(name.begin(), name.end(), file.begin() + ps1dir::kName);
  PS1Checksum(f);
  const std::string data = Filler(size_t{kPS1BlockBytes} * blocks, 0x951);
  std::copy(data.begin(), data.end(), file.begin() + kPS1SaveHeaderBytes);
  file[kPS1SaveHeaderBytes] = 'S';
  file[kPS1SaveHeaderBytes + 1] = 'C';
  return file;
}

}  // namespace travosk::bench
