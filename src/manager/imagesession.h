// Card images opened as cards. The image layer tells a file's layout, a
// layout that cannot be a card is refused with its reason, and the image goes
// into a slot of an in-process simulated adapter (the firmware of a real one,
// with a clock that never waits), where a card manager of its own reaches
// it. The window's open images and the command line's --image take this one
// path, so every command works on an image as on a card in the adapter.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "formats/images.h"
#include "manager/ps2mfmsys.h"

namespace travosk::sim {
class LoopbackSession;
}

namespace travosk::manager {

class FolderCardImage;

// The layout of the card image at `path` when it can be opened as a card;
// throws InOutError with the reason when it cannot (no layout the image layer
// knows, or a PS2 image larger than the adapter can size).
formats::ImageKind OpenableCardImage(const std::string& path);

struct ImageSessionOptions {
  // A PS2 or PS1 card image for the card slot, or a folder card (a folder
  // holding "_pcsx2_superblock", opened through FolderCardImage); empty: none.
  std::string card;
  std::string smartmedia;  // a SmartMedia image; empty: none
  // The file is never written: what the session changes (a mount that mends
  // an interrupted rewrite, say) stays in memory.
  bool card_unwritten = false;
  bool smartmedia_unwritten = false;
  // The card is only read, for its listing: as card_unwritten, and the
  // session writes nothing to the work folder (no settings, no cache file)
  // and reads only the pages the listing reaches, without their ECC.
  bool card_listing = false;
  std::string work_folder;  // the card manager's settings and temporary file
};

class ImageSession {
 public:
  // Throws InOutError for an image that cannot be opened as a card.
  explicit ImageSession(const ImageSessionOptions& options);
  ~ImageSession();
  ImageSession(const ImageSession&) = delete;
  ImageSession& operator=(const ImageSession&) = delete;

  TPS2MFMSYS& Manager() { return *manager_; }
  link::Link& Link();
  // The in-process adapter and its platform, for tests that inject faults.
  sim::LoopbackSession& Loopback() { return *session_; }
  // The card image's layout; nullopt when the card slot holds none.
  const std::optional<formats::ImageKind>& CardKind() const { return card_kind_; }
  // The settings file's conversion error at start, if any (the default is used).
  const std::string& SettingsWarning() const { return settings_warning_; }
  // The card slot holds a folder card.
  bool FolderCard() const { return folder_ != nullptr; }
  // A folder card whose image changed is brought up to date now (the
  // window does so after every catalogue); nothing for other images. Throws
  // FormatError or InOutError.
  void WriteBackFolderCard();
  // Ends the session: the card manager is done and the image closed; a
  // folder card that changed is written back. Throws FormatError or
  // InOutError when that fails. The destructor does the same, silently.
  void Close();

 private:
  std::unique_ptr<FolderCardImage> folder_;
  bool card_unwritten_ = false;
  bool closed_ = false;
  std::unique_ptr<sim::LoopbackSession> session_;
  std::unique_ptr<TPS2MFMSYS> manager_;
  std::optional<formats::ImageKind> card_kind_;
  std::string settings_warning_;
};

}  // namespace travosk::manager
