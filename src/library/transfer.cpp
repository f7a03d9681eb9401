// Copying and moving one save between any two cards: cards of the library,
// card images and folder cards elsewhere, and the card in an adapter.
#include <filesystem>
#include <set>

#include "library/cardfiles.h"
#include "library/reorganise.h"

namespace fs = std::filesystem;

namespace travosk::library {

namespace {

using cardfiles::SaveValue;

// One end as the copy works on it: its card file's absolute path (none for
// an adapter's card) and its name in messages.
struct End {
  manager::TPS2MFMSYS* adapter = nullptr;
  fs::path file;
  std::string label;
};

End Resolve(const std::string& root, const CardEnd& end) {
  End e;
  e.adapter = end.adapter;
  if (end.adapter) {
    e.label = end.path.empty() ? "the adapter's card" : end.path;
    return e;
  }
  e.label = end.path;
  // A folder card named "DIR/" is the folder DIR.
  const fs::path path = fs::path(root) / end.path;
  e.file = path.filename().empty() ? path.parent_path() : path;
  return e;
}

bool SameCard(const End& a, const End& b) {
  if (a.adapter || b.adapter) return a.adapter == b.adapter;
  std::error_code ec1, ec2;
  const auto x = fs::weakly_canonical(a.file, ec1), y = fs::weakly_canonical(b.file, ec2);
  return ec1 || ec2 ? a.file.lexically_normal() == b.file.lexically_normal() : x == y;
}

// The card's saves by name, those of `only` read whole.
std::vector<SaveValue> Read(const End& e, const std::set<std::string>& only,
                            const std::string& work_folder, bool& ps1) {
  return e.adapter ? cardfiles::ReadSavesOf(*e.adapter, e.label, ps1, &only)
                   : cardfiles::ReadSaves(e.file.string(), work_folder, ps1, &only);
}

void Change(const End& e, bool ps1, const std::vector<const SaveValue*>& additions,
            const std::vector<std::string>& removals, const std::string& work_folder) {
  if (e.adapter)
    cardfiles::ChangeCard(*e.adapter, e.label, ps1, additions, removals);
  else
    cardfiles::WriteCard(e.file.string(), cardfiles::CardFile::kExisting, ps1, additions,
                         removals, work_folder);
}

}  // namespace

void CopySave(const std::string& root, const CardEnd& from, const std::string& name,
              const CardEnd& to, bool move, const std::string& work_folder) {
  const End source = Resolve(root, from), target = Resolve(root, to);
  if (SameCard(source, target)) throw ReorganiseError("the save is already on " + target.label);
  bool ps1 = false;
  const auto saves = Read(source, {name}, work_folder, ps1);
  const SaveValue* save = nullptr;
  for (const auto& s : saves)
    if (s.name == name) save = &s;
  if (!save) throw ReorganiseError(source.label + ": no save \"" + name + "\"");
  bool target_ps1 = false;
  // Of the target only the names are needed.
  for (const auto& s : Read(target, {}, work_folder, target_ps1))
    if (s.name == name)
      throw ReorganiseError(target.label + ": holds a save \"" + name + "\" already");
  if (target_ps1 != ps1) throw ReorganiseError("PS1 and PS2 saves do not cross cards");
  Change(target, ps1, {save}, {}, work_folder);
  // The save is on the target, read back byte for byte: only now may the
  // source lose it.
  if (move) Change(source, ps1, {}, {name}, work_folder);
}

void CopySave(const std::string& root, const std::string& from, const std::string& name,
              const std::string& to, bool move, const std::string& work_folder) {
  CopySave(root, CardEnd{from, nullptr}, name, CardEnd{to, nullptr}, move, work_folder);
}

}  // namespace travosk::library
