// The PS1 card's directory as the card manager reads and writes it: decoding
// a directory frame and a title frame into a TPs1FileitemRec, the frame
// checksum, and the search for a free directory entry. The transfers
// themselves are methods of TPS2MFMSYS (ps1card.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "link/ps1device.h"
#include "manager/ps1records.h"

namespace travosk::manager {

class TPS2MFMSYS;

// Directory frame states (byte 0).
namespace ps1state {
inline constexpr uint8_t kInUse = 0x50;    // high nibble of a block in use
inline constexpr uint8_t kDeleted = 0xA0;  // high nibble of a free (or deleted) block
inline constexpr uint8_t kLastFree = 0xA3;  // 0xA0 free, 0xA1..0xA3 deleted; nothing else is
inline constexpr uint8_t kFirst = 0x51;    // first (or only) block of a save
inline constexpr uint8_t kMiddle = 0x52;   // neither first nor last
inline constexpr uint8_t kLast = 0x53;     // last block of a save of two or more
}  // namespace ps1state

inline constexpr uint16_t kPS1LastLink = 0xFFFF;
inline constexpr int kPS1DirectoryFrame = 1;                // frame of directory entry 0
inline constexpr int kPS1SaveHeaderBytes = kPS1FrameBytes;  // ".PS1": directory frame first

// The save's name in that frame: the text from byte 10 up to its first NUL,
// at most 127 bytes.
std::string PS1SaveFileName(Bytes head);

// Clears the item and fills it from a 128-byte directory frame.
void ParsePS1Directory(TPs1FileitemRec& item, const uint8_t* frame128);
// Fills the title fields of the item from a save's 128-byte title frame.
void ParsePS1Title(TPs1FileitemRec& item, const uint8_t* frame128);
// Stores the XOR of bytes 0..126 in byte 127.
void PS1Checksum(uint8_t* frame128);
// The bytes of a freshly formatted PS1 card image: the "MC" header, fifteen
// free directory frames, the empty broken-frame list and the write-test
// frame, each frame with its checksum.
std::vector<uint8_t> FormattedPS1Card();
// Whether a card whose frame 0 this is is formatted (its "MC" header).
bool IsFormattedPS1(Bytes frame0);
// Entries marked in use that no save holds: no chain from a save's first
// block (0x51) reaches them. A save is written with its first block's frame
// last, so that it never shows before it is whole; a write cut short before
// that leaves its other blocks like this. No reader lists them, so they
// count as free.
std::vector<int> PS1UnheldEntries(const TPs1FileRecD& dir);
// From index upward, the first of entries 0..14 that is free (0xA0..0xA3)
// or in use by no save; index is left on it. False when none remains.
[[nodiscard]] bool FindFreePS1Entry(const TPs1FileRecD& card, int& index);
// A free directory frame, as a format writes it.
void FreePS1DirectoryFrame(uint8_t* frame128);

// Whether entry `item` opens a save: the first block of one, in use. The
// list, the command line and every lookup show exactly these.
bool IsPS1Save(const TPs1FileitemRec& item);
// The entries that open a save, in directory order.
std::vector<int> PS1SaveEntries(const TPs1FileRecD& card);
// The bytes the card's saves take, each counted by its directory size.
int64_t PS1UsedBytes(const TPs1FileRecD& card);
// The save of that name on a scanned card: the first entry that opens a save
// of it, or nullopt. A card may hold two saves of one name (written by
// another tool); a console, like every other tool, walks the directory from
// entry 0 and takes the first it meets, so that one is the save its game
// loads and the one a replace or a lookup must reach.
std::optional<int> FindPS1Save(const TPs1FileRecD& card, const std::string& name);

// Reads the 15 directory frames of the card into dir (titles left empty).
// False when a transfer failed.
[[nodiscard]] bool ReadPS1DirectoryFrames(TPS2MFMSYS& mgr, TPs1FileRecD& dir);
// The entries of the save whose first block is entry first_entry, in chain
// order: at most 15, each at most once.
std::vector<int> PS1Chain(const TPs1FileRecD& dir, int first_entry);

// The adapter's card slot as a PS1 device: its frame commands, unchanged
// on the wire.
class AdapterPS1 : public link::PS1Device {
 public:
  explicit AdapterPS1(TPS2MFMSYS& mgr);
  std::string Identity() const override;
  std::optional<link::PS1Slot> CardPresent() override;
  bool ReadFrame(int frame, uint8_t* frame128) override;
  bool WriteFrame(int frame, const uint8_t* frame128) override;
  // Frame writes through the adapter get no answer.
  bool WritesAnswered() const override { return false; }

 private:
  TPS2MFMSYS& mgr_;
};

// Frame numbers of a block and of an entry's directory frame.
constexpr int PS1BlockFirstFrame(int entry) {
  return (entry + 1) * kPS1FramesPerBlock;
}
constexpr int PS1DirectoryFrameOf(int entry) {
  return entry + kPS1DirectoryFrame;
}

}  // namespace travosk::manager
