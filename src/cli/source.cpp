#include "cli/source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "common/errors.h"
#include "formats/images.h"
#include "link/combined_platform.h"
#include "sim/medium.h"

namespace travosk::cli {

namespace {

std::string PrivateFolder(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw InOutError(folder, ec.message());
  return folder;
}

// A command that only reads opens an image it may not write without write
// access; one it may write is opened as usual, so that what a mount mends
// (an interrupted rewrite) reaches the file.
bool KeptUnwritten(const SourceOptions& options, const std::string& path) {
  return options.only_reads && ::access(path.c_str(), W_OK) != 0;
}

}  // namespace

std::string DefaultWorkFolder() {
  std::string folder;
  if (const char* home = std::getenv("TRAVOSK_HOME"); home && *home) {
    folder = home;
  } else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
    folder = std::string(data) + "/travosk";
  } else if (const char* user = std::getenv("HOME"); user && *user) {
    folder = std::string(user) + "/.local/share/travosk";
  } else {
    folder = "/tmp/travosk-" + std::to_string(::getuid()) + "-work";
  }
  PrivateFolder(folder);
  ::chmod(folder.c_str(), 0700);
  return folder;
}

Source::Source(const SourceOptions& options) {
  const auto wait = link::LockWait();
  if (!options.image.empty() || !options.sm_image.empty()) {
    for (const std::string* image : {&options.image, &options.sm_image})
      if (!image->empty()) locks_.push_back(link::CardLock::OnImage(*image, wait));
    session_ = std::make_unique<sim::LoopbackSession>();
    if (!options.image.empty()) {
      const auto image = formats::IdentifyImageFile(options.image);
      if (!image) throw InOutError(options.image, "not a PS2 or PS1 card image of a known layout");
      if (const auto problem =
              formats::ImageOpenProblem(*image, std::filesystem::file_size(options.image));
          !problem.empty())
        throw InOutError(options.image, problem);
      image_format_ = image->format;
      read_only_ = image->read_only;
      const sim::ImageLayout layout{image->header, image->spare, image->read_only,
                                    KeptUnwritten(options, options.image)};
      session_->adapter.InsertCard(sim::Medium::Open(
          options.image, image->ps1 ? sim::MediumKind::kPS1 : sim::MediumKind::kPS2, layout));
    }
    if (!options.sm_image.empty()) {
      sim::ImageLayout layout;
      layout.reading_only = KeptUnwritten(options, options.sm_image);
      session_->adapter.InsertSmartMedia(
          sim::Medium::Open(options.sm_image, sim::MediumKind::kSmartMedia, layout));
    }
    only_reads_ = (!options.image.empty() && KeptUnwritten(options, options.image)) ||
                  (!options.sm_image.empty() && KeptUnwritten(options, options.sm_image));
    link_ = &session_->link;
  } else {
    platform_ = link::MakePlatform();
    clock_ = std::make_unique<link::SystemClock>();
    owned_link_ = std::make_unique<link::Link>(*platform_, *clock_);
    link_ = owned_link_.get();
    link_->FindAdapter();
    if (!link_->DevicePath().empty()) {
      locks_.push_back(link::CardLock::OnDevice(link_->DevicePath(), wait));
      // Pipes opened while another program held the adapter (a USB
      // interface it had claimed, say) are opened again now it is ours.
      link_->OpenPipes();
    }
  }
  manager_ = std::make_unique<manager::TPS2MFMSYS>(*link_);
  try {
    manager_->InitSystem(options.workdir.empty() ? DefaultWorkFolder()
                                                : PrivateFolder(options.workdir));
  } catch (const ConversionError& e) {
    settings_warning_ = e.what();
  }
  const bool smartmedia =
      options.slot == "smartmedia" || (options.image.empty() && !options.sm_image.empty());
  manager_->Access().Medium = smartmedia ? Slot::kSmartMedia : Slot::kCard;
}

Source::~Source() {
  if (manager_) manager_->DoneSystem();
}

}  // namespace travosk::cli
