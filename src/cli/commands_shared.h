// What the commands share beyond their context: opening a PS2 card, the
// refusals every restore makes, a failure with the core's reason, and the
// question and the outcome of a replace.
#pragma once

#include <memory>
#include <string>

#include "cli/context.h"
#include "manager/ps2mfmsys.h"
#include "manager/savereplace.h"

namespace travosk::cli {

struct RestoreOptions;

// Opens the source and checks that it answers and holds a PS2 file system
// card, then asks `question` (when given) as Context::Confirm does; on
// failure or refusal `code` holds the exit code.
std::unique_ptr<Source> OpenPS2(Context& c, int& code, const std::string& question = {});
// Opens the card as OpenPS2 does and finds the save folder called `name`.
std::unique_ptr<Source> OpenPS2Save(Context& c, const std::string& name, card::TfileIP& folder,
                                    int& code);

// "what failed: why", when the card manager knows why.
int FailWithReason(Context& c, manager::TPS2MFMSYS& m, const std::string& what);
// The same for a save command that told its own outcome.
int FailWithReason(Context& c, const manager::Outcome& outcome, const std::string& what);
// A reason of the core as it reads after a colon ("The card ..." -> "the card ...").
std::string Reason(std::string why);
// "what failed: why" for a card that could not be read through: the
// volume's reason when the mount failed, else the manager's.
int FailUnreadable(Context& c, manager::TPS2MFMSYS& m, const std::string& what);

// A restore's refusals before anything is opened: a folder given for the
// save file, and --overwrite given with --keep-both (a usage error). True,
// or a non-zero exit code, when the command must end there.
bool RefuseFolder(Context& c, const std::string& path, int& code);
int RefuseOverwriteAndKeepBoth(Context& c, const RestoreOptions& o);

// A restore that finds a save of the same name on the card: --overwrite,
// or a "y" typed at a terminal, lets it replace that save.
bool MayReplace(Context& c, const RestoreOptions& o, const std::string& name, int& code);
// The exit code of a replace; `kept` is where the old save was kept.
int ReplaceOutcome(Context& c, manager::ReplaceResult result, const std::string& kept,
                   const std::string& backup_failed);

}  // namespace travosk::cli
