#include "sound/bike_sound.h"

#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "bike/bike_math.h"
#include "bike/drivetrain.h"
#include "core/main_loop.h"
#include "platform/log.h"
#include "sound/engine_synth.h"
#include "sound/sound.h"

namespace {

BikeInSlotFn g_bike_in_slot = nullptr;
long g_logged_step = -1000000;

// Every quarter second of race steps at "--super-debug": what the viewed
// engine is doing, against the step count that also counts a recording's
// blocks, so that a recording can be laid beside it.
constexpr long ENGINE_LOG_STEPS = 32;

constexpr double FEET_PER_SECOND_PER_MPH = 1.4666666666666666;
constexpr double RAD_PER_SEC_TO_RPM = 60.0 / (2.0 * 3.14159265358979323846);

void produce(int slot, float loudness) {
  const Bike* bike = g_bike_in_slot ? g_bike_in_slot(slot) : nullptr;
  if (!bike) return;
  if (!bike_has_sound(slot) && !create_bike_sound(slot, bike->bike_texture, bike->model.engine_class)) return;
  bool viewed = slot == g_main_loop.viewed_slot;
  if (viewed || slot == 0) {
    // The listener rides with the camera of the last view drawn, or with the
    // viewed bike itself in the first-person view.
    SoundListener listener = {};
    if (g_main_loop.have_last_pose && g_main_loop.mode != VIEW_FIRST_PERSON) {
      listener.position = g_main_loop.last_pose.eye;
      Vec3 f = {g_main_loop.last_pose.target.x - listener.position.x, 0.0f,
                g_main_loop.last_pose.target.z - listener.position.z};
      float len = std::sqrt(f.x * f.x + f.z * f.z);
      listener.right = len > 1e-6f ? Vec3{-f.z / len, 0.0f, f.x / len} : Vec3{1.0f, 0.0f, 0.0f};
    } else if (viewed) {
      const dReal* p = dBodyGetPosition(bike->body[BODY_FRAME]);
      const dReal* v = dBodyGetLinearVel(bike->body[BODY_FRAME]);
      const dReal* r = dBodyGetRotation(bike->body[BODY_FRAME]);
      listener.position = {(float)p[0], (float)p[1], (float)p[2]};
      listener.velocity = {(float)v[0], (float)v[1], (float)v[2]};
      listener.right = {(float)r[0], (float)r[4], (float)r[8]};
    }
    if (viewed) set_sound_listener(listener);
  }
  EngineSoundInput input = engine_sound_input(*bike);
  produce_bike_sound(slot, input, loudness, viewed);
  long step = g_main_loop.race_steps;
  if (viewed && g_run_options.debug_level >= 2 && (step >= g_logged_step + ENGINE_LOG_STEPS || step < g_logged_step)) {
    g_logged_step = step;
    const dReal* v = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    double mph = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) / FEET_PER_SECOND_PER_MPH;
    const WheelShape& rear = bike->wheel[WHEEL_REAR];
    const EngineSynth* synth = bike_sound_synth(slot);
    double slip = rear.depth > 0 ? length(rear.sliding_velocity) / FEET_PER_SECOND_PER_MPH : 0.0;
    log_printf(
        "Engine sound: step %ld slot %d rpm %.0f gear %d throttle %.2f load %.2f speed %.1f mph rear slip %.1f mph "
        "loudness %.2f firings %.2f\n",
        step, slot, input.rpm, bike->gear + 1, input.throttle, input.load, mph, slip, loudness,
        synth ? synth->definition.firings_per_rev : 0.0);
  }
}

void free_sounds() { delete_all_bike_sounds(); }

}  // namespace

EngineSoundInput engine_sound_input(const Bike& bike) {
  EngineSoundInput in = {};
  double rpm = std::max(0.0, bike.engine_speed * RAD_PER_SEC_TO_RPM);
  double throttle = std::clamp((double)bike.input.throttle, 0.0, 1.0);
  double full = engine_torque(bike.model, rpm, 1.0);
  in.rpm = rpm;
  in.throttle = throttle;
  in.load = full > 1e-9 ? std::clamp(bike.engine_torque / full, 0.0, 1.0) : 0.0;
  in.on_limiter = throttle > 0.5 && full <= 1e-9 && rpm > 1000.0;
  return in;
}

void install_sound_hooks(GameHooks* hooks, BikeInSlotFn bike_in_slot) {
  g_bike_in_slot = bike_in_slot;
  hooks->sound.produce = produce;
  hooks->sound.free = free_sounds;
}
