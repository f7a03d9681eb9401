#include "formats/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/atomic_file.h"
#include "common/errors.h"
#include "formats/cbs.h"
#include "formats/max.h"
#include "formats/ps1save.h"
#include "formats/psu.h"
#include "formats/psv.h"
#include "formats/sharkport.h"

namespace travosk::formats {

std::string_view FormatName(SaveFormat f) {
  switch (f) {
    case SaveFormat::kPsu:
      return "psu";
    case SaveFormat::kMax:
      return "max";
    case SaveFormat::kMcs:
      return "mcs";
    case SaveFormat::kPsx:
      return "psx";
    case SaveFormat::kRaw:
      return "raw";
    case SaveFormat::kCbs:
      return "cbs";
    case SaveFormat::kSps:
      return "sps";
    case SaveFormat::kPsv:
    case SaveFormat::kPs1Psv:
      return "psv";
  }
  return "?";
}

std::optional<SaveFormat> FormatByName(std::string_view name) {
  for (auto f :
       {SaveFormat::kPsu, SaveFormat::kMax, SaveFormat::kMcs, SaveFormat::kPsx, SaveFormat::kRaw})
    if (FormatName(f) == name) return f;
  return std::nullopt;
}

SaveFormat FormatForPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  if (ext == "max") return SaveFormat::kMax;
  if (ext == "mcs" || ext == "ps1") return SaveFormat::kMcs;
  if (ext == "cbs") return SaveFormat::kCbs;
  if (ext == "sps" || ext == "xps") return SaveFormat::kSps;
  if (ext == "psv") return SaveFormat::kPsv;
  return SaveFormat::kPsu;
}

std::vector<SaveFormat> SaveFormatsForPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  if (ext == "psu" || ext == "psd") return {SaveFormat::kPsu};
  if (ext == "max") return {SaveFormat::kMax};
  if (ext == "mcs" || ext == "ps1") return {SaveFormat::kMcs};
  if (ext == "psx" || ext == "mcb" || ext == "mcx" || ext == "pda") return {SaveFormat::kPsx};
  if (ext == "raw" || (ext.empty() && LooksLikePs1SaveName(path))) return {SaveFormat::kRaw};
  if (ext == "cbs") return {SaveFormat::kCbs};
  if (ext == "sps" || ext == "xps") return {SaveFormat::kSps};
  if (ext == "psv") return {SaveFormat::kPsv, SaveFormat::kPs1Psv};
  return {};
}

bool IsPs1Format(SaveFormat f) {
  return f == SaveFormat::kMcs || f == SaveFormat::kPsx || f == SaveFormat::kRaw ||
         f == SaveFormat::kPs1Psv;
}

SaveFormat Ps1FormatForPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  if (ext == "psx" || ext == "mcb" || ext == "mcx" || ext == "pda") return SaveFormat::kPsx;
  if (ext == "raw" || (ext.empty() && LooksLikePs1SaveName(path))) return SaveFormat::kRaw;
  if (ext == "psv") return SaveFormat::kPs1Psv;  // read only: refused when written
  return SaveFormat::kMcs;
}

std::optional<SaveFormat> DetectSaveFormat(Bytes file, std::string_view path) {
  if (LooksLikeMax(file)) return SaveFormat::kMax;
  if (LooksLikeCbs(file)) return SaveFormat::kCbs;
  if (LooksLikeSharkPort(file)) return SaveFormat::kSps;
  if (LooksLikePsv(file)) return IsPs1Psv(file) ? SaveFormat::kPs1Psv : SaveFormat::kPsv;
  if (LooksLikeMcs(file)) return SaveFormat::kMcs;
  if (LooksLikePsx(file)) return SaveFormat::kPsx;
  if (LooksLikeRawPs1(file)) return SaveFormat::kRaw;
  if (LooksLikePsu(file)) return SaveFormat::kPsu;
  const std::string ext = PathExtension(path);
  if (ext == "psu" || ext == "psd") return SaveFormat::kPsu;
  if (ext == "max") return SaveFormat::kMax;
  if (ext == "mcs" || ext == "ps1") return SaveFormat::kMcs;
  if (ext == "psx" || ext == "mcb" || ext == "mcx" || ext == "pda") return SaveFormat::kPsx;
  if (ext == "raw") return SaveFormat::kRaw;
  if (ext == "cbs") return SaveFormat::kCbs;
  if (ext == "sps" || ext == "xps") return SaveFormat::kSps;
  if (ext == "psv") return SaveFormat::kPsv;
  return std::nullopt;
}

std::vector<uint8_t> LoadSaveFile(const std::string& path) {
  return LoadWholeFile(path, kMaxSaveFileBytes);
}

std::vector<uint8_t> LoadWholeFile(const std::string& path, uint64_t max_bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw InOutError(path, std::strerror(errno));
  const std::streamoff size = in.tellg();
  if (size < 0) throw InOutError(path, "cannot read the file");
  if (static_cast<uint64_t>(size) > max_bytes)
    throw FormatError("the file is larger than any save a card holds");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) throw InOutError(path, "read failed");
  return bytes;
}

Ps2Save ReadPs2Save(Bytes file, const std::string& path) {
  const auto format = DetectSaveFormat(file, path);
  if (!format) {
    // Without a magic number or a known extension, a ".psu" is the guess the
    // system has always made; its own checks then speak.
    return ReadPsu(file, path);
  }
  switch (*format) {
    case SaveFormat::kPsu:
      return ReadPsu(file, path);
    case SaveFormat::kMax:
      return ReadMax(file, path, std::time(nullptr));
    case SaveFormat::kCbs:
      return ReadCbs(file, path);
    case SaveFormat::kSps:
      return ReadSharkPort(file, path);
    case SaveFormat::kPsv:
      return ReadPsv(file, path);
    case SaveFormat::kMcs:
    case SaveFormat::kPsx:
    case SaveFormat::kRaw:
    case SaveFormat::kPs1Psv:
      throw FormatError("the file is a PS1 save (use the PS1 commands)");
  }
  throw FormatError("the file is not a save this system reads");
}

Ps2Save ReadPs2SaveFile(const std::string& path) {
  const auto bytes = LoadSaveFile(path);
  return ReadPs2Save(bytes, path);
}

Ps1Save ReadPs1Save(Bytes file, const std::string& path) {
  const auto format = DetectSaveFormat(file, path);
  if (format && !IsPs1Format(*format))
    throw FormatError("the file is a PS2 save (restore it to a PS2 card)");
  if (format == SaveFormat::kPsx) return ReadPsx(file, path);
  if (format == SaveFormat::kRaw) return ReadRawPs1(file, path);
  if (format == SaveFormat::kPs1Psv) return ReadPs1Psv(file, path);
  return ReadMcs(file, path);
}

Ps1Save ReadPs1SaveFile(const std::string& path) {
  const auto bytes = LoadSaveFile(path);
  return ReadPs1Save(bytes, path);
}

std::vector<uint8_t> WritePs2Save(const Ps2Save& save, SaveFormat format) {
  switch (format) {
    case SaveFormat::kPsu:
      return WritePsu(save);
    case SaveFormat::kMax:
      return WriteMax(save);
    case SaveFormat::kMcs:
    case SaveFormat::kPsx:
    case SaveFormat::kRaw:
    case SaveFormat::kPs1Psv:
      throw FormatError("a PS2 save cannot be written as a PS1 save file");
    case SaveFormat::kCbs:
    case SaveFormat::kSps:
    case SaveFormat::kPsv:
      throw FormatError("this system reads ." + std::string(FormatName(format)) +
                        " saves but does not write them (use .psu or .max)");
  }
  throw FormatError("this system does not write that format");
}

std::vector<uint8_t> WritePs1Save(const Ps1Save& save, SaveFormat format) {
  switch (format) {
    case SaveFormat::kMcs:
      return WriteMcs(save);
    case SaveFormat::kPsx:
      return WritePsx(save);
    case SaveFormat::kRaw:
      return WriteRawPs1(save);
    case SaveFormat::kPs1Psv:
      throw FormatError("this system reads .psv saves but does not write them (use .mcs)");
    default:
      throw FormatError("a PS1 save is written as a .mcs/.PS1, .psx or raw file");
  }
}

void WriteWholeFileAtomically(const std::string& path, Bytes bytes) {
  AtomicFile file(path);
  file.stream().write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
  file.Commit();
}

}  // namespace travosk::formats
