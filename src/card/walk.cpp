// The directory walk. A directory is a chain of clusters with two 512-byte
// entries each; the walk keeps its position (current cluster and offset), the
// head of the directory being walked and the entry that describes it, and
// steps through the chain by the allocation table.
//
// The table comes off the card and may be damaged: every cluster the walk is
// about to read is checked against the table, and a step that would lead back
// into the part of the chain already walked ends the directory, so a looping
// chain can neither hang a listing nor send it round the same entries again.
#include "card/walk.h"

#include <algorithm>

#include "card/chain_util.h"
#include "common/errors.h"

namespace travosk::card {
namespace {

using detail::InTable;
using detail::kSlotBytes;
using detail::Links;

constexpr int32_t kNoCluster = -1;

// True when `next` lies on the chain from `head` at or before `left`: the step
// would send the walk round the same clusters again. The check walks the
// chain afresh each time, so it needs no state beyond the walk's head; a
// directory chain is short. A `left` that is no longer on the chain was
// unlinked by the walk's caller after it was read; its remembered link is then
// the way on.
bool StepGoesBack(const TPSFilemanager& v, uint32_t head, uint32_t left, uint32_t next) {
  bool next_seen = false;
  uint32_t p = head;
  for (uint32_t steps = 0; steps <= v.FatEntryCount() && InTable(v, p); ++steps) {
    if (p == next) next_seen = true;
    if (p == left) return next_seen;
    const uint32_t a = v.Fat[p];
    if (!Links(a)) break;
    p = a & kNextMask;
  }
  return false;
}

// Moves the walk to the next slot: the other half of the cluster, or the
// first slot of the next cluster of the chain (-1 when there is none).
void Advance(const TPSFilemanager& v, WalkCursor& w) {
  w.CurrentOffset = static_cast<uint16_t>((w.CurrentOffset + kSlotBytes) % kClusterBytes);
  if (w.CurrentOffset != 0) return;
  const auto left = static_cast<uint32_t>(w.CurrentCluster);
  const uint32_t a = w.Link;
  const uint32_t next = a & kNextMask;
  if (!Links(a) || !InTable(v, next) || StepGoesBack(v, w.HeadCluster, left, next)) {
    w.CurrentCluster = kNoCluster;
  } else {
    w.CurrentCluster = static_cast<int32_t>(next);
  }
}

bool CurrentInTable(const TPSFilemanager& v, const WalkCursor& w) {
  return w.CurrentCluster >= 0 && InTable(v, static_cast<uint32_t>(w.CurrentCluster));
}

void SetNext(const WalkCursor& w, TfileIP& x) {
  x.NextCluster = w.CurrentCluster;
  x.NextOffset = w.CurrentOffset;
}

bool AttributesClear(const uint8_t* cluster, uint16_t o) {
  for (size_t i = 0; i < 32; ++i) {
    if (cluster[o + entry::kAttributes + i] != 0) return false;
  }
  return true;
}

}  // namespace

bool DecodeEntry(const uint8_t* cluster, uint16_t o, TfileIP& x) {
  const Bytes e(cluster + o, entry::kBytes);
  x.Header.fill(0);
  if (load_le16(e, entry::kReserved) != 0) return false;
  const uint16_t mode = load_le16(e, entry::kMode);
  if (mode == 0x0000 || mode == 0xFFFF) return false;
  std::copy_n(e.begin(), x.Header.size(), x.Header.begin());
  x.Name = load_cstr(e, entry::kName, entry::kNameMax);
  if ((mode & entry::kModeExists) == 0) {
    // A deleted entry keeps the kind and cluster of the record it replaces:
    // only existing entries say what they are.
    x.Deleted = 1;
    return true;
  }
  x.Deleted = 0;
  if (!x.Name.empty() && x.Name[0] == '.') {
    x.Dir = 1;
    x.RelatCluster = kNoCluster;
  } else {
    x.Dir = (mode & entry::kModeDirectory) != 0 ? 1 : 0;
    x.RelatCluster = static_cast<int32_t>(load_le32(e, entry::kCluster));
  }
  return true;
}

namespace {

// Reads cluster c of the directory being walked into the walk's buffer, unless
// the buffer holds it already from the card as it still is.
void LoadWalkCluster(TPSFilemanager& v, WalkBuffer& b, uint32_t c) {
  const uint64_t generation = v.cache().Generation();
  if (b.cluster == static_cast<int64_t>(c) && b.generation == generation) return;
  b.cluster = -1;
  v.ReadCluster(c, b.bytes.data());
  b.cluster = c;
  b.generation = generation;
}

}  // namespace

void ResetWalk(TPSFilemanager& v) {
  v.Walk = WalkCursor{};
}

bool ReadFirstEntry(TPSFilemanager& v, WalkCursor& w, TfileIP& x) {
  if (!CurrentInTable(v, w)) {
    w.More = 0;
    return false;
  }
  const auto current = static_cast<uint32_t>(w.CurrentCluster);
  const uint32_t a = v.Fat[current];
  w.More = !(a == kChainEnd && w.CurrentOffset != 0);
  if ((a & kInUse) == 0) return false;
  LoadWalkCluster(v, w.Buffer, current);
  w.Link = a;

  x.HeadOffset = w.CurrentOffset;
  x.HeadCluster = w.CurrentCluster;
  w.HeadOffset = w.CurrentOffset;
  w.HeadCluster = current;
  x.ParentOffset = w.ParentOffset;
  x.ParentCluster = w.ParentCluster;
  x.NowOffset = w.CurrentOffset;
  x.NowCluster = current;

  const bool valid = DecodeEntry(w.Buffer.bytes.data(), w.CurrentOffset, x);
  Advance(v, w);
  SetNext(w, x);
  return valid;
}

bool ReadNextEntry(TPSFilemanager& v, WalkCursor& w, TfileIP& x) {
  if (!w.More) return false;
  if (!CurrentInTable(v, w)) {
    w.More = 0;
    return false;
  }
  const auto current = static_cast<uint32_t>(w.CurrentCluster);
  if (w.CurrentOffset == 0) {
    w.Link = v.Fat[current];
    LoadWalkCluster(v, w.Buffer, current);
  }
  // After the second entry of the chain's last cluster nothing more is read.
  w.More = !(w.CurrentOffset == kSlotBytes && !Links(w.Link));

  x.NowOffset = w.CurrentOffset;
  x.NowCluster = current;
  const uint8_t* cluster = w.Buffer.bytes.data();
  const bool valid = DecodeEntry(cluster, w.CurrentOffset, x);
  const bool result = valid && AttributesClear(cluster, w.CurrentOffset);

  // A "." entry marks the head of the directory that holds it.
  if (valid && x.Dir == 1 && x.Deleted == 0 && x.Name == ".") {
    w.HeadCluster = current;
    w.HeadOffset = w.CurrentOffset;
  }
  x.HeadOffset = w.HeadOffset;
  x.HeadCluster = static_cast<int32_t>(w.HeadCluster);
  x.ParentOffset = w.ParentOffset;
  x.ParentCluster = w.ParentCluster;

  Advance(v, w);
  SetNext(w, x);
  return result;
}

bool EnterDirectory(const TPSFilemanager& v, WalkCursor& w, const TfileIP& x) {
  if (x.RelatCluster == kNoCluster || x.NowCluster == kChainEnd) return false;
  const auto first = static_cast<uint32_t>(x.RelatCluster);
  if (!InTable(v, first)) return false;
  w.CurrentCluster = x.RelatCluster;
  w.CurrentOffset = 0;
  w.HeadCluster = first;
  w.HeadOffset = 0;
  w.ParentCluster = x.NowCluster;
  w.ParentOffset = x.NowOffset;
  return true;
}

void PushPosition(TPSFilemanager& v, const TfileIP& x) {
  if (v.StackDepth < 0 || v.StackDepth >= kStackLevels) {
    throw CardError("The directory walk cannot go deeper than 64 levels.");
  }
  if (v.Stack.size() < static_cast<size_t>(kStackLevels)) v.Stack.resize(kStackLevels);
  if (v.StackBuffers.size() < static_cast<size_t>(kStackLevels))
    v.StackBuffers.resize(kStackLevels);
  v.Stack[v.StackDepth] = x;
  v.StackFlags[v.StackDepth] = v.Walk.More;
  // The outer directory's cluster goes with the level, so that coming back
  // out of the folder finds it without another trip to the card.
  v.StackBuffers[static_cast<size_t>(v.StackDepth)] = v.Walk.Buffer;
  ++v.StackDepth;
}

void PopPosition(TPSFilemanager& v, TfileIP& x) {
  if (v.StackDepth < 1) return;
  --v.StackDepth;
  WalkCursor& w = v.Walk;
  x = v.Stack[v.StackDepth];
  w.More = v.StackFlags[v.StackDepth];
  w.CurrentCluster = x.NextCluster;
  w.CurrentOffset = x.NextOffset;
  w.HeadCluster = static_cast<uint32_t>(x.HeadCluster);
  w.HeadOffset = x.HeadOffset;
  // The entries read after the folder belong to the outer directory again, so
  // they name its describing entry, not the folder's.
  w.ParentCluster = x.ParentCluster;
  w.ParentOffset = x.ParentOffset;
  if (static_cast<size_t>(v.StackDepth) < v.StackBuffers.size()) {
    w.Buffer = v.StackBuffers[static_cast<size_t>(v.StackDepth)];
  } else {
    w.Buffer.cluster = -1;
  }
  if (CurrentInTable(v, w)) {
    const auto current = static_cast<uint32_t>(w.CurrentCluster);
    w.Link = v.Fat[current];
    LoadWalkCluster(v, w.Buffer, current);
  } else {
    w.CurrentCluster = kNoCluster;
  }
}

}  // namespace travosk::card
