#include "link/ps1device.h"

#include <cstdio>

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

std::string FrameName(int frame) {
  return "frame " + std::to_string(frame);
}

std::string Hex(uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

}  // namespace travosk::link
