// Turning the SmartMedia back into a card that a PC can use: erase it, then
// write the first 1,152 pages of the prepared image for its size.
#include <algorithm>
#include <vector>

#include "common/page.h"
#include "manager/barprogress.h"
#include "manager/pcfile_io.h"
#include "manager/ps2mfmsys.h"

namespace travosk::manager {

namespace {

constexpr int kImagePages = 1152;
constexpr size_t kImageRecordBytes = page::kBytes;  // one page: data and spare bytes
constexpr const char* kLinkFaultMessage = "the adapter stopped answering";

}  // namespace

bool TPS2MFMSYS::FormatToPC(const std::string& image_file_name) {
  last_error_.clear();
  // The image commands address the SmartMedia slot whatever medium is
  // selected, so any other selection must not reach them.
  if (Access().Medium != Slot::kSmartMedia) return false;
  if (!Access().OpenCard()) return false;
  const int pages_per_block = Access().BlockBytes / static_cast<int>(kImageRecordBytes);
  if (pages_per_block <= 0) return false;

  // The image is read in full before the card is touched: a missing or
  // unreadable image leaves the card as it was. Pages past the end of a short
  // image are written erased (0xFF).
  auto in = PcInFile::Open(InFolder(WorkFolder(), image_file_name));
  if (!in) return false;
  std::vector<uint8_t> image(kImageRecordBytes * kImagePages, 0xFF);
  in->Read(image.data(), image.size());

  // A cancelled erase still ends in the image write below; a failed one
  // (the reason in last_error_) ends here.
  if (!EraseCard() && !last_error_.empty()) return false;

  const int blocks = kImagePages / pages_per_block;
  // The bar counts pages, the unit in which it advances.
  BarProgress bar{.Max = blocks * pages_per_block};
  bar.Fire(Onbarprocess);
  uint32_t page = 0;
  for (int b = 0; b < blocks; ++b) {
    if (!Access().EraseBlock(page)) {
      last_error_ = kLinkFaultMessage;
      return false;
    }
    for (int i = 0; i < pages_per_block; ++i, ++page) {
      link::Page data{};
      std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(page * kImageRecordBytes),
                  kImageRecordBytes, data.begin());
      if (!Access().WritePage(page, data)) {
        last_error_ = kLinkFaultMessage;
        return false;
      }
      ++bar.process;
      bar.Fire(Onbarprocess);
    }
  }
  // Page writes get no answer either: only the closing detection shows that
  // the adapter was still there to take them.
  if (!Com().DetectAdapter()) {
    last_error_ = kLinkFaultMessage;
    return false;
  }
  return true;
}

}  // namespace travosk::manager
