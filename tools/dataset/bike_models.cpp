// The bikes: for every file stem of the model table, the frame, forks,
// swingarm and number plate models and the stem's own texture (plastics in
// the make's colour, frame, engine, exhaust, seat), plus the shared wheels
// and their texture. Each part is built in the bike's build frame and
// stored in its body's own frame (build position subtracted), the way the
// renderer draws it at the body's pose.
#include <cmath>
#include <cstring>
#include <set>

#include "bike/bike_model.h"
#include "tools/dataset/bike_parts.h"
#include "tools/dataset/dataset.h"
#include "tools/dataset/mesh.h"

namespace dvdata {

namespace {

// Texture atlas of a bike (256 x 256), in texture units.
const UvRect UV_PLASTIC_SIDE{0, 0, 0.5, 0.5};     // shroud and tank graphics
const UvRect UV_SEAT{0.5, 0, 1, 0.25};
const UvRect UV_PLASTIC{0.5, 0.25, 1, 0.5};       // plain plastic
const UvRect UV_FRAME{0, 0.5, 0.25, 0.75};
const UvRect UV_ENGINE{0.25, 0.5, 0.5, 0.75};
const UvRect UV_EXHAUST{0.5, 0.5, 0.75, 0.75};
const UvRect UV_FORK_TUBE{0.75, 0.5, 1, 0.75};
const UvRect UV_ALLOY{0, 0.75, 0.5, 1};           // swingarm, clamps, bars
const UvRect UV_DARK{0.5, 0.75, 1, 1};            // radiators, rubber, chain

const V3 FRAME_AT{0, 1.98, 3.6};
const V3 FORK_UPPER_AT{0, 2.9, 2.16};
const V3 FORK_LOWER_AT{0, 1.77, 1.59};
const V3 SWINGARM_AT{0, 1.34, 4.99};
const V3 FRONT_AXLE{0, 1.09, 1.11};
const V3 REAR_AXLE{0, 1.04, 6.0};
const V3 PIVOT{0, 1.6, 4.08};
const V3 HEAD{0, 2.9, 2.16};
constexpr double LEG_X = 0.4167;

// Unit vector up the fork, from the front axle to the steering head.
V3 fork_axis() { return normalized(HEAD - FRONT_AXLE); }

Mesh in_body(Mesh m, V3 body) {
  translate(&m, body * -1.0);
  return m;
}

Mesh mirror_pair(const Mesh& right) {
  Mesh m = right;
  m.append(mirrored_x(right));
  return m;
}

std::vector<unsigned char> bytes_of(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

// --- parts (build frame) ----------------------------------------------------------------

Mesh frame_part(bool two_stroke) {
  Mesh m;
  // Engine cases and cylinder.
  m.append(box({0, 1.45, 3.35}, {0.27, 0.36, 0.45}, UV_ENGINE));
  Mesh cylinder_block = box({0, 2.0, 3.0}, {0.2, 0.26, 0.24}, UV_ENGINE);
  rotate_x(&cylinder_block, 0.25);
  m.append(cylinder_block);
  m.append(box({0, 1.12, 3.3}, {0.22, 0.05, 0.5}, UV_ALLOY));  // skid plate
  // Frame: twin spars from the head to the pivot, down tubes to the cradle,
  // the subframe under the seat.
  for (double side : {-1.0, 1.0}) {
    m.append(cylinder({0.12 * side, 2.8, 2.35}, {0.3 * side, 2.55, 3.9}, 0.07, 6, false, UV_FRAME));
    m.append(cylinder({0.3 * side, 2.55, 3.9}, {0.3 * side, 1.6, 4.12}, 0.07, 6, false, UV_FRAME));
    m.append(cylinder({0.08 * side, 2.7, 2.3}, {0.2 * side, 1.3, 2.85}, 0.05, 6, false, UV_FRAME));
    m.append(cylinder({0.2 * side, 1.3, 2.85}, {0.3 * side, 1.3, 3.95}, 0.05, 6, false, UV_FRAME));
    m.append(cylinder({0.3 * side, 2.6, 4.0}, {0.22 * side, 3.05, 5.5}, 0.045, 6, false, UV_FRAME));
    m.append(cylinder({0.3 * side, 1.85, 4.3}, {0.22 * side, 3.0, 5.3}, 0.04, 6, false, UV_FRAME));
  }
  m.append(cylinder({0, 3.0, 2.05}, {0, 2.6, 2.35}, 0.1, 8, true, UV_FRAME));  // steering head tube
  // Radiators and shrouds.
  for (double side : {-1.0, 1.0}) {
    m.append(box({0.3 * side, 2.3, 2.75}, {0.05, 0.35, 0.22}, UV_DARK));
    std::vector<std::pair<double, double>> shroud = {{3.05, 2.35}, {2.95, 3.2}, {2.55, 3.35}, {1.95, 2.95},
                                                     {2.05, 2.45}, {2.6, 2.25}};
    Mesh s = extrude_x(shroud, 0.34, 0.44, UV_PLASTIC_SIDE);
    if (side < 0) s = mirrored_x(s);
    m.append(s);
  }
  // Tank, seat and rear fender.
  m.append(ellipsoid({0, 2.95, 2.95}, {0.36, 0.24, 0.62}, 10, 6, UV_PLASTIC));
  std::vector<std::pair<double, double>> seat = {{3.05, 2.95}, {3.28, 3.15}, {3.38, 4.2}, {3.42, 5.4},
                                                 {3.25, 5.5},  {3.05, 4.4},  {2.95, 3.4}};
  m.append(extrude_x(seat, -0.28, 0.28, UV_SEAT));
  std::vector<std::pair<double, double>> fender = {{3.2, 5.0}, {3.35, 5.5}, {3.42, 6.45}, {3.34, 6.5},
                                                   {3.18, 5.9}, {3.08, 5.1}};
  m.append(extrude_x(fender, -0.32, 0.32, UV_PLASTIC));
  // Side panels (the number boards are their own model).
  for (double side : {-1.0, 1.0}) {
    std::vector<std::pair<double, double>> panel_outline = {{3.15, 4.2}, {3.2, 5.35}, {2.6, 5.1}, {2.55, 4.35}};
    Mesh p = extrude_x(panel_outline, 0.26, 0.32, UV_PLASTIC);
    if (side < 0) p = mirrored_x(p);
    m.append(p);
  }
  // Exhaust on the right.
  if (two_stroke) {
    // Expansion chamber under the tank, then the silencer.
    m.append(cone({0.05, 1.95, 2.55}, {0.28, 1.75, 3.2}, 0.09, 0.22, 8, false, UV_EXHAUST));
    m.append(cone({0.28, 1.75, 3.2}, {0.38, 2.35, 4.3}, 0.22, 0.1, 8, false, UV_EXHAUST));
    m.append(cylinder({0.38, 2.35, 4.3}, {0.42, 2.95, 5.7}, 0.16, 8, true, UV_EXHAUST));
  } else {
    m.append(cylinder({0.05, 2.0, 2.75}, {0.3, 1.75, 3.1}, 0.07, 6, false, UV_EXHAUST));
    m.append(cylinder({0.3, 1.75, 3.1}, {0.4, 2.4, 4.4}, 0.07, 6, false, UV_EXHAUST));
    m.append(cylinder({0.42, 2.45, 4.4}, {0.47, 3.0, 5.9}, 0.21, 10, true, UV_EXHAUST));
  }
  // Footpegs and the shock.
  m.append(box({0.6, 1.55, 4.25}, {0.13, 0.04, 0.07}, UV_ALLOY));
  m.append(box({-0.6, 1.55, 4.25}, {0.13, 0.04, 0.07}, UV_ALLOY));
  m.append(cylinder({0, 2.75, 4.15}, {0, 1.55, 4.55}, 0.11, 8, true, UV_FORK_TUBE));
  return m;
}

Mesh fork_upper_part() {
  Mesh m;
  V3 a = fork_axis();
  for (double side : {-1.0, 1.0}) {
    V3 top = HEAD + a * 0.35 + V3{LEG_X * side, 0, 0};
    V3 bottom = HEAD - a * 0.75 + V3{LEG_X * side, 0, 0};
    m.append(cylinder(top, bottom, 0.1, 10, true, UV_FORK_TUBE));
  }
  // Triple clamps.
  m.append(box(HEAD + a * 0.25, {0.52, 0.05, 0.16}, UV_ALLOY));
  m.append(box(HEAD - a * 0.2, {0.52, 0.06, 0.18}, UV_ALLOY));
  // Handlebar with its bend, grips and the bar pad.
  V3 clamp = HEAD + a * 0.3;
  V3 mid_r{0.45, 3.48, 2.28}, end_r{1.3, 3.5, 2.3};
  m.append(cylinder(clamp + V3{0.15, 0.05, 0}, mid_r, 0.045, 6, false, UV_ALLOY));
  m.append(cylinder(clamp + V3{-0.15, 0.05, 0}, V3{-mid_r.x, mid_r.y, mid_r.z}, 0.045, 6, false, UV_ALLOY));
  m.append(cylinder(mid_r, {1.0, 3.5, 2.3}, 0.045, 6, false, UV_ALLOY));
  m.append(cylinder({-mid_r.x, mid_r.y, mid_r.z}, {-1.0, 3.5, 2.3}, 0.045, 6, false, UV_ALLOY));
  m.append(cylinder({1.0, 3.5, 2.3}, end_r, 0.07, 8, true, UV_DARK));
  m.append(cylinder({-1.0, 3.5, 2.3}, {-end_r.x, end_r.y, end_r.z}, 0.07, 8, true, UV_DARK));
  m.append(box(clamp + V3{0, 0.14, 0}, {0.3, 0.06, 0.07}, UV_PLASTIC));
  // Levers.
  m.append(box({0.85, 3.47, 2.12}, {0.2, 0.02, 0.03}, UV_ALLOY));
  m.append(box({-0.85, 3.47, 2.12}, {0.2, 0.02, 0.03}, UV_ALLOY));
  return m;
}

Mesh fork_lower_part() {
  Mesh m;
  V3 a = fork_axis();
  for (double side : {-1.0, 1.0}) {
    V3 foot = FRONT_AXLE + V3{LEG_X * side, 0, 0} - a * 0.12;
    V3 top = FRONT_AXLE + a * 1.15 + V3{LEG_X * side, 0, 0};
    m.append(cylinder(foot, top, 0.13, 10, true, UV_FORK_TUBE));
    m.append(box(FRONT_AXLE + V3{LEG_X * side, 0, 0}, {0.08, 0.12, 0.12}, UV_ALLOY));  // axle lug
  }
  // Front fender: a curved band over the tyre.
  Mesh fender;
  const int steps = 10;
  for (int i = 0; i <= steps; i++) {
    double t = -0.9 + 1.5 * i / steps;  // angle from straight up, towards the back
    double r = 1.32;
    V3 c = FRONT_AXLE + V3{0, std::cos(t) * r, std::sin(t) * r};
    V3 n{0, std::cos(t), std::sin(t)};
    double v = UV_PLASTIC.v0 + (UV_PLASTIC.v1 - UV_PLASTIC.v0) * i / steps;
    fender.add(c + V3{-0.3, 0, 0}, n, UV_PLASTIC.u0, v);
    fender.add(c + V3{0.3, 0, 0}, n, UV_PLASTIC.u1, v);
  }
  for (int i = 0; i < steps; i++) {
    int k = 2 * i;
    fender.quad(k, k + 2, k + 3, k + 1);
  }
  // Both faces: the underside shows from below.
  Mesh under = fender;
  for (MeshVertex& v : under.vertices) v.n = v.n * -1.0;
  for (auto& t : under.triangles) std::swap(t[1], t[2]);
  m.append(fender);
  m.append(under);
  return m;
}

Mesh swingarm_part() {
  Mesh m;
  for (double side : {-1.0, 1.0}) {
    V3 from = PIVOT + V3{0.42 * side, 0, 0}, to = REAR_AXLE + V3{0.42 * side, 0, 0.12};
    m.append(cone(from, to, 0.12, 0.08, 4, true, UV_ALLOY));
    m.append(box(REAR_AXLE + V3{0.42 * side, 0, 0}, {0.05, 0.1, 0.14}, UV_ALLOY));
  }
  m.append(cylinder(PIVOT + V3{-0.45, 0, 0}, PIVOT + V3{0.45, 0, 0}, 0.07, 8, true, UV_ALLOY));
  m.append(box({0, 1.48, 4.6}, {0.38, 0.06, 0.12}, UV_ALLOY));  // brace
  // Chain run on the left, the sprocket at the axle.
  m.append(box({-0.5, 1.32, 5.05}, {0.02, 0.05, 0.95}, UV_DARK));
  m.append(cylinder({-0.52, 1.04, 6.0}, {-0.48, 1.04, 6.0}, 0.36, 16, true, UV_DARK));
  // Linkage under the swingarm.
  m.append(box({0, 1.15, 4.45}, {0.1, 0.08, 0.3}, UV_ALLOY));
  return m;
}

// Number boards: texture coordinates span the whole plate picture, which
// the game draws with the rider's number.
Mesh side_plates_part() {
  Mesh right = panel({0.33, 2.65, 5.2}, {0.33, 2.72, 4.25}, {0.33, 3.22, 4.3}, {0.33, 3.2, 5.3});
  return mirror_pair(right);
}

Mesh front_plate_part() {
  V3 a = fork_axis();
  V3 c = HEAD + a * 0.05 + V3{0, 0, -0.32};
  V3 up = a, across{1, 0, 0};
  Mesh m = panel(c - across * 0.42 - up * 0.38, c + across * 0.42 - up * 0.38, c + across * 0.42 + up * 0.38,
                 c - across * 0.42 + up * 0.38);
  // It faces forward (-z): make sure the winding agrees.
  if (m.vertices[0].n.z > 0) {
    for (MeshVertex& v : m.vertices) v.n = v.n * -1.0;
    for (auto& t : m.triangles) std::swap(t[1], t[2]);
  }
  return m;
}

Mesh wheel_part(double ring, double tube, bool front) {
  // Drawn about the axle: the wheel body's origin. Tyre, rim, hub, spokes,
  // and on the front the brake disc.
  const UvRect tyre{0, 0, 1, 0.5}, rim{0, 0.5, 0.5, 0.75}, spokes{0.5, 0.5, 1, 0.75}, hub{0, 0.75, 1, 1};
  Mesh m = torus_x({0, 0, 0}, ring + 0.02, tube - 0.02, 32, 8, tyre);
  double rim_r = ring - tube + 0.04;
  m.append(torus_x({0, 0, 0}, rim_r, 0.05, 32, 4, rim));
  m.append(cylinder({-0.2, 0, 0}, {0.2, 0, 0}, 0.12, 10, true, hub));
  for (int i = 0; i < 18; i++) {
    double a = 2 * M_PI * i / 18;
    double side = i % 2 ? 0.16 : -0.16;
    V3 at_hub{side, std::cos(a) * 0.1, std::sin(a) * 0.1};
    V3 at_rim{0, std::cos(a + 0.3) * rim_r, std::sin(a + 0.3) * rim_r};
    m.append(cylinder(at_hub, at_rim, 0.012, 3, false, spokes));
  }
  if (front) m.append(cylinder({-0.24, 0, 0}, {-0.22, 0, 0}, 0.45, 16, true, hub));
  else m.append(cylinder({-0.27, 0, 0}, {-0.25, 0, 0}, 0.38, 16, true, hub));
  return m;
}

// --- textures ---------------------------------------------------------------------------------

}  // namespace

BikeLook bike_look(const std::string& stem) {
  BikeLook l;
  auto starts = [&](const char* p) { return stem.compare(0, strlen(p), p) == 0; };
  if (starts("cr")) l.plastic = {0.82, 0.08, 0.06}, l.accent = {1, 1, 1}, l.frame = {0.75, 0.76, 0.78};
  else if (starts("kx")) l.plastic = {0.35, 0.75, 0.1}, l.accent = {0.05, 0.05, 0.05}, l.frame = {0.2, 0.22, 0.24};
  else if (starts("rm")) l.plastic = {0.95, 0.82, 0.05}, l.accent = {0.1, 0.2, 0.6}, l.frame = {0.7, 0.72, 0.74};
  else if (starts("yz")) l.plastic = {0.1, 0.22, 0.72}, l.accent = {1, 1, 1}, l.frame = {0.15, 0.2, 0.5};
  else l.plastic = {0.95, 0.45, 0.02}, l.accent = {0.05, 0.05, 0.05}, l.frame = {0.95, 0.45, 0.02};
  // The number in the stem (450, 250, 125, 350) goes on the shrouds.
  for (size_t i = 0; i < stem.size(); i++)
    if (stem[i] >= '0' && stem[i] <= '9') {
      l.label = stem.substr(i, 3);
      break;
    }
  // Later model years get a second stripe.
  l.year_stripe = stem.find("v201") != std::string::npos;
  return l;
}

Picture bike_texture(const BikeLook& look, int style) {
  const int S = 256;
  Picture t(S, S);
  Random random(4000 + (uint64_t)style);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double u = (x + 0.5) / S, v = (y + 0.5) / S;
      double n = 0.04 * fractal_noise(90, x / 12.0, y / 12.0, 3, 0.5);
      Rgb c;
      if (v < 0.5 && u < 0.5) {
        // Shroud graphics: the plastic colour with diagonal stripes.
        c = look.plastic;
        double d = u * 1.4 + v;
        if (style == 1) c = Rgb{0.08, 0.08, 0.1};
        if (std::fmod(d, 0.5) < 0.08) c = look.accent;
        if (look.year_stripe && std::fmod(d + 0.2, 0.5) < 0.03) c = mix(look.accent, look.plastic, 0.5);
        if (style == 2 && v > 0.32) c = Rgb{0.95, 0.95, 0.95};
      } else if (v < 0.25) {
        // Seat: black with a grip pattern.
        c = Rgb{0.08, 0.08, 0.09};
        if ((x / 4 + y / 4) % 2 == 0) c = Rgb{0.13, 0.13, 0.14};
        if (style != 1 && v > 0.2) c = look.plastic;
      } else if (v < 0.5) {
        c = style == 1 ? Rgb{0.08, 0.08, 0.1} : look.plastic;
        if (style == 2) c = Rgb{0.95, 0.95, 0.95};
      } else if (v < 0.75) {
        if (u < 0.25) c = look.frame;
        else if (u < 0.5) c = Rgb{0.42, 0.43, 0.45};  // engine
        else if (u < 0.75) c = Rgb{0.72, 0.72, 0.74}; // exhaust
        else c = Rgb{0.85, 0.68, 0.25};                // fork tubes
        if (u >= 0.25 && u < 0.5 && (y % 8) < 2) c = scale(c, 0.8);  // cooling fins
      } else {
        c = u < 0.5 ? Rgb{0.7, 0.71, 0.73} : Rgb{0.1, 0.1, 0.11};
      }
      t.set(x, y, scale(c, 1 + n));
    }
  if (!look.label.empty()) {
    double px = 7;
    double w = text_width(look.label.c_str(), px);
    draw_text(&t, look.label.c_str(), (128 - w) / 2, 70, px, style == 1 ? look.plastic : Rgb{1, 1, 1});
  }
  (void)random;
  return t;
}

namespace {

Picture wheel_texture(Rgb rim_colour, Rgb hub_colour) {
  const int S = 128;
  Picture t(S, S);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double u = (x + 0.5) / S, v = (y + 0.5) / S;
      Rgb c;
      if (v < 0.5) {
        // Tyre: knobs across the tread (middle of the tube), side wall
        // lettering band towards the edges.
        double across = v / 0.5;
        bool tread = across > 0.3 && across < 0.7;
        bool knob = ((int)(u * 48) + (int)(across * 8)) % 2 == 0;
        c = tread && knob ? Rgb{0.14, 0.14, 0.14} : Rgb{0.07, 0.07, 0.07};
        if (!tread && std::fabs(across - 0.15) < 0.03) c = Rgb{0.3, 0.3, 0.3};
      } else if (v < 0.75) {
        c = u < 0.5 ? rim_colour : Rgb{0.78, 0.78, 0.8};
      } else {
        c = hub_colour;
        if ((x / 6) % 3 == 0) c = scale(c, 0.85);
      }
      t.set(x, y, c);
    }
  return t;
}

}  // namespace

void build_bike_models(DataSet* set) {
  const BikeModel* table = bike_model_table();
  std::set<std::string> done;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    const BikeModel& m = table[i];
    std::string frame_file = m.files[FILE_FRAME_MODEL] + 1;  // without "@"
    std::string stem = frame_file.substr(0, frame_file.size() - strlen("_frame.jm"));
    if (!done.insert(stem).second) continue;
    bool two_stroke = m.engine_class[strlen(m.engine_class) - 1] != 'f';
    auto put = [&](int file, const Mesh& mesh) {
      put_member(set, "bikes.saf", m.files[file] + 1, bytes_of(jm_text({mesh})));
    };
    put(FILE_FRAME_MODEL, in_body(frame_part(two_stroke), FRAME_AT));
    put(FILE_FORK_UPPER_MODEL, in_body(fork_upper_part(), FORK_UPPER_AT));
    put(FILE_FORK_LOWER_MODEL, in_body(fork_lower_part(), FORK_LOWER_AT));
    put(FILE_SWINGARM_MODEL, in_body(swingarm_part(), SWINGARM_AT));
    put(FILE_SIDE_PLATES_MODEL, in_body(side_plates_part(), FRAME_AT));
    put(FILE_FRONT_PLATE_MODEL, in_body(front_plate_part(), FORK_UPPER_AT));
    Picture texture = bike_texture(bike_look(stem), 0);
    std::vector<uint8_t> rgb = texture.rgb();
    put_member(set, "bikes.saf", m.files[FILE_BIKE_TEXTURE] + 1, png_rgb_bytes(rgb.data(), texture.width, texture.height));
  }
  const BikeModel& any = table[0];
  put_member(set, "bikes.saf", any.files[FILE_FRONT_WHEEL_MODEL] + 1,
             bytes_of(jm_text({wheel_part(any.front_ring_radius, any.front_section_radius, true)})));
  put_member(set, "bikes.saf", any.files[FILE_REAR_WHEEL_MODEL] + 1,
             bytes_of(jm_text({wheel_part(any.rear_ring_radius, any.rear_section_radius, false)})));
  Picture wheels = wheel_texture({0.1, 0.1, 0.1}, {0.7, 0.7, 0.72});
  std::vector<uint8_t> rgb = wheels.rgb();
  put_member(set, "bikes.saf", any.files[FILE_WHEEL_TEXTURE] + 1, png_rgb_bytes(rgb.data(), wheels.width, wheels.height));
}

Picture wheel_look(int style) {
  static const Rgb rims[4] = {{0.1, 0.1, 0.1}, {0.85, 0.6, 0.1}, {0.1, 0.25, 0.75}, {0.8, 0.1, 0.1}};
  static const Rgb hubs[4] = {{0.7, 0.7, 0.72}, {0.1, 0.1, 0.1}, {0.75, 0.75, 0.75}, {0.85, 0.6, 0.1}};
  return wheel_texture(rims[style % 4], hubs[style % 4]);
}

}  // namespace dvdata
