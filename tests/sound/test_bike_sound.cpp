#include <gtest/gtest.h>

#include <memory>

#include "bike/bike.h"
#include "bike/bike_model.h"
#include "bike/drivetrain.h"
#include "sound/bike_sound.h"
#include "sound/sound.h"

namespace {

constexpr double RPM_TO_RAD_PER_SEC = 2.0 * 3.14159265358979323846 / 60.0;

std::unique_ptr<Bike> bike_of(const char* model) {
  auto bike = std::make_unique<Bike>();
  int index = find_bike_model(model);
  EXPECT_GE(index, 0) << model;
  bike->model = bike_model_at(index < 0 ? 0 : index);
  return bike;
}

// The highest rpm of the table where the engine still pulls at full throttle.
double last_pulling_rpm(const BikeModel& model) {
  double last = 0;
  for (double rpm = 0; rpm < 24500; rpm += 50)
    if (engine_torque(model, rpm, 1.0) > 1e-9) last = rpm;
  return last;
}

}  // namespace

TEST(BikeSoundInput, FollowsTheDrivetrain) {
  auto bike = bike_of(bike_model_at(0).name);
  bike->engine_speed = 6000 * RPM_TO_RAD_PER_SEC;
  bike->input.throttle = 1.0f;
  bike->engine_torque = engine_torque(bike->model, 6000, 1.0);
  EngineSoundInput in = engine_sound_input(*bike);
  EXPECT_NEAR(in.rpm, 6000, 1e-6);
  EXPECT_FLOAT_EQ(in.throttle, 1.0);
  EXPECT_NEAR(in.load, 1.0, 1e-9);
  EXPECT_FALSE(in.on_limiter);

  // Half throttle gives less than full load; a coasting engine none.
  bike->input.throttle = 0.5f;
  bike->engine_torque = engine_torque(bike->model, 6000, 0.5);
  in = engine_sound_input(*bike);
  EXPECT_GT(in.load, 0.0);
  EXPECT_LT(in.load, 1.0);
  bike->input.throttle = 0.0f;
  bike->engine_torque = engine_torque(bike->model, 6000, 0.0);
  EXPECT_EQ(engine_sound_input(*bike).load, 0.0);

  // A crank turning backwards after a crash is a stopped engine, not negative rpm.
  bike->engine_speed = -50;
  EXPECT_EQ(engine_sound_input(*bike).rpm, 0.0);
}

TEST(BikeSoundInput, LimiterPastTheEndOfTheTorqueCurve) {
  auto bike = bike_of(bike_model_at(0).name);
  double end = last_pulling_rpm(bike->model);
  ASSERT_GT(end, 1000);
  ASSERT_LT(end, 24000) << "the curve never runs out";
  bike->input.throttle = 1.0f;
  bike->engine_speed = (end + 400) * RPM_TO_RAD_PER_SEC;
  EXPECT_TRUE(engine_sound_input(*bike).on_limiter);
  bike->engine_speed = (end - 1000) * RPM_TO_RAD_PER_SEC;
  EXPECT_FALSE(engine_sound_input(*bike).on_limiter);
  // Closed throttle up there is an engine being over-revved downhill, not the limiter.
  bike->input.throttle = 0.0f;
  bike->engine_speed = (end + 400) * RPM_TO_RAD_PER_SEC;
  EXPECT_FALSE(engine_sound_input(*bike).on_limiter);
}
