#include "sim/adapter.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "sim/ecc.h"

namespace travosk::sim {

namespace {

constexpr size_t kPacketBytes = 16;
constexpr size_t kDataPhaseBytes = 512;
constexpr uint32_t kPS1Frames = kPS1CardBytes / kPS1FrameBytes;

// Command pairs, bytes 0 and 1 of a packet.
constexpr uint16_t Pair(uint8_t c0, uint8_t c1) {
  return static_cast<uint16_t>(c0 << 8 | c1);
}
constexpr uint16_t kControl = Pair(0xCA, 0x59);  // byte 2: 02 reset, 03 status
constexpr uint16_t kErasePS2Block = Pair(0x8C, 0x67);
constexpr uint16_t kEraseSMBlock = Pair(0x37, 0x81);
constexpr uint16_t kWritePS2Page = Pair(0xC8, 0xA2);
constexpr uint16_t kWriteSMPage = Pair(0xBC, 0x35);
constexpr uint16_t kReadPS2Page = Pair(0xA5, 0x69);
constexpr uint16_t kReadSMPage = Pair(0xA9, 0x85);
constexpr uint16_t kReadCardSpecs = Pair(0x51, 0x26);
constexpr uint16_t kReadSMId = Pair(0x2C, 0x88);
constexpr uint16_t kReadPS1Frame = Pair(0xE3, 0xA4);
constexpr uint16_t kWritePS1Frame = Pair(0xE9, 0xDC);

constexpr uint8_t kControlReset = 0x02;
constexpr uint8_t kControlStatus = 0x03;
constexpr uint8_t kStatusReply[2] = {0xA0, 0x21};
constexpr uint8_t kPS1CardSpecs = 0x5A;  // every byte of the ReadCardSpecs reply for a PS1 card

// The SmartMedia identity: the maker code of the chips we pretend to carry,
// then the device code of the size and two further bytes a real chip sends.
constexpr uint8_t kSmartMediaMaker = 0xEC;
constexpr uint8_t kSmartMediaId3 = 0xA5;
constexpr uint8_t kSmartMediaId4 = 0x00;

uint32_t PageAddress(const std::array<uint8_t, 16>& p) {
  return static_cast<uint32_t>(p[2] | p[3] << 8);  // low byte first
}
// A PS2 card of more than 65,536 pages takes the page's third byte in packet
// byte 4, zero in every packet for a smaller card.
uint32_t PS2PageAddress(const std::array<uint8_t, 16>& p) {
  return PageAddress(p) | uint32_t{p[4]} << 16;
}
uint16_t FrameNumber(const std::array<uint8_t, 16>& p) {
  return static_cast<uint16_t>(p[2] << 8 | p[3]);  // high byte first
}

}  // namespace

Adapter::Adapter() = default;
Adapter::~Adapter() = default;

void Adapter::InsertCard(std::unique_ptr<Medium> card) {
  card_ = std::move(card);
}
void Adapter::InsertSmartMedia(std::unique_ptr<Medium> sm) {
  sm_ = std::move(sm);
}

bool Adapter::Faulted() {
  if (!plugged_) return true;
  if (unplug_at_ && counters_.transactions >= *unplug_at_) {
    plugged_ = false;
    return true;
  }
  if (silent_at_ && counters_.transactions >= *silent_at_) silent_ = true;
  return false;
}

long Adapter::Write(const uint8_t* data, size_t count) {
  if (!plugged_) return -1;
  if (silent_) return static_cast<long>(count);
  if (drop_data_phase_) {
    drop_data_phase_ = false;
    if (count == kDataPhaseBytes) return static_cast<long>(count);
  }
  if (pending_write_) {
    // A data phase is one 512-byte transfer. A packet instead means the PC
    // gave up on the write; anything else breaks off the transaction rather
    // than writing a page from a partial buffer.
    if (count == kDataPhaseBytes) {
      FinishWrite(data);
      return static_cast<long>(count);
    }
    pending_write_.reset();
    if (count != kPacketBytes) return -1;
  }
  if (Faulted()) return -1;
  if (silent_) return static_cast<long>(count);
  if (count != kPacketBytes) return -1;
  std::array<uint8_t, 16> packet;
  std::memcpy(packet.data(), data, kPacketBytes);
  const uint16_t pair = Pair(packet[0], packet[1]);
  const bool answers = pair == kReadPS2Page || pair == kReadSMPage || pair == kReadCardSpecs ||
                       pair == kReadSMId || pair == kReadPS1Frame ||
                       (pair == kControl && packet[2] == kControlStatus);
  if (fail_at_ && counters_.transactions >= *fail_at_ && (answers || !fail_answering_only_)) {
    fail_at_.reset();
    ++counters_.transactions;
    reply_ready_ = false;
    drop_data_phase_ = pair == kWritePS2Page || pair == kWriteSMPage || pair == kWritePS1Frame;
    return -1;
  }
  Execute(packet);
  return static_cast<long>(count);
}

long Adapter::Read(uint8_t* data, size_t count) {
  if (!plugged_ || silent_ || !reply_ready_) return -1;
  const size_t n = std::min(count, reply_.size());
  std::memcpy(data, reply_.data(), n);
  reply_ready_ = false;
  return static_cast<long>(n);
}

void Adapter::Reply(const uint8_t* data, size_t count) {
  reply_.fill(0);
  std::memcpy(reply_.data(), data, std::min(count, reply_.size()));
  if (corrupt_read_at_ && reads_answered_ == *corrupt_read_at_) {
    reply_[0] ^= 0xFF;
    corrupt_read_at_.reset();
  }
  ++reads_answered_;
  reply_ready_ = true;
}

void Adapter::Execute(const std::array<uint8_t, 16>& packet) {
  const uint16_t pair = Pair(packet[0], packet[1]);
  ++counters_.transactions;
  ++counters_.packets[pair];
  // A new command supersedes a reply that was never read.
  reply_ready_ = false;

  Medium* const ps2 = card_ && card_->kind() == MediumKind::kPS2 ? card_.get() : nullptr;
  Medium* const ps1 = card_ && card_->kind() == MediumKind::kPS1 ? card_.get() : nullptr;
  std::array<uint8_t, 512> out;
  out.fill(0xFF);  // what an empty slot or an address past the card answers

  switch (pair) {
    case kControl:
      if (packet[2] == kControlReset) {
        pending_write_.reset();
      } else if (packet[2] == kControlStatus) {
        out.fill(0);
        out[0] = kStatusReply[0];
        out[1] = kStatusReply[1];
        Reply(out.data(), out.size());
      }
      break;
    case kErasePS2Block:
      EraseBlock(ps2, PS2PageAddress(packet));
      break;
    case kEraseSMBlock:
      EraseBlock(sm_.get(), PageAddress(packet));
      break;
    case kWritePS2Page:
    case kWriteSMPage:
    case kWritePS1Frame:
      pending_write_ = packet;
      break;
    case kReadPS2Page:
    case kReadSMPage: {
      Medium* m = pair == kReadPS2Page ? ps2 : sm_.get();
      const uint32_t page = pair == kReadPS2Page ? PS2PageAddress(packet) : PageAddress(packet);
      if (m && page < m->pages()) {
        std::memcpy(out.data(), m->Range(size_t(page) * kRawPageBytes, kRawPageBytes).data(),
                    out.size());
        ++counters_.pages_read;
      }
      Reply(out.data(), out.size());
      break;
    }
    case kReadCardSpecs:
      if (ps2) {
        out.fill(0);
        out[0] = 0x00;  // page size 512, little-endian
        out[1] = 0x02;
        out[2] = static_cast<uint8_t>(ps2->pages_per_block());
        out[3] = 0x00;
        store_le32(out, 4, ps2->pages());
      } else if (ps1) {
        out.fill(0);
        std::fill_n(out.begin(), 8, kPS1CardSpecs);
      }
      Reply(out.data(), out.size());
      break;
    case kReadSMId:
      if (sm_) {
        out.fill(0);
        out[0] = kSmartMediaMaker;
        out[1] = sm_->device_code();
        out[2] = kSmartMediaId3;
        out[3] = kSmartMediaId4;
      }
      Reply(out.data(), out.size());
      break;
    case kReadPS1Frame: {
      const uint16_t frame = FrameNumber(packet);
      if (ps1 && frame < kPS1Frames) {
        out.fill(0);
        std::memcpy(out.data(), ps1->bytes().data() + size_t(frame) * kPS1FrameBytes,
                    kPS1FrameBytes);
        ++counters_.frames_read;
      }
      Reply(out.data(), out.size());
      break;
    }
    default:
      break;  // unknown commands are ignored and answer nothing
  }
}

void Adapter::EraseBlock(Medium* m, uint32_t page) {
  if (!m || page >= m->pages() || !m->writable()) return;
  const size_t first = size_t(page / m->pages_per_block()) * m->pages_per_block();
  auto block = m->Range(first * kRawPageBytes, size_t(m->pages_per_block()) * kRawPageBytes);
  std::fill(block.begin(), block.end(), 0xFF);
  m->Touched(first * kRawPageBytes, block.size());
  ++counters_.blocks_erased;
  NoteChange();
}

void Adapter::FinishWrite(const uint8_t* sent) {
  const auto packet = *pending_write_;
  pending_write_.reset();
  std::array<uint8_t, kDataPhaseBytes> taken;
  std::memcpy(taken.data(), sent, taken.size());
  if (write_filter) write_filter(taken);
  const uint8_t* data = taken.data();
  const uint16_t pair = Pair(packet[0], packet[1]);

  if (pair == kWritePS1Frame) {
    const uint16_t frame = FrameNumber(packet);
    if (card_ && card_->kind() == MediumKind::kPS1 && frame < kPS1Frames && card_->writable()) {
      std::memcpy(card_->bytes().data() + size_t(frame) * kPS1FrameBytes, data, kPS1FrameBytes);
      ++counters_.frames_written;
      NoteChange();
    }
    return;
  }

  Medium* m = nullptr;
  if (pair == kWritePS2Page && card_ && card_->kind() == MediumKind::kPS2) m = card_.get();
  if (pair == kWriteSMPage) m = sm_.get();
  const uint32_t page = pair == kWritePS2Page ? PS2PageAddress(packet) : PageAddress(packet);
  if (!m || page >= m->pages() || !m->writable()) return;

  // Programming flash can only clear bits; the page's code is programmed into
  // the spare bytes the same way, so writing a page twice without an erase
  // leaves a code that no longer matches, as on a real card.
  auto raw = m->Range(size_t(page) * kRawPageBytes, kRawPageBytes);
  for (size_t i = 0; i < kDataPhaseBytes; ++i) raw[i] &= data[i];
  const auto spare = PageSpare(std::span<const uint8_t, 512>(raw.first<512>()));
  for (size_t i = 0; i < spare.size(); ++i) raw[kDataPhaseBytes + i] &= spare[i];
  m->Touched(size_t(page) * kRawPageBytes, kRawPageBytes);
  ++counters_.pages_written;
  NoteChange();
}

void Adapter::NoteChange() {
  // The command that changed the medium was the last packet received.
  if (!counters_.first_change) counters_.first_change = counters_.transactions - 1;
}

void Adapter::UnplugAfter(uint64_t n) {
  unplug_at_ = counters_.transactions + n;
}
void Adapter::SilentAfter(uint64_t n) {
  silent_at_ = counters_.transactions + n;
}
void Adapter::FailOnceAfter(uint64_t n, bool answering_only) {
  fail_at_ = counters_.transactions + n;
  fail_answering_only_ = answering_only;
}
void Adapter::CorruptReadAfter(uint64_t n) {
  corrupt_read_at_ = reads_answered_ + n;
}

void Adapter::ClearFaults() {
  unplug_at_.reset();
  silent_at_.reset();
  fail_at_.reset();
  corrupt_read_at_.reset();
  drop_data_phase_ = false;
  silent_ = false;
  plugged_ = true;
}

}  // namespace travosk::sim
