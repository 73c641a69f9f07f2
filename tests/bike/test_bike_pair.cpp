// Contacts between two bikes: bikes placed deep in each other come apart.
#include <gtest/gtest.h>

#include <cmath>

#include "bike_test_util.h"

namespace {

// Two bikes standing `apart` ft between their frames (x), the second
// `ahead` ft further along (-z), both facing -z; how deep the deepest
// contact between them is after the first tick and after `seconds`.
struct Merge {
  double first, last;
};
Merge ride_apart(float apart, float ahead, double seconds) {
  create_bike_world();
  const Terrain& flat = course_terrain(COURSE_FLAT);
  CourseStart s = course_start(COURSE_FLAT);
  Bike* bikes[MAX_BIKES] = {};
  for (int i = 0; i < 2; i++) {
    bikes[i] = create_bike("crf450(2016)", i, nullptr, nullptr, nullptr, nullptr, "7");
    Vec3 p = s.position;
    p.x += i * apart;
    p.z -= i * ahead;
    p.y = height_at(flat, p.x, p.z);
    place_bike(bikes[i], p, 0);
  }
  auto deepest = [&] {
    double d = 0;
    for (int i = 0; i < 2; i++)
      for (int k = 0; k < bikes[i]->bike_note_count && k < PART_CONTACT_NOTES; k++)
        d = std::fmax(d, bikes[i]->bike_notes[k].depth);
    return d;
  };
  int64_t tick = 0;
  run_bike_tick(bikes, flat, tick++);
  Merge m{deepest(), 0};
  for (int i = 0; i < seconds * TICKS_PER_SECOND; i++) run_bike_tick(bikes, flat, tick++);
  m.last = deepest();
  for (Bike* b : bikes) delete_bike(b);
  destroy_bike_world();
  return m;
}

TEST(BikePair, BikesPlacedDeepInEachOtherComeApart) {
  // Side by side with their frames 1.3 ft apart, level or a little ahead,
  // parts of each sunk deep in the other: each is pushed out of the other,
  // not held in it by contacts that push it both ways at once.
  struct Case {
    float apart, ahead;
  } cases[] = {{1.3f, 0}, {0.8f, 1.0f}, {1.0f, 2.0f}};
  for (const Case& c : cases) {
    Merge m = ride_apart(c.apart, c.ahead, 3);
    EXPECT_GT(m.first, 0.2) << c.apart << " ft apart, " << c.ahead << " ft ahead: not placed in each other";
    EXPECT_LT(m.last, 0.1) << c.apart << " ft apart, " << c.ahead << " ft ahead: still merged";
  }
}

}  // namespace
