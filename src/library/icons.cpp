#include "library/icons.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "common/slots.h"
#include "manager/icons.h"
#include "manager/imagesession.h"
#include "manager/listing.h"
#include "manager/saveicon.h"

namespace travosk::library {

namespace {

manager::RgbaImage FramePicture(const manager::DecodedIcon& frame, int size) {
  manager::RgbaImage image{manager::kIconSide, manager::kIconSide, {}};
  image.pixels.reserve(manager::kIconSide * manager::kIconSide * 4);
  for (size_t i = 0; i < frame.rgb.size(); i += 3) {
    image.pixels.insert(image.pixels.end(), frame.rgb.begin() + static_cast<ptrdiff_t>(i),
                        frame.rgb.begin() + static_cast<ptrdiff_t>(i) + 3);
    image.pixels.push_back(255);
  }
  return manager::ScaleNearest(image, size);
}

void Ps2Pictures(manager::TPS2MFMSYS& m, const CardEntry& card, int size,
                 std::vector<manager::RgbaImage>& out) {
  manager::CardListing listing;
  std::string error;
  if (!manager::ListCard(m, listing, error)) return;
  std::map<std::string, const manager::ListedSave*> by_name;
  for (const auto& s : listing.saves) by_name.emplace(s.folder.Name, &s);
  for (size_t i = 0; i < card.saves.size(); ++i) {
    const auto found = by_name.find(card.saves[i].name);
    if (found == by_name.end() || found->second->files.empty()) continue;
    const manager::ListedSave& save = *found->second;
    if (save.icon_sys) {
      if (auto icon = manager::LoadSaveIcon(m, save.files, error)) {
        manager::IconView view;
        view.size = size;
        view.transparent = true;
        out[i] = manager::RenderIcon(icon->icon, icon->look, view);
      }
    } else if (save.ps1_save) {
      card::TfileIP file = save.files.back();
      const auto icons = manager::LoadFolderPS1Icons(m, file);
      if (!icons.frames.empty()) out[i] = FramePicture(icons.frames.front(), size);
    }
  }
}

void Ps1Pictures(manager::TPS2MFMSYS& m, const CardEntry& card, int size,
                 std::vector<manager::RgbaImage>& out) {
  if (!m.PS1Catalog()) return;
  for (size_t i = 0; i < card.saves.size(); ++i) {
    const int entry = card.saves[i].entry;
    if (entry < 0 || entry >= static_cast<int>(m.PS1Card.Items.size())) continue;
    if (m.PS1Card.Items[entry].IconFrames <= 0) continue;
    const auto icons = manager::LoadCardPS1Icons(m, entry, 1);
    if (!icons.frames.empty()) out[i] = FramePicture(icons.frames.front(), size);
  }
}

}  // namespace

std::vector<manager::RgbaImage> SavePictures(const std::string& root, const CardEntry& card,
                                             int size, const std::string& work_folder) {
  std::vector<manager::RgbaImage> out(card.saves.size());
  if (!card.readable || card.saves.empty()) return out;
  try {
    // A whole session that never writes the card: a PS1 icon's frames pass
    // through the work folder's files, as they do for the save list.
    manager::ImageSessionOptions options;
    options.card = (std::filesystem::path(root) / card.path).string();
    options.card_unwritten = true;
    options.work_folder = work_folder;
    manager::ImageSession session(options);
    auto& m = session.Manager();
    m.Access().Medium = Slot::kCard;
    if (m.CheckLink())
      Ps2Pictures(m, card, size, out);
    else if (m.Access().IsPS1Card)
      Ps1Pictures(m, card, size, out);
  } catch (const std::exception&) {
    // What was drawn before the card failed stays; the rest keep none.
  }
  return out;
}

}  // namespace travosk::library
