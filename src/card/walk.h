// The directory walk: reads a directory entry by entry, descends into a folder
// and comes back. Every walk is bounded by the allocation table's size, so a
// damaged card ends a walk with a failure rather than an endless loop.
#pragma once

#include "card/fileip.h"
#include "card/volume.h"

namespace travosk::card {

void ResetWalk(TPSFilemanager& v);
[[nodiscard]] bool ReadFirstEntry(TPSFilemanager& v, TfileIP& x);
[[nodiscard]] bool ReadNextEntry(TPSFilemanager& v, TfileIP& x);
[[nodiscard]] bool EnterDirectory(TPSFilemanager& v, const TfileIP& x);
// Throws CardError when the 64 levels are used.
void PushPosition(TPSFilemanager& v, const TfileIP& x);
void PopPosition(TPSFilemanager& v, TfileIP& x);

// Decodes the entry at offset o of a cluster into x; answers its validity.
bool DecodeEntry(const uint8_t* cluster, uint16_t o, TfileIP& x);

}  // namespace travosk::card
