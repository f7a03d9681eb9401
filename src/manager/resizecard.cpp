#include "manager/resizecard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "formats/save.h"
#include "manager/cardroom.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"

namespace travosk::manager {

namespace {

std::vector<formats::Ps2Save> ReadSaves(const std::string& from, const std::string& work_folder) {
  ImageSessionOptions opening;
  opening.card = from;
  opening.card_unwritten = true;
  opening.work_folder = work_folder;
  ImageSession session(opening);
  if (!session.CardKind() || session.CardKind()->ps1)
    throw InOutError(from, "not a PS2 card image: --size moves the saves of a PS2 card");
  TPS2MFMSYS& m = session.Manager();
  m.Access().Medium = Slot::kCard;
  std::vector<card::TfileIP> folders;
  std::vector<std::string> loose;
  m.OnAddrootNode = [&](card::TfileIP& x) {
    if (x.Deleted || x.IsDotName()) return;
    if (x.Dir)
      folders.push_back(x);
    else
      loose.push_back(x.Name);
  };
  const bool listed = m.Catalog();
  m.OnAddrootNode = nullptr;
  if (!listed)
    throw InOutError(from, m.LastError().empty() ? "the card could not be read" : m.LastError());
  if (!loose.empty())
    throw InOutError(from, "the root holds \"" + loose.front() +
                               "\", a file outside any save, which cannot be moved");
  std::vector<formats::Ps2Save> saves(folders.size());
  for (size_t i = 0; i < folders.size(); ++i) {
    bool isbreak = false;
    try {
      m.ReadSaveFromCard(folders[i], saves[i], isbreak);
    } catch (const CardError& e) {
      throw InOutError(from, e.what());
    }
  }
  return saves;
}

// Removes the card being made unless it was put in place.
struct Unplaced {
  std::string path;
  bool placed = false;
  ~Unplaced() {
    if (!placed) ::unlink(path.c_str());
  }
};

}  // namespace

void ResizeCardImage(const std::string& from, const std::string& to, formats::ImageFormat layout,
                     int megabytes, const std::string& work_folder, bool overwrite) {
  if (formats::IsPs1Image(layout))
    throw InOutError(to, "a PS1 card has one size: --size is for PS2 cards");
  struct stat st {};
  if (::stat(to.c_str(), &st) == 0 && !overwrite)
    throw InOutError(to, S_ISDIR(st.st_mode) ? "is a folder" : "the file exists");
  const auto saves = ReadSaves(from, work_folder);

  Unplaced made{to + ".resize-" + std::to_string(::getpid())};
  CreateCardImage(made.path, layout, megabytes, true);
  {
    ImageSessionOptions opening;
    opening.card = made.path;
    opening.work_folder = work_folder;
    ImageSession session(opening);
    TPS2MFMSYS& m = session.Manager();
    m.Access().Medium = Slot::kCard;
    if (!m.Catalog()) throw InOutError(to, "the new card could not be read back");
    // The root gains a cluster for every second save past its "." and "..".
    const uint64_t free = FreeClusters(m.Volume());
    uint64_t needed = (saves.size() + 2 + 1) / 2 - 1;
    std::string left_out;
    for (const auto& save : saves) {
      const uint64_t takes = save.Clusters() - 1;
      if (needed + takes <= free) {
        needed += takes;
      } else {
        left_out += (left_out.empty() ? "" : ", ") + save.Name() + " (" +
                    std::to_string(takes) + " KB)";
      }
    }
    if (!left_out.empty())
      throw InOutError(to, "a card of " + std::to_string(megabytes) + " MB has " +
                               std::to_string(free) + " KB free; these saves do not fit: " +
                               left_out);
    for (const auto& save : saves) {
      card::TfileIP target;
      if (!m.AppendSave(save, target))
        throw InOutError(to, "save " + save.Name() + " was not written: " +
                                 (m.LastError().empty() ? "the card refused it" : m.LastError()));
    }
  }
  if (overwrite ? ::rename(made.path.c_str(), to.c_str()) != 0
                : ::link(made.path.c_str(), to.c_str()) != 0)
    throw InOutError(to, errno == EEXIST ? "the file exists" : std::strerror(errno));
  made.placed = overwrite;
}

}  // namespace travosk::manager
