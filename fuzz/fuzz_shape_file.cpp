// libFuzzer target: the ".shp" collision shape reader and sphere fitting.
#include <cstddef>
#include <cstdint>

#include "bike/part_shapes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ShapeMesh mesh;
  char error[64];
  if (parse_shape_mesh((const char*)data, size, &mesh, error, sizeof error)) {
    for (int index : mesh.triangles)
      if (index < 0 || index >= (int)mesh.positions.size()) __builtin_trap();
    CollisionShape shape;
    fit_collision_shape(mesh, &shape);
    if (shape.count < 1 || shape.count > SHAPE_MAX_SPHERES) __builtin_trap();
  }
  return 0;
}
