// A PS1 card reader opened as a card: the reader and a card manager of its own
// whose PS1 commands (list, saves, whole-card transfers, format) go through
// it. No adapter is looked for; the manager's link stays unopened. The
// window's readers and the command line's --reader take this one path.
#pragma once

#include <memory>
#include <string>

#include "link/ps1device.h"
#include "manager/ps2mfmsys.h"

namespace travosk::link {
class Link;
class Platform;
class SystemClock;
}  // namespace travosk::link

namespace travosk::manager {

class ReaderSession {
 public:
  // `reader` must not be null. A bad setting in the work folder's settings
  // file leaves the defaults and is kept in SettingsWarning().
  ReaderSession(std::unique_ptr<link::PS1Device> reader, const std::string& work_folder);
  ~ReaderSession();
  ReaderSession(const ReaderSession&) = delete;
  ReaderSession& operator=(const ReaderSession&) = delete;

  TPS2MFMSYS& Manager() { return *manager_; }
  link::PS1Device& Reader() { return *reader_; }
  link::Link& Link() { return *link_; }
  const std::string& SettingsWarning() const { return settings_warning_; }
  // Empty when the reader holds a PS1 card; else why not, as the user reads
  // it (no answer, an empty slot, a card of another kind).
  std::string CardProblem();

 private:
  std::unique_ptr<link::PS1Device> reader_;
  std::unique_ptr<link::Platform> platform_;
  std::unique_ptr<link::SystemClock> clock_;
  std::unique_ptr<link::Link> link_;
  std::unique_ptr<TPS2MFMSYS> manager_;
  std::string settings_warning_;
};

}  // namespace travosk::manager
