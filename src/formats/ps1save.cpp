#include "formats/ps1save.h"

#include <algorithm>

#include "common/errors.h"

namespace travosk::formats {

namespace {

constexpr size_t kTitleAt = 4;  // the title frame's Shift-JIS title
constexpr size_t kTitleBytes = 64;
constexpr size_t kPsxTitleAt = 21;  // in a 54-byte header
constexpr size_t kPsxTitleMax = 32;

bool OpensWithTitleFrame(Bytes blocks) {
  return blocks.size() >= 2 && blocks[0] == 'S' && blocks[1] == 'C';
}

// The count of whole blocks after `header` bytes, when the file is exactly
// those (0 otherwise).
size_t WholeBlocks(Bytes file, size_t header) {
  if (file.size() < header + kPs1BlockBytes) return 0;
  const size_t body = file.size() - header;
  if (body % kPs1BlockBytes != 0) return 0;
  const size_t blocks = body / kPs1BlockBytes;
  return blocks <= kPs1MaxBlocks ? blocks : 0;
}

// Characters a PS1 save name may hold: printable ASCII, without the
// wildcards a console's file functions give a meaning.
bool NameChar(uint8_t c) {
  return c >= 0x20 && c < 0x7F && c != '?' && c != '*';
}

std::string Extension(std::string_view name) {
  const auto dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  std::string ext(name.substr(dot + 1));
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c | 0x20); });
  return ext;
}

std::string_view FileName(std::string_view path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

Ps1Save FromBlocks(std::string_view name, Bytes blocks) {
  Ps1Save save;
  save.frame = MakePs1Frame(name, blocks.size() / kPs1BlockBytes);
  save.blocks.assign(blocks.begin(), blocks.end());
  return save;
}

// The title as ASCII for a cheat device's header: full-width letters,
// digits and common signs become their ASCII forms, other characters '?'.
std::string AsciiTitle(Bytes title) {
  std::string out;
  for (size_t i = 0; i < title.size() && out.size() < kPsxTitleMax;) {
    const uint8_t c = title[i];
    if (c == 0) break;
    if (c < 0x80) {
      out.push_back(NameChar(c) || c == '?' || c == '*' ? static_cast<char>(c) : '?');
      ++i;
      continue;
    }
    if (i + 1 >= title.size()) break;
    const uint16_t code = static_cast<uint16_t>(c << 8 | title[i + 1]);
    i += 2;
    char ascii = '?';
    if (code >= 0x824F && code <= 0x8258)
      ascii = static_cast<char>('0' + code - 0x824F);
    else if (code >= 0x8260 && code <= 0x8279)
      ascii = static_cast<char>('A' + code - 0x8260);
    else if (code >= 0x8281 && code <= 0x829A)
      ascii = static_cast<char>('a' + code - 0x8281);
    else {
      static constexpr struct {
        uint16_t code;
        char ascii;
      } kSigns[] = {{0x8140, ' '}, {0x8143, ','}, {0x8144, '.'}, {0x8146, ':'}, {0x8147, ';'},
                    {0x8148, '?'}, {0x8149, '!'}, {0x8151, '_'}, {0x815E, '/'}, {0x815B, '-'},
                    {0x8169, '('}, {0x816A, ')'}, {0x817B, '+'}, {0x817C, '-'}, {0x8181, '='},
                    {0x8193, '%'}, {0x8194, '#'}, {0x8195, '&'}, {0x8196, '*'}, {0x8197, '@'}};
      for (const auto& s : kSigns)
        if (s.code == code) ascii = s.ascii;
    }
    out.push_back(ascii);
  }
  return out;
}

}  // namespace

bool LooksLikeMcs(Bytes file) {
  return file.size() >= 2 && file[ps1frame::kState] == ps1frame::kFirst && file[1] == 0;
}

bool LooksLikePsx(Bytes file) {
  if (WholeBlocks(file, kPsxHeaderBytes) == 0) return false;
  if (!OpensWithTitleFrame(file.subspan(kPsxHeaderBytes))) return false;
  // A name of 1..20 name characters, ended by a NUL in its 21 bytes.
  size_t n = 0;
  while (n <= ps1frame::kNameMax && file[n] != 0) {
    if (!NameChar(file[n])) return false;
    ++n;
  }
  return n > 0 && n <= ps1frame::kNameMax;
}

bool LooksLikeRawPs1(Bytes file) {
  return WholeBlocks(file, 0) > 0 && OpensWithTitleFrame(file);
}

std::string Ps1NameFromPath(std::string_view path) {
  std::string_view name = FileName(path);
  if (Extension(name) == "raw") name = name.substr(0, name.size() - 4);
  std::string out;
  for (char c : name.substr(0, ps1frame::kNameMax))
    out.push_back(NameChar(static_cast<uint8_t>(c)) ? c : '_');
  return out;
}

bool LooksLikePs1SaveName(std::string_view file_name) {
  const std::string_view name = FileName(file_name);
  return name.size() >= 12 && name.find('.') == std::string_view::npos && name[0] == 'B' &&
         (name[1] == 'A' || name[1] == 'E' || name[1] == 'I');
}

std::string Ps1ProductCode(std::string_view save_name) {
  // "B", the region letter, then ten characters of product code.
  if (save_name.size() < 12 || save_name[0] != 'B' ||
      (save_name[1] != 'A' && save_name[1] != 'E' && save_name[1] != 'I'))
    return "";
  return std::string(save_name.substr(2, 10));
}

Ps1Save ReadMcs(Bytes file, const std::string& source) {
  const uint64_t blocks = file.size() >= kPs1FrameBytes + kPs1BlockBytes
                              ? (file.size() - kPs1FrameBytes) / kPs1BlockBytes
                              : 0;
  if (blocks == 0) throw FormatError("the file holds no whole save block");
  if (blocks > kPs1MaxBlocks) throw FormatError("the file holds more blocks than a card has");
  // The state of a save's first block and a zero byte after it.
  if (!LooksLikeMcs(file)) throw FormatError("the file is not a PS1 save file");
  const int64_t declared = static_cast<int32_t>(load_le32(file, ps1frame::kSize));
  if (declared > static_cast<int64_t>(kPs1BlockBytes * blocks))
    throw InOutError(source, "the save file holds fewer blocks than its size needs");
  Ps1Save save;
  std::copy_n(file.begin(), kPs1FrameBytes, save.frame.begin());
  const Bytes data = file.subspan(kPs1FrameBytes, static_cast<size_t>(blocks * kPs1BlockBytes));
  save.blocks.assign(data.begin(), data.end());
  return save;
}

std::vector<uint8_t> WriteMcs(const Ps1Save& save) {
  std::vector<uint8_t> out(save.frame.begin(), save.frame.end());
  out.insert(out.end(), save.blocks.begin(), save.blocks.end());
  return out;
}

Ps1Save ReadPsx(Bytes file, const std::string& /*source*/) {
  if (file.size() < kPsxHeaderBytes) throw FormatError("the file ends inside its 54-byte header");
  if (WholeBlocks(file, kPsxHeaderBytes) == 0)
    throw FormatError("the file is not its 54-byte header and 1 to 15 whole save blocks");
  if (!LooksLikePsx(file))
    throw FormatError("the file's header names no PS1 save, or its blocks open with no title");
  return FromBlocks(load_cstr(file, 0, ps1frame::kNameMax), file.subspan(kPsxHeaderBytes));
}

std::vector<uint8_t> WritePsx(const Ps1Save& save) {
  std::vector<uint8_t> out(kPsxHeaderBytes, 0);
  const std::string name = save.Name();
  std::copy_n(name.begin(), std::min(name.size(), ps1frame::kNameMax), out.begin());
  if (save.blocks.size() >= kTitleAt + kTitleBytes) {
    const std::string title = AsciiTitle(Bytes(save.blocks).subspan(kTitleAt, kTitleBytes));
    std::copy(title.begin(), title.end(), out.begin() + kPsxTitleAt);
  }
  out.insert(out.end(), save.blocks.begin(), save.blocks.end());
  return out;
}

Ps1Save ReadRawPs1(Bytes file, const std::string& path) {
  if (WholeBlocks(file, 0) == 0)
    throw FormatError("a raw PS1 save is 1 to 15 whole blocks of 8,192 bytes");
  if (!OpensWithTitleFrame(file)) throw FormatError("the save's first block has no title frame");
  const std::string name = Ps1NameFromPath(path);
  if (name.empty()) throw FormatError("the file's name gives the save no name");
  return FromBlocks(name, file);
}

std::vector<uint8_t> WriteRawPs1(const Ps1Save& save) {
  return save.blocks;
}

}  // namespace travosk::formats
