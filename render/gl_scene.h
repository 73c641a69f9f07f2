// The pieces of a frame that render_scene puts together, each in its own
// file: objects (gl_objects.cpp), bikes and roost (gl_bikes.cpp), and the
// helpers they share.
#pragma once

#include "render/gl_model.h"
#include "render/renderer.h"

// Camera-facing quads: the eye's right and up axes in the world.
struct Billboarding {
  Vec3 right, up;
};

DrawCamera draw_camera(const SceneCamera& camera);
Billboarding billboarding(const SceneCamera& camera);
// Column-major object matrix from a row-major rotation and a position.
void object_matrix(const float rotation[9], Vec3 position, float out[16]);

// Opaque objects: statues and the starting gates (falling at the drop).
void draw_statues(const Scene& scene, const DrawCamera& camera);
// Blended sprites, far to near: billboards and flaggers.
void draw_billboards(const Scene& scene);
// Every bike with its rider, wheels and number plates.
void draw_bikes(const Scene& scene, const DrawCamera& camera);
// After a track load: every shown bike looks its models and textures up
// again (keeping them in the new generation) before old models are purged.
void refresh_bike_looks(const Scene& scene);
void draw_roost(const Scene& scene);
void free_bike_drawing();
