// Screenshots: "screenshot%03d.png" in the home directory, the first number
// not yet taken, written as an RGB PNG with the message line
// Saved "screenshot007.png".
#pragma once

#include <cstdint>
#include <string>

constexpr int SCREENSHOT_NAMES = 1000;  // screenshot000.png .. screenshot999.png

// The first free name, "" when all of them are taken.
std::string next_screenshot_name();
// Writes the pixels (RGB, top row first) under the next free name and tells
// the player; an existing file is never overwritten.
bool save_screenshot(const uint8_t* rgb, int width, int height);
