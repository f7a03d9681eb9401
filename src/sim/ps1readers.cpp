#include "sim/ps1readers.h"

#include <algorithm>
#include <cstring>

#include "sim/ps1frame.h"

namespace travosk::sim {

namespace {

uint8_t Reverse(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
  return r;
}

void Append(std::vector<uint8_t>& out, const char* text) {
  out.insert(out.end(), text, text + std::strlen(text));
}
}  // namespace

ReaderFirmware::ReaderFirmware(ReaderKind kind, std::vector<uint8_t>* card)
    : kind_(kind), card_(card) {}

std::vector<uint8_t> ReaderFirmware::Receive(const uint8_t* data, size_t count) {
  std::vector<uint8_t> out;
  if (gone) return out;
  bytes_in += count;
  pending_.insert(pending_.end(), data, data + count);
  while (!pending_.empty() && !gone) {
    size_t used = 0;
    if (kind_ == ReaderKind::kModem) {
      // Something else on the port: a modem answers every line with ERROR.
      used = pending_.size();
      Append(out, "\r\nERROR\r\n");
    } else {
      used = kind_ == ReaderKind::kDexDrive ? Dex(out) : Duino(out);
    }
    if (used == 0) break;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(used));
  }
  bytes_out += out.size();
  return out;
}

bool ReaderFirmware::Write(int frame, const uint8_t* data) {
  if (faults.silent_after_writes == 0) {
    gone = true;  // unplugged before this frame reached the card
    return false;
  }
  if (faults.silent_after_writes > 0) --faults.silent_after_writes;
  std::copy_n(data, kFrame, Slot()->begin() + static_cast<long>(frame * kFrame));
  ++frames_written;
  return true;
}

void ReaderFirmware::AppendFrame(int frame, std::vector<uint8_t>& out) {
  const uint8_t* data = Slot()->data() + frame * kFrame;
  out.insert(out.end(), data, data + kFrame);
  uint8_t x = FrameChecksum(frame, data);
  if (faults.corrupt_reads > 0) {
    --faults.corrupt_reads;
    x ^= 0x01;
  }
  out.push_back(x);
  ++frames_read;
}

size_t ReaderFirmware::Duino(std::vector<uint8_t>& out) {
  const uint8_t* p = pending_.data();
  switch (p[0]) {
    case 0xA0:
      Append(out, kind_ == ReaderKind::kPS1CardLink ? "PS1CLNK" : "MCDINO");
      return 1;
    case 0xA1:
      out.push_back(kind_ == ReaderKind::kPS1CardLink ? 0x11 : 0x08);
      return 1;
    case 0xA2: {
      if (pending_.size() < 3) return 0;
      const int frame = p[1] << 8 | p[2];
      if (!Slot() || frame >= kFrames) {
        // No card drives the bus: everything reads as its idle level.
        out.insert(out.end(), kFrame + 2, 0xFF);
        return 3;
      }
      AppendFrame(frame, out);
      out.push_back(0x47);
      return 3;
    }
    case 0xA4:  // the slot, from PS1CardLink 1.1: no answer
      if (kind_ != ReaderKind::kPS1CardLink) return 1;
      if (pending_.size() < 2) return 0;
      on_second_ = p[1] > 0;
      return 2;
    case 0xA3: {
      constexpr size_t kLength = 3 + kFrame + 1;
      if (pending_.size() < kLength) return 0;
      const int frame = p[1] << 8 | p[2];
      bool garbled = faults.garble_writes > 0;
      if (garbled) --faults.garble_writes;
      if (!Slot())
        out.push_back(0xFF);
      else if (frame >= kFrames)
        out.push_back(0xFF);
      else if (garbled || FrameChecksum(frame, p + 3) != p[3 + kFrame])
        out.push_back(0x4E);
      else if (Write(frame, p + 3))
        out.push_back(0x47);
      return kLength;
    }
    default:
      return 1;  // not a command of this board: dropped
  }
}

size_t ReaderFirmware::Dex(std::vector<uint8_t>& out) {
  const uint8_t* p = pending_.data();
  const size_t n = pending_.size();
  if (p[0] == 'X') {
    if (n < 5) return 0;
    if (std::all_of(p, p + 5, [](uint8_t b) { return b == 'X'; })) {
      Append(out, "IAI");
      return 5;
    }
    return 1;
  }
  if (p[0] != 'I') return 1;
  if (n < 4) return 0;
  if (p[1] != 'A' || p[2] != 'I') return 1;
  auto reply = [&](uint8_t code) {
    Append(out, "IAI");
    out.push_back(code);
  };
  switch (p[3]) {
    case 0x00:  // init: 17 bytes whose content does not matter
      if (n < 4 + 17) return 0;
      reply(0x40);
      out.push_back(0x01);
      Append(out, "PSX");
      out.push_back(0x22);
      return 4 + 17;
    case 0x27:
      reply(Slot() ? 0x23 : 0x22);
      return 4;
    case 0x07:  // the light: no answer
      if (n < 5) return 0;
      return 5;
    case 0x02: {
      if (n < 6) return 0;
      const int frame = p[5] << 8 | p[4];
      if (!Slot() || frame >= kFrames) {
        reply(0x22);
        return 6;
      }
      reply(0x41);
      AppendFrame(frame, out);
      return 6;
    }
    case 0x04: {
      constexpr size_t kLength = 4 + 4 + kFrame + 1;
      if (n < kLength) return 0;
      const int frame = p[4] << 8 | p[5];
      const bool whole = p[6] == Reverse(p[4]) && p[7] == Reverse(p[5]) &&
                         FrameChecksum(frame, p + 8) == p[8 + kFrame] && frame < kFrames;
      if (!Slot()) {
        reply(0x22);
      } else if (whole) {
        const bool same = std::equal(p + 8, p + 8 + kFrame, Slot()->begin() + frame * kFrame);
        if (Write(frame, p + 8)) reply(same ? 0x29 : 0x28);
      }
      // A garbled write gets no answer: the drive waits for a command.
      return kLength;
    }
    default:
      return 4;
  }
}

}  // namespace travosk::sim
