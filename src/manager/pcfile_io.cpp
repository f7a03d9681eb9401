#include "manager/pcfile_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/errors.h"

namespace travosk::manager {

namespace {

std::string Reason() {
  return std::strerror(errno);
}

}  // namespace

std::optional<PcInFile> PcInFile::Open(const std::string& path) {
  FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return std::nullopt;
  struct stat st {};
  if (::fstat(::fileno(f.get()), &st) != 0) return std::nullopt;
  if (!S_ISREG(st.st_mode)) {
    // A folder or a device is not a file the transfers can use.
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return std::nullopt;
  }
  return PcInFile(path, std::move(f), static_cast<uint64_t>(st.st_size));
}

size_t PcInFile::Read(uint8_t* dest, size_t count) {
  size_t got = std::fread(dest, 1, count, file_.get());
  if (got < count && std::ferror(file_.get())) throw InOutError(path_, Reason());
  return got;
}

std::vector<uint8_t> PcInFile::ReadPrefix(size_t count) {
  std::vector<uint8_t> out(count);
  out.resize(Read(out.data(), count));
  return out;
}

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t count) {
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) throw InOutError(path, Reason());
  if (std::fwrite(data, 1, count, f.get()) != count) throw InOutError(path, Reason());
  std::FILE* raw = f.release();
  if (std::fclose(raw) != 0) throw InOutError(path, Reason());
}

std::string InFolder(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace travosk::manager
