// The rider: helmet (the head model), the skinned body in riding gear
// (JM version 2 with the bones of render/rider_skeleton.h), the first-person
// body (arms, hands and legs only), the number plate on the back, and the
// default gear and helmet pictures.
//
// Everything is in the rider body's own frame: build-frame positions minus
// the rider body's build position. The bind pose is the bike model's rider
// figure, so a renderer that leaves the figure alone draws the rider as
// built.
#include <cmath>

#include "bike/bike_model.h"
#include "render/rider_skeleton.h"
#include "tools/dataset/bike_parts.h"
#include "tools/dataset/dataset.h"
#include "tools/dataset/mesh.h"

namespace dvdata {

namespace {

const V3 RIDER_AT{0, 4.5, 4.12};

// Atlas of the gear picture (256 x 256).
const UvRect UV_JERSEY{0, 0, 0.5, 0.5};
const UvRect UV_SLEEVE{0.5, 0, 1, 0.5};
const UvRect UV_PANTS{0, 0.5, 0.5, 1};
const UvRect UV_BOOT{0.5, 0.5, 0.75, 1};
const UvRect UV_GLOVE{0.75, 0.5, 1, 0.75};
const UvRect UV_PROTECTOR{0.75, 0.75, 1, 1};

V3 to_v3(Vec3 v) { return V3{v.x, v.y, v.z}; }

// A tube between two joints in rings, each ring weighted between the bone
// of the segment and the one after it near the far joint (and the one
// before it near the near joint), so elbows and knees bend smoothly.
void limb(Mesh* m, V3 a, V3 b, double ra, double rb, int bone, int before, int after, UvRect uv, int bones) {
  const int sides = 8, rings = 5;
  V3 axis = normalized(b - a);
  V3 helper = std::fabs(axis.y) < 0.9 ? V3{0, 1, 0} : V3{1, 0, 0};
  V3 e1 = normalized(cross3(helper, axis)), e2 = cross3(axis, e1);
  int base = (int)m->vertices.size();
  for (int k = 0; k <= rings; k++) {
    double t = (double)k / rings;
    V3 c = a + (b - a) * t;
    double r = ra + (rb - ra) * t;
    for (int i = 0; i <= sides; i++) {
      double angle = 2 * M_PI * i / sides;
      V3 radial = e1 * std::cos(angle) + e2 * std::sin(angle);
      int v = m->add(c + radial * r, radial, uv.u0 + (uv.u1 - uv.u0) * i / sides, uv.v0 + (uv.v1 - uv.v0) * t);
      std::vector<double>& w = m->vertices[(size_t)v].weights;
      w.assign((size_t)bones, 0.0);
      double to_next = after >= 0 ? 0.5 * smoothstep(0.7, 1.0, t) : 0.0;
      double to_prev = before >= 0 ? 0.5 * smoothstep(0.3, 0.0, t) : 0.0;
      w[(size_t)bone] = 1 - to_next - to_prev;
      if (after >= 0) w[(size_t)after] += to_next;
      if (before >= 0) w[(size_t)before] += to_prev;
    }
  }
  for (int k = 0; k < rings; k++)
    for (int i = 0; i < sides; i++) {
      int p = base + k * (sides + 1) + i, q = p + sides + 1;
      m->quad(p, q, q + 1, p + 1);
    }
  // Close both ends.
  Mesh caps;
  for (int end = 0; end < 2; end++) {
    V3 c = end ? b : a;
    Mesh d = disc(c, end ? axis : axis * -1.0, end ? rb : ra, sides, uv);
    bind_all(&d, bones, end ? (after >= 0 ? after : bone) : bone);
    caps.append(d);
  }
  m->append(caps);
}

struct Figure {
  V3 hand[2], elbow[2], foot[2], knee[2], hip[2], shoulder[2];
  V3 hip_mid, neck;
};

Figure rider_figure() {
  const BikeModel& model = bike_model_table()[0];
  Figure f;
  for (int s = 0; s < 2; s++) {
    f.hand[s] = to_v3(model.rider_figure[FIGURE_RIGHT_HAND + s]) - RIDER_AT;
    f.elbow[s] = to_v3(model.rider_figure[FIGURE_RIGHT_ELBOW + s]) - RIDER_AT;
    f.foot[s] = to_v3(model.rider_figure[FIGURE_RIGHT_FOOT + s]) - RIDER_AT;
    f.knee[s] = to_v3(model.rider_figure[FIGURE_RIGHT_KNEE + s]) - RIDER_AT;
    f.hip[s] = to_v3(model.rider_figure[FIGURE_RIGHT_HIP + s]) - RIDER_AT;
    double side = s == 0 ? 1 : -1;
    f.shoulder[s] = V3{RIDER_SHOULDER[0] * side, RIDER_SHOULDER[1], RIDER_SHOULDER[2]};
  }
  f.hip_mid = (f.hip[0] + f.hip[1]) * 0.5;
  f.neck = V3{0, 1.12, -0.55};
  return f;
}

// The whole body (first_person: without torso and neck, which would fill
// the view from inside the helmet).
Mesh rider_body(bool first_person) {
  const int B = RIDER_BONE_COUNT;
  const Figure f = rider_figure();
  Mesh m;
  if (!first_person) {
    // Torso leaning forward over the bars, hips over the seat.
    Mesh chest = ellipsoid({0, 0.3, -0.2}, {0.62, 0.72, 0.45}, 12, 8, UV_JERSEY);
    bind_all(&chest, B, RIDER_BONE_TORSO);
    m.append(chest);
    Mesh belly = ellipsoid({0, -0.3, 0.02}, {0.52, 0.42, 0.4}, 12, 6, UV_JERSEY);
    bind_all(&belly, B, RIDER_BONE_TORSO);
    m.append(belly);
    Mesh hips = ellipsoid(f.hip_mid + V3{0, 0.12, -0.05}, {0.5, 0.34, 0.42}, 12, 6, UV_PANTS);
    bind_all(&hips, B, RIDER_BONE_TORSO);
    m.append(hips);
    Mesh protector = box({0, 0.55, -0.5}, {0.42, 0.3, 0.08}, UV_PROTECTOR);
    rotate_x(&protector, 0.3);
    bind_all(&protector, B, RIDER_BONE_TORSO);
    m.append(protector);
    Mesh neck = cylinder({0, 0.85, -0.4}, f.neck, 0.24, 8, true, UV_PROTECTOR);
    bind_all(&neck, B, RIDER_BONE_TORSO);
    m.append(neck);
  }
  for (int s = 0; s < 2; s++) {
    int up = RIDER_BONE_RIGHT_UPPER_ARM + s, fore = RIDER_BONE_RIGHT_FOREARM + s;
    int thigh = RIDER_BONE_RIGHT_THIGH + s, shin = RIDER_BONE_RIGHT_SHIN + s;
    limb(&m, f.shoulder[s], f.elbow[s], 0.19, 0.15, up, first_person ? -1 : RIDER_BONE_TORSO, fore, UV_SLEEVE, B);
    limb(&m, f.elbow[s], f.hand[s], 0.15, 0.11, fore, up, -1, UV_SLEEVE, B);
    Mesh glove = ellipsoid(f.hand[s], {0.13, 0.1, 0.14}, 8, 5, UV_GLOVE);
    bind_all(&glove, B, fore);
    m.append(glove);
    limb(&m, f.hip[s], f.knee[s], 0.27, 0.2, thigh, first_person ? -1 : RIDER_BONE_TORSO, shin, UV_PANTS, B);
    V3 ankle = f.foot[s] + V3{0, 0.42, 0.08};
    limb(&m, f.knee[s], ankle, 0.2, 0.16, shin, thigh, -1, UV_BOOT, B);
    Mesh boot = box(f.foot[s] + V3{0, 0.2, -0.12}, {0.13, 0.22, 0.34}, UV_BOOT);
    bind_all(&boot, B, shin);
    m.append(boot);
    Mesh knee_pad = ellipsoid(f.knee[s] + V3{0, 0.02, -0.12}, {0.17, 0.2, 0.12}, 8, 5, UV_PROTECTOR);
    bind_all(&knee_pad, B, shin);
    m.append(knee_pad);
  }
  return m;
}

// Helmet with peak, chin guard and goggles, in the rider body's frame.
std::vector<Mesh> rider_head() {
  const V3 c{0, 1.5, -0.72};
  const UvRect shell{0, 0, 1, 0.5}, peak{0, 0.5, 0.5, 0.75}, goggle{0.5, 0.5, 1, 0.75};
  Mesh m = ellipsoid(c, {0.36, 0.4, 0.44}, 14, 10, shell);
  Mesh visor = box(c + V3{0, 0.3, -0.52}, {0.3, 0.02, 0.2}, peak);
  rotate_x(&visor, 0.0);
  m.append(visor);
  m.append(ellipsoid(c + V3{0, -0.28, -0.32}, {0.24, 0.15, 0.2}, 10, 6, peak));  // chin guard
  Mesh goggles = box(c + V3{0, 0.02, -0.4}, {0.3, 0.1, 0.06}, goggle);
  m.append(goggles);
  // The lens reflects the sky (a reflective mesh) at 70 % strength.
  Mesh lens = panel(c + V3{-0.26, -0.06, -0.47}, c + V3{0.26, -0.06, -0.47}, c + V3{0.26, 0.1, -0.47},
                    c + V3{-0.26, 0.1, -0.47});
  if (lens.vertices[0].n.z > 0) {
    for (MeshVertex& v : lens.vertices) v.n = v.n * -1.0;
    for (auto& t : lens.triangles) std::swap(t[1], t[2]);
  }
  lens.specular = -1;
  lens.alpha = 0.7;
  lens.r = 0.9, lens.g = 0.75, lens.b = 0.4;
  return {m, lens};
}

// The plate on the rider's back, showing the plate picture with the number.
Mesh rider_plate() {
  Mesh m = panel({0.32, -0.05, 0.25}, {-0.32, -0.05, 0.25}, {-0.3, 0.45, 0.12}, {0.3, 0.45, 0.12});
  if (m.vertices[0].n.z < 0) {
    for (MeshVertex& v : m.vertices) v.n = v.n * -1.0;
    for (auto& t : m.triangles) std::swap(t[1], t[2]);
  }
  return m;
}

std::vector<unsigned char> bytes_of(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

}  // namespace

Picture gear_texture(Rgb main, Rgb second) {
  const int S = 256;
  Picture t(S, S);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double u = (x + 0.5) / S, v = (y + 0.5) / S;
      double n = 0.05 * fractal_noise(123, x / 6.0, y / 6.0, 3, 0.5);
      Rgb c;
      if (v < 0.5 && u < 0.5) {
        // Jersey: main colour with a chest band and side panels.
        c = main;
        if (std::fabs(v - 0.3) < 0.05) c = second;
        if (u < 0.06 || u > 0.44) c = second;
      } else if (v < 0.5) {
        // Sleeves: stripes near the cuff.
        c = main;
        if (v > 0.38 && std::fmod(v, 0.04) < 0.02) c = second;
      } else if (u < 0.5) {
        // Pants: second colour with a knee panel and stitching.
        c = mix(second, Rgb{0.1, 0.1, 0.12}, 0.35);
        if (std::fabs(u - 0.25) < 0.06) c = main;
        if ((x % 32) == 0) c = scale(c, 0.7);
      } else if (u < 0.75) {
        // Boots: white with black buckles.
        c = Rgb{0.92, 0.92, 0.92};
        if (std::fmod(v, 0.1) < 0.025) c = Rgb{0.1, 0.1, 0.1};
      } else if (v < 0.75) {
        c = mix(main, Rgb{0.1, 0.1, 0.1}, 0.4);  // gloves
      } else {
        c = Rgb{0.15, 0.15, 0.17};  // protectors and brace
      }
      t.set(x, y, scale(c, 1 + n));
    }
  return t;
}

Picture helmet_texture(Rgb main, Rgb second) {
  const int S = 128;
  Picture t(S, S);
  for (int y = 0; y < S; y++)
    for (int x = 0; x < S; x++) {
      double u = (x + 0.5) / S, v = (y + 0.5) / S;
      Rgb c;
      if (v < 0.5) {
        // The shell, wrapped around: a stripe over the top, flames of the
        // second colour at the back.
        c = main;
        double around = u;
        if (std::fabs(around - 0.25) < 0.03 || std::fabs(around - 0.75) < 0.03) c = second;
        if (v > 0.3 && std::sin(around * 40) > 0.6 - (v - 0.3) * 4) c = second;
      } else if (u < 0.5) {
        c = second;  // peak and chin guard
      } else {
        c = Rgb{0.08, 0.08, 0.08};  // goggle strap and frame
        if (std::fmod(u, 0.1) < 0.04) c = main;
      }
      t.set(x, y, c);
    }
  return t;
}

void build_rider_models(DataSet* set) {
  const BikeModel& m = bike_model_table()[0];
  put_member(set, "riders.saf", m.files[FILE_RIDER_HEAD_MODEL] + 1, bytes_of(jm_text(rider_head())));
  put_member(set, "riders.saf", m.files[FILE_RIDER_BODY_MODEL] + 1,
             bytes_of(jm_text({rider_body(false)}, RIDER_BONE_COUNT, RIDER_SKELETON)));
  put_member(set, "riders.saf", m.files[FILE_RIDER_BODY_FP_MODEL] + 1,
             bytes_of(jm_text({rider_body(true)}, RIDER_BONE_COUNT, RIDER_SKELETON)));
  put_member(set, "riders.saf", m.files[FILE_RIDER_PLATE_MODEL] + 1, bytes_of(jm_text({rider_plate()})));
  Picture gear = gear_texture({0.85, 0.85, 0.88}, {0.12, 0.25, 0.7});
  std::vector<uint8_t> rgb = gear.rgb();
  put_member(set, "riders.saf", m.files[FILE_RIDER_BODY_TEXTURE] + 1, png_rgb_bytes(rgb.data(), gear.width, gear.height));
  Picture helmet = helmet_texture({0.95, 0.95, 0.95}, {0.1, 0.25, 0.75});
  rgb = helmet.rgb();
  put_member(set, "riders.saf", m.files[FILE_RIDER_HEAD_TEXTURE] + 1,
             png_rgb_bytes(rgb.data(), helmet.width, helmet.height));
}

}  // namespace dvdata
