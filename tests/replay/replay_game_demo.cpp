#include "tests/replay/replay_game_demo.h"

#include "tests/race/race_fixture.h"
#include "tools/race_runner/runner.h"

struct ReplayGameScratch {
  LogCapture log;
  ScratchData data;
};

void ReplayGameScratchDeleter::operator()(ReplayGameScratch* scratch) const { delete scratch; }

std::unique_ptr<ReplayGameScratch, ReplayGameScratchDeleter> record_short_demo(const std::string& demo, int ticks) {
  std::unique_ptr<ReplayGameScratch, ReplayGameScratchDeleter> scratch(new ReplayGameScratch);
  write_race_track(scratch->data, "flat", 4);
  RunnerOptions options;
  options.track = "flat";
  char error[256];
  const char* script = "bike crf450(2016)\nfollow 25\n";
  EXPECT_TRUE(parse_ride_script(script, strlen(script), &options.script, error, sizeof error)) << error;
  options.follow_robots = true;
  options.ticks = ticks;
  options.record_demo = scratch->data.path(demo);
  EXPECT_TRUE(parse_lineup("h,r", &options.lineup, error, sizeof error));
  auto runner = std::make_unique<Runner>();
  if (!start_runner(runner.get(), options, error, sizeof error)) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  run_runner(runner.get(), nullptr);
  end_runner(runner.get());
  if (!runner->demo_saved) {
    ADD_FAILURE() << "the demo was not saved";
    return nullptr;
  }
  return scratch;
}
