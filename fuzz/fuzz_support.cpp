#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "card/fileip.h"
#include "card/formatter.h"
#include "common/bytes.h"
#include "manager/archive_builder.h"
#include "manager/ps1card.h"

namespace travosk::fuzz {

namespace {

// 2024-01-01 05:34:56 in Japan: every card of every run carries the same stamps.
constexpr std::time_t kCardTime = 1704054896;
constexpr size_t kNearWindow = 0x10000;

std::string ScratchBase() {
  if (const char* env = std::getenv("TRAVOSK_FUZZ_TMP"); env && *env) return env;
  if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  return std::filesystem::temp_directory_path().string();
}

class Scratch {
 public:
  Scratch() {
    std::string pattern = ScratchBase() + "/travosk-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror(pattern.c_str());
      std::abort();
    }
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

const std::string& ScratchFolder() {
  static Scratch scratch;
  return scratch.path();
}

std::string ScratchFile(const std::string& name) {
  return ScratchFolder() + "/" + name;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void WriteFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write the scratch file " + path);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<Patch> ApplyPatches(std::span<const uint8_t> input, std::span<uint8_t> image) {
  std::vector<Patch> patches;
  size_t at = 0;
  while (image.size() > 0 && input.size() - at >= 4) {
    const uint8_t selector = input[at];
    size_t offset = load_le16(input, at + 1);
    size_t length = size_t{input[at + 3]} + 1;
    at += 4;
    if (selector & 0x80) offset |= size_t{selector & 0x7Fu} << 16;
    offset %= image.size();
    length = std::min({length, input.size() - at, image.size() - offset});
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), length,
                image.begin() + static_cast<std::ptrdiff_t>(offset));
    patches.push_back({offset, length});
    at += length;
  }
  return patches;
}

void AppendPatch(std::vector<uint8_t>& out, size_t offset, std::span<const uint8_t> bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const size_t o = offset + done;
    const size_t n = std::min<size_t>(256, bytes.size() - done);
    out.push_back(o < kNearWindow ? 0 : static_cast<uint8_t>(0x80 | ((o >> 16) & 0x7F)));
    out.push_back(static_cast<uint8_t>(o));
    out.push_back(static_cast<uint8_t>(o >> 8));
    out.push_back(static_cast<uint8_t>(n - 1));
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(done),
               bytes.begin() + static_cast<std::ptrdiff_t>(done + n));
    done += n;
  }
}

SimulatedCard::SimulatedCard(sim::MediumKind kind, const std::string& image_name) {
  // Each card has a working folder of its own: the cache's temp file and the
  // settings file live there.
  const std::string folder = ScratchFile(image_name + ".d");
  std::filesystem::create_directories(folder);
  const std::string image = folder + "/" + image_name;
  sim::Medium::CreateBlank(image, kind, 8);
  session_.adapter.InsertCard(sim::Medium::Open(image, kind));
  mgr_ = std::make_unique<manager::TPS2MFMSYS>(session_.link);
  mgr_->InitSystem(folder);
  mgr_->Access().Medium = Slot::kCard;
}

SimulatedCard::~SimulatedCard() {
  if (mgr_) mgr_->DoneSystem();
}

bool SimulatedCard::Unchanged() {
  const auto now = Image();
  return std::equal(now.begin(), now.end(), pristine_.begin(), pristine_.end());
}

void SimulatedCard::ForgetWaits() {
  // The test clock records every wait; over millions of inputs the record
  // would fill the memory.
  session_.clock.sleeps.clear();
}

void SimulatedCard::Restore(const std::vector<Patch>& ranges) {
  ForgetWaits();
  auto image = Image();
  for (const Patch& p : ranges)
    std::copy_n(pristine_.begin() + static_cast<std::ptrdiff_t>(p.offset), p.length,
                image.begin() + static_cast<std::ptrdiff_t>(p.offset));
}

void SimulatedCard::RestoreAll() {
  ForgetWaits();
  std::copy(pristine_.begin(), pristine_.end(), Image().begin());
}

void SimulatedCard::Seal() {
  auto image = Image();
  pristine_.assign(image.begin(), image.end());
  session_.adapter.ResetCounters();
}

std::string BuildArchive(const SaveSpec& save) {
  std::vector<manager::ArchiveFile> files;
  for (const auto& [name, data] : save.files) files.push_back({name, data});
  return manager::BuildSaveArchive(save.folder, files, kCardTime);
}

PS2Card::PS2Card(const std::vector<SaveSpec>& saves)
    : SimulatedCard(sim::MediumKind::kPS2, "card.ps2") {
  auto& m = Manager();
  if (!m.Access().OpenCard() || !card::FormatFileSystem(m.Access(), kCardTime))
    Fail("the fuzz card could not be formatted");
  m.Access().CloseCard();
  const std::string path = ScratchFile("setup.psu");
  for (const SaveSpec& save : saves) {
    const std::string archive = BuildArchive(save);
    WriteFile(path, {reinterpret_cast<const uint8_t*>(archive.data()), archive.size()});
    card::TfileIP root = card::RootDirectory();
    if (!m.Catalog() || !m.AppendSaveArchive(path, root)) Fail("a setup save could not be added");
  }
  std::remove(path.c_str());
  Seal();
}

std::vector<SaveSpec> TwoSaves() {
  std::string icon(964, '\0');
  std::memcpy(icon.data(), "PS2D", 4);
  std::string data(2500, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13 + 7);
  return {
      {"BASLUS-20001GAME", {{"icon.sys", icon}, {"DATA.BIN", data}, {"EMPTY", ""}}},
      {"BESLES-50002OPT", {{"OPT", "x"}}},
  };
}

PS1Card::PS1Card(const std::vector<PS1SaveSpec>& saves)
    : SimulatedCard(sim::MediumKind::kPS1, "card.pss") {
  using namespace manager;
  auto image = Image();
  auto frame = [&](int f) { return image.subspan(size_t{kPS1FrameBytes} * f, kPS1FrameBytes); };
  frame(0)[0] = 'M';
  frame(0)[1] = 'C';
  PS1Checksum(frame(0).data());
  for (int e = 0; e < kPS1Entries; ++e) {
    auto dir = frame(PS1DirectoryFrameOf(e));
    dir[ps1dir::kState] = ps1state::kDeleted;
    store_le16(dir, ps1dir::kLink, kPS1LastLink);
    PS1Checksum(dir.data());
  }
  for (const PS1SaveSpec& save : saves) {
    const size_t n = save.entries.size();
    for (size_t i = 0; i < n; ++i) {
      const int e = save.entries[i];
      auto dir = frame(PS1DirectoryFrameOf(e));
      std::fill(dir.begin(), dir.end(), 0);
      dir[ps1dir::kState] = i == 0       ? ps1state::kFirst
                            : i + 1 == n ? ps1state::kLast
                                         : ps1state::kMiddle;
      if (save.deleted)
        dir[ps1dir::kState] = static_cast<uint8_t>(ps1state::kDeleted | (dir[0] & 0x0F));
      if (i == 0) {
        store_le32(dir, ps1dir::kSize, static_cast<uint32_t>(n * kPS1BlockBytes));
        std::copy_n(save.name.begin(), std::min<size_t>(save.name.size(), ps1dir::kNameMax - 1),
                    dir.begin() + ps1dir::kName);
      }
      store_le16(dir, ps1dir::kLink,
                 i + 1 < n ? static_cast<uint16_t>(save.entries[i + 1]) : kPS1LastLink);
      PS1Checksum(dir.data());
      auto block = image.subspan(size_t{kPS1BlockBytes} * (e + 1), kPS1BlockBytes);
      for (size_t b = 0; b < block.size(); ++b)
        block[b] = static_cast<uint8_t>(e * 16 + b * 7 + (b >> 8));
      if (i == 0) {
        block[0] = 'S';
        block[1] = 'C';
        block[ps1title::kIconFlag] = 0x11;
        block[ps1title::kBlocks] = static_cast<uint8_t>(n);
        std::fill_n(block.begin() + ps1title::kTitle, ps1title::kTitleMax, 0);
        std::copy_n(save.title.begin(),
                    std::min<size_t>(save.title.size(), ps1title::kTitleMax - 1),
                    block.begin() + ps1title::kTitle);
      }
    }
  }
  Seal();
}

std::vector<PS1SaveSpec> SomePS1Saves() {
  return {{{0}, "BASLUS-00001ONE", "ONE BLOCK"},
          {{2, 5}, "BASLUS-00002TWO", "TWO BLOCKS"},
          {{7}, "BASLUS-00003GONE", "DELETED", true}};
}

std::vector<uint8_t> BuildPS1SaveFile(int blocks, const std::string& name, uint32_t size) {
  using namespace manager;
  std::vector<uint8_t> file(kPS1SaveHeaderBytes + size_t{kPS1BlockBytes} * blocks, 0);
  file[ps1dir::kState] = ps1state::kFirst;
  store_le32(file, ps1dir::kSize, size);
  store_le16(file, ps1dir::kLink, kPS1LastLink);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), ps1dir::kNameMax - 1),
              file.begin() + ps1dir::kName);
  PS1Checksum(file.data());
  for (size_t i = kPS1SaveHeaderBytes; i < file.size(); ++i)
    file[i] = static_cast<uint8_t>(i * 5 + 3);
  file[kPS1SaveHeaderBytes] = 'S';
  file[kPS1SaveHeaderBytes + 1] = 'C';
  return file;
}

}  // namespace travosk::fuzz
