// The recording texture backend: what headless runs and tests use instead of
// the GPU. It hands out handles, accounts memory the way a GPU would, and
// keeps a log of every operation (optionally with the pixels).
#include <algorithm>

#include "render/texture.h"

TextureRecorder g_texture_recorder;

uint64_t compressed_level_bytes(int width, int height, int channels) {
  uint64_t blocks = uint64_t((width + 3) / 4) * uint64_t((height + 3) / 4);
  return blocks * (channels == 4 ? 16 : 8);
}

namespace {

uint64_t upload_bytes(const TextureUpload& u) {
  return chain_bytes(u.width, u.height, u.channels, u.levels);
}

RecordedUpload* add_record(RecordedUpload::Kind kind, unsigned handle, const TextureUpload* u) {
  TextureRecorder& r = g_texture_recorder;
  if (r.max_records == 0) return nullptr;
  if (r.uploads.size() >= r.max_records) r.uploads.pop_front();
  r.uploads.push_back(RecordedUpload{});
  RecordedUpload& rec = r.uploads.back();
  rec.kind = kind;
  rec.handle = handle;
  if (u) {
    rec.width = u->width;
    rec.height = u->height;
    rec.channels = u->channels;
    rec.levels = u->levels;
    rec.flags = u->flags;
    std::copy(u->border, u->border + 4, rec.border);
    if (r.keep_pixels) rec.pixels.assign(u->pixels, u->pixels + upload_bytes(*u));
  }
  return &rec;
}

unsigned record_create(const TextureUpload& u, uint64_t* memory) {
  TextureRecorder& r = g_texture_recorder;
  unsigned handle = r.next_handle++;
  if (r.next_handle == 0) r.next_handle = 1;
  uint64_t bytes = 0;
  for (int l = 0; l < u.levels; l++) {
    int w = level_size(u.width, l), h = level_size(u.height, l);
    bytes += (u.flags & TEXTURE_COMPRESS) && u.channels >= 3 ? compressed_level_bytes(w, h, u.channels)
                                                             : uint64_t(w) * h * u.channels;
  }
  *memory = bytes;
  r.live.push_back(handle);
  r.creates++;
  r.bytes_uploaded += upload_bytes(u);
  if (RecordedUpload* rec = add_record(RecordedUpload::CREATE, handle, &u)) rec->memory = bytes;
  return handle;
}

void record_update(unsigned handle, const TextureUpload& u) {
  TextureRecorder& r = g_texture_recorder;
  r.updates++;
  r.bytes_uploaded += upload_bytes(u);
  add_record(RecordedUpload::UPDATE, handle, &u);
}

void record_destroy(unsigned handle) {
  TextureRecorder& r = g_texture_recorder;
  auto it = std::find(r.live.begin(), r.live.end(), handle);
  if (it != r.live.end()) r.live.erase(it);
  r.destroys++;
  add_record(RecordedUpload::DESTROY, handle, nullptr);
}

}  // namespace

const TextureBackend g_recording_texture_backend = {"recording", record_create, record_update, record_destroy};

void reset_texture_recorder() {
  TextureRecorder& r = g_texture_recorder;
  size_t max_records = r.max_records;
  bool keep_pixels = r.keep_pixels;
  unsigned next = r.next_handle;
  r = TextureRecorder{};
  r.max_records = max_records;
  r.keep_pixels = keep_pixels;
  // Handles keep counting so that a stale one is never mistaken for a new one.
  r.next_handle = next;
}
