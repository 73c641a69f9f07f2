// Between the bike, rider and appearance parts of the builder: the look of
// a make (plastics, accents, frame colour, the number on the shrouds) and
// the texture painters that the appearance sets reuse.
#pragma once

#include <string>

#include "tools/dataset/dataset.h"

namespace dvdata {

struct BikeLook {
  Rgb plastic, accent, frame;
  std::string label;        // "450", "250" ... on the shrouds
  bool year_stripe = false; // later model years
};

BikeLook bike_look(const std::string& stem);
// The bike atlas; style 0 is the stock look, 1 black plastics, 2 white.
Picture bike_texture(const BikeLook& look, int style);
// Wheel pictures: style 0 black rims (stock), then gold, blue and red.
Picture wheel_look(int style);

// Rider pictures: riding gear in a main and a second colour, helmets.
Picture gear_texture(Rgb main, Rgb second);
Picture helmet_texture(Rgb main, Rgb second);

}  // namespace dvdata
