#include "hexedit/hexfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/errors.h"

namespace travosk {

namespace {

constexpr int64_t kCopyChunk = 64 * 1024;
constexpr int kNameAttempts = 64;

std::string Local(const QString& s) {
  return QFile::encodeName(s).toStdString();
}

QString RandomName(const QString& prefix, const QString& suffix) {
  const quint64 r = QRandomGenerator::system()->generate64();
  return prefix + QStringLiteral("%1").arg(r, 16, 16, QLatin1Char('0')).toUpper() + suffix;
}

}  // namespace

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept {
  if (this != &other) {
    reset(other.fd_);
    other.fd_ = -1;
  }
  return *this;
}

void TFileHandle::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

TFileHandle CreateExclusive(const QString& folder, const QString& suffix, unsigned mode,
                            QString* path) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const QString candidate = QDir(folder).filePath(RandomName(QString(), suffix));
    const int fd = ::open(Local(candidate).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      *path = candidate;
      return TFileHandle(fd);
    }
    if (errno != EEXIST) throw InOutError(Local(candidate), SystemReason(errno).toStdString());
  }
  throw InOutError(Local(folder), "no free file name");
}

bool WriteAll(int fd, const uint8_t* data, int64_t n, QString* reason) {
  while (n > 0) {
    const ssize_t done = ::write(fd, data, static_cast<size_t>(std::min<int64_t>(n, 1 << 30)));
    if (done < 0) {
      if (errno == EINTR) continue;
      *reason = SystemReason(errno);
      return false;
    }
    data += done;
    n -= done;
  }
  return true;
}

bool CopyDescriptor(int from, int to, QString* reason) {
  // The kernel copies without passing the bytes through our memory (and may
  // share extents); a file system that cannot do it gets the plain loop.
  for (;;) {
    const ssize_t done = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
    if (done == 0) return true;
    if (done > 0) continue;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    *reason = SystemReason(errno);
    return false;
  }
  std::vector<uint8_t> buffer(kCopyChunk);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      *reason = SystemReason(errno);
      return false;
    }
    if (!WriteAll(to, buffer.data(), got, reason)) return false;
  }
}

std::unique_ptr<TWorkingCopy> TWorkingCopy::CopyOf(const QString& source) {
  TFileHandle in(::open(Local(source).c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) throw InOutError(Local(source), SystemReason(errno).toStdString());
  struct stat st {};
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw InOutError(Local(source), "not a regular file");
  }
  QString path;
  TFileHandle out = CreateExclusive(QDir::tempPath(), QString::fromLatin1(kSuffix), 0600, &path);
  std::unique_ptr<TWorkingCopy> copy(new TWorkingCopy(std::move(out), path));
  QString reason;
  if (!CopyDescriptor(in.get(), copy->fd_.get(), &reason)) {
    throw InOutError(Local(path), reason.toStdString());
  }
  const off_t end = ::lseek(copy->fd_.get(), 0, SEEK_END);
  if (end < 0) throw InOutError(Local(path), SystemReason(errno).toStdString());
  copy->size_ = end;
  return copy;
}

TWorkingCopy::~TWorkingCopy() {
  fd_.reset();
  ::unlink(Local(path_).c_str());
}

void TWorkingCopy::ReadAt(int64_t pos, int64_t n, uint8_t* out) const {
  while (n > 0) {
    const ssize_t got = ::pread(fd_.get(), out, static_cast<size_t>(n), pos);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      throw InOutError(Local(path_), got < 0 ? SystemReason(errno).toStdString()
                                             : std::string("file is shorter than expected"));
    }
    out += got;
    pos += got;
    n -= got;
  }
}

bool WriteFileAtomically(const QString& target,
                         const std::function<bool(int fd, QString* reason)>& fill,
                         QString* reason) {
  const std::string targetName = Local(target);
  struct stat st {};
  mode_t mode = 0;
  if (::stat(targetName.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      *reason = QStringLiteral("not a regular file");
      return false;
    }
    // Renaming would replace a file its owner has made read-only; refuse as an
    // in-place write would.
    if (::access(targetName.c_str(), W_OK) != 0) {
      *reason = SystemReason(errno);
      return false;
    }
    mode = st.st_mode & 07777;
  } else {
    // A new file gets what an ordinary create would give it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  QString tempPath;
  TFileHandle fd;
  try {
    const QFileInfo info(target);
    fd = CreateExclusive(info.absolutePath(), QStringLiteral(".part"), 0600, &tempPath);
  } catch (const InOutError& e) {
    *reason = QString::fromStdString(e.reason());
    return false;
  }
  const std::string tempName = Local(tempPath);
  bool ok = fill(fd.get(), reason);
  if (ok && ::fchmod(fd.get(), mode) != 0) {
    *reason = SystemReason(errno);
    ok = false;
  }
  if (ok && ::fsync(fd.get()) != 0) {
    *reason = SystemReason(errno);
    ok = false;
  }
  fd.reset();
  if (ok && ::rename(tempName.c_str(), targetName.c_str()) != 0) {
    *reason = SystemReason(errno);
    ok = false;
  }
  if (!ok) ::unlink(tempName.c_str());
  return ok;
}

}  // namespace travosk
