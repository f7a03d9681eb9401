// A card stack for tests: a simulated adapter in a loopback session holding
// one medium whose image lives in a temporary folder, with the card access
// object, the erase-block cache and the volume on top of it.
#pragma once

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "card/erasecache.h"
#include "card/fileaccess.h"
#include "card/volume.h"
#include "sim/loopback_platform.h"
#include "sim/medium.h"

namespace travosk::support {

// A fresh folder under the system's temp folder, removed with everything in
// it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, without a trailing "/".
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// 2023-12-31 20:34:56 UTC, stored on the card as 00 38 22 05 01 01 E8 07.
inline constexpr std::time_t kFormatTime = 1704054896;

enum class CardMedia { kNone, kPS2, kPS1, kSmartMedia };

struct CardSetup {
  CardMedia media = CardMedia::kPS2;
  int megabytes = 8;      // PS2 card or SmartMedia size
  bool formatted = true;  // an empty file system written by the formatter
  bool ecc = true;        // false: a PS2 image of 512-byte pages, without spare bytes
};

// The adapter back on its link after a fault (cleared), as a user plugs it in
// again and the platform reports its arrival; what sits above the link
// (tables, caches, fault flags) stays as the fault left it.
void Replug(sim::LoopbackSession& session);

// Everything is ready when construction ends: the settings ("PS2M.cfg") and
// the cache's temp file sit in the temp folder, Medium selects the slot that
// holds the medium, the card is closed and not mounted, and the adapter's
// counters are zero. Throws std::runtime_error when the setup fails.
class CardRig {
 public:
  explicit CardRig(CardSetup setup = {});
  ~CardRig();
  CardRig(const CardRig&) = delete;
  CardRig& operator=(const CardRig&) = delete;

  // Declared in the order in which they depend on each other.
  TempDir dir;
  sim::LoopbackSession session;
  card::TPSfileaccess access{session.link};
  card::TPSEarsemanager cache{access};
  card::TPSFilemanager volume{access, cache};

  sim::Adapter& adapter() { return session.adapter; }
  const sim::Counters& counters() const { return session.adapter.counters(); }
  void ResetCounters() { session.adapter.ResetCounters(); }
  // The inserted medium; throws when the slot is empty.
  sim::Medium& medium();
  const std::string& image_path() const { return image_path_; }

  // Views into the image: the whole of it, and one page's data and spare.
  std::span<uint8_t> image() { return medium().bytes(); }
  std::span<uint8_t> PageData(uint32_t page);
  std::span<uint8_t> PageSpare(uint32_t page);
  // A copy of the image, to compare against after an operation.
  std::vector<uint8_t> Snapshot();

 private:
  std::string image_path_;
  bool smartmedia_ = false;
};

}  // namespace travosk::support
