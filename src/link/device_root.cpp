#include "link/device_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/errors.h"
#include "link/unique_fd.h"

namespace travosk::link {
namespace {

constexpr size_t kMaxIdentityBytes = 64 * 1024;
constexpr size_t kMaxNodeKeyBytes = 4096;
constexpr size_t kNodeNameDigits = 8;

std::string Reason(int error) {
  return std::strerror(error);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint16_t> ParseHex16(const std::string& text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  uint16_t value = 0;
  for (char c : text) {
    const int digit = HexValue(c);
    if (digit < 0) return std::nullopt;
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return value;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
  if (text.size() % 2 != 0 || text.size() / 2 > kMaxPhysicalDescriptorBytes) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexValue(text[i]);
    const int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return bytes;
}

std::string Hex(const uint8_t* bytes, size_t count, size_t min_digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  while (text.size() < min_digits) text.insert(text.begin(), '0');
  return text;
}

std::string Hex16(uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return Hex(bytes, 2, 4);
}

// Reads at most limit bytes; nullopt when the file cannot be read or is larger.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
    if (text.size() > limit) return std::nullopt;
  }
  return text;
}

// Whole-file replacement: a reader never sees a half-written file.
void WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  {
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid()) throw InOutError(temp, Reason(errno));
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::unlink(temp.c_str());
        throw InOutError(temp, Reason(error));
      }
      done += static_cast<size_t>(n);
    }
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw InOutError(path, Reason(error));
  }
}

void CheckOneLine(const std::string& path, const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos) {
    throw InOutError(path, "a value holds a line break");
  }
}

}  // namespace

std::string DeviceRoot() {
  if (const char* root = std::getenv("TRAVOSK_DEVICE_ROOT"); root != nullptr && *root != '\0') {
    return root;
  }
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && *runtime != '\0') {
    return std::string(runtime) + "/travosk";
  }
  return "/tmp/travosk-" + std::to_string(::getuid());
}

std::string ClassDirectory(const std::string& root, const std::string& class_guid) {
  return root + "/" + class_guid;
}

std::string NodesDirectory(const std::string& root) {
  return root + "/nodes";
}

std::string NodeName(uint32_t node) {
  char text[kNodeNameDigits + 1];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(node));
  return text;
}

std::optional<uint32_t> ParseNodeName(const std::string& name) {
  if (name.size() != kNodeNameDigits) return std::nullopt;
  uint32_t node = 0;
  for (char c : name) {
    // Lowercase only: the name is the canonical one NodeName gives.
    const int digit = (c >= 'A' && c <= 'F') ? -1 : HexValue(c);
    if (digit < 0) return std::nullopt;
    node = node * 16 + static_cast<uint32_t>(digit);
  }
  return node;
}

std::string InterfacePath(const std::string& root, uint32_t node) {
  return ClassDirectory(root) + "/" + NodeName(node);
}

std::string NodeKeyPath(const std::string& root, uint32_t node) {
  return NodesDirectory(root) + "/" + NodeName(node);
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    // A component that exists, or that this user may not create, is judged
    // by the final check alone.
    (void)::mkdir(part.c_str(), 0700);
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void WriteIdentity(const std::string& path, const DeviceIdentity& identity) {
  CheckOneLine(path, identity.manufacturer);
  CheckOneLine(path, identity.product_name);
  CheckOneLine(path, identity.serial);
  CheckOneLine(path, identity.hardware_key);
  if (identity.physical_descriptor.size() > kMaxPhysicalDescriptorBytes) {
    throw InOutError(path, "the physical descriptor is longer than 256 bytes");
  }
  std::string text;
  text += "vendor=" + Hex16(identity.vendor) + "\n";
  text += "product=" + Hex16(identity.product) + "\n";
  text += "version=" + Hex16(identity.version) + "\n";
  text += "manufacturer=" + identity.manufacturer + "\n";
  text += "product_name=" + identity.product_name + "\n";
  text += "serial=" + identity.serial + "\n";
  text += "physical_descriptor=" +
          Hex(identity.physical_descriptor.data(), identity.physical_descriptor.size(), 0) + "\n";
  text += "hardware_key=" + identity.hardware_key + "\n";
  text += std::string("feature=") + (identity.feature ? "1" : "0") + "\n";
  WriteFileAtomically(path, text);
}

std::optional<DeviceIdentity> ReadIdentity(const std::string& path) {
  const auto text = ReadSmallFile(path, kMaxIdentityBytes);
  if (!text) return std::nullopt;
  DeviceIdentity identity;
  size_t start = 0;
  while (start < text->size()) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "vendor" || key == "product" || key == "version") {
      const auto number = ParseHex16(value);
      if (!number) return std::nullopt;
      (key == "vendor"    ? identity.vendor
       : key == "product" ? identity.product
                          : identity.version) = *number;
    } else if (key == "manufacturer") {
      identity.manufacturer = value;
    } else if (key == "product_name") {
      identity.product_name = value;
    } else if (key == "serial") {
      identity.serial = value;
    } else if (key == "physical_descriptor") {
      auto bytes = ParseHexBytes(value);
      if (!bytes) return std::nullopt;
      identity.physical_descriptor = std::move(*bytes);
    } else if (key == "hardware_key") {
      identity.hardware_key = value;
    } else if (key == "feature") {
      if (value != "0" && value != "1") return std::nullopt;
      identity.feature = value == "1";
    }
  }
  return identity;
}

void WriteNodeKey(const std::string& root, uint32_t node, const std::string& hardware_key) {
  const std::string path = NodeKeyPath(root, node);
  CheckOneLine(path, hardware_key);
  if (!MakeDirectories(NodesDirectory(root))) {
    throw InOutError(NodesDirectory(root), Reason(errno));
  }
  WriteFileAtomically(path, hardware_key + "\n");
}

std::string ReadNodeKey(const std::string& root, uint32_t node) {
  const auto text = ReadSmallFile(NodeKeyPath(root, node), kMaxNodeKeyBytes);
  if (!text) return {};
  std::string key = text->substr(0, text->find('\n'));
  if (!key.empty() && key.back() == '\r') key.pop_back();
  return key;
}

}  // namespace travosk::link
