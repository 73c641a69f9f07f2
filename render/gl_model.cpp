#include "render/gl_model.h"

#include <algorithm>
#include <cmath>

#include "render/gl_api.h"
#include "render/gl_probe.h"
#include "render/gl_shaders.h"
#include "render/gl_texture.h"
#include "render/render_stats.h"
#include "render/texture.h"

bool g_model_immediate_mode = false;
SceneLight g_scene_light = {{0.2f, 0.2f, 0.2f, 1.0f}, {0.5f, 0.5f, 0.5f, 1.0f}};

namespace {

bool gpu_skinning() { return shaders_active(); }

void set_texture_unit_array(int unit, int size, const float* data) {
  if (!g_gl_info.multitexture) return;
  gl.ClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
  if (data) {
    gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
    gl.TexCoordPointer(size, GL_FLOAT, 0, data);
  } else {
    gl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  gl.ClientActiveTextureARB(GL_TEXTURE0_ARB);
}

// Bone indices as floats for the texture-coordinate array the shader reads.
std::vector<float> bone_index_floats(const Mesh& m) {
  std::vector<float> out(m.bones.size());
  for (size_t i = 0; i < m.bones.size(); i++) out[i] = (float)m.bones[i];
  return out;
}

// Positions and normals to draw: skinned meshes drawn by the GPU start from
// their bind pose (the current arrays may hold a CPU-skinned pose).
const float* positions_of(const Mesh& m, bool attributes) {
  return attributes && m.bone_count ? m.bind_positions.data() : m.positions.data();
}
const float* normals_of(const Mesh& m, bool attributes) {
  return attributes && m.bone_count ? m.bind_normals.data() : m.normals.data();
}

void emit_immediate(const Mesh& m, const float* texcoords, bool attributes) {
  const float* positions = positions_of(m, attributes);
  const float* normals = normals_of(m, attributes);
  gl.Begin(GL_TRIANGLES);
  for (uint32_t i : m.triangles) {
    if (attributes && g_gl_info.multitexture) {
      const float* t = (m.bone_count ? m.bind_tangents : m.tangents).data() + i * 3;
      gl.MultiTexCoord3fARB(GL_TEXTURE1_ARB, t[0], t[1], t[2]);
    }
    gl.TexCoord2fv(texcoords + i * 2);
    gl.Normal3fv(normals + i * 3);
    gl.Vertex3fv(positions + i * 3);
  }
  gl.End();
}

// The triangles from the mesh's arrays (or triangle by triangle). With
// `attributes` the shader inputs go along: tangents, bone weights, indices.
void emit_mesh(const Mesh& m, const float* texcoords, bool attributes) {
  if (m.triangles.empty()) return;
  if (g_model_immediate_mode && !(attributes && m.bone_count)) {
    emit_immediate(m, texcoords, attributes);
    return;
  }
  std::vector<float> indices;
  gl.EnableClientState(GL_VERTEX_ARRAY);
  gl.EnableClientState(GL_NORMAL_ARRAY);
  gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
  gl.VertexPointer(3, GL_FLOAT, 0, positions_of(m, attributes));
  gl.NormalPointer(GL_FLOAT, 0, normals_of(m, attributes));
  gl.TexCoordPointer(2, GL_FLOAT, 0, texcoords);
  if (attributes) {
    set_texture_unit_array(1, 3, (m.bone_count ? m.bind_tangents : m.tangents).data());
    if (m.bone_count) {
      indices = bone_index_floats(m);
      set_texture_unit_array(2, 4, m.weights.data());
      set_texture_unit_array(3, 4, indices.data());
    }
  }
  gl.DrawElements(GL_TRIANGLES, (GLsizei)m.triangles.size(), GL_UNSIGNED_INT, m.triangles.data());
  if (attributes) {
    set_texture_unit_array(1, 3, nullptr);
    if (m.bone_count) {
      set_texture_unit_array(2, 4, nullptr);
      set_texture_unit_array(3, 4, nullptr);
    }
  }
  gl.DisableClientState(GL_TEXTURE_COORD_ARRAY);
  gl.DisableClientState(GL_NORMAL_ARRAY);
  gl.DisableClientState(GL_VERTEX_ARRAY);
}

// Static meshes always get a list; with the shader programs skinned and
// reflective ones too, since the GPU does their per-frame work.
bool wants_list(const Mesh& m) { return shaders_active() || (m.bone_count == 0 && !m.reflective); }

void ensure_list(Mesh* m) {
  if (m->display_list || !wants_list(*m)) return;
  GLuint list = gl.GenLists(1);
  if (!list) return;
  gl.NewList(list, GL_COMPILE);
  // Skinned meshes keep their bind pose in the list; the shader moves them.
  emit_mesh(*m, m->texcoords.data(), shaders_active());
  gl.EndList();
  m->display_list = list;
}

void count(const Mesh& m) {
  g_render_stats.triangles += (uint64_t)m.triangle_count;
  g_render_stats.vertices += (uint64_t)m.vertex_count;
}

void push_object(const float object[16]) {
  gl.MatrixMode(GL_MODELVIEW);
  gl.PushMatrix();
  gl.MultMatrixf(object);
}

double object_distance(const float object[16], const DrawCamera& camera) {
  double dx = object[12] - camera.position.x, dy = object[13] - camera.position.y, dz = object[14] - camera.position.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void set_lit_material(const Mesh& m) {
  const float white[4] = {1, 1, 1, 1};
  const float specular[4] = {m.r, m.g, m.b, m.a};
  gl.Materialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
  gl.Materialf(GL_FRONT_AND_BACK, GL_SHININESS, std::min(std::max(m.s, 0.125f), 128.0f));
}

// Unlit: nothing but light 0's ambient, which carries the mesh's colour.
void set_unlit_material(const Mesh& m) {
  const float black[4] = {0, 0, 0, 1}, white[4] = {1, 1, 1, 1};
  const float colour[4] = {m.r, m.g, m.b, m.a};
  gl.LightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
  gl.Lightfv(GL_LIGHT0, GL_AMBIENT, colour);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, black);
  gl.Materialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
  gl.Materialf(GL_FRONT_AND_BACK, GL_SHININESS, 1.0f);
}

void restore_light() {
  gl.LightModelfv(GL_LIGHT_MODEL_AMBIENT, g_scene_light.global_ambient);
  gl.Lightfv(GL_LIGHT0, GL_AMBIENT, g_scene_light.ambient);
}

void bind_unit(int unit, const Texture* texture) {
  if (!g_gl_info.multitexture) return;
  gl.ActiveTextureARB(GL_TEXTURE0_ARB + unit);
  bind_texture(texture);
  gl.ActiveTextureARB(GL_TEXTURE0_ARB);
}

int lit_program(const ModelTextures& t) {
  if (t.normal && t.specular) return PROGRAM_NORM_SPEC_LIT;
  if (t.normal) return PROGRAM_NORM_LIT;
  return PROGRAM_LIT;
}

// Draws one mesh's triangles: its list, or freshly skinned arrays.
void draw_mesh(Mesh* m, const BoneSet* bones, const float* texcoords, bool use_list) {
  if (use_list) {
    ensure_list(m);
    if (m->display_list) {
      gl.CallList(m->display_list);
      count(*m);
      return;
    }
  }
  if (m->bone_count && bones && !gpu_skinning()) skin_mesh(m, *bones);
  emit_mesh(*m, texcoords, false);
  count(*m);
}

}  // namespace

void draw_model_lit(const Model& base, const float object[16], const DrawCamera& camera, const BoneSet* bones,
                    const ModelTextures& textures) {
  Model& model = const_cast<Model&>(*choose_lod(base, object_distance(object, camera)));
  g_render_stats.models++;
  push_object(object);
  gl.Enable(GL_LIGHTING);
  gl.Enable(GL_TEXTURE_2D);
  bind_texture(textures.texture);
  bool alpha = textures.texture && textures.texture->channels == 4;
  if (alpha) {
    gl.Enable(GL_ALPHA_TEST);
    gl.AlphaFunc(GL_GREATER, 0.5f);
  }
  int program = lit_program(textures);
  if (shaders_active()) {
    bind_unit(1, textures.normal);
    bind_unit(2, textures.specular);
  }
  for (Mesh& m : model.meshes) {
    if (m.reflective) break;
    bool unlit = mesh_mode(m) == MESH_UNLIT;
    if (unlit) {
      set_unlit_material(m);
    } else {
      set_lit_material(m);
    }
    if (shaders_active()) {
      use_program(program);
      bool skinned = m.bone_count && bones && bones->count == m.bone_count;
      if (skinned) {
        set_bones(bones->count, bones->centres, bones->translations, bones->rotations);
      } else {
        set_bones(0, nullptr, nullptr, nullptr);
      }
    }
    draw_mesh(&m, bones, m.texcoords.data(), true);
    if (unlit) restore_light();
  }
  use_program(PROGRAM_FIXED);
  if (alpha) gl.Disable(GL_ALPHA_TEST);
  gl.Disable(GL_LIGHTING);
  gl.PopMatrix();
}

void draw_model_reflective(const Model& base, const float object[16], const DrawCamera& camera,
                           const BoneSet* bones, const Texture* environment) {
  Model& model = const_cast<Model&>(*choose_lod(base, object_distance(object, camera)));
  if (!model.reflective) return;
  push_object(object);
  gl.Disable(GL_LIGHTING);
  gl.Enable(GL_TEXTURE_2D);
  bind_texture(environment);
  // The camera in the object's frame, and object directions into the eye's.
  float eye[3], to_camera[9];
  float rel[3] = {camera.position.x - object[12], camera.position.y - object[13], camera.position.z - object[14]};
  for (int k = 0; k < 3; k++) eye[k] = object[k * 4] * rel[0] + object[k * 4 + 1] * rel[1] + object[k * 4 + 2] * rel[2];
  for (int row = 0; row < 3; row++)
    for (int col = 0; col < 3; col++) {
      float sum = 0;
      for (int k = 0; k < 3; k++) sum += camera.world_to_eye[row * 3 + k] * object[col * 4 + k];
      to_camera[row * 3 + col] = sum;
    }
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (Mesh& m : model.meshes) {
    if (!m.reflective) continue;
    gl.Color4f(m.a * m.r, m.a * m.g, m.a * m.b, 1.0f);
    if (shaders_active()) {
      use_program(PROGRAM_ENV);
      set_environment_matrix(identity);
      bool skinned = m.bone_count && bones && bones->count == m.bone_count;
      set_bones(skinned ? bones->count : 0, skinned ? bones->centres : nullptr,
                skinned ? bones->translations : nullptr, skinned ? bones->rotations : nullptr);
      draw_mesh(&m, bones, m.texcoords.data(), true);
    } else {
      if (m.bone_count && bones) skin_mesh(&m, *bones);
      compute_reflection_coordinates(&m, eye, to_camera);
      emit_mesh(m, m.reflection.data(), false);
      count(m);
    }
  }
  use_program(PROGRAM_FIXED);
  gl.Color4f(1, 1, 1, 1);
  gl.PopMatrix();
}

void release_model_gpu(Model* model) {
  if (!gl.core) return;
  for (Mesh& m : model->meshes) {
    if (m.display_list) gl.DeleteLists(m.display_list, 1);
    m.display_list = 0;
  }
}
