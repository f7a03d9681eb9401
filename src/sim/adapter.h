// The simulated adapter: the firmware of a real one, written against the
// command table of the protocol. It sees the bytes that the PC writes to its
// command pipe (16-byte packets, each write command followed by a 512-byte data
// phase) and prepares the bytes that the PC reads from its data pipe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "sim/medium.h"

namespace travosk::sim {

// How the simulated adapter presents itself on the USB side, through the
// loopback and through the device interface directory alike.
inline constexpr uint16_t kUsbVendor = 0x7E21;
inline constexpr uint16_t kUsbProduct = 0xB40D;
inline constexpr uint16_t kUsbVersion = 0x0310;
inline constexpr const char* kUsbManufacturer = "TRAVOSK Project";
inline constexpr const char* kUsbProductName = "TRAVOSK Simulated Memory Card Adapter";
inline constexpr const char* kUsbHardwareKey = "USB\\VID_7E21&PID_B40D\\INST_0";
// Bytes of our own choosing; readers keep them up to the first zero byte.
inline constexpr uint8_t kUsbPhysicalDescriptor[] = {'T', 'V', 'S', 'K', 0x01, 0x10};

struct Counters {
  std::map<uint16_t, uint64_t> packets;  // by command pair, byte 0 << 8 | byte 1
  uint64_t transactions = 0;             // command packets received
  uint64_t pages_read = 0;
  uint64_t pages_written = 0;
  uint64_t blocks_erased = 0;
  uint64_t frames_read = 0;
  uint64_t frames_written = 0;
  // Index (from 0) of the first transaction that changed a medium: a fault
  // injected at or before it must leave every image as it was.
  std::optional<uint64_t> first_change;
  uint64_t Packets(uint8_t c0, uint8_t c1) const {
    auto it = packets.find(static_cast<uint16_t>(c0 << 8 | c1));
    return it == packets.end() ? 0 : it->second;
  }
};

class Adapter {
 public:
  Adapter();
  ~Adapter();

  // Slots. The card slot takes a PS2 or PS1 card, the SmartMedia slot a
  // SmartMedia; nullptr empties a slot.
  void InsertCard(std::unique_ptr<Medium> card);
  void InsertSmartMedia(std::unique_ptr<Medium> sm);
  Medium* card() { return card_.get(); }
  Medium* smartmedia() { return sm_.get(); }

  // Transport. Write takes one 16-byte packet, or, after a write command's
  // packet, its 512-byte data phase; a transfer of any other size is refused
  // (-1) and breaks off a pending write. Read hands back the reply of the last
  // read command, once. Both answer the bytes moved, or -1 when the adapter is
  // unplugged or (for Read) has nothing to say.
  //
  // Commands for an empty slot, the wrong kind of card or an address past the
  // medium change nothing, and their reads answer 512 bytes of 0xFF. Page
  // addresses have 16 bits, and PS2 page commands a third byte in packet byte
  // 4 for cards past 65,536 pages: a 64 MB SmartMedia is reachable only in
  // its first 65,536 pages, and nothing wraps. Unknown commands answer
  // nothing.
  long Write(const uint8_t* data, size_t count);
  long Read(uint8_t* data, size_t count);
  // True between a write command's packet and its data phase.
  bool ExpectsDataPhase() const {
    return (pending_write_.has_value() || drop_data_phase_) && plugged_ && !silent_;
  }
  // Drops a write command whose data phase never came.
  void AbortTransaction() {
    pending_write_.reset();
    drop_data_phase_ = false;
  }
  // True when a reply waits to be read.
  bool HasReply() const { return reply_ready_ && plugged_ && !silent_; }

  const Counters& counters() const { return counters_; }
  void ResetCounters() { counters_ = Counters{}; }

  // Fault injection, counted in command packets received from now on:
  // after n more transactions the adapter is unplugged (every transfer fails)
  // or goes silent (every write is swallowed and counts for nothing, reads
  // fail). FailOnceAfter(n) lets n packets pass and refuses the next one
  // (its transfer fails, nothing is done, nothing answered) and then goes on
  // as before, still plugged: a USB transfer that failed once. A write
  // command's data phase that comes all the same (a PC that could not see the
  // failure) is swallowed. CorruptReadAfter(n) lets n replies pass and flips
  // byte 0 of the next one. ClearFaults cancels them all and plugs the
  // adapter back in.
  void UnplugAfter(uint64_t n);
  void SilentAfter(uint64_t n);
  // With answering_only, the refused command is the first at or after that
  // point that answers (a read or the status): a PC that cannot see a
  // refused write (one behind a FIFO) then sees the failure as a read that
  // gets no answer, and no write is ever lost without a sign.
  void FailOnceAfter(uint64_t n, bool answering_only = false);
  void CorruptReadAfter(uint64_t n);
  void ClearFaults();
  // Sees the data phase of every write command before the medium takes it,
  // and may change it: a card that keeps other bytes than it was sent, with
  // a page code that matches them.
  std::function<void(std::span<uint8_t> data)> write_filter;
  bool plugged() const { return plugged_; }
  void Unplug() { plugged_ = false; }

 private:
  void Execute(const std::array<uint8_t, 16>& packet);
  void FinishWrite(const uint8_t* data);
  void EraseBlock(Medium* m, uint32_t page);
  void Reply(const uint8_t* data, size_t count);
  bool Faulted();
  void NoteChange();

  std::unique_ptr<Medium> card_;
  std::unique_ptr<Medium> sm_;
  std::array<uint8_t, 512> reply_{};
  bool reply_ready_ = false;
  std::optional<std::array<uint8_t, 16>> pending_write_;
  Counters counters_;
  bool plugged_ = true;
  bool silent_ = false;
  bool drop_data_phase_ = false;  // the data phase of a refused write command
  std::optional<uint64_t> unplug_at_, silent_at_, fail_at_, corrupt_read_at_;
  bool fail_answering_only_ = false;
  uint64_t reads_answered_ = 0;  // replies prepared, for CorruptReadAfter
};

}  // namespace travosk::sim
