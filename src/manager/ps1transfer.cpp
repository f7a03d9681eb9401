// PS1 transfers between the card and PC files: the whole card as a ".pss"
// image, and one save as a save file of any PS1 format the format layer
// reads and writes (".PS1"/".mcs": its directory frame, then its blocks in
// chain order).
#include <bitset>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "common/errors.h"
#include "formats/files.h"
#include "formats/images.h"
#include "manager/barprogress.h"
#include "manager/pcfile_io.h"
#include "manager/ps1card.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

namespace {

link::Page FramePage(const uint8_t* frame128) {
  link::Page page{};
  std::copy_n(frame128, kPS1FrameBytes, page.begin());
  return page;
}

// A card image opens with the card's header frame, "MC": anything else of
// the same length would leave the console an unformatted card.
bool IsPS1CardImage(const std::vector<uint8_t>& image) {
  return image.size() >= 2 && image[0] == 'M' && image[1] == 'C';
}

}  // namespace

bool TPS2MFMSYS::UploadPS1Card(const std::string& file_name) {
  last_error_.clear();
  // The layout the file's name asks for; a PSP image would need a signature.
  const auto layout = formats::Ps1ImageFormatForPath(file_name);
  if (layout == formats::ImageFormat::kPs1Vmp) {
    last_error_ = "a PSP .vmp image is signed by its console; write .mcr, .gme or .vgs";
    return false;
  }
  BarProgress bar{.Max = kPS1Frames};
  bar.Fire(Onbarprocess);
  std::vector<uint8_t> card;
  card.reserve(kPS1CardBytes);
  link::Page page{};
  for (int frame = 0; frame < kPS1Frames && !bar.isbreak; ++frame) {
    if (!ReadPS1Frame(frame, page)) return false;
    card.insert(card.end(), page.begin(), page.begin() + kPS1FrameBytes);
    ++bar.process;
    bar.Fire(Onbarprocess);
  }
  // A cancelled upload leaves no partial image (and any earlier file as it was).
  if (bar.isbreak) return false;
  try {
    formats::WriteWholeFileAtomically(file_name, formats::WritePs1Image(card, layout));
  } catch (const InOutError&) {
    return false;
  }
  return true;
}

bool TPS2MFMSYS::DownloadPS1Card(const std::string& file_name) {
  last_error_.clear();
  BarProgress bar{.Max = kPS1Frames};
  bar.Fire(Onbarprocess);
  auto in = PcInFile::Open(file_name);
  if (!in) return false;
  // Anything but a whole card image would leave the card with a directory
  // that does not match its blocks. An image of another tool's layout is
  // the card's bytes after its header.
  constexpr uint64_t kLargestImage = kPS1CardBytes + 3904;  // a DexDrive image
  const char* not_an_image = "the file is not a whole PS1 card image of a known layout";
  if (in->Size() < static_cast<uint64_t>(kPS1CardBytes) || in->Size() > kLargestImage) {
    last_error_ = not_an_image;
    return false;
  }
  std::vector<uint8_t> image = in->ReadPrefix(static_cast<size_t>(in->Size()));
  if (image.size() != in->Size()) throw InOutError(file_name, "the card image ended early");
  const auto kind = formats::IdentifyImage(image, image.size(), file_name);
  if (!kind || !kind->ps1) {
    last_error_ = not_an_image;
    return false;
  }
  image.erase(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(kind->header));
  if (!IsPS1CardImage(image)) {
    last_error_ = "the file is not a PS1 card image";
    return false;
  }
  for (int frame = 0; frame < kPS1Frames && !bar.isbreak; ++frame) {
    if (!WritePS1Frame(frame, FramePage(image.data() + size_t{kPS1FrameBytes} * frame)))
      return false;
    ++bar.process;
    bar.Fire(Onbarprocess);
  }
  if (bar.isbreak) return false;
  const int last = kPS1Frames - 1;
  return ConfirmPS1Frame(last, FramePage(image.data() + size_t{kPS1FrameBytes} * last));
}

Outcome TPS2MFMSYS::UploadPS1Saver(const std::string& file_name, int entry_index) {
  return Concluded(UploadPS1Steps(file_name, entry_index));
}

bool TPS2MFMSYS::UploadPS1Steps(const std::string& file_name, int entry_index) {
  last_error_.clear();
  card_changed_ = false;
  if (entry_index < 0 || entry_index >= kPS1Entries) return false;
  TPs1FileRecD dir;
  if (!ReadPS1DirectoryFrames(*this, dir) || !PS1EntryAsListed(dir, entry_index)) return false;
  formats::Ps1Save save;
  if (!ReadPS1SaveBlocks(dir, entry_index, save)) return false;
  formats::WriteWholeFileAtomically(
      file_name, formats::WritePs1Save(save, formats::Ps1FormatForPath(file_name)));
  return true;
}

bool TPS2MFMSYS::ReadPS1Saver(int entry_index, formats::Ps1Save& save) {
  last_error_.clear();
  if (entry_index < 0 || entry_index >= kPS1Entries) return false;
  TPs1FileRecD dir;
  return ReadPS1DirectoryFrames(*this, dir) && ReadPS1SaveBlocks(dir, entry_index, save);
}

bool TPS2MFMSYS::ReadPS1SaveBlocks(const TPs1FileRecD& dir, int entry_index,
                                   formats::Ps1Save& save) {
  const TPs1FileitemRec& first = dir.Items[entry_index];
  if (first.NotInUse) return false;
  const int64_t size = first.Size;
  if (size <= 0) return false;

  save = formats::Ps1Save{};
  BarProgress bar{.Max = static_cast<int>(size / kPS1FrameBytes + 1)};
  bar.Fire(Onbarprocess);

  link::Page page{};
  if (!ReadPS1Frame(PS1DirectoryFrameOf(entry_index), page)) return false;
  std::copy_n(page.begin(), kPS1FrameBytes, save.frame.begin());

  int64_t written = 0;
  int entry = entry_index;
  int frame = PS1BlockFirstFrame(entry_index);
  int blocks = 0;
  std::bitset<kPS1Entries> visited;
  visited.set(static_cast<size_t>(entry_index));
  while (written < size) {
    // A size larger than the card, or a chain that runs off its last frame,
    // is a damaged save: no file is made of it.
    if (blocks == kPS1Entries || frame + kPS1FramesPerBlock > kPS1Frames) {
      last_error_ = "the save's block chain is damaged";
      return false;
    }
    for (int i = 0; i < kPS1FramesPerBlock; ++i, ++frame) {
      if (!ReadPS1Frame(frame, page)) return false;
      save.blocks.insert(save.blocks.end(), page.begin(), page.begin() + kPS1FrameBytes);
      written += kPS1FrameBytes;
      ++bar.process;
      bar.Fire(Onbarprocess);
    }
    ++blocks;
    if (written >= size) break;
    const uint16_t next = dir.Items[entry].Link;
    if (next == kPS1LastLink) continue;  // a save longer than its chain: the next block in order
    // A link out of range, or back to a block of this save, is a damaged
    // chain: its data would be wrong.
    if (next >= kPS1Entries || visited.test(next)) {
      last_error_ = "the save's block chain is damaged";
      return false;
    }
    visited.set(next);
    entry = next;
    frame = PS1BlockFirstFrame(next);
  }
  return true;
}

// The save is placed only when every block it needs is free, its data goes
// in before its directory frames, and the first block's frame is written
// last: a transfer that fails part-way leaves the blocks free and the card's
// directory as it was.
Outcome TPS2MFMSYS::DownloadPS1Saver(const std::string& file_name) {
  return Concluded(DownloadPS1FileSteps(file_name));
}

Outcome TPS2MFMSYS::DownloadPS1Saver(const formats::Ps1Save& save) {
  return Concluded(DownloadPS1Steps(save));
}

bool TPS2MFMSYS::DownloadPS1FileSteps(const std::string& file_name) {
  last_error_.clear();
  card_changed_ = false;
  if (!std::filesystem::exists(file_name)) throw InOutError(file_name, std::strerror(ENOENT));
  formats::Ps1Save read;
  try {
    read = formats::ReadPs1SaveFile(file_name);
  } catch (const formats::FormatError& e) {
    last_error_ = e.what();
    return false;
  }
  return DownloadPS1Steps(read);
}

bool TPS2MFMSYS::DownloadPS1Steps(const formats::Ps1Save& read) {
  last_error_.clear();
  card_changed_ = false;
  // A card without its "MC" header is not formatted: a console would not
  // read a save written to it.
  link::Page header{};
  if (!ReadPS1Frame(0, header)) return false;
  if (header[0] != 'M' || header[1] != 'C') {
    last_error_ = "the card is not formatted";
    return false;
  }
  TPs1FileRecD dir;
  if (!ReadPS1DirectoryFrames(*this, dir)) return false;
  int index = 0;
  if (!FindFreePS1Entry(dir, index)) return false;

  const int n = static_cast<int>(read.BlockCount());
  if (n == 0 || n > kPS1Entries || read.blocks.size() % kPS1BlockBytes != 0) {
    last_error_ = "the save holds no whole block, or more than a card has";
    return false;
  }
  std::vector<uint8_t> save(read.frame.begin(), read.frame.end());
  save.insert(save.end(), read.blocks.begin(), read.blocks.end());

  std::vector<int> list;
  for (int i = 0; i < n; ++i, ++index) {
    if (!FindFreePS1Entry(dir, index)) {
      last_error_ = "the card has too few free blocks for the save";
      return false;
    }
    list.push_back(index);
  }

  BarProgress bar{.Max = kPS1Entries - 1};
  bar.Fire(Onbarprocess);
  bar.Max = n * kPS1FramesPerBlock;
  bar.process = 0;
  const uint8_t* data = save.data() + kPS1SaveHeaderBytes;
  for (int e : list) {
    for (int i = 0; i < kPS1FramesPerBlock; ++i, data += kPS1FrameBytes) {
      if (!WritePS1Frame(PS1BlockFirstFrame(e) + i, FramePage(data))) return false;
      ++bar.process;
      bar.Fire(Onbarprocess);
    }
  }

  link::Page page{};
  for (int i = n - 1; i >= 0; --i) {
    page.fill(0);
    if (i == 0) std::copy_n(save.begin(), kPS1FrameBytes, page.begin());
    const MutableBytes frame(page.data(), kPS1FrameBytes);
    // Consoles mark a save's blocks first, middle and last.
    frame[ps1dir::kState] = i == 0       ? ps1state::kFirst
                            : i == n - 1 ? ps1state::kLast
                                         : ps1state::kMiddle;
    store_le16(frame, ps1dir::kLink, i < n - 1 ? static_cast<uint16_t>(list[i + 1]) : kPS1LastLink);
    PS1Checksum(page.data());
    if (!WritePS1Frame(PS1DirectoryFrameOf(list[i]), page)) return false;
  }
  // The first block's frame went last: reading it back confirms the save.
  return ConfirmPS1Frame(PS1DirectoryFrameOf(list[0]), page) && !bar.isbreak;
}

}  // namespace travosk::manager
