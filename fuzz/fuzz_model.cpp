// The model reader (shape and JM formats) on arbitrary bytes, and what every
// model it accepts must satisfy: array sizes that match the counts, indices
// inside the mesh, weights that sum to one; skinning, reflection coordinates
// and the export then run over it without leaving its arrays.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "core/datafile.h"
#include "core/message.h"
#include "render/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  clear_message_lines();
  Model* model = read_model_bytes(data, size, "fuzz");
  if (!model) return 0;
  if (model->meshes.empty()) __builtin_trap();
  for (Mesh& m : model->meshes) {
    const size_t V = (size_t)m.vertex_count, T = (size_t)m.triangle_count;
    if (m.positions.size() != V * 3 || m.normals.size() != V * 3 || m.texcoords.size() != V * 2 ||
        m.tangents.size() != V * 3 || m.triangles.size() != T * 3)
      __builtin_trap();
    for (uint32_t i : m.triangles)
      if (i >= V) __builtin_trap();
    if (m.bone_count > 0) {
      if (m.weights.size() != V * BONE_SLOTS || m.bones.size() != V * BONE_SLOTS) __builtin_trap();
      for (size_t v = 0; v < V; v++) {
        float sum = 0;
        for (int k = 0; k < BONE_SLOTS; k++) {
          sum += m.weights[v * BONE_SLOTS + k];
          int b = m.bones[v * BONE_SLOTS + k];
          if (b < 0 || b >= m.bone_count) __builtin_trap();
        }
        if (std::isfinite(sum) && std::fabs(sum - 1.0f) > 1e-3f) __builtin_trap();
      }
      std::vector<float> centres((size_t)m.bone_count * 3, 0.5f), moves((size_t)m.bone_count * 3, 1.0f);
      std::vector<float> turns((size_t)m.bone_count * 9, 0.0f);
      for (int b = 0; b < m.bone_count; b++) turns[(size_t)b * 9] = turns[(size_t)b * 9 + 4] = turns[(size_t)b * 9 + 8] = 1;
      if (!skin_mesh(&m, BoneSet{m.bone_count, centres.data(), moves.data(), turns.data()})) __builtin_trap();
    }
    const float eye[3] = {1, 2, 3}, identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    compute_reflection_coordinates(&m, eye, identity);
    if (m.reflection.size() != V * 2) __builtin_trap();
  }
  char path[64];
  snprintf(path, sizeof path, "/tmp/dv_fuzz_model_%d.inc", (int)getpid());
  if (DataStream* out = data_open(path, "wb")) {
    export_mesh(model->meshes[0], out);
    data_close(out);
    remove(path);
  }
  delete_model(model);
  return 0;
}
