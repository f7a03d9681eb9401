// The card's two reserved backup blocks (superblock fields 0x40 and 0x44):
// a block that holds live data is rewritten through them, so that an
// interruption anywhere leaves either its old or its new contents once the
// next mount has applied the recovery rule. Consoles write and mend a card
// the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "card/fileaccess.h"

namespace travosk::card {

struct BackupBlocks {
  uint32_t block1 = 0;  // erase block that receives the copy of the new contents
  uint32_t block2 = 0;  // erase block whose pages 0 and 1 carry the marker
  bool valid = false;   // two distinct blocks on the card, past the allocatable area
};

// The backup blocks the superblock (card page 0) names, checked against the
// card's geometry and the superblock's own allocatable area: two different
// blocks, on the card, past the last cluster files may take. A number that
// fails this names a block that may hold saves: erasing it for a recovery,
// or copying a block into it, would destroy them.
BackupBlocks BackupBlocksOf(std::span<const uint8_t> superblock, const TPSfileaccess& access);

// The backup blocks of a card whose page 0 holds no superblock because a
// rewrite of block 0 was cut short after its erase: the last two blocks of
// the geometry, when the second carries a whole marker naming block 0 and
// the first a copy of block 0 whose superblock names these two blocks.
// Not valid otherwise. Throws CardError when the card cannot be read.
BackupBlocks PendingBlockZeroRewrite(TPSfileaccess& access);

// Rewrites the erase block at first_page with BlockBytes of 528-byte pages:
// copy into backup block 1 under a marker in backup block 2, then the block
// itself, then backup block 2 erased again. False when a transfer failed.
[[nodiscard]] bool RewriteThroughBackup(TPSfileaccess& access, const BackupBlocks& backup,
                                        uint32_t first_page, const uint8_t* data);

enum class Recovery {
  kNothing,    // backup block 2 is erased: no rewrite was interrupted
  kDiscarded,  // a copy into backup block 1 was cut short; the marker is erased
  kCompleted,  // the named block now holds backup block 1's copy
};
struct RecoveryResult {
  Recovery what = Recovery::kNothing;
  uint32_t block = 0;  // the erase block completed
};

// True when backup block 2 holds a marker: a rewrite through the backup
// blocks was cut short and no mount has completed or discarded it yet. A new
// rewrite must not start then: its first step erases backup block 1, which
// may hold the only whole copy of the interrupted block. Throws CardError
// when the marker pages cannot be read.
bool RewritePending(TPSfileaccess& access, const BackupBlocks& backup);

// Applies the rule at mount. Throws CardError when the card cannot be read
// or written.
RecoveryResult RecoverInterruptedWrite(TPSfileaccess& access, const BackupBlocks& backup);

}  // namespace travosk::card
