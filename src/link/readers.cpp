#include "link/readers.h"

#include <algorithm>

#include "link/ps3_adaptor.h"
#include "link/serial_port.h"
#include "link/serial_readers.h"

namespace travosk::link {

namespace {

std::unique_ptr<PS1Device> OpenOn(const std::string& port, std::string& why) {
  if (PS3Adaptor::Names(port)) return PS3Adaptor::Open(port, why);
  // A DexDrive answers its wake-up at once, where a MemCARDuino board first
  // sits out its reset: the drive is asked first, so that neither kind waits
  // long for the other.
  std::string dex_why;
  if (auto drive = DexDrive::Probe(port, dex_why)) return drive;
  if (dex_why.find("no DexDrive") != 0) {
    why = dex_why;  // the port itself failed
    return nullptr;
  }
  std::string duino_why;
  if (auto reader = DuinoReader::Probe(port, duino_why)) return reader;
  why = duino_why.find("no MemCARDuino") == 0
            ? "no PS1 card reader answers on \"" + port +
                  "\" (tried DexDrive, MemCARDuino and PS1CardLink)"
            : duino_why;
  return nullptr;
}

}  // namespace

std::unique_ptr<PS1Device> OpenReader(const std::string& port, std::string& why, int slot) {
  auto device = OpenOn(port, why);
  if (device && !device->ChooseSlot(slot)) {
    why = device->LastError();
    return nullptr;
  }
  return device;
}

std::vector<ReaderFound> FindReaders(const std::vector<std::string>& named,
                                     const std::vector<std::string>& in_use) {
  std::vector<std::string> ports = named;
  if (ports.empty()) {
    ports = PS3Adaptor::List();
    for (const SerialPortInfo& port : ListSerialPorts())
      if (IsKnownReaderBridge(port)) ports.push_back(port.path);
  }
  std::vector<ReaderFound> found;
  for (const std::string& port : ports) {
    if (std::find(in_use.begin(), in_use.end(), port) != in_use.end()) continue;
    ReaderFound f;
    f.port = port;
    f.device = OpenReader(port, f.why);
    found.push_back(std::move(f));
  }
  return found;
}

}  // namespace travosk::link
