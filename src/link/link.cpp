#include "link/link.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "common/errors.h"

namespace travosk::link {
namespace {

// The device path travels in a 256-byte detail record: a 4-byte size field,
// then the path and its terminating zero. A longer path cannot be fetched.
constexpr size_t kDetailBufferBytes = 256;
constexpr size_t kDetailSizeField = 4;
constexpr size_t kMaxDevicePathChars = kDetailBufferBytes - kDetailSizeField - 1;  // 251

constexpr size_t kIdFieldDigits = 4;
constexpr size_t kDescriptorBytes = 256;

bool IsHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

DeviceChange DeviceChangeOf(const DeviceEvent& event) {
  return {event.arrival ? kDeviceArrival : kDeviceRemoveComplete, kDevTypeDevNode, event.node};
}

uint16_t ParseIdField(const std::string& tag, const std::string& identifier) {
  // The digits start right after the tag; an absent tag counts as found at
  // position 0 (1-based), which lands on the characters at positions 4..7 for
  // a four-character tag.
  const size_t found = tag.empty() ? std::string::npos : identifier.find(tag);
  const size_t start =
      found != std::string::npos ? found + tag.size() : (tag.empty() ? 0 : tag.size() - 1);
  const std::string digits =
      start < identifier.size() ? identifier.substr(start, kIdFieldDigits) : std::string();
  const std::string text = "$" + digits;
  if (digits.size() != kIdFieldDigits || !std::all_of(digits.begin(), digits.end(), IsHexDigit)) {
    throw ConversionError(text);
  }
  return static_cast<uint16_t>(std::stoul(digits, nullptr, 16));
}

Link::Link(Platform& platform, Clock& clock) : platform_(platform), clock_(clock) {}

Link::~Link() {
  ClosePipes();
}

void Link::Message(const std::string& text) {
  if (sink_) sink_(text);
}

void Link::FindAdapter() {
  connected_ = false;
  device_path_.clear();
  THidDeviceData record;
  ScanAdapterInterfaces(record, kAdapterIdentifier);
  connected_ = !device_path_.empty();
  if (connected_) OpenPipes();
}

void Link::ScanAdapterInterfaces(THidDeviceData& record, const std::string& identifier) {
  record.identifier = identifier;
  record.vendor = ParseIdField("VID_", identifier);
  record.product = ParseIdField("PID_", identifier);
  record.manufacturer.clear();
  record.product_name.clear();
  record.serial_number.clear();
  record.physical_descriptor.clear();
  record.device_path.clear();

  const auto interfaces = platform_.ListInterfaces();
  if (!interfaces) {
    Message("Could not attach to PnP node");
    return;
  }
  for (const std::string& path : *interfaces) {
    // An empty entry is an interface whose path the platform could not read.
    if (path.empty() || path.size() > kMaxDevicePathChars) {
      Message("Could not find the system name for this HID device");
      return;
    }
    const auto identity = platform_.Identify(path);
    if (!identity) {
      Message("could not open DevicePath");
      // A device this user may not open says how to get the rights.
      if (const std::string problem = platform_.OpenProblem(); !problem.empty()) Message(problem);
      continue;
    }
    const HidAttributes& attributes = identity->attributes;
    if (attributes.vendor == record.vendor && attributes.product == record.product) {
      record.device_path = path;
      if (identity->manufacturer) record.manufacturer = *identity->manufacturer;
      if (identity->product) record.product_name = *identity->product;
      if (identity->serial_number) record.serial_number = *identity->serial_number;
      if (const auto& descriptor = identity->physical_descriptor) {
        // The descriptor travels in a 256-byte buffer, read up to its first zero.
        const auto last = descriptor->begin() + static_cast<std::ptrdiff_t>(
                                                    std::min(descriptor->size(), kDescriptorBytes));
        record.physical_descriptor.assign(descriptor->begin(),
                                          std::find(descriptor->begin(), last, uint8_t{0}));
      }
      if (platform_.AnswersFeatureReport(path)) Message("could");
    }
    // Any interface of the class that opens becomes the device path, matched
    // or not: the class belongs to the adapter's driver.
    device_path_ = path;
  }
}

bool Link::HandleDeviceChange(const DeviceChange& message) {
  if (message.device_type != kDevTypeDevNode) return false;
  if (message.event == kDeviceArrival) {
    // The broadcast does not say which device came, so any arrival rescans.
    THidDeviceData record;
    ScanAdapterInterfaces(record, ReadHardwareKey(message.node));
    connected_ = true;
    ClosePipes();
    OpenPipes();
    return true;
  }
  if (message.event == kDeviceRemoveComplete) {
    connected_ = false;
    ClosePipes();
    return true;
  }
  return false;
}

bool Link::HandlePendingDeviceChanges() {
  bool handled = false;
  for (const DeviceEvent& event : platform_.TakeDeviceEvents()) {
    handled = HandleDeviceChange(DeviceChangeOf(event)) || handled;
  }
  return handled;
}

std::string Link::ReadHardwareKey(uint32_t node) {
  return platform_.ReadHardwareKey(node);
}

void Link::OpenPipes() {
  // Reopening must not leak the handles of an earlier open, and with no device
  // path there is nothing below which the pipes could live.
  ClosePipes();
  if (device_path_.empty()) return;
  read_pipe_ = platform_.OpenPipe(device_path_ + "/PIPE00", Platform::PipeEnd::kRead);
  write_pipe_ = platform_.OpenPipe(device_path_ + "/PIPE01", Platform::PipeEnd::kWrite);
}

void Link::ClosePipes() {
  if (read_pipe_ != kInvalidHandle) {
    platform_.ClosePipe(std::exchange(read_pipe_, kInvalidHandle));
  }
  if (write_pipe_ != kInvalidHandle) {
    platform_.ClosePipe(std::exchange(write_pipe_, kInvalidHandle));
  }
}

bool Link::SendCommand(const std::array<uint8_t, kPacketBytes>& packet) {
  return WritePipe(packet.data(), packet.size());
}

bool Link::WritePipe(const uint8_t* data, size_t count) {
  if (write_pipe_ == kInvalidHandle) return false;
  return platform_.WritePipe(write_pipe_, data, count) == static_cast<long>(count);
}

bool Link::ReadPipe(uint8_t* data, size_t count) {
  if (read_pipe_ == kInvalidHandle) return false;
  return platform_.ReadPipe(read_pipe_, data, count) == static_cast<long>(count);
}

}  // namespace travosk::link
