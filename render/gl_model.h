// Drawing models: display lists for static meshes (and for every mesh when
// the shader programs skin on the GPU), the lit pass with its materials and
// unlit meshes, the reflective pass, software skinning on the fixed-function
// path, and the level of detail chosen by the camera's distance.
#pragma once

#include "core/types.h"
#include "render/model.h"

struct Texture;

// The camera as the model passes need it.
struct DrawCamera {
  Vec3 position;         // world
  float world_to_eye[9]; // row-major rotation: world directions into the eye's frame
};

// Textures of one object: the base texture and, for the shader path, its
// normal and specular companions (any may be null).
struct ModelTextures {
  const Texture* texture;
  const Texture* normal;
  const Texture* specular;
};

// Object-to-world transforms are column-major 4 x 4 (GL's order), rigid.
// The modelview must hold the camera's view matrix on entry; it is restored.

// Meshes up to the first reflective one, with their materials; skinned
// meshes take the bones (or are drawn in their bind pose without).
void draw_model_lit(const Model& model, const float object[16], const DrawCamera& camera, const BoneSet* bones,
                    const ModelTextures& textures);
// The reflective meshes (s = -1) with the environment texture.
void draw_model_reflective(const Model& model, const float object[16], const DrawCamera& camera,
                           const BoneSet* bones, const Texture* environment);

// Draw triangle by triangle instead of from vertex arrays (the graphics
// setting for drivers whose arrays misbehave).
extern bool g_model_immediate_mode;

// Frees a model's display lists; installed as g_release_model_gpu.
void release_model_gpu(Model* model);

// The light model's and light 0's state the lit pass leaves behind it, to
// restore after unlit meshes: the renderer sets them per frame.
struct SceneLight {
  float global_ambient[4];
  float ambient[4];
};
extern SceneLight g_scene_light;
