// Model lookup by menu name and the fallback for unknown names.
#include <cstring>

#include "bike/bike_model.h"
#include "core/message.h"

int find_bike_model(const char* name) {
  if (!name) return -1;
  const BikeModel* table = bike_model_table();
  for (int i = 0; i < BIKE_MODEL_COUNT; i++)
    if (strcmp(table[i].name, name) == 0) return i;
  return -1;
}

int find_bike_model_or_fallback(const char* name) {
  int found = find_bike_model(name);
  if (found >= 0) return found;
  const char* requested = name ? name : "";
  const char* pattern = strstr(requested, "125") ? "125" : "250f";
  const BikeModel* table = bike_model_table();
  int used = 0;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    if (strstr(table[i].name, pattern)) {
      used = i;
      break;
    }
  }
  show_message("bike info for '%.20s' not found using '%.20s' instead", requested, table[used].name);
  return used;
}

int bike_gear_count(const BikeModel& model) {
  int count = 0;
  while (count < GEAR_COUNT && model.gear_ratio[count] > 0) count++;
  return count;
}
