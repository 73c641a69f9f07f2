// The robot riders' personalities: who each robot is (name, race number),
// what it rides and wears, and how it rides (aggression, consistency). The
// race reset shuffles the table and hands every robot slot the next
// personality that fits the slot's kind of bike; the robot controller reads
// the riding traits.
#pragma once

constexpr int PERSONALITY_COUNT = 80;

struct RobotPersonality {
  const char* name;
  const char* number;       // race number, up to 3 characters
  const char* bike;         // bike model name
  const char* gear_skin;    // riding gear texture set (also the rider's plate)
  const char* helmet_skin;  // helmet texture set
  float aggression;         // 0 careful .. 1 takes every line and every gap
  float consistency;        // 0 erratic .. 1 rides the same lap every lap
};

extern const RobotPersonality g_robot_personalities[PERSONALITY_COUNT];

// What a robot slot asks for: any bike, a 125 two-stroke ("Robot (2 stroke)":
// the bike name contains "125"), or a four-stroke ("Robot (4 stroke)").
enum PersonalityKind { PERSONALITY_ANY, PERSONALITY_TWO_STROKE, PERSONALITY_FOUR_STROKE };

bool personality_fits(const RobotPersonality& personality, PersonalityKind kind);

// Index of the personality with that name (exact match), or -1; an unknown
// name logs "auto pilot personality '%s' not found\n".
int find_personality(const char* name);
