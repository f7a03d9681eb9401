#include "manager/newcard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

#include "card/fileaccess.h"
#include "card/formatter.h"
#include "common/errors.h"
#include "manager/ps1card.h"
#include "sim/loopback_platform.h"
#include "sim/medium.h"

namespace travosk::manager {

namespace {

// A temporary file beside the target, removed unless it was put in place.
class Partial {
 public:
  explicit Partial(const std::string& target) : target_(target) {
    std::string pattern = target + ".new-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw InOutError(target, std::strerror(errno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    path_ = pattern;
  }
  ~Partial() {
    if (!placed_) ::unlink(path_.c_str());
  }
  Partial(const Partial&) = delete;
  Partial& operator=(const Partial&) = delete;

  const std::string& path() const { return path_; }

  // Without `overwrite` the file is linked to its name, which fails when
  // the name is taken, even by a file made since the check before.
  void Place(bool overwrite) {
    if (overwrite) {
      if (::rename(path_.c_str(), target_.c_str()) != 0)
        throw InOutError(target_, std::strerror(errno));
      placed_ = true;
      return;
    }
    if (::link(path_.c_str(), target_.c_str()) != 0) {
      const int err = errno;
      throw InOutError(target_, err == EEXIST ? "the file exists" : std::strerror(err));
    }
  }

 private:
  std::string target_;
  std::string path_;
  bool placed_ = false;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw InOutError(path, "write failed");
}

// An erased PS2 card of the layout, then its file system written through the
// simulated adapter, which keeps the layout it opened.
void FormatPS2(const std::string& path, formats::ImageFormat layout, int megabytes) {
  const bool spare = layout == formats::ImageFormat::kPs2Raw;
  const size_t page = spare ? sim::kRawPageBytes : sim::kDataPageBytes;
  const size_t bytes = static_cast<size_t>(megabytes) * 1024 * 1024 / sim::kDataPageBytes * page;
  WriteBytes(path, std::vector<uint8_t>(bytes, 0xFF));
  sim::LoopbackSession session;
  session.clock.keep_sleeps = false;
  session.adapter.InsertCard(
      sim::Medium::Open(path, sim::MediumKind::kPS2, sim::ImageLayout{0, spare, false}));
  card::TPSfileaccess access(session.link);
  access.InitDefaults();
  access.Medium = Slot::kCard;
  if (!access.OpenCard() || !card::FormatFileSystem(access, std::time(nullptr)))
    throw InOutError(path, "the new card could not be formatted");
}

}  // namespace

void CreateCardImage(const std::string& path, formats::ImageFormat layout, int megabytes,
                     bool overwrite) {
  const bool ps1 = formats::IsPs1Image(layout);
  if (layout == formats::ImageFormat::kPs1Vmp)
    throw InOutError(path, "a PSP .vmp image is signed by its console and is not made here");
  if (!ps1 && std::find(std::begin(kNewPS2Sizes), std::end(kNewPS2Sizes), megabytes) ==
                  std::end(kNewPS2Sizes))
    throw InOutError(path, "a new PS2 card is 1, 2, 4, 8, 16, 32 or 64 MB");
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !overwrite)
    throw InOutError(path, S_ISDIR(st.st_mode) ? "is a folder" : "the file exists");
  Partial partial(path);
  if (ps1)
    WriteBytes(partial.path(), formats::WritePs1Image(FormattedPS1Card(), layout));
  else
    FormatPS2(partial.path(), layout, megabytes);
  partial.Place(overwrite);
}

}  // namespace travosk::manager
