// The bike: its seven rigid bodies and six joints in the shared rigid-body
// world, its simulated state, and the operations that create, place,
// enable, pose and read it. The force laws that drive it live in the
// suspension, tyre, drivetrain, rider and aid modules; the per-tick order in
// which the race calls them is written down in bike/bike_sim.h.
#pragma once

#include <ode/ode.h>

#include <cstdint>

#include "bike/bike_math.h"
#include "bike/bike_model.h"
#include "core/setup_choices.h"
#include "track/deform.h"

struct CollisionShape;

enum BikeBody {
  BODY_FRAME,
  BODY_FRONT_WHEEL,
  BODY_REAR_WHEEL,
  BODY_FORK_UPPER,
  BODY_FORK_LOWER,
  BODY_SWINGARM,
  BODY_RIDER,
  BODY_COUNT
};

enum BikeJoint {
  JOINT_FRONT_AXLE,
  JOINT_REAR_AXLE,
  JOINT_STEERING,
  JOINT_FORK,
  JOINT_SWINGARM,
  JOINT_RIDER_MOUNT,
  JOINT_COUNT
};

enum WheelIndex { WHEEL_FRONT, WHEEL_REAR };


// The world every bike lives in: one for the whole program.
struct BikeWorld {
  dWorldID world;
  dJointGroupID contacts;  // emptied after every step
};
extern BikeWorld g_bike_world;

// Creates the world (gravity, error reduction and mixing at the library's
// defaults). Safe to call again after destroy_bike_world.
void create_bike_world();
void destroy_bike_world();
// One world step of 1/128 s for all bikes, then the contact group is emptied.
void step_bike_world();

// A wheel: a torus about the axle, and what the last contact search found.
struct WheelShape {
  dBodyID body;
  DVec axle_axis;       // in body coordinates: (1, 0, 0)
  double major_radius;  // ring radius
  double minor_radius;  // tyre section radius
  DVec contact_point;
  DVec sliding_velocity;  // wheel material point velocity at the contact
  DVec contact_normal;
  double depth;  // 0 in the air
  int tile;      // tile under the contact, -1 in the air
  double friction;
  // Contact joint feedback of the last step; zeroed while the wheel is in
  // the air, so a landing never reads the push of an old contact.
  dJointFeedback feedback;
};

// Values derived from the rider's setup (see bike/bike_setup.h), in the order
// the setup is applied.
struct BikeTuning {
  double leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  double steering_damping, steering_strength, max_steering_force;
  int arcade, front_brake_mode, rear_brake_mode, stop_wheelies, auto_shift, auto_dab, auto_align;
  double direct_steering, slow_damping_speed, slow_damping_factor;
  double land_damping_falloff, land_damping_factor;
  double full_lock_speed, restricted_lock_speed, restricted_lock;
  double auto_clutch_rpms, brake_torque, rear_brake_torque, max_dab_speed;  // max dab speed in ft/s
  double final_drive;
  // Fork: compression and rebound damping (lbf per ft/s), slow forces (lbf),
  // spring rate (lbf/ft), preload and air length (ft).
  double fork_compression, fork_slow_compression, fork_rebound, fork_slow_rebound;
  double fork_spring, fork_preload, fork_air_length;
  double shock_compression, shock_slow_compression, shock_rebound, shock_slow_rebound;
  double shock_spring, shock_preload;
  double rider_yspring, rider_zspring, rider_ydamping, rider_zdamping;  // 0..1
  double mass_distribution;  // share of the rider mass in the rider body
};

// The rider's current controls, as the bike holds them.
struct BikeInputs {
  float steer;        // -1..1, +1 turns right (after the reversal setting)
  float throttle;     // 0..1
  float front_brake;  // 0..1
  float rear_brake;   // 0..1
  float clutch;       // engagement 0..1 (1 = engaged)
  float sit;          // 0 standing .. 1 seated
  float back_up;      // 0..1
  float lean;         // fore-aft lean, -1 forward .. +1 back
  int shift;          // -1, 0, +1 this tick
};

struct Foot {
  DVec position;
  DVec velocity;
};

// Part contact bookkeeping: one note per contact made this tick.
struct ContactNote {
  int16_t body;   // BikeBody of this bike
  int16_t other;  // other bike's slot, or -1 for the terrain
  float depth;
  float speed;    // body speed when the contact was made
  float unused;
};

constexpr int RIDER_CONTACT_NOTES = 4;
constexpr int PART_CONTACT_NOTES = 20;

struct Bike {
  BikeModel model;  // private copy of the table record
  int slot;
  char bike_texture[64], rider_texture[64], head_texture[64], wheel_texture[64];
  char number[8];

  dBodyID body[BODY_COUNT];
  dJointID joint[JOINT_COUNT];
  dJointFeedback joint_feedback[JOINT_COUNT];
  WheelShape wheel[2];
  const CollisionShape* shape[BODY_COUNT];  // part shapes, null for the wheels
  DVec build_position[BODY_COUNT];  // build frame positions of the bodies
  DVec steering_axis;               // build frame, unit, fork lower to fork upper
  DVec rider_mount_anchor;          // build frame
  double total_mass;
  bool enabled;

  BikeTuning tuning;
  BikeInputs input;

  // Engine and drivetrain.
  double engine_speed;      // rad/s at the crank
  double drivetrain_angle;  // q, in [-pi, pi]
  int gear;                 // 0 = first
  bool neutral;
  double engine_torque;     // last Te (lbf ft at the crank)
  double drive_torque;      // last Tw (lbf ft at the wheel)
  double clutch_engagement; // last c
  int previous_shift;

  // Rider and crashes.
  int crash_timer;      // ticks, 0 while riding
  int crash_held;       // ticks the crash timer has been held for a moving rider
  int crash_count;
  int crash_guard;      // signed countdown c0
  int extra_crash_delay[16];
  int64_t takeoff_tick, landing_tick;
  bool airborne_falling;  // take-off already noted for this flight
  DVec rider_velocity_ring[4];
  Foot feet[2];
  bool rider_attached;
  bool rider_shape_touching;  // rider shape touched the ground this tick
  bool upside_down_crash;     // set by the contact step for the next crash test
  double crash_heading;       // heading when the crash began

  // Aids.
  bool dabbing;
  bool announce_messages;  // the local player's bike shows "Dabbing!" etc.
  const char* status_text; // "Dabbing!" while a foot is down, else nullptr
  bool sticky_dab_latched;
  float previous_dab_input;

  bool has_touched_ground;
  int64_t ticks_simulated;  // force updates run so far

  // Roost emission state.
  double roost_accumulator[2];
  uint32_t roost_random;

  // Wheel contacts waiting to dig their ruts (bike/ruts.h).
  ErosionQueue erosion;

  // Part contacts made this tick.
  ContactNote rider_notes[RIDER_CONTACT_NOTES];
  ContactNote part_notes[PART_CONTACT_NOTES];
  ContactNote bike_notes[PART_CONTACT_NOTES];
  int rider_note_count, part_note_count, bike_note_count;
  dJointFeedback part_feedback[PART_CONTACT_NOTES];
};

// --- life cycle ---------------------------------------------------------------

// Copies the model (with the name fallback), builds the bodies at their build
// positions with identity orientation, attaches the joints and applies the
// default setup. Texture names may be null. The bike stands at the build
// position until place_bike moves it.
Bike* create_bike(const char* model_name, int slot, const char* bike_texture, const char* rider_texture,
                  const char* head_texture, const char* wheel_texture, const char* number);
void delete_bike(Bike* bike);

// Moves every body rigidly so the bike stands at the position (ground point
// midway between the axles) facing the heading: the bike faces
// (-sin h, 0, -cos h). Velocities, forces and torques become zero.
void place_bike(Bike* bike, Vec3 position, float heading);

void enable_bike(Bike* bike);
void disable_bike(Bike* bike);

// The rider mount: detached at a crash; reattach_rider puts the rider back
// at its build place on the frame, moving with it, and attaches it again.
void detach_rider(Bike* bike);
void reattach_rider(Bike* bike);

// Rebuilds the frame and rider masses from the rider mass distribution.
void set_rider_mass_distribution(Bike* bike, double distribution);

// --- read-outs ---------------------------------------------------------------------

inline DVec body_position(const Bike& b, int i) { return dvec(dBodyGetPosition(b.body[i])); }
inline DQuat body_quaternion(const Bike& b, int i) {
  const double* q = dBodyGetQuaternion(b.body[i]);
  return DQuat{q[0], q[1], q[2], q[3]};
}
inline const double* body_rotation(const Bike& b, int i) { return dBodyGetRotation(b.body[i]); }
inline DVec body_velocity(const Bike& b, int i) { return dvec(dBodyGetLinearVel(b.body[i])); }
inline DVec body_angular_velocity(const Bike& b, int i) { return dvec(dBodyGetAngularVel(b.body[i])); }
DVec body_point_velocity(const Bike& b, int i, DVec world_point);

double steering_angle(const Bike& b);   // joint 2, positive = bars turned left
double fork_position(const Bike& b);    // joint 3, 0 extended, negative compressed
double fork_rate(const Bike& b);
double swingarm_angle(const Bike& b);   // joint 4, 0 extended, negative compressed
double swingarm_rate(const Bike& b);
double wheel_spin_angle(const Bike& b, int wheel);  // joints 0 and 1
double wheel_spin_rate(const Bike& b, int wheel);

// Frame directions in the world: forward (-Z), up (+Y), right (+X).
DVec bike_forward(const Bike& b);
DVec bike_up(const Bike& b);
// Signed roll of the frame about its heading, positive leaning right.
double bike_lean_angle(const Bike& b);
double bike_speed(const Bike& b);  // frame speed, ft/s
double engine_rpm(const Bike& b);

// --- poses (replay) --------------------------------------------------------------------

struct BodyPose {
  DVec position;
  DQuat orientation;
};
struct BikePose {
  BodyPose body[BODY_COUNT];
};

// The joint values a state record carries beside the two free poses.
struct BikeJointValues {
  double steering, fork, swingarm, front_spin, rear_spin;
};

BikePose read_bike_pose(const Bike& b);
BikeJointValues read_joint_values(const Bike& b);
// Poses all seven bodies from the frame pose, the joint values and the
// rider's pose (rider offset = rider position minus frame position).
BikePose bike_pose_from_joints(const Bike& b, DVec frame_position, DQuat frame_orientation,
                               const BikeJointValues& joints, DVec rider_offset, DQuat rider_orientation);
// Sets every body from the pose. With an earlier and a later pose the
// velocities are derived over the span between them (seconds); without,
// they become zero.
void restore_bike_pose(Bike* b, const BikePose& pose, const BikePose* earlier, const BikePose* later,
                       double span_seconds);
