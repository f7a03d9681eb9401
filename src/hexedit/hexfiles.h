// Files of the hex editor: its private working copy in the temp folder and the
// whole-file writes that replace a target only once the new contents are
// complete. Plain POSIX underneath, so a failure carries the system's reason.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace travosk {

// An open descriptor that closes itself.
class TFileHandle {
 public:
  TFileHandle() = default;
  explicit TFileHandle(int fd) : fd_(fd) {}
  ~TFileHandle() { reset(); }
  TFileHandle(TFileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TFileHandle& operator=(TFileHandle&& other) noexcept;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The editor's private copy of the file being edited. It is created with
// O_EXCL and mode 0600 under a random name, so no other user can predict,
// pre-create or read it, and it is removed when the object goes.
class TWorkingCopy {
 public:
  // Copies `source` into a new working copy; throws InOutError naming the file
  // that failed.
  static std::unique_ptr<TWorkingCopy> CopyOf(const QString& source);
  ~TWorkingCopy();
  TWorkingCopy(const TWorkingCopy&) = delete;
  TWorkingCopy& operator=(const TWorkingCopy&) = delete;

  int64_t Size() const { return size_; }
  const QString& Path() const { return path_; }
  // Reads exactly n bytes at pos; throws InOutError when the file falls short.
  void ReadAt(int64_t pos, int64_t n, uint8_t* out) const;

  static constexpr const char* kSuffix = ".QXHT";

 private:
  TWorkingCopy(TFileHandle fd, QString path) : fd_(std::move(fd)), path_(std::move(path)) {}
  TFileHandle fd_;
  QString path_;
  int64_t size_ = 0;
};

// Creates a new file in `folder` with O_CREAT|O_EXCL under a random name
// ending in `suffix`; throws InOutError when no name could be taken.
TFileHandle CreateExclusive(const QString& folder, const QString& suffix, unsigned mode,
                            QString* path);

// Fills `target` through a temporary file in the target's own folder that is
// renamed over it only when `fill` and the flush succeeded. An existing target
// keeps its permissions; a target that exists but may not be written is
// refused. On failure `reason` says why and the target is untouched.
[[nodiscard]] bool WriteFileAtomically(const QString& target,
                                       const std::function<bool(int fd, QString* reason)>& fill,
                                       QString* reason);

// Copies every byte of the open descriptor `from` (from its start) to `to`.
[[nodiscard]] bool CopyDescriptor(int from, int to, QString* reason);

// Writes all n bytes, retrying short writes.
[[nodiscard]] bool WriteAll(int fd, const uint8_t* data, int64_t n, QString* reason);

QString SystemReason(int error);

}  // namespace travosk
