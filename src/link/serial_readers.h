// The serial PS1 card readers: boards that speak the MemCARDuino command set
// (MemCARDuino itself, PS1CardLink) and the DexDrive. Each is a PS1 device
// over one serial port.
#pragma once

#include <memory>
#include <string>

#include "link/ps1device.h"
#include "link/serial_port.h"

namespace travosk::link {

// How often a frame is sent or asked for again after an answer that did not
// check out (a bad checksum, a refused write) before the operation fails.
inline constexpr int kFrameAttempts = 3;

// A PS1 device on one serial port: what goes out and comes in is counted as
// bytes on the wire, and a transfer that fails leaves the port's reason.
class SerialPS1Device : public PS1Device {
 protected:
  SerialPort port_;
  bool Send(const uint8_t* data, size_t count);
  bool Receive(uint8_t* data, size_t count, int timeout_ms);
};

class DuinoReader : public SerialPS1Device {
 public:
  enum class Kind { kMemCARDuino, kPS1CardLink };
  // Resets the board and asks who it is, at 115,200 baud and then at the
  // 38,400 of older firmware; null (with the reason in `why`) when no such
  // board answers on the port.
  static std::unique_ptr<DuinoReader> Probe(const std::string& path, std::string& why);

  std::string Identity() const override;
  std::optional<PS1Slot> CardPresent() override;
  bool ReadFrame(int frame, uint8_t* frame128) override;
  bool WriteFrame(int frame, const uint8_t* frame128) override;
  // A PS1CardLink from version 1.1 has two slots and is told which one to
  // use; the console it runs on keeps the choice from one program to the
  // next, so it is told every time.
  bool ChooseSlot(int slot) override;
  Kind kind() const { return kind_; }
  int baud() const { return baud_; }

 private:
  Kind kind_ = Kind::kMemCARDuino;
  uint8_t version_ = 0;
  int baud_ = 0;
  int slot_ = 1;
  bool Greet();
  // Reads the frame once: 1 good, 0 an answer that did not check out, -1 no
  // usable answer at all.
  int ReadOnce(int frame, uint8_t* frame128, uint8_t& status);
};

class DexDrive : public SerialPS1Device {
 public:
  static std::unique_ptr<DexDrive> Probe(const std::string& path, std::string& why);

  std::string Identity() const override;
  std::optional<PS1Slot> CardPresent() override;
  bool ReadFrame(int frame, uint8_t* frame128) override;
  bool WriteFrame(int frame, const uint8_t* frame128) override;

 private:
  // "IAI", the opcode and its arguments.
  bool Command(uint8_t opcode, const uint8_t* args, size_t count);
  // The reply's code after "IAI", or -1.
  int ReplyCode(int timeout_ms);
};

// The byte with its bits in reverse order (the DexDrive's write command
// carries the frame number so as well).
constexpr uint8_t ReverseBits(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
  return r;
}

}  // namespace travosk::link
