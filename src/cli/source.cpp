#include "cli/source.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "common/errors.h"
#include "formats/foldercard.h"
#include "link/combined_platform.h"
#include "link/readers.h"

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

Source::Source(const SourceOptions& options) : close_error_(options.close_error) {
  const auto wait = link::LockWait();
  const bool images = !options.image.empty() || !options.sm_image.empty();
  const std::string work_folder =
      options.workdir.empty() ? DefaultWorkFolder() : PrivateFolder(options.workdir);
  if (!options.reader.empty()) {
    // The reader alone: no adapter is looked for. Its port is held like an
    // adapter's device for the whole command.
    locks_.push_back(link::CardLock::OnDevice(options.reader, wait));
    std::string why;
    auto reader = link::OpenReader(options.reader, why, options.reader_slot);
    if (!reader) throw InOutError(options.reader, why);
    reader_ = std::make_unique<manager::ReaderSession>(std::move(reader), work_folder);
  } else if (images) {
    for (const std::string* image : {&options.image, &options.sm_image})
      if (!image->empty()) locks_.push_back(link::CardLock::OnImage(*image, wait));
  } else {
    platform_ = link::MakePlatform();
    clock_ = std::make_unique<link::SystemClock>();
    owned_link_ = std::make_unique<link::Link>(*platform_, *clock_);
    owned_link_->FindAdapter();
    if (!owned_link_->DevicePath().empty()) {
      locks_.push_back(link::CardLock::OnDevice(owned_link_->DevicePath(), wait));
      // Pipes opened while another program held the adapter (a USB
      // interface it had claimed, say) are opened again now it is ours.
      owned_link_->OpenPipes();
    }
  }
  if (reader_) {
    settings_warning_ = reader_->SettingsWarning();
    link_ = &reader_->Link();
    manager_ = &reader_->Manager();
  } else if (images) {
    manager::ImageSessionOptions opening;
    opening.card = options.image;
    opening.smartmedia = options.sm_image;
    opening.card_unwritten = !options.image.empty() && KeptUnwritten(options, options.image);
    opening.smartmedia_unwritten =
        !options.sm_image.empty() && KeptUnwritten(options, options.sm_image);
    opening.work_folder = work_folder;
    images_ = std::make_unique<manager::ImageSession>(opening);
    folder_card_ = !options.image.empty() && formats::IsFolderCard(options.image);
    if (const auto& kind = images_->CardKind()) {
      image_format_ = kind->format;
      read_only_ = kind->read_only;
    }
    only_reads_ = opening.card_unwritten || opening.smartmedia_unwritten;
    settings_warning_ = images_->SettingsWarning();
    link_ = &images_->Link();
    manager_ = &images_->Manager();
  } else {
    link_ = owned_link_.get();
    owned_manager_ = std::make_unique<manager::TPS2MFMSYS>(*link_);
    manager_ = owned_manager_.get();
    try {
      manager_->InitSystem(work_folder);
    } catch (const ConversionError& e) {
      settings_warning_ = e.what();
    }
  }
  const bool smartmedia =
      options.slot == "smartmedia" || (options.image.empty() && !options.sm_image.empty());
  manager_->Access().Medium = smartmedia ? Slot::kSmartMedia : Slot::kCard;
}

std::string Source::ImageLayoutName() const {
  if (folder_card_) return "folder card";
  return image_format_ ? std::string(formats::ImageFormatName(*image_format_)) : std::string();
}

Source::~Source() {
  if (owned_manager_) owned_manager_->DoneSystem();
  if (!images_) return;
  try {
    images_->Close();
  } catch (const std::exception& e) {
    if (close_error_) *close_error_ = e.what();
  }
}

}  // namespace travosk::cli
