// Card images in the window: "Open card image…", the recent images, "New card
// image…", and the device dialog's choice of an open image.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTextStream>

#include "app/mainwindow.h"
#include "app/strings.h"
#include "app/texts.h"
#include "common/atomic_file.h"
#include "common/errors.h"
#include "formats/foldercard.h"
#include "formats/images.h"
#include "manager/newcard.h"

namespace travosk {
namespace {

constexpr const char* kRecentFile = "recent-images.txt";
constexpr int kRecentCount = 6;

}  // namespace

void TForm1::OpenImageClick() {
  Guarded([this] {
    if (const auto file = ui_.OpenFile(ImageOpenDialog)) OpenCardImage(*file);
  });
}

void TForm1::NewImageClick() { NewImageOfSize(8); }

void TForm1::NewImageOfSize(int megabytes) {
  Guarded([this, megabytes] {
    const auto file = ui_.SaveFile(ImageNewDialog);
    if (!file) return;
    // The image in place must not be open while it is replaced.
    const QString path = QFileInfo(*file).absoluteFilePath();
    for (const auto& image : images_)
      if (image->path == path) {
        ui_.Information("The card image " + path + " is open.");
        return;
      }
    // The layout the name asks for, as the command line's "new" makes it; a
    // name that names no card image gets the emulators' 528-byte pages. The
    // file dialog has asked before an existing file is replaced.
    const auto layouts = formats::ImageFormatsForPath(PathOf(path));
    manager::CreateCardImage(PathOf(path),
                             layouts.empty() ? formats::ImageFormat::kPs2Raw : layouts.front(),
                             megabytes, true);
    OpenCardImage(path);
  });
}

void TForm1::OpenCardImage(const QString& file) {
  Guarded([&] {
    OpenImageFile(file);
    SetOperationCaption(texts::kCatalogLoading);
    repaint();
    selected_ = false;
    ResetSelectionDisplay();
    selected_tree_index_ = 0;
    ChooseImage(current_image_);
    CatalogChosenDevice();
    SetOperationCaption("");
  });
}

OpenedImage& TForm1::OpenImageFile(const QString& file) {
  QString path = QFileInfo(file).absoluteFilePath();
  // A folder card is chosen in the file dialog by its superblock file.
  if (QFileInfo(path).fileName() == QString::fromUtf8(formats::kFolderCardSuperblock.data(),
                                                      formats::kFolderCardSuperblock.size()))
    path = QFileInfo(path).absolutePath();
  for (size_t i = 0; i < images_.size(); ++i)
    if (images_[i]->path == path) {
      current_image_ = static_cast<int>(i);
      RememberRecentImage(path);
      return *images_[i];
    }
  // The image layer tells the layout by the file's size and header, so the
  // image is written back in the format it came in.
  manager::ImageSessionOptions opening;
  opening.card = PathOf(path);
  opening.work_folder = PathOf(work_folder_);
  auto image = std::make_unique<OpenedImage>();
  image->session = std::make_unique<manager::ImageSession>(opening);
  // A bad setting was told of when the adapter's card manager started.
  const formats::ImageKind& layout = *image->session->CardKind();
  image->path = path;
  image->kind = layout.ps1 ? kPS1Card : kPS2Card;
  image->format = layout.format;
  image->read_only = layout.read_only;
  image->manager = &image->session->Manager();
  image->manager->Beep = [this] { OnWindowThread([this] { ui_.Beep(); }); };
  image->session->Link().SetMessageSink([this](const std::string& text) {
    OnWindowThread([&] { ui_.Information(QString::fromStdString(text)); });
  });
  BindCardManagerEvents(*image->manager);
  images_.push_back(std::move(image));
  current_image_ = static_cast<int>(images_.size()) - 1;
  RememberRecentImage(path);
  return *images_.back();
}

void TForm1::ChooseImage(int index) {
  OpenedImage& image = *images_.at(static_cast<size_t>(index));
  current_image_ = index;
  card_ = image.manager;
  Card().Access().Medium = Slot::kCard;
  current_device_ = image.kind;
  DEVICENAME->setText(image.kind == kPS1Card ? "PS1 CARD" : "PS2 CARD");
  DEVICENAME->adjustSize();
  DEVICENAME->setToolTip(image.path);
}

bool TForm1::RefuseReadOnly(int image) {
  if (image < 0 || image >= static_cast<int>(images_.size()) || !images_[image]->read_only)
    return false;
  ui_.Beep();
  ui_.Information("The card image " + images_[image]->path +
                  " is open for reading only: its format's signature cannot be made here.");
  return true;
}

QStringList TForm1::RecentImages() const {
  QFile f(work_folder_ + kRecentFile);
  QStringList out;
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return out;
  QTextStream in(&f);
  while (!in.atEnd() && out.size() < kRecentCount) {
    const QString line = in.readLine();
    if (!line.isEmpty() && !out.contains(line)) out << line;
  }
  return out;
}

void TForm1::RememberRecentImage(const QString& path) {
  QStringList recent = RecentImages();
  recent.removeAll(path);
  recent.prepend(path);
  while (recent.size() > kRecentCount) recent.removeLast();
  // A list that cannot be kept is no reason to fail the command.
  try {
    AtomicFile out(PathOf(work_folder_ + kRecentFile));
    for (const QString& p : recent) out.stream() << p.toStdString() << '\n';
    out.Commit();
  } catch (const std::exception&) {
  }
  FillRecentImagesMenu();
}

void TForm1::FillRecentImagesMenu() {
  RecentImages1->clear();
  const QStringList recent = RecentImages();
  for (const QString& path : recent) {
    QAction* a = RecentImages1->addAction(QFileInfo(path).fileName());
    a->setToolTip(path);
    connect(a, &QAction::triggered, this, [this, path] { OpenCardImage(path); });
  }
  RecentImages1->setEnabled(!recent.isEmpty());
}

}  // namespace travosk
