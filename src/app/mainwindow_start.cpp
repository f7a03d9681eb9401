// Start-up, device changes, and the window operations the workflows share.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include "app/busyanimation.h"
#include "app/devicedlg.h"
#include "app/mainwindow.h"
#include "app/notifyform.h"
#include "app/texts.h"
#include "card/erasecache.h"
#include "common/errors.h"
#include "dialogs/optform.h"

namespace travosk {
namespace {

QString DeviceName(DeviceKind kind) {
  switch (kind) {
    case kPS2Card:
      return "PS2 CARD";
    case kPS1Card:
      return "PS1 CARD";
    case kSmartMedia:
      return "SMART CARD";
    default:
      return "";
  }
}

// The memory size word of Label1, by CardBytes (528 bytes per page).
QString SizeWord(int64_t card_bytes) {
  switch (card_bytes) {
    case 0x420000:
      return "4M";
    case 0x840000:
      return "8M";
    case 0x1080000:
      return "16M";
    case 0x2100000:
      return "32M";
    case 0x4200000:
      return "64M";
    default:
      return "";
  }
}

}  // namespace

TForm1::TForm1(link::Link& link, UiServices& ui, const QString& work_folder)
    : PS2MFMSYS1(link), link_(link), ui_(ui) {
  BuildPictures();
  BuildControls();
  BuildMenu();
  BindCardManagerEvents(PS2MFMSYS1);
  FormCreate(work_folder);
  FillRecentImagesMenu();
  const int fd = link_.platform().NotificationDescriptor();
  if (fd >= 0) {
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TForm1::WMDeviceChange);
  }
  Timer1->start();
  Timer2->start();
  QCoreApplication::instance()->installEventFilter(this);
  work_threads_ = true;
}

TForm1::~TForm1() {
  QCoreApplication::instance()->removeEventFilter(this);
  // The views outlive this part of the window (QWidget deletes its children
  // later): their selections, cleared as they go, must not reach it.
  for (QObject* view : {static_cast<QObject*>(SaveDetails), static_cast<QObject*>(Savertableview),
                        static_cast<QObject*>(OtherList)})
    view->disconnect(this);
  images_.clear();
  link_.SetMessageSink({});
  if (start_error_.isEmpty()) PS2MFMSYS1.DoneSystem();
}

void TForm1::AttachForms(const OtherForms& forms) { forms_ = forms; }

void TForm1::FormCreate(const QString& work_folder) {
  QString folder = QDir(work_folder.isEmpty() ? QDir::currentPath() : work_folder).absolutePath();
  if (!folder.endsWith('/')) folder += '/';
  work_folder_ = folder;
  // Private cache files of a copy that ended without closing them: nothing
  // reads them again, and they would pile up in the working folder.
  (void)card::RemoveStaleCacheFiles(PathOf(work_folder_));
  link_.SetMessageSink([this](const std::string& text) {
    OnWindowThread([&] { ui_.Information(QString::fromStdString(text)); });
  });
  // A hardware key that does not parse abandons the scan; the window goes on
  // without an adapter rather than without its card manager.
  try {
    link_.FindAdapter();
  } catch (const std::exception& e) {
    ui_.Error(QString::fromUtf8(e.what()));
  }
  USBImage->setVisible(link_.IsConnected());
  try {
    PS2MFMSYS1.InitSystem(QFile::encodeName(work_folder_).toStdString());
  } catch (const ConversionError& e) {
    // The card manager has started with the default for the bad setting.
    ui_.Error(QString::fromUtf8(e.what()));
  } catch (const std::exception& e) {
    start_error_ = QString::fromUtf8(e.what());
    ui_.Error(start_error_);
    return;
  }
  PS2MFMSYS1.Beep = [this] { OnWindowThread([this] { ui_.Beep(); }); };
  selected_tree_index_ = 0;
  try {
    PrepareSaversFolder();
  } catch (const std::exception& e) {
    ui_.Error(QString::fromUtf8(e.what()));
    return;
  }
  if (CardWork([&] { return PS2MFMSYS1.Com().DetectAdapter(); })) RedetectAdapter();
}

void TForm1::PrepareSaversFolder() {
  const QString path = work_folder_ + "savers";
  if (!QFileInfo(path).isDir() && !QDir(work_folder_).mkdir("savers"))
    throw std::runtime_error(texts::SaversFolderError(path).toStdString());
  for (FileDialogOptions* d :
       {&OpenDialog1, &OpenDialog2, &SaveDialog1, &PS1OpenDialog, &PS1SaveDialog, &PS1itmOpenDialog,
        &PS1itmSaveDialog, &ImageOpenDialog, &ImageNewDialog, &BackupFolderDialog})
    d->start_folder = path;
  ImageOpenDialog.filter =
      "Card images|*.ps2 *.mc2 *.bin *.mcd *.mcr *.mc *.pss *.ddf *.gme *.vgs *.mem *.vmp "
      "_pcsx2_superblock"
      "|All files|*";
  BackupFolderDialog.title = "Backup Savers to Folder";
  ImageNewDialog.filter = "PS2 card image|*.ps2|PS1 card image|*.mcr *.gme *.vgs";
  ImageNewDialog.default_extension = ".ps2";
  ImageNewDialog.confirm_overwrite = true;
  SaveDialog1.filter = "*.psu|*.psu|*.psd|*.psd";
  OpenDialog2.filter = "PS2 saves|*.psu *.psd *.max *.cbs *.sps *.xps *.psv|All files|*";
  OpenDialog2.default_extension = SaveDialog1.default_extension = ".psu";
  PS1itmSaveDialog.filter = "*.PS1|*.PS1";
  PS1itmOpenDialog.filter = "PS1 saves|*.PS1 *.ps1 *.mcs *.psx *.mcb *.mcx *.pda *.psv|All files|*";
  PS1itmOpenDialog.default_extension = PS1itmSaveDialog.default_extension = ".ps1";
  PS1OpenDialog.filter = PS1SaveDialog.filter = "*.pss|*.pss";
  PS1OpenDialog.default_extension = PS1SaveDialog.default_extension = ".pss";
  // The backups ask before replacing a file; the PS1 card upload asks itself.
  SaveDialog1.confirm_overwrite = PS1itmSaveDialog.confirm_overwrite = true;
}

QString TForm1::WorkFolder() const { return work_folder_; }

QString TForm1::WorkFile(const char* name) const { return work_folder_ + name; }

void TForm1::WMDeviceChange() {
  // A message box of the rescan runs its own event loop: the notifier must
  // not start a second handling inside the first.
  if (notifier_) notifier_->setEnabled(false);
  const bool was_connected = link_.IsConnected();
  try {
    link_.HandlePendingDeviceChanges();
  } catch (const std::exception& e) {
    ui_.Error(QString::fromUtf8(e.what()));
  }
  USBImage->setVisible(link_.IsConnected() && list_image_ < 0);
  if (was_connected && !link_.IsConnected()) MarkListStale();
  if (list_stale_ && link_.IsConnected()) ReadStaleListAgain();
  if (notifier_ && command_depth_ == 0) notifier_->setEnabled(true);
}

void TForm1::Guarded(const std::function<void()>& command) {
  if (!start_error_.isEmpty()) {
    ui_.Error(start_error_);
    return;
  }
  // One card operation at a time: a command asked for while one runs is
  // refused, not queued behind it.
  if (card_busy_) {
    ui_.Beep();
    return;
  }
  // Device changes wait until the command is over: the link must not be
  // reopened under a running card operation.
  if (command_depth_++ == 0 && notifier_) notifier_->setEnabled(false);
  try {
    command();
  } catch (const std::exception& e) {
    StopBusy();
    HideNotify();
    SetOperationCaption("");
    ui_.Error(QString::fromUtf8(e.what()));
  }
  if (--command_depth_ == 0) {
    // The card is another program's again between two commands.
    card_locks_.clear();
    if (notifier_) notifier_->setEnabled(true);
  }
}

void TForm1::ShowFailure(const QString& text, const QString& reason) {
  QString why = reason.isEmpty() ? QString::fromStdString(Card().LastError()) : reason;
  if (why.isEmpty()) why = "the card or the adapter did not answer as expected";
  ui_.Failure(text + "\n" + why);
}

void TForm1::SetStatusPanel(int panel, const QString& text) {
  StatusPanels[panel]->setText(text);
  StatusBar1->repaint();
}

void TForm1::SetOperationCaption(const QString& text) {
  operation_caption_ = text;
  SetStatusPanel(1, text);
}

void TForm1::SetBar(int max, int min, int position) {
  // Qt shows a range of nothing as an endless busy bar; keep it a plain one.
  ProgressBar1->setRange(min, max > min ? max : min + 1);
  ProgressBar1->setValue(position);
  ProgressBar1->repaint();
}

void TForm1::SetRightAligned(QLabel* label, const QString& text, int right, int width) {
  right += grown_.width();  // the labels at the right follow the window's growth
  label->setText(text);
  const int needed = qMax(width, label->sizeHint().width());
  label->setGeometry(right - needed, label->y(), needed, label->sizeHint().height());
}

void TForm1::ShowNotify(const QString& text) {
  if (!forms_.NotifyForm) return;
  TNotifyForm& f = *forms_.NotifyForm;
  f.MessageLabel->setText(text);
  f.MessageLabel->setFixedWidth(321);
  f.show();
  f.repaint();
  // Let the window system put it on screen before the operation holds the
  // thread; user input stays queued until the command is over.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TForm1::HideNotify() {
  if (forms_.NotifyForm) forms_.NotifyForm->hide();
}

void TForm1::StartBusy() { Animate1->Play(1, 8); }

void TForm1::StopBusy() {
  Animate1->Stop();
  Animate1->hide();
}

void TForm1::RedetectAdapter() {
  (void)CardWork([&] { return Card().Com().DetectAdapter(); });
}

void TForm1::EndCardWork() {
  ReadListAgainIfChanged();
  RedetectAdapter();
  StopBusy();
  HideNotify();
}

void TForm1::ProbeDevices() {
  link::TPS2Mcom& com = PS2MFMSYS1.Com();
  chosen_slot_ = 0;
  int count = 0;
  device_list_.fill(kNoDevice);
  // A slot whose reply did not arrive is taken as empty.
  card::SlotContent slot;
  CardWork([&] { slot = card::ProbeSlot(com, Slot::kCard); });
  if (slot.kind != CardKind::kNone) device_list_[count++] = slot.kind;
  CardWork([&] { slot = card::ProbeSlot(com, Slot::kSmartMedia); });
  if (slot.kind != CardKind::kNone) device_list_[count++] = slot.kind;
  com.LinkFault = false;
  devices_found_ = count;
  if (count > 0) RedetectAdapter();
}

bool TForm1::SelectDevice() {
  // With card images open the dialog offers them even without an adapter.
  if (CardWork([&] { return PS2MFMSYS1.Com().DetectAdapter(); })) {
    ProbeDevices();
  } else if (images_.empty()) {
    ui_.Information(texts::kCanNotConnect);
    return false;
  } else {
    devices_found_ = chosen_slot_ = 0;
    device_list_.fill(kNoDevice);
  }
  TDEVICEDlg& dlg = *forms_.DEVICEDlg;
  dlg.PrepareDevices(devices_found_, static_cast<int>(device_list_[0]),
                     static_cast<int>(device_list_[1]));
  QStringList names;
  std::vector<int> kinds;
  for (size_t i = 0; i < images_.size(); ++i) {
    names << CardName(static_cast<int>(i));
    kinds.push_back(static_cast<int>(images_[i]->kind));
  }
  dlg.PrepareImages(names, kinds);
  if (ui_.ShowModal(dlg) != QDialog::Accepted) return false;
  if (dlg.ImageIndex >= 0 && dlg.ImageIndex < static_cast<int>(images_.size())) {
    ChooseImage(dlg.ImageIndex);
    return true;
  }
  card_ = &PS2MFMSYS1;
  current_image_ = -1;
  PS2MFMSYS1.Access().Medium = dlg.Choice == 1 ? Slot::kCard : Slot::kSmartMedia;
  chosen_slot_ = dlg.SlotIndex;
  const DeviceKind kind = device_list_[chosen_slot_ & 3];
  DEVICENAME->setText(DeviceName(kind));
  DEVICENAME->adjustSize();
  current_device_ = kind;
  return true;
}

int64_t TForm1::Capacity() {
  if (current_device_ == kPS1Card) return manager::kPS1Capacity;
  return static_cast<int64_t>(Card().Access().DataBytes());
}

void TForm1::ShowMemorySize() {
  if (current_device_ == kPS1Card)
    Label1->setText("128KBytes Memory Detected.");
  else
    Label1->setText(SizeWord(Card().Access().CardBytes) + "Bytes Memory Detected.");
  Label1->adjustSize();
}

void TForm1::ShowUsage() {
  SetStatusPanel(2, QString::number(used_bytes_ / 1024) + "K Used about " +
                        QString::number((Capacity() - used_bytes_) / 1024) + "K Free");
}

void TForm1::ResetSelectionDisplay() {
  SelectLabel->setText("SELECT SAVER");
  SelectLabel->adjustSize();
  SetRightAligned(SAVERSIZELabel, "-------- KBytes", 537, 76);
}

void TForm1::ShowDeviceImage(DeviceKind kind) {
  DEVImage1->setPixmap(ImageList2.At(static_cast<int>(kind)));
}

bool TForm1::TreeEmpty() const { return TreeView1->topLevelItemCount() == 0; }

bool TForm1::RefuseWithoutCatalogue() {
  if (!TreeEmpty() && !list_stale_) return false;
  ui_.Beep();
  ui_.Information(texts::kDeviceNotOpened);
  return true;
}

bool TForm1::RefuseUnlessPS2List() {
  if (RefuseWithoutCatalogue()) return true;
  RestoreListDevice();
  if (list_device_ != kPS1Card) return false;
  ui_.Information("This function do not support PS1 card.");
  return true;
}

void TForm1::OpenConfigDialog() {
  ToptForm& dlg = *forms_.optForm;
  if (config_shown_before_) {
    const QRect main = frameGeometry();
    const QSize size = dlg.frameGeometry().size();
    dlg.move(main.left() + (main.width() - size.width()) / 2,
             main.top() + (main.height() - size.height()) / 2);
  } else if (QScreen* s = screen()) {
    dlg.move(s->availableGeometry().center() - dlg.rect().center());
  }
  config_shown_before_ = true;
  link::TPS2Mcom& com = PS2MFMSYS1.Com();
  dlg.PortBase = com.PortBase;
  dlg.ConnectDelay = com.ConnectDelay;
  dlg.Accepted = false;
  dlg.ShowSettings();
  ui_.ShowModal(dlg);
  if (!dlg.Accepted) return;
  com.PortBase = dlg.PortBase;
  com.ConnectDelay = dlg.ConnectDelay;
  PS2MFMSYS1.Access().SaveSettings(dlg.PortBase, dlg.ConnectDelay);
}

}  // namespace travosk
