#include "cli/commands_shared.h"

#include <cctype>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "manager/findsave.h"

namespace travosk::cli {

std::unique_ptr<Source> OpenPS2(Context& c, int& code, const std::string& question) {
  auto source = std::make_unique<Source>(c.source);
  if (!source->SettingsWarning().empty())
    c.err << "travosk-cli: settings: " << source->SettingsWarning() << " (the default is used)\n";
  auto& m = source->Manager();
  // The mount that completes it runs only once: the marker is gone after it.
  m.Volume().OnInterruptedWriteCompleted = [&c, in_memory = source->ChangesStayInMemory()](
                                                uint32_t block) {
    c.err << "travosk-cli: an interrupted write to the card was completed (erase block " << block
          << ")";
    // A command that only reads leaves the image as it is: the next command
    // that writes completes it there.
    if (in_memory) c.err << " in memory for this command; the image file is left as it was";
    c.err << "\n";
  };
  if (!source->FromImage() && source->Link().DevicePath().empty()) {
    code = c.Fail("no adapter found");
    return nullptr;
  }
  if (!m.CheckLink()) {
    code = c.Fail(m.Access().IsPS1Card ? "the card is a PS1 card (use the ps1 commands)"
                                       : "no card in the selected slot");
    return nullptr;
  }
  if (!question.empty() && !c.Confirm(question, code)) return nullptr;
  return source;
}

std::unique_ptr<Source> OpenPS2Save(Context& c, const std::string& name, card::TfileIP& folder,
                                    int& code) {
  auto source = OpenPS2(c, code);
  if (!source) return nullptr;
  bool unreadable = false;
  auto found = manager::FindSave(source->Manager(), name, &unreadable);
  if (unreadable) {
    code = FailUnreadable(c, source->Manager(), "no save could be found");
    return nullptr;
  }
  if (!found) {
    code = c.Fail("no save \"" + name + "\" on the card");
    return nullptr;
  }
  folder = *found;
  return source;
}

std::string Reason(std::string why) {
  // "The card carries ..." reads "the card carries ..." after a colon; a
  // word in capitals ("PS1") stays as it is.
  if (why.size() > 1 && std::isupper(static_cast<unsigned char>(why[0])) &&
      std::islower(static_cast<unsigned char>(why[1])))
    why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
  return why;
}

int FailWithReason(Context& c, manager::TPS2MFMSYS& m, const std::string& what) {
  return c.Fail(what + (m.LastError().empty() ? "" : ": " + Reason(m.LastError())));
}

int FailWithReason(Context& c, const manager::Outcome& outcome, const std::string& what) {
  return c.Fail(what + (outcome.reason.empty() ? "" : ": " + Reason(outcome.reason)));
}

// A card that could not be read through: the volume's reason when the mount
// failed, else the manager's, else the plain fact.
int FailUnreadable(Context& c, manager::TPS2MFMSYS& m, const std::string& what) {
  const std::string& why = m.Volume().LastError().empty() ? m.LastError() : m.Volume().LastError();
  return c.Fail(what + ": " + (why.empty() ? "the card could not be read" : Reason(why)));
}

bool RefuseFolder(Context& c, const std::string& path, int& code) {
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) return false;
  code = c.Fail("\"" + path + "\" is a folder, not a save file");
  return true;
}

int RefuseOverwriteAndKeepBoth(Context& c, const RestoreOptions& o) {
  if (!o.overwrite || !o.keep_both) return kExitOk;
  c.err << "travosk-cli: give --overwrite or --keep-both, not both\n";
  return kExitUsage;
}

bool MayReplace(Context& c, const RestoreOptions& o, const std::string& name, int& code) {
  if (o.overwrite) return true;
  if (!c.terminal.input_is_tty) {
    code = c.Fail("save \"" + name + "\" is already on the card: add --overwrite or --keep-both");
    return false;
  }
  c.err << "Save \"" << name << "\" is on the card. Replace it? [y/N] " << std::flush;
  std::string answer;
  std::getline(c.in, answer);
  if (answer == "y" || answer == "Y" || answer == "yes") return true;
  code = c.Fail("not restored");
  return false;
}

int ReplaceOutcome(Context& c, manager::ReplaceResult result, const std::string& kept,
                   const std::string& backup_failed) {
  switch (result) {
    case manager::ReplaceResult::kDone: c.EndProgress(); return kExitOk;
    case manager::ReplaceResult::kNoRoom: return c.Fail("not enough free space on the card");
    case manager::ReplaceResult::kBackupFailed: return c.Fail(backup_failed);
    case manager::ReplaceResult::kFailedRestored:
      return c.Fail("restore failed; the save on the card was kept");
    case manager::ReplaceResult::kFailedLost:
      return c.Fail("restore failed and the old save could not be put back; it is kept in " +
                    kept);
  }
  return kExitFailed;
}

}  // namespace travosk::cli
