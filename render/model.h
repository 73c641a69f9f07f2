// Models: triangle meshes from the plain shape format (".shp") and the "JM"
// format (several meshes per file, materials, bone weights), the cache keyed
// by name with generations and "_lod" chains, the level-of-detail choice,
// tangents, software skinning and the "mesh2" export. Display lists and
// drawing are the GL side's (render/gl_model.h); nothing here touches GL.
//
// The plain shape format is text: "V T", then V vertices of eight numbers
// (position, normal, texture u v), then T index triples. The JM format
// starts "JM1" or "JM2"; version 2 adds "B skeleton" (bone count and a
// word); then meshes follow, each "s a r g b V T", V vertices of eight
// numbers plus B weights, and T index triples, until a header fails to parse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DataStream;

// Bounds that keep a damaged file from asking for gigabytes.
constexpr int MODEL_MAX_VERTICES = 1 << 20;
constexpr int MODEL_MAX_TRIANGLES = 1 << 21;
constexpr int MODEL_MAX_BONES = 64;
constexpr int BONE_SLOTS = 4;
constexpr float SHAPE_SHININESS = 32.0f;

enum MeshMode { MESH_LIT, MESH_REFLECTIVE, MESH_UNLIT };

struct Mesh {
  int vertex_count = 0, triangle_count = 0;
  std::vector<float> positions, normals;            // V x 3, current (skinned) values
  std::vector<float> bind_positions, bind_normals;  // V x 3, skinned meshes only
  std::vector<float> bind_tangents;                 // V x 3, skinned meshes only
  std::vector<float> texcoords;                     // V x 2, v = 1 - the file's v
  std::vector<float> tangents;                      // V x 3, sums over the triangles
  std::vector<float> weights;                       // V x 4, skinned meshes only
  std::vector<int> bones;                           // V x 4, skinned meshes only
  std::vector<float> reflection;                    // V x 2, reflective meshes, per frame
  std::vector<uint32_t> triangles;                  // T x 3
  float s = SHAPE_SHININESS;  // >= 0 (or above -2 except -1): shininess; -1 reflective; <= -2 unlit
  float r = 1, g = 1, b = 1;
  float a = 1;  // the file's value when s < 0, else 1
  int bone_count = 0;
  unsigned display_list = 0;
  bool reflective = false;
};

struct Model;

struct LodLevel {
  float factor;  // 2^number of the file name
  Model* model;
};

struct Model {
  std::string name;
  std::string skeleton;  // the JM2 word; nothing reads it
  std::vector<Mesh> meshes;
  std::vector<LodLevel> lod;  // ascending factor
  int generation = 0;
  bool reflective = false;  // any mesh is
  bool cached = false;
};

MeshMode mesh_mode(const Mesh& mesh);

// --- reading ------------------------------------------------------------------

// Reads a whole model from a stream; `name` labels messages. Returns nullptr
// (with a message) when the file is neither format, a JM version other than
// 1 or 2, a plain shape with a missing number, or a file without meshes.
Model* read_model(DataStream* stream, const char* name);
// The same from bytes in memory (fuzzing, tests).
Model* read_model_bytes(const void* bytes, size_t size, const char* name);
void delete_model(Model* model);

// The four bone slots of one vertex from its B weights: only positive
// weights are kept, each new one replacing the smallest held (the first
// slot wins ties), then divided by their sum, or 0.25 each when none is
// positive. Returns true when a held weight was pushed out.
bool pick_bone_weights(const float* weights, int count, float slot_weight[BONE_SLOTS], int slot_bone[BONE_SLOTS]);

// Per-vertex tangents along increasing u: a unit vector per triangle with
// the sign of its texture-space determinant, a tiny one along the longer
// edge for degenerate triangles, summed at the vertices.
void compute_tangents(Mesh* mesh);

// --- the cache --------------------------------------------------------------------

struct ModelSettings {
  double lod_scale = 1.0;  // "--lod-scale", clamped to 1e-6..1e6
  double lod_bias = 0.0;   // "--lod-bias"
  int verbosity = 0;
};
extern ModelSettings g_model_settings;

// Called for each model before it is freed (the GL side frees display lists).
extern void (*g_release_model_gpu)(Model* model);

// Cache lookup (exact name, else case-insensitive with a warning), else the
// file; for "@" names every "<stem>_lod<number>" data file joins the chain.
// nullptr when the file cannot be opened or parsed.
Model* load_model(const char* name);

// Drops models of older generations (the texture generation of the track
// load), or everything with `all`.
void purge_models(bool all);
int cached_model_count();

// The level of the chain to draw at camera distance d.
const Model* choose_lod(const Model& model, double distance);

// --- skinning and export ------------------------------------------------------------

// One bone: centre c, rotation R (3 x 3 by columns: (row, col) at row + 3 col)
// and translation t; a vertex moves to R (p - c) + t.
struct BoneSet {
  int count;
  const float* centres;       // count x 3
  const float* translations;  // count x 3
  const float* rotations;     // count x 9
};

// Positions, normals and tangents from the bind pose through the bones.
// Nothing happens unless the bone count matches the mesh's.
bool skin_mesh(Mesh* mesh, const BoneSet& bones);

// Reflection texture coordinates: `eye` is the camera in the object's frame,
// `to_camera` the 3 x 3 (row-major) turning object directions into the
// camera's frame (x right, y up, z back).
void compute_reflection_coordinates(Mesh* mesh, const float eye[3], const float to_camera[9]);

// POV-Ray "mesh2" block.
bool export_mesh(const Mesh& mesh, DataStream* out);
