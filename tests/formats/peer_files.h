// The golden save files and card images that an independent tool wrote, with
// the plain files that went into them. Tests that need them skip when the
// folder is not there.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace travosk::testing {

inline std::string PeerFolder() {
#ifdef TRAVOSK_PEER_FIXTURES
  if (std::filesystem::is_directory(TRAVOSK_PEER_FIXTURES)) return TRAVOSK_PEER_FIXTURES;
#endif
  return {};
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The manifest's files of one save: name and bytes (from the payload folder).
struct PeerFile {
  std::string name;
  std::vector<uint8_t> bytes;
};
inline std::vector<PeerFile> PeerSave(const std::string& folder) {
  std::vector<PeerFile> files;
  std::ifstream manifest(PeerFolder() + "/manifest.tsv");
  std::string line;
  while (std::getline(manifest, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos || line.substr(0, tab) != folder) continue;
    const std::string name = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
    files.push_back({name, ReadAll(PeerFolder() + "/payload/" + folder + "/" + name)});
  }
  return files;
}

}  // namespace travosk::testing
