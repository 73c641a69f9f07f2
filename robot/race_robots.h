// The robot riders of a race: the line store of the loaded track, one robot
// and one line recorder per slot, and the race's robot seam that drives them
// ("Remembering lines", "Analyzing lines", a robot per robot bike, its
// controls every tick, and the recording of learning riders' passages).
#pragma once

#include <cstdint>

#include "core/types.h"
#include "robot/line_store.h"
#include "robot/robot.h"

struct Race;

struct RaceRobots {
  const Race* race;  // the race the seam is installed in
  LineStore store;
  Robot robots[MAX_BIKES];
  LineRecorder recorders[MAX_BIKES];
  unsigned resets;   // seeds each race's robots differently
  // Training: the owner fills the store, resets neither save nor read it,
  // and recorded lines go to record_store when it is set.
  bool owner_fills_store;
  LineStore* record_store;
};

// Points the race's robot seam at the robots. Both must live as long as the
// race uses them.
void install_race_robots(Race* race, RaceRobots* robots);

// The seam's entries, for tests.
void remember_race_lines(void* robots, const char* track);
void analyze_race_lines(void* robots, const char* track, int skill);
void race_robot_created(void* robots, int slot, int personality, int skill);
void race_robot_controls(void* robots, const Race& race, int slot, float control[ROBOT_CONTROLS]);
void record_race_line(void* robots, const Race& race, int slot, int gate);
