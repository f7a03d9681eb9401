#include "cli/context.h"

#include <algorithm>
#include <iostream>

namespace travosk::cli {

int Context::Fail(const std::string& reason) {
  EndProgress();
  err << "travosk-cli: " << reason << "\n";
  return kExitFailed;
}

bool Context::Confirm(const std::string& question, int& refused) {
  refused = kExitOk;
  if (yes) return true;
  if (!terminal.input_is_tty) {
    err << "travosk-cli: " << question << " Refused: add --yes to confirm without a terminal.\n";
    refused = kExitUsage;
    return false;
  }
  err << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(in, answer);
  if (answer == "y" || answer == "Y" || answer == "yes") return true;
  err << "Cancelled.\n";
  refused = kExitFailed;
  return false;
}

void Context::AttachProgress(manager::TPS2MFMSYS& m, const std::string& label) {
  label_ = label;
  if (!terminal.error_is_tty) return;
  m.Onbarprocess = [this](int& max, int& min, int& process, bool&) { Draw(max, min, process); };
  m.OnFilebarprocess = [this](card::TfileIP&, int& max, int& min, int& process, bool&) {
    Draw(max, min, process);
  };
}

void Context::Draw(int max, int min, int process) {
  const int span = std::max(1, max - min);
  const int done = std::clamp(process - min, 0, span);
  const int width = 30;
  const int filled = done * width / span;
  err << "\r" << label_ << " [" << std::string(filled, '#') << std::string(width - filled, ' ')
      << "] " << (done * 100 / span) << "%" << std::flush;
  drawn_ = true;
}

void Context::EndProgress() {
  if (drawn_) err << "\n";
  drawn_ = false;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace travosk::cli
