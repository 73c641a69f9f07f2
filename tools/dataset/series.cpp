// The points series of the data set: ".series" files of events on the
// shipped tracks (format in race/series.h of the race code: name, riders,
// events with their race length, points and start lineup).
#include "tools/dataset/dataset.h"

namespace dvdata {

namespace {

struct Event {
  const char* name;
  const char* track;
  int minutes, laps;
};

std::string series_text(const char* name, const char* skill, const std::vector<const char*>& numbers,
                        const std::vector<Event>& events) {
  std::string text = format("\"%s\"\n%d %s\n", name, (int)numbers.size(), skill);
  for (const char* n : numbers) text += std::string(n) + " ";
  text += format("\n%d\n", (int)events.size());
  static const int points[20] = {25, 22, 20, 18, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  for (const Event& e : events) {
    text += format("\"%s\" %s\n%d %d\n", e.name, e.track, e.minutes, e.laps);
    for (int i = 0; i < 40; i++) text += format("%d ", i < 20 ? points[i] : 0);
    text += "\n";
    // Lineup: the player on the first gate, robots on the next nineteen.
    for (int i = 0; i < 40; i++) text += format("%d ", i == 0 ? 1 : (i < (int)numbers.size() ? 2 : 0));
    text += "\n";
  }
  return text;
}

std::vector<unsigned char> bytes_of(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

}  // namespace

void build_series(DataSet* set) {
  // The player's default number first, then robot riders' numbers.
  const std::vector<const char*> riders = {"999", "82", "68", "81", "53", "44", "91", "88", "3",  "2",
                                           "50",  "93", "23", "69", "79", "28", "99", "49", "58", "40"};
  put_member(set, "", "series/spring.series",
             bytes_of(series_text("Spring Series", "Amateur", riders,
                                  {{"Round 1: Rabbit Hill", "rabbithill", 0, 5},
                                   {"Round 2: Harbor Arena", "harborarena", 0, 8},
                                   {"Round 3: Rabbit Hill", "rabbithill", 0, 6},
                                   {"Final: Harbor Arena", "harborarena", 0, 10}})));
  put_member(set, "", "series/night.series",
             bytes_of(series_text("Night Cup", "Expert", riders,
                                  {{"Heat", "harborarena", 0, 4},
                                   {"Semi", "harborarena", 0, 6},
                                   {"Main", "harborarena", 0, 10}})));
}

}  // namespace dvdata
