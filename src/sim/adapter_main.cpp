// travosk-adapter: plugs a simulated adapter into the device interface
// directory and serves it until SIGINT or SIGTERM, or creates card images.
//
//   travosk-adapter [--card FILE] [--smartmedia FILE] [--device-root DIR]
//                   [--unplug-after N] [--fail-once-at N] [--silent-after N]
//   travosk-adapter create ps2|ps1|sm4|sm8|sm16|sm32|sm64 FILE [--formatted]
//
// Exit status: 0 success, 1 failure (one line on stderr), 2 usage.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <string>

#include "card/fileaccess.h"
#include "card/formatter.h"
#include "common/errors.h"
#include "link/device_root.h"
#include "manager/newcard.h"
#include "sim/fifo_server.h"
#include "sim/loopback_platform.h"
#include "sim/medium.h"

namespace {

using travosk::InOutError;
using namespace travosk::sim;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A failure of the program's own, reported as one line.
struct Failure {
  std::string text;
};

std::atomic<FifoServer*> g_server{nullptr};
volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
  g_stop = 1;
  if (FifoServer* s = g_server.load()) s->RequestStop();
}

void InstallStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// A card-slot image is a PS1 card when it has exactly a PS1 card's size.
MediumKind CardKindOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw InOutError(path, std::strerror(errno));
  return static_cast<uint64_t>(st.st_size) == kPS1CardBytes ? MediumKind::kPS1 : MediumKind::kPS2;
}

// Faults to inject, each counted in command packets from the start (packets
// are numbered from 0: N packets are served as usual first).
struct Faults {
  std::optional<uint64_t> unplug_after, fail_once_at, silent_after;
};

int Serve(const std::string& card, const std::string& smartmedia, std::string root,
          const Faults& faults) {
  Adapter adapter;
  if (faults.unplug_after) adapter.UnplugAfter(*faults.unplug_after);
  // A FIFO takes every write, so the PC could not see a refused one: the
  // failure lands on the first command from N on that answers.
  if (faults.fail_once_at) adapter.FailOnceAfter(*faults.fail_once_at, true);
  if (faults.silent_after) adapter.SilentAfter(*faults.silent_after);
  if (!card.empty()) adapter.InsertCard(Medium::Open(card, CardKindOf(card)));
  if (!smartmedia.empty())
    adapter.InsertSmartMedia(Medium::Open(smartmedia, MediumKind::kSmartMedia));
  if (root.empty()) root = travosk::link::DeviceRoot();

  InstallStopHandlers();
  FifoServer server(adapter, root);
  g_server.store(&server);
  if (g_stop) server.RequestStop();
  std::cout << server.DevicePath() << std::endl;  // tests and scripts wait for this line
  server.Serve();
  g_server.store(nullptr);
  server.Unplug();
  // The count lets a trial aim a fault at an exact packet of a command.
  std::cerr << "travosk-adapter: " << (adapter.plugged() ? "stopped" : "unplugged") << " after "
            << adapter.counters().transactions << " command packets\n";
  return 0;
}

struct KindSize {
  MediumKind kind;
  int megabytes;
};

void Format(const std::string& path, MediumKind kind) {
  LoopbackSession session;
  const bool sm = kind == MediumKind::kSmartMedia;
  if (sm) {
    session.adapter.InsertSmartMedia(Medium::Open(path, kind));
  } else {
    session.adapter.InsertCard(Medium::Open(path, kind));
  }
  travosk::card::TPSfileaccess access(session.link);
  access.InitDefaults();
  access.Medium = sm ? travosk::Slot::kSmartMedia : travosk::Slot::kCard;
  if (!access.OpenCard()) throw Failure{"the new card was not recognised"};
  if (!travosk::card::FormatFileSystem(access, std::time(nullptr))) {
    throw Failure{"formatting the new card failed"};
  }
}

int Create(const std::string& kind_name, const std::string& path, bool formatted) {
  static const std::map<std::string, KindSize> kKinds = {
      {"ps2", {MediumKind::kPS2, 8}},          {"ps1", {MediumKind::kPS1, 0}},
      {"sm4", {MediumKind::kSmartMedia, 4}},   {"sm8", {MediumKind::kSmartMedia, 8}},
      {"sm16", {MediumKind::kSmartMedia, 16}}, {"sm32", {MediumKind::kSmartMedia, 32}},
      {"sm64", {MediumKind::kSmartMedia, 64}},
  };
  const auto it = kKinds.find(kind_name);
  if (it == kKinds.end()) {
    std::cerr << "travosk-adapter: unknown card kind '" << kind_name
              << "' (ps2, ps1, sm4, sm8, sm16, sm32, sm64)\n";
    return kExitUsage;
  }
  const KindSize ks = it->second;
  if (!formatted) {
    Medium::CreateBlank(path, ks.kind, ks.megabytes);
    return 0;
  }
  if (ks.kind == MediumKind::kPS1) {
    // Replaces a file there, as the blank images do.
    travosk::manager::CreateCardImage(path, travosk::formats::ImageFormat::kPs1Raw, 8, true);
    return 0;
  }
  // Built and formatted beside the target, then renamed into place: an
  // existing image is replaced only by a finished one.
  const std::string partial = path + ".partial-" + std::to_string(::getpid());
  try {
    Medium::CreateBlank(partial, ks.kind, ks.megabytes);
    Format(partial, ks.kind);
    if (::rename(partial.c_str(), path.c_str()) != 0) throw InOutError(path, std::strerror(errno));
  } catch (...) {
    ::unlink(partial.c_str());
    throw;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Plugs in a simulated memory card adapter, or creates card images."};
  std::string card, smartmedia, root;
  app.add_option("--card", card, "card-slot image (131,072 bytes: PS1 card, else PS2 card)");
  app.add_option("--smartmedia", smartmedia, "SmartMedia image");
  app.add_option("--device-root", root, "device root (default: $TRAVOSK_DEVICE_ROOT, ...)");
  Faults faults;
  app.add_option("--unplug-after", faults.unplug_after,
                 "serve N command packets, then unplug (the interface is removed)");
  app.add_option("--fail-once-at", faults.fail_once_at,
                 "refuse once the first command from packet N (from 0) on that answers, "
                 "and go on plugged in");
  app.add_option("--silent-after", faults.silent_after,
                 "serve N command packets, then take everything and answer nothing");

  auto* create = app.add_subcommand("create", "write a blank (erased) card image");
  std::string kind, file;
  bool formatted = false;
  create->add_option("kind", kind, "ps2, ps1, sm4, sm8, sm16, sm32 or sm64")->required();
  create->add_option("file", file, "image file to write")->required();
  create->add_flag("--formatted", formatted, "write an empty file system (a formatted PS1 card for ps1)");
  app.require_subcommand(0, 1);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "travosk-adapter: " << e.what() << "\n" << app.help();
    return kExitUsage;
  }

  try {
    if (create->parsed()) return Create(kind, file, formatted);
    return Serve(card, smartmedia, root, faults);
  } catch (const InOutError& e) {
    std::cerr << "travosk-adapter: " << e.what() << "\n";
  } catch (const Failure& f) {
    std::cerr << "travosk-adapter: " << f.text << "\n";
  } catch (const std::exception& e) {
    std::cerr << "travosk-adapter: " << e.what() << "\n";
  }
  return kExitFailure;
}
