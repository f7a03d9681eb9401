// travosk-cli icon: a save's own icon rendered to PNG, and the generic
// picture for a save whose icon cannot be used.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <sstream>

#include "cli/cli.h"
#include "manager/icons.h"
#include "manager/saveicon.h"
#include "support/manager_fixture.h"

namespace travosk {
namespace {

using formats::IconPoint;
using manager::RgbaImage;

manager::RgbaImage ReadPng(const std::string& path) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  RgbaImage out;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return out;
  png.format = PNG_FORMAT_RGBA;
  out.width = static_cast<int>(png.width);
  out.height = static_cast<int>(png.height);
  out.pixels.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, out.pixels.data(), 0, nullptr)) out = {};
  return out;
}

// A red triangle, lit by ambient alone, over a green background.
std::string IconSys(const std::string& icon_name) {
  std::string sys(964, '\0');
  sys.replace(0, 4, "PS2D");
  MutableBytes b(reinterpret_cast<uint8_t*>(sys.data()), sys.size());
  for (size_t corner = 0; corner < 4; ++corner) store_le32(b, 0x10 + 16 * corner + 4, 200);
  for (size_t k = 0; k < 3; ++k) store_le32(b, 0xB0 + 4 * k, 0x3F800000);  // ambient 1.0
  sys.replace(0x104, icon_name.size(), icon_name);
  return sys;
}

std::string Triangle() {
  formats::PS2Icon icon;
  icon.vertex_count = 3;
  icon.positions = {{0, -4096, 0, 0}, {4096, 4096, 0, 0}, {-4096, 4096, 0, 0}};
  icon.normals.assign(3, IconPoint{0, 0, -4096, 0});
  icon.uvs.assign(3, {});
  icon.colours.assign(3, {0x80, 0, 0, 0x80});
  icon.texture.assign(formats::kIconTexels, 0x7FFF);
  const auto bytes = formats::WritePS2Icon(icon);
  return {bytes.begin(), bytes.end()};
}

struct CliIcon : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(
        rig.AddSave("BASLUS-20001", {{"icon.sys", IconSys("t.ico")}, {"t.ico", Triangle()}}));
    ASSERT_TRUE(rig.AddSave("BASLUS-20002", {{"icon.sys", IconSys("gone.ico")}}));
  }
  int Run(std::vector<std::string> args, std::string& err) {
    args.insert(args.end(), {"--image", rig.image_path(), "--workdir", rig.dir.File("home")});
    std::istringstream in;
    std::ostringstream out, errs;
    const int code = cli::Run(args, in, out, errs, cli::Terminal{});
    err = errs.str();
    return code;
  }
  support::ManagerRig rig;
};

TEST_F(CliIcon, WritesTheRenderedIconOrTheGenericPicture) {
  std::string err;
  const std::string own = rig.dir.File("own.png");
  ASSERT_EQ(Run({"icon", "BASLUS-20001", own, "--size", "48"}, err), 0) << err;
  const RgbaImage image = ReadPng(own);
  ASSERT_EQ(image.width, 48);
  const uint8_t* middle = image.At(24, 30);
  EXPECT_GE(middle[0], 250);
  EXPECT_LE(middle[1], 2);
  const uint8_t* corner = image.At(0, 0);
  EXPECT_LE(corner[0], 2);
  EXPECT_GE(corner[1], 198);
  EXPECT_EQ(corner[3], 255);

  const std::string generic = rig.dir.File("generic.png");
  ASSERT_EQ(Run({"icon", "BASLUS-20002", generic, "--size", "64"}, err), 0) << err;
  EXPECT_NE(err.find("\"gone.ico\" is not in the save; the generic picture is written"),
            std::string::npos)
      << err;
  const char* data = std::getenv("TRAVOSK_DATA");
  ASSERT_NE(data, nullptr);
  const std::string bmp = support::ReadFileBytes(std::string(data) + "/PS2ICO.bmp");
  const auto picture =
      manager::DecodeGenericIcon(Bytes(reinterpret_cast<const uint8_t*>(bmp.data()), bmp.size()));
  ASSERT_TRUE(picture);
  EXPECT_EQ(ReadPng(generic).pixels, manager::ScaleNearest(*picture, 64).pixels);

  EXPECT_EQ(Run({"icon", "BASLUS-29999", generic}, err), 1);
  EXPECT_EQ(Run({"icon", "BASLUS-20001", generic, "--size", "0"}, err), 2);
}

}  // namespace
}  // namespace travosk
