#include "replay/bike_replay.h"

#include <cstring>

#include "bike/bike.h"
#include "track/terrain.h"

RecordScale g_record_scale{2048.0, 0.0, 256.0};
const IntegrityValue* g_record_integrity = nullptr;

namespace {

// Soft follow: the gap to the record closes over this many ticks; past
// these distances the bike is placed outright (a seek, a respawn).
constexpr double FOLLOW_TICKS = 4.0;
constexpr double FOLLOW_SNAP_DISTANCE = 4.0;  // ft
constexpr double FOLLOW_SNAP_ANGLE = 1.0;     // rad

BikeJointValues joints_of(const BikeState& s) {
  return BikeJointValues{s.steering, s.fork, s.swingarm, s.front_spin, s.rear_spin};
}

BikePose pose_of(const Bike& b, const StateRecord& record, const RecordModel& model, const RecordScale& scale,
                 BikeState* state) {
  BikeState s = decode_state(record, model, scale);
  if (state) *state = s;
  return bike_pose_from_joints(b, s.position[STATE_FRAME], s.orientation[STATE_FRAME], joints_of(s),
                               s.position[STATE_RIDER] - s.position[STATE_FRAME], s.orientation[STATE_RIDER]);
}

double rotation_angle(DQuat a, DQuat b) {
  double d = std::fabs(a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z);
  if (d > 1) d = 1;
  return 2.0 * std::acos(d);
}

bool far_from(const Bike& b, const BikePose& pose) {
  for (int i = 0; i < BODY_COUNT; i++) {
    if (length(body_position(b, i) - pose.body[i].position) > FOLLOW_SNAP_DISTANCE) return true;
    if (rotation_angle(body_quaternion(b, i), pose.body[i].orientation) > FOLLOW_SNAP_ANGLE) return true;
  }
  return false;
}

void follow_softly(Bike* b, const BikePose& pose, const BikePose& earlier, const BikePose& later, double span) {
  const double blend = FOLLOW_TICKS * TICK_SECONDS;
  for (int i = 0; i < BODY_COUNT; i++) {
    DVec v = (later.body[i].position - earlier.body[i].position) * (1.0 / span);
    DVec w = quat_angular_velocity(earlier.body[i].orientation, later.body[i].orientation, span);
    v += (pose.body[i].position - body_position(*b, i)) * (1.0 / blend);
    w += quat_angular_velocity(body_quaternion(*b, i), pose.body[i].orientation, blend);
    dBodySetLinearVel(b->body[i], v.x, v.y, v.z);
    dBodySetAngularVel(b->body[i], w.x, w.y, w.z);
  }
}

struct SampleContext {
  Bike* const* bikes;
  const RecordScale* scale;
  const IntegrityValue* integrity;
};

bool encode_slot(void* context, int slot, StateRecord* record) {
  const SampleContext* c = static_cast<const SampleContext*>(context);
  const Bike* b = c->bikes[slot];
  if (!b) return false;
  *record = encode_bike(*b, *c->scale, c->integrity);
  return true;
}

}  // namespace

RecordScale record_scale_for_terrain(const Terrain& t) {
  const double ground = (double)t.high - (double)t.low;
  return RecordScale{t.width, t.low, (ground > 0 ? ground : 0) + RECORD_HEIGHT_HEADROOM};
}

RecordModel record_model_for(const BikeModel& m) {
  RecordModel r = default_record_model();
  r.fork_travel = m.fork_travel;
  r.swingarm_travel = m.swingarm_travel;
  for (int g = 0; g < STATE_GEARS && g < GEAR_COUNT; g++) r.gear_ratio[g] = m.gear_ratio[g];
  DVec seat = dvec(m.rider_position) - dvec(m.frame_position);
  r.rider_low = seat + DVec{0, m.reserved_73_74[0], 0};
  r.rider_high = seat + DVec{0, m.reserved_73_74[1], 0};
  return r;
}

BikeState read_bike_state(const Bike& b) {
  BikeState s{};
  for (int i = 0; i < STATE_BODIES; i++) {
    s.position[i] = body_position(b, i);
    s.orientation[i] = body_quaternion(b, i);
  }
  BikeJointValues j = read_joint_values(b);
  s.steering = j.steering;
  s.fork = j.fork;
  s.swingarm = j.swingarm;
  s.front_spin = j.front_spin;
  s.rear_spin = j.rear_spin;
  s.engine_speed = b.engine_speed;
  s.drivetrain_angle = b.drivetrain_angle;
  s.gear = b.gear;
  s.throttle = b.input.throttle;
  s.front_brake = b.input.front_brake;
  s.rear_brake = b.input.rear_brake;
  s.crash_timer = b.crash_timer;
  s.sampled = true;
  return s;
}

StateRecord encode_bike(const Bike& b, const RecordScale& scale, const IntegrityValue* integrity) {
  return encode_state(read_bike_state(b), record_model_for(b.model), scale, integrity);
}

void pose_bike_from_choice(Bike* b, const ReplayChoice& choice, const RecordScale& scale) {
  const RecordModel model = record_model_for(b->model);
  BikeState s;
  BikePose pose = pose_of(*b, choice.record, model, scale, &s);
  BikePose earlier = pose_of(*b, choice.before, model, scale, nullptr);
  BikePose later = pose_of(*b, choice.after, model, scale, nullptr);
  const double span = (choice.span > 0 ? choice.span : 1) * TICK_SECONDS;

  b->engine_speed = s.engine_speed;
  b->gear = s.gear;
  b->input.throttle = s.throttle;
  b->input.front_brake = s.front_brake;
  b->input.rear_brake = s.rear_brake;
  const bool crashed = s.crash_timer > 0;
  b->crash_timer = s.crash_timer;
  if (crashed && b->rider_attached) detach_rider(b);
  if (!crashed && !b->rider_attached) reattach_rider(b);

  if (crashed && !far_from(*b, pose)) {
    follow_softly(b, pose, earlier, later, span);
  } else {
    restore_bike_pose(b, pose, &earlier, &later, span);
  }
}

bool replay_bike(Bike* b, const StateHistory& h, int tick, int version, const RecordScale& scale) {
  ReplayChoice choice;
  if (!choose_replay_record(h, tick, version, &choice)) return false;
  pose_bike_from_choice(b, choice, scale);
  return true;
}

void replay_bikes(Bike* const bikes[MAX_BIKES], const int mode[MAX_BIKES], const StateHistory histories[MAX_BIKES],
                  int tick, int version, const RecordScale& scale) {
  for (int slot = 0; slot < MAX_BIKES; slot++) {
    if (bikes[slot] && mode[slot] == SLOT_MODE_HISTORY) replay_bike(bikes[slot], histories[slot], tick, version, scale);
  }
}

bool rider_visible(int mode, const StateHistory& h, int tick) {
  return mode != SLOT_MODE_HISTORY || history_visible(h, tick);
}

void sample_bikes(StateHistory histories[MAX_BIKES], Bike* const bikes[MAX_BIKES], const int mode[MAX_BIKES],
                  int tick, bool forced, const RecordScale& scale, const IntegrityValue* integrity) {
  SampleContext context{bikes, &scale, integrity};
  sample_states(histories, mode, tick, forced, encode_slot, &context);
}

void record_tick(DemoRecorder* recorder, StateHistory histories[MAX_BIKES], Bike* const bikes[MAX_BIKES],
                 const int mode[MAX_BIKES], int tick, bool forced, const RecordScale& scale,
                 const IntegrityValue* integrity) {
  sample_bikes(histories, bikes, mode, tick, forced, scale, integrity);
  write_demo_tick(recorder, histories, tick, forced);
}

void stop_recording_bikes(DemoRecorder* recorder, StateHistory histories[MAX_BIKES], Bike* const bikes[MAX_BIKES],
                          const int mode[MAX_BIKES], int tick, const RecordScale& scale,
                          const IntegrityValue* integrity) {
  if (!demo_recording(*recorder)) return;
  sample_bikes(histories, bikes, mode, tick, true, scale, integrity);
  stop_recording(recorder, histories, tick);
}

DemoRider demo_rider_for_bike(const Bike& b, const char* rider_name) {
  DemoRider d;
  d.model = b.model.name;
  d.rider_skin = b.rider_texture;
  d.bike_skin = b.bike_texture;
  d.wheel_skin = b.wheel_texture;
  d.helmet_skin = b.head_texture;
  d.number = b.number;
  d.name = rider_name ? rider_name : "";
  return d;
}
