// Choice indices of the bike setup as the configuration file stores them,
// shared by the configuration and the bike simulation that applies them.
#pragma once

constexpr int BRAKE_NORMAL = 0, BRAKE_ANTILOCK = 1;
constexpr int STOP_WHEELIES_NO = 0, STOP_WHEELIES_YES = 1, STOP_WHEELIES_FRONT_ONLY = 2;
