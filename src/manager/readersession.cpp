#include "manager/readersession.h"

#include "common/errors.h"
#include "link/clock.h"
#include "link/combined_platform.h"
#include "link/link.h"

namespace travosk::manager {

ReaderSession::ReaderSession(std::unique_ptr<link::PS1Device> reader,
                             const std::string& work_folder)
    : reader_(std::move(reader)),
      platform_(link::MakePlatform()),
      clock_(std::make_unique<link::SystemClock>()),
      link_(std::make_unique<link::Link>(*platform_, *clock_)),
      manager_(std::make_unique<TPS2MFMSYS>(*link_)) {
  manager_->UsePS1Device(reader_.get());
  try {
    manager_->InitSystem(work_folder);
  } catch (const ConversionError& e) {
    settings_warning_ = e.what();
  }
}

ReaderSession::~ReaderSession() {
  manager_->DoneSystem();
}

std::string ReaderSession::CardProblem() {
  const auto slot = reader_->CardPresent();
  if (!slot) return reader_->Identity() + " does not answer: " + reader_->LastError();
  if (*slot == link::PS1Slot::kEmpty) return "no card in " + reader_->Identity();
  if (*slot == link::PS1Slot::kOther) return reader_->LastError();
  return {};
}

}  // namespace travosk::manager
