// The world, and building, placing, enabling and reading a bike.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/bike_setup.h"
#include "bike/part_shapes.h"

BikeWorld g_bike_world = {nullptr, nullptr};

void create_bike_world() {
  static bool library_ready = false;
  if (!library_ready) {
    dInitODE2(0);
    dAllocateODEDataForThread(dAllocateMaskAll);
    library_ready = true;
  }
  if (g_bike_world.world) destroy_bike_world();
  g_bike_world.world = dWorldCreate();
  dWorldSetGravity(g_bike_world.world, 0, GRAVITY_Y, 0);
  dWorldSetERP(g_bike_world.world, 0.2);
  dWorldSetCFM(g_bike_world.world, 1e-10);
  g_bike_world.contacts = dJointGroupCreate(0);
  // The library's own generator must start alike in every run.
  dRandSetSeed(0);
}

void destroy_bike_world() {
  if (!g_bike_world.world) return;
  dJointGroupDestroy(g_bike_world.contacts);
  dWorldDestroy(g_bike_world.world);
  g_bike_world.world = nullptr;
  g_bike_world.contacts = nullptr;
}

void step_bike_world() {
  dWorldStep(g_bike_world.world, TICK_SECONDS);
  dJointGroupEmpty(g_bike_world.contacts);
}

namespace {

// Reference point of placement: the ground midway between the axles.
DVec placement_reference(const BikeModel& m) {
  return DVec{0, 0, 0.5 * ((double)m.front_axle.z + (double)m.rear_axle.z)};
}

void set_wheel_mass(dBodyID body, double hub_mass, double hub_radius, double ring_mass, double ring_radius,
                    double section_radius) {
  dMass total;
  dMassSetSphereTotal(&total, hub_mass, hub_radius);
  for (int k = 0; k < 16; k++) {
    double angle = k * (PI_D / 8);
    dMass element;
    dMassSetSphereTotal(&element, ring_mass / 16, section_radius);
    dMassTranslate(&element, 0, ring_radius * std::cos(angle), ring_radius * std::sin(angle));
    dMassAdd(&total, &element);
  }
  // The ring is symmetric about the axle; remove the rounding residue so the
  // centre of mass sits exactly on the body origin as the library requires.
  total.c[0] = total.c[1] = total.c[2] = 0;
  dBodySetMass(body, &total);
}

void set_fork_mass(dBodyID body, const BikeModel& m) {
  double spacing = m.fork_leg_spacing;
  dMass total;
  dMassSetZero(&total);
  for (int side = -1; side <= 1; side += 2) {
    dMass leg;
    dMassSetCylinderTotal(&leg, m.fork_mass / 2.0, 2, spacing / 8, 2.0 / 3.0 * m.fork_leg_length_factor);
    dMassTranslate(&leg, side * spacing / 2, 0, 0);
    dMassAdd(&total, &leg);
  }
  double dy = (double)m.fork_upper_position.y - m.fork_lower_position.y;
  double dz = (double)m.fork_upper_position.z - m.fork_lower_position.z;
  dMatrix3 R;
  dRFromAxisAndAngle(R, 1, 0, 0, std::atan(dz / dy));
  dMassRotate(&total, R);
  total.c[0] = total.c[1] = total.c[2] = 0;
  dBodySetMass(body, &total);
}

void set_swingarm_mass(dBodyID body, const BikeModel& m) {
  double bx = m.frame_box.x;
  DVec arm = dvec(m.rear_axle) - dvec(m.swingarm_pivot);
  double L = length(arm);
  dMass total;
  dMassSetZero(&total);
  for (int side = -1; side <= 1; side += 2) {
    dMass box;
    dMassSetBoxTotal(&box, m.swingarm_mass, bx / 4, bx / 4, L);
    dMassTranslate(&box, side * bx / 2, 0, 0);
    dMassAdd(&total, &box);
  }
  dMatrix3 R;
  dRFromAxisAndAngle(R, 1, 0, 0, -std::atan(arm.y / arm.z));
  dMassRotate(&total, R);
  total.c[0] = total.c[1] = total.c[2] = 0;
  dBodySetMass(body, &total);
}

void copy_name(char* out, size_t size, const char* text) { snprintf(out, size, "%s", text ? text : ""); }

// Attaches and anchors the rider mount for the current frame pose, with the
// rider at its build place relative to the frame.
void attach_rider_mount(Bike* b) {
  const double* R = body_rotation(*b, BODY_FRAME);
  DVec fp = body_position(*b, BODY_FRAME);
  DVec anchor = fp + mat_mul(R, b->rider_mount_anchor - b->build_position[BODY_FRAME]);
  DVec a1 = mat_mul(R, normalized(DVec{0, 1, 1}));
  DVec a2 = mat_mul(R, DVec{1, 0, 0});
  dJointID j = b->joint[JOINT_RIDER_MOUNT];
  dJointAttach(j, b->body[BODY_RIDER], b->body[BODY_FRAME]);
  dJointSetHinge2Anchor(j, anchor.x, anchor.y, anchor.z);
  double axis1[3] = {a1.x, a1.y, a1.z}, axis2[3] = {a2.x, a2.y, a2.z};
  dJointSetHinge2Axes(j, axis1, axis2);
  dJointSetHinge2Param(j, dParamLoStop, 0);
  dJointSetHinge2Param(j, dParamHiStop, 0);
  dJointSetHinge2Param(j, dParamSuspensionERP, 0);
  dJointSetHinge2Param(j, dParamSuspensionCFM, 0.01);
  b->rider_attached = true;
}

void clear_contact_records(Bike* b) {
  for (WheelShape& w : b->wheel) {
    w.depth = 0;
    w.tile = -1;
    w.contact_point = w.sliding_velocity = DVec{0, 0, 0};
    w.contact_normal = DVec{0, 1, 0};
    w.friction = 0;
    memset(&w.feedback, 0, sizeof w.feedback);
  }
  b->rider_note_count = b->part_note_count = b->bike_note_count = 0;
}

}  // namespace

void set_rider_mass_distribution(Bike* b, double d) {
  const BikeModel& m = b->model;
  b->tuning.mass_distribution = d;
  dMass mass;
  dMassSetBoxTotal(&mass, m.frame_mass + (1 - d) * m.rider_mass, m.frame_box.x, m.frame_box.y, m.frame_box.z);
  dBodySetMass(b->body[BODY_FRAME], &mass);
  dMassSetSphereTotal(&mass, d * m.rider_mass, 1.0);
  dBodySetMass(b->body[BODY_RIDER], &mass);
  double total = 0;
  for (int i = 0; i < BODY_COUNT; i++) {
    dBodyGetMass(b->body[i], &mass);
    total += mass.mass;
  }
  b->total_mass = total;
}

Bike* create_bike(const char* model_name, int slot, const char* bike_texture, const char* rider_texture,
                  const char* head_texture, const char* wheel_texture, const char* number) {
  Bike* b = new Bike();
  memset(b, 0, sizeof *b);
  b->model = bike_model_at(find_bike_model_or_fallback(model_name));
  const BikeModel& m = b->model;
  b->slot = slot;
  copy_name(b->bike_texture, sizeof b->bike_texture, bike_texture);
  copy_name(b->rider_texture, sizeof b->rider_texture, rider_texture);
  copy_name(b->head_texture, sizeof b->head_texture, head_texture);
  copy_name(b->wheel_texture, sizeof b->wheel_texture, wheel_texture);
  snprintf(b->number, sizeof b->number, "%.7s", number ? number : "");

  b->build_position[BODY_FRAME] = dvec(m.frame_position);
  b->build_position[BODY_FRONT_WHEEL] = dvec(m.front_axle);
  b->build_position[BODY_REAR_WHEEL] = dvec(m.rear_axle);
  b->build_position[BODY_FORK_UPPER] = dvec(m.fork_upper_position);
  b->build_position[BODY_FORK_LOWER] = dvec(m.fork_lower_position);
  b->build_position[BODY_SWINGARM] = dvec(m.swingarm_position);
  b->build_position[BODY_RIDER] = dvec(m.rider_position);
  b->steering_axis = normalized(dvec(m.fork_upper_position) - dvec(m.fork_lower_position));
  b->rider_mount_anchor = DVec{0, (double)m.rider_position.y, -50};

  dWorldID world = g_bike_world.world;
  for (int i = 0; i < BODY_COUNT; i++) {
    b->body[i] = dBodyCreate(world);
    DVec p = b->build_position[i];
    dBodySetPosition(b->body[i], p.x, p.y, p.z);
    dBodySetData(b->body[i], b);
  }
  set_wheel_mass(b->body[BODY_FRONT_WHEEL], m.front_hub_mass, m.front_hub_radius, m.front_ring_mass,
                 m.front_ring_radius, m.front_section_radius);
  set_wheel_mass(b->body[BODY_REAR_WHEEL], m.rear_hub_mass, m.rear_hub_radius, m.rear_ring_mass, m.rear_ring_radius,
                 m.rear_section_radius);
  dBodySetFiniteRotationMode(b->body[BODY_FRONT_WHEEL], 1);
  dBodySetFiniteRotationMode(b->body[BODY_REAR_WHEEL], 1);
  set_fork_mass(b->body[BODY_FORK_UPPER], m);
  set_fork_mass(b->body[BODY_FORK_LOWER], m);
  set_swingarm_mass(b->body[BODY_SWINGARM], m);
  set_rider_mass_distribution(b, 1.0 / 3.0);

  dJointID j;
  j = b->joint[JOINT_FRONT_AXLE] = dJointCreateHinge(world, 0);
  dJointAttach(j, b->body[BODY_FORK_LOWER], b->body[BODY_FRONT_WHEEL]);
  dJointSetHingeAnchor(j, m.front_axle.x, m.front_axle.y, m.front_axle.z);
  dJointSetHingeAxis(j, 1, 0, 0);

  j = b->joint[JOINT_REAR_AXLE] = dJointCreateHinge(world, 0);
  dJointAttach(j, b->body[BODY_SWINGARM], b->body[BODY_REAR_WHEEL]);
  dJointSetHingeAnchor(j, m.rear_axle.x, m.rear_axle.y, m.rear_axle.z);
  dJointSetHingeAxis(j, 1, 0, 0);

  DVec axis = b->steering_axis;
  j = b->joint[JOINT_STEERING] = dJointCreateHinge(world, 0);
  dJointAttach(j, b->body[BODY_FORK_UPPER], b->body[BODY_FRAME]);
  dJointSetHingeAnchor(j, m.fork_upper_position.x, m.fork_upper_position.y, m.fork_upper_position.z);
  dJointSetHingeAxis(j, axis.x, axis.y, axis.z);
  dJointSetHingeParam(j, dParamLoStop, -PI_D / 4);
  dJointSetHingeParam(j, dParamHiStop, PI_D / 4);

  j = b->joint[JOINT_FORK] = dJointCreateSlider(world, 0);
  dJointAttach(j, b->body[BODY_FORK_UPPER], b->body[BODY_FORK_LOWER]);
  dJointSetSliderAxis(j, axis.x, axis.y, axis.z);
  dJointSetSliderParam(j, dParamLoStop, -m.fork_travel);
  dJointSetSliderParam(j, dParamHiStop, 0);
  dJointSetSliderParam(j, dParamBounce, 0);

  j = b->joint[JOINT_SWINGARM] = dJointCreateHinge(world, 0);
  dJointAttach(j, b->body[BODY_SWINGARM], b->body[BODY_FRAME]);
  dJointSetHingeAnchor(j, m.swingarm_pivot.x, m.swingarm_pivot.y, m.swingarm_pivot.z);
  dJointSetHingeAxis(j, 1, 0, 0);
  dJointSetHingeParam(j, dParamLoStop, -m.swingarm_travel);
  dJointSetHingeParam(j, dParamHiStop, 0);
  dJointSetHingeParam(j, dParamBounce, 0);

  b->joint[JOINT_RIDER_MOUNT] = dJointCreateHinge2(world, 0);
  attach_rider_mount(b);

  for (int i = 0; i < JOINT_COUNT; i++) dJointSetFeedback(b->joint[i], &b->joint_feedback[i]);

  const int wheel_body[2] = {BODY_FRONT_WHEEL, BODY_REAR_WHEEL};
  const double major[2] = {m.front_ring_radius, m.rear_ring_radius};
  const double minor[2] = {m.front_section_radius, m.rear_section_radius};
  for (int w = 0; w < 2; w++) {
    b->wheel[w].body = b->body[wheel_body[w]];
    b->wheel[w].axle_axis = DVec{1, 0, 0};
    b->wheel[w].major_radius = major[w];
    b->wheel[w].minor_radius = minor[w];
  }
  b->shape[BODY_FRAME] = &g_part_shapes.frame;
  b->shape[BODY_FORK_UPPER] = &g_part_shapes.fork_upper;
  b->shape[BODY_FORK_LOWER] = &g_part_shapes.fork_lower;
  b->shape[BODY_SWINGARM] = &g_part_shapes.swingarm;
  b->shape[BODY_RIDER] = &g_part_shapes.rider;
  clear_contact_records(b);

  b->input.clutch = 1;
  b->roost_random = 0x9E3779B9u ^ (uint32_t)(slot * 2654435761u);
  b->enabled = true;
  set_default_tuning(b);
  return b;
}

void delete_bike(Bike* b) {
  if (!b) return;
  for (int i = 0; i < JOINT_COUNT; i++)
    if (b->joint[i]) dJointDestroy(b->joint[i]);
  for (int i = 0; i < BODY_COUNT; i++)
    if (b->body[i]) dBodyDestroy(b->body[i]);
  delete b;
}

void place_bike(Bike* b, Vec3 position, float heading) {
  // A bike standing exactly along a world axis has exact zeros all through
  // its constraint rows, and the step's pivoting solver stalls on them
  // ("LCP internal error") every tick. A billionth of a radian removes the
  // coincidence and nothing else.
  const double NUDGE = 9.313225746154785e-10;  // 2^-30 rad
  DQuat turn = quat_axis_angle(DVec{0, 1, 0}, (double)heading + NUDGE);
  DVec ref = placement_reference(b->model);
  DVec at = dvec(position);
  double q[4] = {turn.w, turn.x, turn.y, turn.z};
  for (int i = 0; i < BODY_COUNT; i++) {
    DVec p = at + quat_rotate(turn, b->build_position[i] - ref);
    dBodySetPosition(b->body[i], p.x, p.y, p.z);
    dBodySetQuaternion(b->body[i], q);
    dBodySetLinearVel(b->body[i], 0, 0, 0);
    dBodySetAngularVel(b->body[i], 0, 0, 0);
    dBodySetForce(b->body[i], 0, 0, 0);
    dBodySetTorque(b->body[i], 0, 0, 0);
  }
  // A placed bike rides again: any crash in progress ends here.
  if (!b->rider_attached) attach_rider_mount(b);
  b->crash_timer = 0;
  b->crash_held = 0;
  b->crash_guard = -64;  // half a second to settle before the crash tests run
  b->drivetrain_angle = wheel_spin_angle(*b, WHEEL_REAR);
  for (DVec& v : b->rider_velocity_ring) v = DVec{0, 0, 0};
  b->airborne_falling = false;
  b->takeoff_tick = b->landing_tick = 0;
  memset(b->joint_feedback, 0, sizeof b->joint_feedback);
  clear_contact_records(b);
}

void reattach_rider(Bike* b) {
  // Put the rider at its build place on the frame, moving with the frame.
  const double* R = body_rotation(*b, BODY_FRAME);
  DVec fp = body_position(*b, BODY_FRAME);
  DVec p = fp + mat_mul(R, b->build_position[BODY_RIDER] - b->build_position[BODY_FRAME]);
  dBodySetPosition(b->body[BODY_RIDER], p.x, p.y, p.z);
  dBodySetQuaternion(b->body[BODY_RIDER], dBodyGetQuaternion(b->body[BODY_FRAME]));
  DVec v = body_point_velocity(*b, BODY_FRAME, p);
  DVec w = body_angular_velocity(*b, BODY_FRAME);
  dBodySetLinearVel(b->body[BODY_RIDER], v.x, v.y, v.z);
  dBodySetAngularVel(b->body[BODY_RIDER], w.x, w.y, w.z);
  attach_rider_mount(b);
  for (DVec& r : b->rider_velocity_ring) r = v;
}

void detach_rider(Bike* b) {
  dJointAttach(b->joint[JOINT_RIDER_MOUNT], nullptr, nullptr);
  b->rider_attached = false;
}

void enable_bike(Bike* b) {
  for (int i = 0; i < BODY_COUNT; i++) {
    dBodySetForce(b->body[i], 0, 0, 0);
    dBodySetTorque(b->body[i], 0, 0, 0);
    dBodyEnable(b->body[i]);
  }
  b->enabled = true;
}

void disable_bike(Bike* b) {
  for (int i = 0; i < BODY_COUNT; i++) {
    dBodySetForce(b->body[i], 0, 0, 0);
    dBodySetTorque(b->body[i], 0, 0, 0);
    dBodyDisable(b->body[i]);
  }
  b->enabled = false;
  clear_contact_records(b);
}

// --- read-outs -------------------------------------------------------------------------

DVec body_point_velocity(const Bike& b, int i, DVec p) {
  dVector3 v;
  dBodyGetPointVel(b.body[i], p.x, p.y, p.z, v);
  return dvec(v);
}

double steering_angle(const Bike& b) { return dJointGetHingeAngle(b.joint[JOINT_STEERING]); }
double fork_position(const Bike& b) { return dJointGetSliderPosition(b.joint[JOINT_FORK]); }
double fork_rate(const Bike& b) { return dJointGetSliderPositionRate(b.joint[JOINT_FORK]); }
double swingarm_angle(const Bike& b) { return dJointGetHingeAngle(b.joint[JOINT_SWINGARM]); }
double swingarm_rate(const Bike& b) { return dJointGetHingeAngleRate(b.joint[JOINT_SWINGARM]); }
double wheel_spin_angle(const Bike& b, int w) {
  return dJointGetHingeAngle(b.joint[w == WHEEL_FRONT ? JOINT_FRONT_AXLE : JOINT_REAR_AXLE]);
}
double wheel_spin_rate(const Bike& b, int w) {
  return dJointGetHingeAngleRate(b.joint[w == WHEEL_FRONT ? JOINT_FRONT_AXLE : JOINT_REAR_AXLE]);
}

DVec bike_forward(const Bike& b) { return -mat_column(body_rotation(b, BODY_FRAME), 2); }
DVec bike_up(const Bike& b) { return mat_column(body_rotation(b, BODY_FRAME), 1); }

double bike_lean_angle(const Bike& b) {
  DVec forward = bike_forward(b);
  DVec up = bike_up(b);
  DVec heading{forward.x, 0, forward.z};
  if (length_squared(heading) < 1e-12) heading = DVec{-up.x, 0, -up.z};  // nose straight up or down
  heading = normalized(heading, DVec{0, 0, -1});
  DVec right = cross(heading, DVec{0, 1, 0});
  return std::atan2(dot(up, right), up.y);
}

double bike_speed(const Bike& b) { return length(body_velocity(b, BODY_FRAME)); }
double engine_rpm(const Bike& b) { return b.engine_speed * RPM_PER_RAD_PER_SECOND; }

// --- poses -------------------------------------------------------------------------------

BikePose read_bike_pose(const Bike& b) {
  BikePose pose;
  for (int i = 0; i < BODY_COUNT; i++) {
    pose.body[i].position = body_position(b, i);
    pose.body[i].orientation = body_quaternion(b, i);
  }
  return pose;
}

BikeJointValues read_joint_values(const Bike& b) {
  return BikeJointValues{steering_angle(b), fork_position(b), swingarm_angle(b), wheel_spin_angle(b, WHEEL_FRONT),
                         wheel_spin_angle(b, WHEEL_REAR)};
}

BikePose bike_pose_from_joints(const Bike& b, DVec frame_position, DQuat frame_orientation,
                               const BikeJointValues& j, DVec rider_offset, DQuat rider_orientation) {
  const DVec* build = b.build_position;
  const BikeModel& m = b.model;
  BikePose pose;
  DQuat qf = quat_normalized(frame_orientation);
  auto place = [&](DQuat parent, DVec parent_position, DVec parent_build, DVec child_build) {
    return parent_position + quat_rotate(parent, child_build - parent_build);
  };
  pose.body[BODY_FRAME] = {frame_position, qf};

  // Fork upper turns about the steering axis through its own origin.
  DQuat qfu = quat_mul(qf, quat_axis_angle(b.steering_axis, j.steering));
  DVec pfu = place(qf, frame_position, build[BODY_FRAME], build[BODY_FORK_UPPER]);
  pose.body[BODY_FORK_UPPER] = {pfu, qfu};

  // Fork lower slides along the axis: the slider position is how far the
  // upper body stands out along it beyond the build distance.
  DVec pfl = pfu - quat_rotate(qfu, (build[BODY_FORK_UPPER] - build[BODY_FORK_LOWER]) + b.steering_axis * j.fork);
  pose.body[BODY_FORK_LOWER] = {pfl, qfu};

  // Hinge angles measure the first body against the second, so the wheel
  // turns by minus the axle angle relative to its carrier.
  DQuat qfw = quat_mul(qfu, quat_axis_angle(DVec{1, 0, 0}, -j.front_spin));
  pose.body[BODY_FRONT_WHEEL] = {place(qfu, pfl, build[BODY_FORK_LOWER], build[BODY_FRONT_WHEEL]), qfw};

  DQuat swing = quat_axis_angle(DVec{1, 0, 0}, j.swingarm);
  DQuat qsa = quat_mul(qf, swing);
  DVec pivot = dvec(m.swingarm_pivot);
  DVec psa = frame_position + quat_rotate(qf, (pivot - build[BODY_FRAME]) + quat_rotate(swing, build[BODY_SWINGARM] - pivot));
  pose.body[BODY_SWINGARM] = {psa, qsa};

  DQuat qrw = quat_mul(qsa, quat_axis_angle(DVec{1, 0, 0}, -j.rear_spin));
  pose.body[BODY_REAR_WHEEL] = {place(qsa, psa, build[BODY_SWINGARM], build[BODY_REAR_WHEEL]), qrw};

  pose.body[BODY_RIDER] = {frame_position + rider_offset, quat_normalized(rider_orientation)};
  return pose;
}

void restore_bike_pose(Bike* b, const BikePose& pose, const BikePose* earlier, const BikePose* later,
                       double span) {
  bool derive = earlier && later && span > 0;
  for (int i = 0; i < BODY_COUNT; i++) {
    const BodyPose& p = pose.body[i];
    dBodySetPosition(b->body[i], p.position.x, p.position.y, p.position.z);
    double q[4] = {p.orientation.w, p.orientation.x, p.orientation.y, p.orientation.z};
    dBodySetQuaternion(b->body[i], q);
    DVec v{0, 0, 0}, w{0, 0, 0};
    if (derive) {
      v = (later->body[i].position - earlier->body[i].position) * (1.0 / span);
      w = quat_angular_velocity(earlier->body[i].orientation, later->body[i].orientation, span);
    }
    dBodySetLinearVel(b->body[i], v.x, v.y, v.z);
    dBodySetAngularVel(b->body[i], w.x, w.y, w.z);
  }
}
