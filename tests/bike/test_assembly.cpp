// The rigid-body assembly: masses, joints, stops, placement, poses.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/drivetrain.h"
#include "bike/rider.h"
#include "bike/tyre_contact.h"
#include "bike_test_util.h"

namespace {
struct Assembly : BikeWorldTest {
  // Steps the world alone, with no contacts: the bike falls freely.
  void fall(int ticks) {
    for (int i = 0; i < ticks; i++) step_bike_world();
  }
};
}  // namespace

TEST_F(Assembly, MassesAndInitialTyreOverlap) {
  make("crf450(2016)", COURSE_FLAT);
  const BikeModel& m = bike->model;
  double expected = m.frame_mass + m.rider_mass + m.front_ring_mass + m.front_hub_mass + m.rear_ring_mass +
                    m.rear_hub_mass + 2 * m.fork_mass + 2 * m.swingarm_mass;
  EXPECT_NEAR(bike->total_mass, expected, 1e-5);
  dMass rider;
  dBodyGetMass(bike->body[BODY_RIDER], &rider);
  EXPECT_NEAR(rider.mass, m.rider_mass / 3, 1e-6);
  // A 16-sphere ring plus hub: the wheel's spin inertia includes the ring.
  dMass wheel;
  dBodyGetMass(bike->body[BODY_FRONT_WHEEL], &wheel);
  EXPECT_GT(wheel.I[0], m.front_ring_mass * m.front_ring_radius * m.front_ring_radius);

  const Terrain& flat = course_terrain(COURSE_FLAT);
  TriangleContact hit;
  for (int w = 0; w < 2; w++) {
    const WheelShape& ws = bike->wheel[w];
    ASSERT_TRUE(find_wheel_contact(flat, body_position(*bike, w == 0 ? BODY_FRONT_WHEEL : BODY_REAR_WHEEL),
                                   DVec{1, 0, 0}, ws.major_radius, ws.minor_radius, &hit));
    EXPECT_NEAR(hit.depth, w == 0 ? 0.0766 : 0.0433, 1e-3);
    EXPECT_NEAR(hit.normal.y, 1, 1e-9);
  }
}

TEST_F(Assembly, PlacementFacesTheHeadingWithJointsAtRest) {
  make("crf450(2016)", COURSE_FLAT);
  place_bike(bike, Vec3{500, 3, 700}, (float)(PI_D / 2));
  DVec f = bike_forward(*bike);
  EXPECT_NEAR(f.x, -1, 1e-6);  // faces (-sin h, 0, -cos h)
  EXPECT_NEAR(f.z, 0, 1e-6);
  DVec front = body_position(*bike, BODY_FRONT_WHEEL), rear = body_position(*bike, BODY_REAR_WHEEL);
  EXPECT_NEAR(0.5 * (front.x + rear.x), 500, 1e-6);
  EXPECT_NEAR(front.y, 3 + 1.09, 1e-6);
  EXPECT_NEAR(steering_angle(*bike), 0, 1e-9);
  EXPECT_NEAR(fork_position(*bike), 0, 1e-9);
  EXPECT_NEAR(swingarm_angle(*bike), 0, 1e-9);
  EXPECT_NEAR(bike_lean_angle(*bike), 0, 1e-9);
  EXPECT_DOUBLE_EQ(length(body_velocity(*bike, BODY_RIDER)), 0);
}

TEST_F(Assembly, StopsHoldTheSteeringForkAndSwingarm) {
  make("crf450(2016)", COURSE_FLAT);
  for (int i = 0; i < 200; i++) {
    dJointAddHingeTorque(bike->joint[JOINT_STEERING], 300);
    dJointAddSliderForce(bike->joint[JOINT_FORK], 400);      // pull it open
    dJointAddHingeTorque(bike->joint[JOINT_SWINGARM], 600);  // and drop the arm
    step_bike_world();
  }
  EXPECT_NEAR(steering_angle(*bike), PI_D / 4, 0.01);
  EXPECT_LT(fork_position(*bike), 0.005);
  EXPECT_LT(swingarm_angle(*bike), 0.005);
  for (int i = 0; i < 200; i++) {
    dJointAddHingeTorque(bike->joint[JOINT_STEERING], -300);
    dJointAddSliderForce(bike->joint[JOINT_FORK], -3000);
    dJointAddHingeTorque(bike->joint[JOINT_SWINGARM], -6000);
    step_bike_world();
  }
  EXPECT_NEAR(steering_angle(*bike), -PI_D / 4, 0.01);
  EXPECT_GT(fork_position(*bike), -bike->model.fork_travel - 0.005);
  EXPECT_GT(swingarm_angle(*bike), -bike->model.swingarm_travel - 0.005);
}

TEST_F(Assembly, PosesFromJointValuesMatchTheBodies) {
  make("crf450(2016)", COURSE_BERM);
  int64_t tick = 0;
  bike->input.throttle = 0.6f;
  run(COURSE_BERM, 300, &tick);
  bike->input.steer = -0.6f;
  run(COURSE_BERM, 200, &tick);
  BikePose actual = read_bike_pose(*bike);
  DVec rider_offset = actual.body[BODY_RIDER].position - actual.body[BODY_FRAME].position;
  BikePose posed = bike_pose_from_joints(*bike, actual.body[BODY_FRAME].position, actual.body[BODY_FRAME].orientation,
                                         read_joint_values(*bike), rider_offset, actual.body[BODY_RIDER].orientation);
  for (int i = 0; i < BODY_COUNT; i++) {
    EXPECT_LT(length(posed.body[i].position - actual.body[i].position), 5e-3) << "body " << i;
    DQuat a = posed.body[i].orientation, b = actual.body[i].orientation;
    double d = std::fabs(a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z);
    EXPECT_GT(d, 1 - 1e-5) << "body " << i;
  }
}

TEST_F(Assembly, RestoreSetsPosesAndDerivesVelocities) {
  make("crf450(2016)", COURSE_FLAT);
  BikePose a = read_bike_pose(*bike), b = a, now = a;
  for (int i = 0; i < BODY_COUNT; i++) {
    b.body[i].position = a.body[i].position + DVec{0, 0, -2};  // 2 ft in 4 ticks
    now.body[i].position = a.body[i].position + DVec{0, 0, -1};
  }
  b.body[BODY_FRONT_WHEEL].orientation = quat_mul(a.body[BODY_FRONT_WHEEL].orientation, quat_axis_angle(DVec{1, 0, 0}, -0.5));
  restore_bike_pose(bike, now, &a, &b, 4 * TICK_SECONDS);
  EXPECT_NEAR(body_position(*bike, BODY_FRAME).z, a.body[BODY_FRAME].position.z - 1, 1e-12);
  EXPECT_NEAR(body_velocity(*bike, BODY_RIDER).z, -2 / (4 * TICK_SECONDS), 1e-9);
  EXPECT_NEAR(body_angular_velocity(*bike, BODY_FRONT_WHEEL).x, -0.5 / (4 * TICK_SECONDS), 1e-6);
  restore_bike_pose(bike, now, nullptr, nullptr, 0);
  EXPECT_DOUBLE_EQ(length(body_velocity(*bike, BODY_FRAME)), 0);
}

TEST_F(Assembly, DisabledBikeKeepsItsPose) {
  make("crf450(2016)", COURSE_FLAT);
  place_bike(bike, Vec3{100, 50, 100}, 0);
  disable_bike(bike);
  DVec before = body_position(*bike, BODY_FRAME);
  int64_t tick = 0;
  run(COURSE_FLAT, 20, &tick);
  EXPECT_DOUBLE_EQ(body_position(*bike, BODY_FRAME).y, before.y);
  enable_bike(bike);
  run(COURSE_FLAT, 20, &tick);
  EXPECT_LT(body_position(*bike, BODY_FRAME).y, before.y - 0.1);  // falling again
}

TEST_F(Assembly, RiderDetachesAndReattachesAtItsBuildPlace) {
  make("crf450(2016)", COURSE_FLAT);
  detach_rider(bike);
  fall(30);
  reattach_rider(bike);
  RiderOffset off = rider_offset(*bike);
  EXPECT_NEAR(off.fore_aft, 0, 1e-9);
  EXPECT_NEAR(off.vertical, 0, 1e-9);
  EXPECT_NEAR(dJointGetHinge2Angle1(bike->joint[JOINT_RIDER_MOUNT]), 0, 1e-9);
  fall(5);
  EXPECT_LT(std::fabs(rider_offset(*bike).fore_aft), 0.01);  // held by the mount again
}

TEST_F(Assembly, WheelieCutNeedsTheRearDownTheFrontUpAndTheNoseRising) {
  make("crf450(2016)", COURSE_FLAT);
  bike->tuning.stop_wheelies = STOP_WHEELIES_YES;
  bike->wheel[WHEEL_FRONT].depth = 0;
  bike->wheel[WHEEL_REAR].depth = 0.1;
  dBodySetAngularVel(bike->body[BODY_FRAME], 0.5, 0, 0);  // nose rising
  EXPECT_TRUE(wheelie_cut_active(*bike));
  dBodySetAngularVel(bike->body[BODY_FRAME], -0.02, 0, 0);  // dropping, but slowly
  EXPECT_TRUE(wheelie_cut_active(*bike));
  dBodySetAngularVel(bike->body[BODY_FRAME], -0.05, 0, 0);
  EXPECT_FALSE(wheelie_cut_active(*bike));
  dBodySetAngularVel(bike->body[BODY_FRAME], 0.5, 0, 0);
  bike->tuning.stop_wheelies = STOP_WHEELIES_FRONT_ONLY;
  EXPECT_FALSE(wheelie_cut_active(*bike));
  bike->tuning.stop_wheelies = STOP_WHEELIES_YES;
  bike->wheel[WHEEL_FRONT].depth = 0.05;
  EXPECT_FALSE(wheelie_cut_active(*bike));
}
