#include "link/usb_platform.h"

#include <libusb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

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

struct DeviceUnref {
  void operator()(libusb_device* device) const { libusb_unref_device(device); }
};
using DeviceRef = std::unique_ptr<libusb_device, DeviceUnref>;

struct ConfigFree {
  void operator()(libusb_config_descriptor* config) const { libusb_free_config_descriptor(config); }
};

// The present device at path with the adapter's vendor and product, or null.
DeviceRef Find(libusb_context* context, const std::string& path, uint16_t vendor,
               uint16_t product) {
  for (libusb_device* device : DeviceList(context)) {
    if (Matches(device, vendor, product) && PathOf(device) == path) {
      return DeviceRef(libusb_ref_device(device));
    }
  }
  return nullptr;
}

// A string descriptor of an open device; nullopt when the device has no such
// string (index 0) or does not answer.
std::optional<std::string> StringOf(libusb_device_handle* handle, uint8_t index) {
  if (index == 0) return std::nullopt;
  unsigned char text[256];
  const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
  if (n < 0) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
}

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

void UsbPlatform::ContextExit::operator()(libusb_context* context) const {
  libusb_exit(context);
}

void UsbPlatform::HandleClose::operator()(libusb_device_handle* handle) const {
  libusb_close(handle);
}

// Interface 0 claimed on an open adapter, a kernel driver that held it
// detached. Going, it releases the interface, gives the driver back and
// closes the device; on a device that has gone the first two fail, and
// closing frees the handle anyway.
class UsbPlatform::Claim {
 public:
  explicit Claim(DeviceHandle handle) : handle_(std::move(handle)) {}
  ~Claim() {
    if (claimed_) libusb_release_interface(handle_.get(), kClaimedInterface);
    if (detached_) libusb_attach_kernel_driver(handle_.get(), kClaimedInterface);
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;

  libusb_device_handle* handle() const { return handle_.get(); }

  bool Take() {
    // A kernel driver that took the interface would answer the claim with
    // "busy"; the adapter's pipes are this program's alone.
    if (libusb_kernel_driver_active(handle(), kClaimedInterface) == 1 &&
        libusb_detach_kernel_driver(handle(), kClaimedInterface) == LIBUSB_SUCCESS) {
      detached_ = true;
    }
    claimed_ = libusb_claim_interface(handle(), kClaimedInterface) == LIBUSB_SUCCESS;
    return claimed_;
  }

 private:
  DeviceHandle handle_;
  bool claimed_ = false;
  bool detached_ = false;  // a kernel driver was detached and goes back on release
};

UsbPlatform::UsbPlatform(int pipe_timeout_ms, uint16_t vendor, uint16_t product)
    : pipe_timeout_ms_(pipe_timeout_ms > 0 ? pipe_timeout_ms : DefaultPipeTimeoutMs()),
      vendor_(vendor),
      product_(product) {
  libusb_context* context = nullptr;
  if (libusb_init(&context) == LIBUSB_SUCCESS) context_.reset(context);
}

UsbPlatform::~UsbPlatform() {
  if (hotplug_started_) {
    stopping_ = true;
    libusb_hotplug_deregister_callback(context_.get(), hotplug_handle_);
    libusb_interrupt_event_handler(context_.get());
    if (events_.joinable()) events_.join();
  }
  // The pipes, their claims and then the context go with the members.
}

void UsbPlatform::SetPipeTimeoutMs(int ms) {
  pipe_timeout_ms_ = ms > 0 ? ms : DefaultPipeTimeoutMs();
}

uint32_t UsbPlatform::NodeOf(libusb_device* device) {
  return static_cast<uint32_t>(libusb_get_bus_number(device)) << 8 |
         libusb_get_device_address(device);
}

std::string UsbPlatform::PathOf(libusb_device* device) {
  return link::PathOf(device);
}

std::optional<std::vector<std::string>> UsbPlatform::ListInterfaces() {
  std::vector<std::string> paths;
  for (libusb_device* device : DeviceList(context_.get())) {
    if (!Matches(device, vendor_, product_)) continue;
    paths.push_back(PathOf(device));
  }
  // The bus's own order changes with every plug; path order keeps the scan
  // repeatable.
  std::sort(paths.begin(), paths.end());
  return paths;
}

UsbPlatform::DeviceHandle UsbPlatform::Open(const std::string& path) {
  const DeviceRef device = Find(context_.get(), path, vendor_, product_);
  if (!device) return nullptr;
  libusb_device_handle* handle = nullptr;
  const int rc = libusb_open(device.get(), &handle);
  if (rc == LIBUSB_ERROR_ACCESS) {
    refused_[path] =
        "No permission to open the USB adapter at " + path + ": install the udev rule " +
        kUdevRuleName +
        " (see \"Using a real adapter\" in the README), then plug the adapter in again.";
  } else if (rc == LIBUSB_SUCCESS) {
    refused_.erase(path);
  }
  return DeviceHandle(rc == LIBUSB_SUCCESS ? handle : nullptr);
}

std::optional<HidIdentity> UsbPlatform::Identify(const std::string& path) {
  const DeviceHandle handle = Open(path);
  if (!handle) return std::nullopt;
  HidIdentity identity;
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(libusb_get_device(handle.get()), &descriptor) !=
      LIBUSB_SUCCESS) {
    return identity;
  }
  identity.attributes = {descriptor.idVendor, descriptor.idProduct, descriptor.bcdDevice};
  identity.manufacturer = StringOf(handle.get(), descriptor.iManufacturer);
  identity.product = StringOf(handle.get(), descriptor.iProduct);
  identity.serial_number = StringOf(handle.get(), descriptor.iSerialNumber);
  return identity;
}

std::string UsbPlatform::ReadHardwareKey(uint32_t node) {
  for (libusb_device* device : DeviceList(context_.get())) {
    if (NodeOf(device) != node) continue;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return "";
    std::string instance;
    libusb_device_handle* opened = nullptr;
    if (descriptor.iSerialNumber != 0 && libusb_open(device, &opened) == LIBUSB_SUCCESS) {
      const DeviceHandle handle(opened);
      instance = StringOf(handle.get(), descriptor.iSerialNumber).value_or("");
    }
    if (instance.empty()) instance = PortPath(device);
    char key[32];
    std::snprintf(key, sizeof key, "USB\\VID_%04X&PID_%04X\\", descriptor.idVendor,
                  descriptor.idProduct);
    return key + instance;
  }
  return "";
}

std::shared_ptr<UsbPlatform::Claim> UsbPlatform::ClaimOf(const std::string& path) {
  // Claims whose last pipe has closed are gone already; forget them.
  std::erase_if(claims_, [](const auto& entry) { return entry.second.expired(); });
  if (auto it = claims_.find(path); it != claims_.end()) return it->second.lock();
  DeviceHandle handle = Open(path);
  if (!handle) return nullptr;
  auto claim = std::make_shared<Claim>(std::move(handle));
  if (!claim->Take()) return nullptr;
  claims_[path] = claim;
  return claim;
}

Handle UsbPlatform::OpenPipe(const std::string& pipe_path, PipeEnd end) {
  const auto split = SplitPipePath(pipe_path);
  if (!split) return kInvalidHandle;
  const auto& [path, index] = *split;
  const std::shared_ptr<Claim> claim = ClaimOf(path);
  if (!claim) return kInvalidHandle;

  // The interface's current alternate setting; a device that does not say
  // is in its first.
  uint8_t alternate = 0;
  constexpr uint8_t kGetInterface = 0x81;  // device to host, standard, to an interface
  if (libusb_control_transfer(claim->handle(), kGetInterface, LIBUSB_REQUEST_GET_INTERFACE, 0,
                              kClaimedInterface, &alternate, 1,
                              static_cast<unsigned>(pipe_timeout_ms_)) != 1) {
    alternate = 0;
  }
  std::optional<Pipe> pipe;
  libusb_config_descriptor* active = nullptr;
  if (libusb_get_active_config_descriptor(libusb_get_device(claim->handle()), &active) ==
      LIBUSB_SUCCESS) {
    const std::unique_ptr<libusb_config_descriptor, ConfigFree> config(active);
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
        pipe = Pipe{claim, endpoint.bEndpointAddress, type == LIBUSB_TRANSFER_TYPE_INTERRUPT};
      }
    }
  }
  // Without a pipe the claim goes again, unless another pipe holds it.
  if (!pipe) return kInvalidHandle;
  const Handle h = next_handle_++;
  pipes_[h] = std::move(*pipe);
  return h;
}

void UsbPlatform::ClosePipe(Handle h) {
  // The claim goes with the last pipe that holds it.
  pipes_.erase(h);
}

long UsbPlatform::Transfer(Handle h, uint8_t* data, size_t count, bool in) {
  auto it = pipes_.find(h);
  if (it == pipes_.end() || count > INT_MAX) return -1;
  const Pipe& pipe = it->second;
  const bool pipe_in = (pipe.endpoint & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
  if (pipe_in != in) return -1;
  libusb_device_handle* handle = pipe.claim->handle();
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
  if (hotplug_started_ || !context_ || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    return;
  }
  event_fd_ = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!event_fd_.valid()) return;
  libusb_hotplug_callback_handle handle = 0;
  const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
  if (libusb_hotplug_register_callback(context_.get(), static_cast<libusb_hotplug_event>(events),
                                       LIBUSB_HOTPLUG_NO_FLAGS, vendor_, product_,
                                       LIBUSB_HOTPLUG_MATCH_ANY, &OnHotplug, this,
                                       &handle) != LIBUSB_SUCCESS) {
    event_fd_ = UniqueFd();
    return;
  }
  hotplug_handle_ = handle;
  hotplug_started_ = true;
  events_ = std::thread([this] {
    while (!stopping_) {
      timeval wait{0, 200 * 1000};
      libusb_handle_events_timeout_completed(context_.get(), &wait, nullptr);
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
