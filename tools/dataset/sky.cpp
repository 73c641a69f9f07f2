// Skies (five faces and the environment picture for shiny parts), lens
// flare sprites and the roost particles' textures.
//
// Sky faces are the sides of a cube around the viewer: north looks along
// -Z, east along +X, south along +Z, west along -X, each with the next face
// clockwise on its right; "up" has north at its top edge. Clouds are drawn
// from one cloud layer seen through every face, so the faces meet cleanly.
#include <cmath>

#include "tools/dataset/dataset.h"

namespace dvdata {

namespace {

struct SkyLook {
  Rgb zenith, horizon, haze;
  Rgb cloud, cloud_shadow;
  double cover;         // 0 clear .. 1 overcast
  double sun_x, sun_y, sun_z;  // towards the sun
  Rgb sun_glow;
  bool stars;
};

Rgb sky_colour(const SkyLook& look, double dx, double dy, double dz) {
  double l = std::sqrt(dx * dx + dy * dy + dz * dz);
  dx /= l, dy /= l, dz /= l;
  double up = std::max(dy, 0.0);
  Rgb c = mix(look.horizon, look.zenith, std::pow(up, 0.6));
  if (dy < 0) c = mix(look.horizon, look.haze, std::min(1.0, -dy * 3));
  // Sun glow.
  double sl = std::sqrt(look.sun_x * look.sun_x + look.sun_y * look.sun_y + look.sun_z * look.sun_z);
  double toward = (dx * look.sun_x + dy * look.sun_y + dz * look.sun_z) / sl;
  c = c + scale(look.sun_glow, std::pow(std::max(toward, 0.0), 24) * 0.8 + std::pow(std::max(toward, 0.0), 4) * 0.15);
  if (dy > 0.02) {
    // The cloud layer at height 1 above the eye.
    double px = dx / dy * 3, pz = dz / dy * 3;
    double n = fractal_noise(4040, px, pz, 5, 0.55);
    double density = smoothstep(0.55 - look.cover, 0.85 - look.cover * 0.6, n * 0.5 + 0.5);
    double shade = 0.5 + 0.5 * fractal_noise(4041, px * 1.3 + 0.2, pz * 1.3, 3, 0.5);
    Rgb cloud = mix(look.cloud_shadow, look.cloud, clamp01(shade));
    double fade = smoothstep(0.02, 0.25, dy);
    c = mix(c, cloud, density * fade * 0.9);
  }
  if (look.stars && dy > 0.05) {
    double s = lattice_value(5151, (int)std::floor(dx / dy * 400), (int)std::floor(dz / dy * 400));
    if (s > 0.997) c = mix(c, Rgb{1, 1, 1}, (s - 0.997) / 0.003);
  }
  return c;
}

void face(DataSet* set, const std::string& name, const SkyLook& look, int which) {
  const int S = 256;
  Picture p(S, S);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double u = (x + 0.5) / S * 2 - 1, v = 1 - (y + 0.5) / S * 2;  // v up
      double dx, dy, dz;
      switch (which) {
        case 0: dx = u, dy = v, dz = -1; break;   // north: right is east
        case 1: dx = 1, dy = v, dz = u; break;    // east: right is south
        case 2: dx = -u, dy = v, dz = 1; break;   // south: right is west
        case 3: dx = -1, dy = v, dz = -u; break;  // west: right is north
        default: dx = u, dy = 1, dz = -v; break;  // up: north at the top
      }
      p.set(x, y, sky_colour(look, dx, dy, dz));
    }
  std::vector<uint8_t> rgb = p.rgb();
  put_member(set, "sky.saf", name, ppm_bytes(rgb.data(), S, S));
}

// The environment picture: the sky seen in a mirror ball, ground below.
void environment(DataSet* set, const std::string& name, const SkyLook& look, Rgb ground) {
  const int S = 128;
  Picture p(S, S);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double u = (x + 0.5) / S * 2 - 1, v = (y + 0.5) / S * 2 - 1;
      double r = std::sqrt(u * u + v * v);
      if (r > 1) {
        p.set(x, y, look.horizon);
        continue;
      }
      // Polar: the centre looks straight up, the rim at the horizon and below.
      double theta = r * M_PI * 0.6;
      double dx = std::sin(theta) * u / std::max(r, 1e-9), dz = std::sin(theta) * v / std::max(r, 1e-9);
      double dy = std::cos(theta);
      Rgb c = dy > -0.02 ? sky_colour(look, dx, dy, dz) : ground;
      p.set(x, y, c);
    }
  std::vector<uint8_t> rgb = p.rgb();
  put_member(set, "sky.saf", name, ppm_bytes(rgb.data(), S, S));
}

void sky_set(DataSet* set, const std::string& prefix, const SkyLook& look, Rgb ground) {
  static const char* const faces[5] = {"n", "e", "s", "w", "u"};
  for (int i = 0; i < 5; i++) face(set, prefix + "-" + faces[i] + ".ppm", look, i);
  environment(set, prefix + "-env.ppm", look, ground);
}

void put_sprite(DataSet* set, const std::string& name, const Picture& p) {
  std::vector<uint8_t> rgba = p.rgba();
  put_member(set, "sky.saf", name, png_rgba_bytes(rgba.data(), p.width, p.height));
}

void flares(DataSet* set) {
  const int S = 64;
  Picture sun(S, S), ring(S, S), dot(S, S);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double r = std::hypot(x + 0.5 - S / 2.0, y + 0.5 - S / 2.0) / (S / 2.0);
      double rays = 0.5 + 0.5 * std::cos(std::atan2(y - S / 2.0, x - S / 2.0) * 12);
      sun.set(x, y, Rgb{1, 1, 0.95}, clamp01(std::pow(clamp01(1 - r), 2.5) + 0.25 * rays * clamp01(1 - r) * (r < 1)));
      ring.set(x, y, Rgb{1, 1, 1}, clamp01(1 - std::fabs(r - 0.8) / 0.12) * 0.8);
      dot.set(x, y, Rgb{1, 1, 1}, clamp01(1 - r) * 0.9);
    }
  put_sprite(set, "flare_sun.png", sun);
  put_sprite(set, "flare_ring.png", ring);
  put_sprite(set, "flare_dot.png", dot);
}

// Roost particles: soft puffs of thrown dirt, clods, grass cuttings. White
// where the tile's roost colour should show.
void roost(DataSet* set) {
  const int S = 64;
  Picture puff(S, S), clod(S, S), grass(S, S);
  Random random(777);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double r = std::hypot(x + 0.5 - S / 2.0, y + 0.5 - S / 2.0) / (S / 2.0);
      double n = 0.5 + 0.5 * fractal_noise(3030, x / 8.0, y / 8.0, 3, 0.5);
      puff.set(x, y, Rgb{1, 1, 1}, clamp01((1 - r) * 1.4) * (0.5 + 0.5 * n));
    }
  for (int i = 0; i < 9; i++) {
    double cx = random.range(12, 52), cy = random.range(12, 52);
    clod.disc(cx, cy, random.range(3, 7), Rgb{1, 1, 1}, 1.0);
    clod.disc(cx - 1, cy - 1, random.range(1, 2.5), Rgb{0.8, 0.8, 0.8}, 1.0);
  }
  for (int i = 0; i < 14; i++) {
    double cx = random.range(10, 54), cy = random.range(10, 54), a = random.range(0, M_PI);
    grass.line(cx - std::cos(a) * 8, cy - std::sin(a) * 8, cx + std::cos(a) * 8, cy + std::sin(a) * 8, 2.2,
               Rgb{1, 1, 1}, 1.0);
  }
  put_sprite(set, "roost.png", puff);
  put_sprite(set, "roost_clod.png", clod);
  put_sprite(set, "roost_grass.png", grass);
}

}  // namespace

void build_sky_and_effects(DataSet* set) {
  SkyLook day{{0.22, 0.42, 0.78}, {0.68, 0.78, 0.9}, {0.62, 0.66, 0.62}, {0.98, 0.97, 0.95}, {0.62, 0.64, 0.7},
              0.35, -0.55, 0.62, 0.56, {1.0, 0.85, 0.6}, false};
  sky_set(set, "sky", day, Rgb{0.3, 0.35, 0.2});
  SkyLook night{{0.02, 0.03, 0.08}, {0.12, 0.1, 0.16}, {0.1, 0.09, 0.1}, {0.3, 0.28, 0.3}, {0.12, 0.1, 0.12},
                0.15, 0.2, 0.9, 0.3, {0.3, 0.3, 0.35}, true};
  sky_set(set, "skynight", night, Rgb{0.15, 0.12, 0.1});
  flares(set);
  roost(set);
}

}  // namespace dvdata
