// PS1 card readers in the window: "Find PS1 card readers" opens each reader
// found as a card beside the open images, so that the device dialog offers
// it and every PS1 command (list, backup, restore, delete, copy, whole-card
// read and write, format) runs through it as through the adapter.
#include <algorithm>

#include "app/mainwindow.h"
#include "app/strings.h"
#include "link/readers.h"

namespace travosk {

void TForm1::FindReadersClick() {
  Guarded([this] {
    SetOperationCaption("Find PS1 card readers");
    ShowNotify("Looking for PS1 card readers..");
    StartBusy();
    // A reader open already is not probed again: it stays as it is.
    std::vector<std::string> open;
    for (const auto& image : images_)
      if (image->reader) open.push_back(PathOf(image->path));
    std::vector<link::ReaderFound> found;
    CardWork([&] { found = link::FindReaders({}, open); });
    StopBusy();
    HideNotify();
    int first_new = -1;
    QStringList missed;
    for (link::ReaderFound& f : found) {
      const QString port = QString::fromStdString(f.port);
      if (!f.device) {
        missed << port + ": " + QString::fromStdString(f.why);
        continue;
      }
      auto image = std::make_unique<OpenedImage>();
      image->path = port;
      image->kind = kPS1Card;
      image->reader =
          std::make_unique<manager::ReaderSession>(std::move(f.device), PathOf(work_folder_));
      image->manager = &image->reader->Manager();
      image->manager->Beep = [this] { OnWindowThread([this] { ui_.Beep(); }); };
      BindCardManagerEvents(*image->manager);
      images_.push_back(std::move(image));
      if (first_new < 0) first_new = static_cast<int>(images_.size()) - 1;
    }
    if (first_new < 0) {
      const bool any_open = std::any_of(images_.begin(), images_.end(),
                                        [](const auto& image) { return image->reader != nullptr; });
      QString text = any_open ? QString("No other PS1 card reader was found.")
                              : QString("No PS1 card reader was found.");
      if (!missed.isEmpty()) text += "\n" + missed.join("\n");
      ui_.Information(text);
      SetOperationCaption("");
      return;
    }
    selected_ = false;
    ResetSelectionDisplay();
    selected_tree_index_ = 0;
    ChooseImage(first_new);
    if (ReaderHoldsCard()) CatalogChosenDevice();
    SetOperationCaption("");
  });
}

bool TForm1::ReaderHoldsCard() {
  if (current_image_ < 0 || current_image_ >= static_cast<int>(images_.size())) return true;
  manager::ReaderSession* reader = images_[static_cast<size_t>(current_image_)]->reader.get();
  if (!reader) return true;
  const std::string problem = CardWork([&] { return reader->CardProblem(); });
  if (problem.empty()) return true;
  ui_.Beep();
  ui_.Information(QString::fromStdString(problem));
  return false;
}

}  // namespace travosk
