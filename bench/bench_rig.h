// What the benchmarks share: a card manager on an in-process simulated adapter
// whose link runs on a clock that never waits, a recording of every command
// packet the link sends, and the saves that the benchmarks put on their cards.
// No test framework: the benchmark programs are ordinary programs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/forwarding_platform.h"
#include "link/link.h"
#include "link/platform.h"
#include "manager/archive_builder.h"
#include "manager/ps2mfmsys.h"
#include "sim/adapter.h"
#include "sim/loopback_platform.h"

namespace travosk::bench {

// A fresh folder under the system's temp folder, removed with its contents.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One command packet as the adapter received it: bytes 0 to 3.
struct Packet {
  uint8_t c0, c1, p2, p3;
  uint16_t Pair() const { return static_cast<uint16_t>(c0 << 8 | c1); }
  // The page or block address of a PS2 card or SmartMedia command.
  uint32_t Page() const { return static_cast<uint32_t>(p3) << 8 | p2; }
};

// Passes everything to the loopback and keeps every command packet. The
// moment the first erase of a commit arrives, before_commit runs, so that a
// caller can keep the card as it was before each commit of an operation.
class TracePlatform final : public link::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;

  std::vector<Packet> packets;
  std::function<void()> before_commit;
  // Off for measuring the PC side, where the recording would be the only
  // thing that grows.
  bool recording = true;

  long WritePipe(link::Handle h, const uint8_t* data, size_t count) override;

 private:
  bool in_commit_ = false;
};

enum class Media { kPS2, kPS1, kSmartMedia };

// A card manager started in a temp working folder, with one medium of the
// given kind in the adapter. A PS2 card or SmartMedia starts blank (erased);
// FormatFileSystem puts an empty file system on it.
class Rig {
 public:
  explicit Rig(Media media, int megabytes = 8);
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Declared in the order in which they depend on each other.
  TempFolder dir;
  sim::Adapter adapter;
  sim::LoopbackPlatform loopback;
  TracePlatform trace{loopback};
  link::FakeClock clock;
  link::Link link{trace, clock};
  manager::TPS2MFMSYS mgr{link};

  sim::Medium& medium();
  std::span<uint8_t> image() { return medium().bytes(); }
  std::vector<uint8_t> Snapshot() { return {image().begin(), image().end()}; }
  void Restore(std::span<const uint8_t> bytes);

  // Zeroes the adapter's counters, the clock's waits and the recording.
  void ResetMeters();
  // Writes a file into the working folder and answers its path.
  std::string WriteFile(const std::string& name, const std::string& data);
  // Writes an empty file system; throws std::runtime_error when it cannot.
  void FormatFileSystem();
  // Catalogues, appends the archive at path to the root; throws when it fails.
  void AppendSave(const std::string& path);
  // The save folder of that name in a fresh catalogue; throws when missing.
  card::TfileIP FindSave(const std::string& name);

 private:
  Media media_;
};

// Saves as games write them: "icon.sys", an icon, and data of a size that
// varies with n (about 8 to 60 KB).
std::vector<manager::ArchiveFile> TypicalSave(int n);
// "icon.sys" and one file of 1 MiB.
std::vector<manager::ArchiveFile> MegabyteSave();
std::string SaveName(int n);
inline constexpr const char* kMegabyteSave = "BESLES-BENCH1MB";
// 2023-12-31 20:34:56 UTC: every benchmark card and archive carries it.
inline constexpr std::time_t kBenchTime = 1704054896;

// A PS1 card with the "MC" header and 15 free directory entries.
void FormatPS1(std::span<uint8_t> card);
// A single PS1 save file (".PS1"): its directory frame and `blocks` blocks.
std::string PS1SaveFile(int blocks);

}  // namespace travosk::bench
