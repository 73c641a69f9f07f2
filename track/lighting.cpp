// The "lighting" file.
#include "track/lighting.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "track/assets.h"
#include "track/loading.h"
#include "track/text_lines.h"

namespace {

const char* const SKY_KEYWORDS[SKY_FACES] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};
const char* const SKY_DEFAULTS[SKY_FACES] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm", "@sky-u.ppm"};

bool read_vector(const char* text, Vec3* v) {
  float x, y, z;
  if (sscanf(text, " [ %f %f %f ] ", &x, &y, &z) != 3) return false;
  *v = Vec3{x, y, z};
  return true;
}

void set_name(char* target, size_t size, const char* name) { snprintf(target, size, "%s", name); }

// Elements collected since the last flare.
struct PendingFlare {
  int count;
  FlareElement elements[MAX_FLARE_ELEMENTS];
  char textures[MAX_FLARE_ELEMENTS][1024];
};

void add_flare(TrackLighting* l, PendingFlare* pending, Vec3 where, bool is_direction, bool load_textures) {
  LensFlare flare{};
  flare.where = where;
  flare.is_direction = is_direction;
  flare.element_count = pending->count;
  for (int i = 0; i < pending->count; i++) {
    flare.elements[i] = pending->elements[i];
    flare.elements[i].texture = load_textures ? track_texture(pending->textures[i]) : nullptr;
  }
  l->flares.push_back(flare);
  pending->count = 0;
}

// False ends the reading (an unknown keyword).
bool lighting_line(TrackLighting* l, PendingFlare* pending, char* line, bool load_textures) {
  char* keyword;
  char* argument;
  if (!split_keyword(line, " \t", &keyword, &argument)) return true;
  trim_trailing_space(argument);
  trim_trailing_space(keyword);
  if (!*keyword) return true;
  Vec3 v;
  if (strcmp(keyword, "sun_vector") == 0) {
    if (read_vector(argument, &v)) l->sun_vector = v;
  } else if (strcmp(keyword, "sun_color") == 0) {
    if (read_vector(argument, &v)) l->sun_colour = v;
  } else if (strcmp(keyword, "ambient") == 0) {
    if (read_vector(argument, &v)) l->ambient = v;
  } else if (strcmp(keyword, "global_ambient") == 0) {
    if (read_vector(argument, &v)) l->global_ambient = v;
  } else if (strcmp(keyword, "sky_env") == 0) {
    set_name(l->environment_name, sizeof l->environment_name, argument);
  } else if (strcmp(keyword, "flare_element") == 0) {
    FlareElement e{};
    char texture[1024];
    if (sscanf(argument, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.placement[0], &e.placement[1], &e.colour.x,
               &e.colour.y, &e.colour.z, &e.size, texture) == 7 &&
        pending->count < MAX_FLARE_ELEMENTS) {
      pending->elements[pending->count] = e;
      set_name(pending->textures[pending->count], sizeof pending->textures[0], texture);
      pending->count++;
    }
  } else if (strcmp(keyword, "flare_point") == 0 || strcmp(keyword, "flare_vector") == 0) {
    if (read_vector(argument, &v)) add_flare(l, pending, v, keyword[6] == 'v', load_textures);
  } else if (strcmp(keyword, "fog") == 0) {
    float r, g, b, density;
    if (sscanf(argument, " [ %f %f %f ] %f ", &r, &g, &b, &density) == 4) {
      l->fog_colour = Vec3{r, g, b};
      l->fog_density = density;
    }
  } else if (strcmp(keyword, "dynamic_lighting") == 0) {
    int on;
    if (sscanf(argument, "%d", &on) == 1) l->dynamic_lighting = on > 0;
  } else if (strcmp(keyword, "near_plane") == 0) {
    sscanf(argument, "%f", &l->near_plane);
  } else if (strcmp(keyword, "far_plane") == 0) {
    sscanf(argument, "%f", &l->far_plane);
  } else {
    for (int i = 0; i < SKY_FACES; i++) {
      if (strcmp(keyword, SKY_KEYWORDS[i]) == 0) {
        set_name(l->sky_names[i], sizeof l->sky_names[i], argument);
        return true;
      }
    }
    show_message("Error reading lighting: Unknown identifier '%.950s'\n", keyword);
    return false;
  }
  return true;
}

void finish_lighting(TrackLighting* l, bool load_textures) {
  // Written so that NaN from a "nan" in the file also lands inside the range.
  if (!(l->near_plane >= MIN_NEAR_PLANE)) l->near_plane = MIN_NEAR_PLANE;
  if (l->near_plane > MAX_NEAR_PLANE) l->near_plane = MAX_NEAR_PLANE;
  if (!(l->far_plane >= l->near_plane)) l->far_plane = l->near_plane;
  if (l->far_plane > MAX_FAR_PLANE) l->far_plane = MAX_FAR_PLANE;
  float length = sqrtf(dot(l->sun_vector, l->sun_vector));
  // A zero or broken sun vector would poison every shading value; the
  // default direction stands in for it.
  if (!(length > 0) || !std::isfinite(length)) {
    l->sun_vector = Vec3{1, 1, 1};
    length = sqrtf(3.0f);
  }
  l->sun_vector = l->sun_vector * (1.0f / length);
  for (int i = 0; i < SKY_FACES; i++)
    if (!l->sky_names[i][0]) set_name(l->sky_names[i], sizeof l->sky_names[i], SKY_DEFAULTS[i]);
  if (!l->environment_name[0]) set_name(l->environment_name, sizeof l->environment_name, "@sky-env.ppm");
  if (!(l->fog_density >= 0)) l->fog_density = 0;
  if (!load_textures) return;
  for (int i = 0; i < SKY_FACES; i++) l->sky[i] = track_texture(l->sky_names[i]);
  l->environment = track_texture(l->environment_name);
}

}  // namespace

void init_lighting(TrackLighting* l) {
  l->sun_vector = Vec3{1, 1, 1};
  l->sun_colour = Vec3{1, 1, 1};
  l->ambient = Vec3{0.5f, 0.5f, 0.5f};
  l->global_ambient = Vec3{0.2f, 0.2f, 0.2f};
  l->near_plane = 0.25f;
  l->far_plane = 5000.0f;
  l->dynamic_lighting = false;
  for (int i = 0; i < SKY_FACES; i++) {
    l->sky_names[i][0] = '\0';
    l->sky[i] = nullptr;
  }
  l->environment_name[0] = '\0';
  l->environment = nullptr;
  l->fog_colour = Vec3{0, 0, 0};
  l->fog_density = 0;
  l->flares.clear();
}

void read_lighting_stream(TrackLighting* l, DataStream* s, bool load_textures) {
  init_lighting(l);
  LoadingStage stage;
  begin_loading_stage(&stage, "Loading lighting");
  PendingFlare* pending = new PendingFlare;
  pending->count = 0;
  char line[1024];
  while (read_text_line(s, line, sizeof line)) {
    tick_loading_stage(&stage);
    if (!lighting_line(l, pending, line, load_textures)) break;
  }
  delete pending;
  finish_lighting(l, load_textures);
  end_loading_stage(&stage);
}

bool read_lighting(TrackLighting* l, const char* file_name) {
  init_lighting(l);
  DataStream* s = data_open(file_name, "rb");
  if (!s) return false;
  read_lighting_stream(l, s, true);
  data_close(s);
  return true;
}
