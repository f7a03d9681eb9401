// The pictures: the generic PS2 save icon (32 × 32, 8 bits a pixel) and the
// PS1 icons of the demo saves (16 × 16, 4 bits a pixel), drawn with a few
// shapes on a palette-indexed canvas.
#include <cmath>
#include <cstdlib>

#include "manager/icons.h"
#include "mkdata.h"

namespace travosk::mkdata {

namespace {

class Canvas {
 public:
  explicit Canvas(int side) : side_(side), pixels_(static_cast<size_t>(side * side), 0) {}
  void Set(int x, int y, uint8_t c) {
    if (x >= 0 && y >= 0 && x < side_ && y < side_) pixels_[static_cast<size_t>(y * side_ + x)] = c;
  }
  uint8_t At(int x, int y) const { return pixels_[static_cast<size_t>(y * side_ + x)]; }
  void Fill(int x0, int y0, int x1, int y1, uint8_t c) {  // inclusive corners
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) Set(x, y, c);
  }
  void Frame(int x0, int y0, int x1, int y1, uint8_t c) {
    for (int x = x0; x <= x1; ++x) Set(x, y0, c), Set(x, y1, c);
    for (int y = y0; y <= y1; ++y) Set(x0, y, c), Set(x1, y, c);
  }
  void Disc(double cx, double cy, double r, uint8_t c) {
    for (int y = 0; y < side_; ++y)
      for (int x = 0; x < side_; ++x)
        if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) <= r) Set(x, y, c);
  }
  void Line(int x0, int y0, int x1, int y1, uint8_t c) {
    const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int i = 0; i <= steps; ++i) {
      const double t = steps ? static_cast<double>(i) / steps : 0.0;
      Set(static_cast<int>(std::lround(x0 + (x1 - x0) * t)),
          static_cast<int>(std::lround(y0 + (y1 - y0) * t)), c);
    }
  }
  // Glyphs of 3 × 5 pixels, one row a digit of three bits (left bit high).
  void Text(int x, int y, const std::string& text, uint8_t c) {
    for (char ch : text) {
      const int* rows = Glyph(ch);
      for (int r = 0; r < 5; ++r)
        for (int b = 0; b < 3; ++b)
          if (rows[r] & (4 >> b)) Set(x + b, y + r, c);
      x += 4;
    }
  }

 private:
  static const int* Glyph(char ch) {
    static const int kP[5] = {6, 5, 6, 4, 4};
    static const int kS[5] = {3, 4, 2, 1, 6};
    static const int k2[5] = {6, 1, 2, 4, 7};
    static const int kNone[5] = {0, 0, 0, 0, 0};
    switch (ch) {
      case 'P':
        return kP;
      case 'S':
        return kS;
      case '2':
        return k2;
      default:
        return kNone;
    }
  }
  int side_;
  std::vector<uint8_t> pixels_;
};

constexpr uint16_t Rgb15(int r, int g, int b) {
  return static_cast<uint16_t>((r >> 3) | ((g >> 3) << 5) | ((b >> 3) << 10));
}

std::array<uint8_t, 128> Pack(const Canvas& c) {
  std::array<uint8_t, 128> frame{};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; x += 2)
      frame[static_cast<size_t>(y * 8 + x / 2)] =
          static_cast<uint8_t>((c.At(x, y) & 0x0F) | (c.At(x + 1, y) & 0x0F) << 4);
  return frame;
}

PS1Icon CardIcon() {
  PS1Icon icon;
  icon.palette = {0,
                  Rgb15(72, 72, 80),
                  Rgb15(176, 176, 184),
                  Rgb15(40, 96, 216),
                  Rgb15(248, 248, 248),
                  Rgb15(216, 176, 48)};
  Canvas c(16);
  c.Fill(3, 1, 12, 14, 1);
  c.Frame(3, 1, 12, 14, 2);
  c.Fill(5, 3, 10, 8, 3);
  c.Line(6, 5, 9, 5, 4);
  c.Line(6, 7, 8, 7, 4);
  for (int x = 5; x <= 10; x += 2) c.Fill(x, 11, x, 13, 5);
  icon.frames.push_back(Pack(c));
  return icon;
}

PS1Icon StarIcon() {
  PS1Icon icon;
  icon.palette = {0, Rgb15(248, 216, 32), Rgb15(248, 248, 200), Rgb15(24, 24, 96)};
  for (int f = 0; f < 2; ++f) {
    Canvas c(16);
    c.Fill(0, 0, 15, 15, 3);
    const int arm = f == 0 ? 7 : 4;
    c.Line(8 - arm, 8, 8 + arm - 1, 8, 1);
    c.Line(8, 8 - arm, 8, 8 + arm - 1, 1);
    c.Line(8 - arm / 2, 8 - arm / 2, 8 + arm / 2, 8 + arm / 2, 1);
    c.Line(8 - arm / 2, 8 + arm / 2, 8 + arm / 2, 8 - arm / 2, 1);
    c.Disc(8.5, 8.5, f == 0 ? 2.0 : 1.2, 2);
    icon.frames.push_back(Pack(c));
  }
  return icon;
}

PS1Icon BallIcon() {
  PS1Icon icon;
  icon.palette = {0, Rgb15(232, 40, 40), Rgb15(248, 200, 200), Rgb15(64, 160, 64),
                  Rgb15(40, 40, 40)};
  const double heights[3] = {4.0, 8.0, 11.0};
  for (double h : heights) {
    Canvas c(16);
    c.Fill(0, 14, 15, 15, 3);
    c.Fill(6, 13, 10, 13, 4);  // shadow
    c.Disc(8.0, h, 3.2, 1);
    c.Set(7, static_cast<int>(h) - 2, 2);
    c.Set(6, static_cast<int>(h) - 1, 2);
    icon.frames.push_back(Pack(c));
  }
  return icon;
}

PS1Icon SpinnerIcon() {
  PS1Icon icon;
  icon.palette = {0, Rgb15(32, 200, 232), Rgb15(16, 64, 120), Rgb15(248, 248, 248)};
  for (int f = 0; f < 3; ++f) {
    Canvas c(16);
    c.Disc(8.0, 8.0, 7.5, 2);
    const double angle = f * 3.14159265358979 / 3.0;
    const int dx = static_cast<int>(std::lround(6 * std::cos(angle)));
    const int dy = static_cast<int>(std::lround(6 * std::sin(angle)));
    c.Line(8 - dx, 8 - dy, 8 + dx, 8 + dy, 1);
    c.Disc(8.0, 8.0, 1.5, 3);
    icon.frames.push_back(Pack(c));
  }
  return icon;
}

}  // namespace

PS1Icon DrawPS1Icon(PS1Art art) {
  switch (art) {
    case PS1Art::kCard:
      return CardIcon();
    case PS1Art::kStar:
      return StarIcon();
    case PS1Art::kBall:
      return BallIcon();
    case PS1Art::kSpinner:
      return SpinnerIcon();
  }
  return CardIcon();
}

// A PS2 memory card seen from the front: dark body with a lighter rim, the
// cut corner, a blue label reading "PS2" and gold contacts.
std::vector<uint8_t> DrawGenericIcon() {
  enum : uint8_t { kBack, kBody, kRim, kLabel, kInk, kGold, kShade };
  const uint8_t colours[][3] = {// red, green, blue
                                {0, 0, 0},       {52, 52, 60},   {150, 150, 166}, {36, 84, 196},
                                {244, 244, 244}, {212, 172, 52}, {30, 30, 36}};
  Canvas c(32);
  c.Fill(7, 3, 24, 28, kBody);
  c.Frame(7, 3, 24, 28, kRim);
  for (int i = 0; i < 4; ++i) c.Line(21 + i, 3, 24, 6 - i, kBack);  // the cut corner
  c.Line(20, 3, 24, 7, kRim);
  c.Fill(10, 7, 21, 16, kLabel);
  c.Text(10, 9, "PS2", kInk);
  c.Fill(9, 19, 22, 20, kShade);
  for (int x = 9; x <= 21; x += 3) c.Fill(x, 23, x + 1, 26, kGold);

  std::array<uint8_t, manager::kIconPaletteBytes> palette{};
  for (size_t i = 0; i < std::size(colours); ++i) {
    palette[3 * i + 0] = colours[i][2];
    palette[3 * i + 1] = colours[i][1];
    palette[3 * i + 2] = colours[i][0];
  }
  std::array<uint8_t, manager::kIconPixelBytes> pixels{};
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) pixels[static_cast<size_t>((31 - y) * 32 + x)] = c.At(x, y);
  const auto bitmap = manager::BuildIconBitmap(palette.data(), pixels.data());
  return {bitmap.begin(), bitmap.end()};
}

}  // namespace travosk::mkdata
