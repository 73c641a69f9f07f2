#include "render/texture.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"
#include "render/texture_internal.h"

TextureSettings g_texture_settings;

namespace {

struct ImageEntry {
  std::string name;
  int generation;
  Image image;
};

struct Alias {
  std::string name, target;
};

// LINK files naming each other would otherwise recurse for ever.
constexpr int MAX_LINK_DEPTH = 8;

const TextureBackend* g_backend = &g_recording_texture_backend;
std::vector<Texture*> g_textures;
std::vector<std::unique_ptr<ImageEntry>> g_images;
std::vector<Alias> g_aliases;
int g_generation = 0;
uint64_t g_texture_memory = 0;

// Exact match first; a match that differs only in case is reused with a
// warning, since the data files are looked up case-insensitively anyway.
template <typename Table, typename NameOf>
int find_by_name(const Table& table, const std::string& name, NameOf name_of) {
  for (size_t i = 0; i < table.size(); i++)
    if (name_of(table[i]) == name) return int(i);
  for (size_t i = 0; i < table.size(); i++)
    if (strcasecmp(name_of(table[i]).c_str(), name.c_str()) == 0) {
      show_message("Warning: case mismatch on '%.900s'", name.c_str());
      return int(i);
    }
  return -1;
}

const std::string* find_alias(const std::string& name) {
  for (const Alias& a : g_aliases)
    if (a.name == name) return &a.target;
  return nullptr;
}

void record_alias(const std::string& name, const std::string& target) {
  if (g_aliases.empty()) g_aliases.reserve(16);
  for (Alias& a : g_aliases)
    if (a.name == name) {
      a.target = target;
      return;
    }
  g_aliases.push_back({name, target});
}

// Strips "!" (remembering it) and follows a recorded alias.
std::string resolve_name(const char* requested, bool* full_res) {
  *full_res = false;
  std::string name = requested;
  for (int hops = 0; hops <= MAX_LINK_DEPTH; hops++) {
    if (!name.empty() && name[0] == '!') {
      *full_res = true;
      name.erase(0, 1);
    }
    const std::string* target = find_alias(name);
    if (!target) break;
    name = *target;
  }
  return name;
}

// The text after "LINK": at most 1023 characters, trimmed.
std::string read_link_target(DataStream* stream) {
  char buffer[1024];
  size_t n = data_read(stream, buffer, sizeof buffer - 1);
  std::string text(buffer, n);
  size_t begin = 0, end = text.size();
  while (begin < end && isspace(static_cast<unsigned char>(text[begin]))) begin++;
  while (end > begin && isspace(static_cast<unsigned char>(text[end - 1]))) end--;
  return text.substr(begin, end - begin);
}

// PPM/PGM/J images after their magic; false with the reader's last error.
bool read_plain_image(DataStream* stream, const char* magic, Image* image) {
  if (!strcmp(magic, "J7") || !strcmp(magic, "J6"))
    return read_j_after_magic(stream, magic[1] == '7' ? 4 : 3, image);
  return read_pnm_after_magic(stream, magic, image);
}

bool is_plain_magic(const char* magic) {
  return !strcmp(magic, "J7") || !strcmp(magic, "J6") || !strcmp(magic, "P3") || !strcmp(magic, "P6") ||
         !strcmp(magic, "P2") || !strcmp(magic, "P5");
}

// PNG and its info text: the text chunks, then the ".info" file beside it.
bool read_png_with_info(const char* name, Image* image, std::string* info) {
  if (!read_png_file(name, image, info)) return false;
  std::vector<unsigned char> extra;
  std::string info_name = std::string(name) + ".info";
  if (data_read_all(info_name.c_str(), extra)) info->append(extra.begin(), extra.end());
  return true;
}

Texture* load_texture_at_depth(const char* requested, int depth);

Texture* load_texture_file(const std::string& name, bool full_res, int depth) {
  DataStream* stream = data_open(name.c_str(), "rb");
  if (!stream) {
    if (g_texture_settings.verbosity >= 1) show_message("Can't open texture \"%.900s\"", name.c_str());
    return nullptr;
  }
  char magic[16] = "";
  if (data_scanf(stream, "%15s", magic) != 1) magic[0] = '\0';

  unsigned flags = texture_name_flags(name.c_str()) | (full_res ? unsigned(TEXTURE_FULL_RES) : 0u);
  uint64_t memory_before = g_texture_memory;
  Image image;
  std::string info;
  bool max_alpha = false, custom = false;
  Texture* texture = nullptr;

  if (!strcmp(magic, "LINK")) {
    std::string target = read_link_target(stream);
    data_close(stream);
    if (depth >= MAX_LINK_DEPTH) {
      show_message("Too many links loading texture '%.900s'", name.c_str());
      return nullptr;
    }
    if (full_res && (target.empty() || target[0] != '!')) target.insert(0, "!");
    Texture* linked = load_texture_at_depth(target.c_str(), depth + 1);
    if (linked) record_alias(name, target);
    return linked;
  }
  if (!strcmp(magic, "ANIM1")) {
    texture = load_animation(stream, name.c_str(), flags);
    data_close(stream);
    if (!texture) return nullptr;
  } else {
    bool ok;
    if (is_plain_magic(magic)) {
      ok = read_plain_image(stream, magic, &image);
      data_close(stream);
      if (!ok) show_message("Can't read texture '%.900s': %s", name.c_str(), last_error());
      if (ok && image.channels == 1) expand_grey_to_rgb(&image);
    } else {
      data_close(stream);
      ok = read_png_with_info(name.c_str(), &image, &info);
      int setting = g_texture_settings.compress;
      if (ok && (setting == 2 || (setting == 1 && info_has_option(info, "[compress]"))))
        flags |= TEXTURE_COMPRESS;
      max_alpha = info_has_option(info, "[mip_max_alpha]");
      custom = info_has_option(info, "[mip_custom]");
    }
    if (!ok) return nullptr;
    int file_width = image.width, file_height = image.height;
    prepare_texture_image(&image, name.c_str(), max_alpha, custom, full_res);
    texture = upload_texture(image, flags);
    if (!texture) {
      show_message("Can't create texture '%.900s'", name.c_str());
      return nullptr;
    }
    texture->file_width = file_width;
    texture->file_height = file_height;
  }
  texture->name = name;
  texture->generation = g_generation;
  texture->memory = g_texture_memory - memory_before;
  texture->info = std::move(info);
  texture->mip_max_alpha = max_alpha;
  texture->mip_custom = custom;
  texture->cached = true;
  if (g_textures.empty()) g_textures.reserve(16);
  g_textures.push_back(texture);
  return texture;
}

Texture* load_texture_at_depth(const char* requested, int depth) {
  if (!requested || !*requested) return nullptr;
  bool full_res = false;
  std::string name = resolve_name(requested, &full_res);
  if (name.empty()) return nullptr;
  int found = find_by_name(g_textures, name, [](const Texture* t) -> const std::string& { return t->name; });
  if (found >= 0) {
    Texture* t = g_textures[found];
    if (t->generation != 0) t->generation = g_generation;
    g_texture_memory += t->memory;
    return t;
  }
  return load_texture_file(name, full_res, depth);
}

Image* load_image_at_depth(const char* requested, int depth) {
  if (!requested || !*requested) return nullptr;
  bool full_res = false;
  std::string name = resolve_name(requested, &full_res);
  if (name.empty()) return nullptr;
  int found = find_by_name(g_images, name, [](const std::unique_ptr<ImageEntry>& e) -> const std::string& {
    return e->name;
  });
  if (found >= 0) {
    ImageEntry* e = g_images[found].get();
    if (e->generation != 0) e->generation = g_generation;
    return &e->image;
  }

  DataStream* stream = data_open(name.c_str(), "rb");
  if (!stream) {
    if (g_texture_settings.verbosity >= 1) show_message("Can't open image \"%.900s\"", name.c_str());
    return nullptr;
  }
  char magic[16] = "";
  if (data_scanf(stream, "%15s", magic) != 1) magic[0] = '\0';
  auto entry = std::make_unique<ImageEntry>();
  std::string info;
  bool ok;
  if (!strcmp(magic, "LINK")) {
    std::string target = read_link_target(stream);
    data_close(stream);
    if (depth >= MAX_LINK_DEPTH) {
      show_message("Too many links loading image '%.900s'", name.c_str());
      return nullptr;
    }
    Image* linked = load_image_at_depth(target.c_str(), depth + 1);
    if (linked) record_alias(name, target);
    return linked;
  }
  if (!strcmp(magic, "ANIM1")) {
    data_close(stream);
    show_message("Can't use animation '%.900s' as an image", name.c_str());
    return nullptr;
  }
  if (is_plain_magic(magic)) {
    ok = read_plain_image(stream, magic, &entry->image);
    data_close(stream);
    if (!ok) show_message("Can't read image '%.900s': %s", name.c_str(), last_error());
  } else {
    data_close(stream);
    ok = read_png_with_info(name.c_str(), &entry->image, &info);
  }
  if (!ok) return nullptr;
  Image& image = entry->image;
  if (!(info_has_option(info, "[mip_custom]") && extract_custom_mipmaps(&image)))
    generate_mipmaps(&image, info_has_option(info, "[mip_max_alpha]"));
  entry->name = name;
  entry->generation = g_generation;
  if (g_images.empty()) g_images.reserve(16);
  g_images.push_back(std::move(entry));
  return &g_images.back()->image;
}

// The animation table owns the animations; purge_animations() has cut the
// link before a texture is freed.
void delete_texture_object(Texture* texture) {
  if (texture->handle) g_backend->destroy(texture->handle);
  delete texture;
}

}  // namespace

// --- shared with the animation reader ---------------------------------------------

void expand_grey_to_rgb(Image* image) {
  size_t n = size_t(image->width) * image->height;
  std::vector<uint8_t> rgb(n * 3);
  for (size_t i = 0; i < n; i++) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = image->pixels[i];
  image->pixels = std::move(rgb);
  image->channels = 3;
  image->levels = 1;
}

void prepare_texture_image(Image* image, const char* name, bool max_alpha, bool custom, bool full_res) {
  if (custom && !extract_custom_mipmaps(image)) {
    if (name) show_message("Warning: Invalid height for custom MIP map in '%.950s'", name);
    custom = false;
  }
  bool power_of_two = is_power_of_two(image->width) && is_power_of_two(image->height);
  if (!power_of_two) {
    if (name) show_message("Warning: Non power of 2 texture '%.950s'", name);
    // The hand-drawn levels cannot survive a resize; the chain is made anew.
    image->pixels.resize(size_t(image->width) * image->height * image->channels);
    image->levels = 1;
    resample_to_power_of_two(image);
    generate_mipmaps(image, max_alpha);
    return;
  }
  if (!custom) generate_mipmaps(image, max_alpha);
  if (!full_res) reduce_detail(image, std::clamp(g_texture_settings.detail, 0, 4));
}

Texture* upload_texture(const Image& image, unsigned flags) {
  TextureUpload upload{};
  upload.pixels = image.pixels.data();
  upload.width = image.width;
  upload.height = image.height;
  upload.channels = image.channels;
  upload.levels = (flags & TEXTURE_NO_MIPMAPS) ? 1 : image.levels;
  upload.flags = flags;
  border_colour(image, upload.border);
  uint64_t memory = 0;
  unsigned handle = g_backend->create(upload, &memory);
  if (!handle) return nullptr;
  g_texture_memory += memory;
  Texture* t = new Texture;
  t->memory = memory;
  t->handle = handle;
  t->width = t->file_width = image.width;
  t->height = t->file_height = image.height;
  t->channels = image.channels;
  t->levels = upload.levels;
  t->flags = flags;
  t->generation = g_generation;
  return t;
}

// --- public ---------------------------------------------------------------------

void set_texture_backend(const TextureBackend* backend) {
  g_backend = backend ? backend : &g_recording_texture_backend;
}

const TextureBackend* texture_backend() { return g_backend; }

unsigned texture_name_flags(const char* name) {
  unsigned flags = 0;
  if (name[0] == '!') flags |= TEXTURE_FULL_RES;
  if (strstr(name, "-repeat.")) flags |= TEXTURE_REPEAT_S | TEXTURE_REPEAT_T;
  if (strstr(name, "-hrepeat.")) flags |= TEXTURE_REPEAT_S;
  if (strstr(name, "-vrepeat.")) flags |= TEXTURE_REPEAT_T;
  return flags;
}

bool info_has_option(const std::string& info, const char* option) {
  return info.find(option) != std::string::npos;
}

Texture* load_texture(const char* name) { return load_texture_at_depth(name, 0); }

Image* load_image(const char* name) { return load_image_at_depth(name, 0); }

Texture* create_texture(const Image& image, unsigned flags) {
  if (image.levels < 1 || image.width <= 0 || image.height <= 0) return nullptr;
  Texture* t;
  if (!(flags & TEXTURE_NO_MIPMAPS) && image.levels < full_chain_levels(image.width, image.height)) {
    Image chained = image;
    chained.pixels.resize(size_t(image.width) * image.height * image.channels);
    chained.levels = 1;
    generate_mipmaps(&chained, false);
    t = upload_texture(chained, flags);
  } else {
    t = upload_texture(image, flags);
  }
  return t;
}

Texture* create_texture_without_mipmaps(const Image& image, unsigned flags) {
  return create_texture(image, flags | TEXTURE_NO_MIPMAPS);
}

void update_texture(Texture* texture, const Image& image) {
  if (!texture || !texture->handle || image.width != texture->width || image.height != texture->height ||
      image.channels != texture->channels || image.levels < texture->levels)
    return;
  TextureUpload upload{};
  upload.pixels = image.pixels.data();
  upload.width = image.width;
  upload.height = image.height;
  upload.channels = image.channels;
  upload.levels = texture->levels;
  upload.flags = texture->flags;
  border_colour(image, upload.border);
  g_backend->update(texture->handle, upload);
}

void destroy_texture(Texture* texture) {
  if (!texture || texture->cached) return;
  delete_texture_object(texture);
}

int advance_texture_generation() { return ++g_generation; }
int texture_generation() { return g_generation; }

uint64_t texture_memory_used() { return g_texture_memory; }
void reset_texture_memory() { g_texture_memory = 0; }

int cached_texture_count() { return int(g_textures.size()); }
Texture* cached_texture(int index) {
  return index >= 0 && index < int(g_textures.size()) ? g_textures[index] : nullptr;
}
int cached_image_count() { return int(g_images.size()); }

void purge_textures(bool all) {
  bool verbose = g_texture_settings.verbosity >= 1;
  // Textures leave the cache first and are freed only after the animations
  // that point at them are gone.
  std::vector<Texture*> doomed;
  for (int i = int(g_textures.size()) - 1; i >= 0; i--) {
    Texture* t = g_textures[i];
    if (!all && (t->generation == 0 || t->generation == g_generation)) continue;
    if (verbose) log_printf("deleting tid %d (%.900s)\n", int(t->handle), t->name.c_str());
    t->cached = false;
    doomed.push_back(t);
    g_textures.erase(g_textures.begin() + i);
  }
  for (int i = int(g_images.size()) - 1; i >= 0; i--) {
    ImageEntry* e = g_images[i].get();
    if (!all && (e->generation == 0 || e->generation == g_generation)) continue;
    if (verbose) log_printf("deleting image %.900s\n", e->name.c_str());
    g_images.erase(g_images.begin() + i);
  }
  purge_animations(all);
  for (Texture* t : doomed) delete_texture_object(t);
  if (all) {
    std::vector<Texture*>().swap(g_textures);
    std::vector<std::unique_ptr<ImageEntry>>().swap(g_images);
    std::vector<Alias>().swap(g_aliases);
  }
}

TextureChoices list_textures_with_prefix(const char* prefix) {
  TextureChoices choices;
  choices.files.push_back("");
  choices.names.push_back("default");
  size_t prefix_length = strlen(prefix);
  auto ends_with = [](const char* s, size_t n, const char* tail) {
    size_t t = strlen(tail);
    return n >= t && strcasecmp(s + n - t, tail) == 0;
  };
  int count = data_file_count();
  for (int i = 0; i < count; i++) {
    const char* file = data_file_name(i);
    if (!file) continue;
    size_t n = strlen(file);
    if (!ends_with(file, n, ".png") || ends_with(file, n, "_norm.png") || ends_with(file, n, "_spec.png"))
      continue;
    const char* slash = strrchr(file, '/');
    const char* base = slash ? slash + 1 : file;
    size_t base_length = strlen(base);
    if (base_length < prefix_length + 4 || strncasecmp(base, prefix, prefix_length) != 0) continue;
    choices.files.push_back(std::string("@") + file);
    choices.names.push_back(std::string(base + prefix_length, base_length - prefix_length - 4));
  }
  return choices;
}
