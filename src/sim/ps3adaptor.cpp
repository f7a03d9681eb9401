#include "sim/ps3adaptor.h"

#include <algorithm>
#include <cstring>

#include "sim/ps1frame.h"

namespace travosk::sim {

long AdaptorFirmware::Write(const uint8_t* data, size_t count) {
  if (!plugged_) return -1;
  bytes_in += count;
  reply_.clear();
  if (count >= 2 && data[0] == 0xAA && data[1] == 0x40) {
    reply_ = {0x55, static_cast<uint8_t>(slot_ == AdaptorCard::kNone  ? 0
                                         : slot_ == AdaptorCard::kPS1 ? 1
                                                                      : 2)};
  } else if (count >= 4 && data[0] == 0xAA && data[1] == 0x42) {
    const size_t length = std::min<size_t>(data[2] | data[3] << 8, count - 4);
    reply_ = {0x55, 0x5A, data[2], data[3]};
    const std::vector<uint8_t> answer = Card(data + 4, length);
    if (!plugged_) {
      reply_.clear();
      return -1;
    }
    reply_.insert(reply_.end(), answer.begin(), answer.end());
  } else {
    reply_ = {0x55, 0xAF};  // a command this firmware does not know
  }
  bytes_out += reply_.size();
  return static_cast<long>(count);
}

long AdaptorFirmware::Read(uint8_t* data, size_t count) {
  if (!plugged_) return -1;
  const size_t n = std::min(count, reply_.size());
  std::copy_n(reply_.begin(), n, data);
  reply_.clear();
  return static_cast<long>(n);
}

std::vector<uint8_t> AdaptorFirmware::Card(const uint8_t* c, size_t count) {
  // Nothing drives the line without a PS1 card: every byte reads FF.
  std::vector<uint8_t> out(count, 0xFF);
  if (slot_ != AdaptorCard::kPS1 || count < 10 || c[0] != 0x81) return out;
  const int frame = c[4] << 8 | c[5];
  const uint8_t head[] = {0xFF, flag_, 0x5A, 0x5D, 0x00, c[4]};
  std::copy(head, head + 6, out.begin());
  if (c[1] == 0x52 && count >= 10 + kFrame + 2) {
    out[6] = 0x5C;
    out[7] = 0x5D;
    out[8] = c[4];
    out[9] = c[5];
    if (frame >= kFrames) {
      out[8] = out[9] = 0xFF;  // a frame past the end: the card gives up here
      return out;
    }
    const uint8_t* data = card_->data() + static_cast<size_t>(frame) * kFrame;
    std::copy_n(data, kFrame, out.begin() + 10);
    uint8_t x = FrameChecksum(frame, data);
    if (faults.corrupt_reads > 0) {
      --faults.corrupt_reads;
      x ^= 0x01;
    }
    out[10 + kFrame] = x;
    out[11 + kFrame] = 0x47;
    ++frames_read;
  } else if (c[1] == 0x57 && count >= 6 + kFrame + 1 + 3) {
    // While the frame goes in, the card clocks back the byte before.
    for (size_t i = 6; i < 6 + kFrame + 1; ++i) out[i] = c[i - 1];
    const size_t end = 6 + kFrame + 1;
    out[end] = 0x5C;
    out[end + 1] = 0x5D;
    bool garbled = faults.garble_writes > 0;
    if (garbled) --faults.garble_writes;
    if (frame >= kFrames) {
      out[end + 2] = 0xFF;
    } else if (garbled || FrameChecksum(frame, c + 6) != c[6 + kFrame]) {
      out[end + 2] = 0x4E;
    } else if (faults.unplug_after_writes == 0) {
      plugged_ = false;  // pulled out before this frame reached the card
    } else {
      if (faults.unplug_after_writes > 0) --faults.unplug_after_writes;
      std::copy_n(c + 6, kFrame, card_->begin() + static_cast<long>(frame * kFrame));
      flag_ = 0x00;
      ++frames_written;
      out[end + 2] = 0x47;
    }
  }
  return out;
}

}  // namespace travosk::sim
