// PC files as the PS1 transfers, the icon decoder and the SmartMedia image
// writer read them: a read-only file that reports its length and fails loudly
// on a read error. Files that replace a user's file are written through
// AtomicFile (common/atomic_file.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace travosk::manager {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class PcInFile {
 public:
  // nullopt when the file cannot be opened for reading.
  static std::optional<PcInFile> Open(const std::string& path);

  const std::string& path() const { return path_; }
  uint64_t Size() const { return size_; }
  // Reads up to count bytes from the current position; answers the bytes read
  // (fewer only at the end of the file). Throws InOutError on a read error.
  size_t Read(uint8_t* dest, size_t count);
  // The first count bytes (fewer when the file is shorter).
  std::vector<uint8_t> ReadPrefix(size_t count);

 private:
  PcInFile(std::string path, FilePtr f, uint64_t size)
      : path_(std::move(path)), file_(std::move(f)), size_(size) {}
  std::string path_;
  FilePtr file_;
  uint64_t size_ = 0;
};

// Writes a whole small file in place (the icon decoder's working files, which
// are overwritten at every use). Throws InOutError.
void WriteWholeFile(const std::string& path, const uint8_t* data, size_t count);

// The working folder joined with a file name.
std::string InFolder(const std::string& folder, const std::string& name);

}  // namespace travosk::manager
