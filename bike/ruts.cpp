// Wheel contacts into the erosion queue, and the per-bike erosion pass.
#include "bike/ruts.h"

#include "bike/bike.h"
#include "track/deform.h"
#include "track/terrain.h"

bool record_wheel_contact(Bike* b, int wheel, const Terrain& terrain) {
  const WheelShape& w = b->wheel[wheel];
  if (!(w.depth > 0)) return false;
  double speed = length(body_velocity(*b, wheel == WHEEL_FRONT ? BODY_FRONT_WHEEL : BODY_REAR_WHEEL));
  return queue_erosion_record(&b->erosion, terrain, (float)w.contact_point.x, (float)w.contact_point.z,
                              (float)w.depth, (float)speed, (float)w.feedback.f1[0], (float)w.feedback.f1[2]);
}

int erosion_step(Bike* b, Terrain* terrain, float erosion) {
  if (!(erosion > 0)) return 0;
  record_wheel_contact(b, WHEEL_FRONT, *terrain);
  record_wheel_contact(b, WHEEL_REAR, *terrain);
  DVec chassis = body_position(*b, BODY_FRAME);
  return apply_erosion_records(&b->erosion, terrain, (float)chassis.x, (float)chassis.z, erosion);
}

int wheel_terrain_order(Bike* const bikes[MAX_BIKES], int64_t tick, int order[MAX_BIKES]) {
  int occupied[MAX_BIKES];
  int n = 0;
  for (int i = 0; i < MAX_BIKES; i++)
    if (bikes[i]) occupied[n++] = i;
  if (n == 0) return 0;
  int shift = (int)(((tick % n) + n) % n);
  for (int k = 0; k < n; k++) order[(k + shift) % n] = occupied[k];
  return n;
}
