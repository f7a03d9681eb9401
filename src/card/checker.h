// A checker for the PS2 file system of a card or SmartMedia: every chain is
// followed against the allocation table and the entry lengths, and every
// cluster the table marks in use must belong to exactly one chain. It only
// reads: nothing it finds is repaired.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/volume.h"

namespace travosk::card {

struct CheckFinding {
  enum class Kind {
    kSuperblock,      // the superblock disagrees with itself or the table
    kChainCycle,      // a chain links back into itself
    kChainOutside,    // a chain or an entry leaves the allocatable area
    kChainFree,       // a chain runs into a cluster the table calls free
    kCrossLinked,     // a cluster belongs to two chains
    kLengthMismatch,  // a file's chain is shorter or longer than its length needs
    kEntryCount,      // a directory's recorded entry count does not fit its slots
    kLostCluster,     // a cluster in use that no chain reaches
    kBadEntry,        // an entry that cannot be read as one, or a "." naming another entry
    kDuplicateName,   // two live entries of one name in a folder: only the first is reached
  };
  Kind kind;
  std::string where;  // "/SAVE/FILE", or "cluster 123"
  std::string what;
};

struct CheckReport {
  std::vector<CheckFinding> findings;
  uint32_t directories = 0;
  uint32_t files = 0;
  uint32_t clusters_in_use = 0;
  bool Healthy() const { return findings.empty(); }
};

// Checks the mounted volume, reading directories straight from the card.
// Throws CardError when the card cannot be read.
CheckReport CheckFileSystem(TPSFilemanager& volume);

const char* KindName(CheckFinding::Kind kind);

}  // namespace travosk::card
