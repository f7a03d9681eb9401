// The PS1 directory: decoding, the scan and catalogue, deleting a save, and
// the frame commands that everything PS1 goes through.
#include "manager/ps1card.h"

#include <algorithm>
#include <bitset>
#include <vector>

#include "common/bytes.h"
#include "manager/barprogress.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

namespace {
constexpr const char* kLinkFaultMessage = "the adapter stopped answering";
}  // namespace

std::string PS1SaveFileName(Bytes head) {
  // A name that fills its 21 bytes runs on past them: up to 127 are read, so
  // that such a file is matched against the card as it always was.
  constexpr size_t kFileNameMax = 127;
  return load_cstr(head, ps1dir::kName, kFileNameMax);
}

void ParsePS1Directory(TPs1FileitemRec& item, const uint8_t* frame128) {
  item = TPs1FileitemRec{};
  std::copy_n(frame128, kPS1FrameBytes, item.DirFrame.begin());
  const Bytes f(item.DirFrame);
  item.Link = load_le16(f, ps1dir::kLink);
  item.HasNext = item.Link != kPS1LastLink;
  item.Size = static_cast<int32_t>(load_le32(f, ps1dir::kSize));
  const uint8_t state = f[ps1dir::kState];
  item.NotInUse = (state & 0xF0) != ps1state::kInUse;
  item.BlockType = state & 0x0F;
  if (item.BlockType > 1) {
    item.NoTitle = 1;
  } else {
    item.FileName = load_cstr(f, ps1dir::kName, ps1dir::kNameMax);
  }
}

void ParsePS1Title(TPs1FileitemRec& item, const uint8_t* frame128) {
  std::copy_n(frame128, kPS1FrameBytes, item.TitleFrame.begin());
  const Bytes f(item.TitleFrame);
  item.IconFrames = f[ps1title::kIconFlag] & 0x0F;
  item.CurFrame = 0;
  item.Title = load_cstr(f, ps1title::kTitle, ps1title::kTitleMax);
}

void PS1Checksum(uint8_t* frame128) {
  uint8_t x = 0;
  for (size_t i = 0; i < ps1dir::kChecksum; ++i) x ^= frame128[i];
  frame128[ps1dir::kChecksum] = x;
}

std::vector<uint8_t> FormattedPS1Card() {
  std::vector<uint8_t> card(kPS1CardBytes, 0);
  uint8_t* header = card.data();
  header[0] = 'M';
  header[1] = 'C';
  PS1Checksum(header);
  for (int e = 0; e < kPS1Entries; ++e) {
    uint8_t* frame = card.data() + PS1DirectoryFrameOf(e) * kPS1FrameBytes;
    frame[ps1dir::kState] = ps1state::kDeleted;
    frame[ps1dir::kLink] = frame[ps1dir::kLink + 1] = 0xFF;
    PS1Checksum(frame);
  }
  // The broken-frame list names no frame: its first word and its link are
  // all ones in every record.
  for (int r = 0; r < kPS1BrokenFrameRecords; ++r) {
    uint8_t* frame = card.data() + (kPS1BrokenFrameList + r) * kPS1FrameBytes;
    std::fill_n(frame, 4, 0xFF);
    frame[ps1dir::kLink] = frame[ps1dir::kLink + 1] = 0xFF;
    PS1Checksum(frame);
  }
  // The last frame of the block is the console's write-test frame, a copy of
  // the header.
  std::copy_n(header, kPS1FrameBytes, card.data() + (kPS1FramesPerBlock - 1) * kPS1FrameBytes);
  return card;
}

std::vector<int> PS1UnheldEntries(const TPs1FileRecD& dir) {
  std::bitset<kPS1Entries> held;
  for (int e = 0; e < kPS1Entries; ++e) {
    if (dir.Items[e].DirFrame[ps1dir::kState] != ps1state::kFirst) continue;
    for (int b : PS1Chain(dir, e)) held.set(static_cast<size_t>(b));
  }
  std::vector<int> unheld;
  for (int e = 0; e < kPS1Entries; ++e) {
    const uint8_t state = dir.Items[e].DirFrame[ps1dir::kState];
    if ((state & 0xF0) == ps1state::kInUse && !held.test(static_cast<size_t>(e)))
      unheld.push_back(e);
  }
  return unheld;
}

void FreePS1DirectoryFrame(uint8_t* frame128) {
  std::fill_n(frame128, kPS1FrameBytes, uint8_t{0});
  frame128[ps1dir::kState] = ps1state::kDeleted;
  frame128[ps1dir::kLink] = frame128[ps1dir::kLink + 1] = 0xFF;
  PS1Checksum(frame128);
}

bool IsFormattedPS1(Bytes frame0) {
  return frame0.size() >= 2 && frame0[0] == 'M' && frame0[1] == 'C';
}

bool FindFreePS1Entry(const TPs1FileRecD& card, int& index) {
  const std::vector<int> unheld = PS1UnheldEntries(card);
  for (int e = std::max(index, 0); e < kPS1Entries; ++e) {
    // Any other state is not free: 0xFF marks a block the card cannot use.
    const uint8_t state = card.Items[e].DirFrame[ps1dir::kState];
    if ((state >= ps1state::kDeleted && state <= ps1state::kLastFree) ||
        std::find(unheld.begin(), unheld.end(), e) != unheld.end()) {
      index = e;
      return true;
    }
  }
  return false;
}

bool ReadPS1DirectoryFrames(TPS2MFMSYS& mgr, TPs1FileRecD& dir) {
  dir = TPs1FileRecD{};
  link::Page page{};
  for (int e = 0; e < kPS1Entries; ++e) {
    if (!mgr.ReadPS1Frame(PS1DirectoryFrameOf(e), page)) return false;
    ParsePS1Directory(dir.Items[e], page.data());
  }
  dir.Count = kPS1Entries;
  return true;
}

bool TPS2MFMSYS::ReadPS1Frame(int frame, link::Page& buffer) {
  if (frame < 0 || frame >= kPS1Frames) return false;
  if (PS1Device().ReadFrame(frame, buffer.data())) return true;
  last_error_ = PS1Device().LastError();
  return false;
}

bool TPS2MFMSYS::WritePS1Frame(int frame, const link::Page& buffer) {
  if (frame < 0 || frame >= kPS1Frames) return false;
  if (ps1_device_) ++reader_writes_;
  if (PS1Device().WriteFrame(frame, buffer.data())) return true;
  last_error_ = PS1Device().LastError();
  return false;
}

void TPS2MFMSYS::UsePS1Device(link::PS1Device* device) { ps1_device_ = device; }

link::PS1Device& TPS2MFMSYS::PS1Device() {
  if (ps1_device_) return *ps1_device_;
  if (!adapter_ps1_) adapter_ps1_ = std::make_unique<AdapterPS1>(*this);
  return *adapter_ps1_;
}

// Frame writes through the adapter get no answer, so an adapter that went
// silent takes them without a sign of failure. Reading the last frame
// written back shows whether the writes reached the card. A device that
// answers each write with the card's status has said so already.
bool TPS2MFMSYS::ConfirmPS1Frame(int frame, const link::Page& written) {
  if (PS1Device().WritesAnswered()) return true;
  link::Page back{};
  if (!ReadPS1Frame(frame, back)) return false;
  if (!std::equal(back.begin(), back.begin() + kPS1FrameBytes, written.begin())) {
    last_error_ = "the card did not keep the frames written to it";
    return false;
  }
  return true;
}

// The adapter's card slot. A failed transfer (LinkFault) makes the frame
// operations answer false, so that no caller takes the stale page buffer
// for card data.
AdapterPS1::AdapterPS1(TPS2MFMSYS& mgr) : mgr_(mgr) {}

std::string AdapterPS1::Identity() const {
  return "adapter " + mgr_.Com().link().DevicePath();
}

std::optional<link::PS1Slot> AdapterPS1::CardPresent() {
  if (mgr_.CheckLink()) return link::PS1Slot::kOther;
  return mgr_.Access().IsPS1Card ? link::PS1Slot::kPS1 : link::PS1Slot::kEmpty;
}

bool AdapterPS1::ReadFrame(int frame, uint8_t* frame128) {
  auto& com = mgr_.Com();
  com.LinkFault = false;
  link::Page page{};
  com.ReadPS1Frame(link::FrameMsb(frame), link::FrameLsb(frame), page);
  std::copy_n(page.begin(), kPS1FrameBytes, frame128);
  sent_ += link::kPacketBytes;
  received_ += link::kPageBytes;
  if (com.LinkFault) error_ = kLinkFaultMessage;
  return !com.LinkFault;
}

bool AdapterPS1::WriteFrame(int frame, const uint8_t* frame128) {
  auto& com = mgr_.Com();
  com.LinkFault = false;
  link::Page page{};
  std::copy_n(frame128, kPS1FrameBytes, page.begin());
  com.WritePS1Frame(link::FrameMsb(frame), link::FrameLsb(frame), page);
  sent_ += link::kPacketBytes + link::kPageBytes;
  if (com.LinkFault) error_ = kLinkFaultMessage;
  return !com.LinkFault;
}

bool TPS2MFMSYS::ScanPS1() {
  last_error_.clear();
  BarProgress bar{.Max = kPS1Entries - 1};
  bar.Fire(Onbarprocess);
  PS1Card.Count = 0;
  link::Page page{};
  if (!ReadPS1Frame(0, page)) return false;
  PS1Card.Formatted = IsFormattedPS1(page);
  for (int e = 0; e < kPS1Entries && !bar.isbreak; ++e) {
    TPs1FileitemRec& item = PS1Card.Items[e];
    if (!ReadPS1Frame(PS1DirectoryFrameOf(e), page)) {
      item = TPs1FileitemRec{};
      return false;
    }
    ParsePS1Directory(item, page.data());
    // Free blocks have their first frame read as a title too; NotInUse tells
    // them apart for the window.
    if (item.NoTitle == 0) {
      if (!ReadPS1Frame(PS1BlockFirstFrame(e), page)) {
        item = TPs1FileitemRec{};
        return false;
      }
      ParsePS1Title(item, page.data());
    }
    bar.Fire(Onbarprocess);
    ++bar.process;
    ++PS1Card.Count;
  }
  return !bar.isbreak;
}

bool TPS2MFMSYS::PS1Catalog() {
  if (!ScanPS1()) return false;
  // Item 15 stands for the card itself and is never filled by a scan.
  PS1Card.Items[kPS1Entries] = TPs1FileitemRec{};
  if (OnPS1MainNode) OnPS1MainNode(kPS1Entries, PS1Card.Items[kPS1Entries]);
  for (int e = 0; e < kPS1Entries; ++e) {
    if (OnPS1rootNode) OnPS1rootNode(e, PS1Card.Items[e]);
  }
  return true;
}

bool IsPS1Save(const TPs1FileitemRec& item) { return !item.NoTitle && !item.NotInUse; }

std::vector<int> PS1SaveEntries(const TPs1FileRecD& card) {
  std::vector<int> entries;
  for (int e = 0; e < kPS1Entries; ++e)
    if (IsPS1Save(card.Items[e])) entries.push_back(e);
  return entries;
}

int64_t PS1UsedBytes(const TPs1FileRecD& card) {
  int64_t used = 0;
  for (int e : PS1SaveEntries(card)) used += card.Items[e].Size;
  return used;
}

std::optional<int> FindPS1Save(const TPs1FileRecD& card, const std::string& name) {
  for (int e : PS1SaveEntries(card))
    if (card.Items[e].FileName == name) return e;
  return std::nullopt;
}

std::vector<int> PS1Chain(const TPs1FileRecD& dir, int first_entry) {
  std::vector<int> chain{first_entry};
  std::bitset<kPS1Entries> seen;
  seen.set(static_cast<size_t>(first_entry));
  // Only the low byte of a link names the next entry; a chain on a damaged
  // card may cycle, so an entry is taken at most once and a save never spans
  // more than the card's 15 blocks.
  int next = dir.Items[first_entry].Link & 0xFF;
  while (next < kPS1Entries && !seen.test(static_cast<size_t>(next)) &&
         chain.size() < static_cast<size_t>(kPS1Entries)) {
    seen.set(static_cast<size_t>(next));
    chain.push_back(next);
    next = dir.Items[next].Link & 0xFF;
  }
  return chain;
}

// Works from the card's directory as it is now rather than from the last
// scan, so that a stale record can never make it write old frames back.
Outcome TPS2MFMSYS::DeletePS1Saver(int entry_index) {
  return Concluded(DeletePS1Steps(entry_index));
}

bool TPS2MFMSYS::PS1EntryAsListed(const TPs1FileRecD& dir, int entry) {
  const TPs1FileitemRec& listed = PS1Card.Items[entry];
  // Nothing listed there (no scan yet, or a free block): no list to disagree with.
  if (!IsPS1Save(listed) || listed.FileName.empty()) return true;
  const TPs1FileitemRec& now = dir.Items[entry];
  if (IsPS1Save(now) && now.FileName == listed.FileName) return true;
  card_changed_ = true;
  last_error_ =
      "the card changed since it was read: \"" + listed.FileName + "\" is no longer on it";
  return false;
}

bool TPS2MFMSYS::DeletePS1Steps(int entry_index) {
  last_error_.clear();
  card_changed_ = false;
  if (entry_index < 0 || entry_index >= kPS1Entries) return false;
  TPs1FileRecD dir;
  if (!ReadPS1DirectoryFrames(*this, dir) || !PS1EntryAsListed(dir, entry_index)) return false;
  const std::vector<int> chain = PS1Chain(dir, entry_index);

  BarProgress bar{.Max = static_cast<int>(chain.size()) - 1};
  bar.Fire(Onbarprocess);
  link::Page page{};
  for (int e : chain) {
    page.fill(0);
    std::copy(dir.Items[e].DirFrame.begin(), dir.Items[e].DirFrame.end(), page.begin());
    // Deleting keeps the block's position in the save (low nibble) so that
    // the save can still be told apart from blocks that were always free.
    page[ps1dir::kState] = static_cast<uint8_t>(ps1state::kDeleted | (page[ps1dir::kState] & 0x0F));
    PS1Checksum(page.data());
    if (!WritePS1Frame(PS1DirectoryFrameOf(e), page)) return false;
    ++bar.process;
    bar.Fire(Onbarprocess);
  }
  return ConfirmPS1Frame(PS1DirectoryFrameOf(chain.back()), page);
}

bool TPS2MFMSYS::FormatPS1Card() {
  last_error_.clear();
  // The header block alone: the directory that names every save goes, and
  // the blocks' old data stays unreachable until a save is written over it.
  const std::vector<uint8_t> card = FormattedPS1Card();
  BarProgress bar{.Max = kPS1FramesPerBlock - 1};
  bar.Fire(Onbarprocess);
  link::Page page{};
  for (int frame = 0; frame < kPS1FramesPerBlock && !bar.isbreak; ++frame) {
    page.fill(0);
    std::copy_n(card.begin() + frame * kPS1FrameBytes, kPS1FrameBytes, page.begin());
    if (!WritePS1Frame(frame, page)) return false;
    bar.process = frame + 1;
    bar.Fire(Onbarprocess);
  }
  // Frame 0 ("MC") was written first; the write-test frame last confirms that
  // the writes reached the card.
  return !bar.isbreak && ConfirmPS1Frame(kPS1FramesPerBlock - 1, page);
}

}  // namespace travosk::manager
