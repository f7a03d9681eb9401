// The window's controls at their places, the menu and the pictures.
#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include "app/librarydlg.h"
#include "app/busyanimation.h"
#include "app/mainwindow.h"
#include "app/savelistview.h"
#include "dialogs/pictures.h"
#include "manager/newcard.h"

namespace travosk {
namespace {

constexpr int kClientWidth = TForm1::kBaseClientWidth;
constexpr int kClientHeight = TForm1::kBaseClientHeight;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& place) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setGeometry(place);
  return button;
}

QFrame* MakeBevel(QWidget* parent, const QRect& place) {
  auto* bevel = new QFrame(parent);
  bevel->setFrameShape(QFrame::Panel);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(place);
  bevel->lower();
  return bevel;
}

}  // namespace

void TForm1::BuildPictures() {
  for (int i = 0; i < pictures::kTreeImages; ++i) ImageList1.Add(pictures::Tree(i));
  ImageList2.Add(QPixmap());
  for (int kind = static_cast<int>(kPS2Card); kind <= static_cast<int>(kSmartMedia); ++kind)
    ImageList2.Add(pictures::Device(kind, QSize(30, 29)));
  for (int i = 0; i < pictures::kStateImages; ++i) Stateimglist.Add(pictures::StateMarker(i));
  for (int i = 0; i < pictures::kMenuImages; ++i) ImageList3.Add(pictures::Menu(i));
}

void TForm1::BuildControls() {
  setObjectName("Form1");
  setWindowTitle("TRAVOSK v3.010e");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  QFont font;
  font.setFamilies({"MS Sans Serif", "DejaVu Sans", "IPAGothic"});
  font.setPixelSize(11);
  font.setBold(true);
  setFont(font);
  QPalette silver = palette();
  silver.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(silver);

  // The client area, and beside it the split view's panel, hidden until two
  // devices are open.
  auto* holder = new QWidget(this);
  auto* row = new QHBoxLayout(holder);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  // The window opens at its designed size and grows from there (see
  // saveviews.cpp); the right pane keeps its width.
  row->setSizeConstraint(QLayout::SetMinimumSize);
  auto* client = new QWidget(holder);
  client_ = client;
  client->setObjectName("ClientArea");
  client->setMinimumSize(kClientWidth, kClientHeight);
  client->resize(kClientWidth, kClientHeight);
  client->setAutoFillBackground(true);
  row->addWidget(client, 1);
  OtherPanel = new QWidget(holder);
  OtherPanel->setObjectName("OtherPanel");
  OtherPanel->setFixedWidth(276);
  OtherPanel->setMinimumHeight(kClientHeight);
  OtherPanel->resize(276, kClientHeight);
  OtherPanel->setAutoFillBackground(true);
  MakeBevel(OtherPanel, QRect(0, 0, 274, 31));
  MakeBevel(OtherPanel, QRect(0, 30, 272, 259));
  OtherDeviceName = MakeLabel(OtherPanel, "OtherDeviceName", "", 8, 10);
  auto* other = new SaveListView(OtherPanel);
  other->pane = "other";
  OtherList = other;
  OtherList->setObjectName("OtherList");
  OtherList->setGeometry(2, 32, 268, 255);
  OtherList->setIconSize(QSize(32, 32));
  OtherList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Its saves take the save commands (context menu) and are dragged onto
  // the list to copy them; saves and files dropped on it go to its device.
  OtherList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  OtherList->setDragEnabled(true);
  OtherList->setDragDropMode(QAbstractItemView::DragOnly);
  OtherList->setAcceptDrops(true);
  OtherList->viewport()->setAcceptDrops(true);
  OtherPanel->hide();
  row->addWidget(OtherPanel);
  setCentralWidget(holder);

  MakeBevel(client, QRect(0, 0, kClientWidth, 31));
  MakeBevel(client, QRect(2, 30, kClientWidth - 4, 259));
  MakeBevel(client, QRect(2, 290, kClientWidth - 4, 24));
  MakeBevel(client, QRect(176, 318, kClientWidth - 180, 104));

  Label1 = MakeLabel(client, "Label1", "UNKOWN AREA", 8, 10);
  FreesizeLabel = MakeLabel(client, "FreesizeLabel", "", 288, 10);
  FreesizeLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
  SetRightAligned(FreesizeLabel, "--- KBytes Free", 288 + 85, 85);
  DEVImage1 = new QLabel(client);
  DEVImage1->setObjectName("DEVImage1");
  DEVImage1->setGeometry(384, 2, 30, 29);
  DEVICENAME = MakeLabel(client, "DEVICENAME", "", 420, 10);
  USBImage = new QLabel(client);
  USBImage->setObjectName("USBImage");
  USBImage->setGeometry(510, 6, 33, 22);
  USBImage->setPixmap(pictures::UsbPlug(QSize(33, 22)));
  USBImage->setToolTip("USB");

  auto* list = new SaveListView(client);
  list->ExportSelected = [this] { return ExportSelectedForDrag(); };
  list->pane = "list";
  Savertableview = list;
  Savertableview->setObjectName("Savertableview");
  Savertableview->setGeometry(4, 32, 541, 255);
  Savertableview->setViewMode(QListView::ListMode);
  Savertableview->setFlow(QListView::TopToBottom);
  Savertableview->setWrapping(true);
  Savertableview->setResizeMode(QListView::Adjust);
  Savertableview->setMovement(QListView::Static);
  Savertableview->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Several saves can be selected (Ctrl and Shift) for backup, delete, copy
  // and dragging out; the other commands take the one last clicked.
  Savertableview->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Saves are dragged out as files and save files dropped in (see
  // savedragdrop.cpp); the list never moves its own items.
  Savertableview->setDragEnabled(true);
  Savertableview->setDragDropMode(QAbstractItemView::DragOnly);
  Savertableview->setAcceptDrops(true);
  Savertableview->viewport()->setAcceptDrops(true);
  // Room for the state image left of each 32 x 32 icon, and two columns of
  // items, wide enough for a save folder's whole name.
  Savertableview->setIconSize(QSize(48, 32));
  Savertableview->setGridSize(QSize(266, 38));
  Savertableview->setUniformItemSizes(true);
  QFont list_font = font;
  list_font.setBold(false);
  Savertableview->setFont(list_font);
  OtherList->setFont(list_font);

  SelectLabel = MakeLabel(client, "SelectLabel", "", 8, 294);
  Label6 = MakeLabel(client, "Label6", "SIZE:", 384, 330);
  SAVERSIZELabel = MakeLabel(client, "SAVERSIZELabel", "", 461, 330);
  SAVERSIZELabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
  SetRightAligned(SAVERSIZELabel, "-------- KBytes", 537, 76);

  AppendSaver = MakeButton(client, "AppendSaver", "AppendSaver", QRect(180, 323, 95, 30));
  SaverBackup = MakeButton(client, "SaverBackup", "SaverBackup", QRect(278, 323, 95, 30));
  DeleteSaver = MakeButton(client, "DeleteSaver", "DeleteSaver", QRect(180, 355, 95, 30));
  savereditbtn = MakeButton(client, "savereditbtn", "SaverEdit", QRect(278, 355, 95, 30));
  for (QPushButton* b : {AppendSaver, SaverBackup, DeleteSaver, savereditbtn}) b->setEnabled(false);
  CatalogBtn = MakeButton(client, "CatalogBtn", "OPEN/CATALOG", QRect(180, 387, 193, 30));
  BitBtn1 = MakeButton(client, "BitBtn1", "RESET", QRect(379, 355, 102, 32));
  EXIT = MakeButton(client, "EXIT", "EXIT", QRect(379, 389, 102, 32));
  CatalogBtn->setIcon(QIcon(pictures::Device(static_cast<int>(kPS2Card), QSize(20, 20))));
  BitBtn1->setIcon(QIcon(pictures::Menu(6)));

  Animate1 = new BusyAnimation(client);
  Animate1->setObjectName("Animate1");
  Animate1->setGeometry(491, 365, 48, 45);
  Animate1->hide();

  ProgressBar1 = new QProgressBar(client);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(4, 424, 541, 17);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  Label2 = MakeLabel(client, "Label2", "", 8, 324);
  QFont banner = font;
  banner.setPixelSize(17);
  banner.setItalic(true);
  Label2->setFont(banner);
  QPalette blue = Label2->palette();
  blue.setColor(QPalette::WindowText, QColor(0, 0, 128));
  Label2->setPalette(blue);
  Label5 = MakeLabel(client, "Label5", "", 8, 348);
  Label3 = MakeLabel(client, "Label3", "", 8, 372);
  Label4 = MakeLabel(client, "Label4", "", 8, 390);

  TreeView1 = new QTreeWidget(client);
  TreeView1->setObjectName("TreeView1");
  TreeView1->setHeaderHidden(true);
  TreeView1->hide();
  Memo1 = new QPlainTextEdit(client);
  Memo1->setObjectName("Memo1");
  Memo1->hide();
  Memo2 = new QPlainTextEdit(client);
  Memo2->setObjectName("Memo2");
  Memo2->hide();
  Label7 = MakeLabel(client, "Label7", "Label7", 8, 300);
  Label7->hide();

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName("StatusBar1");
  const char* panel_texts[3] = {"Notthing selected", "", "0 bytes Used."};
  for (int i = 0; i < 3; ++i) {
    StatusPanels[i] = new QLabel(panel_texts[i], StatusBar1);
    StatusPanels[i]->setObjectName(QString("StatusPanel%1").arg(i));
    StatusBar1->addWidget(StatusPanels[i], i == 1 ? 1 : 0);
  }
  setStatusBar(StatusBar1);
  StatusBar1->hide();

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(50);
  Timer2 = new QTimer(this);
  Timer2->setObjectName("Timer2");
  Timer2->setInterval(400);

  connect(CatalogBtn, &QPushButton::clicked, this, &TForm1::CatalogBtnClick);
  connect(AppendSaver, &QPushButton::clicked, this, &TForm1::AppendSaverClick);
  connect(SaverBackup, &QPushButton::clicked, this, &TForm1::SaverBackupClick);
  connect(DeleteSaver, &QPushButton::clicked, this, &TForm1::DeleteSaverClick);
  connect(savereditbtn, &QPushButton::clicked, this, &TForm1::savereditbtnClick);
  connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(EXIT, &QPushButton::clicked, this, &TForm1::EXITClick);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
  ConnectSavePreview();
  BuildSaveMenus();
  BuildSaveViews(client);
  NoteGrowingControls(client);
  connect(Savertableview, &QListWidget::itemSelectionChanged, this,
          &TForm1::SavertableviewSelectItem);
  connect(TreeView1, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { TreeView1MouseDown(item); });
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  File1 = bar->addMenu("&File");
  Tools1 = bar->addMenu("&Tools");
  auto item = [this](QMenu* menu, const char* name, const QString& caption, int image,
                     void (TForm1::*handler)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    if (image >= 0) action->setIcon(QIcon(ImageList3.At(image)));
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  OpenImage1 = item(File1, "OpenImage1", "&Open card image\u2026", -1, &TForm1::OpenImageClick);
  RecentImages1 = File1->addMenu("Open &recent image");
  RecentImages1->setObjectName("RecentImages1");
  NewImage1 = item(File1, "NewImage1", "&New card image\u2026", -1, &TForm1::NewImageClick);
  // A PS2 card of any size devices use; "New card image…" makes 8 MB ones.
  NewImageSizes1 = File1->addMenu("New PS2 card image of si&ze");
  NewImageSizes1->setObjectName("NewImageSizes1");
  for (const int mb : manager::kNewPS2Sizes) {
    QAction* action = NewImageSizes1->addAction(QString("%1 MB\u2026").arg(mb));
    action->setObjectName(QString("NewImage%1MB").arg(mb));
    connect(action, &QAction::triggered, this, [this, mb] { NewImageOfSize(mb); });
  }
  connect(File1->addAction("Open &folder of cards\u2026"), &QAction::triggered, this,
          [this] { OpenFolderOfCards(this, work_folder_); });
  FindReaders1 =
      item(File1, "FindReaders1", "Find PS1 card rea&ders", -1, &TForm1::FindReadersClick);
  File1->addSeparator();
  AppendSaver1 = item(File1, "AppendSaver1", "&Append Saver", 0, &TForm1::AppendSaverClick);
  BackupSaver1 = item(File1, "BackupSaver1", "Backup &Saver", 1, &TForm1::SaverBackupClick);
  File1->addSeparator();
  Exit1 = item(File1, "Exit1", "&Exit", -1, &TForm1::EXITClick);
  DeleteSaver1 = item(Tools1, "DeleteSaver1", "&Delete Saver", 2, &TForm1::DeleteSaverClick);
  EditSaver1 = item(Tools1, "EditSaver1", "&Edit Saver", 3, &TForm1::savereditbtnClick);
  Tools1->addSeparator();
  Erase1 = item(Tools1, "Erase1", "E&xpanded Memory Erase", 4, &TForm1::FormattoPS2Click);
  ExpandedMemorytoPC1 = item(Tools1, "ExpandedMemorytoPC1", "Expanded Memory to &PC Format", 5,
                             &TForm1::FormattoPCClick);
  Tools1->addSeparator();
  UploadPS1Card1 = item(Tools1, "UploadPS1Card1", "&Upload PS1 Card", 1, &TForm1::PS1ReadClick);
  DownloadPS1Card2 =
      item(Tools1, "DownloadPS1Card2", "&Download PS1 Card", 0, &TForm1::PS1writeClick);
  Tools1->addSeparator();
  CheckRepair1 =
      item(Tools1, "CheckRepair1", "Check and repair card", -1, &TForm1::CheckRepairClick);
  Setup1 = item(Tools1, "Setup1", "Setup", 6, &TForm1::SETUPClick);
  Tools1->addSeparator();
  CopySaver1 =
      item(Tools1, "CopySaver1", "&Copy Saver to Other Device", -1, &TForm1::CopySaverClick);
  BuildViewMenu();
}

void TForm1::showEvent(QShowEvent* event) {
  // FormShow and FormPaint: the maker's banner, with the address line as
  // wide as the name above it.
  Label2->setText("TRAVOSK Works");
  Label5->setText("travosk.example.org");
  Label3->setText("PS2 / PS1 Memory Card");
  Label4->setText("and SmartMedia manager");
  for (QLabel* l : {Label2, Label5, Label3, Label4}) l->adjustSize();
  Label5->setFixedWidth(qMax(Label2->width(), Label5->sizeHint().width()));
  QMainWindow::showEvent(event);
}

}  // namespace travosk
