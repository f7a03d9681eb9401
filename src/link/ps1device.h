// The PS1 card as every device that reaches one offers it: 128-byte frames
// read and written by number, whether a card is in the slot, and what the
// device is. Our adapter's frame commands, the serial readers and the PS3
// memory card adaptor each implement it; the card manager's directory, save
// and transfer logic is written once over it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace travosk::link {

inline constexpr int kPS1DeviceFrames = 1024;
inline constexpr int kPS1DeviceFrameBytes = 128;

enum class PS1Slot { kEmpty, kPS1, kOther };

class PS1Device {
 public:
  virtual ~PS1Device() = default;

  // The device's kind and where it is ("MemCARDuino 0.8 on /dev/ttyUSB0").
  virtual std::string Identity() const = 0;
  // What the slot holds; nullopt when the device did not answer.
  virtual std::optional<PS1Slot> CardPresent() = 0;
  // One frame each, 0..1023. False, with the reason in LastError(), when the
  // device failed or its answer did not check out after the bounded retries;
  // the buffer's bytes then mean nothing.
  [[nodiscard]] virtual bool ReadFrame(int frame, uint8_t* frame128) = 0;
  [[nodiscard]] virtual bool WriteFrame(int frame, const uint8_t* frame128) = 0;
  // Whether a write gets the card's own answer: a device that answers every
  // frame write needs no read-back to know that the writes arrived.
  virtual bool WritesAnswered() const { return true; }
  // Turns the device to its card slot 1 or 2; false, with the reason in
  // LastError(), on a device without that slot. Most devices have slot 1
  // alone.
  [[nodiscard]] virtual bool ChooseSlot(int slot);

  const std::string& LastError() const { return error_; }
  // Bytes moved on the wire both ways since the device was opened.
  uint64_t BytesSent() const { return sent_; }
  uint64_t BytesReceived() const { return received_; }

 protected:
  std::string error_;
  uint64_t sent_ = 0;
  uint64_t received_ = 0;
};

// Frame number bytes and the frame checksum that the readers' protocols share:
// the XOR of the two frame number bytes and the 128 data bytes.
constexpr uint8_t FrameMsb(int frame) {
  return static_cast<uint8_t>((frame >> 8) & 0xFF);
}
constexpr uint8_t FrameLsb(int frame) {
  return static_cast<uint8_t>(frame & 0xFF);
}
uint8_t FrameXor(int frame, const uint8_t* frame128);

// How the readers' errors name a frame ("frame 17") and a status byte ("0x4E").
std::string FrameName(int frame);
std::string Hex(uint8_t b);

}  // namespace travosk::link
