// Program entry: command line, start-up order, the main loop hand-off and shutdown.
#pragma once

int dirtvane_main(int argc, char** argv);
