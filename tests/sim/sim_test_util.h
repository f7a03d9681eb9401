// Helpers shared by the simulator's tests: a scratch folder and a bench that
// speaks packets to an adapter the way the link does.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/adapter.h"
#include "sim/medium.h"

namespace travosk::sim::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "travosk-sim-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

using Reply = std::array<uint8_t, 512>;

inline std::array<uint8_t, 16> Packet(uint8_t c0, uint8_t c1, uint8_t p0 = 0, uint8_t p1 = 0) {
  return {c0, c1, p0, p1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

// Sends one packet; answers Write's result.
inline long Send(Adapter& a, uint8_t c0, uint8_t c1, uint8_t p0 = 0, uint8_t p1 = 0) {
  auto p = Packet(c0, c1, p0, p1);
  return a.Write(p.data(), p.size());
}

// A read command and its reply; fails the test when nothing comes back.
inline Reply Ask(Adapter& a, uint8_t c0, uint8_t c1, uint8_t p0 = 0, uint8_t p1 = 0) {
  Reply r{};
  EXPECT_EQ(Send(a, c0, c1, p0, p1), 16);
  EXPECT_EQ(a.Read(r.data(), r.size()), 512);
  return r;
}

// A write command and its 512-byte data phase.
inline void Put(Adapter& a, uint8_t c0, uint8_t c1, uint8_t p0, uint8_t p1, const Reply& data) {
  EXPECT_EQ(Send(a, c0, c1, p0, p1), 16);
  EXPECT_TRUE(a.ExpectsDataPhase());
  EXPECT_EQ(a.Write(data.data(), data.size()), 512);
}

inline Reply Filled(uint8_t v) {
  Reply r;
  r.fill(v);
  return r;
}

}  // namespace travosk::sim::testing
