// The directory walk: reads a directory entry by entry, descends into a folder
// and comes back. Every walk is bounded by the allocation table's size, so a
// damaged card ends a walk with a failure rather than an endless loop.
//
// The catalogue walks with the volume's own cursor and saves its place on
// the volume's stack (PushPosition, PopPosition) around each folder. Any other
// walk, such as one through a save folder an operation works on, takes a
// WalkCursor of its own and leaves the catalogue's where it was.
#pragma once

#include "card/fileip.h"
#include "card/volume.h"

namespace travosk::card {

// Back to the root with nothing read (called by Mount).
void ResetWalk(TPSFilemanager& v);
[[nodiscard]] bool ReadFirstEntry(TPSFilemanager& v, WalkCursor& c, TfileIP& x);
[[nodiscard]] bool ReadNextEntry(TPSFilemanager& v, WalkCursor& c, TfileIP& x);
[[nodiscard]] bool EnterDirectory(const TPSFilemanager& v, WalkCursor& c, const TfileIP& x);

// The same with the volume's own cursor.
[[nodiscard]] inline bool ReadFirstEntry(TPSFilemanager& v, TfileIP& x) {
  return ReadFirstEntry(v, v.Walk, x);
}
[[nodiscard]] inline bool ReadNextEntry(TPSFilemanager& v, TfileIP& x) {
  return ReadNextEntry(v, v.Walk, x);
}
[[nodiscard]] inline bool EnterDirectory(TPSFilemanager& v, const TfileIP& x) {
  return EnterDirectory(v, v.Walk, x);
}
// Throws CardError when the 64 levels are used.
void PushPosition(TPSFilemanager& v, const TfileIP& x);
void PopPosition(TPSFilemanager& v, TfileIP& x);

// Decodes the entry at offset o of a cluster into x; answers its validity.
bool DecodeEntry(const uint8_t* cluster, uint16_t o, TfileIP& x);

}  // namespace travosk::card
