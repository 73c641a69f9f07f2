// Finishing decided from the ticks of every bike's timing entries, the same
// way on the server and on every client.
//
// A bike finishes at the first lap end it passes after the leader has
// passed the race's finishing gate, or at the end of the race's last lap.
// Online a client learns of the leader's finish only when the entry
// arrives, so it may ride on past the lap end where it actually finished;
// settling again whenever entries arrive puts every bike back at its true
// finishing gate, and every peer ends with the same running order.
#pragma once

#include "race/timing.h"

// Truncates each bike's timing to its finishing gate and marks it
// finished. Nothing for untimed tracks or open races (laps <= 0, or the
// open lap count of a race with a time limit still running).
void settle_finishes(const TimingGates& gates, BikeTiming* const* bikes, int count, int laps);
