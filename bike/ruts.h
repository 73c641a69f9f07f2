// Ruts: the wheel-terrain effects of one bike, step 4 of the tick order.
// Each pass records both wheels' ground contacts into the bike's erosion
// queue and applies what the bike has left far enough behind
// (track/deform.h does the digging and piling).
//
// The race step calls erosion_step() for every occupied slot, in the order
// wheel_terrain_order() gives for the tick, as many passes per tick as its
// rate setting asks, and only while the erosion setting is above 0.
#pragma once

#include <cstdint>

#include "core/types.h"

struct Bike;
struct Terrain;

// Queues one wheel's contact: the point and depth of the contact the last
// force update made, the wheel body's speed, and the horizontal push its
// contact joint gave the wheel in the last world step. True when queued.
bool record_wheel_contact(Bike* bike, int wheel, const Terrain& terrain);

// One pass for one bike: records the front and the rear wheel, then
// applies up to four queued records (those at least 10 units from the
// frame). Nothing at all happens unless `erosion` (the "--erode" setting,
// 0..100) is above 0. Returns the number of records applied. The heights
// change at once; shading and the normal map follow with the frame's
// refresh_deformed_shading (track/deform.h).
int erosion_step(Bike* bike, Terrain* terrain, float erosion);

// The occupied slots in the order step 4 visits them at this tick: the
// k-th of the n occupied slots (in slot order) goes to position
// (k + tick) mod n, so no bike always digs first. Returns n.
int wheel_terrain_order(Bike* const bikes[MAX_BIKES], int64_t tick, int order[MAX_BIKES]);
