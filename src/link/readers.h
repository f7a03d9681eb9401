// Finding and opening the PS1 card readers: the PS3 memory card adaptors on
// USB, and the serial ones on the ports the user names or on the ports whose
// USB bridge such boards carry.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/ps1device.h"

namespace travosk::link {

// The PS3 memory card adaptor named "usb:..." (ps3_adaptor.h), or the reader
// on the serial port at `port` (the DexDrive is asked first, then a board of
// the MemCARDuino command set), turned to its card slot `slot` (1 or 2).
// Null, with the reason in `why`.
std::unique_ptr<PS1Device> OpenReader(const std::string& port, std::string& why, int slot = 1);

struct ReaderFound {
  std::string port;
  std::unique_ptr<PS1Device> device;  // null: nothing we know answered
  std::string why;                    // then, why
};

// The readers on the named ports, or (none named) every PS3 memory card
// adaptor plugged in and the readers on every port with a known USB-serial
// bridge. Every port probed is listed.
// Ports in `in_use` (readers the caller has open) are left out: probing one
// would reset a board in the middle of the caller's work.
std::vector<ReaderFound> FindReaders(const std::vector<std::string>& named = {},
                                     const std::vector<std::string>& in_use = {});

}  // namespace travosk::link
