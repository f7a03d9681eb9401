// "PS2M.cfg" with any contents, loaded as the card access object does at its
// start. Loading never rewrites an existing file; a bad line is a conversion
// error that quotes a bounded part of it and leaves that setting at its
// default; settings that load are saved and load back the same.
#include <cstdint>
#include <filesystem>
#include <string>

#include "card/fileaccess.h"
#include "common/errors.h"
#include "fuzz_support.h"

using namespace travosk;

namespace {

constexpr uint16_t kDefaultPort = 888;
// A conversion error quotes at most 64 characters and an ellipsis.
constexpr size_t kMaxMessage = 64 + 3 + 32;

sim::LoopbackSession& Session() {
  static sim::LoopbackSession session;
  return session;
}

const std::string& Folder() {
  static const std::string folder = [] {
    std::string f = fuzz::ScratchFile("settings");
    std::filesystem::create_directories(f);
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = Folder();
  const std::string path = folder + "/PS2M.cfg";
  fuzz::WriteFile(path, {data, size});

  card::TPSfileaccess access(Session().link);
  bool refused = false;
  try {
    access.Init(folder);
  } catch (const ConversionError& e) {
    refused = true;
    fuzz::Require(std::string(e.what()).size() <= kMaxMessage,
                  "a conversion error quotes too much");
  }
  fuzz::Require(access.Com != nullptr, "the command component was not made");
  const std::vector<uint8_t> after = fuzz::ReadFile(path);
  fuzz::Require(after.size() == size && std::equal(after.begin(), after.end(), data),
                "loading the settings changed the file");
  if (refused) {
    // The bad line's setting fell back to its default.
    fuzz::Require(access.Com->PortBase == kDefaultPort || access.Com->ConnectDelay == 0,
                  "a refused setting did not take its default");
    return 0;
  }

  const uint16_t port = access.Com->PortBase;
  const int32_t delay = access.Com->ConnectDelay;
  access.SaveSettings(port, delay);
  card::TPSfileaccess again(Session().link);
  again.Init(folder);
  fuzz::Require(again.Com->PortBase == port && again.Com->ConnectDelay == delay,
                "saved settings do not load back the same");
  return 0;
}
