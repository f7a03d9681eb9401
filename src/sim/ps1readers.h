// The firmwares of the PS1 card readers, as the boards run them: a byte
// stream in from the PC, a byte stream back, a simulated PS1 card (or none)
// in the slot. A test bed carries the streams over a serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace travosk::sim {

enum class ReaderKind { kMemCARDuino, kPS1CardLink, kDexDrive, kModem };

// Faults the test sets between requests (the test bed's thread reads them).
struct ReaderFaults {
  int corrupt_reads = 0;         // so many frame reads answer a wrong checksum
  int garble_writes = 0;         // so many frame writes arrive garbled (4E)
  int silent_after_writes = -1;  // after so many writes the board is gone
};

class ReaderFirmware {
 public:
  // `card` is the card in the slot (131,072 bytes), null for none; the
  // firmware does not own it.
  ReaderFirmware(ReaderKind kind, std::vector<uint8_t>* card);
  // Takes bytes from the PC and answers what they complete.
  std::vector<uint8_t> Receive(const uint8_t* data, size_t count);
  // Puts a card in the slot (null: takes it out).
  void Insert(std::vector<uint8_t>* card) { card_ = card; }
  // A PS1CardLink's second slot, which the PC chooses with A4 01 (A4 00 the
  // first); the choice stays while the console runs.
  void InsertSecond(std::vector<uint8_t>* card) { second_ = card; }
  // Plugged in again after it was gone: a fresh start, without faults.
  void Replug() {
    gone = false;
    faults = {};
    pending_.clear();
  }

  ReaderFaults faults;
  uint64_t frames_read = 0;
  uint64_t frames_written = 0;
  uint64_t bytes_in = 0;
  uint64_t bytes_out = 0;
  bool gone = false;

 private:
  ReaderKind kind_;
  std::vector<uint8_t>* card_;
  std::vector<uint8_t>* second_ = nullptr;
  bool on_second_ = false;
  std::vector<uint8_t> pending_;
  // The card in the slot the reader is turned to (null: none).
  std::vector<uint8_t>* Slot() const { return on_second_ ? second_ : card_; }
  // Takes one whole command from pending_ into out: its length, 0 when the
  // command is not complete yet.
  size_t Duino(std::vector<uint8_t>& out);
  size_t Dex(std::vector<uint8_t>& out);
  bool Write(int frame, const uint8_t* data);  // false: the board is gone now
  // The frame's 128 bytes and its checksum, as both kinds answer a read
  // (a wrong checksum while corrupt_reads lasts).
  void AppendFrame(int frame, std::vector<uint8_t>& out);
};

}  // namespace travosk::sim
