// bench_readers: the bytes on the wire of a whole-card read and write through
// each PS1 card reader, against the floor: one request and one reply per
// frame, nothing else. Each serial reader is its board's firmware behind an
// emulated USB-serial bridge (tests/serial), the PS3 memory card adaptor its
// firmware behind the adaptor's USB descriptors (tests/usb), where the floor
// is one USB round trip per frame; the command line does the work as a user
// runs it, probe and slot check included. Prints a markdown table.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/run_cli.h"
#include "manager/ps1card.h"
#include "serial/preload.h"
#include "serial/serial_testbed.h"
#include "sim/ps1readers.h"
#include "sim/ps3adaptor.h"
#include "usb/usb_testbed.h"

namespace travosk::bench {
namespace {

namespace fs = std::filesystem;

struct Reader {
  sim::ReaderKind kind;
  const char* name;
  int baud;  // 0: the PS3 memory card adaptor, on USB
  int read_request, read_reply, write_request, write_reply;  // bytes per frame
};

constexpr Reader kReaders[] = {
    {sim::ReaderKind::kMemCARDuino, "MemCARDuino", 115200, 3, 130, 132, 1},
    {sim::ReaderKind::kPS1CardLink, "PS1CardLink", 115200, 3, 130, 132, 1},
    {sim::ReaderKind::kDexDrive, "DexDrive", 38400, 6, 133, 137, 4},
    {sim::ReaderKind::kMemCARDuino, "PS3 memory card adaptor", 0, 144, 144, 142, 142},
};

// Bytes in and out of a firmware, counted as it serves.
struct Counted {
  uint64_t* in;
  uint64_t* out;
};

// Seconds the bytes take at the baud rate: ten bits a byte (start, eight
// data, stop).
double Seconds(uint64_t bytes, int baud) {
  return static_cast<double>(bytes) * 10 / baud;
}

int Main() {
  const fs::path dir =
      fs::temp_directory_path() / ("travosk-bench-readers-" + std::to_string(::getpid()));
  fs::create_directories(dir / "devices");
  ::setenv("TRAVOSK_DEVICE_ROOT", (dir / "devices").c_str(), 1);
  const std::string work = (dir / "work").string();
  std::vector<uint8_t> image = manager::FormattedPS1Card();
  for (size_t i = 8192; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  {
    std::ofstream out(dir / "card.mcr", std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
  }
  std::printf("### PS1 card readers: bytes on the wire per whole card\n\n");
  std::printf(
      "Whole-card read (`ps1 dump`) and write (`ps1 write`) through each emulated reader, "
      "probe and slot check included, against the floor of one request and one reply "
      "per frame (for the PS3 memory card adaptor one USB round trip per frame); time at "
      "the reader's baud rate, ten bits a byte.\n\n");
  std::printf(
      "| Reader | Baud | Read: bytes | floor | over | s at baud | Write: bytes | floor | "
      "over | s at baud |\n|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  int over_limit = 0;
  for (const Reader& r : kReaders) {
    std::vector<uint8_t> card = manager::FormattedPS1Card();
    sim::ReaderFirmware firmware(r.kind, &card);
    sim::AdaptorFirmware adaptor(sim::AdaptorCard::kPS1, &card);
    usbtest::FunctionOf<sim::AdaptorFirmware> function(adaptor);
    std::unique_ptr<serialtest::SerialTestbed> serial;
    std::unique_ptr<usbtest::UsbTestbed> usb;
    std::string port, syspath;
    Counted counted{&firmware.bytes_in, &firmware.bytes_out};
    if (r.baud > 0) {
      serial = std::make_unique<serialtest::SerialTestbed>();
      port = serial->Add(firmware);
    } else {
      usb = std::make_unique<usbtest::UsbTestbed>();
      usbtest::UsbDeviceSetup setup;
      setup.vendor = sim::kPS3AdaptorVendor;
      setup.product = sim::kPS3AdaptorProduct;
      setup.endpoints = {{0x81, 2, 64}, {0x02, 2, 64}};
      syspath = usb->Add(function, setup);
      port = "usb:054c:02ea";
      counted = {&adaptor.bytes_in, &adaptor.bytes_out};
    }
    // The firmware's counters are read and reset while it does not serve.
    auto hold = [&] {
      return serial ? std::unique_lock(serial->mutex()) : usb->Hold(syspath);
    };
    auto measure = [&](std::vector<std::string> args) {
      {
        auto held = hold();
        *counted.in = *counted.out = 0;
      }
      const auto result = testing::RunCli(args, work);
      if (result.code != 0) std::fprintf(stderr, "%s: %s", r.name, result.err.c_str());
      auto held = hold();
      return result.code == 0 ? *counted.in + *counted.out : 0;
    };
    const uint64_t read = measure({"--reader", port, "ps1", "dump", (dir / "out.mcr").string()});
    const uint64_t write =
        measure({"--reader", port, "--yes", "ps1", "write", (dir / "card.mcr").string()});
    const uint64_t read_floor = 1024ull * (r.read_request + r.read_reply);
    const uint64_t write_floor = 1024ull * (r.write_request + r.write_reply);
    const double read_over = 100.0 * (static_cast<double>(read) / read_floor - 1);
    const double write_over = 100.0 * (static_cast<double>(write) / write_floor - 1);
    if (read == 0 || write == 0 || read_over > 10 || write_over > 10) ++over_limit;
    if (r.baud == 0) {
      std::printf("| %s | USB | %llu | %llu | %.1f %% | - | %llu | %llu | %.1f %% | - |\n", r.name,
                  static_cast<unsigned long long>(read),
                  static_cast<unsigned long long>(read_floor), read_over,
                  static_cast<unsigned long long>(write),
                  static_cast<unsigned long long>(write_floor), write_over);
      continue;
    }
    std::printf("| %s | %d | %llu | %llu | %.1f %% | %.1f | %llu | %llu | %.1f %% | %.1f |\n",
                r.name, r.baud, static_cast<unsigned long long>(read),
                static_cast<unsigned long long>(read_floor), read_over, Seconds(read, r.baud),
                static_cast<unsigned long long>(write),
                static_cast<unsigned long long>(write_floor), write_over, Seconds(write, r.baud));
  }
  std::printf("\n%d of %zu readers are over the floor by more than 10 %%.\n\n", over_limit,
              std::size(kReaders));
  fs::remove_all(dir);
  return over_limit == 0 ? 0 : 1;
}

}  // namespace
}  // namespace travosk::bench

int main(int, char** argv) {
  travosk::serialtest::RunUnderUmockdev(argv);
  return travosk::bench::Main();
}
