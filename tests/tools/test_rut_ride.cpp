#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "bike/proving_ground.h"
#include "tools/ruts/rut_ride.h"
#include "track/terrain.h"

namespace {

double mean(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / (double)v.size(); }

TEST(RutRide, ALapAtFullErosionChangesTheGroundOnlyWhereTheWheelsRan) {
  Terrain plain{}, rutted{};
  build_course(&plain, COURSE_PROVING_GROUND);
  build_course(&rutted, COURSE_PROVING_GROUND);
  RutRideOptions options;
  options.bikes = 4;
  options.laps = 1;
  RutRideResult with, without;
  options.erosion = 0;
  ride_ruts(&plain, options, &without);
  options.erosion = 100;
  ride_ruts(&rutted, options, &with);

  ASSERT_TRUE(with.finished);
  ASSERT_TRUE(without.finished);
  EXPECT_TRUE(with.all_finite);
  EXPECT_EQ(with.crashes, 0);
  EXPECT_EQ(without.changed, 0);
  EXPECT_GT(with.changed, 1000);
  EXPECT_EQ(with.changed_off_track, 0);
  // Dug and piled, and soil moved rather than made: the brush volumes of a
  // dig and its pile differ only by where their centres fall in the grid.
  EXPECT_LT(with.deepest_dig, -0.05f);
  EXPECT_GT(with.highest_pile, 0.05f);
  EXPECT_LT(std::abs(with.net_volume), 0.02 * with.moved_volume);
  // Ruts of this depth leave the lap times where they were.
  EXPECT_NEAR(mean(with.lap_seconds), mean(without.lap_seconds), 0.05 * mean(without.lap_seconds));
  for (double lap : with.lap_seconds) EXPECT_GT(lap, 50.0);
}

TEST(RutRide, SameRideSameRuts) {
  RutRideOptions options;
  options.bikes = 3;
  options.laps = 1;
  options.max_seconds = 20;
  Terrain a{}, b{};
  build_course(&a, COURSE_PROVING_GROUND);
  build_course(&b, COURSE_PROVING_GROUND);
  RutRideResult ra, rb;
  ride_ruts(&a, options, &ra);
  ride_ruts(&b, options, &rb);
  ASSERT_GT(ra.changed, 0);
  EXPECT_EQ(a.modification_count, b.modification_count);
  EXPECT_TRUE(a.heights == b.heights);  // bit for bit
  EXPECT_TRUE(a.shading == b.shading);
  EXPECT_EQ(a.low, b.low);
  EXPECT_EQ(a.high, b.high);
}

}  // namespace
