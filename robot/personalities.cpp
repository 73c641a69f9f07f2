// The personality table and its lookups.
#include "robot/personalities.h"

#include <cstring>

#include "bike/bike_model.h"
#include "platform/log.h"

// clang-format off
const RobotPersonality g_robot_personalities[PERSONALITY_COUNT] = {
    {"Ace Ridgeback", "82", "crf450(2016)", "gear_red", "helmet_green", 0.65f, 0.68f},
    {"Bodie Dustman", "68", "cr125", "gear_yellow", "helmet_purple", 0.54f, 0.85f},
    {"Cash Clodhopper", "81", "rmz450(2016)", "gear_white", "helmet_orange", 0.91f, 0.61f},
    {"Dax Berman", "53", "cr250(2007)", "gear_blue", "helmet_blue", 0.70f, 0.34f},
    {"Ember Rutley", "44", "450sxf(2016)", "gear_orange", "helmet_white", 0.73f, 0.72f},
    {"Flint Throttleby", "91", "crf450(2013)", "gear_purple", "helmet_yellow", 0.94f, 0.83f},
    {"Gage Gravelle", "88", "kx125", "gear_green", "helmet_red", 0.41f, 0.55f},
    {"Hollis Mudford", "3", "kx450f(2016)", "gear_black", "helmet_black", 0.70f, 0.31f},
    {"Ivo Holeshot", "2", "kx250(2006)", "gear_red", "helmet_green", 0.55f, 0.41f},
    {"Jett Whoopman", "50", "yz450f(2016)", "gear_yellow", "helmet_purple", 0.29f, 0.34f},
    {"Kip Sandoval", "93", "350sxf(2013)", "gear_white", "helmet_orange", 0.78f, 0.38f},
    {"Lark Claybourne", "23", "rm125", "gear_blue", "helmet_blue", 0.39f, 0.55f},
    {"Moss Skidmore", "69", "crf450(2016)", "gear_orange", "helmet_white", 0.85f, 0.35f},
    {"Nash Loamer", "79", "rm250(2008)", "gear_purple", "helmet_yellow", 0.54f, 0.66f},
    {"Odie Tabletop", "28", "rmz450(2016)", "gear_green", "helmet_red", 0.86f, 0.83f},
    {"Pike Dirtwell", "99", "250sxf(2016)", "gear_black", "helmet_black", 0.85f, 0.48f},
    {"Quill Brakeley", "49", "yz125", "gear_red", "helmet_green", 0.51f, 0.53f},
    {"Rhett Kickstand", "58", "crf450(2013)", "gear_yellow", "helmet_purple", 0.86f, 0.92f},
    {"Sully Revington", "40", "yz250(2012)", "gear_white", "helmet_orange", 0.31f, 0.41f},
    {"Tate Tacker", "35", "kx450f(2016)", "gear_blue", "helmet_blue", 0.37f, 0.45f},
    {"Uri Scrubb", "27", "yz250f(2016)", "gear_orange", "helmet_white", 0.56f, 0.68f},
    {"Vance Roostfield", "16", "125sx", "gear_purple", "helmet_yellow", 0.40f, 0.30f},
    {"Wren Burnley", "12", "350sxf(2013)", "gear_green", "helmet_red", 0.51f, 0.54f},
    {"Xavi Stoneway", "34", "250sx(2012)", "gear_black", "helmet_black", 0.62f, 0.92f},
    {"Yael Quarry", "18", "crf450(2016)", "gear_red", "helmet_green", 0.72f, 0.64f},
    {"Zeke Slidell", "94", "rmz250(2016)", "gear_yellow", "helmet_purple", 0.66f, 0.74f},
    {"Arlo Ruttenberg", "65", "cr125", "gear_white", "helmet_orange", 0.24f, 0.88f},
    {"Brix Flatland", "4", "250sxf(2016)", "gear_blue", "helmet_blue", 0.78f, 0.87f},
    {"Cole Hardpack", "63", "cr250(2007)", "gear_orange", "helmet_white", 0.80f, 0.56f},
    {"Dell Lipton", "26", "crf450(2013)", "gear_purple", "helmet_yellow", 0.50f, 0.37f},
    {"Ezra Camber", "24", "kx250f(2016)", "gear_green", "helmet_red", 0.68f, 0.34f},
    {"Fenn Dabney", "84", "kx125", "gear_black", "helmet_black", 0.25f, 0.44f},
    {"Gus Powerband", "75", "yz250f(2016)", "gear_red", "helmet_green", 0.32f, 0.52f},
    {"Hank Gatling", "61", "kx250(2006)", "gear_yellow", "helmet_purple", 0.24f, 0.30f},
    {"Iggy Sprocket", "51", "350sxf(2013)", "gear_white", "helmet_orange", 0.31f, 0.37f},
    {"Jory Knobbly", "46", "crf250(2016)", "gear_blue", "helmet_blue", 0.47f, 0.32f},
    {"Knox Trackwell", "31", "rm125", "gear_orange", "helmet_white", 0.86f, 0.70f},
    {"Lane Hillcrest", "22", "rmz250(2016)", "gear_purple", "helmet_yellow", 0.31f, 0.46f},
    {"Milo Dunmore", "87", "rm250(2008)", "gear_green", "helmet_red", 0.46f, 0.54f},
    {"Nico Pegley", "64", "250sxf(2016)", "gear_black", "helmet_black", 0.29f, 0.85f},
    {"Otis Fenderson", "33", "450sxf(2016)", "gear_red", "helmet_green", 0.94f, 0.60f},
    {"Penn Axlerod", "15", "yz125", "gear_yellow", "helmet_purple", 0.56f, 0.36f},
    {"Rook Swingler", "41", "kx250f(2016)", "gear_white", "helmet_orange", 0.28f, 0.52f},
    {"Sage Chainey", "5", "yz250(2012)", "gear_blue", "helmet_blue", 0.40f, 0.84f},
    {"Tuck Boulder", "59", "yz250f(2016)", "gear_orange", "helmet_white", 0.32f, 0.32f},
    {"Umar Crestwood", "86", "yz450f(2016)", "gear_purple", "helmet_yellow", 0.91f, 0.64f},
    {"Vic Moto", "47", "125sx", "gear_green", "helmet_red", 0.31f, 0.65f},
    {"Wade Wheeler", "60", "crf250(2016)", "gear_black", "helmet_black", 0.22f, 0.64f},
    {"Yuri Rimshaw", "78", "250sx(2012)", "gear_red", "helmet_green", 0.93f, 0.86f},
    {"Zane Banks", "25", "rmz250(2016)", "gear_yellow", "helmet_purple", 0.72f, 0.47f},
    {"Axel Forkner", "92", "rmz450(2016)", "gear_white", "helmet_orange", 0.48f, 0.41f},
    {"Beau Hubbard", "42", "cr125", "gear_blue", "helmet_blue", 0.78f, 0.65f},
    {"Crew Clutcher", "62", "450sxf(2016)", "gear_orange", "helmet_white", 0.78f, 0.51f},
    {"Drew Shifter", "67", "cr250(2007)", "gear_purple", "helmet_yellow", 0.37f, 0.83f},
    {"Eli Jumpworth", "71", "kx250f(2016)", "gear_green", "helmet_red", 0.94f, 0.85f},
    {"Finn Landry", "80", "kx450f(2016)", "gear_black", "helmet_black", 0.80f, 0.83f},
    {"Grey Groover", "45", "kx125", "gear_red", "helmet_green", 0.75f, 0.45f},
    {"Huck Sidewall", "54", "yz450f(2016)", "gear_yellow", "helmet_purple", 0.59f, 0.53f},
    {"Ike Treadway", "37", "kx250(2006)", "gear_white", "helmet_orange", 0.22f, 0.32f},
    {"Jace Mudge", "98", "crf250(2016)", "gear_blue", "helmet_blue", 0.41f, 0.47f},
    {"Kane Berms", "38", "crf450(2016)", "gear_orange", "helmet_white", 0.72f, 0.92f},
    {"Lev Rhythm", "73", "rm125", "gear_purple", "helmet_yellow", 0.54f, 0.91f},
    {"Mack Doubles", "36", "rmz450(2016)", "gear_green", "helmet_red", 0.94f, 0.92f},
    {"Ned Triple", "20", "rm250(2008)", "gear_black", "helmet_black", 0.47f, 0.44f},
    {"Orrin Rollers", "83", "450sxf(2016)", "gear_red", "helmet_green", 0.37f, 0.43f},
    {"Pax Stepup", "39", "crf450(2013)", "gear_yellow", "helmet_purple", 0.35f, 0.71f},
    {"Reno Hucker", "19", "yz125", "gear_white", "helmet_orange", 0.88f, 0.85f},
    {"Sol Gapton", "7", "kx450f(2016)", "gear_blue", "helmet_blue", 0.56f, 0.72f},
    {"Tor Finley", "90", "yz250(2012)", "gear_orange", "helmet_white", 0.80f, 0.36f},
    {"Ulf Rockford", "95", "yz450f(2016)", "gear_purple", "helmet_yellow", 0.70f, 0.89f},
    {"Vito Ledger", "97", "350sxf(2013)", "gear_green", "helmet_red", 0.79f, 0.79f},
    {"Webb Dustin", "77", "125sx", "gear_black", "helmet_black", 0.56f, 0.42f},
    {"Yancy Sandpit", "30", "crf450(2016)", "gear_red", "helmet_green", 0.79f, 0.52f},
    {"Zed Washburn", "17", "250sx(2012)", "gear_yellow", "helmet_purple", 0.80f, 0.93f},
    {"Abe Bumpus", "74", "rmz450(2016)", "gear_white", "helmet_orange", 0.50f, 0.56f},
    {"Boone Ridley", "89", "250sxf(2016)", "gear_blue", "helmet_blue", 0.91f, 0.77f},
    {"Cyd Kinks", "56", "cr125", "gear_orange", "helmet_white", 0.33f, 0.38f},
    {"Dune Tumbleweed", "72", "crf450(2013)", "gear_purple", "helmet_yellow", 0.31f, 0.89f},
    {"Enzo Scrabble", "96", "cr250(2007)", "gear_green", "helmet_red", 0.80f, 0.40f},
    {"Ford Pinner", "32", "kx450f(2016)", "gear_black", "helmet_black", 0.82f, 0.94f},

};
// clang-format on

namespace {

// A four-stroke's engine class ends in "f" ("450f", "250f").
bool four_stroke(const char* bike) {
  int model = find_bike_model(bike);
  if (model < 0) return false;
  const char* engine = bike_model_at(model).engine_class;
  size_t n = strlen(engine);
  return n > 0 && engine[n - 1] == 'f';
}

}  // namespace

bool personality_fits(const RobotPersonality& p, PersonalityKind kind) {
  switch (kind) {
    case PERSONALITY_TWO_STROKE: return strstr(p.bike, "125") != nullptr;
    case PERSONALITY_FOUR_STROKE: return four_stroke(p.bike);
    default: return true;
  }
}

int find_personality(const char* name) {
  if (name) {
    for (int i = 0; i < PERSONALITY_COUNT; i++)
      if (strcmp(g_robot_personalities[i].name, name) == 0) return i;
  }
  log_printf("auto pilot personality '%s' not found\n", name ? name : "");
  return -1;
}
