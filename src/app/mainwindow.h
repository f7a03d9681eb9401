// TForm1: the main window, the whole user interface apart from its dialogs.
// It owns the card manager PS2MFMSYS1, turns its events into the hidden index
// tree, the node table and the save list, and starts every command. The
// handlers hold no card logic: they call the card manager and map what it
// reports onto widgets and messages.
#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "dialogs/uiservices.h"
#include "formats/images.h"
#include "link/cardlock.h"
#include "manager/imagesession.h"
#include "manager/ps2mfmsys.h"
#include "manager/readersession.h"
#include "manager/savereplace.h"
#include "sim/loopback_platform.h"

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace travosk {

namespace manager {
struct SaveIcon;
}
class BusyAnimation;
class TDEVICEDlg;
class TNotifyForm;
class TPCformatDlg;
class ToptForm;

using card::TfileIP;
using manager::TPs1FileitemRec;

// The device the window works on: the kind of card in a slot or image.
using DeviceKind = CardKind;
inline constexpr DeviceKind kNoDevice = CardKind::kNone;
inline constexpr DeviceKind kPS2Card = CardKind::kPS2;
inline constexpr DeviceKind kPS1Card = CardKind::kPS1;
inline constexpr DeviceKind kSmartMedia = CardKind::kSmartMedia;

// One save of a PS2 card or SmartMedia as the list shows it (item k is entry k).
struct SaveEntry {
  std::string title;       // raw bytes, as on the card
  std::string name;        // the list item's caption, raw bytes
  int folder_index = 0;    // position of the save folder's record in the node table
  int64_t size = 0;        // bytes charged to the save
  int frame_count = 1;
  int first_image = 0;     // index in savertableImage
  int current_frame = 0;
};

// The list's state when the current device is a PS1 card.
struct PS1SaveList {
  bool selected = false;
  int count = 0;
  int selected_position = 0;
  std::array<uint8_t, 16> entries{};  // PS1 directory entry number of each listed save
};

// Pictures by number, as the list and the tree refer to them.
struct ImageList {
  std::vector<QPixmap> images;
  void Clear() { images.clear(); }
  int Add(const QPixmap& p) {
    images.push_back(p);
    return static_cast<int>(images.size()) - 1;
  }
  int Count() const { return static_cast<int>(images.size()); }
  QPixmap At(int i) const { return i >= 0 && i < Count() ? images[i] : QPixmap(); }
};

// A card image opened in the window: the image sits in the card slot of an
// in-process adapter, the same firmware as a real one, with a card manager of
// its own, so every command works on it as on a card in the adapter.
struct OpenedImage {
  QString path;
  DeviceKind kind = kNoDevice;
  formats::ImageFormat format = formats::ImageFormat::kPs2Raw;
  // Opened for reading only: its format's signature is not remade here.
  bool read_only = false;
  std::unique_ptr<manager::ImageSession> session;
  // A PS1 card reader in place of an image (`path` is its port): its card
  // manager's PS1 commands go through the reader.
  std::unique_ptr<manager::ReaderSession> reader;
  manager::TPS2MFMSYS* manager = nullptr;  // the session's or the reader's
};

// The hex editor window as the edit command uses it: shows the file with the
// caption modally and answers SaveRequested.
using SaveEditor = std::function<bool(const QString& file, const QString& caption)>;

// The forms created after the main window, which its commands show.
struct OtherForms {
  TPCformatDlg* PCformatDlg = nullptr;
  ToptForm* optForm = nullptr;
  TDEVICEDlg* DEVICEDlg = nullptr;
  TNotifyForm* NotifyForm = nullptr;
  SaveEditor EditSave;
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and runs FormCreate in work_folder (the current folder
  // when empty). Errors of the start-up are shown and the window still opens.
  TForm1(link::Link& link, UiServices& ui, const QString& work_folder = {});
  ~TForm1() override;  // FormDestroy

  void AttachForms(const OtherForms& forms);

  manager::TPS2MFMSYS PS2MFMSYS1;  // the adapter's card manager
  // The card manager of the current device: the adapter's or an open image's.
  manager::TPS2MFMSYS& Card() { return *card_; }

  // Top bar.
  QLabel* Label1;
  QLabel* FreesizeLabel;
  QLabel* DEVImage1;
  QLabel* DEVICENAME;
  QLabel* USBImage;
  // The save list and the selection line.
  QListWidget* Savertableview;
  QLabel* SelectLabel;
  QLabel* Label6;
  QLabel* SAVERSIZELabel;
  // Buttons.
  QPushButton* AppendSaver;
  QPushButton* SaverBackup;
  QPushButton* DeleteSaver;
  QPushButton* savereditbtn;
  QPushButton* CatalogBtn;
  QPushButton* BitBtn1;  // RESET
  QPushButton* EXIT;
  BusyAnimation* Animate1;
  QProgressBar* ProgressBar1;
  // The maker's banner.
  QLabel* Label2;
  QLabel* Label5;
  QLabel* Label3;
  QLabel* Label4;
  // Never shown.
  QTreeWidget* TreeView1;
  QPlainTextEdit* Memo1;
  QPlainTextEdit* Memo2;
  QStatusBar* StatusBar1;
  std::array<QLabel*, 3> StatusPanels{};
  QLabel* Label7;
  // Menu.
  QMenu* File1;
  QMenu* Tools1;
  QAction* OpenImage1;
  QMenu* RecentImages1;
  QAction* NewImage1;
  QMenu* NewImageSizes1;
  QAction* FindReaders1;
  QAction* AppendSaver1;
  QAction* BackupSaver1;
  QAction* Exit1;
  QAction* DeleteSaver1;
  QAction* EditSaver1;
  QAction* Erase1;
  QAction* ExpandedMemorytoPC1;
  QAction* UploadPS1Card1;
  QAction* DownloadPS1Card2;
  QAction* CheckRepair1;  // our own: check the card, then mend what it can safely
  QAction* Setup1;
  QAction* CopySaver1;
  // The split view: the other open device's saves, shown beside the list
  // only while two devices are open.
  QWidget* OtherPanel = nullptr;
  QLabel* OtherDeviceName = nullptr;
  QListWidget* OtherList = nullptr;
  // The save commands on a save of the list, and on one of the right pane.
  QMenu* ListMenu = nullptr;
  QMenu* OtherMenu = nullptr;
  QTimer* Timer1;
  QTimer* Timer2;
  // The saves as rows of name, title, size and date (View, Details), and the
  // filter over both views.
  QTreeWidget* SaveDetails = nullptr;
  QLineEdit* SaveFilter = nullptr;
  QMenu* View1 = nullptr;
  QAction* IconsView1 = nullptr;
  QAction* DetailsView1 = nullptr;
  // The client area's size as built; the window grows from it.
  static constexpr int kBaseClientWidth = 547;
  static constexpr int kBaseClientHeight = 443;

  ImageList savertableImage;  // 32 x 32 save icons
  ImageList ImageList1;       // hidden tree
  ImageList ImageList2;       // device pictures, by DeviceKind
  ImageList Stateimglist;     // blink pictures of the selection marker
  ImageList ImageList3;       // menu images

  FileDialogOptions OpenDialog1, OpenDialog2, SaveDialog1, PS1OpenDialog, PS1SaveDialog,
      PS1itmOpenDialog, PS1itmSaveDialog, ImageOpenDialog, ImageNewDialog, BackupFolderDialog;

  // Shared window operations.
  void ShowNotify(const QString& text);
  void HideNotify();
  void StartBusy();
  void StopBusy();
  void RedetectAdapter();
  // The end of every card command: the adapter asked again, the busy
  // animation and the notice gone.
  void EndCardWork();
  void ProbeDevices();
  [[nodiscard]] bool SelectDevice();
  void FillSaveList();
  void FillPS1List();
  void ShowMemorySize();
  void ShowUsage();
  void ResetSelectionDisplay();
  void ShowDeviceImage(DeviceKind kind);
  void OpenConfigDialog();
  void TraceEntry(const TfileIP& fileip);

  // What the window knows, for the workflows' checks and for tests.
  DeviceKind CurrentDevice() const { return current_device_; }
  DeviceKind ListDevice() const { return list_device_; }
  int DevicesFound() const { return devices_found_; }
  const std::array<DeviceKind, 4>& DeviceList() const { return device_list_; }
  int64_t UsedBytes() const { return used_bytes_; }
  int64_t Capacity();
  const std::vector<SaveEntry>& SaveEntries() const { return entries_; }
  const PS1SaveList& PS1List() const { return ps1_list_; }
  bool SaveSelected() const { return selected_; }
  // The rows of the list's selected saves, in list order: several can be
  // selected for backup, delete, copy and dragging out.
  std::vector<int> SelectedRows() const;
  // The selected rows, or else the row of the selected save alone.
  std::vector<int> ChosenRows() const;
  int SelectedTreeIndex() const { return selected_tree_index_; }
  const QString& OperationCaption() const { return operation_caption_; }
  int MarkerIndex() const { return marker_index_; }
  QString WorkFolder() const;
  const std::vector<std::unique_ptr<OpenedImage>>& Images() const { return images_; }
  // The open image whose saves the list shows; -1 for the adapter.
  int ListImage() const { return list_image_; }
  QStringList RecentImages() const;
  // A card operation is running: input to the window's commands waits.
  bool CardBusy() const { return card_busy_; }
  // The adapter whose card the list shows was removed: the list is kept to
  // read but no longer stands for a card, until the adapter's arrival reads
  // it again.
  bool ListStale() const { return list_stale_; }

  // Item roles of Savertableview.
  static constexpr int kImageRole = Qt::UserRole + 1;  // index in savertableImage
  static constexpr int kStateRole = Qt::UserRole + 2;  // index in Stateimglist, -1 none
  static constexpr int kTitleRole = Qt::UserRole + 3;  // first sub-item (column "NAME")

 public slots:
  void CatalogBtnClick();
  void AppendSaverClick();
  void SaverBackupClick();
  void DeleteSaverClick();
  void savereditbtnClick();
  void FormattoPS2Click();
  void FormattoPCClick();
  void PS1ReadClick();
  void PS1writeClick();
  void CheckRepairClick();
  void SETUPClick();
  void BitBtn1Click();
  void EXITClick();
  void OpenImageClick();
  void NewImageClick();
  // "Find PS1 card readers": every reader found beside the open images, the
  // first new one made the current device and its card listed.
  void FindReadersClick();
  // A new card image; a PS2 one of `megabytes`.
  void NewImageOfSize(int megabytes);
  // Opens a card image (or finds it open), makes it the current device and
  // reads its catalogue, as OPEN/CATALOG does for a card in the adapter.
  void OpenCardImage(const QString& path);
  // Save files dropped on the list: each restored in turn, as the append
  // command does, with its questions and its message.
  void RestoreDroppedFiles(const QStringList& files);
  // Writes the selected save's ".psu" (PS1: ".mcs") for a drag out of the
  // list; the files written, empty when there is nothing to drag.
  QStringList ExportSelectedForDrag();
  // Copies the selected save of the list's device to the other open device
  // (the one catalogued before it), verifies the copy and shows both.
  void CopySaverClick();
  bool OtherDeviceOpen() const { return other_.card != nullptr; }
  // Runs a save command on the right pane's selected saves: their device is
  // read into the list for it, and the list's own device back afterwards.
  // Without saves chosen there, nothing runs unless needs_saves is false.
  void OnOtherPane(const std::function<void()>& command, bool needs_saves = true);
  void Timer1Timer();
  void Timer2Timer();
  // A larger, animated picture of list item `row`'s icon with the save's
  // title, size, dates and files (double click, or "Properties").
  void ShowSavePreview(int row);
  // The platform reported device changes: hand them to the link and show
  // USBImage exactly when it is connected.
  void WMDeviceChange();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Card manager events.
  void PS2MFMSYS1AddMainNode(TfileIP& fileip);
  void PS2MFMSYS1AddrootNode(TfileIP& fileip);
  void PS2MFMSYS1AddChildNode(TfileIP& fileip);
  void PS2MFMSYS1PS1MainNode(int index, TPs1FileitemRec& rec);
  void PS2MFMSYS1PS1rootNode(int index, TPs1FileitemRec& rec);
  void PS2MFMSYS1Catalogbarbegin(TfileIP& fileip, int& Max, int& Min, int& process, bool& isbreak);
  void PS2MFMSYS1CatalogbarRun(TfileIP& fileip, int& Max, int& Min, int& process, bool& isbreak);
  void PS2MFMSYS1CatalogbarEnd(TfileIP& fileip, int& Max, int& Min, int& process, bool& isbreak);
  void PS2MFMSYS1Filebarprocess(TfileIP& fileip, int& Max, int& Min, int& process, bool& isbreak);
  void PS2MFMSYS1barprocess(int& Max, int& Min, int& process, bool& isbreak);
  void PS2MFMSYS1Erroroninit();
  void PS2MFMSYS1LinkSysbusy();
  void BindCardManagerEvents(manager::TPS2MFMSYS& m);

  void BuildControls();
  void BuildMenu();
  void BuildPictures();
  void FormCreate(const QString& work_folder);
  void PrepareSaversFolder();
  void TreeView1MouseDown(QTreeWidgetItem* item);
  void SavertableviewSelectItem();

  // Runs a command handler: device changes wait until it ends, and an error
  // thrown by the card machinery or a PC file is shown in the error box
  // rather than ending the program.
  void Guarded(const std::function<void()>& command);
  // Runs a card operation on a worker thread while the window keeps painting
  // (see mainwindow_work.cpp); exceptions come back to the caller. The card
  // of the current device is held (cardlock.h) from the command's first
  // card operation to its end; link::CardInUse when another program keeps
  // it past the wait.
  void RunCardWork(const std::function<void()>& work);
  // The lock of the current device's card, taken now unless held already.
  void HoldCurrentCard();
  template <class F>
  auto CardWork(F&& work) {
    using Result = decltype(work());
    if constexpr (std::is_void_v<Result>) {
      RunCardWork(work);
    } else {
      Result result{};
      RunCardWork([&] { result = work(); });
      return result;
    }
  }
  // Runs a card manager event's handler on the window's thread, the worker
  // waiting until it is done.
  void OnWindowThread(const std::function<void()>& handler);
  void SetOperationCaption(const QString& text);
  // A failed command's message with its reason on a second line: the one
  // given, else the card manager's last error.
  void ShowFailure(const QString& text, const QString& reason = {});
  void SetStatusPanel(int panel, const QString& text);
  void SetBar(int max, int min, int position);
  // A right-aligned label keeps its right edge and grows to the left when
  // its text needs more room than its design width.
  void SetRightAligned(QLabel* label, const QString& text, int right, int width);
  bool TreeEmpty() const;
  // The save commands' first check: with no catalogue read, beep and say
  // "Device not opened"; true when the command must end there.
  bool RefuseWithoutCatalogue();
  // That check, then the list's device restored; a PS1 card is refused too,
  // for the commands that work on PS2 file systems alone.
  bool RefuseUnlessPS2List();
  QTreeWidgetItem* AddTreeNode(QTreeWidgetItem* parent, const QString& text, int image);
  // The save folder under the list's selection; sets the selected tree index.
  enum class SaveSelection { kNoIndex, kNotFolder, kFolder };
  SaveSelection SelectedSaveFolder(TfileIP& folder);
  SaveSelection SaveFolderAt(int row, TfileIP& folder);
  // A save of the list's device as a command over several saves takes it.
  struct ListedSave {
    std::string name;
    TfileIP folder;      // PS2 card or SmartMedia
    int ps1_entry = -1;  // PS1 card: its first block's directory entry
  };
  // The saves of the given rows; false, after "not support select <file>",
  // when a row names no save folder.
  [[nodiscard]] bool ListedSaves(const std::vector<int>& rows, std::vector<ListedSave>& saves);
  // Backup and delete of several selected saves: one folder or one question
  // for the set; a failure names its save and the others go on.
  void BackupSaveSet(const std::vector<int>& rows);
  void DeleteSaveSet(const std::vector<int>& rows);
  QListWidgetItem* AddListItem(const std::string& name, const std::string& title, int image);
  void SetItemImage(int row, int image);
  void SetItemState(int row, int state);
  void LoadGenericIcon();
  // Renders a PS2 save's own icon into list pictures and gives them to its
  // entry; the entry keeps the generic picture when the icon is unusable.
  void AttachOwnIcon(int entry, const std::vector<TfileIP>& files, int& image_counter);
  void SavertableviewContextMenu(const QPoint& at);
  void BuildSaveMenus();
  void BuildSaveViews(QWidget* client);
  void BuildViewMenu();
  // The details rows of the list's saves, and the filter applied to both.
  void FillSaveDetails();
  void ApplySaveFilter();
  // How each control follows the window's growth, and the growth applied.
  struct Growth {
    bool down = false;   // below the list: moves down
    bool right = false;  // right of the middle: moves right
    bool wider = false;
    bool taller = false;
  };
  void NoteGrowingControls(QWidget* client);
  void GrowControls(const QSize& client_size);
  std::vector<std::pair<QWidget*, Growth>> growth_;
  QSize grown_{0, 0};
  QWidget* client_ = nullptr;
  bool syncing_views_ = false;  // one view's selection is being copied to the other
  // A card image by its file name, the adapter as "adapter".
  QString CardName(int image) const;
  // Each pane's name for its card; the USB plug only over the adapter's.
  void ShowPaneNames();
  // Saves dragged from one pane onto the other, and files dropped on the
  // right pane; true when handled.
  bool HandlePaneDrop(QObject* watched, QEvent* event);
  void ConnectSavePreview();
  // The list's device becomes the current one again (see list_device_).
  void RestoreListDevice();
  void ClearTree();

  // The catalogue command once its device is chosen.
  void CatalogChosenDevice();
  // The device dialog's choice of an open image, and of the adapter.
  void ChooseImage(int index);
  // True unless the current device is a PS1 card reader without a PS1 card
  // in it; then the user has been told why.
  bool ReaderHoldsCard();
  OpenedImage& OpenImageFile(const QString& path);
  // An image opened for reading only takes no change: says so; true when
  // the command must end there.
  bool RefuseReadOnly(int image);
  void RememberRecentImage(const QString& path);
  void FillRecentImagesMenu();

  // Workflow pieces.
  // The PS1 append of the file given, or of one the user chooses.
  void AppendPS1Saver(const std::optional<QString>& given = std::nullopt);
  // Drag and drop events of the list's viewport; true when handled.
  bool HandleListDrop(QEvent* event);
  void AppendArchive(const QString& archive);
  [[nodiscard]] bool WriteBackEditedSave(const QString& archive);
  void ReplacePS1Saver(const formats::Ps1Save& save, const std::string& name, int entry);
  // Replaces `existing` with the save in `archive` (manager::ReplaceSave), the
  // old save backed up to a kept copy first; when neither can be written,
  // says where the old save is kept.
  manager::ReplaceResult ReplaceWithBackup(const QString& archive, TfileIP existing);
  // A fresh file in "savers" for a copy of the save that a message says is
  // kept (see manager::KeptCopyPath).
  QString KeptCopy(const std::string& save_name, const char* extension) const;
  void BackupPS1Saver();
  void DeletePS1SaverFlow();
  [[nodiscard]] bool ErasePS1Card();
  [[nodiscard]] bool ChoosePS1Card();
  // A command that may have rewritten the medium whose catalogue the list
  // shows: when it sent any command that changes a card since `changes`
  // (the adapter's count before it ran), the list no longer describes the
  // card, so it goes (the user reads the card again). A command refused
  // before it wrote anything keeps the list.
  void ForgetCatalogue(uint64_t changes);
  // A save command found that the card changed since the list was read
  // (manager::TPS2MFMSYS::CardChanged): the list is read again.
  void ReadListAgainIfChanged();
  // The list and its catalogue gone: no device's saves are shown.
  void DropList();
  // Device changes: a removal of the adapter whose card the list shows makes
  // the list stale; its arrival reads it again.
  void MarkListStale();
  void ReadStaleListAgain();
  uint64_t ChangesSent();
  QString WorkFile(const char* name) const;

  link::Link& link_;
  UiServices& ui_;
  QString work_folder_;  // absolute, ending in '/'
  QString start_error_;  // why the card manager could not start; empty when it did
  OtherForms forms_;
  QSocketNotifier* notifier_ = nullptr;
  int command_depth_ = 0;
  bool work_threads_ = false;  // card work goes to a worker once the window is built
  bool card_busy_ = false;
  bool list_stale_ = false;
  // The cards the running command holds, by image path or device path.
  std::map<std::string, link::CardLock> card_locks_;
  bool config_shown_before_ = false;

  QTreeWidgetItem* root_node_ = nullptr;
  QTreeWidgetItem* last_root_node_ = nullptr;
  int tree_count_ = 0;  // absolute index of the next tree node
  int selected_tree_index_ = 0;
  QString operation_caption_;
  int64_t used_bytes_ = 0;
  int devices_found_ = 0;
  int chosen_slot_ = 0;
  DeviceKind current_device_ = kNoDevice;
  // The device and slot whose catalogue the list shows: the save commands
  // work on them even after a card command chose another device.
  DeviceKind list_device_ = kNoDevice;
  Slot list_medium_ = Slot::kCard;
  std::vector<std::unique_ptr<OpenedImage>> images_;
  // A device the window has catalogued: its card manager, kind, slot and image.
  struct DeviceRef {
    manager::TPS2MFMSYS* card = nullptr;
    DeviceKind kind = kNoDevice;
    Slot medium = Slot::kCard;
    int image = -1;
  };
  DeviceRef other_;
  // The list's device becomes the other device; the split view shows it.
  void KeepListAsOther(manager::TPS2MFMSYS* next_card, Slot next_medium);
  void SwitchTo(const DeviceRef& device);
  // The start of a copy onto the device switched to: its catalogue read
  // under the notice and the busy animation; false when it cannot be read.
  bool CatalogueCopyTarget(bool ps1);
  // The end of every copy that reached the card: EndCardWork, and `result`.
  std::optional<bool> EndCopy(std::optional<bool> result);
  std::optional<bool> CopyPS2Save(const QString& source_file, const std::string& name);
  std::optional<bool> CopyPS1Save(const QString& source_file, const std::string& name);
  QString copy_failure_;  // why the last copy failed
  manager::TPS2MFMSYS* card_ = &PS2MFMSYS1;
  manager::TPS2MFMSYS* list_card_ = &PS2MFMSYS1;
  int current_image_ = -1;  // index in images_ of the current device, -1 the adapter
  int list_image_ = -1;
  std::vector<int> root_level_;  // absolute indexes of the tree's root-level nodes
  std::array<DeviceKind, 4> device_list_{};
  bool selected_ = false;
  int selected_index_ = 0;
  std::vector<SaveEntry> entries_;
  PS1SaveList ps1_list_;
  int marker_index_ = 0;
  int animation_counter_ = 0;
  // The own icons of the listed PS2 saves, by save table entry.
  std::map<int, std::shared_ptr<const manager::SaveIcon>> save_icons_;
};

}  // namespace travosk
