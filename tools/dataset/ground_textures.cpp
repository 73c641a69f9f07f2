// Ground tile textures: seamless pictures of each surface, a few
// alternative looks, and the transition tiles between two surfaces for
// every corner mask, with the dark line of thrown-up dirt where they meet.
// Also the surface physics written into each track's "tileinfo".
#include <cmath>

#include "tools/dataset/track_internal.h"

namespace dvdata {

namespace {

constexpr int TILE_TEXELS = 128;
constexpr int VARIANTS = 3;  // the plain look and two alternatives

// Colour of a surface at texel (x, y) of a tile, 0..1 across it; seamless.
Rgb surface_texel(int surface, int variant, double u, double v) {
  uint32_t seed = 1000u + (uint32_t)surface * 97u + (uint32_t)variant * 13u;
  double fine = fractal_noise(seed, u * 16, v * 16, 3, 0.5, 16);
  double coarse = fractal_noise(seed + 7, u * 4, v * 4, 2, 0.5, 4);
  double grain = lattice_value(seed + 3, (int)(u * TILE_TEXELS), (int)(v * TILE_TEXELS)) - 0.5;
  switch (surface) {
    case SURFACE_LOAM: {
      Rgb base{0.34, 0.235, 0.15};
      double clod = value_noise(seed + 11, u * 24, v * 24, 24);
      Rgb c = scale(base, 1.0 + 0.18 * coarse + 0.12 * fine + 0.1 * grain);
      if (clod > 0.55) c = scale(c, 0.78);
      return c;
    }
    case SURFACE_LOOSE: {
      Rgb base{0.5, 0.37, 0.25};
      Rgb c = scale(base, 1.0 + 0.15 * coarse + 0.2 * fine + 0.16 * grain);
      double pebble = value_noise(seed + 21, u * 32, v * 32, 32);
      if (pebble > 0.72) c = mix(c, Rgb{0.62, 0.6, 0.56}, 0.7);
      else if (pebble < -0.75) c = scale(c, 0.7);
      return c;
    }
    case SURFACE_HARDPACK: {
      Rgb base{0.6, 0.5, 0.38};
      Rgb c = scale(base, 1.0 + 0.08 * coarse + 0.06 * fine + 0.05 * grain);
      double crack = std::fabs(fractal_noise(seed + 31, u * 6, v * 6, 3, 0.55, 6));
      if (crack < 0.03) c = scale(c, 0.82);
      return c;
    }
    case SURFACE_SAND: {
      Rgb base{0.82, 0.74, 0.55};
      double ripple = std::sin((u * 6 + 0.15 * fractal_noise(seed + 5, u * 4, v * 4, 2, 0.5, 4)) * 2 * M_PI);
      return scale(base, 1.0 + 0.05 * ripple + 0.06 * fine + 0.06 * grain);
    }
    default: {  // grass
      Rgb base{0.25, 0.42, 0.16};
      // Blades: short streaks from stretched noise.
      double blades = fractal_noise(seed + 41, u * 64, v * 8, 2, 0.5, 64);
      Rgb c = scale(base, 1.0 + 0.2 * coarse + 0.15 * blades + 0.12 * grain);
      double dry = value_noise(seed + 51, u * 3, v * 3, 3);
      if (dry > 0.4) c = mix(c, Rgb{0.45, 0.45, 0.22}, (dry - 0.4) * 0.8);
      return c;
    }
  }
}

std::vector<unsigned char> tile_png(int surface, int variant) {
  Picture p(TILE_TEXELS, TILE_TEXELS);
  for (int y = 0; y < TILE_TEXELS; y++)
    for (int x = 0; x < TILE_TEXELS; x++)
      p.set(x, y, surface_texel(surface, variant, (x + 0.5) / TILE_TEXELS, (y + 0.5) / TILE_TEXELS));
  std::vector<uint8_t> rgb = p.rgb();
  return png_rgb_bytes(rgb.data(), TILE_TEXELS, TILE_TEXELS);
}

std::vector<unsigned char> transition_png(int a, int b, int mask) {
  // Corner weights of the second surface; bit 3 is corner (x0, z0).
  double c00 = (mask >> 3) & 1, c10 = (mask >> 2) & 1, c01 = (mask >> 1) & 1, c11 = mask & 1;
  Picture p(TILE_TEXELS, TILE_TEXELS);
  for (int y = 0; y < TILE_TEXELS; y++)
    for (int x = 0; x < TILE_TEXELS; x++) {
      double u = (x + 0.5) / TILE_TEXELS, v = (y + 0.5) / TILE_TEXELS;
      double f = c00 * (1 - u) * (1 - v) + c10 * u * (1 - v) + c01 * (1 - u) * v + c11 * u * v;
      // The same noise in every transition tile, repeating per tile, so
      // edges shared by two tiles match.
      f += 0.22 * fractal_noise(777, u * 4, v * 4, 3, 0.5, 4);
      double w = smoothstep(0.44, 0.56, f);
      Rgb c = mix(surface_texel(a, 0, u, v), surface_texel(b, 0, u, v), w);
      // Dirt thrown onto the edge darkens a band along the boundary.
      double band = 1 - std::fabs(f - 0.5) / 0.12;
      if (band > 0) c = scale(c, 1 - 0.25 * band);
      p.set(x, y, c);
    }
  std::vector<uint8_t> rgb = p.rgb();
  return png_rgb_bytes(rgb.data(), TILE_TEXELS, TILE_TEXELS);
}

}  // namespace

std::string ground_tile_name(int surface, int variant) {
  if (variant <= 0) return format("%s.png", surface_name(surface));
  return format("%s-alt%d.png", surface_name(surface), variant);
}

std::string transition_tile_name(int a, int b, int mask) {
  return format("%s-%s-%d%d%d%d.png", surface_name(a), surface_name(b), (mask >> 3) & 1, (mask >> 2) & 1,
                (mask >> 1) & 1, mask & 1);
}

int ground_variants(int) { return VARIANTS; }

std::string surface_tileinfo(int surface) {
  // Friction falls as the tyre slides faster (keys are slip speeds in ft/s);
  // rolling resistance rises with load and speed in soft ground.
  switch (surface) {
    case SURFACE_HARDPACK:
      return "friction 1.15 2\nfriction 0.95 10\nfriction 0.72 25\nfriction 0.62 50\n"
             "roll_resist 4 10 1\nroll_resist 5 12 60\n"
             "roost count=4 dig=0.6 size=0.2 r=170 g=150 b=120 fade_a=-300\n"
             "erode_depth 0.4\nerode_lower 70\nerode_upper 200\n";
    case SURFACE_LOOSE:
      return "friction 1.0 2\nfriction 0.9 10\nfriction 0.8 25\nfriction 0.74 50\n"
             "roll_resist 7 20 1\nroll_resist 9 26 60\n"
             "roost count=12 dig=1.4 size=0.28 r=140 g=105 b=72\n"
             "roost count=4 dig=1 size=0.12 grow=1 texture=@roost_clod.png r=110 g=80 b=55 fade_a=-128\n"
             "erode_depth 1.5\nerode_lower 40\nerode_upper 130\nerode_radius 3.5\n";
    case SURFACE_SAND:
      return "friction 0.9 2\nfriction 0.85 10\nfriction 0.8 25\nfriction 0.76 50\n"
             "roll_resist 12 35 1\nroll_resist 14 40 60\n"
             "roost count=16 dig=2 size=0.3 drag=0.8 r=220 g=200 b=150\n"
             "erode_depth 2.5\nerode_lower 30\nerode_upper 110\nerode_radius 4.5\nerode_max_slope 0.35\n";
    case SURFACE_GRASS:
      return "friction 0.85 2\nfriction 0.7 10\nfriction 0.55 25\nfriction 0.5 50\n"
             "roll_resist 8 22 1\nroll_resist 10 28 60\n"
             "roost count=5 dig=0.5 size=0.22 texture=@roost_grass.png r=90 g=120 b=60\n"
             "erode_depth 0.5\nerode_lower 80\nerode_upper 220\n";
    default:  // loam
      return "friction 1.2 2\nfriction 1.05 10\nfriction 0.9 25\nfriction 0.85 50\n"
             "roll_resist 5 14 1\nroll_resist 6 18 60\n"
             "roost count=10 dig=1.2 size=0.25 r=100 g=72 b=48\n"
             "erode_depth 1.0\n";
  }
}

void build_ground_textures(DataSet* set) {
  for (int s = 0; s < SURFACE_COUNT; s++)
    for (int v = 0; v < VARIANTS; v++) put_member(set, "ground.saf", "ground/" + ground_tile_name(s, v), tile_png(s, v));
  for (int a = 0; a < SURFACE_COUNT; a++)
    for (int b = a + 1; b < SURFACE_COUNT; b++)
      for (int mask = 1; mask < 15; mask++)
        put_member(set, "ground.saf", "ground/" + transition_tile_name(a, b, mask), transition_png(a, b, mask));
}

}  // namespace dvdata
