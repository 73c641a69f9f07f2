// The force laws against hand-worked numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/bike_sim.h"
#include "bike/drivetrain.h"
#include "bike/rider.h"
#include "bike/suspension.h"
#include "bike/tyre_contact.h"
#include "track/tiles.h"

namespace {

const BikeModel& crf450() { return bike_model_at(find_bike_model("crf450(2016)")); }

ForkParameters stock_fork() {
  return ForkParameters{644.0, 0.02, 0.45, 1.0, 60, 0, 32, 0};
}

LinkageParameters stock_linkage() {
  return LinkageParameters{0.75, 0.283652, 0.413386, 0.315039, 0.460479, 0.607049};
}

}  // namespace

TEST(Suspension, DampingStaysWithinItsBands) {
  EXPECT_DOUBLE_EQ(damping_force(-1, 60, 60, 32, 30), 120);  // slow force adds
  EXPECT_DOUBLE_EQ(damping_force(-1, 60, -60, 32, 30), 7.5);  // never below D/8
  EXPECT_DOUBLE_EQ(damping_force(-1, 60, 1000, 32, 30), 480);  // never above 8 D
  EXPECT_DOUBLE_EQ(damping_force(1, 60, 60, 32, 30), -62);    // rebound pulls back
  EXPECT_DOUBLE_EQ(damping_force(1, 60, 60, 32, 300), -256);
  EXPECT_DOUBLE_EQ(damping_force(1, 60, 60, 32, -300), -4);
  EXPECT_DOUBLE_EQ(damping_force(0, 60, 60, 32, 30), 0);  // at rest, whatever the slow forces
}

TEST(Suspension, AirSpringRisesSteeplyAndStopsAtFullTravel) {
  // L = 1.45: 82.4617 x ((1.45 / 1.2)^1.4 - 1) = 25.01 lbf at a quarter travel.
  EXPECT_NEAR(fork_air_spring(0.25, 1, 0.45), 25.01, 0.01);
  EXPECT_NEAR(fork_air_spring(1.0, 1, 0.45), 341.85, 0.05);
  EXPECT_DOUBLE_EQ(fork_air_spring(1.5, 1, 0.45), fork_air_spring(1.0, 1, 0.45));
  EXPECT_DOUBLE_EQ(fork_air_spring(0, 1, 0.45), 0);
  // More oil (a shorter column) makes it stiffer.
  EXPECT_GT(fork_air_spring(0.5, 1, 0.25), fork_air_spring(0.5, 1, 0.45));
}

TEST(Suspension, ForkFadesInOverTheFirstThirtySecondOfTravel) {
  ForkParameters f = stock_fork();
  EXPECT_DOUBLE_EQ(fork_force(f, 0, 0), 0);  // fully extended: nothing, preload or not
  double x = 1.0 / 64;
  double unfaded = f.spring * (f.preload + x) + fork_air_spring(x, 1, 0.45);
  EXPECT_NEAR(fork_force(f, -x, 0), 0.5 * unfaded, 1e-9);
  double deep = 0.3;
  EXPECT_NEAR(fork_force(f, -deep, 0), f.spring * (f.preload + deep) + fork_air_spring(deep, 1, 0.45), 1e-9);
  // Compressing adds damping; extending takes it away.
  EXPECT_NEAR(fork_force(f, -deep, -1) - fork_force(f, -deep, 0), 60, 1e-9);
  EXPECT_NEAR(fork_force(f, -deep, 1) - fork_force(f, -deep, 0), -32, 1e-9);
}

TEST(Suspension, LinkageCurveMeetsItsEndPointsAndSlopes) {
  LinkageParameters l = stock_linkage();
  LinkagePoint start = linkage_curve(l, 0), knee = linkage_curve(l, 0.75), end = linkage_curve(l, 1);
  EXPECT_DOUBLE_EQ(start.compression, 0);
  EXPECT_NEAR(start.ratio, 0.315039, 1e-12);
  EXPECT_NEAR(knee.compression, 0.283652, 1e-12);
  EXPECT_NEAR(knee.ratio, 0.460479, 1e-12);
  EXPECT_NEAR(end.compression, 0.413386, 1e-12);  // the shock's whole stroke
  EXPECT_NEAR(end.ratio, 0.607049, 1e-12);
  // Continuous across the knee, rising rate all the way.
  LinkagePoint a = linkage_curve(l, 0.75 - 1e-9), b = linkage_curve(l, 0.75 + 1e-9);
  EXPECT_NEAR(a.compression, b.compression, 1e-8);
  EXPECT_NEAR(a.ratio, b.ratio, 1e-6);
  double previous = 0;
  for (int i = 1; i <= 100; i++) {
    LinkagePoint p = linkage_curve(l, i / 100.0);
    EXPECT_GT(p.compression, previous);
    previous = p.compression;
  }
  // Mid first segment, hand-worked: t = 0.44 of u = 0.33.
  EXPECT_NEAR(linkage_curve(l, 0.33).compression, 0.11158, 1e-4);
}

TEST(Suspension, ShockTorqueFadesInAndActsThroughTheMotionRatio) {
  ShockParameters s{3830, 0.15, 0.530304, 800, 0, 650, 0, stock_linkage()};
  EXPECT_DOUBLE_EQ(shock_torque(s, 0, 0), 0);
  double u = 0.5, a = -u * s.travel;
  LinkagePoint k = linkage_curve(s.linkage, u);
  EXPECT_NEAR(shock_torque(s, a, 0), s.spring * (k.compression + s.preload) * k.ratio, 1e-9);
  // Compressing at 1 rad/s: shock speed -r, damping 800 r, times r again.
  EXPECT_NEAR(shock_torque(s, a, -1) - shock_torque(s, a, 0), 800 * k.ratio * k.ratio, 1e-9);
  // At 1/64 of the travel the fade-in halves the force.
  double a_small = -s.travel / 64;
  LinkagePoint ks = linkage_curve(s.linkage, 1.0 / 64);
  EXPECT_NEAR(shock_torque(s, a_small, 0), 0.5 * s.spring * (ks.compression + s.preload) * ks.ratio, 1e-9);
}

TEST(Suspension, ReadOuts) {
  EXPECT_NEAR(fork_spring_kg_per_mm(644), 0.4792, 1e-4);
  EXPECT_NEAR(shock_spring_kg_per_mm(3830), 5.6997, 1e-4);
  EXPECT_DOUBLE_EQ(low_speed_share(60, 60, 1), 0.5);
  EXPECT_DOUBLE_EQ(low_speed_share(60, 60, 0), 1);
}

TEST(Engine, TorqueInterpolatesTheTablesAndBlendsWithThrottle) {
  const BikeModel& m = crf450();
  EXPECT_DOUBLE_EQ(engine_torque(m, 0, 0), 2);
  EXPECT_DOUBLE_EQ(engine_torque(m, 0, 0.5), 3.5);
  EXPECT_NEAR(engine_torque(m, 6250, 1), (33.1758 + 33.9367) / 2, 1e-5);
  EXPECT_NEAR(engine_torque(m, 6250, 0), -5, 1e-6);
  EXPECT_DOUBLE_EQ(engine_torque(m, 24500, 1), -34);
  EXPECT_DOUBLE_EQ(engine_torque(m, 40000, 1), -34);  // past the table: the last entry
  EXPECT_DOUBLE_EQ(engine_torque(m, -100, 0), 2);
}

TEST(Engine, AutomaticClutchEngagesOverTwoThousandRpm) {
  EXPECT_DOUBLE_EQ(clutch_engagement(4000, 1, 5000), 0);  // revs freely below Ra
  EXPECT_DOUBLE_EQ(clutch_engagement(6000, 1, 5000), 0.5);
  EXPECT_DOUBLE_EQ(clutch_engagement(6000, 0.3, 5000), 0.3);
  EXPECT_DOUBLE_EQ(clutch_engagement(8000, 0.7, 5000), 0.7);
  EXPECT_DOUBLE_EQ(clutch_engagement(8000, 0, 5000), 0);
}

TEST(Engine, DrivetrainSpringStepByHand) {
  // we 500, q 0.1, wheel at angle 0 turning at 49 rad/s, G 10: slip 10 rad/s.
  // T = 10 x 0.75 + 7500 x 0.1 = 757.5 = Tw (clutch fully in).
  // we += (20 - 75.75) / 0.01 / 128 = -43.5546875; q += we / G / 128.
  DrivetrainStep s = drivetrain_step(500, 0.1, 20, 1, 0, 10, 7500, 0.75, 0.01, 0, 49);
  EXPECT_DOUBLE_EQ(s.wheel_torque, 757.5);
  EXPECT_DOUBLE_EQ(s.engagement, 1);
  EXPECT_DOUBLE_EQ(s.engine_speed, 456.4453125);
  EXPECT_NEAR(s.drivetrain_angle, 0.1 + 456.4453125 / 10 / 128, 1e-12);

  // Wind-up past c x 45 degrees resets q to the limit before integrating.
  s = drivetrain_step(500, 1.0, 20, 1, 0, 10, 7500, 0.75, 0.01, 0, 50);
  EXPECT_DOUBLE_EQ(s.wheel_torque, 7500);
  EXPECT_NEAR(s.drivetrain_angle, PI_D / 4 + s.engine_speed / 10 / 128, 1e-12);

  // Half engaged: the torque goes through as c^2.
  double rpm6000 = 6000 / RPM_PER_RAD_PER_SECOND;
  s = drivetrain_step(rpm6000, 0.1, 0, 1, 5000, 10, 7500, 0.75, 0.01, 0, rpm6000 / 10);
  EXPECT_NEAR(s.engagement, 0.5, 1e-12);
  EXPECT_NEAR(s.wheel_torque, 0.25 * 750, 1e-6);

  // Engine braking keeps the clutch in even below the automatic clutch speed.
  double slow = 3000 / RPM_PER_RAD_PER_SECOND;
  s = drivetrain_step(slow, -0.1, -5, 1, 5000, 10, 7500, 0.75, 0.01, 0, slow / 10);
  EXPECT_DOUBLE_EQ(s.engagement, 1);
  EXPECT_NEAR(s.wheel_torque, -750, 1e-9);

  // Clutch out: no torque to the wheel and the angle follows the wheel.
  s = drivetrain_step(500, 0.3, 20, 0, 0, 10, 7500, 0.75, 0.01, 0.2, 10);
  EXPECT_DOUBLE_EQ(s.wheel_torque, 0);
  EXPECT_NEAR(s.drivetrain_angle, 0.2 + s.engine_speed / 10 / 128, 1e-12);

  // The angle wraps into [-pi, pi].
  s = drivetrain_step(500, 3.1, 0, 1, 0, 10, 7500, 0.75, 0.01, 3.1, 50);
  EXPECT_LE(s.drivetrain_angle, PI_D);
  EXPECT_GE(s.drivetrain_angle, -PI_D);
}

TEST(Gearbox, AutomaticShiftRules) {
  const BikeModel& m = crf450();  // marks 6000 and 10500, five gears
  EXPECT_EQ(automatic_gear(m, 2, 11000), 3);
  EXPECT_EQ(automatic_gear(m, 2, 5000), 1);
  EXPECT_EQ(automatic_gear(m, 2, 8000), 2);
  EXPECT_EQ(automatic_gear(m, 0, 1000), 0);
  EXPECT_EQ(automatic_gear(m, 4, 12000), 4);  // sixth does not exist
  const BikeModel& six = bike_model_at(find_bike_model("250sxf(2013)"));
  EXPECT_EQ(automatic_gear(six, 4, 13000), 5);
  EXPECT_EQ(automatic_gear(six, 5, 13000), 5);
}

TEST(Gearbox, ManualShiftingOnTheRisingEdgeAndNeutral) {
  Bike b;
  memset(&b, 0, sizeof b);
  b.model = crf450();
  b.tuning.auto_shift = 0;
  manual_shift(&b, 1, 0);
  EXPECT_EQ(b.gear, 1);
  manual_shift(&b, 1, 0);  // held: no further change
  EXPECT_EQ(b.gear, 1);
  manual_shift(&b, 0, 0);
  for (int i = 0; i < 10; i++) {
    manual_shift(&b, 1, 0);
    manual_shift(&b, 0, 0);
  }
  EXPECT_EQ(b.gear, 4);  // top of a five-speed box
  for (int i = 0; i < 4; i++) {
    manual_shift(&b, -1, 0);
    manual_shift(&b, 0, 0);
  }
  EXPECT_EQ(b.gear, 0);
  manual_shift(&b, -1, 20);  // too fast for neutral
  manual_shift(&b, 0, 20);
  EXPECT_FALSE(b.neutral);
  manual_shift(&b, -1, 1);
  manual_shift(&b, 0, 1);
  EXPECT_TRUE(b.neutral);
  EXPECT_EQ(b.gear, 0);
  manual_shift(&b, 1, 1);
  EXPECT_FALSE(b.neutral);
  EXPECT_EQ(b.gear, 0);  // up from neutral is first
  b.tuning.auto_shift = 1;
  manual_shift(&b, 0, 0);
  manual_shift(&b, -1, 0);
  EXPECT_FALSE(b.neutral);  // the automatic box never finds neutral
}

TEST(Brakes, AntilockAndStoppieGuard) {
  Bike b;
  memset(&b, 0, sizeof b);
  b.model = crf450();
  b.tuning.brake_torque = 250;
  b.tuning.rear_brake_torque = 200;
  b.tuning.front_brake_mode = BRAKE_ANTILOCK;
  b.tuning.rear_brake_mode = BRAKE_NORMAL;
  b.input.front_brake = 0.8f;
  b.input.rear_brake = 0.5f;
  b.wheel[WHEEL_FRONT].depth = b.wheel[WHEEL_REAR].depth = 0.1;
  b.wheel[WHEEL_FRONT].sliding_velocity = DVec{0, 0, 1};
  b.wheel[WHEEL_REAR].sliding_velocity = DVec{0, 0, 3};
  BrakeLimits l = brake_limits(b);
  EXPECT_NEAR(l.front, 200, 1e-4);
  EXPECT_DOUBLE_EQ(l.rear, 100);  // rear sliding, but its mode is Normal
  b.wheel[WHEEL_FRONT].sliding_velocity = DVec{0, 0, 3};
  EXPECT_DOUBLE_EQ(brake_limits(b).front, 0);  // antilock releases a sliding wheel
  b.wheel[WHEEL_FRONT].depth = 0;
  EXPECT_NEAR(brake_limits(b).front, 200, 1e-4);  // in the air antilock has no say
  b.tuning.rear_brake_mode = BRAKE_ANTILOCK;
  EXPECT_DOUBLE_EQ(brake_limits(b).rear, 0);

  // Stoppie guard: front down, rear up.
  b.wheel[WHEEL_FRONT] = WheelShape{};
  b.wheel[WHEEL_FRONT].depth = 0.1;
  b.wheel[WHEEL_REAR].depth = 0;
  b.tuning.stop_wheelies = STOP_WHEELIES_NO;
  EXPECT_GT(brake_limits(b).front, 0);
  b.tuning.stop_wheelies = STOP_WHEELIES_FRONT_ONLY;
  EXPECT_DOUBLE_EQ(brake_limits(b).front, 0);
  b.tuning.stop_wheelies = STOP_WHEELIES_YES;
  EXPECT_DOUBLE_EQ(brake_limits(b).front, 0);
}

TEST(TyreContact, FrictionWalkAndArcadeGrip) {
  Tile tile;
  init_tile(&tile);
  EXPECT_DOUBLE_EQ(contact_friction(tile, 30, false, 0), 1.0);  // no points given: 1.0
  tile.friction[0] = FrictionPoint{0.5f, 2};
  tile.friction[1] = FrictionPoint{1.0f, 4};
  for (int i = 2; i < TILE_CURVE_POINTS; i++) tile.friction[i] = FrictionPoint{7, 0};
  EXPECT_DOUBLE_EQ(contact_friction(tile, 1, false, 0), 0.5);
  EXPECT_NEAR(contact_friction(tile, std::sqrt(10.0), false, 0), 0.75, 1e-6);
  EXPECT_DOUBLE_EQ(contact_friction(tile, 5, false, 0), 1.0);
  // Arcade: grip falls by up to 3/8 as the bike leans to 45 degrees.
  EXPECT_NEAR(contact_friction(tile, 5, true, PI_D / 8), 1.0 - 0.375 * 0.5, 1e-6);
  EXPECT_NEAR(contact_friction(tile, 5, true, -PI_D / 2), 0.625, 1e-6);
  EXPECT_DOUBLE_EQ(contact_friction(tile, 5, true, 0), 1.0);
  tile.friction[0].key = 0;  // a list that starts with a zero speed
  EXPECT_DOUBLE_EQ(contact_friction(tile, 50, false, 0), 0.5);
}

TEST(TyreContact, SpringAndDamperGrowWithDepth) {
  SoftContact stiff = wheel_contact_softness(1);
  double cfm = 1 / (2500 + 25000 / 128.0);
  EXPECT_NEAR(stiff.cfm, cfm, 1e-15);
  EXPECT_NEAR(stiff.erp, 25000 / 128.0 * cfm, 1e-12);
  SoftContact deeper = wheel_contact_softness(3);  // capped at the section radius
  EXPECT_DOUBLE_EQ(deeper.cfm, stiff.cfm);
  SoftContact half = wheel_contact_softness(0.5);  // 1000 + 24000/8 and 200 + 2300/8
  EXPECT_NEAR(half.cfm, 1 / (487.5 + 4000 / 128.0), 1e-15);
  SoftContact part = soft_contact(2500, 250);
  EXPECT_NEAR(part.cfm, 1 / (250 + 2500 / 128.0), 1e-15);
  EXPECT_NEAR(part.erp, 2500 / 128.0 * part.cfm, 1e-12);
}

TEST(TyreContact, FrictionDirection) {
  DVec n{0, 1, 0}, axle{1, 0, 0};
  DVec d = friction_direction(n, DVec{0, 0, -20}, axle);  // rolling: across the wheel
  EXPECT_NEAR(d.x, -1, 1e-12);
  d = friction_direction(n, DVec{3, 0, 0}, axle);  // spinning sideways along the axle
  EXPECT_NEAR(d.z, -1, 1e-12);
  d = friction_direction(n, DVec{0, 0, 0}, axle);  // still: n x axle
  EXPECT_NEAR(d.z, -1, 1e-12);
  EXPECT_NEAR(length(d), 1, 1e-12);
}

TEST(Controls, ApplicationRules) {
  Bike b;
  memset(&b, 0, sizeof b);
  b.input.clutch = 1;
  float c[CONTROL_COUNT] = {};
  ControlOptions reverse{true, false}, plain{false, false}, sticky{false, true};
  c[CONTROL_STEER] = 1;
  c[CONTROL_THROTTLE] = 2;  // bindings can add up beyond one
  apply_control_vector(&b, c, reverse);
  EXPECT_FLOAT_EQ(b.input.steer, -1);
  EXPECT_FLOAT_EQ(b.input.throttle, 1);
  apply_control_vector(&b, c, plain);
  EXPECT_FLOAT_EQ(b.input.steer, 1);

  c[CONTROL_SHIFT] = 0.6f;
  apply_control_vector(&b, c, plain);
  EXPECT_EQ(b.input.shift, 1);
  c[CONTROL_SHIFT] = -0.6f;
  apply_control_vector(&b, c, plain);
  EXPECT_EQ(b.input.shift, -1);
  c[CONTROL_SHIFT] = 0.4f;
  apply_control_vector(&b, c, plain);
  EXPECT_EQ(b.input.shift, 0);

  // Pulling the clutch disengages at once; letting go engages at 4 per second.
  c[CONTROL_CLUTCH] = 1;
  apply_control_vector(&b, c, plain);
  EXPECT_FLOAT_EQ(b.input.clutch, 0);
  c[CONTROL_CLUTCH] = 0.4375f;  // target 1 - 0.5
  apply_control_vector(&b, c, plain);
  EXPECT_FLOAT_EQ(b.input.clutch, 0.03125f);
  c[CONTROL_CLUTCH] = 0;
  for (int i = 0; i < 31; i++) apply_control_vector(&b, c, plain);
  EXPECT_FLOAT_EQ(b.input.clutch, 1);

  // Sticky sit/dab latches on each press.
  c[CONTROL_SIT] = 1;
  apply_control_vector(&b, c, sticky);
  EXPECT_FLOAT_EQ(b.input.sit, 1);
  apply_control_vector(&b, c, sticky);  // still held: no toggle
  EXPECT_FLOAT_EQ(b.input.sit, 1);
  c[CONTROL_SIT] = 0;
  apply_control_vector(&b, c, sticky);
  EXPECT_FLOAT_EQ(b.input.sit, 1);
  c[CONTROL_SIT] = 1;
  apply_control_vector(&b, c, sticky);
  EXPECT_FLOAT_EQ(b.input.sit, 0);
  c[CONTROL_SIT] = 0.3f;
  apply_control_vector(&b, c, plain);
  EXPECT_FLOAT_EQ(b.input.sit, 0.3f);

  // A crashed rider's inputs are ignored.
  b.crash_timer = 100;
  c[CONTROL_THROTTLE] = 0;
  c[CONTROL_FRONT_BRAKE] = 1;
  apply_control_vector(&b, c, plain);
  EXPECT_FLOAT_EQ(b.input.throttle, 1);
  EXPECT_FLOAT_EQ(b.input.front_brake, 0);
}

TEST(Rider, LinkLawsAndTolerance) {
  // Seated (S = 1), 0.3 ft low: the fore-aft target is 0.3 ft forward.
  RiderLink fa = fore_aft_link(0.2, 0.3, 1, 0, 0.5);
  EXPECT_NEAR(fa.error, -0.1, 1e-12);
  EXPECT_NEAR(fa.stiffness, 0.1 * 100 + 300, 1e-9);
  EXPECT_DOUBLE_EQ(fore_aft_link(0.75, 0, 0, 0, 0.5).stiffness, 2500);  // the range is half open
  EXPECT_NEAR(fore_aft_link(0, 0, 0, -1, 0.5).error, -0.75, 1e-12);   // leaning forward, clamped
  RiderLink up = vertical_link(0.2, 0, 0.5, 0.5);
  EXPECT_NEAR(up.error, 0.325, 1e-12);
  EXPECT_DOUBLE_EQ(up.stiffness, 200);
  EXPECT_DOUBLE_EQ(up.damping, 50);
  RiderLink stop = vertical_link(0.6, 1, 0.5, 0.5);
  EXPECT_DOUBLE_EQ(stop.stiffness, 2500);
  EXPECT_DOUBLE_EQ(stop.damping, 2500);
  EXPECT_DOUBLE_EQ(rider_mass_scale(4.6875), 1.0);

  EXPECT_DOUBLE_EQ(crash_tolerance(0.3, 0), 1.5);      // short hop
  EXPECT_DOUBLE_EQ(crash_tolerance(0.7, 0.1), 1.0);    // long jump, just landed
  EXPECT_DOUBLE_EQ(crash_tolerance(0.7, 0.125), 1.0);
  EXPECT_DOUBLE_EQ(crash_tolerance(0.7, 0.3), 1.5);    // settled again
  EXPECT_NEAR(crash_tolerance(0.622, 0.1875), 1.5 - 0.5 * 0.5 * 0.5, 1e-6);
}
