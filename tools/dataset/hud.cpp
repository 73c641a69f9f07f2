// Heads-up display pictures and the title: the tachometer dial (the HUD
// draws the needle), the gear shifter pattern, the pit board the lap
// information is written on, and the title picture with the game's name.
#include <cmath>

#include "tools/dataset/dataset.h"

namespace dvdata {

namespace {

void put_rgba(DataSet* set, const char* name, const Picture& p) {
  std::vector<uint8_t> rgba = p.rgba();
  put_member(set, "hud.saf", name, png_rgba_bytes(rgba.data(), p.width, p.height));
}

// A dial from 0 to 14000 rpm over 270 degrees, red from 12000.
Picture tachometer() {
  const int S = 256;
  const double c = S / 2.0;
  Picture t(S, S);
  t.disc(c, c, 124, Rgb{0.75, 0.75, 0.78}, 1.0);
  t.disc(c, c, 118, Rgb{0.06, 0.06, 0.07}, 0.92);
  const double start = M_PI * 0.75, sweep = M_PI * 1.5;
  for (int k = 0; k <= 28; k++) {
    double a = start + sweep * k / 28.0;
    bool major = k % 2 == 0;
    bool red = k >= 24;
    double r0 = major ? 92 : 100, r1 = 112;
    t.line(c + std::cos(a) * r0, c + std::sin(a) * r0, c + std::cos(a) * r1, c + std::sin(a) * r1, major ? 4 : 2,
           red ? Rgb{0.9, 0.1, 0.1} : Rgb{0.95, 0.95, 0.95});
    if (major) {
      std::string label = format("%d", k / 2);
      double px = 2.0, w = text_width(label.c_str(), px);
      draw_text(&t, label.c_str(), c + std::cos(a) * 78 - w / 2, c + std::sin(a) * 78 - 3.5 * px, px,
                red ? Rgb{0.95, 0.2, 0.2} : Rgb{0.95, 0.95, 0.95});
    }
  }
  // The red zone band.
  for (double a = start + sweep * 24 / 28.0; a <= start + sweep; a += 0.004)
    t.disc(c + std::cos(a) * 116, c + std::sin(a) * 116, 2.5, Rgb{0.85, 0.05, 0.05});
  const char* unit = "RPM X1000";
  double w = text_width(unit, 1.5);
  draw_text(&t, unit, c - w / 2, c + 24, 1.5, Rgb{0.7, 0.7, 0.7});
  t.disc(c, c, 10, Rgb{0.3, 0.3, 0.32});
  return t;
}

// The shift pattern: neutral between first and second, as on a dirt bike
// (one down, five up), with a slot per gear the HUD lights.
Picture shifter() {
  const int W = 128, H = 256;
  Picture t(W, H);
  t.rect(8, 8, W - 8, H - 8, Rgb{0.05, 0.05, 0.06}, 0.8);
  static const char* const labels[7] = {"6", "5", "4", "3", "2", "N", "1"};
  for (int i = 0; i < 7; i++) {
    double y = 20 + i * 32.5;
    t.rect(24, y, W - 24, y + 24, Rgb{0.2, 0.2, 0.22}, 0.9);
    double px = 3, w = text_width(labels[i], px);
    draw_text(&t, labels[i], W / 2.0 - w / 2, y + 12 - 3.5 * px, px,
              i == 5 ? Rgb{0.2, 0.9, 0.3} : Rgb{0.95, 0.95, 0.95});
  }
  return t;
}

Picture pitboard() {
  const int W = 256, H = 128;
  Picture t(W, H);
  t.rect(0, 0, W, H, Rgb{0.85, 0.85, 0.85});
  t.rect(6, 6, W - 6, H - 6, Rgb{0.05, 0.05, 0.06});
  for (int i = 1; i < 3; i++) t.rect(12, i * H / 3.0, W - 12, i * H / 3.0 + 2, Rgb{0.3, 0.3, 0.3});
  draw_text(&t, "POS", 16, 16, 2, Rgb{0.9, 0.8, 0.1});
  draw_text(&t, "LAP", 16, 16 + H / 3.0, 2, Rgb{0.9, 0.8, 0.1});
  draw_text(&t, "GAP", 16, 16 + 2 * H / 3.0, 2, Rgb{0.9, 0.8, 0.1});
  return t;
}

Picture title() {
  const int W = 512, H = 256;
  Picture t(W, H);
  // Evening sky over a hill with a rider in the air.
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      double v = (double)y / H;
      Rgb sky = mix(Rgb{0.95, 0.55, 0.2}, Rgb{0.15, 0.2, 0.45}, std::pow(1 - v, 1.5));
      t.set(x, y, sky);
    }
  std::vector<double> hill;
  for (int x = 0; x <= W; x += 8) {
    double h = H * 0.78 - 30 * std::sin(x / 90.0) - 18 * std::sin(x / 37.0 + 1);
    hill.push_back(x), hill.push_back(h);
  }
  hill.push_back(W), hill.push_back(H), hill.push_back(0), hill.push_back(H);
  t.polygon(hill, Rgb{0.12, 0.08, 0.05});
  // Rider and bike silhouette, mid-air above the crest.
  Rgb dark{0.05, 0.04, 0.04};
  double bx = 400, by = 165;
  t.disc(bx - 40, by + 22, 17, dark);
  t.disc(bx - 40, by + 22, 11, Rgb{0.9, 0.55, 0.25}, 0.9);
  t.disc(bx + 38, by + 16, 18, dark);
  t.disc(bx + 38, by + 16, 12, Rgb{0.9, 0.55, 0.25}, 0.9);
  t.polygon({bx - 40, by + 22, bx - 10, by - 6, bx + 20, by - 8, bx + 38, by + 16, bx + 10, by + 10}, dark);
  t.line(bx + 20, by - 8, bx + 30, by - 24, 5, dark);      // fork and bars
  t.polygon({bx - 14, by - 10, bx + 6, by - 38, bx + 20, by - 30, bx + 4, by - 6}, dark);  // rider's body
  t.disc(bx + 14, by - 44, 9, dark);                        // helmet
  t.line(bx + 10, by - 32, bx + 30, by - 22, 5, dark);      // arm
  t.line(bx - 4, by - 8, bx - 18, by + 6, 6, dark);         // leg
  // Roost behind it.
  Random random(42);
  for (int i = 0; i < 60; i++)
    t.disc(bx - 60 - random.range(0, 90), by + 30 + random.range(-20, 30), random.range(1, 4), dark, 0.7);
  const char* name = "DIRTVANE";
  double px = 9, w = text_width(name, px);
  draw_text(&t, name, (W - w) / 2 + 4, 34 + 4, px, Rgb{0, 0, 0}, 0.5);
  draw_text(&t, name, (W - w) / 2, 34, px, Rgb{0.98, 0.92, 0.8});
  return t;
}

}  // namespace

void build_hud_images(DataSet* set) {
  put_rgba(set, "tach.png", tachometer());
  put_rgba(set, "shifter.png", shifter());
  put_rgba(set, "pitboard.png", pitboard());
  put_rgba(set, "title.png", title());
}

}  // namespace dvdata
