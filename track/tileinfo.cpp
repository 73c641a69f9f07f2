// The "tileinfo" and "texturelist" grammars, roost parameters, blend codes
// and the tile map.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/datafile.h"
#include "core/message.h"
#include "core/types.h"
#include "platform/log.h"
#include "track/assets.h"
#include "track/terrain.h"
#include "track/text_lines.h"
#include "track/tiles.h"

namespace {

constexpr float MIN_CURVE_KEY = 9.536743e-7f;  // 2^-20: keeps keys off the list-ending 0
constexpr int LINE_CHARS = 1024;

void load_tile_texture(Tile* tile, const char* name, const TileLoadOptions& options) {
  if (!options.load_textures) return;
  if (options.software_images)
    tile->image = track_image(name);
  else
    tile->texture = track_texture(name);
}

void set_tile_name(Tile* tile, const char* texture_name) {
  snprintf(tile->name, sizeof tile->name, "%s", base_file_name(texture_name));
}

uint8_t to_colour_byte(double v) {
  if (!(v >= 0)) return 0;  // also NaN
  if (v > 255) return 255;
  return (uint8_t)(int)v;
}

int8_t to_fade_byte(double per_second) {
  double v = per_second * TICK_SECONDS;
  if (!(v > -128)) return v != v ? 0 : -128;
  if (v > 127) return 127;
  return (int8_t)(int)v;
}

// The number fields of a roost kind, by key.
struct RoostNumber {
  const char* key;
  float RoostKind::*field;
};

const RoostNumber ROOST_NUMBERS[] = {
    {"count", &RoostKind::count},
    {"dig", &RoostKind::dig},
    {"slip_threshold", &RoostKind::slip_threshold},
    {"slow_angle", &RoostKind::slow_angle},
    {"fast_angle", &RoostKind::fast_angle},
    {"slow_speed", &RoostKind::slow_speed},
    {"fast_speed", &RoostKind::fast_speed},
    {"size", &RoostKind::size},
    {"grow", &RoostKind::grow},
    {"drag", &RoostKind::drag},
    {"vscale", &RoostKind::vscale},
    {"randomize", &RoostKind::randomize},
};

const char* const COLOUR_KEYS[4] = {"r", "g", "b", "a"};
const char* const FADE_KEYS[4] = {"fade_r", "fade_g", "fade_b", "fade_a"};

// Reads a C number; false when the text does not start with one.
bool parse_number(const char* text, double* value) {
  char* end = nullptr;
  *value = strtod(text, &end);
  return end != text;
}

void apply_roost_word(RoostKind* roost, const std::string& word, bool* textured, const TileLoadOptions& options) {
  size_t equals = word.find('=');
  if (equals == std::string::npos) {
    show_message("tileinfo warning: unknown roost parameter '%.40s'\n", word.c_str());
    return;
  }
  std::string key = word.substr(0, equals);
  const char* value = word.c_str() + equals + 1;
  double number = 0;
  if (key == "texture") {
    if (options.load_textures) roost->texture = track_texture(value);
    *textured = true;
    return;
  }
  if (key == "splash") {
    if (parse_number(value, &number) && number != 0) roost->mode = ROOST_SPLASH;
    return;
  }
  for (const RoostNumber& field : ROOST_NUMBERS) {
    if (key != field.key) continue;
    if (parse_number(value, &number))
      roost->*field.field = (float)number;
    else
      show_message("tileinfo warning: bad %s\n", field.key);
    return;
  }
  for (int k = 0; k < 4; k++) {
    if (key == COLOUR_KEYS[k]) {
      if (parse_number(value, &number))
        roost->color[k] = to_colour_byte(number);
      else
        show_message("tileinfo warning: bad %s\n", COLOUR_KEYS[k]);
      return;
    }
    if (key == FADE_KEYS[k]) {
      if (parse_number(value, &number))
        roost->fade[k] = to_fade_byte(number);
      else
        show_message("tileinfo warning: bad %s\n", FADE_KEYS[k]);
      return;
    }
  }
  show_message("tileinfo warning: unknown roost parameter '%.40s'\n", word.c_str());
}

struct ErosionKey {
  const char* keyword;
  float Erosion::*field;
};

const ErosionKey EROSION_KEYS[] = {
    {"erode_depth", &Erosion::depth},
    {"erode_lower", &Erosion::lower},
    {"erode_upper", &Erosion::upper},
    {"erode_displacement", &Erosion::displacement},
    {"erode_radius", &Erosion::radius},
    {"erode_max_slope", &Erosion::max_slope},
    {"erode_off_speed", &Erosion::off_speed},
    {"erode_on_speed", &Erosion::on_speed},
};

// The tile under construction and how many of its lists are filled.
struct TileDraft {
  Tile tile;
  int friction_count;
  int roll_count;
  int roost_count;
};

void reset_draft(TileDraft* draft) {
  init_tile(&draft->tile);
  draft->friction_count = 0;
  draft->roll_count = 0;
  draft->roost_count = 0;
}

float clamp_key(float key) { return key >= MIN_CURVE_KEY ? key : MIN_CURVE_KEY; }
float clamp_value(float value) { return value >= 0 ? value : 0.0f; }

void store_draft(Terrain* t, TileDraft* draft) {
  Tile& tile = draft->tile;
  std::stable_sort(tile.friction, tile.friction + draft->friction_count,
                   [](const FrictionPoint& a, const FrictionPoint& b) { return a.key < b.key; });
  std::stable_sort(tile.roll_resist, tile.roll_resist + draft->roll_count,
                   [](const RollResistPoint& a, const RollResistPoint& b) { return a.key < b.key; });
  t->tiles[t->tile_count++] = tile;
  reset_draft(draft);
}

void tileinfo_line(Terrain* t, TileDraft* draft, char* line, const TileLoadOptions& options) {
  char* keyword;
  char* argument;
  if (!split_keyword(line, " \t\r\n", &keyword, &argument)) return;
  cut_at_line_end(argument);
  Tile& tile = draft->tile;

  if (strcmp(keyword, "texture") == 0) {
    tile.texture = nullptr;
    tile.image = nullptr;
    load_tile_texture(&tile, argument, options);
    set_tile_name(&tile, argument);
  } else if (strcmp(keyword, "friction") == 0) {
    float value, key;
    if (draft->friction_count >= TILE_CURVE_POINTS) {
      show_message("tileinfo warning: too many friction points\n");
    } else if (sscanf(argument, "%f %f", &value, &key) != 2) {
      show_message("tileinfo warning: bad friction parameters\n");
    } else {
      tile.friction[draft->friction_count++] = FrictionPoint{clamp_value(value), clamp_key(key)};
    }
  } else if (strcmp(keyword, "roll_resist") == 0) {
    float light, heavy, key;
    if (draft->roll_count >= TILE_CURVE_POINTS) {
      show_message("tileinfo warning: too many roll_resist points\n");
    } else if (sscanf(argument, "%f %f %f", &light, &heavy, &key) != 3) {
      show_message("tileinfo warning: bad roll_resist parameters\n");
    } else {
      tile.roll_resist[draft->roll_count++] = RollResistPoint{clamp_value(light), clamp_value(heavy), clamp_key(key)};
    }
  } else if (strcmp(keyword, "roost") == 0) {
    if (draft->roost_count >= TILE_ROOST_KINDS)
      show_message("tileinfo warning: too many roost types\n");
    else
      parse_roost_arguments(&tile.roost[draft->roost_count++], argument, options);
  } else if (strcmp(keyword, "addtile") == 0) {
    store_draft(t, draft);
  } else {
    for (const ErosionKey& erosion : EROSION_KEYS) {
      if (strcmp(keyword, erosion.keyword) != 0) continue;
      float value;
      if (sscanf(argument, "%f", &value) == 1)
        tile.erosion.*erosion.field = value;
      else
        show_message("tileinfo warning: bad %s\n", erosion.keyword);
      return;
    }
    show_message("tileinfo warning: Unknown identifier '%.950s'\n", keyword);
  }
}

void begin_tile_table(Terrain* t) {
  t->tile_count = 0;
  for (Tile& tile : t->tiles) init_tile(&tile);
}

// A table with no tiles would leave the tile map nothing to point at; one
// default tile keeps every look-up defined.
void finish_tile_table(Terrain* t) {
  if (t->tile_count == 0) {
    log_printf("No tiles declared; the ground uses one default tile\n");
    t->tile_count = 1;
  }
  compute_blend_codes(t);
}

// Length of a tile name up to its first ".".
size_t stem_length(const char* name) { return strcspn(name, "."); }

// The tile whose name (up to its first ".") equals the text, or -1.
int find_tile_by_stem(const Tile* tiles, int count, const char* text, size_t length) {
  for (int i = 0; i < count; i++) {
    const char* name = tiles[i].name;
    if (stem_length(name) == length && strncmp(name, text, length) == 0) return i;
  }
  return -1;
}

}  // namespace

void parse_roost_arguments(RoostKind* roost, const char* argument, const TileLoadOptions& options) {
  roost->mode = ROOST_DIRT;
  bool textured = false;
  std::string word;
  bool in_word = false, quoted = false;
  for (const char* p = argument;; p++) {
    char c = *p;
    bool end = c == '\0';
    if (!end && c == '"') {
      quoted = !quoted;
      in_word = true;
      continue;
    }
    if (end || (!quoted && strchr(" \f\n\r\t\b", c))) {
      if (in_word) apply_roost_word(roost, word, &textured, options);
      word.clear();
      in_word = false;
      if (end) break;
      continue;
    }
    word += c;
    in_word = true;
  }
  if (!textured && options.load_textures && !roost->texture) roost->texture = track_texture("@roost.png");
}

void read_tileinfo(Terrain* t, DataStream* s, const TileLoadOptions& options) {
  begin_tile_table(t);
  TileDraft* draft = new TileDraft;
  reset_draft(draft);
  char line[LINE_CHARS];
  while (t->tile_count < MAX_TILES && read_text_line(s, line, sizeof line)) tileinfo_line(t, draft, line, options);
  delete draft;
  finish_tile_table(t);
}

void read_texturelist(Terrain* t, DataStream* s, const TileLoadOptions& options) {
  begin_tile_table(t);
  char line[LINE_CHARS];
  while (t->tile_count < MAX_TILES && read_text_line(s, line, sizeof line)) {
    char* p = line;
    while (*p && strchr(" \t\r\n\f\v", *p)) p++;
    if (!*p) continue;
    float f = 1.0f, r1 = 5.0f, r2 = 15.0f;
    int used = 0;
    if (sscanf(p, "%f %f %f%n", &f, &r1, &r2, &used) == 3 && used > 0) {
      p += used;
      while (*p == ' ' || *p == '\t') p++;
    } else {
      f = 1.0f, r1 = 5.0f, r2 = 15.0f;
    }
    trim_trailing_space(p);
    Tile& tile = t->tiles[t->tile_count++];
    init_tile(&tile);
    for (int i = 0; i < TILE_CURVE_POINTS; i++) {
      tile.friction[i].value = f;
      tile.roll_resist[i].light = r1;
      tile.roll_resist[i].heavy = r2;
    }
    std::string name = std::string("@") + p;
    load_tile_texture(&tile, name.c_str(), options);
    set_tile_name(&tile, p);
    tile.roost[0].mode = ROOST_DIRT;
    if (options.load_textures) tile.roost[0].texture = track_texture("@roost.png");
  }
  finish_tile_table(t);
}

bool read_track_tiles(Terrain* t, const char* track, const TileLoadOptions& options) {
  std::string name = track_file_name(track, "tileinfo");
  DataStream* s = data_open(name.c_str(), "rb");
  if (s) {
    read_tileinfo(t, s, options);
    data_close(s);
    return true;
  }
  name = track_file_name(track, "texturelist");
  s = data_open(name.c_str(), "rb");
  if (!s) {
    show_message("Can't open '%.950s'", name.c_str());
    return false;
  }
  read_texturelist(t, s, options);
  data_close(s);
  return true;
}

int32_t tile_blend_code(const Tile* tiles, int count, int index) {
  const int32_t own = index << 16 | index << 8;
  const char* name = tiles[index].name;
  const size_t stem = stem_length(name);
  const char* hyphen = (const char*)memchr(name, '-', stem);
  if (!hyphen) return own;
  int a = find_tile_by_stem(tiles, count, name, (size_t)(hyphen - name));
  if (a < 0) return own;
  const char* rest = hyphen + 1;
  if (strncmp(rest, "alt", 3) == 0 && rest[3] >= '0' && rest[3] <= '9') return a << 16 | a << 8;
  size_t second_length = strcspn(rest, "-.");
  int b = find_tile_by_stem(tiles, count, rest, second_length);
  // A second name that matches no tile gives the tile's own look rather
  // than a code pointing nowhere.
  if (b < 0) return own;
  int mask = 0;
  const char* digits = rest + second_length;
  if (*digits == '-') {
    digits++;
    for (int k = 0; k < 4; k++) {
      if (digits[k] != '0' && digits[k] != '1') {
        mask = 0;
        break;
      }
      mask = mask << 1 | (digits[k] - '0');
    }
  }
  return a << 16 | b << 8 | mask;
}

void compute_blend_codes(Terrain* t) {
  for (int i = 0; i < t->tile_count; i++) t->tiles[i].blend_code = tile_blend_code(t->tiles, t->tile_count, i);
}

bool read_tile_map_stream(Terrain* t, DataStream* s) {
  const size_t count = (size_t)t->tiles_per_side * (size_t)t->tiles_per_side;
  t->tile_map.assign(count, 0);
  if (data_read(s, t->tile_map.data(), count) != count) return false;
  const int last = t->tile_count > 0 ? t->tile_count - 1 : 0;
  for (uint8_t& b : t->tile_map)
    if (b > last) b = (uint8_t)last;
  return true;
}

bool read_tile_map(Terrain* t, const char* track) {
  std::string name = track_file_name(track, "tilemap");
  DataStream* s = data_open(name.c_str(), "rb");
  if (!s) {
    show_message("Can't open '%.950s'", name.c_str());
    return false;
  }
  bool complete = read_tile_map_stream(t, s);
  data_close(s);
  if (!complete) {
    show_message("'%.900s' holds fewer than %d x %d tiles", name.c_str(), t->tiles_per_side, t->tiles_per_side);
    return false;
  }
  return true;
}

bool write_tile_map(const Terrain& t, const char* track) {
  std::string name = track_file_name(track, "tilemap");
  DataStream* s = data_open(name.c_str(), "wb");
  if (!s) {
    show_message("Can't open '%.950s'", name.c_str());
    return false;
  }
  bool ok = data_write(s, t.tile_map.data(), t.tile_map.size()) == t.tile_map.size();
  ok = data_flush(s) == 0 && ok;
  data_close(s);
  return ok;
}
