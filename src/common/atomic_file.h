// A PC file written in place of an existing one goes to a temporary file in
// the same folder first and is renamed over the target only when every byte
// was written, so a failure never leaves a half-written file where a good one
// was. Without Commit the temporary file is removed.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "common/errors.h"

namespace travosk {

class AtomicFile {
 public:
  explicit AtomicFile(std::string target) : target_(std::move(target)) {
    std::string pattern = target_ + ".tmp-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw InOutError(target_, std::strerror(errno));
    // mkstemp makes the file private; a saved file gets the usual permissions.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    temp_ = pattern;
    // Opened as it is, not truncated: it is new and empty, and a truncation
    // would make the file system write the file out at its close (a guard
    // for programs that rewrite a file in place), which this rename makes
    // needless and which costs a backup of many saves much of its time.
    out_.open(temp_, std::ios::binary | std::ios::in | std::ios::out);
    if (!out_) {
      std::remove(temp_.c_str());
      throw InOutError(target_, "cannot create file");
    }
  }
  ~AtomicFile() {
    if (!committed_) {
      out_.close();
      std::remove(temp_.c_str());
    }
  }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  std::ostream& stream() { return out_; }
  const std::string& target() const { return target_; }

  // Throws InOutError when a write failed on the way or the rename fails.
  void Commit() {
    out_.flush();
    if (!out_) throw InOutError(target_, "write failed");
    out_.close();
    if (out_.fail()) throw InOutError(target_, "write failed");
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
      int err = errno;
      std::remove(temp_.c_str());
      committed_ = true;  // nothing left to clean up
      throw InOutError(target_, std::strerror(err));
    }
    committed_ = true;
  }

 private:
  std::string target_;
  std::string temp_;
  std::ofstream out_;
  bool committed_ = false;
};

}  // namespace travosk
