#include "link/serial_readers.h"

#include <array>
#include <cstring>
#include <vector>

namespace travosk::link {

namespace {

// MemCARDuino command set.
namespace duino {
constexpr uint8_t kIdentify = 0xA0;  // -> "MCDINO" or "PS1CLNK"
constexpr uint8_t kVersion = 0xA1;   // -> one byte, major << 4 | minor
constexpr uint8_t kRead = 0xA2;      // MSB LSB -> 128 bytes, XOR, status
constexpr uint8_t kWrite = 0xA3;     // MSB LSB 128 bytes XOR -> status
constexpr uint8_t kSlot = 0xA4;      // slot (0 or 1) -> nothing; PS1CardLink from 1.1
constexpr uint8_t kSlotsSince = 0x11;
constexpr uint8_t kGood = 0x47;
constexpr uint8_t kBadChecksum = 0x4E;
constexpr uint8_t kBadFrame = 0xFF;
constexpr int kBauds[] = {115200, 38400};
// A board resets when the port opens (DTR) and takes up to about two
// seconds in its boot loader before it answers; it is asked every quarter
// second until then.
constexpr int kAskEveryMs = 250;
constexpr int kBootAsks = 8;
constexpr int kFrameReplyMs = 1000;
}  // namespace duino

namespace dex {
constexpr uint8_t kPrefix[3] = {'I', 'A', 'I'};
constexpr uint8_t kInit = 0x00;
constexpr uint8_t kRead = 0x02;
constexpr uint8_t kWrite = 0x04;
constexpr uint8_t kHandshake = 0x27;
constexpr uint8_t kNoCard = 0x22;
constexpr uint8_t kCard = 0x23;
constexpr uint8_t kWriteDone = 0x28;
constexpr uint8_t kWriteSame = 0x29;
constexpr uint8_t kId = 0x40;
constexpr uint8_t kData = 0x41;
constexpr int kBaud = 38400;
constexpr int kReplyMs = 1000;
// The drive answers its wake-up at once; a port where nothing does within
// this holds no DexDrive.
constexpr int kWakeMs = 300;
// Any 17 bytes start the drive; these are ours.
constexpr uint8_t kInitPayload[17] = {0x54, 0x52, 0x41, 0x56, 0x4F, 0x53, 0x4B, 0x00, 0x01,
                                      0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
}  // namespace dex

}  // namespace

// ---------------------------------------------------------------- MemCARDuino

std::unique_ptr<DuinoReader> DuinoReader::Probe(const std::string& path, std::string& why) {
  auto reader = std::unique_ptr<DuinoReader>(new DuinoReader());
  for (int baud : duino::kBauds) {
    if (!reader->port_.Open(path, baud)) {
      why = reader->port_.Error();
      return nullptr;
    }
    reader->baud_ = baud;
    if (reader->Greet()) return reader;
  }
  why = "no MemCARDuino or PS1CardLink answers on \"" + path + "\"";
  return nullptr;
}

bool DuinoReader::Greet() {
  // A DTR pulse resets the board, so that it starts from its first command.
  port_.SetDtr(false);
  port_.SetDtr(true);
  for (int ask = 0; ask < duino::kBootAsks; ++ask) {
    port_.DropInput();
    const uint8_t identify = duino::kIdentify;
    if (!Send(&identify, 1)) return false;
    std::array<uint8_t, 7> name{};
    size_t got = 0;
    if (!port_.Read(name.data(), 6, duino::kAskEveryMs, &got)) {
      received_ += got;
      if (got > 0) return false;  // something else answers here
      continue;
    }
    received_ += 6;
    if (std::memcmp(name.data(), "MCDINO", 6) == 0) {
      kind_ = Kind::kMemCARDuino;
    } else if (std::memcmp(name.data(), "PS1CLN", 6) == 0 &&
               Receive(name.data() + 6, 1, duino::kAskEveryMs) && name[6] == 'K') {
      kind_ = Kind::kPS1CardLink;
    } else {
      return false;
    }
    const uint8_t version = duino::kVersion;
    return Send(&version, 1) && Receive(&version_, 1, duino::kFrameReplyMs);
  }
  return false;
}

bool SerialPS1Device::Send(const uint8_t* data, size_t count) {
  if (!port_.Write(data, count)) {
    error_ = port_.Error();
    return false;
  }
  sent_ += count;
  return true;
}

bool SerialPS1Device::Receive(uint8_t* data, size_t count, int timeout_ms) {
  size_t got = 0;
  const bool whole = port_.Read(data, count, timeout_ms, &got);
  received_ += got;
  if (!whole) error_ = port_.Error();
  return whole;
}

std::string DuinoReader::Identity() const {
  const char* name = kind_ == Kind::kMemCARDuino ? "MemCARDuino" : "PS1CardLink";
  return std::string(name) + " " + std::to_string(version_ >> 4) + "." +
         std::to_string(version_ & 0x0F) + " on " + port_.Path() +
         (slot_ == 2 ? ", slot 2" : "");
}

bool DuinoReader::ChooseSlot(int slot) {
  if (kind_ != Kind::kPS1CardLink || version_ < duino::kSlotsSince) {
    if (slot == 1) return true;
    error_ = Identity() + " has one card slot, slot 1 (a PS1CardLink from version 1.1 has two)";
    return false;
  }
  const uint8_t request[2] = {duino::kSlot, static_cast<uint8_t>(slot - 1)};
  if (!Send(request, sizeof request)) return false;
  slot_ = slot;
  return true;
}

int DuinoReader::ReadOnce(int frame, uint8_t* frame128, uint8_t& status) {
  const uint8_t request[3] = {duino::kRead, FrameMsb(frame), FrameLsb(frame)};
  std::array<uint8_t, kPS1DeviceFrameBytes + 2> reply{};
  if (!Send(request, sizeof request) || !Receive(reply.data(), reply.size(), duino::kFrameReplyMs))
    return -1;
  std::memcpy(frame128, reply.data(), kPS1DeviceFrameBytes);
  status = reply[kPS1DeviceFrameBytes + 1];
  return status == duino::kGood && reply[kPS1DeviceFrameBytes] == FrameXor(frame, frame128) ? 1 : 0;
}

std::optional<PS1Slot> DuinoReader::CardPresent() {
  std::array<uint8_t, kPS1DeviceFrameBytes> frame{};
  uint8_t status = 0;
  const int got = ReadOnce(0, frame.data(), status);
  if (got < 0) return std::nullopt;
  // Without a card nothing drives the bus: the status byte reads as the
  // line's idle level instead of the card's acknowledgement.
  return status == duino::kGood ? PS1Slot::kPS1 : PS1Slot::kEmpty;
}

bool DuinoReader::ReadFrame(int frame, uint8_t* frame128) {
  uint8_t status = 0;
  for (int attempt = 0; attempt < kFrameAttempts; ++attempt) {
    const int got = ReadOnce(frame, frame128, status);
    if (got > 0) return true;
    if (got < 0) {
      error_ = FrameName(frame) + " could not be read: " + error_;
      return false;
    }
  }
  error_ = status != duino::kGood ? FrameName(frame) + " could not be read: the card answered " +
                                        Hex(status) + " (no card, or the card did not acknowledge)"
                                  : FrameName(frame) + " read with a bad checksum " +
                                        std::to_string(kFrameAttempts) + " times";
  return false;
}

bool DuinoReader::WriteFrame(int frame, const uint8_t* frame128) {
  std::array<uint8_t, 3 + kPS1DeviceFrameBytes + 1> request{};
  request[0] = duino::kWrite;
  request[1] = FrameMsb(frame);
  request[2] = FrameLsb(frame);
  std::memcpy(request.data() + 3, frame128, kPS1DeviceFrameBytes);
  request.back() = FrameXor(frame, frame128);
  uint8_t status = 0;
  for (int attempt = 0; attempt < kFrameAttempts; ++attempt) {
    if (!Send(request.data(), request.size()) || !Receive(&status, 1, duino::kFrameReplyMs)) {
      error_ = FrameName(frame) + " could not be written: " + error_;
      return false;
    }
    if (status == duino::kGood) return true;
    if (status != duino::kBadChecksum) break;  // only a garbled frame is worth sending again
  }
  error_ = FrameName(frame) + " could not be written: " +
           (status == duino::kBadChecksum
                ? "the card refused its checksum " + std::to_string(kFrameAttempts) + " times"
            : status == duino::kBadFrame ? std::string("the card refused the frame number")
                                         : "the card answered " + Hex(status));
  return false;
}

// ------------------------------------------------------------------- DexDrive

std::unique_ptr<DexDrive> DexDrive::Probe(const std::string& path, std::string& why) {
  auto drive = std::unique_ptr<DexDrive>(new DexDrive());
  if (!drive->port_.Open(path, dex::kBaud)) {
    why = drive->port_.Error();
    return nullptr;
  }
  // The drive takes its power from RTS and DTR.
  drive->port_.SetRts(true);
  drive->port_.SetDtr(true);
  drive->port_.DropInput();
  const uint8_t wake[5] = {'X', 'X', 'X', 'X', 'X'};
  uint8_t answer[3] = {};
  const bool woke = drive->port_.Write(wake, sizeof wake) &&
                    drive->Receive(answer, sizeof answer, dex::kWakeMs) &&
                    std::memcmp(answer, dex::kPrefix, 3) == 0;
  drive->sent_ += sizeof wake;
  if (woke) {
    drive->port_.DropInput();
    std::array<uint8_t, 5> id{};
    if (drive->Command(dex::kInit, dex::kInitPayload, sizeof dex::kInitPayload) &&
        drive->ReplyCode(dex::kReplyMs) == dex::kId &&
        drive->Receive(id.data(), id.size(), dex::kReplyMs) &&
        std::memcmp(id.data() + 1, "PSX", 3) == 0)
      return drive;
  }
  why = "no DexDrive for PS1 cards answers on \"" + path + "\"";
  return nullptr;
}

bool DexDrive::Command(uint8_t opcode, const uint8_t* args, size_t count) {
  std::vector<uint8_t> command(dex::kPrefix, dex::kPrefix + 3);
  command.push_back(opcode);
  command.insert(command.end(), args, args + count);
  return Send(command.data(), command.size());
}

int DexDrive::ReplyCode(int timeout_ms) {
  uint8_t reply[4] = {};
  if (!Receive(reply, sizeof reply, timeout_ms)) return -1;
  if (std::memcmp(reply, dex::kPrefix, 3) != 0) {
    error_ = "the DexDrive's answer did not begin \"IAI\"";
    return -1;
  }
  return reply[3];
}

std::string DexDrive::Identity() const {
  return "DexDrive on " + port_.Path();
}

std::optional<PS1Slot> DexDrive::CardPresent() {
  if (!Command(dex::kHandshake, nullptr, 0)) return std::nullopt;
  const int code = ReplyCode(dex::kReplyMs);
  if (code == dex::kCard) return PS1Slot::kPS1;
  if (code == dex::kNoCard) return PS1Slot::kEmpty;
  return std::nullopt;
}

bool DexDrive::ReadFrame(int frame, uint8_t* frame128) {
  const uint8_t args[2] = {FrameLsb(frame), FrameMsb(frame)};
  for (int attempt = 0; attempt < kFrameAttempts; ++attempt) {
    if (!Command(dex::kRead, args, sizeof args)) break;
    const int code = ReplyCode(dex::kReplyMs);
    if (code == dex::kNoCard) {
      error_ = "no card in the DexDrive";
      return false;
    }
    std::array<uint8_t, kPS1DeviceFrameBytes + 1> data{};
    if (code != dex::kData || !Receive(data.data(), data.size(), dex::kReplyMs)) break;
    std::memcpy(frame128, data.data(), kPS1DeviceFrameBytes);
    if (data.back() == FrameXor(frame, frame128)) return true;
    error_ = "read with a bad checksum " + std::to_string(kFrameAttempts) + " times";
  }
  error_ = FrameName(frame) + " could not be read: " + error_;
  return false;
}

bool DexDrive::WriteFrame(int frame, const uint8_t* frame128) {
  std::array<uint8_t, 4 + kPS1DeviceFrameBytes + 1> args{};
  args[0] = FrameMsb(frame);
  args[1] = FrameLsb(frame);
  args[2] = ReverseBits(args[0]);
  args[3] = ReverseBits(args[1]);
  std::memcpy(args.data() + 4, frame128, kPS1DeviceFrameBytes);
  args.back() = FrameXor(frame, frame128);
  if (Command(dex::kWrite, args.data(), args.size())) {
    const int code = ReplyCode(dex::kReplyMs);
    if (code == dex::kWriteDone || code == dex::kWriteSame) return true;
    if (code == dex::kNoCard)
      error_ = "no card in the DexDrive";
    else if (code >= 0)
      error_ = "the DexDrive answered " + Hex(static_cast<uint8_t>(code));
  }
  error_ = FrameName(frame) + " could not be written: " + error_;
  return false;
}

}  // namespace travosk::link
