// The bike model table: one fixed BikeModel record per rideable bike, compiled
// into the program, and the lookup of a model by its menu name with the
// fallback used when a name is unknown.
#pragma once

#include "core/types.h"

constexpr int BIKE_MODEL_COUNT = 55;
constexpr int TORQUE_TABLE_ENTRIES = 50;  // 0, 500, ... 24500 rpm
constexpr int GEAR_COUNT = 6;
constexpr int MODEL_FILE_COUNT = 23;
constexpr int RIDER_FIGURE_POINTS = 10;
constexpr int MODEL_NAME_CHARS = 32;
constexpr int MODEL_FILE_CHARS = 48;

// Indices into BikeModel::files, in record order.
enum ModelFile {
  FILE_FRAME_MODEL,
  FILE_FRAME_SHAPE,
  FILE_BIKE_TEXTURE,
  FILE_FORK_UPPER_MODEL,
  FILE_FORK_UPPER_SHAPE,
  FILE_FORK_LOWER_MODEL,
  FILE_FORK_LOWER_SHAPE,
  FILE_SWINGARM_MODEL,
  FILE_SWINGARM_SHAPE,
  FILE_FRONT_WHEEL_MODEL,
  FILE_FRONT_WHEEL_SHAPE,
  FILE_REAR_WHEEL_MODEL,
  FILE_REAR_WHEEL_SHAPE,
  FILE_WHEEL_TEXTURE,
  FILE_RIDER_HEAD_MODEL,
  FILE_RIDER_HEAD_TEXTURE,
  FILE_RIDER_BODY_MODEL,
  FILE_RIDER_BODY_FP_MODEL,
  FILE_RIDER_SHAPE,
  FILE_RIDER_BODY_TEXTURE,
  FILE_SIDE_PLATES_MODEL,
  FILE_FRONT_PLATE_MODEL,
  FILE_RIDER_PLATE_MODEL,
};

// Indices into BikeModel::rider_figure: right and left of each point.
enum RiderFigurePoint {
  FIGURE_RIGHT_HAND,
  FIGURE_LEFT_HAND,
  FIGURE_RIGHT_ELBOW,
  FIGURE_LEFT_ELBOW,
  FIGURE_RIGHT_FOOT,
  FIGURE_LEFT_FOOT,
  FIGURE_RIGHT_KNEE,
  FIGURE_LEFT_KNEE,
  FIGURE_RIGHT_HIP,
  FIGURE_LEFT_HIP,
};

// Units: feet, slugs, pounds-force, seconds, radians. Positions are in the
// build frame: +Y up, the bike faces -Z, axles along X, ground at y = 0.
struct BikeModel {
  char name[MODEL_NAME_CHARS];
  char engine_class[8];  // "450f", "250f", "250", "125" or "50"
  Vec3 front_axle;
  float front_ring_radius;
  float front_section_radius;
  float front_ring_mass;
  float front_hub_radius;
  float front_hub_mass;
  Vec3 rear_axle;
  float rear_ring_radius;
  float rear_section_radius;
  float rear_ring_mass;
  float rear_hub_radius;
  float rear_hub_mass;
  Vec3 frame_position;
  float frame_mass;
  Vec3 frame_box;
  Vec3 fork_upper_position;
  Vec3 swingarm_position;
  Vec3 swingarm_pivot;
  Vec3 fork_lower_position;
  float fork_leg_spacing;
  float fork_leg_length_factor;
  float fork_mass;
  float fork_spring_rate[2];  // softest, stiffest (lbf/ft, both legs)
  float fork_preload[2];      // least, most (ft)
  float fork_air_length[2];   // at the lowest and at the highest oil level (ft)
  float fork_compression_damping;
  float fork_slow_compression;
  float fork_rebound_damping;
  float fork_slow_rebound;
  float fork_travel;
  float swingarm_mass;
  float shock_spring_rate[2];
  float shock_preload[2];
  float shock_compression_damping;
  float shock_slow_compression;
  float shock_rebound_damping;
  float shock_slow_rebound;
  float linkage_end[2];
  float swingarm_travel;
  float linkage_knee;
  float linkage_slope[3];
  float primary_reduction;
  float countershaft_sprocket;
  float rear_sprocket;
  float gear_ratio[GEAR_COUNT];  // -1: the gear does not exist
  float engine_inertia;
  float drivetrain_stiffness;  // reserved field pair: drivetrain spring and
  float drivetrain_damping;    // damper of the clutch/gearbox/chain
  float closed_torque[TORQUE_TABLE_ENTRIES];
  float full_torque[TORQUE_TABLE_ENTRIES];
  float engine_speed_marks[3];  // low, middle, high (rpm)
  float reserved_69_71[3];
  Vec3 rider_position;
  float reserved_73_74[2];
  float rider_mass;
  char files[MODEL_FILE_COUNT][MODEL_FILE_CHARS];
  float zero_entry;
  Vec3 rider_figure[RIDER_FIGURE_POINTS];
};

// The table in its fixed order (the bike list and the fallback search order).
const BikeModel* bike_model_table();
inline const BikeModel& bike_model_at(int index) { return bike_model_table()[index]; }

// Exact, case-sensitive match in table order; -1 when no record matches.
int find_bike_model(const char* name);

// find_bike_model with the fallback: a name containing "125" gets the first
// record whose name contains "125", any other unknown name the first holding
// "250f"; the substitution is reported once on the message lines.
int find_bike_model_or_fallback(const char* name);

// Number of existing gears (the gearbox ends at the last positive ratio).
int bike_gear_count(const BikeModel& model);
