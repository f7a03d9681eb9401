#include "link/usb_platform.h"

#include <libusb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

#include "link/linux_platform.h"

namespace travosk::link {
namespace {

constexpr int kClaimedInterface = 0;
constexpr const char* kPathPrefix = "usb:";
constexpr const char* kPipePrefix = "PIPE";

// "1-2.3": the bus, then the port numbers from the root hub down; a device
// whose ports libusb cannot tell is named by bus and address instead.
std::string PortPath(libusb_device* device) {
  uint8_t ports[8];
  const int count = libusb_get_port_numbers(device, ports, sizeof ports);
  std::string text = std::to_string(libusb_get_bus_number(device));
  if (count <= 0) return text + ":" + std::to_string(libusb_get_device_address(device));
  for (int i = 0; i < count; ++i) {
    // Appended in two steps: GCC 12 at -O3 warns falsely on a temporary
    // string built from a literal and another temporary.
    text += i == 0 ? '-' : '.';
    text += std::to_string(ports[i]);
  }
  return text;
}

std::string PathOf(libusb_device* device) {
  return kPathPrefix + PortPath(device);
}

bool Matches(libusb_device* device, uint16_t vendor, uint16_t product) {
  libusb_device_descriptor descriptor{};
  return libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
         descriptor.idVendor == vendor && descriptor.idProduct == product;
}

// The device list, released however the caller's loop ends.
class DeviceList {
 public:
  explicit DeviceList(libusb_context* context) {
    if (context == nullptr) return;
    const ssize_t n = libusb_get_device_list(context, &list_);
    count_ = n > 0 ? static_cast<size_t>(n) : 0;
  }
  ~DeviceList() {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  libusb_device** begin() const { return list_; }
  libusb_device** end() const { return list_ + count_; }

 private:
  libusb_device** list_ = nullptr;
  size_t count_ = 0;
};

// "<device path>/PIPE0n" -> device path and n; nullopt for any other name.
std::optional<std::pair<std::string, int>> SplitPipePath(const std::string& pipe_path) {
  const size_t slash = pipe_path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  const std::string name = pipe_path.substr(slash + 1);
  const std::string prefix = kPipePrefix;
  if (name.size() != prefix.size() + 2 || name.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  const char tens = name[prefix.size()], ones = name[prefix.size() + 1];
  if (tens < '0' || tens > '9' || ones < '0' || ones > '9') return std::nullopt;
  return std::make_pair(pipe_path.substr(0, slash), (tens - '0') * 10 + (ones - '0'));
}

int OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* self) {
  static_cast<UsbPlatform*>(self)->NoteHotplug(UsbPlatform::NodeOf(device),
                                               event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
  return 0;  // stay registered
}

}  // namespace

UsbPlatform::UsbPlatform(int pipe_timeout_ms, uint16_t vendor, uint16_t product)
    : pipe_timeout_ms_(pipe_timeout_ms > 0 ? pipe_timeout_ms : DefaultPipeTimeoutMs()),
      vendor_(vendor),
      product_(product) {
  if (libusb_init(&context_) != LIBUSB_SUCCESS) context_ = nullptr;
}

UsbPlatform::~UsbPlatform() {
  if (hotplug_started_) {
    stopping_ = true;
    libusb_hotplug_deregister_callback(context_, hotplug_handle_);
    libusb_interrupt_event_handler(context_);
    if (events_.joinable()) events_.join();
  }
  for (auto& [h, pipe] : pipes_) Release(pipe.path);
  pipes_.clear();
  for (auto& [h, device] : devices_) libusb_close(device.handle);
  devices_.clear();
  if (context_ != nullptr) libusb_exit(context_);
}

void UsbPlatform::SetPipeTimeoutMs(int ms) {
  pipe_timeout_ms_ = ms > 0 ? ms : DefaultPipeTimeoutMs();
}

uint32_t UsbPlatform::NodeOf(libusb_device* device) {
  return static_cast<uint32_t>(libusb_get_bus_number(device)) << 8 |
         libusb_get_device_address(device);
}

std::optional<std::vector<std::string>> UsbPlatform::ListInterfaces() {
  std::vector<std::string> paths;
  for (libusb_device* device : DeviceList(context_)) {
    if (!Matches(device, vendor_, product_)) continue;
    paths.push_back(PathOf(device));
  }
  // The bus's own order changes with every plug; path order keeps the scan
  // repeatable.
  std::sort(paths.begin(), paths.end());
  return paths;
}

libusb_device* UsbPlatform::Find(const std::string& path) {
  for (libusb_device* device : DeviceList(context_)) {
    if (Matches(device, vendor_, product_) && PathOf(device) == path) {
      return libusb_ref_device(device);
    }
  }
  return nullptr;
}

libusb_device_handle* UsbPlatform::Open(const std::string& path) {
  libusb_device* device = Find(path);
  if (device == nullptr) return nullptr;
  libusb_device_handle* handle = nullptr;
  const int rc = libusb_open(device, &handle);
  libusb_unref_device(device);
  if (rc == LIBUSB_ERROR_ACCESS) {
    refused_[path] =
        "No permission to open the USB adapter at " + path + ": install the udev rule " +
        kUdevRuleName +
        " (see \"Using a real adapter\" in the README), then plug the adapter in again.";
  } else if (rc == LIBUSB_SUCCESS) {
    refused_.erase(path);
  }
  return rc == LIBUSB_SUCCESS ? handle : nullptr;
}

Handle UsbPlatform::OpenDevice(const std::string& path) {
  libusb_device_handle* handle = Open(path);
  if (handle == nullptr) return kInvalidHandle;
  const Handle h = next_handle_++;
  devices_[h] = Opened{handle, path};
  return h;
}

void UsbPlatform::CloseDevice(Handle h) {
  auto it = devices_.find(h);
  if (it == devices_.end()) return;
  libusb_close(it->second.handle);
  devices_.erase(it);
}

const UsbPlatform::Opened* UsbPlatform::Device(Handle h) const {
  auto it = devices_.find(h);
  return it == devices_.end() ? nullptr : &it->second;
}

bool UsbPlatform::GetAttributes(Handle h, HidAttributes& out) {
  const Opened* device = Device(h);
  libusb_device_descriptor descriptor{};
  if (device == nullptr || libusb_get_device_descriptor(libusb_get_device(device->handle),
                                                        &descriptor) != LIBUSB_SUCCESS) {
    return false;
  }
  out.vendor = descriptor.idVendor;
  out.product = descriptor.idProduct;
  out.version = descriptor.bcdDevice;
  return true;
}

// which: 0 manufacturer, 1 product, 2 serial number.
bool UsbPlatform::StringOf(Handle h, int which, std::string& out) {
  const Opened* device = Device(h);
  libusb_device_descriptor descriptor{};
  if (device == nullptr || libusb_get_device_descriptor(libusb_get_device(device->handle),
                                                        &descriptor) != LIBUSB_SUCCESS) {
    return false;
  }
  const uint8_t index = which == 0   ? descriptor.iManufacturer
                        : which == 1 ? descriptor.iProduct
                                     : descriptor.iSerialNumber;
  if (index == 0) return false;  // the device has no such string
  unsigned char text[256];
  const int n = libusb_get_string_descriptor_ascii(device->handle, index, text, sizeof text);
  if (n < 0) return false;
  out.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
  return true;
}

bool UsbPlatform::GetManufacturerString(Handle h, std::string& out) {
  return StringOf(h, 0, out);
}

bool UsbPlatform::GetProductString(Handle h, std::string& out) {
  return StringOf(h, 1, out);
}

bool UsbPlatform::GetSerialNumberString(Handle h, std::string& out) {
  return StringOf(h, 2, out);
}

// The adapter is no HID device: it has neither a physical descriptor nor
// feature reports.
bool UsbPlatform::GetPhysicalDescriptor(Handle, std::array<uint8_t, 256>&) {
  return false;
}

bool UsbPlatform::GetFeature(Handle, std::array<uint8_t, 256>&) {
  return false;
}

std::string UsbPlatform::ReadHardwareKey(uint32_t node) {
  for (libusb_device* device : DeviceList(context_)) {
    if (NodeOf(device) != node) continue;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return "";
    std::string instance;
    libusb_device_handle* handle = nullptr;
    if (descriptor.iSerialNumber != 0 && libusb_open(device, &handle) == LIBUSB_SUCCESS) {
      unsigned char text[256];
      const int n =
          libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text);
      if (n > 0) instance.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
      libusb_close(handle);
    }
    if (instance.empty()) instance = PortPath(device);
    char key[32];
    std::snprintf(key, sizeof key, "USB\\VID_%04X&PID_%04X\\", descriptor.idVendor,
                  descriptor.idProduct);
    return key + instance;
  }
  return "";
}

Handle UsbPlatform::OpenPipe(const std::string& pipe_path, PipeEnd end) {
  const auto split = SplitPipePath(pipe_path);
  if (!split) return kInvalidHandle;
  const auto& [path, index] = *split;
  Claim& claim = claims_[path];
  if (claim.users == 0) {
    claim.handle = Open(path);
    if (claim.handle == nullptr) {
      claims_.erase(path);
      return kInvalidHandle;
    }
    // A kernel driver that took the interface would answer the claim with
    // "busy"; the adapter's pipes are this program's alone.
    if (libusb_kernel_driver_active(claim.handle, kClaimedInterface) == 1 &&
        libusb_detach_kernel_driver(claim.handle, kClaimedInterface) == LIBUSB_SUCCESS) {
      claim.detached = true;
    }
    if (libusb_claim_interface(claim.handle, kClaimedInterface) != LIBUSB_SUCCESS) {
      if (claim.detached) libusb_attach_kernel_driver(claim.handle, kClaimedInterface);
      libusb_close(claim.handle);
      claims_.erase(path);
      return kInvalidHandle;
    }
  }
  ++claim.users;

  // The interface's current alternate setting; a device that does not say
  // is in its first.
  uint8_t alternate = 0;
  constexpr uint8_t kGetInterface = 0x81;  // device to host, standard, to an interface
  if (libusb_control_transfer(claim.handle, kGetInterface, LIBUSB_REQUEST_GET_INTERFACE, 0,
                              kClaimedInterface, &alternate, 1,
                              static_cast<unsigned>(pipe_timeout_ms_)) != 1) {
    alternate = 0;
  }
  std::optional<Pipe> pipe;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(libusb_get_device(claim.handle), &config) ==
      LIBUSB_SUCCESS) {
    for (int i = 0; i < config->bNumInterfaces && !pipe; ++i) {
      const libusb_interface& interface = config->interface[i];
      for (int a = 0; a < interface.num_altsetting && !pipe; ++a) {
        const libusb_interface_descriptor& setting = interface.altsetting[a];
        if (setting.bInterfaceNumber != kClaimedInterface ||
            setting.bAlternateSetting != alternate || index >= setting.bNumEndpoints) {
          continue;
        }
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[index];
        const bool in =
            (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
        const int type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
        if (in != (end == PipeEnd::kRead) ||
            (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT)) {
          break;
        }
        pipe = Pipe{path, endpoint.bEndpointAddress, type == LIBUSB_TRANSFER_TYPE_INTERRUPT};
      }
    }
    libusb_free_config_descriptor(config);
  }
  if (!pipe) {
    Release(path);
    return kInvalidHandle;
  }
  const Handle h = next_handle_++;
  pipes_[h] = *pipe;
  return h;
}

void UsbPlatform::Release(const std::string& path) {
  auto it = claims_.find(path);
  if (it == claims_.end() || --it->second.users > 0) return;
  // On a device that has gone these fail; closing frees the handle anyway.
  libusb_release_interface(it->second.handle, kClaimedInterface);
  if (it->second.detached) libusb_attach_kernel_driver(it->second.handle, kClaimedInterface);
  libusb_close(it->second.handle);
  claims_.erase(it);
}

void UsbPlatform::ClosePipe(Handle h) {
  auto it = pipes_.find(h);
  if (it == pipes_.end()) return;
  const std::string path = it->second.path;
  pipes_.erase(it);
  Release(path);
}

long UsbPlatform::Transfer(Handle h, uint8_t* data, size_t count, bool in) {
  auto it = pipes_.find(h);
  if (it == pipes_.end() || count > INT_MAX) return -1;
  const Pipe& pipe = it->second;
  const bool pipe_in = (pipe.endpoint & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
  if (pipe_in != in) return -1;
  libusb_device_handle* handle = claims_.at(pipe.path).handle;
  int moved = 0;
  const auto timeout = static_cast<unsigned>(pipe_timeout_ms_);
  const int rc = pipe.interrupt
                     ? libusb_interrupt_transfer(handle, pipe.endpoint, data,
                                                 static_cast<int>(count), &moved, timeout)
                     : libusb_bulk_transfer(handle, pipe.endpoint, data, static_cast<int>(count),
                                            &moved, timeout);
  // A stalled endpoint stays stalled until the host clears it; the transfer
  // has failed either way, but the next one gets a fresh start.
  if (rc == LIBUSB_ERROR_PIPE) libusb_clear_halt(handle, pipe.endpoint);
  if (rc != LIBUSB_SUCCESS) return -1;
  return moved;
}

long UsbPlatform::WritePipe(Handle h, const uint8_t* data, size_t count) {
  // An OUT transfer only reads the buffer.
  return Transfer(h, const_cast<uint8_t*>(data), count, false);
}

long UsbPlatform::ReadPipe(Handle h, uint8_t* data, size_t count) {
  return Transfer(h, data, count, true);
}

void UsbPlatform::NoteHotplug(uint32_t node, bool arrived) {
  {
    std::lock_guard lock(mutex_);
    changes_.push_back({arrived, node});
  }
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(event_fd_.get(), &one, sizeof one);
}

void UsbPlatform::StartHotplug() {
  if (hotplug_started_ || context_ == nullptr || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    return;
  }
  event_fd_ = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!event_fd_.valid()) return;
  libusb_hotplug_callback_handle handle = 0;
  const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
  if (libusb_hotplug_register_callback(
          context_, static_cast<libusb_hotplug_event>(events), LIBUSB_HOTPLUG_NO_FLAGS, vendor_,
          product_, LIBUSB_HOTPLUG_MATCH_ANY, &OnHotplug, this, &handle) != LIBUSB_SUCCESS) {
    event_fd_ = UniqueFd();
    return;
  }
  hotplug_handle_ = handle;
  hotplug_started_ = true;
  events_ = std::thread([this] {
    while (!stopping_) {
      timeval wait{0, 200 * 1000};
      libusb_handle_events_timeout_completed(context_, &wait, nullptr);
    }
  });
}

int UsbPlatform::NotificationDescriptor() {
  StartHotplug();
  return event_fd_.valid() ? event_fd_.get() : -1;
}

std::vector<DeviceEvent> UsbPlatform::TakeDeviceEvents() {
  if (!event_fd_.valid()) return {};
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(event_fd_.get(), &count, sizeof count);
  std::lock_guard lock(mutex_);
  return std::exchange(changes_, {});
}

}  // namespace travosk::link
