#include "serial/serial_testbed.h"

#include <poll.h>
#include <umockdev.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace travosk::serialtest {

SerialTestbed::SerialTestbed() : testbed_(umockdev_testbed_new()) {
  thread_ = std::thread([this] { Serve(); });
}

SerialTestbed::~SerialTestbed() {
  stop_ = true;
  thread_.join();
  g_object_unref(testbed_);
}

std::string SerialTestbed::Add(sim::ReaderFirmware& firmware, uint16_t vendor, uint16_t product) {
  std::lock_guard lock(mutex_);
  const int n = static_cast<int>(ports_.size());
  const std::string usb = "/devices/pci0000:00/usb1/1-" + std::to_string(n + 1);
  const std::string tty = "ttyUSB" + std::to_string(n);
  char ids[64];
  std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", vendor, product);
  const std::string text = "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" + ids +
                           "A: busnum=1\nA: devnum=" + std::to_string(n + 2) +
                           "\nA: manufacturer=Bridge\nA: product=USB Serial\n\n"
                           "P: " +
                           usb + "/1-" + std::to_string(n + 1) +
                           ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n"
                           "P: " +
                           usb + "/1-" + std::to_string(n + 1) + ":1.0/" + tty + "/tty/" + tty +
                           "\nN: " + tty + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + tty +
                           "\nA: dev=188:" + std::to_string(n) + "\nL: device=../../../" + tty +
                           "\n";
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, text.c_str(), &error)) {
    const std::string message = error ? error->message : "?";
    if (error) g_error_free(error);
    throw std::runtime_error("umockdev_testbed_add_from_string: " + message);
  }
  const std::string path = "/dev/" + tty;
  const int master = umockdev_testbed_get_dev_fd(testbed_, path.c_str());
  if (master < 0) throw std::runtime_error("no pseudo-terminal for " + path);
  ports_.push_back({master, &firmware});
  return path;
}

void SerialTestbed::Serve() {
  while (!stop_) {
    std::vector<pollfd> fds;
    {
      std::lock_guard lock(mutex_);
      for (const Port& p : ports_) fds.push_back({p.master, POLLIN, 0});
    }
    if (fds.empty() || ::poll(fds.data(), fds.size(), 20) <= 0) {
      if (fds.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    bool idle = true;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      uint8_t buffer[512];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) continue;
      idle = false;
      std::vector<uint8_t> reply;
      {
        std::lock_guard lock(mutex_);
        reply = ports_[i].firmware->Receive(buffer, static_cast<size_t>(n));
      }
      for (size_t done = 0; done < reply.size();) {
        const ssize_t w = ::write(fds[i].fd, reply.data() + done, reply.size() - done);
        if (w <= 0) break;
        done += static_cast<size_t>(w);
      }
    }
    // A port nobody holds open hangs up at once on every poll.
    if (idle) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace travosk::serialtest
