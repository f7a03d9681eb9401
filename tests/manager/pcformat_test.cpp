#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/manager_fixture.h"

namespace travosk::manager {
namespace {

constexpr size_t kRecord = 528;
constexpr int kImagePages = 1152;

class SmartMediaRig : public support::ManagerRig {
 public:
  explicit SmartMediaRig(int megabytes)
      : ManagerRig({.media = support::CardMedia::kSmartMedia,
                    .megabytes = megabytes,
                    .formatted = false}) {}
  // An image of `records` pages in the working folder; record p's data bytes
  // are derived from p and its spare bytes are 0xEE.
  void WriteImage(const std::string& name, int records) {
    std::ofstream out(dir.File(name), std::ios::binary);
    for (int p = 0; p < records; ++p) {
      std::vector<char> record(kRecord, static_cast<char>(0xEE));
      for (size_t i = 0; i < 512; ++i) record[i] = static_cast<char>(p * 3 + i);
      out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
  }
  std::span<uint8_t> PageData(uint32_t page) {
    return session.adapter.smartmedia()->bytes().subspan(size_t{page} * kRecord, 512);
  }
  const sim::Counters& counters() { return session.adapter.counters(); }
};

bool PageIs(std::span<const uint8_t> data, int p) {
  for (size_t i = 0; i < data.size(); ++i)
    if (data[i] != static_cast<uint8_t>(p * 3 + i)) return false;
  return true;
}

bool Erased(std::span<const uint8_t> data) {
  return std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xFF; });
}

TEST(FormatToPC, ErasesThenWritesTheImageBlockByBlock) {
  for (int megabytes : {4, 8}) {
    SmartMediaRig rig(megabytes);
    rig.WriteImage("pcf.bin", kImagePages + 10);  // records past 1,152 are not used
    rig.PageData(5000)[0] = 0x00;
    rig.session.adapter.ResetCounters();
    int last_max = 0, last_process = 0;
    rig.mgr.Onbarprocess = [&](int& max, int&, int& process, bool&) {
      last_max = max;
      last_process = process;
    };
    ASSERT_TRUE(rig.mgr.FormatToPC("pcf.bin"));
    const uint64_t blocks = uint64_t(megabytes) * 1024 * 1024 / 512 / 16;
    EXPECT_EQ(rig.counters().Packets(0x37, 0x81), blocks + 72);
    EXPECT_EQ(rig.counters().blocks_erased, blocks + 72);
    EXPECT_EQ(rig.counters().Packets(0xBC, 0x35), 1152u);
    EXPECT_EQ(rig.counters().pages_written, 1152u);
    EXPECT_EQ(last_process, last_max);
    for (int p : {0, 1, 15, 16, 700, 1151}) EXPECT_TRUE(PageIs(rig.PageData(p), p)) << p;
    EXPECT_TRUE(Erased(rig.PageData(1152)));
    EXPECT_TRUE(Erased(rig.PageData(5000)));
  }
}

TEST(FormatToPC, ShortImageEndsInErasedPages) {
  SmartMediaRig rig(16);
  rig.WriteImage("short.bin", 40);
  ASSERT_TRUE(rig.mgr.FormatToPC("short.bin"));
  EXPECT_EQ(rig.counters().Packets(0x37, 0x81), 1024u + 36);  // 32-page blocks
  EXPECT_TRUE(PageIs(rig.PageData(39), 39));
  EXPECT_TRUE(Erased(rig.PageData(40)));
  EXPECT_TRUE(Erased(rig.PageData(1151)));
}

TEST(FormatToPC, RefusesBeforeErasingAnything) {
  SmartMediaRig rig(8);
  rig.PageData(3)[0] = 0x12;
  EXPECT_FALSE(rig.mgr.FormatToPC("missing.bin"));
  EXPECT_EQ(rig.counters().blocks_erased, 0u);
  EXPECT_EQ(rig.PageData(3)[0], 0x12);

  // The image commands never go to the card slot.
  rig.WriteImage("pcf8M.bin", kImagePages);
  rig.mgr.Access().Medium = Slot::kCard;
  EXPECT_FALSE(rig.mgr.FormatToPC("pcf8M.bin"));
  EXPECT_EQ(rig.counters().blocks_erased, 0u);

  // Without a SmartMedia nothing is recognised.
  rig.mgr.Access().Medium = Slot::kSmartMedia;
  rig.session.adapter.InsertSmartMedia(nullptr);
  EXPECT_FALSE(rig.mgr.FormatToPC("pcf8M.bin"));
}

TEST(FormatToPC, LinkFaultFails) {
  SmartMediaRig rig(8);
  rig.WriteImage("pcf8M.bin", kImagePages);
  rig.session.adapter.UnplugAfter(1024 + 200);  // past the full erase, into the image
  EXPECT_FALSE(rig.mgr.FormatToPC("pcf8M.bin"));
  EXPECT_FALSE(rig.mgr.LastError().empty());

  SmartMediaRig early(8);
  early.WriteImage("pcf8M.bin", kImagePages);
  early.session.adapter.UnplugAfter(100);  // during the full erase
  EXPECT_FALSE(early.mgr.FormatToPC("pcf8M.bin"));
  EXPECT_EQ(early.counters().pages_written, 0u);
}

}  // namespace
}  // namespace travosk::manager
