#include "usb_testbed.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <stdexcept>

namespace travosk::usbtest {

// One adapter's side of the emulated kernel. Its Handle runs on umockdev's
// own thread, once per request that libusb makes of the device node.
class EmulatedAdapter {
 public:
  EmulatedAdapter(UsbFunction& adapter, const UsbDeviceSetup& setup, std::string syspath)
      : adapter_(adapter), setup_(setup), syspath_(std::move(syspath)) {}
  ~EmulatedAdapter() {
    for (auto* urb : pending_) g_object_unref(urb);
    for (auto& done : done_) g_object_unref(done);
  }

  const std::string& syspath() const { return syspath_; }
  bool Handle(UMockdevIoctlClient* client);
  void SetFaults(const UsbFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
  }
  std::mutex& mutex() { return mutex_; }
  uint64_t Seen(const std::string& what) {
    std::lock_guard lock(mutex_);
    auto it = seen_.find(what);
    return it == seen_.end() ? 0 : it->second;
  }

 private:
  bool Gone() const { return faults_.gone || !adapter_.plugged(); }
  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  // Answers a control transfer; false when the request is not one we know.
  bool Control(const uint8_t* setup, uint8_t* data, int& length);
  // Completes urb with status and length (and the data phase of an IN).
  void Finish(UMockdevIoctlData* urb_data, int status, const uint8_t* in, int length);
  void ServePendingReads();

  UsbFunction& adapter_;
  UsbDeviceSetup setup_;
  std::string syspath_;
  std::mutex mutex_;
  UsbFaults faults_;
  std::map<std::string, uint64_t> seen_;
  std::deque<UMockdevIoctlData*> pending_;  // IN transfers waiting for a reply
  std::deque<UMockdevIoctlData*> done_;     // transfers ready to be reaped
};

}  // namespace travosk::usbtest

// The GObject subclass of UMockdevIoctlBase that umockdev calls.
extern "C" {
struct TravoskUsbHandler {
  UMockdevIoctlBase parent;
  travosk::usbtest::EmulatedAdapter* owner;
};
struct TravoskUsbHandlerClass {
  UMockdevIoctlBaseClass parent_class;
};
}

G_DEFINE_TYPE(TravoskUsbHandler, travosk_usb_handler, UMOCKDEV_TYPE_IOCTL_BASE)

static gboolean travosk_usb_handler_handle_ioctl(UMockdevIoctlBase* base,
                                                 UMockdevIoctlClient* client) {
  return reinterpret_cast<TravoskUsbHandler*>(base)->owner->Handle(client);
}

static void travosk_usb_handler_class_init(TravoskUsbHandlerClass* klass) {
  reinterpret_cast<UMockdevIoctlBaseClass*>(klass)->handle_ioctl = travosk_usb_handler_handle_ioctl;
}

static void travosk_usb_handler_init(TravoskUsbHandler* self) {
  self->owner = nullptr;
}

namespace travosk::usbtest {
namespace {

constexpr uint32_t kCapabilities = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;

// The first bulk endpoint of the direction: the one its transfers go to.
uint8_t BulkEndpoint(const UsbDeviceSetup& setup, bool in) {
  for (const UsbEndpoint& e : setup.endpoints)
    if (e.type == 2 && ((e.address & 0x80) != 0) == in) return e.address;
  return 0;
}

UMockdevIoctlData* Resolve(UMockdevIoctlData* data, size_t offset, size_t length) {
  GError* error = nullptr;
  UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
  if (error != nullptr) g_error_free(error);
  return child;
}

// The device and configuration descriptors as sysfs shows them.
std::vector<uint8_t> Descriptors(const UsbDeviceSetup& setup) {
  const uint8_t lo_v = setup.vendor & 0xFF, hi_v = setup.vendor >> 8;
  const uint8_t lo_p = setup.product & 0xFF, hi_p = setup.product >> 8;
  const uint8_t lo_d = setup.version & 0xFF, hi_d = setup.version >> 8;
  const auto endpoints = static_cast<uint8_t>(setup.endpoints.size());
  const auto total = static_cast<uint8_t>(9 + 9 + 7 * endpoints);
  std::vector<uint8_t> bytes = {
      // device: USB 2.0, vendor-specific, 64-byte control packets, strings 1..3, one config
      18, 1, 0x00, 0x02, 0xFF, 0, 0, 64, lo_v, hi_v, lo_p, hi_p, lo_d, hi_d, 1, 2, 3, 1,
      // configuration 1: one interface, bus powered 100 mA
      9, 2, total, 0, 1, 1, 0, 0x80, 50,
      // interface 0, setting 0: vendor class
      9, 4, 0, 0, endpoints, 0xFF, 0, 0, 0};
  for (const UsbEndpoint& e : setup.endpoints)
    bytes.insert(bytes.end(),
                 {7, 5, e.address, e.type, static_cast<uint8_t>(e.packet & 0xFF),
                  static_cast<uint8_t>(e.packet >> 8), e.type == 3 ? uint8_t{10} : uint8_t{0}});
  return bytes;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

std::string DevNode(const UsbDeviceSetup& setup) {
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", setup.bus, setup.port);
  return node;
}

}  // namespace

void EmulatedAdapter::Finish(UMockdevIoctlData* urb_data, int status, const uint8_t* in,
                             int length) {
  usbdevfs_urb urb;
  std::memcpy(&urb, urb_data->data, sizeof urb);
  if (in != nullptr && length > 0) {
    // The buffer is the child that Submit resolved; resolving again finds it.
    UMockdevIoctlData* buffer =
        Resolve(urb_data, offsetof(usbdevfs_urb, buffer), static_cast<size_t>(urb.buffer_length));
    if (buffer != nullptr) {
      umockdev_ioctl_data_update(buffer, 0, const_cast<uint8_t*>(in), length);
      g_object_unref(buffer);
    }
  }
  urb.status = status;
  urb.actual_length = length;
  std::memcpy(&urb.buffer, urb_data->data + offsetof(usbdevfs_urb, buffer), sizeof urb.buffer);
  umockdev_ioctl_data_update(urb_data, 0, reinterpret_cast<uint8_t*>(&urb), sizeof urb);
  done_.push_back(urb_data);
}

bool EmulatedAdapter::Control(const uint8_t* setup, uint8_t* data, int& length) {
  const uint8_t request_type = setup[0], request = setup[1];
  const int value = setup[2] | setup[3] << 8;
  const int wanted = setup[6] | setup[7] << 8;
  std::vector<uint8_t> answer;
  if (request_type == 0x80 && request == 6 && (value >> 8) == 3) {  // GET_DESCRIPTOR, string
    const int index = value & 0xFF;
    std::string text;
    if (index == 0) {
      answer = {4, 3, 0x09, 0x04};  // English (United States)
    } else {
      text = index == 1   ? setup_.manufacturer
             : index == 2 ? setup_.product_name
             : index == 3 ? setup_.serial
                          : std::string();
      if (text.empty()) return false;
      answer = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
      for (char c : text) answer.insert(answer.end(), {static_cast<uint8_t>(c), 0});
    }
  } else if (request_type == 0x81 && request == 0x0A) {  // GET_INTERFACE
    answer = {0};
  } else {
    return false;
  }
  length = std::min<int>(wanted, static_cast<int>(answer.size()));
  std::memcpy(data, answer.data(), static_cast<size_t>(length));
  return true;
}

void EmulatedAdapter::ServePendingReads() {
  while (!pending_.empty() && adapter_.HasReply()) {
    UMockdevIoctlData* urb_data = pending_.front();
    pending_.pop_front();
    usbdevfs_urb urb;
    std::memcpy(&urb, urb_data->data, sizeof urb);
    std::vector<uint8_t> reply(static_cast<size_t>(urb.buffer_length));
    const long n = adapter_.Read(reply.data(), reply.size());
    if (n < 0) {
      Finish(urb_data, -EPROTO, nullptr, 0);
    } else {
      Finish(urb_data, 0, reply.data(), static_cast<int>(n));
    }
  }
}

void EmulatedAdapter::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  if (Gone()) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return;
  }
  UMockdevIoctlData* urb_data = Resolve(arg, 0, sizeof(usbdevfs_urb));
  if (urb_data == nullptr) {
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  usbdevfs_urb urb;
  std::memcpy(&urb, urb_data->data, sizeof urb);
  UMockdevIoctlData* buffer = urb.buffer_length > 0
                                  ? Resolve(urb_data, offsetof(usbdevfs_urb, buffer),
                                            static_cast<size_t>(urb.buffer_length))
                                  : nullptr;
  const bool in = (urb.endpoint & 0x80) != 0;
  if (urb.type == USBDEVFS_URB_TYPE_CONTROL) {
    ++seen_["SUBMITURB control"];
    int length = 0;
    std::vector<uint8_t> answer(static_cast<size_t>(std::max(urb.buffer_length, 8)));
    if (buffer != nullptr && urb.buffer_length >= 8 &&
        Control(buffer->data, answer.data(), length) && length <= urb.buffer_length - 8) {
      std::vector<uint8_t> whole(buffer->data, buffer->data + 8);
      whole.insert(whole.end(), answer.begin(), answer.begin() + length);
      umockdev_ioctl_data_update(buffer, 0, whole.data(), static_cast<int>(whole.size()));
      Finish(urb_data, 0, nullptr, length);
    } else {
      Finish(urb_data, -EPIPE, nullptr, 0);  // a request the device does not know stalls
    }
  } else if (urb.type != USBDEVFS_URB_TYPE_BULK) {
    // The served endpoints are bulk ones (Descriptors): the kernel refuses
    // a transfer of another kind on them, and so does the emulation.
    ++seen_["SUBMITURB of the wrong kind"];
    Finish(urb_data, -EINVAL, nullptr, 0);
  } else if (in) {
    ++seen_["SUBMITURB bulk in"];
    if (urb.endpoint != BulkEndpoint(setup_, true)) {
      Finish(urb_data, -EPIPE, nullptr, 0);
    } else if (faults_.stall_next_read) {
      faults_.stall_next_read = false;
      Finish(urb_data, -EPIPE, nullptr, 0);
    } else {
      pending_.push_back(urb_data);
      ServePendingReads();
    }
  } else {
    ++seen_["SUBMITURB bulk out"];
    const long n = urb.endpoint == BulkEndpoint(setup_, false) && buffer != nullptr
                       ? adapter_.Write(buffer->data, static_cast<size_t>(urb.buffer_length))
                       : -1;
    if (n < 0 && !adapter_.plugged()) {
      Finish(urb_data, -ENODEV, nullptr, 0);
    } else if (n < 0) {
      Finish(urb_data, -EPIPE, nullptr, 0);  // the firmware refused the transfer
    } else {
      Finish(urb_data, 0, nullptr, static_cast<int>(n));
    }
    ServePendingReads();
  }
  if (buffer != nullptr) g_object_unref(buffer);
  umockdev_ioctl_client_complete(client, 0, 0);
}

bool EmulatedAdapter::Handle(UMockdevIoctlClient* client) {
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  std::lock_guard lock(mutex_);
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* data = Resolve(arg, 0, sizeof(uint32_t));
      if (data == nullptr) break;
      uint32_t caps = kCapabilities;
      umockdev_ioctl_data_update(data, 0, reinterpret_cast<uint8_t*>(&caps), sizeof caps);
      g_object_unref(data);
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_GETDRIVER:  // no kernel driver holds the interface
      umockdev_ioctl_client_complete(client, -1, ENODATA);
      return true;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
    case USBDEVFS_CLEAR_HALT:
      ++seen_[request == USBDEVFS_CLAIMINTERFACE     ? "CLAIMINTERFACE"
              : request == USBDEVFS_RELEASEINTERFACE ? "RELEASEINTERFACE"
              : request == USBDEVFS_CLEAR_HALT       ? "CLEAR_HALT"
                                                     : "other"];
      if (Gone()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
      } else {
        umockdev_ioctl_client_complete(client, 0, 0);
      }
      return true;
    case USBDEVFS_SUBMITURB:
      Submit(client, arg);
      return true;
    case USBDEVFS_DISCARDURB: {
      ++seen_["DISCARDURB"];
      // The argument is the URB's address in the client.
      gulong address = 0;
      std::memcpy(&address, arg->data, sizeof address);
      for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if ((*it)->client_addr == address) {
          UMockdevIoctlData* urb_data = *it;
          pending_.erase(it);
          Finish(urb_data, -ENOENT, nullptr, 0);
          umockdev_ioctl_client_complete(client, 0, 0);
          return true;
        }
      }
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return true;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
      if (done_.empty()) {
        umockdev_ioctl_client_complete(client, -1, Gone() ? ENODEV : EAGAIN);
        return true;
      }
      UMockdevIoctlData* data = Resolve(arg, 0, sizeof(void*));
      if (data == nullptr) break;
      UMockdevIoctlData* urb_data = done_.front();
      done_.pop_front();
      umockdev_ioctl_data_set_ptr(data, 0, urb_data);
      g_object_unref(urb_data);
      g_object_unref(data);
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    default:
      break;
  }
  umockdev_ioctl_client_complete(client, -1, ENOTTY);
  return true;
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
  if (!umockdev_in_mock_environment()) {
    throw std::runtime_error("the USB tests must run under umockdev's preload");
  }
}

UsbTestbed::~UsbTestbed() {
  // The test bed goes first: its thread stops calling the handlers.
  g_object_unref(testbed_);
  adapters_.clear();
  owned_.clear();
}

std::string UsbTestbed::Root() const {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  std::string text = root;
  g_free(root);
  return text;
}

std::string UsbTestbed::Add(sim::Adapter& adapter, const UsbDeviceSetup& setup) {
  owned_.push_back(std::make_unique<FunctionOf<sim::Adapter>>(adapter));
  return Add(*owned_.back(), setup);
}

std::unique_lock<std::mutex> UsbTestbed::Hold(const std::string& syspath) {
  for (auto& adapter : adapters_)
    if (adapter->syspath() == syspath) return std::unique_lock(adapter->mutex());
  throw std::runtime_error("no emulated device at " + syspath);
}

std::string UsbTestbed::Add(UsbFunction& adapter, const UsbDeviceSetup& setup) {
  char name[32];
  std::snprintf(name, sizeof name, "%d-%d", setup.bus, setup.port);
  const std::string node = DevNode(setup);
  char record[1024];
  std::snprintf(record, sizeof record,
                "P: /devices/%s\n"
                "N: %s\n"
                "E: DEVNAME=%s\n"
                "E: DEVTYPE=usb_device\n"
                "E: SUBSYSTEM=usb\n"
                "E: BUSNUM=%03d\n"
                "E: DEVNUM=%03d\n"
                "A: busnum=%d\n"
                "A: devnum=%d\n"
                "A: speed=480\n"
                "A: bConfigurationValue=1\n"
                "A: idVendor=%04x\n"
                "A: idProduct=%04x\n"
                "A: serial=%s\n",
                name, node.c_str() + 5, node.c_str(), setup.bus, setup.port, setup.bus, setup.port,
                setup.vendor, setup.product, setup.serial.c_str());
  std::string text = std::string(record) + "H: descriptors=" + Hex(Descriptors(setup)) + "\n";
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, text.c_str(), &error)) {
    const std::string message = error != nullptr ? error->message : "?";
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error("umockdev_testbed_add_from_string: " + message);
  }
  const std::string syspath = std::string("/sys/devices/") + name;
  auto emulated = std::make_unique<EmulatedAdapter>(adapter, setup, syspath);
  auto* handler =
      static_cast<TravoskUsbHandler*>(g_object_new(travosk_usb_handler_get_type(), nullptr));
  handler->owner = emulated.get();
  if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(),
                                     reinterpret_cast<UMockdevIoctlBase*>(handler), &error)) {
    const std::string message = error != nullptr ? error->message : "?";
    if (error != nullptr) g_error_free(error);
    g_object_unref(handler);
    throw std::runtime_error("umockdev_testbed_attach_ioctl: " + message);
  }
  g_object_unref(handler);  // the test bed keeps its own reference
  adapters_.push_back(std::move(emulated));
  if (!setup.readable) {
    // Anyone may look at the test bed and hear its events (a listener binds
    // a socket in its root); only root may open the device node.
    namespace fs = std::filesystem;
    const std::string root = Root();
    fs::permissions(root, fs::perms::all);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_directory()) {
        fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
      } else if (entry.is_socket()) {
        fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add);
      } else if (entry.is_regular_file()) {
        fs::permissions(entry.path(), fs::perms::others_read, fs::perm_options::add);
      }
    }
    fs::permissions(root + node, fs::perms::owner_read | fs::perms::owner_write);
  }
  if (setup.announce) umockdev_testbed_uevent(testbed_, syspath.c_str(), "add");
  return syspath;
}

void UsbTestbed::Remove(const std::string& syspath) {
  for (auto& adapter : adapters_) {
    if (adapter->syspath() == syspath) adapter->SetFaults({false, true});
  }
  umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, syspath.c_str());
}

uint64_t UsbTestbed::Seen(const std::string& what) {
  uint64_t total = 0;
  for (auto& adapter : adapters_) total += adapter->Seen(what);
  return total;
}

void UsbTestbed::SetFaults(const std::string& syspath, const UsbFaults& faults) {
  for (auto& adapter : adapters_) {
    if (adapter->syspath() == syspath) adapter->SetFaults(faults);
  }
}

}  // namespace travosk::usbtest
