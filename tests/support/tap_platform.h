// A platform that passes everything through to another one and keeps a copy
// of every 16-byte command packet the link writes, so a test can check the
// exact bytes that went to the adapter.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/forwarding_platform.h"

namespace travosk::support {

class TapPlatform final : public link::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;

  std::vector<std::array<uint8_t, 16>> packets;

  long WritePipe(link::Handle h, const uint8_t* data, size_t count) override {
    if (count == 16) {
      std::array<uint8_t, 16> packet;
      std::copy_n(data, 16, packet.begin());
      packets.push_back(packet);
    }
    return ForwardingPlatform::WritePipe(h, data, count);
  }
};

}  // namespace travosk::support
