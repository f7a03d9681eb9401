// The adapter's slots and the kinds of card they hold: one vocabulary for the
// core, the simulated adapter, the window and the command line.
#pragma once

#include <cstdint>

namespace travosk {

// The slot that card commands address. The numbers are those of the card
// access object's selected medium: 0 while nothing is selected.
enum class Slot : uint8_t { kNone = 0, kCard = 1, kSmartMedia = 2 };

// What a slot holds. The numbers index the window's device pictures.
enum class CardKind : uint8_t { kNone = 0, kPS2 = 1, kPS1 = 2, kSmartMedia = 3 };

// The slot a card of this kind goes into.
constexpr Slot SlotOf(CardKind kind) {
  switch (kind) {
    case CardKind::kPS2:
    case CardKind::kPS1:
      return Slot::kCard;
    case CardKind::kSmartMedia:
      return Slot::kSmartMedia;
    case CardKind::kNone:
      break;
  }
  return Slot::kNone;
}

}  // namespace travosk
