// The dirtvane executable. The window, audio, GL and game layers join
// start-up through g_startup_stages (core/startup.h), set here before
// dirtvane_main() runs; a build without them stops after the headless part.
#include "core/startup.h"

int main(int argc, char** argv) { return dirtvane_main(argc, argv); }
