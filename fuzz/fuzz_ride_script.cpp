// libFuzzer target: the ride script parser and the timeline it builds.
#include <cstddef>
#include <cstdint>

#include "tools/ride/ride.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RideScript script;
  char error[128];
  if (parse_ride_script((const char*)data, size, &script, error, sizeof error)) {
    float control[CONTROL_COUNT];
    for (double t : {0.0, 0.5, 3.0, 1e3}) script_controls(script, t, control);
  }
  return 0;
}
