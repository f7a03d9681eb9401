#include "link/ps1device.h"

namespace travosk::link {

uint8_t FrameXor(int frame, const uint8_t* frame128) {
  uint8_t x = FrameMsb(frame) ^ FrameLsb(frame);
  for (int i = 0; i < kPS1DeviceFrameBytes; ++i) x ^= frame128[i];
  return x;
}

}  // namespace travosk::link
