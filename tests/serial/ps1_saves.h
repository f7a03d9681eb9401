// The cards and checks that the PS1 card readers' tests share: a card with
// two saves, and the saves of a card as an independent reader finds them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace travosk::serialtest {

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A formatted card holding "BESLES-01000ALPHA" (entry 0) and the two-block
// "BESLES-02000BRAVO" (entries 1 and 2), every data byte from its position.
std::vector<uint8_t> TwoSaves();

// The card's directory as an independent reader takes it (formats.md): every
// directory frame's checksum holds, and every save's chain runs first,
// middle..., last through entries in use, each once, as long as its size
// says. Answers the saves, name by name, with their bytes.
std::map<std::string, std::vector<uint8_t>> CheckedSaves(std::vector<uint8_t>& card);

}  // namespace travosk::serialtest
