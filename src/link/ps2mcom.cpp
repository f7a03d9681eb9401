#include "link/ps2mcom.h"

namespace travosk::link {
namespace {

// The protocol's fixed waits.
constexpr int kBeforeDataPhaseMs = 1;   // the adapter needs a moment to take the packet
constexpr int kAfterPageWriteMs = 10;   // programming time of a page
constexpr int kBeforeFrameReadMs = 20;  // a PS1 card answers slowly
constexpr int kAfterResetMs = 1000;     // the adapter restarts before it answers

// Second code bytes of the reset packet: 02 resets, 03 asks for the status.
constexpr uint8_t kResetParam = 0x02;
constexpr uint8_t kStatusParam = 0x03;
// First two bytes of the status reply of a working adapter: 0xA0, '!'.
constexpr uint8_t kStatusMark0 = 0xA0;
constexpr uint8_t kStatusMark1 = 0x21;

constexpr size_t kCardSpecsBytes = 8;
constexpr size_t kSMIdBytes = 4;

}  // namespace

std::array<uint8_t, kPacketBytes> BuildCommand(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                                               uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7) {
  std::array<uint8_t, kPacketBytes> packet{};
  packet[0] = b0;
  packet[1] = b1;
  packet[2] = b2;
  packet[3] = b3;
  packet[4] = b4;
  packet[5] = b5;
  packet[6] = b6;
  packet[7] = b7;
  return packet;
}

TPS2Mcom::TPS2Mcom(Link& link) : link_(link) {}

TPS2Mcom::~TPS2Mcom() {
  link_.ClosePipes();
}

bool TPS2Mcom::RunCommand(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, uint8_t p2) {
  if (link_.SendCommand(BuildCommand(c0, c1, p0, p1, p2))) return true;
  LinkFault = true;
  return false;
}

bool TPS2Mcom::RunCommandRead(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, uint8_t* buffer,
                              size_t count, uint8_t p2) {
  if (!RunCommand(c0, c1, p0, p1, p2)) return false;
  link_.clock().SleepMs(kBeforeDataPhaseMs);
  if (link_.ReadPipe(buffer, count)) return true;
  LinkFault = true;
  return false;
}

bool TPS2Mcom::RunCommandWrite(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1,
                               const uint8_t* buffer, size_t count, uint8_t p2) {
  if (!RunCommand(c0, c1, p0, p1, p2)) return false;
  link_.clock().SleepMs(kBeforeDataPhaseMs);
  const bool written = link_.WritePipe(buffer, count);
  if (!written) LinkFault = true;
  link_.clock().SleepMs(kAfterPageWriteMs);
  return written;
}

bool TPS2Mcom::RunCommandSlowRead(uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, uint8_t* buffer,
                                  size_t count) {
  if (!RunCommand(c0, c1, p0, p1)) return false;
  link_.clock().SleepMs(kBeforeFrameReadMs);
  if (link_.ReadPipe(buffer, count)) return true;
  LinkFault = true;
  return false;
}

void TPS2Mcom::ResetAdapter() {
  (void)RunCommand(cmd::kReset[0], cmd::kReset[1], kResetParam, 0);
}

bool TPS2Mcom::DetectAdapter() {
  const bool reset = RunCommand(cmd::kReset[0], cmd::kReset[1], kResetParam, 0);
  link_.clock().SleepMs(kAfterResetMs);
  Page& buffer = link_.PageBuffer();
  const bool status = RunCommandRead(cmd::kReset[0], cmd::kReset[1], kStatusParam, 0, buffer.data(),
                                     kDataPhaseBytes);
  return reset && status && buffer[0] == kStatusMark0 && buffer[1] == kStatusMark1;
}

void TPS2Mcom::ErasePS2Block(uint8_t lo, uint8_t hi, uint8_t top) {
  ++ChangeCommandsSent;
  (void)RunCommand(cmd::kErasePS2Block[0], cmd::kErasePS2Block[1], lo, hi, top);
}

void TPS2Mcom::EraseSMBlock(uint8_t lo, uint8_t hi) {
  ++ChangeCommandsSent;
  (void)RunCommand(cmd::kEraseSMBlock[0], cmd::kEraseSMBlock[1], lo, hi);
}

// Writes stage the caller's whole page in the shared buffer, so that its spare
// bytes stay there for the reads that follow; only the data bytes travel.
void TPS2Mcom::WritePS2Page(uint8_t lo, uint8_t hi, const Page& page, uint8_t top) {
  ++ChangeCommandsSent;
  link_.PageBuffer() = page;
  (void)RunCommandWrite(cmd::kWritePS2Page[0], cmd::kWritePS2Page[1], lo, hi,
                        link_.PageBuffer().data(), kDataPhaseBytes, top);
}

void TPS2Mcom::WriteSMPage(uint8_t lo, uint8_t hi, const Page& page) {
  ++ChangeCommandsSent;
  link_.PageBuffer() = page;
  (void)RunCommandWrite(cmd::kWriteSMPage[0], cmd::kWriteSMPage[1], lo, hi,
                        link_.PageBuffer().data(), kDataPhaseBytes);
}

// Reads fill the data bytes of the shared buffer and hand back all of it: the
// last 16 bytes are whatever the buffer held before, not the card's.
void TPS2Mcom::ReadPS2Page(uint8_t lo, uint8_t hi, Page& page, uint8_t top) {
  (void)RunCommandRead(cmd::kReadPS2Page[0], cmd::kReadPS2Page[1], lo, hi,
                       link_.PageBuffer().data(), kDataPhaseBytes, top);
  page = link_.PageBuffer();
}

void TPS2Mcom::ReadSMPage(uint8_t lo, uint8_t hi, Page& page) {
  (void)RunCommandRead(cmd::kReadSMPage[0], cmd::kReadSMPage[1], lo, hi, link_.PageBuffer().data(),
                       kDataPhaseBytes);
  page = link_.PageBuffer();
}

void TPS2Mcom::ReadCardSpecs(uint8_t& r0, uint8_t& r1, uint8_t& r2, uint8_t& r3, uint8_t& r4,
                             uint8_t& r5, uint8_t& r6, uint8_t& r7) {
  Page& buffer = link_.PageBuffer();
  (void)RunCommandRead(cmd::kReadCardSpecs[0], cmd::kReadCardSpecs[1], r0, r1, buffer.data(),
                       kDataPhaseBytes);
  uint8_t* const out[kCardSpecsBytes] = {&r0, &r1, &r2, &r3, &r4, &r5, &r6, &r7};
  for (size_t i = 0; i < kCardSpecsBytes; ++i) *out[i] = buffer[i];
}

void TPS2Mcom::ReadSMId(uint8_t& r0, uint8_t& r1, uint8_t& r2, uint8_t& r3) {
  Page& buffer = link_.PageBuffer();
  (void)RunCommandRead(cmd::kReadSMId[0], cmd::kReadSMId[1], r0, r1, buffer.data(),
                       kDataPhaseBytes);
  uint8_t* const out[kSMIdBytes] = {&r0, &r1, &r2, &r3};
  for (size_t i = 0; i < kSMIdBytes; ++i) *out[i] = buffer[i];
}

void TPS2Mcom::ReadPS1Frame(uint8_t hi, uint8_t lo, Page& frame) {
  (void)RunCommandSlowRead(cmd::kReadPS1Frame[0], cmd::kReadPS1Frame[1], hi, lo,
                           link_.PageBuffer().data(), kDataPhaseBytes);
  frame = link_.PageBuffer();
}

void TPS2Mcom::WritePS1Frame(uint8_t hi, uint8_t lo, const Page& frame) {
  ++ChangeCommandsSent;
  link_.PageBuffer() = frame;
  (void)RunCommandWrite(cmd::kWritePS1Frame[0], cmd::kWritePS1Frame[1], hi, lo,
                        link_.PageBuffer().data(), kDataPhaseBytes);
}

void TPS2Mcom::ConnectionWait() {
  if (ConnectDelay <= 0) return;
  // Each round ends at the next change of the clock's second, the first one
  // possibly within a second of the call.
  const int64_t rounds = int64_t{ConnectDelay} + 1;
  Clock& clock = link_.clock();
  for (int64_t i = 0; i < rounds; ++i) {
    const int64_t start = clock.NowSeconds();
    while (clock.NowSeconds() == start) {
    }
  }
}

}  // namespace travosk::link
