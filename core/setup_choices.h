// Choice indices of the bike setup as the configuration file stores them, and
// the rider's control options, shared by the configuration and input side and
// the bike simulation that applies them.
#pragma once

constexpr int BRAKE_NORMAL = 0, BRAKE_ANTILOCK = 1;
constexpr int STOP_WHEELIES_NO = 0, STOP_WHEELIES_YES = 1, STOP_WHEELIES_FRONT_ONLY = 2;

// The rider's control options the bike's control step reads.
struct ControlOptions {
  bool reverse_steering;  // "Reversed Steering"
  bool sticky_dab;        // "Sticky Sit/Dab"
};
