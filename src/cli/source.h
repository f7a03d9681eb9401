// Where the command line finds its card: the adapter found by discovery, or a
// card image opened in an in-process simulated adapter (the same firmware, so
// one code path serves both).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/images.h"
#include "link/cardlock.h"
#include "link/clock.h"
#include "link/link.h"
#include "link/platform.h"
#include "link/ps1device.h"
#include "manager/imagesession.h"
#include "manager/ps2mfmsys.h"
#include "manager/readersession.h"

namespace travosk::cli {

struct SourceOptions {
  std::string image;      // a card image in the card slot (PS1 by its size, else PS2)
  std::string sm_image;   // a SmartMedia image
  std::string slot = "card";
  std::string reader;     // a PS1 card reader's port: the ps1 commands go through it
  int reader_slot = 1;    // and its card slot
  std::string workdir;    // settings and the cache's temp file
  // The command only reads: an image the user may not write is opened
  // without write access, and what a mount would mend on it is mended in
  // memory only.
  bool only_reads = false;
  // Why a folder card's changes could not be written back when the command
  // ended (Source's destructor), for the command line to report.
  std::shared_ptr<std::string> close_error = std::make_shared<std::string>();
};

// The folder that holds the command line's "PS2M.cfg" and "~PS2M.tmp".
std::string DefaultWorkFolder();

class Source {
 public:
  // Throws InOutError for an image that cannot be opened, link::CardInUse
  // when another program holds the card past the wait (link::LockWait).
  explicit Source(const SourceOptions& options);
  ~Source();

  link::Link& Link() { return *link_; }
  manager::TPS2MFMSYS& Manager() { return *manager_; }
  bool FromImage() const { return images_ != nullptr; }
  // The PS1 card reader given with --reader, null without one.
  manager::ReaderSession* ReaderSession() { return reader_.get(); }
  // The layout of the card image opened with --image, if one was.
  std::optional<formats::ImageFormat> ImageFormat() const { return image_format_; }
  // The layout as listings name it: "folder card", or the image's format.
  std::string ImageLayoutName() const;
  // The image opened with --image takes no change (a PSP .vmp: its
  // signature would no longer match); commands that write refuse it.
  bool ReadOnlyImage() const { return read_only_; }
  // Changes to the card image stay in memory (the command only reads).
  bool ChangesStayInMemory() const { return FromImage() && only_reads_; }
  // The settings file's conversion error at start, if any (the default is used).
  const std::string& SettingsWarning() const { return settings_warning_; }

 private:
  // The command's hold on its card (cardlock.h), taken before anything of
  // the card is read; released last, after the card manager is done.
  std::vector<link::CardLock> locks_;
  // The images given, in an in-process adapter (manager/imagesession.h);
  // else the adapter found, with a card manager of the command's own.
  std::unique_ptr<manager::ImageSession> images_;
  std::unique_ptr<manager::ReaderSession> reader_;
  std::unique_ptr<link::Platform> platform_;
  std::unique_ptr<link::SystemClock> clock_;
  std::unique_ptr<link::Link> owned_link_;
  std::unique_ptr<manager::TPS2MFMSYS> owned_manager_;
  link::Link* link_ = nullptr;
  manager::TPS2MFMSYS* manager_ = nullptr;
  std::string settings_warning_;
  std::optional<formats::ImageFormat> image_format_;
  std::shared_ptr<std::string> close_error_;
  bool read_only_ = false;
  bool folder_card_ = false;
  bool only_reads_ = false;
};

}  // namespace travosk::cli
