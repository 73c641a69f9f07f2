// ".seq" animations: a frame sequence played at a fixed number of simulation
// ticks per frame, each frame a J7 image stored inline or a PNG file named
// on its own line. The texture keeps one set of levels on the GPU; a frame
// change re-uploads them in place.
#include <cctype>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"
#include "render/texture_internal.h"

namespace {

// Bounds on what a header may ask for; real animations have a few dozen frames.
constexpr int MAX_SEQUENCE_LENGTH = 1 << 16;
constexpr int MAX_FRAMES = 4096;

std::vector<Animation*> g_animations;

std::string trimmed(const char* text) {
  const char* begin = text;
  while (*begin && isspace(static_cast<unsigned char>(*begin))) begin++;
  const char* end = begin + strlen(begin);
  while (end > begin && isspace(static_cast<unsigned char>(end[-1]))) end--;
  return std::string(begin, end);
}

// The PNG frame's file name: the rest of the word's line, or the next line
// when that is blank. False at end of file.
bool read_frame_name(DataStream* stream, std::string* name) {
  char line[1024];
  for (int tries = 0; tries < 2; tries++) {
    if (!data_gets(line, sizeof line, stream)) return false;
    *name = trimmed(line);
    if (!name->empty()) return true;
  }
  return true;
}

// Reads frame `index` into `frame`; false after showing what went wrong.
bool read_frame(DataStream* stream, int index, Image* frame) {
  char word[16] = "";
  int got = data_scanf(stream, "%15s", word);
  if (got != 1) {
    show_message(got < 0 ? "EOF while reading .seq" : "Error reading .seq frame %d", index);
    return false;
  }
  if (!strcmp(word, "J7")) {
    if (!read_j_after_magic(stream, 4, frame)) {
      show_message("Error reading .seq frame %d", index);
      return false;
    }
    return true;
  }
  if (!strcmp(word, "PNG")) {
    std::string file;
    if (!read_frame_name(stream, &file)) {
      show_message("EOF while reading .seq");
      return false;
    }
    if (file.empty() || !read_png_file(file.c_str(), frame, nullptr)) {
      show_message("Can't read %.900s", file.c_str());
      return false;
    }
    return true;
  }
  show_message("Error reading .seq frame %d", index);
  return false;
}

}  // namespace

Texture* load_animation(DataStream* stream, const char* name, unsigned flags) {
  int length = 0, frame_count = 0, ticks_per_frame = 0, loop = 0;
  if (data_scanf(stream, "%d %d %d %d", &length, &frame_count, &ticks_per_frame, &loop) != 4 || length <= 0 ||
      frame_count <= 0 || length > MAX_SEQUENCE_LENGTH || frame_count > MAX_FRAMES) {
    show_message("Bad .seq header in '%.900s'", name);
    return nullptr;
  }
  // A rate of zero would divide by zero on every frame; it plays one frame per tick.
  if (ticks_per_frame < 1) ticks_per_frame = 1;

  Animation* anim = new Animation;
  anim->frame_count = frame_count;
  anim->ticks_per_frame = ticks_per_frame;
  anim->loop = loop != 0;
  anim->sequence.resize(length);
  bool ok = true;
  for (int i = 0; i < length && ok; i++) {
    int got = data_scanf(stream, "%d ", &anim->sequence[i]);
    if (got != 1) {
      show_message(got < 0 ? "EOF while reading .seq" : "Error reading .seq sequence entry %d", i);
      ok = false;
    } else if (anim->sequence[i] < 0 || anim->sequence[i] >= frame_count) {
      show_message("Bad frame number %d in .seq", anim->sequence[i]);
      ok = false;
    }
  }

  int64_t pixels = 0;
  anim->frames.resize(ok ? frame_count : 0);
  for (int f = 0; f < frame_count && ok; f++) {
    Image& frame = anim->frames[f];
    ok = read_frame(stream, f, &frame);
    if (!ok) break;
    const Image& first = anim->frames[0];
    if (frame.width != first.width || frame.height != first.height) {
      show_message("Width/height mismatch reading .seq");
      ok = false;
    } else if (frame.channels != first.channels) {
      show_message("Depth mismatch reading .seq");
      ok = false;
    } else if ((pixels += int64_t(frame.width) * frame.height) > g_image_max_pixels) {
      show_message("Animation '%.900s' is too large", name);
      ok = false;
    }
  }
  if (ok) {
    int file_width = anim->frames[0].width, file_height = anim->frames[0].height;
    bool full_res = flags & TEXTURE_FULL_RES;
    for (int f = 0; f < frame_count; f++)
      prepare_texture_image(&anim->frames[f], f == 0 ? name : nullptr, false, false, full_res);
    anim->current_frame = anim->sequence[0];
    Texture* texture = upload_texture(anim->frames[anim->current_frame], flags);
    if (!texture) {
      show_message("Can't create texture '%.900s'", name);
    } else {
      texture->file_width = file_width;
      texture->file_height = file_height;
      texture->animation = anim;
      anim->texture = texture;
      if (g_animations.empty()) g_animations.reserve(16);
      g_animations.push_back(anim);
      return texture;
    }
  }
  delete anim;
  return nullptr;
}

void update_animations(int64_t tick) {
  const TextureBackend* backend = texture_backend();
  for (Animation* anim : g_animations) {
    if (anim->paused) continue;
    int64_t n = (tick > anim->start_tick ? tick - anim->start_tick : 0) / anim->ticks_per_frame;
    int64_t length = int64_t(anim->sequence.size());
    n = anim->loop ? n % length : (n < length - 1 ? n : length - 1);
    int frame = anim->sequence[size_t(n)];
    if (frame == anim->current_frame) continue;
    const Image& image = anim->frames[frame];
    Texture* t = anim->texture;
    TextureUpload upload{};
    upload.pixels = image.pixels.data();
    upload.width = image.width;
    upload.height = image.height;
    upload.channels = image.channels;
    upload.levels = t->levels;
    upload.flags = t->flags;
    border_colour(image, upload.border);
    backend->update(t->handle, upload);
    anim->current_frame = frame;
  }
}

void start_animation(Texture* texture, int64_t tick) {
  if (!texture || !texture->animation) return;
  texture->animation->start_tick = tick;
  texture->animation->paused = false;
}

void pause_animation(Texture* texture) {
  if (texture && texture->animation) texture->animation->paused = true;
}

void purge_animations(bool all) {
  bool verbose = g_texture_settings.verbosity >= 1;
  for (int i = int(g_animations.size()) - 1; i >= 0; i--) {
    Animation* anim = g_animations[i];
    if (!all && anim->texture->cached) continue;
    if (verbose) log_printf("deleting anim %d for tid %d\n", i, int(anim->texture->handle));
    anim->texture->animation = nullptr;
    delete anim;
    g_animations.erase(g_animations.begin() + i);
  }
  if (all) std::vector<Animation*>().swap(g_animations);
}

int animation_count() { return int(g_animations.size()); }
