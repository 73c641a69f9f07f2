#include <gtest/gtest.h>

#include <csignal>

#include "platform/clock.h"

namespace {

TEST(Clock, PreciseSleepNeverWakesBeforeItsDeadline) {
  long s, us;
  platform_clock(&s, &us);
  EXPECT_TRUE(us >= 0 && us < 1000000);
  // Sub-millisecond, just over one millisecond, a few whole ones.
  for (double w : {0.0, -0.01, 0.0002, 0.0011, 0.0049, 0.0078125}) {
    double deadline = platform_seconds() + w;
    precise_sleep_until(deadline);
    EXPECT_GE(platform_seconds(), deadline) << w;
  }
}

TEST(Clock, SigtermRaisesTheShutdownRequestInsteadOfEndingTheProcess) {
  install_shutdown_signals();
  raise(SIGTERM);
  EXPECT_TRUE(shutdown_requested());
  double start = platform_seconds();
  precise_sleep(5.0);  // nothing is worth waiting for during shutdown
  EXPECT_LT(platform_seconds() - start, 1.0);
  clear_shutdown_request_for_tests();
  raise(SIGINT);
  EXPECT_TRUE(shutdown_requested());
  clear_shutdown_request_for_tests();
}

}  // namespace
