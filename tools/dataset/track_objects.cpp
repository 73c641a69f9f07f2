// What stands on the tracks: the start gate, hay bales and tuff blocks
// (models, textures and collision shapes), and the billboard pictures of
// trees, course markers, banners, flaggers and the starter's boards, and the
// decals painted on the ground.
#include <cmath>

#include "tools/dataset/dataset.h"
#include "tools/dataset/mesh.h"

namespace dvdata {

namespace {

void put_mesh(DataSet* set, const char* archive, const std::string& name, const std::vector<Mesh>& meshes) {
  std::string text = jm_text(meshes);
  put_member(set, archive, name, std::vector<unsigned char>(text.begin(), text.end()));
}

void put_shp(DataSet* set, const char* archive, const std::string& name, const Mesh& m) {
  std::string text = shp_text(m);
  put_member(set, archive, name, std::vector<unsigned char>(text.begin(), text.end()));
}

void put_png(DataSet* set, const char* archive, const std::string& name, const Picture& p, bool alpha) {
  if (alpha) {
    std::vector<uint8_t> px = p.rgba();
    put_member(set, archive, name, png_rgba_bytes(px.data(), p.width, p.height));
  } else {
    std::vector<uint8_t> px = p.rgb();
    put_member(set, archive, name, png_rgb_bytes(px.data(), p.width, p.height));
  }
}

// --- the start gate -------------------------------------------------------------------

// One gate slot, 3.5 ft wide: a plate hinged at the ground that holds the
// front wheel, two posts and the top rail. The object stands 3 ft in front
// of its starting position, facing the same way (-Z).
void start_gate(DataSet* set) {
  const UvRect plate{0, 0, 1, 0.5}, metal{0, 0.5, 0.5, 1}, stripe{0.5, 0.5, 1, 1};
  Mesh m;
  // The drop plate, leaning back towards the rider a little.
  Mesh p = box({0, 0.85, 0}, {1.6, 0.85, 0.06}, plate);
  rotate_x(&p, -0.12);
  m.append(p);
  m.append(box({0, 0.04, -0.6}, {1.75, 0.04, 0.9}, metal));        // base plate on the ground
  m.append(box({1.72, 0.9, 0.15}, {0.06, 0.9, 0.06}, stripe));    // posts
  m.append(box({-1.72, 0.9, 0.15}, {0.06, 0.9, 0.06}, stripe));
  m.append(box({0, 1.85, 0.15}, {1.78, 0.05, 0.05}, metal));      // top rail
  put_mesh(set, "objects.saf", "startgate.jm", {m});
  Mesh shape = box({0, 0.85, 0}, {1.6, 0.85, 0.1});
  put_shp(set, "objects.saf", "startgate.shp", shape);

  // Texture: the plate's top half (yellow with a black frame and the grid),
  // metal below.
  Picture t(128, 128);
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) {
      double n = 0.05 * fractal_noise(55, x / 16.0, y / 16.0, 3, 0.5);
      if (y < 64) {
        bool frame = x < 6 || x >= 122 || y < 6 || y >= 58;
        bool bars = (x % 20) < 3 || (y % 16) < 2;
        Rgb c = frame ? Rgb{0.1, 0.1, 0.1} : (bars ? Rgb{0.75, 0.6, 0.05} : Rgb{0.95, 0.8, 0.1});
        t.set(x, y, scale(c, 1 + n));
      } else if (x < 64) {
        t.set(x, y, scale(Rgb{0.55, 0.57, 0.6}, 1 + 2 * n));
      } else {
        bool band = ((x + y) / 8) % 2 == 0;
        t.set(x, y, band ? Rgb{0.9, 0.9, 0.9} : Rgb{0.8, 0.1, 0.1});
      }
    }
  std::vector<uint8_t> rgb = t.rgb();
  put_member(set, "objects.saf", "startgate.ppm", ppm_bytes(rgb.data(), t.width, t.height));
}

void hay_bale(DataSet* set) {
  // Long side along the track (the object's z).
  Mesh m = box({0, 0.75, 0}, {1.0, 0.75, 2.0}, {0, 0, 1, 1});
  put_mesh(set, "objects.saf", "haybale.jm", {m});
  put_shp(set, "objects.saf", "haybale.shp", box({0, 0.75, 0}, {1.0, 0.75, 2.0}));
  Picture t(128, 128);
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 128; x++) {
      double straw = fractal_noise(61, x / 2.0, y / 24.0, 3, 0.6, 0);
      double strand = lattice_value(62, x, y / 6);
      Rgb c = mix(Rgb{0.78, 0.66, 0.35}, Rgb{0.6, 0.48, 0.22}, clamp01(0.5 + straw));
      if (strand > 0.85) c = scale(c, 1.15);
      // Twine.
      if (std::abs(x - 40) < 2 || std::abs(x - 88) < 2) c = Rgb{0.85, 0.3, 0.1};
      t.set(x, y, c);
    }
  put_png(set, "objects.saf", "haybale.png", t, false);
}

void tuff_block(DataSet* set) {
  // A 5 ft long plastic barrier, rounded on top.
  std::vector<std::pair<double, double>> outline;
  for (int i = 0; i <= 8; i++) {
    double a = M_PI * i / 8;
    outline.push_back({1.9 + 0.45 * std::sin(a), -0.55 * std::cos(a)});
  }
  outline.push_back({0, 0.7});
  outline.push_back({0, -0.7});
  Mesh m = extrude_x(outline, -2.5, 2.5, {0, 0, 1, 1});
  rotate_y(&m, M_PI / 2);  // long along the track (the object's z)
  put_mesh(set, "objects.saf", "tuffblock.jm", {m});
  put_shp(set, "objects.saf", "tuffblock.shp", box({0, 1.15, 0}, {0.65, 1.15, 2.5}));
  Picture t(128, 64);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 128; x++) {
      bool yellow = (x / 32) % 2 == 0;
      Rgb c = yellow ? Rgb{0.95, 0.78, 0.1} : Rgb{0.1, 0.3, 0.75};
      double scuff = fractal_noise(71, x / 8.0, y / 8.0, 3, 0.5);
      t.set(x, y, mix(c, Rgb{0.45, 0.35, 0.25}, clamp01(scuff * 0.8 - 0.2) * (y > 40 ? 1.0 : 0.4)));
    }
  put_png(set, "objects.saf", "tuffblock.png", t, false);
}

// --- billboards ---------------------------------------------------------------------------

void tree(DataSet* set, int kind) {
  const int W = 128, H = 256;
  Picture t(W, H);
  Random random(900 + (uint64_t)kind);
  Rgb trunk{0.3, 0.2, 0.12};
  t.rect(W / 2 - 5, H * 0.55, W / 2 + 5, H, trunk);
  Rgb leaf = kind == 1 ? Rgb{0.16, 0.32, 0.12} : (kind == 2 ? Rgb{0.22, 0.38, 0.14} : Rgb{0.1, 0.26, 0.14});
  if (kind == 3) {
    // A conifer: stacked triangles.
    for (int layer = 0; layer < 6; layer++) {
      double top = H * (0.05 + layer * 0.12), bottom = top + H * 0.22;
      double half = W * (0.16 + layer * 0.055);
      t.polygon({W / 2.0, top, W / 2.0 + half, bottom, W / 2.0 - half, bottom}, scale(leaf, 0.85 + 0.05 * layer));
    }
  } else {
    // A broadleaf crown of overlapping clumps, darker underneath.
    for (int i = 0; i < 90; i++) {
      double a = random.uniform() * 2 * M_PI, r = std::sqrt(random.uniform());
      double cx = W / 2.0 + std::cos(a) * r * W * 0.36, cy = H * 0.34 + std::sin(a) * r * H * 0.26;
      double shade = 0.7 + 0.5 * (1 - (cy / (H * 0.6)));
      t.disc(cx, cy, random.range(8, 16), scale(leaf, shade * random.range(0.85, 1.15)));
    }
  }
  put_png(set, "objects.saf", format("tree%d.png", kind), t, true);
}

void marker(DataSet* set, const char* name, Rgb flag) {
  Picture t(32, 128);
  t.rect(14, 8, 18, 128, Rgb{0.92, 0.92, 0.92});
  t.polygon({18, 8, 31, 18, 18, 28}, flag);
  put_png(set, "objects.saf", name, t, true);
}

void banner(DataSet* set, int k) {
  static const char* const words[4] = {"DIRTVANE", "BRAAP", "FULL GAS", "RABBIT HILL"};
  static const Rgb colours[4] = {{0.8, 0.1, 0.1}, {0.1, 0.2, 0.7}, {0.1, 0.1, 0.1}, {0.95, 0.6, 0.05}};
  Picture t(256, 64);
  t.fill(colours[k - 1]);
  t.rect(0, 0, 256, 4, Rgb{1, 1, 1});
  t.rect(0, 60, 256, 64, Rgb{1, 1, 1});
  double px = 5;
  double w = text_width(words[k - 1], px);
  if (w > 240) px = px * 240 / w, w = 240;
  draw_text(&t, words[k - 1], (256 - w) / 2, 32 - 3.5 * px, px, Rgb{1, 1, 1});
  put_png(set, "objects.saf", format("banner%d.png", k), t, false);
}

// A standing figure in marshal's clothes; `wave` raises a yellow flag.
void flagger(DataSet* set, const char* name, bool wave, Rgb flag) {
  Picture t(64, 128);
  Rgb vest{0.95, 0.5, 0.05}, trousers{0.15, 0.15, 0.2}, skin{0.85, 0.65, 0.5};
  t.disc(32, 16, 8, skin);
  t.rect(22, 26, 42, 70, vest);
  t.rect(23, 70, 31, 124, trousers);
  t.rect(33, 70, 41, 124, trousers);
  t.line(24, 30, 14, wave ? 8 : 64, 5, vest);
  t.line(40, 30, 48, 64, 5, vest);
  if (wave) {
    t.line(14, 8, 14, 0, 2, Rgb{0.3, 0.3, 0.3});
    t.polygon({14, 0, 0, 6, 14, 14}, flag);
    t.polygon({14, 0, 40, 4, 38, 18, 14, 14}, flag);
  }
  put_png(set, "objects.saf", name, t, true);
}

void flag(DataSet* set, const char* name, int kind) {
  Picture t(64, 64);
  t.rect(2, 0, 5, 64, Rgb{0.4, 0.4, 0.4});
  for (int y = 4; y < 40; y++)
    for (int x = 5; x < 60; x++) {
      Rgb c = kind == 0 ? Rgb{0.1, 0.7, 0.2} : kind == 1 ? Rgb{0.97, 0.97, 0.97} : Rgb{0.85, 0.1, 0.1};
      if (kind == 2) c = ((x / 8 + y / 8) % 2) ? Rgb{0.05, 0.05, 0.05} : Rgb{0.97, 0.97, 0.97};
      if (kind == 3) c = Rgb{0.85, 0.1, 0.1};
      t.set(x, y, c);
    }
  put_png(set, "objects.saf", name, t, true);
}

void board(DataSet* set, const char* name, const char* text) {
  Picture t(64, 64);
  t.rect(30, 20, 34, 64, Rgb{0.35, 0.25, 0.15});
  t.rect(4, 4, 60, 40, Rgb{0.97, 0.97, 0.97});
  t.rect(4, 4, 60, 6, Rgb{0.1, 0.1, 0.1});
  if (text[0]) {
    double px = 3;
    double w = text_width(text, px);
    draw_text(&t, text, 32 - w / 2, 22 - 3.5 * px, px, Rgb{0.1, 0.1, 0.1});
  }
  put_png(set, "objects.saf", name, t, true);
}

// Rows of spectators: heads and shoulders in every colour.
void crowd(DataSet* set, int k) {
  Picture t(128, 64);
  Random random(600 + (uint64_t)k);
  for (int row = 0; row < 3; row++)
    for (double x = 4 + row * 3; x < 128; x += random.range(7, 10)) {
      double y = 58 - row * 18;
      Rgb shirt{random.range(0.1, 0.95), random.range(0.1, 0.95), random.range(0.1, 0.95)};
      Rgb skin = mix(Rgb{0.95, 0.78, 0.62}, Rgb{0.4, 0.26, 0.16}, random.uniform());
      t.rect(x - 3.5, y - 9, x + 3.5, y + 6, shirt);
      t.disc(x, y - 12, 3, skin);
      if (random.uniform() < 0.3) t.line(x + 2, y - 8, x + 6, y - 20, 2, shirt);  // a raised arm
    }
  put_png(set, "objects.saf", format("crowd%d.png", k), t, true);
}

// --- decals ---------------------------------------------------------------------------------

void decals(DataSet* set) {
  Picture line(64, 8);
  line.fill(Rgb{0.95, 0.95, 0.95}, 0.85);
  put_png(set, "objects.saf", "decal_line.png", line, true);
  Picture checker(64, 16);
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 64; x++)
      checker.set(x, y, ((x / 4 + y / 4) % 2) ? Rgb{0.05, 0.05, 0.05} : Rgb{0.95, 0.95, 0.95}, 0.9);
  put_png(set, "objects.saf", "decal_checker.png", checker, true);
  // Braking ruts: dark grooves along the length, frayed at the ends.
  Picture ruts(32, 128);
  for (int y = 0; y < 128; y++)
    for (int x = 0; x < 32; x++) {
      double v = y / 128.0;
      double groove = 0;
      for (int g = 0; g < 3; g++) {
        double centre = 8 + g * 8 + 2 * value_noise(81 + g, v * 4, g);
        groove = std::max(groove, 1 - std::fabs(x - centre) / 2.5);
      }
      double fade = std::min(1.0, std::min(v, 1 - v) * 5);
      ruts.set(x, y, Rgb{0.2, 0.14, 0.09}, clamp01(groove) * 0.7 * fade);
    }
  put_png(set, "objects.saf", "decal_ruts.png", ruts, true);
}

}  // namespace

void build_track_objects(DataSet* set) {
  start_gate(set);
  hay_bale(set);
  tuff_block(set);
  for (int k = 1; k <= 3; k++) tree(set, k);
  marker(set, "marker.png", Rgb{0.2, 0.45, 0.95});
  marker(set, "marker_red.png", Rgb{0.9, 0.12, 0.1});
  for (int k = 1; k <= 4; k++) banner(set, k);
  for (int k = 1; k <= 2; k++) crowd(set, k);
  flagger(set, "flagger.png", false, Rgb{0.95, 0.85, 0.1});
  flagger(set, "flagger_wave.png", true, Rgb{0.95, 0.85, 0.1});
  flagger(set, "flagstand.png", false, Rgb{0.1, 0.7, 0.2});
  flag(set, "flag_green.png", 0);
  flag(set, "flag_white.png", 1);
  flag(set, "flag_checker.png", 2);
  flag(set, "flag_red.png", 3);
  board(set, "board.png", "");
  board(set, "board_30.png", "30");
  board(set, "board_15.png", "15");
  board(set, "board_go.png", "GO");
  decals(set);
}

}  // namespace dvdata
