// Billboards, statues, decals and flaggers: their files and their placement.
#include "track/objects.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "track/assets.h"
#include "track/loading.h"
#include "track/terrain.h"

namespace {

Texture* texture_if(const ObjectLoadOptions& options, const char* name) {
  return options.load_textures && name && name[0] ? track_texture(name) : nullptr;
}

void tick(const ObjectLoadOptions& options) {
  if (options.progress) tick_loading_stage(options.progress);
}

bool is_none(const char* name) { return !name || !name[0] || strcmp(name, "null") == 0; }

// The name less its extension (the part from the last "." after the last "/").
std::string without_extension(const std::string& name) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
  return name.substr(0, dot);
}

bool ends_with(const std::string& text, const char* tail) {
  size_t n = strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// A statue's normal or specular companion: beside the texture (keeping a
// "-repeat" ending last), else beside the model.
Texture* statue_companion(const std::string& texture, const std::string& model, const char* kind) {
  static const char* const extensions[3] = {".seq", ".png", ".ppm"};
  if (!texture.empty()) {
    std::string stem = without_extension(texture);
    std::string ending;
    if (ends_with(stem, "-repeat")) {
      stem.resize(stem.size() - 7);
      ending = "-repeat";
    }
    for (const char* extension : extensions) {
      std::string candidate = stem + kind + ending + extension;
      if (track_file_exists(candidate.c_str())) return track_texture(candidate.c_str());
    }
  }
  if (!model.empty()) {
    std::string stem = without_extension(model);
    for (const char* extension : extensions) {
      std::string candidate = stem + kind + extension;
      if (track_file_exists(candidate.c_str())) return track_texture(candidate.c_str());
    }
  }
  return nullptr;
}

// A decal's companion: "<stem><kind>.png", else "<stem><kind>.ppm".
Texture* decal_companion(const char* name, const char* kind) {
  std::string stem = without_extension(name);
  Texture* texture = track_texture((stem + kind + ".png").c_str());
  return texture ? texture : track_texture((stem + kind + ".ppm").c_str());
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one "%1023s" word from the stream.
bool scan_word(DataStream* s, char word[1024]) { return data_scanf(s, " %1023s", word) == 1; }

int clamp_gate(int gate, int checkpoint_count) {
  if (gate < -1) return -1;
  if (gate > checkpoint_count - 1) return checkpoint_count - 1;
  return gate;
}

template <typename Reader>
bool with_file(const char* name, Reader reader) {
  DataStream* s = data_open(name, "rb");
  if (!s) return false;
  reader(s);
  data_close(s);
  return true;
}

}  // namespace

void init_track_objects(TrackObjects* o) {
  free_track_objects(o);
  o->billboards.reserve(16);
  o->statues.reserve(16);
  o->decals.reserve(16);
  o->flagger_set.flaggers.reserve(16);
}

void free_track_objects(TrackObjects* o) {
  o->billboards = std::vector<Billboard>();
  o->statues = std::vector<Statue>();
  o->start_gates = std::vector<Statue>();
  o->decals = std::vector<Decal>();
  o->flagger_set = FlaggerSet{};
  o->flagger_set.first_billboard = -1;
  o->flagger_set.second_billboard = -1;
  o->cameras = std::vector<TrackCamera>();
  for (int& camera : o->camera_for_gate) camera = -1;
  o->billboard_pool_first = -1;
}

bool split_colour_prefix(const char* name, uint8_t colour[4], const char** rest) {
  if (name[0] != '#') return false;
  int digits[6];
  for (int i = 0; i < 6; i++)
    if ((digits[i] = hex_digit(name[1 + i])) < 0) return false;
  if (name[7] != '#') return false;
  for (int k = 0; k < 3; k++) colour[k] = (uint8_t)(digits[2 * k] << 4 | digits[2 * k + 1]);
  colour[3] = 255;
  *rest = name + 8;
  return true;
}

int add_billboard(TrackObjects* o, const Terrain& terrain, float x, float y, float z, float width, float height,
                  const char* texture_name, const ObjectLoadOptions& options) {
  Billboard b{};
  b.position = Vec3{x, height_at(terrain, x, z) + y, z};
  b.width = width;
  b.height = height;
  for (uint8_t& channel : b.colour) channel = 255;
  b.texture = texture_if(options, texture_name);
  o->billboards.push_back(b);
  return (int)o->billboards.size() - 1;
}

void create_billboard_pool(TrackObjects* o, const Terrain& terrain) {
  ObjectLoadOptions untextured{};
  o->billboards.reserve(o->billboards.size() + RUNTIME_BILLBOARD_POOL);
  o->billboard_pool_first = (int)o->billboards.size();
  for (int i = 0; i < RUNTIME_BILLBOARD_POOL; i++) add_billboard(o, terrain, 0, 0, 0, 1, 1, nullptr, untextured);
}

Statue make_statue(const Terrain& terrain, Vec3 above, float angle, const char* model, const char* texture,
                   const char* shape, const ObjectLoadOptions& options) {
  Statue statue{};
  if (!is_none(model)) statue.model_name = model;
  if (!is_none(texture)) statue.texture_name = texture;
  if (!is_none(shape)) statue.shape_name = shape;
  statue.position = Vec3{above.x, height_at(terrain, above.x, above.z) + above.y, above.z};
  for (int i = 0; i < 9; i++) statue.rotation[i] = (i % 4 == 0) ? 1.0f : 0.0f;
  if (angle >= STATUE_SIZE_ANGLE) {
    statue.size = exp2f(angle);
  } else {
    float c = cosf(angle), s = sinf(angle);
    statue.rotation[0] = c;
    statue.rotation[2] = s;
    statue.rotation[6] = -s;
    statue.rotation[8] = c;
  }
  if (!statue.model_name.empty() && g_track_hooks.load_model)
    statue.model = g_track_hooks.load_model(statue.model_name.c_str());
  if (statue.model && options.load_textures) {
    if (!statue.texture_name.empty()) statue.texture = track_texture(statue.texture_name.c_str());
    if (options.shader_path) {
      statue.normal_texture = statue_companion(statue.texture_name, statue.model_name, "_norm");
      statue.specular_texture = statue_companion(statue.texture_name, statue.model_name, "_spec");
    }
  }
  if (!statue.shape_name.empty() && g_track_hooks.load_shape) {
    statue.shape = g_track_hooks.load_shape(statue.shape_name.c_str());
    if (!statue.shape) show_message("Warning: missing shape file %.900s", statue.shape_name.c_str());
  }
  return statue;
}

void read_decals(TrackObjects* o, DataStream* s, const ObjectLoadOptions& options) {
  float x, z, angle, width, ratio;
  char name[1024];
  while (data_scanf(s, " [ %f %f ] %f %f %f %1023s ", &x, &z, &angle, &width, &ratio, name) == 6) {
    tick(options);
    Decal d{};
    d.x = x;
    d.z = z;
    d.angle = angle;
    d.width = width;
    d.length_ratio = ratio;
    d.sine = sinf(angle);
    d.cosine = cosf(angle);
    if (options.load_textures) {
      if (options.software_images)
        d.image = track_image(name);
      else
        d.texture = track_texture(name);
      if (!d.image && !d.texture) continue;
      if (options.shader_path) {
        d.normal_texture = decal_companion(name, "_tnorm");
        d.specular_texture = decal_companion(name, "_tspec");
      }
    }
    o->decals.push_back(d);
  }
  if (g_track_hooks.index_decals) g_track_hooks.index_decals(*o);
}

void read_billboards(TrackObjects* o, const Terrain& terrain, DataStream* s, const ObjectLoadOptions& options) {
  float x, y, z, width, height;
  char name[1024];
  while (data_scanf(s, " [ %f %f %f ] %f %f %1023s ", &x, &y, &z, &width, &height, name) == 6) {
    tick(options);
    uint8_t colour[4] = {255, 255, 255, 255};
    const char* texture = name;
    split_colour_prefix(name, colour, &texture);
    int index = add_billboard(o, terrain, x, y, z, width, height, texture, options);
    memcpy(o->billboards[(size_t)index].colour, colour, 4);
  }
}

void read_statues(TrackObjects* o, const Terrain& terrain, DataStream* s, const ObjectLoadOptions& options) {
  float x, y, z, angle;
  char model[1024], texture[1024], shape[1024];
  while (data_scanf(s, " [ %f %f %f ] %f %1023s %1023s %1023s ", &x, &y, &z, &angle, model, texture, shape) == 7) {
    tick(options);
    o->statues.push_back(make_statue(terrain, Vec3{x, y, z}, angle, model, texture, shape, options));
  }
}

void read_flaggers(TrackObjects* o, const Terrain& terrain, DataStream* s, int checkpoint_count,
                   const ObjectLoadOptions& options) {
  FlaggerSet& set = o->flagger_set;
  float a[3], b[3], width, height, ninth;
  char name[1024];
  if (data_scanf(s, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &a[0], &a[1], &a[2], &b[0], &b[1], &b[2], &width,
                 &height, &ninth) != 9 ||
      !scan_word(s, name))
    return;
  set.present = true;
  set.first_billboard = add_billboard(o, terrain, a[0], a[1], a[2], width, height, name, options);
  set.point_b = Vec3{b[0], b[1], b[2]};
  set.ninth = ninth;
  set.first_textures[0] = texture_if(options, name);
  for (int i = 1; i < 5; i++) {
    if (!scan_word(s, name)) return;
    set.first_textures[i] = texture_if(options, name);
  }
  tick(options);

  if (data_scanf(s, " [ %f %f %f ] %f %f ", &a[0], &a[1], &a[2], &width, &height) != 5 || !scan_word(s, name)) return;
  set.second_billboard = add_billboard(o, terrain, a[0], a[1], a[2], width, height, name, options);
  set.second_textures[0] = texture_if(options, name);
  for (int i = 1; i < 4; i++) {
    if (!scan_word(s, name)) return;
    set.second_textures[i] = texture_if(options, name);
  }
  tick(options);

  int gates[4];
  char second[1024];
  while (data_scanf(s, " [ %f %f %f ] %f %f %d %d %d %d", &a[0], &a[1], &a[2], &width, &height, &gates[0], &gates[1],
                    &gates[2], &gates[3]) == 9 &&
         scan_word(s, name) && scan_word(s, second)) {
    tick(options);
    Flagger f{};
    f.billboard = add_billboard(o, terrain, a[0], a[1], a[2], width, height, name, options);
    f.textures[0] = o->billboards[(size_t)f.billboard].texture;
    f.textures[1] = texture_if(options, second);
    for (int k = 0; k < 4; k++) f.gates[k] = clamp_gate(gates[k], checkpoint_count);
    set.flaggers.push_back(f);
  }
}

bool read_decals_file(TrackObjects* o, const char* name, const ObjectLoadOptions& options) {
  return with_file(name, [&](DataStream* s) { read_decals(o, s, options); });
}

bool read_billboards_file(TrackObjects* o, const Terrain& terrain, const char* name, const ObjectLoadOptions& options) {
  return with_file(name, [&](DataStream* s) { read_billboards(o, terrain, s, options); });
}

bool read_statues_file(TrackObjects* o, const Terrain& terrain, const char* name, const ObjectLoadOptions& options) {
  return with_file(name, [&](DataStream* s) { read_statues(o, terrain, s, options); });
}

bool read_flaggers_file(TrackObjects* o, const Terrain& terrain, const char* name, int checkpoint_count,
                        const ObjectLoadOptions& options) {
  return with_file(name, [&](DataStream* s) { read_flaggers(o, terrain, s, checkpoint_count, options); });
}

bool read_cameras_file(TrackObjects* o, const Terrain& terrain, const char* name, const ObjectLoadOptions& options) {
  return with_file(name, [&](DataStream* s) { read_cameras(o, terrain, s, options); });
}
