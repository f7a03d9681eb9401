// A software renderer for PS2 save icons: the model of an icon file drawn
// into an RGBA picture with its texture, vertex colours, the lights and
// ambient of "ICON.SYS" and a depth buffer, over the background gradient of
// "ICON.SYS" or over nothing (transparent). No GPU, no Qt: the window, the
// command line and the tests all get the same pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/iconsys.h"
#include "formats/ps2icon.h"

namespace travosk::manager {

// Rows top first, 4 bytes a pixel: red, green, blue, alpha (not premultiplied).
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  const uint8_t* At(int x, int y) const {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
  }
};

struct IconView {
  int size = 32;             // a square picture, 1..4096 pixels a side
  double phase = 0;          // where in the animation's loop: 0 (start) .. 1 (end)
  bool transparent = false;  // no background: alpha 0 where no triangle is
  double yaw = 0;            // turn about the vertical axis, radians
};

// The icon fills the picture: its bounds over every shape, centred, take
// 90% of the side, so that an animation does not move the frame.
inline constexpr double kIconFill = 0.9;

RgbaImage RenderIcon(const formats::PS2Icon& icon, const formats::IconLook& look,
                     const IconView& view);

// The frames of one loop of the animation (its frame length; 1 for an icon
// with a single shape), and the phase of frame k of them.
int IconLoopFrames(const formats::PS2Icon& icon);
double IconFramePhase(const formats::PS2Icon& icon, long long k);

// A picture scaled to a square of `size` by nearest pixels.
RgbaImage ScaleNearest(const RgbaImage& image, int size);

}  // namespace travosk::manager
