// A serial port through libserialport: the ports present with the USB
// identity of their bridge, and one open port with bounded reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sp_port;

namespace travosk::link {

struct SerialPortInfo {
  std::string path;                // "/dev/ttyUSB0"
  std::string description;         // what the system calls it
  std::optional<uint16_t> vendor;  // of its USB bridge, when it has one
  std::optional<uint16_t> product;
};

// Every serial port the system lists, in its order.
std::vector<SerialPortInfo> ListSerialPorts();
// Whether the port's USB bridge is one the serial readers are built with
// (an Arduino's own USB, FTDI, CH340, CP210x, PL2303).
bool IsKnownReaderBridge(const SerialPortInfo& port);

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the port at `baud`, 8 data bits, no parity, one stop bit, no flow
  // control. False, with the reason in Error(), when it cannot be opened.
  bool Open(const std::string& path, int baud);
  void Close();
  bool IsOpen() const { return port_ != nullptr; }
  bool SetBaud(int baud);
  // The modem lines. A bridge without them (or a port that cannot set them)
  // still carries data, so a failure here is only reported, never fatal.
  bool SetDtr(bool on);
  bool SetRts(bool on);
  // Drops whatever the device sent that nobody read.
  void DropInput();
  // The whole buffer, or false.
  bool Write(const uint8_t* data, size_t count);
  // Exactly `count` bytes within timeout_ms, or false (what came is in
  // `got`).
  bool Read(uint8_t* data, size_t count, int timeout_ms, size_t* got = nullptr);
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  sp_port* port_ = nullptr;
  std::string path_;
  std::string error_;
};

}  // namespace travosk::link
