// A card manager on an in-process simulated adapter, started in a temporary
// working folder, for the manager's and the command line's tests.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "manager/archive_builder.h"
#include "manager/ps2mfmsys.h"
#include "support/card_fixture.h"

namespace travosk::support {

class ManagerRig {
 public:
  explicit ManagerRig(CardSetup setup = {});
  ~ManagerRig();

  TempDir dir;
  sim::LoopbackSession session;
  manager::TPS2MFMSYS mgr{session.link};

  sim::Adapter& adapter() { return session.adapter; }
  sim::Medium& medium();
  const std::string& image_path() const { return image_path_; }
  std::vector<uint8_t> Snapshot() { auto b = medium().bytes(); return {b.begin(), b.end()}; }

  // Writes an archive file into the working folder and answers its path.
  std::string WriteArchive(const std::string& file, const std::string& folder,
                           const std::vector<manager::ArchiveFile>& files);
  // Appends a save built from files and commits it; true on success.
  bool AddSave(const std::string& folder, const std::vector<manager::ArchiveFile>& files);
  // The saves' folder records of a fresh catalogue, by name.
  bool FindFolder(const std::string& name, card::TfileIP& out);
  // Puts the bytes of a card image file in place of the card's own, as if
  // that card had been inserted instead.
  void LoadImage(const std::string& path);

 private:
  std::string image_path_;
};

// A card image written by an independent tool (tests/data/README.md).
std::string PeerCard(const std::string& name);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& data);

}  // namespace travosk::support

namespace travosk::support {

// Sets allocation table entry n of an 8 MB card in the console's layout
// (table clusters 9..40) directly in the image, as damage would.
void PokeFat(std::span<uint8_t> image, uint32_t n, uint32_t value);
uint32_t PeekFat(std::span<const uint8_t> image, uint32_t n);

}  // namespace travosk::support
