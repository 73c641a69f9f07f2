// The game hook test's scratch data: a flat track and a short demo of two
// riders recorded on it by the race runner (apart from the test itself: the
// runner's bike headers and the game's configuration do not mix).
#pragma once

#include <memory>
#include <string>

struct ReplayGameScratch;
struct ReplayGameScratchDeleter {
  void operator()(ReplayGameScratch* scratch) const;
};

// Null (with a test failure) when the demo could not be recorded.
std::unique_ptr<ReplayGameScratch, ReplayGameScratchDeleter> record_short_demo(const std::string& demo, int ticks);
