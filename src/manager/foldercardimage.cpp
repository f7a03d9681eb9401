#include "manager/foldercardimage.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "card/fileip.h"
#include "card/layout.h"
#include "card/walk.h"
#include "common/errors.h"
#include "formats/files.h"
#include "manager/imagesession.h"
#include "manager/newcard.h"
#include "sim/ecc.h"

namespace travosk::manager {

namespace {

namespace sb = card::superblock;
constexpr size_t kRaw = page::kBytes;
constexpr size_t kData = page::kDataBytes;
constexpr size_t kBlockPages = formats::kFolderSuperblockBytes / kData;

// Superblock fields that fix where everything lies: a superblock file that
// differs from our formatter's in any of them describes a card this system
// does not lay out.
constexpr size_t kGeometryFrom = sb::kPageLength;
constexpr size_t kGeometryTo = sb::kIndirectList + 4;

// Writes a page's data into a 528-byte-page image with its ECC, when the
// data differ from what the page holds (a page left as it was keeps its
// spare bytes, erased ones included).
void PatchPage(std::vector<uint8_t>& image, size_t page, const uint8_t* data) {
  uint8_t* at = image.data() + page * kRaw;
  if (std::equal(data, data + kData, at)) return;
  std::copy_n(data, kData, at);
  const auto spare = sim::PageSpare(std::span<const uint8_t, 512>(at, kData));
  std::copy(spare.begin(), spare.end(), at + kData);
}

uint64_t Digest(const std::string& path) {
  // FNV-1a over the file: enough to tell a changed image from the one made.
  std::ifstream in(path, std::ios::binary);
  uint64_t h = 1469598103934665603ULL;
  std::vector<char> buf(1 << 16);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    for (std::streamsize i = 0; i < in.gcount(); ++i)
      h = (h ^ static_cast<uint8_t>(buf[static_cast<size_t>(i)])) * 1099511628211ULL;
  }
  return h;
}

std::string TempImage(const std::string& work_folder) {
  std::string pattern = work_folder + "/folder-card-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw InOutError(work_folder, std::strerror(errno));
  ::close(fd);
  return pattern;
}

struct TempFile {
  std::string path;
  ~TempFile() { ::unlink(path.c_str()); }
};

}  // namespace

void ImageFromFolderCard(const formats::FolderCard& card, const std::string& image,
                         const std::string& work_folder) {
  const auto& super = card.superblock;
  const uint32_t clusters = load_le32(super, sb::kClusters);
  if (load_le16(super, sb::kPageLength) != kData || load_le16(super, sb::kPagesPerCluster) != 2 ||
      clusters == 0 || clusters % 1024 != 0)
    throw formats::FormatError("the folder card's superblock gives no card size this system makes");
  // The card's own file system laid out by our formatter, dated by the
  // root's time when the folder keeps one.
  CreateCardImage(image, formats::ImageFormat::kPs2Raw, static_cast<int>(clusters / 1024), true);
  auto bytes = formats::LoadWholeFile(image, formats::kLargestImageBytes);
  if (!std::equal(super.begin() + kGeometryFrom, super.begin() + kGeometryTo,
                  bytes.begin() + kGeometryFrom))
    throw formats::FormatError(
        "the folder card's superblock places the card's tables where this system's formatter "
        "does not");
  for (size_t p = 0; p < kBlockPages; ++p) PatchPage(bytes, p, super.data() + p * kData);
  if (card.root_created != std::array<uint8_t, 8>{}) {
    const size_t root_page =
        (size_t{load_le32(super, sb::kAllocOffset)} + load_le32(super, sb::kRootCluster)) * 2;
    for (size_t half = 0; half < 2; ++half) {
      std::array<uint8_t, kData> data{};
      std::copy_n(bytes.begin() + static_cast<long>((root_page + half) * kRaw), kData, data.begin());
      // "." keeps both its stamps; ".." the time of the format.
      const auto& modified = half == 0 ? card.root_modified : card.root_created;
      std::copy(card.root_created.begin(), card.root_created.end(), data.begin() + card::entry::kCreated);
      std::copy(modified.begin(), modified.end(), data.begin() + card::entry::kModified);
      PatchPage(bytes, root_page + half, data.data());
    }
  }
  formats::WriteWholeFileAtomically(image, bytes);

  ImageSessionOptions options;
  options.card = image;
  options.work_folder = work_folder;
  ImageSession session(options);
  auto& m = session.Manager();
  for (const auto& s : card.saves) {
    card::TfileIP root = card::RootDirectory();
    if (!m.Catalog() || !m.AppendSave(s.save, root))
      throw formats::FormatError("save \"" + s.save.Name() + "\" could not be put on the card" +
                                 (m.LastError().empty() ? " (it does not fit)" : ": " + m.LastError()));
  }
}

formats::FolderCard FolderCardFromImage(const std::string& image, const std::string& work_folder) {
  const auto kind = OpenableCardImage(image);
  if (kind.ps1) throw formats::FormatError("a PS1 card has no folder card layout");
  formats::FolderCard card;
  {
    const auto head = formats::LoadWholeFile(image, formats::kLargestImageBytes);
    const size_t page = kind.spare ? kRaw : kData;
    if (head.size() < kBlockPages * page) throw formats::FormatError("the image is too small");
    for (size_t p = 0; p < kBlockPages; ++p)
      card.superblock.insert(card.superblock.end(), head.begin() + static_cast<long>(p * page),
                             head.begin() + static_cast<long>(p * page + kData));
  }
  ImageSessionOptions options;
  options.card = image;
  options.card_unwritten = true;
  options.work_folder = work_folder;
  ImageSession session(options);
  auto& m = session.Manager();
  if (!m.Catalog())
    throw formats::FormatError("the card could not be read" +
                               (m.LastError().empty() ? "" : ": " + m.LastError()));
  auto& v = m.Volume();
  card::WalkCursor walk;
  card::TfileIP x;
  if (!card::ReadFirstEntry(v, walk, x) || x.Name != ".")
    throw formats::FormatError("the card's root has no \".\" entry");
  std::copy_n(x.Header.begin() + card::entry::kCreated, 8, card.root_created.begin());
  std::copy_n(x.Header.begin() + card::entry::kModified, 8, card.root_modified.begin());
  const int64_t count = m.EntryCount(x);
  int64_t passed = 1;
  try {
    while (passed < count && card::ReadNextEntry(v, walk, x)) {
      if (x.Deleted) continue;
      ++passed;
      if (x.IsDotName()) continue;
      if (!x.Dir)
        throw formats::FormatError("file \"" + x.Name +
                                   "\" lies in the card's root, where a folder card keeps no file");
      formats::FolderCardSave s;
      bool isbreak = false;
      if (!m.ReadSaveFromCard(x, s.save, isbreak))
        throw formats::FormatError("save \"" + x.Name + "\" could not be read" +
                                   (m.LastError().empty() ? "" : ": " + m.LastError()));
      formats::NormaliseSave(s.save);
      card.saves.push_back(std::move(s));
    }
  } catch (const CardError& e) {
    throw formats::FormatError(std::string("the card could not be read: ") + e.what());
  }
  return card;
}

void ConvertFolderCardToImage(const std::string& dir, const std::string& image,
                              formats::ImageFormat target, const std::string& work_folder) {
  const auto card = formats::ReadFolderCard(dir);
  TempFile temp{TempImage(work_folder)};
  ImageFromFolderCard(card, temp.path, work_folder);
  const auto bytes = formats::LoadWholeFile(temp.path, formats::kLargestImageBytes);
  const formats::ImageKind kind{formats::ImageFormat::kPs2Raw};
  formats::WriteWholeFileAtomically(image, formats::ConvertCardImage(bytes, kind, target));
}

void ConvertImageToFolderCard(const std::string& image, const std::string& dir,
                              const std::string& work_folder) {
  formats::WriteFolderCard(FolderCardFromImage(image, work_folder), dir);
}

FolderCardImage::FolderCardImage(const std::string& dir, const std::string& work_folder)
    : dir_(dir), card_(formats::ReadFolderCard(dir)) {
  TempFile temp{TempImage(work_folder)};
  // The card managers that make and read the image keep their settings and
  // cache file apart from those of the session that has the image open.
  work_folder_ = temp.path + ".work";
  std::error_code ec;
  std::filesystem::create_directories(work_folder_, ec);
  if (ec) throw InOutError(work_folder_, ec.message());
  try {
    ImageFromFolderCard(card_, temp.path, work_folder_);
  } catch (...) {
    std::filesystem::remove_all(work_folder_, ec);
    throw;
  }
  digest_ = Digest(temp.path);
  image_ = temp.path;
  temp.path.clear();
}

FolderCardImage::~FolderCardImage() {
  std::error_code ec;
  std::filesystem::remove_all(work_folder_, ec);
  if (!keep_image_) ::unlink(image_.c_str());
}

void FolderCardImage::WriteBack() {
  const uint64_t now = Digest(image_);
  if (now == digest_) return;
  keep_image_ = true;
  auto after = FolderCardFromImage(image_, work_folder_);
  formats::UpdateFolderCard(card_, after, dir_);
  card_ = formats::ReadFolderCard(dir_);
  digest_ = now;
  keep_image_ = false;
}

}  // namespace travosk::manager
