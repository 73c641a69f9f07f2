// The dirtvane executable. The window, audio, GL and game layers join
// start-up through g_startup_stages (core/startup.h), set here before
// dirtvane_main() runs; a build without them stops after the headless part.
#include "core/startup.h"

#ifdef DV_WITH_GAME_STAGES
#include "platform/game_stages.h"
#endif

#ifdef DV_TEST_GAME_DATA
#include <cstdlib>

#include "core/datafile.h"

// The test build of the executable: its tests make a small data set whose
// "zzzz.saf" cannot carry the shipped set's digest, so they hand that file's
// digest in the environment. Everything else is the real check (the file is
// looked for in every search directory and hashed the same way). The shipped
// executable is compiled without this.
static bool test_game_data_check() {
  const char* digest = getenv("DV_TEST_GAME_DATA_DIGEST");
  return digest && digest[0] && game_data_matches(digest);
}
#endif

int main(int argc, char** argv) {
#ifdef DV_WITH_GAME_STAGES
  install_game_stages();
#endif
#ifdef DV_TEST_GAME_DATA
  g_game_data_check = test_game_data_check;
#endif
  return dirtvane_main(argc, argv);
}
