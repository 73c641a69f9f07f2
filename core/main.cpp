// The dirtvane executable: everything happens in the start-up code.
#include "core/startup.h"

int main(int argc, char** argv) { return dirtvane_main(argc, argv); }
