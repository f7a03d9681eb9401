#include "link/platform.h"

#include <cstdlib>

namespace travosk::link {

int DefaultPipeTimeoutMs() {
  if (const char* text = std::getenv("TRAVOSK_PIPE_TIMEOUT_MS"); text != nullptr) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value > 0 && value <= 3600 * 1000) {
      return static_cast<int>(value);
    }
  }
  return kDefaultPipeTimeoutMs;
}

}  // namespace travosk::link
