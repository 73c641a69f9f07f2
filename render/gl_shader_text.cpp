// The GLSL text of the seven programs (GLSL 1.10 with the compatibility
// built-ins: the light, material, fog and matrix state come from the
// fixed-function calls the drawing code makes anyway, so both paths read
// one set of state).
#include <string>

#include "render/gl_shaders.h"

namespace {

const char* const PREFIX = "#define MAX_BONE 10\n";

// --- vertex side -------------------------------------------------------------

// Skinning: with nbones 0 the vertex is used as given; otherwise four
// weighted bones from texture-coordinate sets 2 (weights) and 3 (indices).
const char* const SKIN = R"(
uniform int nbones;
uniform vec3 bone_c[MAX_BONE];
uniform vec3 bone_t[MAX_BONE];
uniform mat3 bone_r[MAX_BONE];

void add_bone(float w, float index, vec3 p, vec3 n, vec3 t,
              inout vec3 sp, inout vec3 sn, inout vec3 st) {
  if (w > 0.0) {
    int b = int(index + 0.5);
    mat3 r = bone_r[b];
    sp += w * (r * (p - bone_c[b]) + bone_t[b]);
    sn += w * (r * n);
    st += w * (r * t);
  }
}

void skin(inout vec4 p, inout vec3 n, inout vec3 t) {
  if (nbones > 0) {
    vec4 w = gl_MultiTexCoord2;
    vec4 b = gl_MultiTexCoord3;
    vec3 sp = vec3(0.0), sn = vec3(0.0), st = vec3(0.0);
    add_bone(w.x, b.x, p.xyz, n, t, sp, sn, st);
    add_bone(w.y, b.y, p.xyz, n, t, sp, sn, st);
    add_bone(w.z, b.z, p.xyz, n, t, sp, sn, st);
    add_bone(w.w, b.w, p.xyz, n, t, sp, sn, st);
    p = vec4(sp, 1.0);
    n = sn;
    t = st;
  }
}
)";

// Lit and reflective meshes: eye position, eye normal and tangent.
const char* const MESH_VERTEX = R"(
varying vec3 v_eye;
varying vec3 v_normal;
varying vec3 v_tangent;

void main() {
  vec4 p = gl_Vertex;
  vec3 n = gl_Normal;
  vec3 t = gl_MultiTexCoord1.xyz;
  skin(p, n, t);
  vec4 eye = gl_ModelViewMatrix * p;
  v_eye = eye.xyz;
  v_normal = gl_NormalMatrix * n;
  v_tangent = gl_NormalMatrix * t;
  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
  gl_FrontColor = gl_Color;
  gl_Position = gl_ProjectionMatrix * eye;
}
)";

// The ground: painted texture on unit 0, its normal and specular companions
// on units 1 and 2 (texture matrices place them).
const char* const TERRAIN_VERTEX = R"(
varying vec3 v_eye;

void main() {
  vec4 eye = gl_ModelViewMatrix * gl_Vertex;
  v_eye = eye.xyz;
  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
  gl_TexCoord[1] = gl_TextureMatrix[1] * gl_MultiTexCoord0;
  gl_TexCoord[2] = gl_TextureMatrix[2] * gl_MultiTexCoord0;
  gl_FrontColor = gl_Color;
  gl_Position = gl_ProjectionMatrix * eye;
}
)";

// Painting a normal texture: the tile's texel coordinates, and the base
// normal's position from texture matrix 1 applied to the painted vertex.
const char* const TERRAIN_NORMALS_VERTEX = R"(
varying vec3 v_eye;

void main() {
  vec4 eye = gl_ModelViewMatrix * gl_Vertex;
  v_eye = eye.xyz;
  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
  gl_TexCoord[1] = gl_TextureMatrix[1] * gl_Vertex;
  gl_Position = gl_ProjectionMatrix * eye;
}
)";

// --- fragment side -----------------------------------------------------------

// Exponential fog on the eye-space depth: density 0 leaves the colour as it is.
const char* const FOG = R"(
vec3 fogged(vec3 colour, float z) {
  float f = clamp(exp2(-1.4426950408889634 * gl_Fog.density * z), 0.0, 1.0);
  return mix(gl_Fog.color.rgb, colour, f);
}
)";

// Light 0 as the lit programs share it: ambient without the light model's,
// diffuse by n.l, the reflection term for the specular; both 0 facing away.
const char* const LIGHT = R"(
varying vec3 v_eye;

vec4 light_ambient() {
  vec4 a = gl_FrontMaterial.ambient * gl_LightSource[0].ambient;
  a.a = min(a.a, 1.0);
  return a;
}
vec4 light_diffuse() { return gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse; }

void light_terms(vec3 n, out float ndl, out float rdl) {
  vec3 l = normalize(gl_LightSource[0].position.xyz);
  vec3 view = normalize(v_eye);
  ndl = dot(n, l);
  rdl = max(dot(reflect(view, n), l), 0.0);
  if (ndl < 0.0) {
    ndl = 0.0;
    rdl = 0.0;
  }
}
)";

// The normal from a tangent-space normal map on unit 1.
const char* const NORMAL_MAP = R"(
uniform sampler2D nmap;
varying vec3 v_normal;
varying vec3 v_tangent;

vec3 mapped_normal() {
  vec3 n = normalize(v_normal);
  vec3 t = v_tangent - n * dot(n, v_tangent);
  float tl = length(t);
  t = tl > 1e-6 ? t / tl : vec3(1.0, 0.0, 0.0);
  vec3 b = cross(n, t);
  vec3 m = texture2D(nmap, gl_TexCoord[0].st).rgb * 2.0 - 1.0;
  return normalize(t * m.x + b * m.y + n * m.z);
}
)";

const char* const LIT_FRAGMENT = R"(
uniform sampler2D tex;
varying vec3 v_normal;

void main() {
  vec3 n = normalize(v_normal);
  float ndl, rdl;
  light_terms(n, ndl, rdl);
  vec4 colour = (light_ambient() + light_diffuse() * ndl) * texture2D(tex, gl_TexCoord[0].st);
  colour.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb *
                pow(rdl, gl_FrontMaterial.shininess);
  gl_FragColor = vec4(fogged(colour.rgb, -v_eye.z), clamp(colour.a, 0.0, 1.0));
}
)";

const char* const NORM_LIT_FRAGMENT = R"(
uniform sampler2D tex;

void main() {
  vec3 n = mapped_normal();
  float ndl, rdl;
  light_terms(n, ndl, rdl);
  vec4 colour = (light_ambient() + light_diffuse() * ndl) * texture2D(tex, gl_TexCoord[0].st);
  colour.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb *
                pow(rdl, gl_FrontMaterial.shininess);
  gl_FragColor = vec4(fogged(colour.rgb, -v_eye.z), clamp(colour.a, 0.0, 1.0));
}
)";

// The specular map gives the colour (RGB) and the exponent (alpha x 128 +
// 0.125; the top value means the material's own shininess).
const char* const NORM_SPEC_LIT_FRAGMENT = R"(
uniform sampler2D tex;
uniform sampler2D smap;

void main() {
  vec3 n = mapped_normal();
  float ndl, rdl;
  light_terms(n, ndl, rdl);
  vec4 colour = (light_ambient() + light_diffuse() * ndl) * texture2D(tex, gl_TexCoord[0].st);
  vec4 s = texture2D(smap, gl_TexCoord[0].st);
  float e = s.a * 128.0 + 0.125;
  if (e >= 127.875) e = gl_FrontMaterial.shininess;
  colour.rgb += s.rgb * gl_LightSource[0].specular.rgb * pow(rdl, e);
  gl_FragColor = vec4(fogged(colour.rgb, -v_eye.z), clamp(colour.a, 0.0, 1.0));
}
)";

// Reflective materials: the reflected view vector in the environment's
// frame becomes a polar texture coordinate around the map's centre.
const char* const ENV = R"(
uniform sampler2D tex;
uniform mat3 env_matrix;
varying vec3 v_eye;

vec2 environment_coordinate(vec3 n) {
  vec3 v = normalize(env_matrix * reflect(normalize(v_eye), n));
  float h = length(v.xz);
  vec2 d = h > 1e-6 ? v.xz / h : vec2(0.0);
  return vec2(0.5) + d * acos(clamp(v.y, -1.0, 1.0)) * 0.15915494309189535;
}
)";

const char* const ENV_FRAGMENT = R"(
varying vec3 v_normal;

void main() {
  vec4 colour = texture2D(tex, environment_coordinate(normalize(v_normal))) * gl_Color;
  gl_FragColor = vec4(fogged(colour.rgb, -v_eye.z), colour.a);
}
)";

const char* const NORM_ENV_FRAGMENT = R"(
void main() {
  vec4 colour = texture2D(tex, environment_coordinate(mapped_normal())) * gl_Color;
  gl_FragColor = vec4(fogged(colour.rgb, -v_eye.z), colour.a);
}
)";

// The ground: the painted normal texture holds x and z in red and blue and
// the light factor (255 - shadow) in green; y is rebuilt from x and z.
const char* const TERRAIN_FRAGMENT = R"(
uniform sampler2D tex;
uniform sampler2D nmap;
uniform sampler2D smap;

void main() {
  vec4 m = texture2D(nmap, gl_TexCoord[1].st);
  float lit = m.g;
  vec2 xz = m.rb * 2.0 - 1.0;
  vec3 world = vec3(xz.x, sqrt(max(1.0 - dot(xz, xz), 0.0)), xz.y);
  vec3 n = normalize(gl_NormalMatrix * world);
  float ndl, rdl;
  light_terms(n, ndl, rdl);
  vec4 colour = (light_ambient() + light_diffuse() * ndl * lit) * texture2D(tex, gl_TexCoord[0].st);
  vec4 s = texture2D(smap, gl_TexCoord[2].st);
  colour.rgb += s.r * gl_LightSource[0].specular.rgb * pow(rdl, s.g * 128.0 + 0.125) * lit;
  gl_FragColor = vec4(fogged(colour.rgb, -v_eye.z), 1.0);
}
)";

// Painting the ground's normal textures: a tile's normal texel is turned in
// the ground plane to follow the screen direction of its s axis, then into
// the frame of the terrain's base normal; the light factor comes from the
// base texture, the coverage from the tile texel.
const char* const TERRAIN_NORMALS_FRAGMENT = R"(
uniform sampler2D tex;
uniform sampler2D base;

void main() {
  vec4 t = texture2D(tex, gl_TexCoord[0].st);
  vec3 m = t.rgb * 2.0 - 1.0;
  vec2 ds = vec2(dFdx(gl_TexCoord[0].s), dFdy(gl_TexCoord[0].s));
  float dl = length(ds);
  vec2 d = dl > 1e-9 ? ds / dl : vec2(1.0, 0.0);
  vec2 planar = vec2(m.x * d.x - m.y * d.y, m.x * d.y + m.y * d.x);

  vec4 b = texture2D(base, gl_TexCoord[1].st);
  vec2 bxz = b.rb * 2.0 - 1.0;
  vec3 up = normalize(vec3(bxz.x, sqrt(max(1.0 - dot(bxz, bxz), 0.0)), bxz.y));
  vec3 ax = vec3(1.0, 0.0, 0.0) - up * up.x;
  ax = length(ax) > 1e-6 ? normalize(ax) : vec3(0.0, 0.0, 1.0);
  vec3 az = cross(ax, up);
  vec3 n = normalize(ax * planar.x + az * planar.y + up * m.z);
  float h = length(n.xz);
  if (h > 126.0 / 128.0) n.xz *= (126.0 / 128.0) / h;
  gl_FragColor = vec4((n.x + 1.0) * 0.5, b.g, (n.z + 1.0) * 0.5, t.a);
}
)";

struct Source {
  std::string vertex, fragment;
};

Source build(int program) {
  std::string p = PREFIX;
  switch (program) {
    case PROGRAM_LIT:
      return {p + SKIN + MESH_VERTEX, p + FOG + LIGHT + LIT_FRAGMENT};
    case PROGRAM_ENV:
      return {p + SKIN + MESH_VERTEX, p + FOG + ENV + ENV_FRAGMENT};
    case PROGRAM_NORM_LIT:
      return {p + SKIN + MESH_VERTEX, p + FOG + LIGHT + NORMAL_MAP + NORM_LIT_FRAGMENT};
    case PROGRAM_NORM_ENV:
      return {p + SKIN + MESH_VERTEX, p + FOG + ENV + NORMAL_MAP + NORM_ENV_FRAGMENT};
    case PROGRAM_NORM_SPEC_LIT:
      return {p + SKIN + MESH_VERTEX, p + FOG + LIGHT + NORMAL_MAP + NORM_SPEC_LIT_FRAGMENT};
    case PROGRAM_TERRAIN_NORMALS:
      return {p + TERRAIN_NORMALS_VERTEX, p + TERRAIN_NORMALS_FRAGMENT};
    case PROGRAM_TERRAIN:
      return {p + TERRAIN_VERTEX, p + FOG + LIGHT + TERRAIN_FRAGMENT};
    default:
      return {};
  }
}

struct Sources {
  Source program[PROGRAM_COUNT];
  Sources() {
    for (int i = 1; i < PROGRAM_COUNT; i++) program[i] = build(i);
  }
};

}  // namespace

const char* shader_source(int program, bool fragment) {
  static const Sources sources;
  if (program <= 0 || program >= PROGRAM_COUNT) return "";
  const Source& s = sources.program[program];
  return fragment ? s.fragment.c_str() : s.vertex.c_str();
}

const char* program_name(int program) {
  static const char* const names[PROGRAM_COUNT] = {"fixed", "lit", "env", "norm_lit", "norm_env",
                                                   "norm_spec_lit", "terrain_normals", "terrain"};
  return program >= 0 && program < PROGRAM_COUNT ? names[program] : "unknown";
}
