#include "support/fault_rig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cstring>
#include <iostream>
#include <set>
#include <stdexcept>

#include "card/checker.h"
#include "card/fileops.h"
#include "card/repair.h"
#include "common/bytes.h"
#include "common/errors.h"

namespace travosk::support {

namespace {

// On the loopback a failed transfer answers at once, so a case that takes
// this long is waiting for something that will never come.
constexpr std::chrono::seconds kCaseTimeBound{10};
// Findings reported one by one; the rest are counted in one line.
constexpr uint64_t kFindingsShown = 10;

// The PS1 directory as far as its consistency goes (the card manager's own
// decoder is not used, so that a fault in it cannot hide a fault here).
constexpr size_t kFrame = 128;
constexpr int kEntries = 15;
constexpr size_t kState = 0;
constexpr size_t kSize = 4;
constexpr size_t kLink = 8;
constexpr size_t kChecksum = 127;
constexpr uint16_t kLastLink = 0xFFFF;
constexpr int64_t kBlockBytes = 8192;

// Every case run in this process, for the closing total.
FaultTally& ProcessTotal() {
  static FaultTally total;
  return total;
}
int& OperationsRun() {
  static int operations = 0;
  return operations;
}

// Each operation prints its own line; a run of several adds their total.
class TotalPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    if (OperationsRun() < 2) return;
    FaultTally total = ProcessTotal();
    total.name.clear();
    PrintTally(std::cout, total);
  }
};
[[maybe_unused]] ::testing::Environment* const kTotalPrinter =
    ::testing::AddGlobalTestEnvironment(new TotalPrinter);

}  // namespace

namespace {

// Whether the cases fault at transaction k of the clean run.
bool Sampled(const FaultTally& t, uint64_t k) {
  if (k < t.first_change) return t.every_before <= 1 || k % t.every_before == 0;
  return t.every <= 1 || k == t.first_change || k + 1 == t.transactions ||
         (k - t.first_change) % t.every == 0;
}

uint64_t SampledTransactions(const FaultTally& t) {
  uint64_t n = 0;
  for (uint64_t k = 0; k < t.transactions; ++k) n += Sampled(t, k) ? 1 : 0;
  return n;
}

}  // namespace

const char* FaultModeName(FaultMode mode) {
  return mode == FaultMode::kUnplug ? "unplugged" : "silent";
}

FaultTally& FaultTally::operator+=(const FaultTally& o) {
  cases += o.cases;
  hangs += o.hangs;
  crashes += o.crashes;
  reported_success += o.reported_success;
  unchanged_card_failures += o.unchanged_card_failures;
  torn += o.torn;
  late_faults += o.late_faults;
  judged = judged || o.judged;
  harmed += o.harmed;
  unreachable += o.unreachable;
  for (const auto& [mode, n] : o.cases_by_mode) cases_by_mode[mode] += n;
  return *this;
}

void PrintTally(std::ostream& out, const FaultTally& t) {
  out << "fault injection: " << t.cases << " cases, hangs " << t.hangs << ", crashes " << t.crashes
      << ", unchanged-card failures " << t.unchanged_card_failures;
  if (t.judged)
    out << ", saves harmed: " << t.harmed << ", left with unreachable clusters: " << t.unreachable;
  if (!t.judged || t.torn > 0) out << ", torn commits found " << t.torn;
  if (t.late_faults > 0) out << ", faults after the work was done " << t.late_faults;
  if (t.reported_success > 0) out << ", SUCCESS REPORTED UNDER A FAULT " << t.reported_success;
  if (!t.name.empty()) {
    out << " [" << t.name;
    if (!t.shape.empty()) out << " on " << t.shape;
    out << ": N " << t.transactions << ", F " << t.first_change;
    if (t.every > 1) out << ", past F one transaction in " << t.every;
    if (t.every_before > 1) out << ", before F one in " << t.every_before;
    out << "]";
  }
  if (!t.cases_by_mode.empty()) {
    out << " cases by fault kind:";
    const char* sep = " ";
    for (const auto& [mode, n] : t.cases_by_mode) {
      out << sep << mode << " " << n;
      sep = ", ";
    }
  }
  out << "\n";
}

void ExpectNoFinding(const FaultTally& t) {
  PrintTally(std::cout, t);
  EXPECT_GT(t.cases, 0u);
  EXPECT_EQ(t.cases, 2 * SampledTransactions(t));
  EXPECT_EQ(t.hangs, 0u);
  EXPECT_EQ(t.crashes, 0u);
  EXPECT_EQ(t.reported_success, 0u);
  EXPECT_EQ(t.unchanged_card_failures, 0u);
  EXPECT_EQ(t.harmed, 0u);
}

void Reconnect(ManagerRig& rig) {
  Replug(rig.session);
  rig.mgr.Com().LinkFault = false;
  rig.mgr.Cache().ResetCache();
}

void RestoreImage(ManagerRig& rig, const std::vector<uint8_t>& image) {
  auto bytes = rig.medium().bytes();
  if (bytes.size() != image.size()) throw std::runtime_error("the template image has another size");
  // Only the parts that differ are copied: the image is a mapped file, and
  // rewriting all of it for every case would keep the disk busy writing back
  // pages that never changed.
  constexpr size_t kChunk = 4096;
  for (size_t at = 0; at < image.size(); at += kChunk) {
    const size_t n = std::min(kChunk, image.size() - at);
    if (std::memcmp(bytes.data() + at, image.data() + at, n) != 0)
      std::memcpy(bytes.data() + at, image.data() + at, n);
  }
}

bool PS2CardHealthy(ManagerRig& rig) {
  try {
    if (!rig.mgr.Volume().Mount()) return false;
    return card::CheckFileSystem(rig.mgr.Volume()).Healthy();
  } catch (const CardError&) {
    return false;
  }
}

bool PS1DirectoryConsistent(std::span<const uint8_t> card) {
  auto dir = [&](int e) { return card.subspan(kFrame * static_cast<size_t>(e + 1), kFrame); };
  auto in_use = [&](int e) { return (dir(e)[kState] & 0xF0) == 0x50; };
  for (int e = 0; e < kEntries; ++e) {
    if (!in_use(e)) continue;
    uint8_t x = 0;
    for (size_t i = 0; i < kChecksum; ++i) x ^= dir(e)[i];
    if (x != dir(e)[kChecksum]) return false;
  }
  std::bitset<kEntries> owned;
  for (int e = 0; e < kEntries; ++e) {
    if (!in_use(e) || (dir(e)[kState] & 0x0F) != 1) continue;
    const int64_t size = static_cast<int32_t>(load_le32(dir(e), kSize));
    int64_t blocks = 0;
    int cur = e;
    while (true) {
      if (owned.test(static_cast<size_t>(cur))) return false;  // cross-linked or cyclic
      owned.set(static_cast<size_t>(cur));
      ++blocks;
      const uint16_t link = load_le16(dir(cur), kLink);
      if (link == kLastLink) break;
      if (link >= kEntries || !in_use(link) || (dir(link)[kState] & 0x0F) == 1) return false;
      cur = link;
    }
    if (size > 0 && blocks != (size + kBlockBytes - 1) / kBlockBytes) return false;
  }
  for (int e = 0; e < kEntries; ++e)
    if (in_use(e) && !owned.test(static_cast<size_t>(e))) return false;  // a block no save holds
  return true;
}

std::optional<SaveMap> PS2Saves(ManagerRig& rig) {
  auto& m = rig.mgr;
  struct Folder {
    std::string name;
    std::string entries;
    std::vector<card::TfileIP> files;
  };
  std::vector<Folder> folders;
  bool in_save = false;
  // Entry bytes 0..15 and 24..31: mode, length and times, not the clusters.
  auto header = [](const card::TfileIP& x) {
    std::string h(reinterpret_cast<const char*>(x.Header.data()), 16);
    h.append(reinterpret_cast<const char*>(x.Header.data()) + 24, 8);
    return h + x.Name + '\0';
  };
  m.OnAddrootNode = [&](card::TfileIP& x) {
    in_save = x.Dir && !x.Deleted && !x.IsDotName();
    if (in_save) folders.push_back({x.Name, header(x), {}});
  };
  m.OnAddChildNode = [&](card::TfileIP& x) {
    if (in_save && !x.Deleted && !x.IsDotName()) folders.back().files.push_back(x);
  };
  bool listed = false;
  try {
    listed = m.Catalog();
  } catch (const CardError&) {
  }
  m.OnAddrootNode = nullptr;
  m.OnAddChildNode = nullptr;
  if (!listed) return std::nullopt;
  SaveMap saves;
  try {
    for (auto& f : folders) {
      std::string bytes = f.entries;
      for (const auto& x : f.files) {
        bytes += header(x);
        if (x.Dir) continue;
        card::ChainReader chain(m.Volume(), static_cast<uint32_t>(x.RelatCluster));
        std::array<uint8_t, card::kClusterBytes> cluster{};
        std::string data;
        while (data.size() < x.Length() && chain.Next(cluster.data()))
          data.append(reinterpret_cast<const char*>(cluster.data()), cluster.size());
        if (data.size() < x.Length()) return std::nullopt;
        bytes += data.substr(0, x.Length());
      }
      // Two saves of one name would hide each other: keep both apart.
      std::string key = f.name;
      while (saves.count(key)) key += '+';
      saves[key] = bytes;
    }
  } catch (const CardError&) {
    return std::nullopt;
  }
  return saves;
}

SaveMap PS1Saves(std::span<const uint8_t> card) {
  auto dir = [&](int e) { return card.subspan(kFrame * static_cast<size_t>(e + 1), kFrame); };
  SaveMap saves;
  for (int e = 0; e < kEntries; ++e) {
    if (dir(e)[kState] != 0x51) continue;
    std::string bytes;
    std::bitset<kEntries> seen;
    for (int cur = e; cur < kEntries && !seen.test(static_cast<size_t>(cur));) {
      seen.set(static_cast<size_t>(cur));
      const auto frame = dir(cur);
      bytes.append(reinterpret_cast<const char*>(frame.data()), kLink);
      bytes.append(reinterpret_cast<const char*>(frame.data()) + kLink + 2, kFrame - kLink - 3);
      const auto block = card.subspan(static_cast<size_t>(kBlockBytes) * (cur + 1), kBlockBytes);
      bytes.append(reinterpret_cast<const char*>(block.data()), block.size());
      cur = load_le16(frame, kLink);
    }
    const auto name = dir(e).subspan(10, 21);
    saves[std::string(reinterpret_cast<const char*>(name.data()))] = bytes;
  }
  return saves;
}

namespace {

// "" when the saves are as the rule wants them, else what is wrong.
std::string CompareSaves(const SaveMap& now, const SaveMap& before, const SaveMap& after,
                         const std::string& written) {
  std::set<std::string> names;
  for (const auto* map : {&now, &before})
    for (const auto& [name, bytes] : *map) names.insert(name);
  auto get = [](const SaveMap& m, const std::string& n) -> std::optional<std::string> {
    auto it = m.find(n);
    if (it == m.end()) return std::nullopt;
    return it->second;
  };
  for (const auto& name : names) {
    const auto is = get(now, name);
    if (name == written) {
      if (is && is != get(before, name) && is != get(after, name))
        return "the written save \"" + name + "\" is neither old nor new";
    } else if (is != get(before, name)) {
      return "save \"" + name + "\" changed";
    }
  }
  return "";
}

}  // namespace

FaultVerdict JudgePS2(ManagerRig& rig, const SaveMap& before, const SaveMap& after,
                      const std::string& written) {
  FaultVerdict v;
  const auto now = PS2Saves(rig);
  if (!now) return {true, false, "the card cannot be listed"};
  v.why = CompareSaves(*now, before, after, written);
  v.harmed = !v.why.empty();
  try {
    auto& volume = rig.mgr.Volume();
    if (!volume.Mount()) return {true, false, "the card does not mount"};
    const auto report = card::CheckFileSystem(volume);
    if (report.Healthy()) return v;
    for (const auto& f : report.findings) {
      if (f.kind == card::CheckFinding::Kind::kLostCluster) {
        v.unreachable = true;
      } else if (f.kind != card::CheckFinding::Kind::kEntryCount && !v.harmed) {
        v.harmed = true;
        v.why = std::string("the card shows a ") + card::KindName(f.kind) + " at " + f.where +
                ": " + f.what;
      }
    }
    const auto plan = card::PlanRepair(volume);
    if (!plan.CanApply())
      return {true, v.unreachable,
              "the repair refuses: " + (plan.refusals.empty() ? "" : plan.refusals.front())};
    card::ApplyRepair(volume, plan);
    if (!PS2CardHealthy(rig)) return {true, v.unreachable, "the repair leaves findings"};
  } catch (const CardError& e) {
    return {true, v.unreachable, e.what()};
  }
  const auto repaired = PS2Saves(rig);
  if (!repaired) return {true, v.unreachable, "the repaired card cannot be listed"};
  // The repair may not show a save that the card before it did not: one it
  // made visible could hold bytes nobody wrote.
  if (const auto why = CompareSaves(*repaired, before, after, written); !why.empty())
    return {true, v.unreachable, "after the repair: " + why};
  if (repaired->count(written) != now->count(written))
    return {true, v.unreachable, "the repair changes whether \"" + written + "\" is listed"};
  return v;
}

FaultVerdict JudgePS1(std::span<const uint8_t> card, const SaveMap& before, const SaveMap& after,
                      const std::string& written) {
  FaultVerdict v;
  v.why = CompareSaves(PS1Saves(card), before, after, written);
  v.harmed = !v.why.empty();
  v.unreachable = !PS1DirectoryConsistent(card);
  return v;
}

FaultTally RunFaultCases(ManagerRig& rig, const FaultOperation& op) {
  FaultTally t;
  t.name = op.name;
  t.shape = op.shape;
  t.every = op.every;
  t.every_before = op.every_before;
  t.judged = static_cast<bool>(op.verdict);
  sim::Adapter& adapter = rig.adapter();
  const std::vector<uint8_t> before = rig.Snapshot();
  auto fresh_card = [&] {
    RestoreImage(rig, before);
    Reconnect(rig);
    return !op.prepare || op.prepare();
  };

  if (!fresh_card()) {
    ADD_FAILURE() << op.name << ": the preparation fails on the clean card";
    return t;
  }
  adapter.ResetCounters();
  if (!op.run()) {
    ADD_FAILURE() << op.name << ": the clean run fails (" << rig.mgr.LastError() << ")";
    return t;
  }
  t.transactions = adapter.counters().transactions;
  if (!adapter.counters().first_change) {
    ADD_FAILURE() << op.name << ": the clean run changed nothing";
    return t;
  }
  t.first_change = *adapter.counters().first_change;
  const std::vector<uint8_t> after = rig.Snapshot();
  if (op.after_clean_run) op.after_clean_run();

  uint64_t findings = 0;
  auto finding = [&](const std::string& where, const std::string& what) {
    if (++findings <= kFindingsShown) ADD_FAILURE() << where << ": " << what;
  };
  for (uint64_t k = 0; k < t.transactions; ++k) {
    if (!Sampled(t, k)) continue;
    for (FaultMode mode : {FaultMode::kUnplug, FaultMode::kSilent}) {
      const std::string where = op.name + " with the adapter " + FaultModeName(mode) +
                                " at transaction " + std::to_string(k) + " of " +
                                std::to_string(t.transactions) + " (first change at " +
                                std::to_string(t.first_change) + ")";
      if (!fresh_card()) {
        finding(where, "the preparation fails");
        continue;
      }
      adapter.ResetCounters();
      if (mode == FaultMode::kUnplug)
        adapter.UnplugAfter(k);
      else
        adapter.SilentAfter(k);
      ++t.cases;
      ++t.cases_by_mode[FaultModeName(mode)];

      bool claimed = false;
      const auto start = std::chrono::steady_clock::now();
      try {
        claimed = op.run();
      } catch (const InOutError&) {
      } catch (const CardError&) {
      } catch (const std::exception& e) {
        ++t.crashes;
        finding(where, std::string("threw ") + e.what());
      }
      if (std::chrono::steady_clock::now() - start > kCaseTimeBound) {
        ++t.hangs;
        finding(where, "ran for longer than " + std::to_string(kCaseTimeBound.count()) + " s");
      }
      if (claimed) {
        Reconnect(rig);
        if (op.claim_holds && op.claim_holds()) {
          ++t.late_faults;
          continue;
        }
        ++t.reported_success;
        finding(where, "reported success");
      }
      auto now = rig.medium().bytes();
      if (k <= t.first_change) {
        if (!std::equal(now.begin(), now.end(), before.begin(), before.end())) {
          ++t.unchanged_card_failures;
          finding(where, "changed the card before its first changing transaction");
        }
        continue;
      }
      Reconnect(rig);
      if (op.verdict) {
        const FaultVerdict v = op.verdict();
        if (v.harmed) {
          ++t.harmed;
          finding(where, "harmed a save: " + v.why);
        }
        if (v.unreachable) ++t.unreachable;
        continue;
      }
      bool consistent;
      if (op.consistent) {
        consistent = op.consistent();
      } else {
        now = rig.medium().bytes();
        consistent = std::equal(now.begin(), now.end(), before.begin(), before.end()) ||
                     std::equal(now.begin(), now.end(), after.begin(), after.end());
      }
      if (!consistent) ++t.torn;
    }
  }
  if (findings > kFindingsShown)
    ADD_FAILURE() << op.name << ": " << findings - kFindingsShown << " more findings";
  RestoreImage(rig, before);
  Reconnect(rig);
  ProcessTotal() += t;
  ++OperationsRun();
  return t;
}

}  // namespace travosk::support
