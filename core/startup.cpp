#include "core/startup.h"

#include <cstdio>

// Placeholder until start-up is built: say plainly what is missing.
int dirtvane_main(int argc, char** argv) {
  fprintf(stderr, "Dirtvane: start-up is not built yet; nothing to run.\n");
  return 0;
}
