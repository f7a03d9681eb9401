// The SmartMedia PC-format images pcf4M.bin .. pcf32M.bin: 1,152 records of
// 528 bytes (512 data, 16 spare), one per page from page 0. Pages 0 and 1
// carry a card-information record of our own (layout in data/README.md);
// every other page is erased (0xFF), so that the card reaches the PC blank
// apart from that record, ready for the PC's own format.
#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "mkdata.h"

namespace travosk::mkdata {

namespace {

constexpr size_t kRecordBytes = 528;
constexpr size_t kDataBytes = 512;
constexpr int kImagePages = 1152;

// Card-information record (page data bytes).
namespace cis {
constexpr size_t kSignature = 0x00;      // 16 bytes, "TRAVOSK SM-CIS", NUL padded
constexpr size_t kVersion = 0x10;        // u16, 1
constexpr size_t kMegabytes = 0x12;      // u16
constexpr size_t kDeviceCode = 0x14;     // u8, the card's ID device code
constexpr size_t kPagesPerBlock = 0x15;  // u8
constexpr size_t kBlocks = 0x16;         // u16, physical erase blocks
constexpr size_t kLogicalBlocks = 0x18;  // u16, 1,000 of every 1,024 blocks (the rest spare)
constexpr size_t kPageBytes = 0x1A;      // u16, 512
constexpr size_t kLabel = 0x20;          // 32 bytes, text, NUL padded
constexpr size_t kCheck = 0x1FE;         // u16, sum of bytes 0..0x1FD
}  // namespace cis

struct Size {
  int megabytes;
  uint8_t device_code;
  int pages_per_block;
  const char* file;
};

constexpr Size kSizes[] = {
    {4, 0xE5, 16, "pcf4M.bin"},
    {8, 0xE6, 16, "pcf8M.bin"},
    {16, 0x73, 32, "pcf16M.bin"},
    {32, 0x75, 32, "pcf32M.bin"},
};

std::vector<uint8_t> Image(const Size& s) {
  std::vector<uint8_t> image(kRecordBytes * kImagePages, 0xFF);
  std::vector<uint8_t> record(kDataBytes, 0);
  MutableBytes r(record);
  const char* signature = "TRAVOSK SM-CIS";
  std::memcpy(record.data() + cis::kSignature, signature, std::strlen(signature));
  store_le16(r, cis::kVersion, 1);
  store_le16(r, cis::kMegabytes, static_cast<uint16_t>(s.megabytes));
  r[cis::kDeviceCode] = s.device_code;
  r[cis::kPagesPerBlock] = static_cast<uint8_t>(s.pages_per_block);
  const int blocks = s.megabytes * 1024 * 1024 / kDataBytes / s.pages_per_block;
  store_le16(r, cis::kBlocks, static_cast<uint16_t>(blocks));
  store_le16(r, cis::kLogicalBlocks, static_cast<uint16_t>(blocks * 1000 / 1024));
  store_le16(r, cis::kPageBytes, kDataBytes);
  const std::string label = "TRAVOSK PC FORMAT " + std::to_string(s.megabytes) + "MB";
  std::copy(label.begin(), label.end(), record.begin() + cis::kLabel);
  uint16_t sum = 0;
  for (size_t i = 0; i < cis::kCheck; ++i) sum = static_cast<uint16_t>(sum + record[i]);
  store_le16(r, cis::kCheck, sum);
  // Two copies, in pages 0 and 1; their spare bytes stay 0xFF like the rest.
  for (size_t page = 0; page < 2; ++page)
    std::copy(record.begin(), record.end(), image.begin() + page * kRecordBytes);
  return image;
}

}  // namespace

void WritePCFormatImages(const std::string& folder) {
  for (const Size& s : kSizes) WriteFile(folder + "/" + s.file, Image(s));
}

}  // namespace travosk::mkdata
