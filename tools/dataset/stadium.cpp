// "Harbor Arena": a tight supercross track on a stadium floor under the
// lights. Five short legs linked by flat hairpins, a rhythm lane, whoops in
// sand, a triple, a step-up and a step-down, tuff blocks along every edge
// and stands all round.
#include <cmath>

#include "tools/dataset/track_builder.h"

namespace dvdata {

void build_second_track(DataSet* set) {
  TrackPlan p;
  p.dir = "harborarena";
  p.display_name = "Harbor Arena";
  p.description =
      "Supercross under the lights: tight flat turns, a rhythm lane, sand whoops, a triple, a step-up and a\n"
      "step-down on a stadium floor lined with tuff blocks.";
  p.n = 8;
  p.spacing = 1.25;
  p.seed = 777;
  p.stadium = true;
  p.floor_rect[0] = 40, p.floor_rect[1] = 95, p.floor_rect[2] = 600, p.floor_rect[3] = 540;
  p.stand_height = 45;
  p.base_height = 10;
  p.off_track = SURFACE_HARDPACK;
  p.shoulder = 5;
  p.edge_mound = 0.3;
  p.berm_radius = 40;
  p.berm_degrees = 14;
  p.profile_smoothing = 20;
  const double W = 9;
  p.lap = {
      // Start straight and the first turn, up into the first lane.
      {330, 455, W}, {470, 455, W}, {520, 447, W}, {542, 422, W}, {528, 396, W}, {490, 390, W},
      // Lane 1 west: the rhythm lane.
      {350, 390, W}, {200, 390, W}, {157, 384, W}, {140, 358, W}, {157, 331, W}, {200, 325, W},
      // Lane 2 east: sand whoops.
      {350, 325, W}, {480, 325, W}, {523, 319, W}, {540, 293, W}, {523, 266, W}, {480, 260, W},
      // Lane 3 west: the triple.
      {350, 260, W}, {200, 260, W}, {157, 254, W}, {140, 228, W}, {157, 201, W}, {200, 195, W},
      // Lane 4 east: step-up and table.
      {350, 195, W}, {470, 195, W}, {528, 186, W}, {552, 155, W}, {528, 126, W}, {470, 120, W},
      // Lane 5 west along the back: step-down.
      {300, 120, W}, {140, 120, W}, {92, 132, W}, {72, 170, W},
      // Down the west side and round under the start into the straight.
      {70, 300, W}, {72, 410, W}, {90, 470, W}, {130, 507, W}, {220, 514, W}, {285, 492, W},
  };
  p.start = {{165, 455, 40}, {240, 455, 30}, {300, 455, 12}, {330, 455, W}, {470, 455, W}};
  p.gate_count = 22;
  p.gate_spacing = 3.5;

  std::vector<PathSample> lap = sample_path(p.lap, true);
  auto at = [&](double x, double z) { return path_position_near(lap, x, z); };
  p.finish_s = at(250, 512);
  p.features = {
      rhythm(at(455, 390), 6, 20, 2.8, 28),                     // rhythm lane
      whoops(at(225, 325), 18, 9, 1.5),                         // sand whoops
      gap_jump("triple", at(430, 260), 5.0, 30, 48, 5.0, 24),   // triple
      step_up(at(240, 195), 5.0, 30, 26),                       // step-up
      tabletop(at(400, 195), 4.5, 28, 24, 22),                  // table
      step_down(at(420, 120), 4.5, 24, 26),                     // step-down
      gap_jump("double", at(230, 120), 4.0, 28, 32, 4.0, 24),   // double
      tabletop(at(71, 230), 4.0, 26, 26, 22),                   // west side table
      roller(at(71, 360), 2.0, 22),
  };
  p.start_surfaces = {{0, SURFACE_HARDPACK}};
  p.lap_surfaces = {
      {0, SURFACE_HARDPACK},         {at(505, 452), SURFACE_LOOSE}, {at(470, 390), SURFACE_LOAM},
      {at(170, 388), SURFACE_LOOSE}, {at(215, 325), SURFACE_SAND},  {at(400, 325), SURFACE_LOAM},
      {at(510, 322), SURFACE_LOOSE},
      {at(460, 260), SURFACE_LOAM},  {at(170, 258), SURFACE_LOOSE}, {at(215, 195), SURFACE_LOAM},
      {at(510, 190), SURFACE_LOOSE}, {at(440, 120), SURFACE_LOAM},  {at(110, 125), SURFACE_LOOSE},
      {at(71, 200), SURFACE_LOAM},   {at(85, 460), SURFACE_LOOSE},  {at(200, 514), SURFACE_HARDPACK},
  };
  p.checkpoint_spacing = 45;
  p.camera_count = 9;
  p.objects.trees = false;
  p.objects.hay_bales = false;
  p.objects.tuff_blocks = true;
  p.objects.banner_count = 16;
  p.objects.crowd = true;
  p.sky = "skynight";
  p.lighting =
      "sun_vector [ 0.15 0.92 0.35 ]\n"
      "sun_color [ 0.95 0.95 1.0 ]\n"
      "ambient [ 0.38 0.38 0.44 ]\n"
      "global_ambient [ 0.15 0.15 0.2 ]\n"
      "near_plane 0.4\n"
      "far_plane 3000\n"
      "fog [ 0.05 0.05 0.08 ] 0.0006\n"
      "dynamic_lighting 1\n"
      "flare_element [ 1.0 0.0 ] [ 1.0 1.0 0.95 ] 0.25 @flare_sun.png\n"
      "flare_element [ 0.5 0.0 ] [ 0.6 0.7 1.0 ] 0.06 @flare_ring.png\n"
      "flare_point [ 40 90 95 ]\n"
      "flare_element [ 1.0 0.0 ] [ 1.0 1.0 0.95 ] 0.25 @flare_sun.png\n"
      "flare_element [ 0.5 0.0 ] [ 0.6 0.7 1.0 ] 0.06 @flare_ring.png\n"
      "flare_point [ 600 90 95 ]\n"
      "flare_element [ 1.0 0.0 ] [ 1.0 1.0 0.95 ] 0.25 @flare_sun.png\n"
      "flare_point [ 40 90 540 ]\n"
      "flare_element [ 1.0 0.0 ] [ 1.0 1.0 0.95 ] 0.25 @flare_sun.png\n"
      "flare_point [ 600 90 540 ]\n";
  build_track(set, p);
}

}  // namespace dvdata
