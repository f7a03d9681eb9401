// Commands on PS2 cards and SmartMedia.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>

#include "card/checker.h"
#include "card/formatter.h"
#include "card/repair.h"
#include "cli/commands.h"
#include "manager/listing.h"
#include "cli/outputs.h"
#include "common/atomic_file.h"
#include "common/errors.h"
#include "common/sjis.h"
#include "formats/files.h"
#include "formats/images.h"
#include "manager/cardroom.h"
#include "manager/findsave.h"
#include "manager/keepboth.h"
#include "manager/savereplace.h"

namespace travosk::cli {

using card::TfileIP;

bool OpenListedSave(Context& c, const std::string& name, FoundSave& found, int& code) {
  found.source = OpenPS2(c, code);
  if (!found.source) return false;
  std::string error;
  if (!manager::ListCard(found.source->Manager(), found.listing, error)) {
    code = c.Fail(error);
    return false;
  }
  for (const auto& s : found.listing.saves)
    if (s.folder.Name == name) {
      found.save = &s;
      return true;
    }
  code = c.Fail("no save \"" + name + "\" on the card");
  return false;
}

namespace {

int ListSaves(Context& c) {
  int code = kExitOk;
  auto source = OpenPS2(c, code);
  if (!source) return code;
  manager::CardListing listing;
  std::string error;
  if (!manager::ListCard(source->Manager(), listing, error)) return c.Fail(error);
  if (c.json) {
    c.out << "{\"saves\": [";
    for (size_t i = 0; i < listing.saves.size(); ++i) {
      const auto& s = listing.saves[i];
      c.out << (i ? ", " : "") << "{\"name\": " << JsonString(s.folder.Name)
            << ", \"title\": " << JsonString(DecodeShiftJis(s.title)) << ", \"title_lines\": ["
            << JsonString(DecodeShiftJis(s.title_lines[0])) << ", "
            << JsonString(DecodeShiftJis(s.title_lines[1])) << "], \"size\": " << s.size << "}";
    }
    c.out << "], \"used\": " << listing.used << ", \"free\": " << listing.free
          << ", \"capacity\": " << listing.capacity;
    if (source->ImageFormat())
      c.out << ", \"format\": " << JsonString(source->ImageLayoutName());
    c.out << "}\n";
    return kExitOk;
  }
  for (const auto& s : listing.saves)
    c.out << std::left << std::setw(32) << s.folder.Name << " " << std::right << std::setw(9)
          << s.size << "  " << DecodeShiftJis(s.title) << "\n";
  c.out << listing.saves.size() << " saves, " << listing.used << " bytes used, " << listing.free
        << " bytes free of " << listing.capacity << "\n";
  if (source->ImageFormat()) c.out << "image format: " << source->ImageLayoutName() << "\n";
  return kExitOk;
}

int ListSave(Context& c, const std::string& name) {
  int code = kExitOk;
  FoundSave found;
  if (!OpenListedSave(c, name, found, code)) return code;
  const manager::ListedSave* row = found.save;
  if (c.json) c.out << "{\"name\": " << JsonString(name) << ", \"files\": [";
  for (size_t i = 0; i < row->files.size(); ++i) {
    const auto& f = row->files[i];
    const uint16_t mode = static_cast<uint16_t>(f.Header[0] | (f.Header[1] << 8));
    const std::string created = card::FormatCardTimeLocal(Bytes(f.Header).subspan(card::entry::kCreated, 8));
    const std::string modified = card::FormatCardTimeLocal(Bytes(f.Header).subspan(card::entry::kModified, 8));
    if (c.json) {
      c.out << (i ? ", " : "") << "{\"name\": " << JsonString(f.Name) << ", \"size\": "
            << f.Length() << ", \"mode\": " << mode << ", \"created\": " << JsonString(created)
            << ", \"modified\": " << JsonString(modified) << "}";
    } else {
      char mode_text[8];
      std::snprintf(mode_text, sizeof mode_text, "%04x", mode);
      c.out << std::left << std::setw(32) << f.Name << " " << std::right << std::setw(9)
            << f.Length() << "  " << mode_text << "  " << created << "  " << modified << "\n";
    }
  }
  if (c.json) c.out << "]}\n";
  return kExitOk;
}

int BackupSave(Context& c, const std::string& name, const std::string& file,
               const std::string& format_name, bool overwrite) {
  int code = kExitOk;
  if (!MayWrite(c, file, overwrite, code)) return code;
  const auto format = ChooseSaveFormat(c, file, format_name,
                                       {formats::SaveFormat::kPsu, formats::SaveFormat::kMax},
                                       "PS2 save", code);
  if (!format) return code;
  card::TfileIP folder;
  auto source = OpenPS2Save(c, name, folder, code);
  if (!source) return code;
  auto& m = source->Manager();
  c.AttachProgress(m, "Backing up");
  if (const auto backed_up = m.BackupSave(file, folder, *format); !backed_up)
    return FailWithReason(c, backed_up, "backup failed");
  c.EndProgress();
  return kExitOk;
}

int BackupAll(Context& c, const std::string& folder, const std::string& format_name,
              bool overwrite) {
  const auto format = formats::FormatByName(format_name.empty() ? "psu" : format_name);
  if (!format || formats::IsPs1Format(*format))
    return c.Fail("a PS2 save is written as psu or max, not " + format_name);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder)) return c.Fail("\"" + folder + "\" is not a folder");
  int code = kExitOk;
  auto source = OpenPS2(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  manager::CardListing listing;
  std::string error;
  if (!manager::ListCard(m, listing, error)) return c.Fail(error);
  // Every name is settled before anything is written: a file that exists is
  // replaced with --overwrite, kept when the user at a terminal says so, and
  // else stops the run before its first backup. Two saves of one name (a
  // card may hold both) get files of their own.
  const std::string extension = "." + std::string(formats::FormatName(*format));
  std::vector<std::pair<card::TfileIP, std::string>> jobs;
  std::vector<std::string> kept;
  std::set<std::string> taken;
  for (const auto& s : listing.saves) {
    const std::string& name = s.folder.Name;
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
      return c.Fail("save \"" + name + "\" has no name a file can take");
    std::string path = folder + "/" + name + extension;
    if (taken.count(path)) {
      path = manager::KeptCopyPath(folder, name, extension);
      for (int n = 2; taken.count(path); ++n)
        path = folder + "/" + name + "_" + std::to_string(n) + extension;
    } else if (!overwrite && std::filesystem::exists(path)) {
      if (!c.terminal.input_is_tty)
        return c.Fail("\"" + path + "\" exists: add --overwrite to replace it");
      c.err << "\"" << path << "\" exists. Replace it? [y/N] " << std::flush;
      std::string answer;
      std::getline(c.in, answer);
      if (answer != "y" && answer != "Y" && answer != "yes") {
        kept.push_back(path);
        continue;
      }
    }
    taken.insert(path);
    jobs.emplace_back(s.folder, path);
  }
  c.AttachProgress(m, "Backing up");
  for (auto& [save, path] : jobs) {
    if (const auto backed_up = m.BackupSave(path, save, *format); !backed_up)
      return FailWithReason(c, backed_up, "backup of \"" + save.Name + "\" failed");
    if (!c.json) c.out << path << "\n";
  }
  c.EndProgress();
  if (c.json) {
    c.out << "{\"files\": [";
    for (size_t i = 0; i < jobs.size(); ++i) c.out << (i ? ", " : "") << JsonString(jobs[i].second);
    c.out << "], \"kept\": [";
    for (size_t i = 0; i < kept.size(); ++i) c.out << (i ? ", " : "") << JsonString(kept[i]);
    c.out << "]}\n";
  } else if (!kept.empty()) {
    for (const auto& path : kept) c.out << "kept as it was: " << path << "\n";
    c.out << jobs.size() << " of " << listing.saves.size() << " saves backed up; " << kept.size()
          << (kept.size() == 1 ? " file that existed was" : " files that existed were")
          << " kept and holds no backup of this card\n";
  }
  return kExitOk;
}

}  // namespace

int List(Context& c, const ListOptions& o) {
  c.source.only_reads = true;  // an image that may not be written is opened read-only
  return o.save.empty() ? ListSaves(c) : ListSave(c, o.save);
}

int Backup(Context& c, const BackupOptions& o) {
  c.source.only_reads = true;  // an image that may not be written is opened read-only
  if (!o.all_folder.empty()) {
    if (!o.save.empty()) return c.Fail("give --all DIR or SAVE FILE, not both");
    return BackupAll(c, o.all_folder, o.format, o.overwrite);
  }
  if (o.save.empty() || o.file.empty()) return c.Fail("give SAVE FILE, or --all DIR");
  return BackupSave(c, o.save, o.file, o.format, o.overwrite);
}

int Extract(Context& c, const ExtractOptions& o) {
  c.source.only_reads = true;  // an image that may not be written is opened read-only
  const auto slash = o.save_file.find('/');
  if (slash == std::string::npos) return c.Fail("name the file as SAVE/FILE");
  const std::string save = o.save_file.substr(0, slash), name = o.save_file.substr(slash + 1);
  int code = kExitOk;
  FoundSave found;
  if (!OpenListedSave(c, save, found, code)) return code;
  for (const auto& f : found.save->files) {
    if (f.Name != name) continue;
    std::string data;
    if (!manager::ReadFileData(found.source->Manager(), f, data))
      return c.Fail("the file's clusters could not be read in full");
    AtomicFile file(o.out);
    file.stream().write(data.data(), static_cast<std::streamsize>(data.size()));
    file.Commit();
    return kExitOk;
  }
  return c.Fail("no file \"" + name + "\" in save \"" + save + "\"");
}

int DeleteSave(Context& c, const DeleteOptions& o) {
  const std::string& name = o.save;
  int code = kExitOk;
  card::TfileIP folder;
  auto source = OpenPS2Save(c, name, folder, code);
  if (!source) return code;
  auto& m = source->Manager();
  int refused = kExitOk;
  if (!c.Confirm("Delete save \"" + name + "\"?", refused)) return refused;
  c.AttachProgress(m, "Deleting");
  if (const auto deleted = m.DeleteSaveFolder(folder); !deleted)
    return FailWithReason(c, deleted, "delete failed");
  c.EndProgress();
  return kExitOk;
}

int FormatCard(Context& c, const NoOptions&) {
  int code = kExitOk;
  auto source = OpenPS2(c, code, "Erase the whole card? Every save on it will be lost.");
  if (!source) return code;
  auto& m = source->Manager();
  c.AttachProgress(m, "Erasing");
  if (!m.FormatCard()) return FailWithReason(c, m, "erase failed");
  c.EndProgress();
  return kExitOk;
}

int MakeFileSystem(Context& c, const NoOptions&) {
  int code = kExitOk;
  auto source =
      OpenPS2(c, code, "Write an empty file system? Every save on the card will be lost.");
  if (!source) return code;
  auto& m = source->Manager();
  // Written past the cache: whatever it knew of the card is gone.
  m.Cache().ResetCache();
  if (!card::FormatFileSystem(m.Access(), std::time(nullptr)))
    return c.Fail("format failed: the card could not be written");
  return kExitOk;
}

int RestoreSave(Context& c, const RestoreOptions& o) {
  const std::string& file = o.file;
  if (const int refused = RefuseOverwriteAndKeepBoth(c, o)) return refused;
  if (int code = kExitOk; RefuseFolder(c, file, code)) return code;
  // The file is read once: its name and size decide what happens, and the
  // same value goes onto the card.
  std::optional<formats::Ps2Save> save;
  std::string unreadable;
  try {
    save = formats::ReadPs2SaveFile(file);
  } catch (const formats::FormatError& e) {
    unreadable = e.what();
  } catch (const InOutError& e) {
    unreadable = e.reason();
  }
  if (!save) return c.Fail("\"" + file + "\" is not a save that can be restored" +
                       (unreadable.empty() ? "" : ": " + Reason(unreadable)));
  const std::string name = save->Name();
  int code = kExitOk;
  auto source = OpenPS2(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  if (!m.Catalog()) return FailUnreadable(c, m, "restore failed");
  c.AttachProgress(m, "Restoring");
  // A card that cannot be read now may hold the save all the same: going on
  // would put a second copy beside it instead of replacing it.
  bool unread = false;
  auto existing = manager::FindSave(m, name, &unread);
  if (unread) return FailUnreadable(c, m, "restore failed");
  if (existing && !o.keep_both) {
    if (!MayReplace(c, o, name, code)) return code;
    const std::string kept = manager::KeptCopyPath(m.WorkFolder() + "savers", name, ".psu");
    const auto result = manager::ReplaceSave(m, *save, *existing, kept);
    const std::string why = m.LastError().empty() ? "" : ": " + m.LastError();
    return ReplaceOutcome(
        c, result, kept, "the save on the card could not be backed up, so nothing was changed" + why);
  }
  if (save->Clusters() > manager::FreeClusters(m.Volume()))
    return c.Fail("not enough free space on the card");
  // Beside a save of the same name the new one takes a name of its own.
  std::string placed;
  if (!manager::AppendSaveKeepingBoth(m, *save, placed))
    return FailWithReason(c, m, "restore failed");
  c.EndProgress();
  if (placed != name)
    c.err << "Save \"" << name << "\" was already on the card: the restored copy is \"" << placed
          << "\"\n";
  return kExitOk;
}

int PcFormat(Context& c, const PcFormatOptions& o) {
  const std::string& size = o.size;
  c.source.slot = "smartmedia";
  auto source = std::make_unique<Source>(c.source);
  auto& m = source->Manager();
  m.Access().Medium = Slot::kSmartMedia;
  if (!source->FromImage() && source->Link().DevicePath().empty())
    return c.Fail("no adapter found");
  if (!m.CheckLink()) return c.Fail("no SmartMedia in the adapter");
  const std::string image = "pcf" + size + ".bin";
  const std::string target = m.WorkFolder() + image;
  if (!std::filesystem::exists(target)) {
    // The supplied images live beside the programs; the working folder gets a copy.
    std::string from;
    if (const char* data = std::getenv("TRAVOSK_DATA")) from = std::string(data) + "/" + image;
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (const auto& dir : {self / "../data", self / "../share/travosk"})
      if (from.empty() || !std::filesystem::exists(from)) from = (dir / image).string();
    if (!std::filesystem::copy_file(from, target, ec))
      return c.Fail("the PC-card image \"" + image + "\" is missing (looked for \"" + from + "\")");
  }
  int refused = kExitOk;
  if (!c.Confirm("Turn the SmartMedia into a PC card? Every save on it will be lost.", refused))
    return refused;
  c.AttachProgress(m, "Formatting");
  if (!m.FormatToPC(image))
    return FailWithReason(c, m, "the SmartMedia could not be turned into a PC card");
  c.EndProgress();
  return kExitOk;
}

}  // namespace travosk::cli

namespace travosk::cli {

namespace {

void PrintReport(Context& c, const card::CheckReport& report) {
  if (c.json) {
    c.out << "{\"healthy\": " << (report.Healthy() ? "true" : "false") << ", \"findings\": [";
    for (size_t i = 0; i < report.findings.size(); ++i) {
      const auto& f = report.findings[i];
      c.out << (i ? ", " : "") << "{\"kind\": " << JsonString(card::KindName(f.kind))
            << ", \"where\": " << JsonString(f.where) << ", \"what\": " << JsonString(f.what) << "}";
    }
    c.out << "], \"directories\": " << report.directories << ", \"files\": " << report.files
          << ", \"clusters_in_use\": " << report.clusters_in_use << "}\n";
  } else {
    for (const auto& f : report.findings)
      c.out << card::KindName(f.kind) << ": " << f.where << ": " << f.what << "\n";
    c.out << report.directories << " folders, " << report.files << " files, "
          << report.clusters_in_use << " clusters in use: "
          << (report.Healthy() ? "no problems found" : std::to_string(report.findings.size()) + " problems")
          << "\n";
  }
}

// Shows the plan, asks (or takes --yes), commits it and checks again.
int Repair(Context& c, card::TPSFilemanager& volume) {
  const auto plan = card::PlanRepair(volume);
  for (const auto& r : plan.refusals) c.err << "travosk-cli: cannot repair safely: " << r << "\n";
  if (!plan.refusals.empty()) return c.Fail("nothing was repaired");
  if (plan.actions.empty()) return c.Fail("nothing the repair can mend");
  c.err << "Repair plan:\n";
  for (const auto& a : plan.actions) c.err << "  " << a.where << ": " << a.what << "\n";
  int refused = kExitOk;
  if (!c.Confirm("Repair the card as planned?", refused)) return refused;
  card::ApplyRepair(volume, plan);
  if (!volume.Mount()) return c.Fail("the card no longer mounts after the repair");
  const auto after = card::CheckFileSystem(volume);
  c.err << "Repaired " << plan.actions.size() << " problems.\n";
  PrintReport(c, after);
  return after.Healthy() ? kExitOk : kExitFailed;
}

}  // namespace

int Check(Context& c, const CheckOptions& o) {
  const bool repair = o.repair;
  c.source.only_reads = !repair;
  int code = kExitOk;
  auto source = OpenPS2(c, code);
  if (!source) return code;
  auto& volume = source->Manager().Volume();
  if (!volume.Mount())
    return c.Fail("check failed: " + (volume.LastError().empty()
                                          ? std::string("the card carries no PS2 file system")
                                          : Reason(volume.LastError())));
  const auto report = card::CheckFileSystem(volume);
  if (repair && !report.Healthy()) {
    if (!c.json) PrintReport(c, report);
    return Repair(c, volume);
  }
  PrintReport(c, report);
  return report.Healthy() ? kExitOk : kExitFailed;
}

}  // namespace travosk::cli
