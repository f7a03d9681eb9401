#include "link/ps3_adaptor.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "link/platform.h"
#include "link/serial_readers.h"
#include "link/usb_platform.h"

namespace travosk::link {

namespace {

constexpr int kInterface = 0;
constexpr uint8_t kOut = 0x02;
constexpr uint8_t kIn = 0x81;

constexpr uint8_t kRequest = 0xAA;
constexpr uint8_t kAnswer = 0x55;
constexpr uint8_t kCardType = 0x40;
constexpr uint8_t kPassThrough = 0x42;
constexpr uint8_t kPassed = 0x5A;
// The PS1 card's side of the exchange.
constexpr uint8_t kCardAddress = 0x81;
constexpr uint8_t kCardRead = 0x52;
constexpr uint8_t kCardWrite = 0x57;
constexpr uint8_t kAck1 = 0x5C;
constexpr uint8_t kAck2 = 0x5D;
constexpr uint8_t kGood = 0x47;
constexpr uint8_t kBadChecksum = 0x4E;
constexpr uint8_t kBadFrame = 0xFF;
// Where the card's bytes of a frame read stand in the reply: after the
// adaptor's four, the card's flag and ID (4), the frame number it was sent
// (2) and its two acknowledgements come the confirmed frame number, the
// data, the checksum and the end byte.
constexpr int kHeader = 4;
constexpr int kReadAcks = kHeader + 6;
constexpr int kReadConfirmed = kHeader + 8;
constexpr int kReadData = kHeader + 10;
constexpr int kReadChecksum = kReadData + kPS1DeviceFrameBytes;
constexpr int kReadEnd = kReadChecksum + 1;
// A write's reply ends with the two acknowledgements and the end byte.
constexpr int kWriteEnd = kPS3WriteBytes - 1;
constexpr int kWriteAcks = kWriteEnd - 2;

std::string UsbError(int rc) {
  if (rc == LIBUSB_ERROR_NO_DEVICE) return "the adaptor is gone (unplugged)";
  if (rc == LIBUSB_ERROR_TIMEOUT) return "the adaptor did not answer in time";
  return std::string("USB transfer failed (") + libusb_error_name(rc) + ")";
}

bool IsAdaptor(libusb_device* device) {
  libusb_device_descriptor descriptor{};
  return libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
         descriptor.idVendor == kPS3AdaptorVendor && descriptor.idProduct == kPS3AdaptorProduct;
}

// Calls `each` with every adaptor present and its path, in path order, until
// it answers true.
template <class F>
void EachAdaptor(libusb_context* context, F each) {
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(context, &list);
  std::vector<std::pair<std::string, libusb_device*>> found;
  for (ssize_t i = 0; i < n; ++i)
    if (IsAdaptor(list[i])) found.emplace_back(UsbPlatform::PathOf(list[i]), list[i]);
  std::sort(found.begin(), found.end());
  for (const auto& [path, device] : found)
    if (each(path, device)) break;
  if (list != nullptr) libusb_free_device_list(list, 1);
}

}  // namespace

bool PS3Adaptor::Names(const std::string& name) {
  return name.rfind("usb:", 0) == 0;
}

std::vector<std::string> PS3Adaptor::List() {
  std::vector<std::string> paths;
  libusb_context* context = nullptr;
  if (libusb_init(&context) != LIBUSB_SUCCESS) return paths;
  EachAdaptor(context, [&](const std::string& path, libusb_device*) {
    paths.push_back(path);
    return false;
  });
  libusb_exit(context);
  return paths;
}

PS3Adaptor::~PS3Adaptor() {
  if (handle_ != nullptr) {
    if (claimed_) libusb_release_interface(handle_, kInterface);
    if (detached_) libusb_attach_kernel_driver(handle_, kInterface);
    libusb_close(handle_);
  }
  if (context_ != nullptr) libusb_exit(context_);
}

std::unique_ptr<PS3Adaptor> PS3Adaptor::Open(const std::string& name, std::string& why) {
  auto adaptor = std::unique_ptr<PS3Adaptor>(new PS3Adaptor());
  if (libusb_init(&adaptor->context_) != LIBUSB_SUCCESS) {
    adaptor->context_ = nullptr;
    why = "USB cannot be used on this system (libusb did not start)";
    return nullptr;
  }
  adaptor->timeout_ms_ = DefaultPipeTimeoutMs();
  const bool any = name == kPS3AdaptorAnyName;
  int rc = LIBUSB_ERROR_NOT_FOUND;
  EachAdaptor(adaptor->context_, [&](const std::string& path, libusb_device* device) {
    if (!any && path != name) return false;
    adaptor->path_ = path;
    rc = libusb_open(device, &adaptor->handle_);
    return true;
  });
  if (adaptor->path_.empty()) {
    why = any ? "no PS3 memory card adaptor (USB 054c:02ea) is plugged in"
              : "no PS3 memory card adaptor at \"" + name + "\"";
    return nullptr;
  }
  if (rc == LIBUSB_ERROR_ACCESS) {
    why = "No permission to open the PS3 memory card adaptor at " + adaptor->path_ +
          ": install the udev rule " + kUdevRuleName +
          " (see \"PS1 card readers\" in the README), then plug the adaptor in again.";
    return nullptr;
  }
  if (rc != LIBUSB_SUCCESS) {
    adaptor->handle_ = nullptr;
    why = "the PS3 memory card adaptor at " + adaptor->path_ + " could not be opened (" +
          libusb_error_name(rc) + ")";
    return nullptr;
  }
  // A kernel driver that held the interface would answer the claim with
  // "busy"; it gets the interface back when the adaptor is closed.
  if (libusb_kernel_driver_active(adaptor->handle_, kInterface) == 1 &&
      libusb_detach_kernel_driver(adaptor->handle_, kInterface) == LIBUSB_SUCCESS)
    adaptor->detached_ = true;
  rc = libusb_claim_interface(adaptor->handle_, kInterface);
  if (rc != LIBUSB_SUCCESS) {
    why = "the PS3 memory card adaptor at " + adaptor->path_ + " is in use (" +
          libusb_error_name(rc) + ")";
    return nullptr;
  }
  adaptor->claimed_ = true;
  return adaptor;
}

std::string PS3Adaptor::Identity() const {
  return "PS3 memory card adaptor on " + path_;
}

bool PS3Adaptor::Exchange(const uint8_t* request, int request_bytes, uint8_t* reply,
                          int reply_bytes) {
  const auto timeout = static_cast<unsigned>(timeout_ms_);
  int moved = 0;
  int rc = libusb_bulk_transfer(handle_, kOut, const_cast<uint8_t*>(request), request_bytes, &moved,
                                timeout);
  sent_ += static_cast<uint64_t>(moved);
  if (rc == LIBUSB_SUCCESS && moved != request_bytes) rc = LIBUSB_ERROR_IO;
  if (rc == LIBUSB_SUCCESS) {
    moved = 0;
    rc = libusb_bulk_transfer(handle_, kIn, reply, reply_bytes, &moved, timeout);
    received_ += static_cast<uint64_t>(moved);
    if (rc == LIBUSB_SUCCESS && moved != reply_bytes) {
      error_ = "the adaptor answered " + std::to_string(moved) + " bytes where " +
               std::to_string(reply_bytes) + " were due";
      return false;
    }
  }
  // A stalled endpoint stays so until the host clears it: the next request
  // gets a fresh start.
  if (rc == LIBUSB_ERROR_PIPE) {
    libusb_clear_halt(handle_, kOut);
    libusb_clear_halt(handle_, kIn);
  }
  if (rc != LIBUSB_SUCCESS) error_ = UsbError(rc);
  return rc == LIBUSB_SUCCESS;
}

std::optional<PS1Slot> PS3Adaptor::CardPresent() {
  const uint8_t request[2] = {kRequest, kCardType};
  uint8_t reply[2] = {};
  if (!Exchange(request, sizeof request, reply, sizeof reply)) return std::nullopt;
  if (reply[0] != kAnswer) {
    error_ = "the adaptor answered " + Hex(reply[0]) + " to the card type request";
    return std::nullopt;
  }
  switch (reply[1]) {
    case 0:
      return PS1Slot::kEmpty;
    case 1:
      return PS1Slot::kPS1;
    case 2:
      error_ = "the card in the " + Identity() +
               " is a PS2 card, which the adaptor lets be reached only after an authentication "
               "exchange that this program does not carry (PS2 cards are read in the TRAVOSK "
               "adapter)";
      return PS1Slot::kOther;
    default:
      error_ = "the adaptor names an unknown card type " + Hex(reply[1]);
      return PS1Slot::kOther;
  }
}

int PS3Adaptor::ReadOnce(int frame, uint8_t* frame128) {
  std::array<uint8_t, kPS3ReadBytes> request{};
  const uint8_t head[] = {
      kRequest, kPassThrough, kPS3ReadBytes - kHeader, 0x00,           kCardAddress, kCardRead,
      0x00,     0x00,         FrameMsb(frame),         FrameLsb(frame)};
  std::memcpy(request.data(), head, sizeof head);
  std::array<uint8_t, kPS3ReadBytes> reply{};
  if (!Exchange(request.data(), kPS3ReadBytes, reply.data(), kPS3ReadBytes)) return -1;
  if (reply[0] != kAnswer || reply[1] != kPassed) {
    error_ = "the adaptor answered " + Hex(reply[0]) + " " + Hex(reply[1]);
    return -1;
  }
  if (reply[kReadAcks] != kAck1 || reply[kReadAcks + 1] != kAck2 ||
      reply[kReadConfirmed] != FrameMsb(frame) || reply[kReadConfirmed + 1] != FrameLsb(frame)) {
    error_ = "the card did not acknowledge the frame number (no card, or it was taken out)";
    return 0;
  }
  std::memcpy(frame128, reply.data() + kReadData, kPS1DeviceFrameBytes);
  if (reply[kReadChecksum] != FrameXor(frame, frame128) || reply[kReadEnd] != kGood) {
    error_ = "read with a bad checksum " + std::to_string(kFrameAttempts) + " times";
    return 0;
  }
  return 1;
}

bool PS3Adaptor::ReadFrame(int frame, uint8_t* frame128) {
  for (int attempt = 0; attempt < kFrameAttempts; ++attempt) {
    const int got = ReadOnce(frame, frame128);
    if (got > 0) return true;
    if (got < 0) break;
  }
  error_ = FrameName(frame) + " could not be read: " + error_;
  return false;
}

bool PS3Adaptor::WriteFrame(int frame, const uint8_t* frame128) {
  std::array<uint8_t, kPS3WriteBytes> request{};
  const uint8_t head[] = {
      kRequest, kPassThrough, kPS3WriteBytes - kHeader, 0x00,           kCardAddress, kCardWrite,
      0x00,     0x00,         FrameMsb(frame),          FrameLsb(frame)};
  std::memcpy(request.data(), head, sizeof head);
  std::memcpy(request.data() + sizeof head, frame128, kPS1DeviceFrameBytes);
  request[sizeof head + kPS1DeviceFrameBytes] = FrameXor(frame, frame128);
  std::array<uint8_t, kPS3WriteBytes> reply{};
  uint8_t status = 0;
  for (int attempt = 0; attempt < kFrameAttempts; ++attempt) {
    if (!Exchange(request.data(), kPS3WriteBytes, reply.data(), kPS3WriteBytes)) {
      error_ = FrameName(frame) + " could not be written: " + error_;
      return false;
    }
    status = reply[kWriteEnd];
    const bool acknowledged = reply[0] == kAnswer && reply[1] == kPassed &&
                              reply[kWriteAcks] == kAck1 && reply[kWriteAcks + 1] == kAck2;
    if (acknowledged && status == kGood) return true;
    if (!acknowledged) {
      error_ = FrameName(frame) +
               " could not be written: the card did not acknowledge it (no card, or it was "
               "taken out)";
      return false;
    }
    if (status != kBadChecksum) break;  // only a garbled frame is worth sending again
  }
  error_ = FrameName(frame) + " could not be written: " +
           (status == kBadChecksum
                ? "the card refused its checksum " + std::to_string(kFrameAttempts) + " times"
            : status == kBadFrame ? std::string("the card refused the frame number")
                                  : "the card answered " + Hex(status));
  return false;
}

}  // namespace travosk::link
