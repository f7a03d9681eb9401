// Commands on PS1 cards.
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "cli/commands.h"
#include "cli/outputs.h"
#include "common/errors.h"
#include "common/sjis.h"
#include "formats/files.h"
#include "formats/images.h"
#include "link/ps2mcom.h"
#include "manager/keepboth.h"
#include "manager/ps1card.h"
#include "manager/savereplace.h"

namespace travosk::cli {

namespace {

std::unique_ptr<Source> OpenPS1(Context& c, int& code) {
  c.source.slot = "card";
  auto source = std::make_unique<Source>(c.source);
  auto& m = source->Manager();
  m.Access().Medium = Slot::kCard;
  if (manager::ReaderSession* reader = source->ReaderSession()) {
    if (const std::string problem = reader->CardProblem(); !problem.empty()) {
      code = c.Fail(problem);
      return nullptr;
    }
    return source;
  }
  if (!source->FromImage() && source->Link().DevicePath().empty()) {
    code = c.Fail("no adapter found");
    return nullptr;
  }
  if (m.CheckLink()) {
    code = c.Fail("the card is a PS2 card (use the commands without ps1)");
    return nullptr;
  }
  if (!m.Access().IsPS1Card) {
    code = c.Fail("no card in the card slot");
    return nullptr;
  }
  return source;
}

// The card of a command that writes: an image opened read only is refused
// before anything else happens, rather than taking no change and reporting
// success. `question`, when given, is asked next as Context::Confirm does.
std::unique_ptr<Source> OpenPS1ForChange(Context& c, int& code, const std::string& question = {}) {
  auto source = OpenPS1(c, code);
  if (source && source->ReadOnlyImage()) {
    code = c.Fail("\"" + c.source.image +
                  "\" is a PSP .vmp image and is opened read only: a changed card would need a "
                  "new signature, which this system does not make (convert it to .mcr, .gme or "
                  ".vgs to change it)");
    return nullptr;
  }
  if (source && !question.empty() && !c.Confirm(question, code)) return nullptr;
  return source;
}

// The user counts blocks 1..15 where the card's entries count from 0: the
// one conversion, made as a command takes its option.
int EntryOfBlock(int block) { return block - 1; }
int BlockOfEntry(int entry) { return entry + 1; }

// The record of the save whose first block is entry `entry`, after a scan;
// null (with the failure reported in `code`) when no save starts there.
const manager::TPs1FileitemRec* SaveAt(Context& c, manager::TPS2MFMSYS& m, int entry, int& code) {
  if (!m.ScanPS1()) {
    code = FailWithReason(c, m, "the card could not be read");
    return nullptr;
  }
  const auto& item = m.PS1Card.Items[entry];
  if (!manager::IsPS1Save(item)) {
    code = c.Fail("no save starts in block " + std::to_string(BlockOfEntry(entry)));
    return nullptr;
  }
  return &item;
}

}  // namespace

int PS1List(Context& c, const NoOptions&) {
  c.source.only_reads = true;  // an image that may not be written is opened read-only
  int code = kExitOk;
  auto source = OpenPS1(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  c.AttachProgress(m, "Reading");
  if (!m.PS1Catalog()) return FailWithReason(c, m, "the card could not be read");
  c.EndProgress();
  const auto format = source->ImageFormat();
  if (!m.PS1Card.Formatted) {
    if (c.json) {
      c.out << "{\"formatted\": false, \"saves\": []";
      if (format)
        c.out << ", \"format\": " << JsonString(std::string(formats::ImageFormatName(*format)));
      c.out << "}\n";
    } else {
      c.out << "the card is not formatted\n";
      if (format) c.out << "image format: " << formats::ImageFormatName(*format) << "\n";
    }
    return kExitOk;
  }
  const auto entries = manager::PS1SaveEntries(m.PS1Card);
  int64_t used = 0;
  if (c.json) c.out << "{\"formatted\": true, \"saves\": [";
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& item = m.PS1Card.Items[entries[i]];
    used += item.Size;
    if (c.json) {
      c.out << (i ? ", " : "") << "{\"block\": " << BlockOfEntry(entries[i])
            << ", \"name\": " << JsonString(item.FileName)
            << ", \"title\": " << JsonString(DecodeShiftJis(item.Title))
            << ", \"size\": " << item.Size << "}";
    } else {
      c.out << std::setw(2) << BlockOfEntry(entries[i]) << "  " << std::left << std::setw(21)
            << item.FileName << std::right << " " << std::setw(7) << item.Size << "  "
            << DecodeShiftJis(item.Title) << "\n";
    }
  }
  const int64_t free = manager::kPS1Capacity - used;
  if (c.json) {
    c.out << "], \"used\": " << used << ", \"free\": " << free
          << ", \"capacity\": " << manager::kPS1Capacity;
    if (format)
      c.out << ", \"format\": " << JsonString(std::string(formats::ImageFormatName(*format)));
    c.out << "}\n";
  } else {
    c.out << entries.size() << " saves, " << used << " bytes used, " << free << " bytes free\n";
    if (format) c.out << "image format: " << formats::ImageFormatName(*format) << "\n";
  }
  return kExitOk;
}

int PS1Backup(Context& c, const PS1BackupOptions& o) {
  c.source.only_reads = true;  // an image that may not be written is opened read-only
  const int entry = EntryOfBlock(o.block);
  const std::string& file = o.file;
  int code = kExitOk;
  if (!MayWrite(c, file, o.overwrite, code)) return code;
  const auto format = ChooseSaveFormat(
      c, file, o.format,
      {formats::SaveFormat::kMcs, formats::SaveFormat::kPsx, formats::SaveFormat::kRaw},
      "PS1 save", code);
  if (!format) return code;
  auto source = OpenPS1(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  if (!SaveAt(c, m, entry, code)) return code;
  c.AttachProgress(m, "Backing up");
  formats::Ps1Save save;
  if (!m.ReadPS1Saver(entry, save)) return FailWithReason(c, m, "backup failed");
  formats::WriteWholeFileAtomically(file, formats::WritePs1Save(save, *format));
  c.EndProgress();
  return kExitOk;
}

int PS1Restore(Context& c, const RestoreOptions& o) {
  const std::string& file = o.file;
  if (const int refused = RefuseOverwriteAndKeepBoth(c, o)) return refused;
  if (int code = kExitOk; RefuseFolder(c, file, code)) return code;
  // The whole file is read and checked before the card is touched; the save
  // it holds, not the file's length, decides the room it needs.
  formats::Ps1Save save;
  try {
    save = formats::ReadPs1SaveFile(file);
  } catch (const formats::FormatError& e) {
    return c.Fail("\"" + file + "\" is not a PS1 save file: " + e.what());
  } catch (const InOutError& e) {
    return c.Fail("\"" + file + "\" cannot be read: " + e.reason());
  }
  const std::string name = save.Name();
  int code = kExitOk;
  auto source = OpenPS1ForChange(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  if (!m.ScanPS1()) return FailWithReason(c, m, "the card could not be read");
  const std::optional<int> existing = manager::FindPS1Save(m.PS1Card, name);
  c.AttachProgress(m, "Restoring");
  if (existing && !o.keep_both) {
    if (!MayReplace(c, o, name, code)) return code;
    const std::string kept = manager::KeptCopyPath(m.WorkFolder() + "savers", name, ".PS1");
    return ReplaceOutcome(c, manager::ReplacePS1Save(m, save, *existing, kept), kept,
                          "the save on the card could not be backed up; nothing was changed");
  }
  // Beside a save of the same name the new one takes a name of its own.
  std::string placed;
  if (!manager::DownloadPS1SaverKeepingBoth(m, save, placed))
    return FailWithReason(c, m, "restore failed");
  c.EndProgress();
  if (placed != name)
    c.err << "Save \"" << name << "\" was already on the card: the restored copy is \"" << placed
          << "\"\n";
  return kExitOk;
}

int PS1Delete(Context& c, const PS1DeleteOptions& o) {
  const int entry = EntryOfBlock(o.block);
  int code = kExitOk;
  auto source = OpenPS1ForChange(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  const auto* item = SaveAt(c, m, entry, code);
  if (!item) return code;
  int refused = kExitOk;
  if (!c.Confirm("Delete Save \"" + item->FileName + "\"?", refused)) return refused;
  if (const auto outcome = m.DeletePS1Saver(entry); !outcome)
    return FailWithReason(c, outcome, "delete failed");
  return kExitOk;
}

int PS1Dump(Context& c, const ImageFileOptions& o) {
  c.source.only_reads = true;  // an image that may not be written is opened read-only
  const std::string& file = o.file;
  int code = kExitOk;
  auto source = OpenPS1(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  c.AttachProgress(m, "Uploading");
  if (!m.UploadPS1Card(file)) return FailWithReason(c, m, "dump failed");
  c.EndProgress();
  return kExitOk;
}

int PS1Write(Context& c, const ImageFileOptions& o) {
  const std::string& file = o.file;
  if (!std::filesystem::exists(file)) return c.Fail("\"" + file + "\" does not exist");
  int code = kExitOk;
  auto source = OpenPS1ForChange(c, code, "Write \"" + file + "\" over the whole PS1 card?");
  if (!source) return code;
  auto& m = source->Manager();
  c.AttachProgress(m, "Downloading");
  if (!m.DownloadPS1Card(file)) return FailWithReason(c, m, "write failed");
  c.EndProgress();
  return kExitOk;
}

int PS1Format(Context& c, const NoOptions&) {
  int code = kExitOk;
  auto source = OpenPS1ForChange(
      c, code, "The PS1 card will be erased; every save on it will be lost. Erase?");
  if (!source) return code;
  auto& m = source->Manager();
  c.AttachProgress(m, "Formatting");
  if (!m.FormatPS1Card()) return FailWithReason(c, m, "the card could not be formatted");
  c.EndProgress();
  return kExitOk;
}


int PS1Check(Context& c, const CheckOptions& o) {
  c.source.only_reads = !o.repair;
  int code = kExitOk;
  auto source = o.repair ? OpenPS1ForChange(c, code) : OpenPS1(c, code);
  if (!source) return code;
  auto& m = source->Manager();
  manager::TPs1FileRecD dir;
  if (!manager::ReadPS1DirectoryFrames(m, dir))
    return FailWithReason(c, m, "the card could not be read");
  const std::vector<int> unheld = manager::PS1UnheldEntries(dir);
  if (unheld.empty()) {
    c.out << "no problems found\n";
    return kExitOk;
  }
  c.out << unheld.size() << " blocks are marked in use but no save holds them (a write cut "
        << "short):";
  for (int e : unheld) c.out << " " << BlockOfEntry(e);
  c.out << "\n";
  if (!o.repair) return kExitFailed;
  if (!c.Confirm("Mark these blocks free?", code)) return code;
  link::Page page{};
  for (int e : unheld) {
    page.fill(0);
    manager::FreePS1DirectoryFrame(page.data());
    if (!m.WritePS1Frame(manager::PS1DirectoryFrameOf(e), page))
      return FailWithReason(c, m,
                            "marking block " + std::to_string(BlockOfEntry(e)) + " free failed");
  }
  // Read back: every block is now free or held by a save.
  if (!manager::ReadPS1DirectoryFrames(m, dir) || !manager::PS1UnheldEntries(dir).empty())
    return c.Fail("the card did not confirm the repair");
  c.out << "marked free\n";
  return kExitOk;
}

}  // namespace travosk::cli
