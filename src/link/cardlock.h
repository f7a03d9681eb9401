// One writer per card. A card is not this program's alone: a second program
// may open the same image file or talk to the same adapter. Every command
// that reads or writes a card holds an advisory lock for its whole run, so
// the commands of two programs never interleave their transfers or their
// plans: the lock of a card image is the image file itself, the lock of an
// adapter a file named after its device path in the device root's "locks"
// folder (the same name whatever platform published the device). A second
// program waits a little for the lock, then gives up with kCardInUse.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

namespace travosk::link {

inline constexpr const char* kCardInUse = "the card is in use by another program";

// The lock could not be taken within the wait: another program works on the
// card. Never a sign that the card is damaged.
class CardInUse : public std::runtime_error {
 public:
  CardInUse() : std::runtime_error(kCardInUse) {}
};

// How long a command waits for a card that another program holds: five
// seconds, or TRAVOSK_LOCK_WAIT_MS milliseconds when that is set.
std::chrono::milliseconds LockWait();

// The lock file of the adapter at device_path, below DeviceRoot().
std::string DeviceLockPath(const std::string& device_path);

class CardLock {
 public:
  CardLock() = default;  // holds nothing
  ~CardLock();
  CardLock(CardLock&& other) noexcept;
  CardLock& operator=(CardLock&& other) noexcept;
  CardLock(const CardLock&) = delete;
  CardLock& operator=(const CardLock&) = delete;

  // The card image at path. An image that cannot be opened at all yields a
  // lock that holds nothing: opening the image then reports why. Throws
  // CardInUse when the wait ends with the lock still taken.
  static CardLock OnImage(const std::string& path, std::chrono::milliseconds wait);
  // The adapter at device_path (none when it is empty). Throws CardInUse, or
  // InOutError when the lock file cannot be made.
  static CardLock OnDevice(const std::string& device_path, std::chrono::milliseconds wait);

  bool Held() const { return fd_ >= 0; }
  void Release();

 private:
  explicit CardLock(int fd) : fd_(fd) {}
  // The lock on the open file fd within the wait; fd is closed on failure.
  static CardLock Take(int fd, std::chrono::milliseconds wait);
  int fd_ = -1;
};

}  // namespace travosk::link
