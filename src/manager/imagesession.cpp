#include "manager/imagesession.h"

#include <filesystem>

#include "common/errors.h"
#include "formats/foldercard.h"
#include "manager/foldercardimage.h"
#include "sim/loopback_platform.h"
#include "sim/medium.h"

namespace travosk::manager {

formats::ImageKind OpenableCardImage(const std::string& path) {
  const auto kind = formats::IdentifyImageFile(path);
  if (!kind)
    throw InOutError(path,
                     "not a card image of a known layout: expected a PS2 card of 1 to 64 MB "
                     "(.ps2 .vm2 with 528-byte pages, .mc2 .mcd .bin .vmc with 512-byte pages) "
                     "or a PS1 card (131,072 bytes raw, .gme, .vgs/.mem or .vmp)");
  if (const auto problem = formats::ImageOpenProblem(*kind, std::filesystem::file_size(path));
      !problem.empty())
    throw InOutError(path, problem);
  return *kind;
}

ImageSession::ImageSession(const ImageSessionOptions& options)
    : session_(std::make_unique<sim::LoopbackSession>()) {
  // A session serves commands for as long as the image is open: its clock
  // keeps only the totals of the waits.
  session_->clock.keep_sleeps = false;
  if (!options.card.empty()) {
    std::string card = options.card;
    card_unwritten_ = options.card_unwritten || options.card_listing;
    if (formats::IsFolderCard(card)) {
      folder_ = std::make_unique<FolderCardImage>(card, options.work_folder);
      card = folder_->ImagePath();
    }
    card_kind_ = OpenableCardImage(card);
    const sim::ImageLayout layout{card_kind_->header, card_kind_->spare, card_kind_->read_only,
                                  card_unwritten_, options.card_listing};
    // Medium::Open says why a file is no card image of that kind.
    session_->adapter.InsertCard(sim::Medium::Open(
        card, card_kind_->ps1 ? sim::MediumKind::kPS1 : sim::MediumKind::kPS2, layout));
  }
  if (!options.smartmedia.empty()) {
    sim::ImageLayout layout;
    layout.reading_only = options.smartmedia_unwritten;
    session_->adapter.InsertSmartMedia(
        sim::Medium::Open(options.smartmedia, sim::MediumKind::kSmartMedia, layout));
  }
  manager_ = std::make_unique<TPS2MFMSYS>(session_->link);
  if (options.card_listing) {
    manager_->InitReading();
    return;
  }
  try {
    manager_->InitSystem(options.work_folder);
  } catch (const ConversionError& e) {
    settings_warning_ = e.what();
  } catch (...) {
    // A start cut short (its temporary file refused, say) leaves nothing open.
    manager_->DoneSystem();
    throw;
  }
}

ImageSession::~ImageSession() {
  try {
    Close();
  } catch (const std::exception&) {
    // The folder card's image stays in the work folder (FolderCardImage).
  }
}

void ImageSession::WriteBackFolderCard() {
  if (folder_ && !card_unwritten_ && !closed_) folder_->WriteBack();
}

void ImageSession::Close() {
  if (closed_) return;
  closed_ = true;
  manager_->DoneSystem();
  manager_.reset();
  session_.reset();
  if (folder_ && !card_unwritten_) folder_->WriteBack();
}

link::Link& ImageSession::Link() { return session_->link; }

}  // namespace travosk::manager
