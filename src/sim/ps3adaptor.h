// The PS3 memory card adaptor's firmware as the PC sees it over USB: a bulk
// request in, its reply out, a simulated card (PS1 or PS2, or none) in the
// slot. The PS1 card behind it answers byte for byte as a real card clocks
// its answer back; a test bed carries the transfers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace travosk::sim {

inline constexpr uint16_t kPS3AdaptorVendor = 0x054C;
inline constexpr uint16_t kPS3AdaptorProduct = 0x02EA;

enum class AdaptorCard { kNone, kPS1, kPS2 };

// Faults the test sets between commands.
struct AdaptorFaults {
  int corrupt_reads = 0;         // so many frame reads answer a wrong checksum
  int garble_writes = 0;         // so many frame writes arrive garbled (4E)
  int unplug_after_writes = -1;  // after so many frame writes the adaptor is pulled out
};

class AdaptorFirmware {
 public:
  // `card` is the PS1 card's 131,072 bytes (not owned), used while a PS1
  // card is in the slot.
  AdaptorFirmware(AdaptorCard slot, std::vector<uint8_t>* card) : slot_(slot), card_(card) {}

  // One bulk OUT transfer: its bytes taken (-1 when unplugged).
  long Write(const uint8_t* data, size_t count);
  // One bulk IN transfer: the pending reply, cut to `count`.
  long Read(uint8_t* data, size_t count);
  bool HasReply() const { return plugged_ && !reply_.empty(); }
  bool plugged() const { return plugged_; }

  void Insert(AdaptorCard slot) { slot_ = slot; }
  // Plugged in again: a fresh start, without faults.
  void Replug() {
    plugged_ = true;
    faults = {};
    reply_.clear();
  }

  AdaptorFaults faults;
  uint64_t frames_read = 0;
  uint64_t frames_written = 0;
  uint64_t bytes_in = 0;
  uint64_t bytes_out = 0;

 private:
  AdaptorCard slot_;
  std::vector<uint8_t>* card_;
  std::vector<uint8_t> reply_;
  bool plugged_ = true;
  uint8_t flag_ = 0x08;  // a card not yet written since power-up says so
  // The PS1 card's answer to a command's bytes, one for each.
  std::vector<uint8_t> Card(const uint8_t* command, size_t count);
};

}  // namespace travosk::sim
