// Timing gates for the proving ground (bike/proving_ground.h) built in code:
// starting gates on the out straight and checkpoints round the oval, a few
// of them marked as no split. Robot tests, the robot benchmark and the
// trainer's self-check ride it.
#pragma once

struct TimingGates;

// Fills the gates (anything there is cleared): 8 starting gates across the
// out straight facing -z, about 21 checkpoints of radius 30 round the oval
// 140 ft apart, the last one the finish line just behind the starting
// gates; every third entry but the lap end is marked as no split.
void training_ground_gates(TimingGates* gates);
