// Tile defaults and the speed-curve lookups of friction and rolling resistance.
#include "track/tiles.h"

#include <cstring>

void init_roost_kind(RoostKind* k) {
  k->mode = ROOST_DISABLED;
  k->texture = nullptr;
  k->count = 10.0f;
  k->dig = 1.0f;
  k->slip_threshold = 4.0f;
  k->slow_angle = 1.5707964f;
  k->fast_angle = 0.19634955f;
  k->slow_speed = 0.0f;
  k->fast_speed = 64.0f;
  k->size = 0.25f;
  k->grow = 4.0f;
  k->drag = 0.5f;
  k->vscale = 1.0f;
  k->randomize = 15.0f;
  for (int i = 0; i < 4; i++) k->color[i] = 255;
  k->fade[0] = k->fade[1] = k->fade[2] = 0;
  k->fade[3] = -2;
}

void init_tile(Tile* tile) {
  tile->texture = nullptr;
  tile->image = nullptr;
  tile->name[0] = '\0';
  tile->blend_code = 0;
  for (int i = 0; i < TILE_CURVE_POINTS; i++) {
    tile->friction[i] = FrictionPoint{1.0f, i == 0 ? 1.0f : 0.0f};
    tile->roll_resist[i] = RollResistPoint{5.0f, 15.0f, i == 0 ? 1.0f : 0.0f};
  }
  tile->erosion = Erosion{1.0f, 50.0f, 150.0f, 2.0f, 4.0f, 0.25f, 10.0f, 15.0f};
  for (RoostKind& k : tile->roost) init_roost_kind(&k);
}

// Index of the first point whose key is 0 or above the speed (8 when none).
template <typename Point>
static int curve_stop(const Point* points, float speed) {
  int i = 0;
  while (i < TILE_CURVE_POINTS && points[i].key != 0.0f && !(speed < points[i].key)) i++;
  return i;
}

float friction_at(const Tile& tile, float v) {
  const FrictionPoint* p = tile.friction;
  int i = curve_stop(p, v);
  if (i == 0) return p[0].value;
  if (i == TILE_CURVE_POINTS || p[i].key == 0.0f) return p[i - 1].value;
  float k0 = p[i - 1].key * p[i - 1].key;
  float k1 = p[i].key * p[i].key;
  float t = (v * v - k0) / (k1 - k0);
  t = t < 0 ? 0 : (t > 1 ? 1 : t);
  return p[i - 1].value + t * (p[i].value - p[i - 1].value);
}

float rolling_resistance_at(const Tile& tile, float v, float load) {
  const RollResistPoint* p = tile.roll_resist;
  int i = curve_stop(p, v);
  float light, heavy;
  if (i == 0) {
    light = p[0].light;
    heavy = p[0].heavy;
  } else if (i == TILE_CURVE_POINTS || p[i].key == 0.0f) {
    light = p[i - 1].light;
    heavy = p[i - 1].heavy;
  } else {
    float t = (v - p[i - 1].key) / (p[i].key - p[i - 1].key);
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    light = p[i - 1].light + t * (p[i].light - p[i - 1].light);
    heavy = p[i - 1].heavy + t * (p[i].heavy - p[i - 1].heavy);
  }
  if (load < 0) load = 0;
  if (load > 1) load = 1;
  return light + (heavy - light) * load;
}
