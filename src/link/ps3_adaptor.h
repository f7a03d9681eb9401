// The PS3 memory card adaptor (USB 054c:02ea) as a PS1 device, through
// libusb. The adaptor passes a PS1 card's own command bytes through and
// answers with the bytes the card clocked back, so one frame costs one bulk
// request and one bulk reply:
//
//   card type    AA 40                                -> 55 tt (0 none, 1 PS1, 2 PS2)
//   frame read   AA 42 8C 00  81 52 00 00 MSB LSB 00...  (144 bytes)
//                -> 55 5A 8C 00  <the card's 140 bytes: flag, ID, acknowledgements,
//                   the confirmed frame number, 128 data bytes, checksum, end byte>
//   frame write  AA 42 8A 00  81 57 00 00 MSB LSB <128 bytes> XOR 00 00 00  (142 bytes)
//                -> 55 5A 8A 00  <..., 5C 5D, end byte: 47 good, 4E bad checksum, FF bad frame>
//
// A PS2 card in the adaptor answers only after an authentication exchange that
// this program does not carry: it is named and refused.
//
// An adaptor is named "usb:BUS-PORT[.PORT...]" by where it is plugged (as
// `devices` lists it), or "usb:054c:02ea" for the first one present.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/ps1device.h"

struct libusb_context;
struct libusb_device_handle;

namespace travosk::link {

inline constexpr uint16_t kPS3AdaptorVendor = 0x054C;
inline constexpr uint16_t kPS3AdaptorProduct = 0x02EA;
inline constexpr const char* kPS3AdaptorAnyName = "usb:054c:02ea";
// Bytes of a frame read's and a frame write's request and reply.
inline constexpr int kPS3ReadBytes = 144;
inline constexpr int kPS3WriteBytes = 142;

class PS3Adaptor final : public PS1Device {
 public:
  ~PS3Adaptor() override;
  // Whether the name is one of the adaptor's ("usb:...").
  static bool Names(const std::string& name);
  // The device paths of the adaptors present, in path order.
  static std::vector<std::string> List();
  // The adaptor at `name`, opened and its interface claimed; null, with the
  // reason in `why`, when it is not there or may not be opened.
  static std::unique_ptr<PS3Adaptor> Open(const std::string& name, std::string& why);

  std::string Identity() const override;
  std::optional<PS1Slot> CardPresent() override;
  bool ReadFrame(int frame, uint8_t* frame128) override;
  bool WriteFrame(int frame, const uint8_t* frame128) override;

 private:
  PS3Adaptor() = default;
  // One request out and its reply in; false with error_ set.
  bool Exchange(const uint8_t* request, int request_bytes, uint8_t* reply, int reply_bytes);
  // Reads the frame once: 1 good, 0 an answer that did not check out, -1 no
  // usable answer at all.
  int ReadOnce(int frame, uint8_t* frame128);

  libusb_context* context_ = nullptr;
  libusb_device_handle* handle_ = nullptr;
  bool claimed_ = false;
  bool detached_ = false;
  int timeout_ms_ = 0;
  std::string path_;
};

}  // namespace travosk::link
