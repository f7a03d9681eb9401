// Serves a simulated adapter through the device interface directory
// (link/device_root.h): the way its driver would publish a real one. Plugging
// builds the interface with its identity and two FIFOs and renames it into the
// class directory (the arrival); Serve moves packets, data phases and replies
// between the FIFOs and the firmware; unplugging renames the interface out
// again (the removal) and deletes everything it made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/unique_fd.h"
#include "sim/adapter.h"

namespace travosk::sim {

class FifoServer {
 public:
  // Plugs adapter in below root (the device root) as the lowest device node
  // number that is free, after removing interfaces that no adapter serves any
  // more. Throws InOutError when the interface cannot be made; nothing is
  // left behind then.
  FifoServer(Adapter& adapter, std::string root);
  ~FifoServer();  // unplugs
  FifoServer(const FifoServer&) = delete;
  FifoServer& operator=(const FifoServer&) = delete;

  const std::string& DevicePath() const { return device_path_; }
  uint32_t Node() const { return node_; }
  bool Plugged() const { return plugged_; }

  // Serves until RequestStop, or until the adapter unplugs itself through its
  // fault injection (then the interface is removed before Serve returns).
  // Throws InOutError when a FIFO fails.
  void Serve();
  // Safe from a signal handler or another thread: wakes Serve and makes it return.
  void RequestStop() noexcept;

  // The link sends a data phase 1 ms after its packet, and a packet in one
  // write. A transaction left half-received this long was abandoned by a PC
  // program that went away; dropping it keeps the next program's packets from
  // being taken as the rest of it.
  static constexpr int kAbandonedTransactionMs = 2000;
  void SetAbandonMs(int ms) { abandon_ms_ = ms; }

  // The removal: the interface leaves the class directory, then its FIFOs,
  // identity and node key are deleted. Also done by the destructor.
  void Unplug() noexcept;

 private:
  void SweepDeadInterfaces() noexcept;
  void Publish();
  void Discard(const std::string& dir) noexcept;
  // Reads into in_ what the current transaction still lacks; false when the
  // FIFO has nothing more for now.
  bool ReadSome();
  void Dispatch();
  void SendReply();
  void DropUnreadReplies();
  bool WaitFor(int fd, short events, int timeout_ms);

  Adapter& adapter_;
  std::string root_;
  uint32_t node_ = 0;
  std::string staging_;      // where the interface is built and taken apart
  std::string device_path_;  // where it lives while plugged
  bool plugged_ = false;
  link::UniqueFd commands_;  // PIPE01, held open for reading and writing
  link::UniqueFd replies_;   // PIPE00, likewise
  link::UniqueFd stop_read_;
  link::UniqueFd stop_write_;
  std::vector<uint8_t> in_;  // the packet or data phase being received
  int abandon_ms_ = kAbandonedTransactionMs;
};

}  // namespace travosk::sim
