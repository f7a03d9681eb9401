#include "support/card_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "card/formatter.h"

namespace travosk::support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "travosk-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder under " + pattern);
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CardRig::CardRig(CardSetup setup) {
  sim::MediumKind kind = sim::MediumKind::kPS2;
  const char* name = "card.ps2";
  if (setup.media == CardMedia::kPS1) {
    kind = sim::MediumKind::kPS1;
    name = "card.pss";
  } else if (setup.media == CardMedia::kSmartMedia) {
    kind = sim::MediumKind::kSmartMedia;
    name = "smartmedia.bin";
    smartmedia_ = true;
  }

  if (setup.media != CardMedia::kNone) {
    image_path_ = dir.File(name);
    sim::Medium::CreateBlank(image_path_, kind, setup.megabytes);
    auto medium = sim::Medium::Open(image_path_, kind);
    if (smartmedia_) {
      session.adapter.InsertSmartMedia(std::move(medium));
    } else {
      session.adapter.InsertCard(std::move(medium));
    }
  }

  access.Init(dir.path());
  access.Medium = smartmedia_ ? Slot::kSmartMedia : Slot::kCard;
  cache.OpenCache();

  bool file_system = setup.media == CardMedia::kPS2 || setup.media == CardMedia::kSmartMedia;
  if (setup.formatted && file_system) {
    if (!access.OpenCard()) throw std::runtime_error("the fresh card does not answer");
    if (!card::FormatFileSystem(access, kFormatTime)) {
      throw std::runtime_error("formatting the fresh card failed");
    }
    access.CloseCard();
  }
  session.adapter.ResetCounters();
}

CardRig::~CardRig() = default;

sim::Medium& CardRig::medium() {
  sim::Medium* m = smartmedia_ ? session.adapter.smartmedia() : session.adapter.card();
  if (m == nullptr) throw std::runtime_error("no medium in the slot");
  return *m;
}

std::span<uint8_t> CardRig::PageData(uint32_t page) {
  return image().subspan(static_cast<size_t>(page) * sim::kRawPageBytes, 512);
}

std::span<uint8_t> CardRig::PageSpare(uint32_t page) {
  return image().subspan(static_cast<size_t>(page) * sim::kRawPageBytes + 512, 16);
}

std::vector<uint8_t> CardRig::Snapshot() {
  auto bytes = image();
  return {bytes.begin(), bytes.end()};
}

void Replug(sim::LoopbackSession& s) {
  s.adapter.ClearFaults();
  // An adapter that unplugged itself is gone from the platform already; one
  // that went silent is still listed and is replugged all the same.
  s.platform.Unplug(s.adapter);
  s.platform.Plug(s.adapter);
  s.link.FindAdapter();
  (void)s.platform.TakeDeviceEvents();
}

}  // namespace travosk::support
