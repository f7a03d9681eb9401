// bench_library: a library of 500 card images of 8 MB in the card emulators'
// per-game layout (sparse files: each card's pages that hold anything are
// written, the rest is a hole, as on a card never filled), listed cold (no
// index), listed warm (through the index), searched warm; and, for scale,
// the time to read just the pages each card's listing needs (superblock,
// tables, directories and "icon.sys": the pages a listing of the model card
// asks the card for), each page by itself. Prints a markdown section and
// "CHECK ok|fail text" lines.
//
//     bench_library [FOLDER]   (a temporary folder by default, removed after)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "card/fileip.h"
#include "formats/files.h"
#include "formats/iconsys.h"
#include "formats/save.h"
#include "library/library.h"
#include "sim/loopback_platform.h"
#include "manager/imagesession.h"
#include "manager/listing.h"
#include "manager/newcard.h"

namespace fs = std::filesystem;
using namespace travosk;

namespace {

constexpr int kCards = 500;
constexpr size_t kPage = 512;
constexpr uint64_t kCardBytes = uint64_t{8} << 20;

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

formats::Ps2Save Save(const std::string& name, const std::string& title, size_t bytes) {
  formats::Ps2Save s = formats::MakeSave(name, 1704054896);
  formats::IconSysRecord icon;
  icon.title_first = title;
  icon.icon_file = "icon.ico";
  const auto sys = formats::WriteIconSys(icon);
  formats::AddFile(s, formats::MakeFile(formats::MakeEntry(formats::kFileMode, sys.size(),
                                                           "icon.sys", 1704054896),
                                        sys));
  std::vector<uint8_t> data(bytes, 0x5A);
  formats::AddFile(s, formats::MakeFile(formats::MakeEntry(formats::kFileMode, data.size(),
                                                           "DATA", 1704054896),
                                        data));
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const bool own = argc < 2;
  const fs::path root = own ? fs::temp_directory_path() / ("travosk-library-bench-" +
                                                           std::to_string(::getpid()))
                            : fs::path(argv[1]);
  fs::create_directories(root / "work");
  const std::string work = (root / "work").string();
  ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);

  // One card made by the program, its pages that hold anything copied into
  // every card of the library.
  const std::string model = (root / "work" / "model.mc2").string();
  manager::CreateCardImage(model, formats::ImageFormat::kPs2NoEcc, 8, true);
  {
    manager::ImageSessionOptions o;
    o.card = model;
    o.work_folder = work;
    manager::ImageSession s(o);
    for (const auto& save : {Save("BESLES-50001GAME", "SKY RACER", 20000),
                             Save("BESLES-50001OPTS", "SKY RACER OPTIONS", 3000)}) {
      card::TfileIP r = card::RootDirectory();
      if (!s.Manager().Catalog() || !s.Manager().AppendSave(save, r)) return 1;
    }
    s.Close();
  }
  const auto bytes = formats::LoadWholeFile(model, kCardBytes);
  std::vector<size_t> pages;
  for (size_t p = 0; p * kPage < bytes.size(); ++p)
    for (size_t i = 0; i < kPage; ++i)
      if (bytes[p * kPage + i]) {
        pages.push_back(p);
        break;
      }
  const fs::path lib = root / "sd";
  std::vector<std::string> files;
  for (int i = 0; i < kCards; ++i) {
    char game[16];
    std::snprintf(game, sizeof game, "SLES-5%04d", i);
    const fs::path path = lib / game / (std::string(game) + "-1.mc2");
    fs::create_directories(path.parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (const size_t p : pages)
      if (::pwrite(fd, bytes.data() + p * kPage, kPage, static_cast<off_t>(p * kPage)) < 0) return 1;
    if (::ftruncate(fd, static_cast<off_t>(kCardBytes)) != 0) return 1;
    ::close(fd);
    files.push_back(path.string());
  }

  // The pages a listing of one card asks for, as a listing session of the
  // library reads them.
  std::vector<uint32_t> listed;
  {
    manager::ImageSessionOptions o;
    o.card = files.front();
    o.card_listing = true;
    manager::ImageSession s(o);
    manager::CardListing listing;
    std::string error;
    if (!s.Manager().CheckLink() || !manager::ListCard(s.Manager(), listing, error)) return 1;
    listed = s.Loopback().adapter.card()->PagesReached();
  }

  library::OpenOptions options;
  options.work_folder = work;
  options.index_path = library::DefaultIndexPath(lib.string());
  fs::remove(options.index_path);

  auto t = std::chrono::steady_clock::now();
  const auto cold = library::OpenLibrary(lib.string(), options);
  const double cold_ms = Ms(t);

  t = std::chrono::steady_clock::now();
  std::vector<char> page(kPage);
  for (const auto& f : files) {
    const int fd = ::open(f.c_str(), O_RDONLY);
    for (const uint32_t p : listed)
      if (::pread(fd, page.data(), kPage, static_cast<off_t>(p) * kPage) < 0) return 1;
    ::close(fd);
  }
  const double pages_ms = Ms(t);

  t = std::chrono::steady_clock::now();
  const auto warm = library::OpenLibrary(lib.string(), options);
  const double warm_ms = Ms(t);

  t = std::chrono::steady_clock::now();
  const auto found_in = library::OpenLibrary(lib.string(), options);
  const std::string text = library::FoldForSearch("ｓｋｙ racer options");
  size_t found = 0;
  for (const auto& c : found_in.cards)
    for (const auto& s : c.saves) found += library::SaveMatches(s, text) ? 1 : 0;
  const double find_ms = Ms(t);

  size_t saves = 0;
  for (const auto& c : cold.cards) saves += c.readable ? c.saves.size() : 0;
  std::printf("### A library of %d card images of 8 MB\n\n", kCards);
  std::printf("Per-game layout, sparse files (%zu pages of each card hold anything, %zu of them "
              "read by a listing); %zu saves listed. The files are in the page cache: cold means "
              "without the index.\n\n",
              pages.size(), listed.size(), saves);
  std::printf("| Operation | Time (ms) |\n|---|--:|\n");
  std::printf("| Listing, cold (every card read, %zu cards) | %.1f |\n", cold.cards_read, cold_ms);
  std::printf("| Reading just the pages each card's listing needs, page by page | %.1f |\n",
              pages_ms);
  std::printf("| Listing, warm (through the index, %zu cards read) | %.1f |\n", warm.cards_read,
              warm_ms);
  std::printf("| find, warm (%zu saves match) | %.1f |\n\n", found, find_ms);
  std::printf("CHECK %s cold listing of %d cards under 2 s\n", cold_ms < 2000 ? "ok" : "fail", kCards);
  std::printf("CHECK %s cold listing within 3x of reading its pages (%.1fx)\n",
              cold_ms <= 3 * pages_ms ? "ok" : "fail", cold_ms / pages_ms);
  std::printf("CHECK %s warm listing under 100 ms\n", warm_ms < 100 && warm.cards_read == 0 ? "ok" : "fail");
  std::printf("CHECK %s warm find under 50 ms\n", find_ms < 50 && found == kCards ? "ok" : "fail");
  if (own) fs::remove_all(root);
  return saves == 2 * kCards ? 0 : 1;
}
