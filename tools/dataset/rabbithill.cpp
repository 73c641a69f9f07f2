// "Rabbit Hill": the default track. An outdoor motocross lap over rolling
// hills: a wide start straight from forty gates into a left-hander, three
// long legs linked by bermed hairpins, a sweeping back section along the top
// of the hill and a fast run down the west side back to the start.
#include <cmath>

#include "tools/dataset/track_builder.h"

namespace dvdata {

void build_rabbithill(DataSet* set) {
  TrackPlan p;
  p.dir = "rabbithill";
  p.display_name = "Rabbit Hill";
  p.description =
      "Outdoor motocross over rolling hills: a wide start into a left-hander, tabletops, doubles, a triple, a\n"
      "step-up and a step-down, whoops and a rhythm section, bermed hairpins and loam, loose and hard-packed dirt.";
  p.n = 9;
  p.spacing = 2.0;
  p.seed = 20161027;
  p.base_height = 60;
  p.hill_height = 36;
  p.hill_scale = 700;
  const double W = 13;  // half width of the lap
  p.lap = {
      // Start straight (shared with the start spur) and the first turn.
      {560, 1750, W}, {650, 1748, W}, {720, 1715, W}, {752, 1640, W},
      // Leg 1 north.
      {760, 1450, W}, {760, 1250, W}, {765, 1100, W},
      // Hairpin right.
      {800, 1010, W}, {860, 985, W}, {920, 1010, W}, {955, 1090, W},
      // Leg 2 south.
      {960, 1250, W}, {960, 1450, W}, {958, 1600, W},
      // Hairpin left.
      {990, 1690, W}, {1060, 1715, W}, {1130, 1690, W}, {1160, 1600, W},
      // Leg 3 north, long and fast.
      {1165, 1400, W}, {1170, 1150, W}, {1180, 900, W}, {1200, 700, W},
      // Sweeper to the west along the top of the hill.
      {1160, 520, W}, {1040, 440, W}, {860, 430, W}, {680, 470, W}, {520, 420, W}, {360, 380, W},
      // Turn south and down the west side.
      {220, 420, W}, {160, 540, W}, {150, 750, W}, {160, 1000, W}, {150, 1250, W}, {150, 1500, W},
      {160, 1750, W},
      // Along the bottom and up into the start straight.
      {220, 1880, W}, {330, 1905, W}, {440, 1880, W}, {490, 1800, W},
  };
  // The start spur: 40 gates behind a wide apron that funnels into the lap.
  // The apron reaches far enough behind the gate line for the last row.
  p.start = {{215, 1750, 74}, {250, 1750, 74}, {340, 1750, 68}, {430, 1750, 40}, {520, 1750, W + 1}, {560, 1750, W}, {650, 1748, W}};
  p.gate_count = 40;
  p.gate_spacing = 3.5;
  p.gate_line_s = 47;

  std::vector<PathSample> lap = sample_path(p.lap, true);
  double len = path_length(lap);
  auto at = [&](double x, double z) { return path_position_near(lap, x, z); };
  p.finish_s = at(500, 1790);

  // Jumps: first a forgiving tabletop out of turn one, then bigger ones.
  p.features = {
      tabletop(at(760, 1560), 4.0, 22, 36, 18),                  // leg 1: the first table
      gap_jump("double", at(760, 1330), 5.0, 26, 42, 5.0, 20),   // double
      roller(at(762, 1180), 2.5, 24),
      whoops(at(960, 1150), 14, 11, 1.4),                        // leg 2: whoops
      step_up(at(960, 1420), 5.5, 26, 30),                       // step-up
      gap_jump("triple", at(1166, 1480), 5.5, 27, 58, 6.0, 18),  // leg 3: triple, a run-up out of the hairpin
      rhythm(at(1168, 1250), 6, 22, 3.0, 26),                    // rhythm section
      tabletop(at(1180, 960), 5.5, 25, 45, 20),                  // big table
      step_down(at(900, 432), 5.0, 14, 24),                      // top: step-down
      gap_jump("double", at(640, 460), 4.5, 25, 40, 4.5, 20),    // double
      roller(at(440, 398), 2.0, 30),
      tabletop(at(152, 700), 4.5, 23, 40, 19),                   // west side
      gap_jump("double", at(155, 1050), 5.0, 26, 48, 5.0, 21),
      tabletop(at(152, 1400), 4.0, 22, 34, 18),
  };
  // Surfaces by stretch: hard-packed start, loam legs, loose dirt in the
  // hairpins and the sweeper, where the berms are dug.
  p.start_surfaces = {{0, SURFACE_HARDPACK}};
  p.lap_surfaces = {
      {0, SURFACE_HARDPACK},          {at(700, 1725), SURFACE_LOOSE},  {at(760, 1600), SURFACE_LOAM},
      {at(780, 1040), SURFACE_LOOSE}, {at(960, 1150), SURFACE_LOAM},   {at(975, 1660), SURFACE_LOOSE},
      {at(1165, 1550), SURFACE_LOAM}, {at(1190, 800), SURFACE_LOOSE},  {at(1000, 435), SURFACE_HARDPACK},
      {at(520, 420), SURFACE_LOAM},   {at(190, 470), SURFACE_LOOSE},   {at(150, 650), SURFACE_LOAM},
      {at(180, 1820), SURFACE_LOOSE}, {at(470, 1850), SURFACE_HARDPACK},
  };
  (void)len;
  p.checkpoint_spacing = 75;
  p.camera_count = 10;
  p.sky = "sky";
  p.lighting =
      "sun_vector [ -0.55 0.62 0.56 ]\n"
      "sun_color [ 1.0 0.94 0.82 ]\n"
      "ambient [ 0.42 0.45 0.52 ]\n"
      "global_ambient [ 0.22 0.22 0.25 ]\n"
      "near_plane 0.5\n"
      "far_plane 6000\n"
      "fog [ 0.72 0.8 0.88 ] 0.00025\n"
      "flare_element [ 1.0 0.0 ] [ 1.0 0.95 0.8 ] 0.3 @flare_sun.png\n"
      "flare_element [ 0.6 0.0 ] [ 0.6 0.7 1.0 ] 0.08 @flare_ring.png\n"
      "flare_element [ 0.3 0.0 ] [ 1.0 0.8 0.5 ] 0.05 @flare_dot.png\n"
      "flare_element [ -0.2 0.0 ] [ 0.5 1.0 0.6 ] 0.12 @flare_ring.png\n"
      "flare_element [ -0.5 0.0 ] [ 0.8 0.6 1.0 ] 0.04 @flare_dot.png\n"
      "flare_vector [ -0.55 0.62 0.56 ]\n";
  build_track(set, p);
}

}  // namespace dvdata
