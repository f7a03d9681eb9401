// A PS2 icon file with any contents: the reader either refuses it with a
// reason or gives a model whose counts match its vectors, which the writer
// writes back to bytes the reader takes as the same model, and which the
// renderer draws (lit by the input read as "ICON.SYS") without a fault.
#include <cstdint>
#include <string>

#include "formats/ps2icon.h"
#include "fuzz_support.h"
#include "manager/iconrender.h"

using namespace travosk;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes input(data, size);
  std::string error;
  const auto icon = formats::ReadPS2Icon(input, error);
  if (!icon) {
    fuzz::Require(!error.empty(), "an icon was refused without a reason");
    return 0;
  }
  const size_t n = icon->vertex_count;
  fuzz::Require(icon->positions.size() == n * icon->shapes && icon->normals.size() == n &&
                    icon->uvs.size() == n && icon->colours.size() == n &&
                    icon->texture.size() == formats::kIconTexels,
                "a model's vectors disagree with its counts");
  const std::vector<uint8_t> written = formats::WritePS2Icon(*icon);
  const auto again = formats::ReadPS2Icon(written, error);
  fuzz::Require(again.has_value(), "the reader refused what the writer wrote");
  fuzz::Require(formats::WritePS2Icon(*again) == written,
                "a model changed on its way through a file");

  const formats::IconLook look = formats::ReadIconLook(input).value_or(formats::DefaultIconLook());
  const auto picture = manager::RenderIcon(*icon, look, {.size = 16, .phase = 0.37, .yaw = 0.5});
  fuzz::Require(picture.pixels.size() == 16 * 16 * 4, "a picture of the wrong size");
  return 0;
}
