// The SmartMedia PC-format images pcf4M.bin .. pcf32M.bin: 1,152 records of
// 528 bytes (512 data, 16 spare), one per page from page 0. Pages 0 and 1
// open with the card information structure that SmartMedia cards carry in
// their first good block (table in data/README.md); every other byte is
// erased (0xFF), so that a PC reader finds a SmartMedia it knows, blank apart
// from that structure and ready for the PC's own format.
#include <algorithm>
#include <array>

#include "mkdata.h"

namespace travosk::mkdata {

namespace {

constexpr size_t kRecordBytes = 528;
constexpr int kImagePages = 1152;
constexpr int kCisPages = 2;  // the structure and its copy

// The card information structure of a SmartMedia, a PC Card tuple chain as
// public SmartMedia physical format documentation gives it: each tuple is a
// code, a link (its body's length) and the body; 0xFF ends the chain.
constexpr std::array<uint8_t, 110> kCis = {
    0x01, 0x03, 0xD9, 0x01, 0xFF,                    // device: I/O, 250 ns, 2 KB
    0x18, 0x02, 0xDF, 0x01,                          // JEDEC id of common memory
    0x20, 0x04, 0x00, 0x00, 0x00, 0x00,              // manufacturer id
    0x21, 0x02, 0x04, 0x01,                          // function: fixed disk, POST
    0x22, 0x02, 0x01, 0x01,                          // function extension: ATA interface
    0x22, 0x03, 0x02, 0x04, 0x07,                    // function extension: ATA features
    0x1A, 0x05, 0x01, 0x03, 0x00, 0x02, 0x0F,        // configuration: registers at 0x200
    0x1B, 0x08, 0xC0, 0xC0, 0xA1, 0x01, 0x55, 0x08,  // configuration entry 0: memory mapped
    0x00, 0x20,                                      //
    0x1B, 0x0A, 0xC1, 0x41, 0x99, 0x01, 0x55, 0x64,  // configuration entry 1: I/O, 16 ports
    0xF0, 0xFF, 0xFF, 0x20,                          //
    0x1B, 0x0C, 0x82, 0x41, 0x18, 0xEA, 0x61, 0xF0,  // configuration entry 2: primary
    0x01, 0x07, 0xF6, 0x03, 0x01, 0xEE,              //   ATA ports 0x1F0, 0x3F6
    0x1B, 0x0C, 0x83, 0x41, 0x18, 0xEA, 0x61, 0x70,  // configuration entry 3: secondary
    0x01, 0x07, 0x76, 0x03, 0x01, 0xEE,              //   ATA ports 0x170, 0x376
    0x15, 0x14, 0x05, 0x00,                          // version 5.0 and its strings:
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00,  //   maker (blank)
    0x20, 0x20, 0x20, 0x20, 0x00,                    //   product (blank)
    0x30, 0x2E, 0x30, 0x00,                          //   "0.0"
    0xFF,                                            //   end of the strings
    0x14, 0x00,                                      // no link to another chain
    0xFF,                                            // end of the chain
};

const char* const kFiles[] = {"pcf4M.bin", "pcf8M.bin", "pcf16M.bin", "pcf32M.bin"};

std::vector<uint8_t> Image() {
  std::vector<uint8_t> image(kRecordBytes * kImagePages, 0xFF);
  for (size_t page = 0; page < kCisPages; ++page)
    std::copy(kCis.begin(), kCis.end(), image.begin() + page * kRecordBytes);
  return image;
}

}  // namespace

void WritePCFormatImages(const std::string& folder) {
  // The structure does not depend on the card's size: one image serves each.
  for (const char* file : kFiles) WriteFile(folder + "/" + file, Image());
}

}  // namespace travosk::mkdata
