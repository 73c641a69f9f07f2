// Roost emission and particle motion.
#include "bike/roost.h"

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "track/terrain.h"

RoostRing g_roost;
int g_roost_frequency = 250;
bool g_roost_enabled = true;

namespace {

// Per-bike generator, so emission is deterministic and independent of the
// order other bikes emit in.
float next_random(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return (float)(*state >> 8) * (1.0f / 16777216.0f);  // 0..1
}

void spawn(RoostRing* ring, const RoostKind& kind, Vec3 at, Vec3 velocity) {
  RoostParticle& p = ring->particle[ring->next];
  if (p.mode == ROOST_DISABLED) ring->live++;
  if (ring->live > 1 && ring->next == ring->tail) ring->tail = (ring->tail + 1) % ROOST_RING_SIZE;
  p.position = at;
  p.velocity = velocity;
  p.size = kind.size;
  p.grow = kind.grow;
  p.drag = kind.drag;
  p.vscale = kind.vscale;
  memcpy(p.color, kind.color, sizeof p.color);
  memcpy(p.fade, kind.fade, sizeof p.fade);
  p.texture = kind.texture;
  p.mode = kind.mode;
  ring->next = (ring->next + 1) % ROOST_RING_SIZE;
}

}  // namespace

void clear_roost(RoostRing* ring) {
  memset(ring, 0, sizeof *ring);
}

void emit_roost(RoostRing* ring, Bike* b, const Terrain& terrain) {
  if (!g_roost_enabled || g_roost_frequency <= 0) return;
  for (int w = 0; w < 2; w++) {
    const WheelShape& wheel = b->wheel[w];
    if (!(wheel.depth > 0) || wheel.tile < 0 || wheel.tile >= MAX_TILES) continue;
    const Tile& tile = terrain.tiles[wheel.tile];
    DVec slide = wheel.sliding_velocity;
    double slip = length(slide);
    for (const RoostKind& kind : tile.roost) {
      if (kind.mode == ROOST_DISABLED || !(slip > kind.slip_threshold)) continue;
      double threshold = std::fmax(kind.slip_threshold, 0.5f);
      double amount = std::fmin(1.0, (slip - kind.slip_threshold) / threshold);
      b->roost_accumulator[w] += kind.count * (g_roost_frequency / 1000.0) * amount;
      // The tyre drags the dirt along its surface motion and flings it off
      // steeply when slow, flatter when fast.
      double speed_share = kind.fast_speed > kind.slow_speed
                               ? clampd((slip - kind.slow_speed) / (kind.fast_speed - kind.slow_speed), 0, 1)
                               : 1.0;
      double angle = kind.slow_angle + (kind.fast_angle - kind.slow_angle) * speed_share;
      DVec flat = normalized(DVec{slide.x, 0, slide.z}, DVec{0, 0, 1});
      int guard = 0;
      while (b->roost_accumulator[w] >= 1 && guard++ < 64) {
        b->roost_accumulator[w] -= 1;
        double spread = kind.randomize * (PI_D / 180) * (next_random(&b->roost_random) * 2 - 1);
        double yaw = kind.randomize * (PI_D / 180) * (next_random(&b->roost_random) * 2 - 1);
        double a = angle + spread;
        DVec side{-flat.z, 0, flat.x};
        DVec dir = (flat * std::cos(yaw) + side * std::sin(yaw)) * std::cos(a) + DVec{0, std::sin(a), 0};
        double v = slip * kind.dig * (0.8 + 0.4 * next_random(&b->roost_random));
        DVec at = wheel.contact_point + DVec{0, 0.1, 0};
        spawn(ring, kind, to_vec3(at), to_vec3(dir * v));
      }
      if (b->roost_accumulator[w] > 64) b->roost_accumulator[w] = 0;
    }
  }
}

void advance_roost(RoostRing* ring, const Terrain& terrain) {
  const float h = (float)TICK_SECONDS;
  // Particles are born in ring order and mostly die in it, so only the span
  // from the oldest live one to the newest needs visiting.
  int span = (ring->next - ring->tail + ROOST_RING_SIZE) % ROOST_RING_SIZE;
  if (ring->live > 0 && span == 0) span = ROOST_RING_SIZE;
  // Every particle moves first; the falling ones are listed for the ground
  // test after, their ground rows fetched into the cache meanwhile (waiting
  // on those rows one particle at a time was most of the cost).
  static_assert((ROOST_RING_SIZE & (ROOST_RING_SIZE - 1)) == 0, "the ring wraps by a mask");
  int falling[ROOST_RING_SIZE];
  int fallen = 0;
  const bool ground = terrain.N > 1;
  const float to_cells = ground ? 1.0f / terrain.spacing : 0.0f;
  for (int k = 0; k < span; k++) {
    const int slot = (ring->tail + k) & (ROOST_RING_SIZE - 1);
    RoostParticle& p = ring->particle[slot];
    if (p.mode == ROOST_DISABLED) continue;
    float keep = 1 - p.drag * h;
    if (keep < 0) keep = 0;
    p.velocity = p.velocity * keep;
    p.velocity.y += GRAVITY_Y * h;
    p.position = p.position + p.velocity * h;
    p.size += p.grow * h;
    for (int k = 0; k < 4; k++) {
      int c = (int)p.color[k] + p.fade[k];
      p.color[k] = (uint8_t)(c < 0 ? 0 : (c > 255 ? 255 : c));
    }
    if (p.color[3] == 0) {
      p.mode = ROOST_DISABLED;
      ring->live--;
    } else if (ground && p.velocity.y < 0) {
      falling[fallen++] = slot;
      // Only a hint: the cell is found again, exactly, by height_at.
      const int c = (int)(p.position.x * to_cells), r = (int)(p.position.z * to_cells);
      if (c >= 0 && r >= 0 && c + 1 < terrain.N && r + 1 < terrain.N) {
        const float* row = terrain.heights.data() + (size_t)c + (size_t)terrain.N * (size_t)r;
        __builtin_prefetch(row);
        __builtin_prefetch(row + terrain.N);
      }
    }
  }
  for (int i = 0; i < fallen; i++) {
    RoostParticle& p = ring->particle[falling[i]];
    if (p.position.y < height_at(terrain, p.position.x, p.position.z)) {
      p.mode = ROOST_DISABLED;
      ring->live--;
    }
  }
  while (ring->tail != ring->next && ring->particle[ring->tail].mode == ROOST_DISABLED)
    ring->tail = (ring->tail + 1) % ROOST_RING_SIZE;
}
