// The device interface directory: how an adapter's driver (on this system, the
// simulated adapter program) publishes its interface and how the link finds it.
//
//   <root>/                                   DeviceRoot(), mode 0700
//     {5D0C2A71-93E4-4F1B-A6D2-7C3B19E8F540}/ ClassDirectory(root)
//       0000002a/                             one present interface; its path is
//                                             the device path, its name the device
//                                             node number (NodeName)
//         identity                            "key=value" lines, see below
//         PIPE01                              FIFO, PC -> adapter (commands, data)
//         PIPE00                              FIFO, adapter -> PC (read data)
//     nodes/                                  NodesDirectory(root)
//       0000002a                              the node's hardware key, one line
//
// Publishing: build the interface directory elsewhere under the root (so that
// it appears complete), write the node's hardware key first, then rename the
// directory into the class directory: the link sees the rename as the arrival.
// Unplugging: rename it out of the class directory (the removal), then delete
// it. The adapter holds both FIFOs open read-write, so the link's non-blocking
// opens always find a peer while the adapter runs.
//
// Identity file: one "key=value" per line, in any order; unknown keys and
// lines without '=' are ignored, a missing key keeps its default.
//   vendor=7E21             HID attributes, 1 to 4 hexadecimal digits
//   product=B40D
//   version=0100
//   manufacturer=...        text up to the end of the line
//   product_name=...
//   serial=...
//   physical_descriptor=0A0B0C   bytes as hexadecimal pairs, at most 256 bytes
//   hardware_key=USB\VID_7E21&PID_B40D\INST_0
//   feature=1               1 when a feature report request succeeds, else 0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"

namespace travosk::link {

inline constexpr const char* kIdentityFileName = "identity";
inline constexpr const char* kReadPipeName = "PIPE00";   // adapter -> PC
inline constexpr const char* kWritePipeName = "PIPE01";  // PC -> adapter
inline constexpr size_t kMaxPhysicalDescriptorBytes = 256;

// $TRAVOSK_DEVICE_ROOT, else $XDG_RUNTIME_DIR/travosk, else /tmp/travosk-<uid>.
// Only the path: MakeDirectories creates it.
std::string DeviceRoot();
std::string ClassDirectory(const std::string& root,
                           const std::string& class_guid = kAdapterInterfaceGuid);
std::string NodesDirectory(const std::string& root);

// A device node number as eight lowercase hexadecimal digits, and back
// (nullopt for any other name).
std::string NodeName(uint32_t node);
std::optional<uint32_t> ParseNodeName(const std::string& name);

// ClassDirectory(root) + "/" + NodeName(node), and NodesDirectory(root) + "/" + NodeName(node).
std::string InterfacePath(const std::string& root, uint32_t node);
std::string NodeKeyPath(const std::string& root, uint32_t node);

// Creates path and its missing parents with mode 0700. True when path is a
// directory afterwards.
[[nodiscard]] bool MakeDirectories(const std::string& path);

struct DeviceIdentity {
  uint16_t vendor = 0;
  uint16_t product = 0;
  uint16_t version = 0;
  std::string manufacturer;
  std::string product_name;
  std::string serial;
  std::vector<uint8_t> physical_descriptor;
  std::string hardware_key;
  bool feature = false;  // whether a feature report request succeeds
};

// Writes the identity file at path (through a temporary file renamed into
// place). Throws InOutError when the file cannot be written or a text holds a
// line break.
void WriteIdentity(const std::string& path, const DeviceIdentity& identity);
// Reads the identity file at path; nullopt when it is missing, unreadable,
// larger than 64 KiB or holds a malformed number or descriptor.
std::optional<DeviceIdentity> ReadIdentity(const std::string& path);

// The node's hardware key file (one line). Write throws InOutError; read
// answers empty when the file is missing.
void WriteNodeKey(const std::string& root, uint32_t node, const std::string& hardware_key);
std::string ReadNodeKey(const std::string& root, uint32_t node);

}  // namespace travosk::link
