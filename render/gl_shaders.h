// The seven GLSL programs (ARB shader objects), their selection, and the
// uniforms the drawing code sets: bones for skinned riders and the
// environment matrix of reflective materials. Program 0 is the fixed-function
// pipeline, which everything falls back to when shaders are off or failed.
//
// Vertex inputs beyond the usual ones: texture-coordinate set 1 carries the
// tangent (x, y, z), set 2 the four bone weights and set 3 the four bone
// indices. Samplers: "tex" on unit 0, "nmap" and "base" on unit 1, "smap" on
// unit 2.
#pragma once

constexpr int MAX_BONE = 10;

enum ShaderProgram {
  PROGRAM_FIXED = 0,
  PROGRAM_LIT = 1,
  PROGRAM_ENV,
  PROGRAM_NORM_LIT,
  PROGRAM_NORM_ENV,
  PROGRAM_NORM_SPEC_LIT,
  PROGRAM_TERRAIN_NORMALS,
  PROGRAM_TERRAIN,
  PROGRAM_COUNT
};

// "lit", "env", "norm_lit", "norm_env", "norm_spec_lit", "terrain_normals",
// "terrain"; "fixed" for 0.
const char* program_name(int program);
// The GLSL text of a program's vertex or fragment shader (each begins with
// "#define MAX_BONE 10").
const char* shader_source(int program, bool fragment);

// Compiles and links all seven, logging every non-empty information log as
// "%s for %s:\n%s\n". One failure fails the set (and frees what was made).
bool compile_shaders();
void free_shaders();

// The global switch the drawing code reads.
bool shaders_active();
void set_shaders_active(bool active);

// Selects a program (0: fixed function). Ignored while shaders are inactive.
void use_program(int program);
int current_program();

// Bones for the current program: count 0 draws unskinned. Centres and
// translations are count x 3 floats, rotations count x 9 (by columns).
void set_bones(int count, const float* centres, const float* translations, const float* rotations);
// The 3 x 3 matrix (by columns) that turns reflected eye-space vectors into
// the environment map's frame, for "env" and "norm_env".
void set_environment_matrix(const float m[9]);
