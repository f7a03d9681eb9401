#include "link/serial_port.h"

#include <libserialport.h>

#include <algorithm>
#include <array>

namespace travosk::link {

namespace {

std::string LastSerialError() {
  char* message = sp_last_error_message();
  std::string text = message ? message : "unknown error";
  sp_free_error_message(message);
  return text;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
  std::vector<SerialPortInfo> ports;
  sp_port** list = nullptr;
  if (sp_list_ports(&list) != SP_OK) return ports;
  for (int i = 0; list[i] != nullptr; ++i) {
    SerialPortInfo info;
    info.path = sp_get_port_name(list[i]);
    if (const char* d = sp_get_port_description(list[i])) info.description = d;
    int vendor = 0, product = 0;
    if (sp_get_port_transport(list[i]) == SP_TRANSPORT_USB &&
        sp_get_port_usb_vid_pid(list[i], &vendor, &product) == SP_OK) {
      info.vendor = static_cast<uint16_t>(vendor);
      info.product = static_cast<uint16_t>(product);
    }
    ports.push_back(std::move(info));
  }
  sp_free_port_list(list);
  return ports;
}

bool IsKnownReaderBridge(const SerialPortInfo& port) {
  if (!port.vendor) return false;
  // Vendors whose USB-serial bridges the readers' boards carry: Arduino,
  // Arduino (second), FTDI, QinHeng (CH340), Silicon Labs (CP210x),
  // Prolific (PL2303), and the USB ports of the Teensy and RP2040 boards.
  constexpr std::array<uint16_t, 8> kVendors = {0x2341, 0x2A03, 0x0403, 0x1A86,
                                                0x10C4, 0x067B, 0x16C0, 0x2E8A};
  return std::find(kVendors.begin(), kVendors.end(), *port.vendor) != kVendors.end();
}

SerialPort::~SerialPort() {
  Close();
}

bool SerialPort::Open(const std::string& path, int baud) {
  Close();
  path_ = path;
  sp_port* port = nullptr;
  if (sp_get_port_by_name(path.c_str(), &port) != SP_OK) {
    error_ = "\"" + path + "\" is not a serial port: " + LastSerialError();
    return false;
  }
  if (sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
    error_ = "\"" + path + "\" cannot be opened: " + LastSerialError();
    sp_free_port(port);
    return false;
  }
  port_ = port;
  if (sp_set_baudrate(port_, baud) != SP_OK || sp_set_bits(port_, 8) != SP_OK ||
      sp_set_parity(port_, SP_PARITY_NONE) != SP_OK || sp_set_stopbits(port_, 1) != SP_OK ||
      sp_set_flowcontrol(port_, SP_FLOWCONTROL_NONE) != SP_OK) {
    error_ = "\"" + path + "\" cannot be set up: " + LastSerialError();
    Close();
    return false;
  }
  return true;
}

void SerialPort::Close() {
  if (!port_) return;
  sp_close(port_);
  sp_free_port(port_);
  port_ = nullptr;
}

bool SerialPort::SetBaud(int baud) {
  return port_ && sp_set_baudrate(port_, baud) == SP_OK;
}

bool SerialPort::SetDtr(bool on) {
  return port_ && sp_set_dtr(port_, on ? SP_DTR_ON : SP_DTR_OFF) == SP_OK;
}

bool SerialPort::SetRts(bool on) {
  return port_ && sp_set_rts(port_, on ? SP_RTS_ON : SP_RTS_OFF) == SP_OK;
}

void SerialPort::DropInput() {
  if (port_) sp_flush(port_, SP_BUF_INPUT);
}

bool SerialPort::Write(const uint8_t* data, size_t count) {
  if (!port_) return false;
  const sp_return r = sp_blocking_write(port_, data, count, 2000);
  if (r != static_cast<sp_return>(count)) {
    error_ = "writing to \"" + path_ + "\" failed";
    return false;
  }
  return true;
}

bool SerialPort::Read(uint8_t* data, size_t count, int timeout_ms, size_t* got) {
  if (got) *got = 0;
  if (!port_) return false;
  const sp_return r = sp_blocking_read(port_, data, count, static_cast<unsigned>(timeout_ms));
  if (r < 0) {
    error_ = "reading from \"" + path_ + "\" failed: " + LastSerialError();
    return false;
  }
  if (got) *got = static_cast<size_t>(r);
  if (static_cast<size_t>(r) != count) {
    error_ = "\"" + path_ + "\" stopped answering";
    return false;
  }
  return true;
}

}  // namespace travosk::link
