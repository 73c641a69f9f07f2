// Model files, tangents, the cache with its level-of-detail chains, the
// choice of level, skinning, reflection coordinates and the mesh2 export.
#include "render/model.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"
#include "render/texture.h"

ModelSettings g_model_settings;
void (*g_release_model_gpu)(Model* model) = nullptr;

MeshMode mesh_mode(const Mesh& mesh) {
  if (mesh.s <= -2.0f) return MESH_UNLIT;
  if (mesh.s == -1.0f) return MESH_REFLECTIVE;
  return MESH_LIT;
}

namespace {

// --- number reading ------------------------------------------------------------

bool read_float(DataStream* s, float* out) {
  float v;
  if (data_scanf(s, "%f", &v) != 1 || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool read_floats(DataStream* s, float* out, int n) {
  for (int i = 0; i < n; i++)
    if (!read_float(s, out + i)) return false;
  return true;
}

bool read_count(DataStream* s, int* out, int limit) {
  int v;
  if (data_scanf(s, "%d", &v) != 1 || v < 0 || v > limit) return false;
  *out = v;
  return true;
}

// V vertices of eight numbers and `bones` weights each, then T triples.
// False on a missing number or an index outside the mesh (the mesh is then
// unusable and its vertices unread).
bool read_mesh_body(DataStream* s, Mesh* m, int bones, const char* name, bool* warned) {
  const int V = m->vertex_count, T = m->triangle_count;
  // The arrays grow as numbers arrive: a damaged count must not reserve
  // memory that the file never fills.
  std::vector<float> weights((size_t)std::max(bones, 1));
  for (int v = 0; v < V; v++) {
    float f[8];
    if (!read_floats(s, f, 8)) return false;
    m->positions.insert(m->positions.end(), f, f + 3);
    m->normals.insert(m->normals.end(), f + 3, f + 6);
    m->texcoords.push_back(f[6]);
    m->texcoords.push_back(1.0f - f[7]);
    if (bones > 0) {
      if (!read_floats(s, weights.data(), bones)) return false;
      float w[BONE_SLOTS];
      int b[BONE_SLOTS];
      if (pick_bone_weights(weights.data(), bones, w, b) && !*warned) {
        show_message("Warning: vertex with more than 4 bone influences in '%.900s'", name);
        *warned = true;
      }
      m->weights.insert(m->weights.end(), w, w + BONE_SLOTS);
      m->bones.insert(m->bones.end(), b, b + BONE_SLOTS);
    }
  }
  for (size_t i = 0; i < (size_t)T * 3; i++) {
    int index;
    if (data_scanf(s, "%d", &index) != 1) return false;
    if (index < 0 || index >= V) {
      show_message("Bad vertex index %d in '%.900s'", index, name);
      return false;
    }
    m->triangles.push_back((uint32_t)index);
  }
  if (bones > 0) {
    m->bone_count = bones;
    m->bind_positions = m->positions;
    m->bind_normals = m->normals;
  }
  compute_tangents(m);
  if (bones > 0) m->bind_tangents = m->tangents;
  return true;
}

bool read_shape(DataStream* s, Model* model, const char* name) {
  Mesh m;
  if (!read_count(s, &m.vertex_count, MODEL_MAX_VERTICES) || !read_count(s, &m.triangle_count, MODEL_MAX_TRIANGLES))
    return false;
  bool warned = false;
  if (!read_mesh_body(s, &m, 0, name, &warned)) return false;
  m.s = SHAPE_SHININESS;
  m.r = m.g = m.b = m.a = 1.0f;
  model->meshes.push_back(std::move(m));
  return true;
}

bool read_jm(DataStream* s, Model* model, const char* name) {
  int version = 0;
  if (data_scanf(s, "JM%d", &version) != 1) return false;
  if (version != 1 && version != 2) {
    show_message("Unsupported model version JM%d in '%.900s'", version, name);
    return false;
  }
  int bones = 0;
  if (version == 2) {
    char skeleton[1024] = "";
    if (data_scanf(s, "%d %1023s", &bones, skeleton) != 2 || bones < 0 || bones > MODEL_MAX_BONES) {
      show_message("Bad bone count in '%.900s'", name);
      return false;
    }
    model->skeleton = skeleton;
  }
  for (;;) {
    Mesh m;
    float h[5];
    int V, T;
    if (data_scanf(s, "%f %f %f %f %f %d %d", &h[0], &h[1], &h[2], &h[3], &h[4], &V, &T) != 7) break;
    bool finite = std::all_of(h, h + 5, [](float v) { return std::isfinite(v); });
    if (!finite || V < 0 || V > MODEL_MAX_VERTICES || T < 0 || T > MODEL_MAX_TRIANGLES) break;
    m.s = h[0];
    m.a = m.s < 0 ? h[1] : 1.0f;
    m.r = h[2];
    m.g = h[3];
    m.b = h[4];
    m.vertex_count = V;
    m.triangle_count = T;
    bool warned = false;
    if (!read_mesh_body(s, &m, bones, name, &warned)) break;  // the list ends at a damaged mesh
    m.reflective = m.s == -1.0f;
    model->reflective = model->reflective || m.reflective;
    model->meshes.push_back(std::move(m));
  }
  return !model->meshes.empty();
}

void add(float* a, const float* b, float scale) {
  a[0] += b[0] * scale;
  a[1] += b[1] * scale;
  a[2] += b[2] * scale;
}

}  // namespace

bool pick_bone_weights(const float* weights, int count, float w[BONE_SLOTS], int bone[BONE_SLOTS]) {
  bool crowded = false;
  for (int k = 0; k < BONE_SLOTS; k++) {
    w[k] = 0.0f;
    bone[k] = 0;
  }
  for (int i = 0; i < count; i++) {
    if (!(weights[i] > 0.0f)) continue;
    int smallest = 0;
    for (int k = 1; k < BONE_SLOTS; k++)
      if (w[k] < w[smallest]) smallest = k;
    if (w[smallest] != 0.0f) crowded = true;
    w[smallest] = weights[i];
    bone[smallest] = i;
  }
  // In double: four weights near the float limit must not overflow the sum.
  double sum = (double)w[0] + w[1] + w[2] + w[3];
  for (int k = 0; k < BONE_SLOTS; k++) w[k] = sum > 0.0 ? (float)(w[k] / sum) : 0.25f;
  return crowded;
}

void compute_tangents(Mesh* m) {
  const float tiny = 1.0f / 1048576.0f;  // 2^-20
  m->tangents.assign((size_t)m->vertex_count * 3, 0.0f);
  for (int t = 0; t < m->triangle_count; t++) {
    const uint32_t* i = &m->triangles[(size_t)t * 3];
    const float* p0 = &m->positions[i[0] * 3];
    const float* p1 = &m->positions[i[1] * 3];
    const float* p2 = &m->positions[i[2] * 3];
    const float* t0 = &m->texcoords[i[0] * 2];
    const float* t1 = &m->texcoords[i[1] * 2];
    const float* t2 = &m->texcoords[i[2] * 2];
    float e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    float e2[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    float du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1], du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
    float d = du1 * dv2 - du2 * dv1;
    float v[3];
    float length = 0.0f;
    if (std::fabs(d) >= tiny) {
      for (int k = 0; k < 3; k++) v[k] = e1[k] * dv2 - e2[k] * dv1;
      length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }
    float scale;
    if (length > 0.0f) {
      scale = (d < 0 ? -1.0f : 1.0f) / length;
    } else {
      // No usable texture direction: a vector too small to matter where a
      // real one joins it, yet a direction where none does.
      float l1 = e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2];
      float l2 = e2[0] * e2[0] + e2[1] * e2[1] + e2[2] * e2[2];
      std::copy(l1 >= l2 ? e1 : e2, (l1 >= l2 ? e1 : e2) + 3, v);
      scale = tiny;
    }
    for (int c = 0; c < 3; c++) add(&m->tangents[i[c] * 3], v, scale);
  }
}

Model* read_model(DataStream* s, const char* name) {
  Model* model = new Model;
  model->name = name ? name : "";
  data_skip_comments(s);
  bool ok = data_peekc(s) == 'J' ? read_jm(s, model, model->name.c_str()) : read_shape(s, model, model->name.c_str());
  if (!ok) {
    show_message("Can't read model '%.900s'", model->name.c_str());
    delete model;
    return nullptr;
  }
  return model;
}

Model* read_model_bytes(const void* bytes, size_t size, const char* name) {
  DataStream* s = data_open_memory(bytes, size);
  if (!s) return nullptr;
  Model* m = read_model(s, name);
  data_close(s);
  return m;
}

void delete_model(Model* model) {
  if (!model) return;
  if (g_release_model_gpu) g_release_model_gpu(model);
  delete model;
}

// --- the cache ------------------------------------------------------------------------

namespace {

std::vector<Model*> g_models;

void mark_generation(Model* model, int generation) {
  if (model->generation == 0 || model->generation == generation) return;
  model->generation = generation;
  for (LodLevel& level : model->lod) mark_generation(level.model, generation);
}

Model* load_model_file(const char* name) {
  DataStream* s = data_open(name, "rb");
  if (!s) {
    if (g_model_settings.verbosity >= 1) show_message("Can't open model \"%.900s\"", name);
    return nullptr;
  }
  Model* m = read_model(s, name);
  data_close(s);
  return m;
}

// "<stem>_lod<number>..." data files of an "@" model name.
void find_lod_levels(Model* model) {
  const std::string& name = model->name;
  if (name.size() < 2 || name[0] != '@') return;
  std::string relative = name.substr(1);
  size_t dot = relative.rfind('.');
  std::string prefix = (dot == std::string::npos ? relative : relative.substr(0, dot)) + "_lod";
  for (int i = 0, n = data_file_count(); i < n; i++) {
    std::string file = data_file_name(i);
    if (file.size() > 3 && file.compare(file.size() - 3, 3, ".gz") == 0) file.resize(file.size() - 3);
    if (file.compare(0, prefix.size(), prefix) != 0) continue;
    const char* number = file.c_str() + prefix.size();
    char* end = nullptr;
    double value = strtod(number, &end);
    if (end == number || !std::any_of(number, (const char*)end, [](char c) { return isdigit((unsigned char)c); }))
      continue;
    if (!std::isfinite(value) || std::fabs(value) > 64) continue;
    Model* level = load_model(("@" + file).c_str());
    if (!level || level == model) continue;
    bool listed = std::any_of(model->lod.begin(), model->lod.end(), [&](const LodLevel& l) { return l.model == level; });
    if (!listed) model->lod.push_back({(float)std::exp2(value), level});
  }
  std::stable_sort(model->lod.begin(), model->lod.end(),
                   [](const LodLevel& a, const LodLevel& b) { return a.factor < b.factor; });
}

int g_lod_depth = 0;

}  // namespace

Model* load_model(const char* name) {
  if (!name || !name[0]) return nullptr;
  int generation = texture_generation();
  Model* loose = nullptr;
  for (Model* m : g_models) {
    if (m->name == name) {
      mark_generation(m, generation);
      return m;
    }
    if (!loose && strcasecmp(m->name.c_str(), name) == 0) loose = m;
  }
  if (loose) {
    show_message("Warning: case mismatch on '%.900s'", name);
    mark_generation(loose, generation);
    return loose;
  }
  Model* m = load_model_file(name);
  if (!m) return nullptr;
  m->generation = generation;
  m->cached = true;
  g_models.push_back(m);
  // Level files are models of their own; their names never chain further
  // than a few steps, but a damaged catalogue must not recurse forever.
  if (g_lod_depth < 4) {
    g_lod_depth++;
    find_lod_levels(m);
    g_lod_depth--;
  }
  return m;
}

void purge_models(bool all) {
  int generation = texture_generation();
  for (size_t i = g_models.size(); i-- > 0;) {
    Model* m = g_models[i];
    if (!all && (m->generation == 0 || m->generation == generation)) continue;
    if (g_model_settings.verbosity >= 1) log_printf("deleting model %.900s\n", m->name.c_str());
    delete_model(m);
    g_models.erase(g_models.begin() + (ptrdiff_t)i);
  }
  if (all) std::vector<Model*>().swap(g_models);
}

int cached_model_count() { return (int)g_models.size(); }

const Model* choose_lod(const Model& model, double distance) {
  double k = std::clamp(g_model_settings.lod_scale, 1e-6, 1e6);
  double b = g_model_settings.lod_bias;
  const Model* chosen = &model;
  for (const LodLevel& level : model.lod) {
    double f = level.factor - b;
    if (!(f <= 0 || f * f <= k * k * distance * distance)) break;
    chosen = level.model;
  }
  return chosen;
}

// --- skinning, reflection, export ------------------------------------------------------

bool skin_mesh(Mesh* m, const BoneSet& bones) {
  if (m->bone_count == 0 || bones.count != m->bone_count) return false;
  for (int v = 0; v < m->vertex_count; v++) {
    float p[3] = {0, 0, 0}, n[3] = {0, 0, 0}, t[3] = {0, 0, 0};
    const float* bp = &m->bind_positions[(size_t)v * 3];
    const float* bn = &m->bind_normals[(size_t)v * 3];
    const float* bt = &m->bind_tangents[(size_t)v * 3];
    for (int k = 0; k < BONE_SLOTS; k++) {
      float w = m->weights[(size_t)v * BONE_SLOTS + k];
      if (w <= 0.0f) continue;
      int b = m->bones[(size_t)v * BONE_SLOTS + k];
      const float* c = bones.centres + b * 3;
      const float* r = bones.rotations + b * 9;
      const float* tr = bones.translations + b * 3;
      float d[3] = {bp[0] - c[0], bp[1] - c[1], bp[2] - c[2]};
      for (int row = 0; row < 3; row++) {
        float rp = r[row] * d[0] + r[row + 3] * d[1] + r[row + 6] * d[2];
        float rn = r[row] * bn[0] + r[row + 3] * bn[1] + r[row + 6] * bn[2];
        float rt = r[row] * bt[0] + r[row + 3] * bt[1] + r[row + 6] * bt[2];
        p[row] += w * (rp + tr[row]);
        n[row] += w * rn;
        t[row] += w * rt;
      }
    }
    std::copy(p, p + 3, &m->positions[(size_t)v * 3]);
    std::copy(n, n + 3, &m->normals[(size_t)v * 3]);
    std::copy(t, t + 3, &m->tangents[(size_t)v * 3]);
  }
  return true;
}

void compute_reflection_coordinates(Mesh* m, const float eye[3], const float R[9]) {
  const float inverse_two_pi = 0.15915494309189535f;
  m->reflection.resize((size_t)m->vertex_count * 2);
  for (int v = 0; v < m->vertex_count; v++) {
    const float* p = &m->positions[(size_t)v * 3];
    const float* n = &m->normals[(size_t)v * 3];
    float view[3] = {p[0] - eye[0], p[1] - eye[1], p[2] - eye[2]};
    float vl = std::sqrt(view[0] * view[0] + view[1] * view[1] + view[2] * view[2]);
    float nl = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    float u = 0.5f, w = 0.5f;
    if (vl > 0 && nl > 0) {
      float d = (view[0] * n[0] + view[1] * n[1] + view[2] * n[2]) / (vl * nl * nl);
      float r[3];
      for (int k = 0; k < 3; k++) r[k] = view[k] / vl - 2.0f * d * n[k];
      float c[3];
      for (int row = 0; row < 3; row++) c[row] = R[row * 3] * r[0] + R[row * 3 + 1] * r[1] + R[row * 3 + 2] * r[2];
      float cl = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
      float h = std::sqrt(c[0] * c[0] + c[2] * c[2]);
      if (cl > 0) {
        float theta = std::acos(std::clamp(c[1] / cl, -1.0f, 1.0f));
        if (h > 1e-6f) {
          u = 0.5f + theta * inverse_two_pi * c[0] / h;
          w = 0.5f + theta * inverse_two_pi * c[2] / h;
        }
      }
    }
    m->reflection[(size_t)v * 2] = u;
    m->reflection[(size_t)v * 2 + 1] = w;
  }
}

bool export_mesh(const Mesh& m, DataStream* out) {
  auto sep = [](int i, int n) { return i + 1 < n ? "," : ""; };
  const int V = m.vertex_count, T = m.triangle_count;
  data_puts(out, "mesh2 {\n");
  data_puts(out, "\tvertex_vectors {\n");
  data_printf(out, "\t\t%d\n", V);
  for (int i = 0; i < V; i++) {
    const float* p = &m.positions[(size_t)i * 3];
    data_printf(out, "\t\t<%f,%f,%f>%s\n", p[0], p[1], p[2], sep(i, V));
  }
  data_puts(out, "\t}\n");
  data_puts(out, "\tnormal_vectors {\n");
  data_printf(out, "\t\t%d\n", V);
  for (int i = 0; i < V; i++) {
    const float* n = &m.normals[(size_t)i * 3];
    data_printf(out, "\t\t<%f,%f,%f>%s\n", n[0], n[1], n[2], sep(i, V));
  }
  data_puts(out, "\t}\n");
  data_puts(out, "\tuv_vectors {\n");
  data_printf(out, "\t\t%d\n", V);
  for (int i = 0; i < V; i++) {
    const float* t = &m.texcoords[(size_t)i * 2];
    data_printf(out, "\t\t<%f,%f>%s\n", t[0], t[1], sep(i, V));
  }
  data_puts(out, "\t}\n");
  data_puts(out, "\tface_indices {\n");
  data_printf(out, "\t\t%d\n", T);
  for (int i = 0; i < T; i++) {
    const uint32_t* f = &m.triangles[(size_t)i * 3];
    data_printf(out, "\t\t<%d,%d,%d>%s\n", (int)f[0], (int)f[1], (int)f[2], sep(i, T));
  }
  data_puts(out, "\t}\n");
  return data_puts(out, "}\n") >= 0;
}
