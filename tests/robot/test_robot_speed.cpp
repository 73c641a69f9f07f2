// The speed a robot plans along its path: braking for a slow point ahead is
// planned with full grip where the path runs straight and with what the
// lean leaves where it bends.
#include <gtest/gtest.h>

#include <cmath>

#include "robot/robot.h"

namespace {

// A path every 2 ft: straight for `straight` ft, then (when radius > 0) a
// bend of that radius to the right. Speeds fast everywhere except the
// last point, a slow one.
std::vector<PathPoint> path_with(double straight, double bend, double radius, float slow) {
  std::vector<PathPoint> path;
  double heading = 0, x = 0, z = 0, s = 0;
  int n = (int)((straight + bend) / 2) + 1;
  for (int i = 0; i < n; i++) {
    bool bending = radius > 0 && s > straight;
    path.push_back(PathPoint{Vec3{(float)x, 0, (float)z}, 200, (float)s, (float)(bending ? 1 / radius : 0), 0});
    if (bending) heading += 2 / radius;
    x += 2 * std::sin(heading);
    z -= 2 * std::cos(heading);
    s += 2;
  }
  path.back().speed = slow;
  return path;
}

Robot robot_on(std::vector<PathPoint> path) {
  Robot r;
  init_robot(&r, 0, robot_style(ROBOT_EXPERT, 0.5, 1.0), 1);
  r.style.pace = 1;
  r.mode = ROBOT_FOLLOWING;
  r.path = std::move(path);
  return r;
}

TEST(RobotSpeed, BrakingIsPlannedUprightOnTheStraightAndGentlerInABend) {
  // Straight: the classic braking curve, v^2 = v_slow^2 + 2 a d.
  Robot straight = robot_on(path_with(400, 0, 0, 20));
  double a = straight.style.braking;
  for (double d : {40.0, 100.0, 200.0}) {
    int i = (int)((400 - d) / 2);
    double expected = std::sqrt(20.0 * 20.0 + 2 * a * d);
    EXPECT_NEAR(planned_speed(straight, i, 100), expected, 0.5) << d << " ft out";
  }
  // The same distance out, but all of it round a bend: slower, since the
  // brakes get less leaned over; the bend's entry is reached slower still
  // than the straight plan would have it.
  Robot bend = robot_on(path_with(100, 300, 120, 20));
  for (double d : {40.0, 100.0, 200.0}) {
    int i = (int)((400 - d) / 2);
    double upright = std::sqrt(20.0 * 20.0 + 2 * a * d);
    double planned = planned_speed(bend, i, 100);
    EXPECT_LT(planned, upright - 1) << d << " ft out";
    EXPECT_GT(planned, 20) << d << " ft out";
  }
  // A bend's own limit holds wherever the path bends, however far the slow point.
  Robot open_bend = robot_on(path_with(100, 300, 120, 200));
  EXPECT_LE(planned_speed(open_bend, 100, 60), std::sqrt(18.5 * 120) + 0.01);
  EXPECT_GT(planned_speed(open_bend, 100, 60), std::sqrt(18.5 * 120) - 1);
}

}  // namespace
