// A display mode as the platform lists it. Shared by the platform layer, which
// lists them, and start-up, which turns them into the "Video Mode" choice.
#pragma once

struct DisplayMode {
  int width, height;
  int colour_bits;
  int refresh_hz;  // 0 when the display does not say
};
