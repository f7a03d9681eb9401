// TPS2MFMSYS: the card manager, the one component through which the front ends
// work on a memory card. It owns the card access object, the erase-block cache,
// the node table and the card volume, and reports upward only through its
// events: the twelve below, the Beep that ends an erase, and the volume's
// OnInterruptedWriteCompleted after a mount finished an interrupted write.
// An unassigned event is skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "card/erasecache.h"
#include "card/fileaccess.h"
#include "card/fileip.h"
#include "card/nodetable.h"
#include "card/volume.h"
#include "formats/files.h"
#include "formats/save.h"
#include "link/link.h"
#include "link/ps1device.h"
#include "manager/outcome.h"
#include "manager/ps1records.h"

namespace travosk::manager {

using card::TfileIP;

using TNotifyEvent = std::function<void()>;
using TFileIPEvent = std::function<void(TfileIP& fileip)>;
using TCatprocessBarEvent =
    std::function<void(TfileIP& fileip, int& Max, int& Min, int& process, bool& isbreak)>;
using TprocessBarEvent = std::function<void(int& Max, int& Min, int& process, bool& isbreak)>;
using TPS1NodeIPEvent = std::function<void(int index, TPs1FileitemRec& rec)>;

class TPS2MFMSYS {
 public:
  explicit TPS2MFMSYS(link::Link& link);
  ~TPS2MFMSYS();

  TNotifyEvent OnErroroninit;
  // The link is never busy (its IsReady always answers true), so this event
  // never fires; the front ends still handle it as one of the twelve.
  TNotifyEvent OnLinkSysbusy;
  TFileIPEvent OnAddrootNode;
  TFileIPEvent OnAddChildNode;
  TFileIPEvent OnAddMainNode;
  TCatprocessBarEvent OnCatalogbarbegin;
  TCatprocessBarEvent OnCatalogbarRun;
  TCatprocessBarEvent OnCatalogbarEnd;
  TCatprocessBarEvent OnFilebarprocess;
  TprocessBarEvent Onbarprocess;
  TPS1NodeIPEvent OnPS1MainNode;
  TPS1NodeIPEvent OnPS1rootNode;
  // The system beep that ends an erase; the front ends supply their own.
  std::function<void()> Beep;

  // Captures the working folder (the current folder unless one is given).
  // ConversionError from the settings file propagates after the system is
  // fully started with that setting at its default.
  void InitSystem(const std::string& work_folder = {});
  // Starts for reading the card only (a library's listing): the default
  // settings, and neither the settings file nor the cache's temporary file,
  // so nothing is written and pages read are not kept. Nothing that changes
  // the card can be committed.
  void InitReading();
  void DoneSystem();

  [[nodiscard]] bool Catalog();
  // Reads a save file of any readable format and puts the save on the card.
  [[nodiscard]] Outcome AppendSaveArchive(const std::string& file_name, TfileIP& target);
  // The same for a save already read from its file.
  [[nodiscard]] Outcome AppendSave(const formats::Ps2Save& save, TfileIP& target);
  [[nodiscard]] Outcome DeleteSaveFolder(TfileIP& folder);
  // `clusters`, when given, receives the card cluster of every data block the
  // archive holds, in the archive's order.
  // The format follows the file's extension (".max", else ".psu").
  [[nodiscard]] Outcome BackupSaveFolder(const std::string& file_name, TfileIP& folder,
                                         std::vector<uint32_t>* clusters = nullptr);
  [[nodiscard]] Outcome BackupSave(const std::string& file_name, TfileIP& folder,
                                   formats::SaveFormat format,
                                   std::vector<uint32_t>* clusters = nullptr);
  // A save folder of the root read into the value; throws CardError for a
  // folder that cannot be read whole.
  bool ReadSaveFromCard(TfileIP& folder, formats::Ps2Save& save, bool& isbreak);
  [[nodiscard]] bool BackupEntry(formats::Ps2Save& save, TfileIP& entry);
  [[nodiscard]] bool ExportFile(const std::string& file_name, TfileIP& entry);
  // Commits the cache to the card. Throws CardError when a page cannot be
  // read or a block written, or when the card does not read back as written.
  void FlushCard();
  int32_t EntryCount(const TfileIP& entry) const;
  [[nodiscard]] bool CheckLink();
  [[nodiscard]] bool EraseCard();
  [[nodiscard]] bool FormatCard();
  [[nodiscard]] bool FormatToPC(const std::string& image_file_name);

  // PS1 card operations. A save is named by the directory entry of its first
  // block, 0..14, wherever the core takes one; the numbers 1..15 a user
  // reads are the front ends' own.
  [[nodiscard]] bool PS1Catalog();
  [[nodiscard]] bool ScanPS1();
  [[nodiscard]] bool UploadPS1Card(const std::string& file_name);
  [[nodiscard]] bool DownloadPS1Card(const std::string& file_name);
  // The save goes to a file of the format its name asks for
  // (formats::Ps1FormatForPath): ".PS1"/".mcs", ".psx" or raw blocks.
  // The save commands answer as the PS2 ones do. A save named by an entry
  // that a console or another program has since given to another save (or
  // freed) is not touched: the outcome says the card changed.
  [[nodiscard]] Outcome UploadPS1Saver(const std::string& file_name, int entry_index);
  // Reads the save whose first block is entry_index into `save`.
  [[nodiscard]] bool ReadPS1Saver(int entry_index, formats::Ps1Save& save);
  // A save file of any readable PS1 format; the file is read whole first.
  [[nodiscard]] Outcome DownloadPS1Saver(const std::string& file_name);
  [[nodiscard]] Outcome DownloadPS1Saver(const formats::Ps1Save& save);
  // Marks deleted the blocks of the save whose first block is entry_index.
  [[nodiscard]] Outcome DeletePS1Saver(int entry_index);
  // Writes an empty directory (the header block of FormattedPS1Card) over
  // the card's first block, frame by frame with a progress event each.
  [[nodiscard]] bool FormatPS1Card();
  [[nodiscard]] bool ReadPS1Frame(int frame, link::Page& buffer);
  [[nodiscard]] bool WritePS1Frame(int frame, const link::Page& buffer);
  // The device the PS1 operations go through: the adapter's card slot
  // unless another device (a reader) is given; null gives the adapter back.
  // The manager does not own it.
  void UsePS1Device(link::PS1Device* device);
  // Commands sent that may have changed a card: the adapter's change
  // commands and the frame writes sent to a reader. A failed command that
  // sent none left the card as it was.
  uint64_t ChangesSent() { return Com().ChangeCommandsSent + reader_writes_; }
  link::PS1Device& PS1Device();

  // Why the last operation failed, when it failed for a reason of the card or
  // the link rather than a refused precondition; empty otherwise.
  const std::string& LastError() const { return last_error_; }
  // The last operation found that a save it was given (from an older
  // catalogue) is no longer on the card: the card changed behind the
  // catalogue, whose list must be read again.
  bool CardChanged() const { return card_changed_; }

  // The card is not ours alone: a console or another program may have
  // written to it since the catalogue that named `folder`. Before a command
  // reads or writes a save of that catalogue, the card as it is now is
  // mounted afresh (superblock, allocation table; nothing staged or known
  // from before survives) and the folder is found again by name in the
  // root, so that the command works on what the card holds now. False, with
  // CardChanged() and the reason in LastError(), when it is no longer there
  // (or two of that name leave it unclear which one was meant).
  [[nodiscard]] bool ConfirmOnCard(TfileIP& folder);

  card::TPSfileaccess& Access() { return *access_; }
  card::TPSEarsemanager& Cache() { return *cache_; }
  card::TDiritemTable& Nodes() { return nodes_; }
  const card::TDiritemTable& Nodes() const { return nodes_; }
  card::TPSFilemanager& Volume() { return *volume_; }
  link::TPS2Mcom& Com() { return *access_->Com; }
  const std::string& WorkFolder() const { return work_folder_; }

  TPs1FileRecD PS1Card;

 private:
  link::Link& link_;
  std::unique_ptr<card::TPSfileaccess> access_;
  std::unique_ptr<card::TPSEarsemanager> cache_;
  std::unique_ptr<card::TPSFilemanager> volume_;
  card::TDiritemTable nodes_;
  std::string work_folder_;
  std::string last_error_;
  std::vector<uint32_t>* backup_clusters_ = nullptr;  // see BackupSaveFolder

  void FireFileProgress(TfileIP& fileip, bool& isbreak);
  // The save operations work on the card of the last catalogue. A card
  // command since, on either slot, opened a card and with it reset the
  // geometry that page and block writes use: the catalogued card's slot is
  // then selected, opened and mounted again; `afresh`, it is mounted again
  // in any case (ConfirmOnCard). False, with the reason in last_error_, when
  // that card no longer mounts.
  [[nodiscard]] bool ReopenCatalogued(bool afresh = false);
  bool card_changed_ = false;
  std::unique_ptr<link::PS1Device> adapter_ps1_;
  link::PS1Device* ps1_device_ = nullptr;
  uint64_t reader_writes_ = 0;
  [[nodiscard]] bool ConfirmPS1Frame(int frame, const link::Page& written);
  int backup_dots_ = 0;  // "." and ".." entries taken into the save being read
  // The start of both appends: the card reopened if it was closed since its
  // catalogue, and the progress reset and shown.
  // The outcome of a command whose steps answered `done`, with the reason
  // and the changed card they left behind.
  Outcome Concluded(bool done) const;
  bool WriteSaveFile(const std::string& file_name, TfileIP& folder, formats::SaveFormat format,
                     std::vector<uint32_t>* clusters);
  bool AppendArchiveFile(const std::string& file_name, TfileIP& target);
  bool DeleteFolderSteps(TfileIP& folder);
  bool ReadPS1SaveBlocks(const TPs1FileRecD& dir, int entry_index, formats::Ps1Save& save);
  bool UploadPS1Steps(const std::string& file_name, int entry_index);
  bool DownloadPS1FileSteps(const std::string& file_name);
  bool DownloadPS1Steps(const formats::Ps1Save& read);
  bool DeletePS1Steps(int entry_index);
  // Whether `entry` still holds the save the last scan listed there.
  bool PS1EntryAsListed(const TPs1FileRecD& dir, int entry);
  bool BeginAppend(TfileIP& target, bool& isbreak);
  bool AppendSaveValue(const formats::Ps2Save& save, TfileIP& target, bool& isbreak);
};

}  // namespace travosk::manager
