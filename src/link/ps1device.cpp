#include "link/ps1device.h"

namespace travosk::link {

uint8_t FrameXor(int frame, const uint8_t* frame128) {
  uint8_t x = FrameMsb(frame) ^ FrameLsb(frame);
  for (int i = 0; i < kPS1DeviceFrameBytes; ++i) x ^= frame128[i];
  return x;
}

bool PS1Device::ChooseSlot(int slot) {
  if (slot == 1) return true;
  error_ = Identity() + " has one card slot, slot 1";
  return false;
}

}  // namespace travosk::link
