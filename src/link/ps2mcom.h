// TPS2Mcom: one operation per adapter command. Every exchange is a 16-byte
// packet on the write pipe, a fixed wait, and at most one 512-byte data phase,
// staged through the link's shared page buffer.
#pragma once

#include <array>
#include <cstdint>

#include "link/link.h"

namespace travosk::link {

// Command code pairs (bytes 0 and 1 of the packet).
namespace cmd {
inline constexpr uint8_t kReset[2] = {0xCA, 0x59};       // CA 59 02 00 reset, CA 59 03 00 status
inline constexpr uint8_t kErasePS2Block[2] = {0x8C, 0x67};
inline constexpr uint8_t kEraseSMBlock[2] = {0x37, 0x81};
inline constexpr uint8_t kWritePS2Page[2] = {0xC8, 0xA2};
inline constexpr uint8_t kWriteSMPage[2] = {0xBC, 0x35};
inline constexpr uint8_t kReadPS2Page[2] = {0xA5, 0x69};
inline constexpr uint8_t kReadSMPage[2] = {0xA9, 0x85};
inline constexpr uint8_t kReadCardSpecs[2] = {0x51, 0x26};
inline constexpr uint8_t kReadSMId[2] = {0x2C, 0x88};
inline constexpr uint8_t kReadPS1Frame[2] = {0xE3, 0xA4};
inline constexpr uint8_t kWritePS1Frame[2] = {0xE9, 0xDC};
}  // namespace cmd

using Page = std::array<uint8_t, kPageBytes>;

std::array<uint8_t, kPacketBytes> BuildCommand(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                                               uint8_t b4 = 0, uint8_t b5 = 0, uint8_t b6 = 0,
                                               uint8_t b7 = 0);

class TPS2Mcom {
 public:
  explicit TPS2Mcom(Link& link);
  ~TPS2Mcom();  // closes the pipes
  TPS2Mcom(const TPS2Mcom&) = delete;
  TPS2Mcom& operator=(const TPS2Mcom&) = delete;

  Link& link() { return link_; }

  // Link settings (loaded and saved by the card access object).
  uint16_t PortBase = 0x378;
  // Set by every transfer that failed, moved too few bytes or timed out, and
  // cleared by nothing here: a caller clears it before an operation and checks
  // it afterwards. After a failed read the caller's buffer still receives the
  // page buffer's copy, but those bytes are not the adapter's answer.
  bool LinkFault = false;
  int32_t ConnectDelay = 0;
  // Commands sent that change a medium (erases and page or frame writes): a
  // caller compares it before and after an operation to know whether the
  // card may have changed, even when the operation failed.
  uint64_t ChangeCommandsSent = 0;

  // Transaction shapes. Each answers whether every transfer of the
  // transaction moved in full; a failure also sets LinkFault. When the packet
  // does not go out whole, the data phase is skipped: data bytes sent after a
  // broken packet would be taken by the adapter as further commands.
  // p2 goes out as packet byte 4: the third byte of a PS2 page address past
  // page 65,535, zero (as on every other command) below it.
  bool RunCommand(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, uint8_t p2 = 0);
  bool RunCommandRead(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, uint8_t* buffer,
                      size_t count, uint8_t p2 = 0);
  bool RunCommandWrite(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, const uint8_t* buffer,
                       size_t count, uint8_t p2 = 0);
  bool RunCommandSlowRead(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, uint8_t* buffer,
                          size_t count);

  // Commands.
  void ResetAdapter();
  // Resets the adapter, waits for it to come back and asks for its status.
  // True only when this status read arrived and begins 0xA0 0x21: bytes left
  // in the page buffer by an earlier detection are no answer.
  bool DetectAdapter();
  // PS2 page commands take the page address's third byte `top` in packet
  // byte 4, for cards of more than 65,536 pages (32 MB of data); the packets
  // of smaller cards are unchanged.
  void ErasePS2Block(uint8_t lo, uint8_t hi, uint8_t top = 0);
  void EraseSMBlock(uint8_t lo, uint8_t hi);
  void WritePS2Page(uint8_t lo, uint8_t hi, const Page& page, uint8_t top = 0);
  void WriteSMPage(uint8_t lo, uint8_t hi, const Page& page);
  void ReadPS2Page(uint8_t lo, uint8_t hi, Page& page, uint8_t top = 0);
  void ReadSMPage(uint8_t lo, uint8_t hi, Page& page);
  // The reply variables are in-out: r0 and r1 go out as packet bytes 2 and 3.
  void ReadCardSpecs(uint8_t& r0, uint8_t& r1, uint8_t& r2, uint8_t& r3, uint8_t& r4, uint8_t& r5,
                     uint8_t& r6, uint8_t& r7);
  void ReadSMId(uint8_t& r0, uint8_t& r1, uint8_t& r2, uint8_t& r3);
  void ReadPS1Frame(uint8_t hi, uint8_t lo, Page& frame);
  void WritePS1Frame(uint8_t hi, uint8_t lo, const Page& frame);

  // Always true: the link is ready whenever this object exists. Nothing in
  // the system tests it, since a branch for false could never run.
  bool IsReady() const { return true; }
  // Busy-waits on the clock for ConnectDelay + 1 changes of its second, so
  // the wait lasts between ConnectDelay and ConnectDelay + 1 seconds; nothing
  // when ConnectDelay is 0 or negative.
  void ConnectionWait();

  // Forwarded to the link.
  void FindAdapter() { link_.FindAdapter(); }
  bool HandleDeviceChange(const DeviceChange& message) { return link_.HandleDeviceChange(message); }
  bool IsConnected() const { return link_.IsConnected(); }

 private:
  Link& link_;
};

}  // namespace travosk::link
