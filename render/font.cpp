#include "render/font.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"

namespace {

constexpr char FONT_MAGIC[8] = {'D', 'V', 'F', 'O', 'N', 'T', '\r', '\n'};
constexpr size_t HEADER_BYTES = 36;
constexpr size_t GLYPH_BYTES = 20;
constexpr size_t KERNING_BYTES = 12;
// zlib never grows data by more than a few bytes per 16 KB block; a stream
// much larger than its raw size is damage, not compression.
size_t max_compressed(size_t raw) { return raw + raw / 1000 + 64; }

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>* out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

bool fail(std::string* error, const char* reason) {
  if (error) *error = reason;
  return false;
}

bool fits_i16(int v) { return v >= -32768 && v <= 32767; }

// The rules a font in memory must keep for the file to be readable; the
// reader applies the same ones to what it decoded.
bool check_font(const Font& font, std::string* error) {
  if (font.pixel_size <= 0 || font.pixel_size > 65535) return fail(error, "bad pixel size");
  if (!fits_i16(font.ascent) || !fits_i16(font.descent) || font.descent < 0)
    return fail(error, "bad ascent or descent");
  if (font.line_height <= 0 || font.line_height > 32767) return fail(error, "bad line height");
  const Image& atlas = font.atlas;
  if (atlas.width < 1 || atlas.height < 1 || atlas.width > FONT_MAX_ATLAS_SIDE ||
      atlas.height > FONT_MAX_ATLAS_SIDE)
    return fail(error, "bad atlas size");
  if (atlas.channels != 1) return fail(error, "atlas is not one channel");
  if (atlas.pixels.size() < size_t(atlas.width) * atlas.height) return fail(error, "atlas pixels missing");
  if (font.glyphs.empty() || font.glyphs.size() > FONT_MAX_GLYPHS) return fail(error, "bad glyph count");
  if (font.kerning.size() > FONT_MAX_KERNING) return fail(error, "too many kerning pairs");
  for (size_t i = 0; i < font.glyphs.size(); i++) {
    const FontGlyph& g = font.glyphs[i];
    if (g.codepoint > FONT_MAX_CODEPOINT) return fail(error, "bad codepoint");
    if (i > 0 && g.codepoint <= font.glyphs[i - 1].codepoint)
      return fail(error, "glyphs not in ascending order");
    if (int(g.x) + g.width > atlas.width || int(g.y) + g.height > atlas.height)
      return fail(error, "glyph outside the atlas");
  }
  for (size_t i = 0; i < font.kerning.size(); i++) {
    const FontKerning& k = font.kerning[i];
    if (k.left > FONT_MAX_CODEPOINT || k.right > FONT_MAX_CODEPOINT)
      return fail(error, "bad kerning codepoint");
    if (i > 0) {
      const FontKerning& p = font.kerning[i - 1];
      if (k.left < p.left || (k.left == p.left && k.right <= p.right))
        return fail(error, "kerning pairs not in ascending order");
    }
  }
  return true;
}

bool decode_font(const uint8_t* bytes, size_t size, Font* font, std::string* error) {
  if (size < HEADER_BYTES + 4) return fail(error, "file too short");
  if (memcmp(bytes, FONT_MAGIC, sizeof FONT_MAGIC) != 0) return fail(error, "not a font file");
  int version = get16(bytes + 8);
  if (version != FONT_VERSION) return fail(error, "unknown version");
  if (get16(bytes + 10) != 0) return fail(error, "unknown flags");
  size_t glyph_count = get32(bytes + 24), kerning_count = get32(bytes + 28);
  size_t compressed = get32(bytes + 32);
  int width = get16(bytes + 20), height = get16(bytes + 22);
  if (width < 1 || height < 1 || width > FONT_MAX_ATLAS_SIDE || height > FONT_MAX_ATLAS_SIDE)
    return fail(error, "bad atlas size");
  if (glyph_count < 1 || glyph_count > FONT_MAX_GLYPHS) return fail(error, "bad glyph count");
  if (kerning_count > FONT_MAX_KERNING) return fail(error, "too many kerning pairs");
  size_t raw = size_t(width) * height;
  if (compressed < 1 || compressed > max_compressed(raw)) return fail(error, "bad atlas data size");
  size_t body = HEADER_BYTES + glyph_count * GLYPH_BYTES + kerning_count * KERNING_BYTES + compressed;
  if (size < body + 4) return fail(error, "file too short");
  if (get32(bytes + body) != uint32_t(crc32(0L, bytes, uInt(body)))) return fail(error, "checksum mismatch");

  Font out;
  out.pixel_size = get16(bytes + 12);
  out.ascent = int16_t(get16(bytes + 14));
  out.descent = int16_t(get16(bytes + 16));
  out.line_height = int16_t(get16(bytes + 18));
  const uint8_t* p = bytes + HEADER_BYTES;
  out.glyphs.resize(glyph_count);
  for (FontGlyph& g : out.glyphs) {
    g.codepoint = get32(p);
    g.x = get16(p + 4);
    g.y = get16(p + 6);
    g.width = get16(p + 8);
    g.height = get16(p + 10);
    g.bearing_x = int16_t(get16(p + 12));
    g.bearing_y = int16_t(get16(p + 14));
    g.advance = int32_t(get32(p + 16));
    p += GLYPH_BYTES;
  }
  out.kerning.resize(kerning_count);
  for (FontKerning& k : out.kerning) {
    k.left = get32(p);
    k.right = get32(p + 4);
    k.adjust = int32_t(get32(p + 8));
    p += KERNING_BYTES;
  }
  init_image(&out.atlas, width, height, 1);
  uLongf produced = uLongf(raw);
  if (uncompress(out.atlas.pixels.data(), &produced, p, uLong(compressed)) != Z_OK || produced != raw)
    return fail(error, "damaged atlas data");
  if (!check_font(out, error)) return false;
  *font = std::move(out);
  return true;
}

}  // namespace

bool encode_font(const Font& font, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  if (!check_font(font, error)) return false;
  size_t raw = size_t(font.atlas.width) * font.atlas.height;
  uLongf packed_size = compressBound(uLong(raw));
  std::vector<uint8_t> packed(packed_size);
  if (compress2(packed.data(), &packed_size, font.atlas.pixels.data(), uLong(raw), 9) != Z_OK)
    return fail(error, "atlas compression failed");
  if (packed_size > max_compressed(raw)) return fail(error, "atlas compression failed");

  std::vector<uint8_t>& out = *bytes;
  out.assign(FONT_MAGIC, FONT_MAGIC + sizeof FONT_MAGIC);
  put16(&out, FONT_VERSION);
  put16(&out, 0);
  put16(&out, uint32_t(font.pixel_size));
  put16(&out, uint16_t(int16_t(font.ascent)));
  put16(&out, uint16_t(int16_t(font.descent)));
  put16(&out, uint16_t(font.line_height));
  put16(&out, uint32_t(font.atlas.width));
  put16(&out, uint32_t(font.atlas.height));
  put32(&out, uint32_t(font.glyphs.size()));
  put32(&out, uint32_t(font.kerning.size()));
  put32(&out, uint32_t(packed_size));
  for (const FontGlyph& g : font.glyphs) {
    put32(&out, g.codepoint);
    put16(&out, g.x);
    put16(&out, g.y);
    put16(&out, g.width);
    put16(&out, g.height);
    put16(&out, uint16_t(g.bearing_x));
    put16(&out, uint16_t(g.bearing_y));
    put32(&out, uint32_t(g.advance));
  }
  for (const FontKerning& k : font.kerning) {
    put32(&out, k.left);
    put32(&out, k.right);
    put32(&out, uint32_t(k.adjust));
  }
  out.insert(out.end(), packed.begin(), packed.begin() + long(packed_size));
  put32(&out, uint32_t(crc32(0L, out.data(), uInt(out.size()))));
  return true;
}

bool read_font(DataStream* stream, const char* label, Font* font) {
  *font = Font{};
  std::string error;
  std::vector<uint8_t> bytes(HEADER_BYTES);
  bool ok = false;
  if (data_read(stream, bytes.data(), HEADER_BYTES) != HEADER_BYTES) {
    error = "file too short";
  } else if (memcmp(bytes.data(), FONT_MAGIC, sizeof FONT_MAGIC) != 0) {
    error = "not a font file";
  } else {
    // Only as many bytes as the header's (limited) counts announce, so a
    // lying header cannot make us read or reserve more than a real font.
    size_t glyphs = std::min<size_t>(get32(bytes.data() + 24), FONT_MAX_GLYPHS);
    size_t kerning = std::min<size_t>(get32(bytes.data() + 28), FONT_MAX_KERNING);
    size_t raw = size_t(FONT_MAX_ATLAS_SIDE) * FONT_MAX_ATLAS_SIDE;
    size_t compressed = std::min<size_t>(get32(bytes.data() + 32), max_compressed(raw));
    size_t rest = glyphs * GLYPH_BYTES + kerning * KERNING_BYTES + compressed + 4;
    // In pieces: a short file with a big claim costs what it holds, not
    // what it claims.
    size_t got = 0;
    while (got < rest) {
      size_t piece = std::min<size_t>(rest - got, 1 << 16);
      bytes.resize(HEADER_BYTES + got + piece);
      size_t n = data_read(stream, bytes.data() + HEADER_BYTES + got, piece);
      got += n;
      if (n < piece) break;
    }
    bytes.resize(HEADER_BYTES + got);
    ok = decode_font(bytes.data(), bytes.size(), font, &error);
  }
  if (!ok) show_message("Can't read font '%.900s': %s", label, error.c_str());
  return ok;
}

bool read_font_file(const char* name, Font* font) {
  DataStream* stream = data_open(name, "rb");
  if (!stream) {
    *font = Font{};
    show_message("Can't open font '%.900s'", name);
    return false;
  }
  bool ok = read_font(stream, name, font);
  data_close(stream);
  return ok;
}

bool write_font(DataStream* stream, const Font& font) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!encode_font(font, &bytes, &error)) {
    log_printf("Can't write font: %s\n", error.c_str());
    return false;
  }
  return data_write(stream, bytes.data(), bytes.size()) == bytes.size();
}

bool write_font_file(const char* name, const Font& font) {
  DataStream* stream = data_open(name, "wb");
  if (!stream) {
    log_printf("Can't write '%.900s'\n", name);
    return false;
  }
  bool ok = write_font(stream, font);
  if (data_flush(stream) != 0) ok = false;
  data_close(stream);
  if (!ok) log_printf("Error writing '%.900s'\n", name);
  return ok;
}

bool pack_font(const std::vector<GlyphBitmap>& glyphs, int pixel_size, int ascent, int descent,
               int line_height, int padding, Font* font, std::string* error) {
  *font = Font{};
  if (padding < 0 || padding > 16) return fail(error, "bad padding");
  // Sorted by codepoint, first of each codepoint kept.
  std::vector<const GlyphBitmap*> order;
  order.reserve(glyphs.size());
  for (const GlyphBitmap& g : glyphs) {
    if (g.width < 0 || g.height < 0 || g.width > FONT_MAX_ATLAS_SIDE || g.height > FONT_MAX_ATLAS_SIDE)
      return fail(error, "bad glyph size");
    if (g.coverage.size() < size_t(g.width) * g.height) return fail(error, "glyph coverage missing");
    if (!fits_i16(g.bearing_x) || !fits_i16(g.bearing_y)) return fail(error, "bad glyph bearing");
    order.push_back(&g);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const GlyphBitmap* a, const GlyphBitmap* b) { return a->codepoint < b->codepoint; });
  order.erase(std::unique(order.begin(), order.end(),
                          [](const GlyphBitmap* a, const GlyphBitmap* b) { return a->codepoint == b->codepoint; }),
              order.end());
  if (order.empty()) return fail(error, "no glyphs");

  // Shelf packing, tallest first, into the narrowest power-of-two width
  // (at least 64) whose shelves fit under the same height.
  std::vector<const GlyphBitmap*> tall = order;
  std::stable_sort(tall.begin(), tall.end(),
                   [](const GlyphBitmap* a, const GlyphBitmap* b) { return a->height > b->height; });
  double area = 0;
  int widest = 0;
  for (const GlyphBitmap* g : tall) {
    area += double(g->width + 2 * padding) * (g->height + 2 * padding);
    widest = std::max(widest, g->width + 2 * padding);
  }
  int width = 64;
  while (width < FONT_MAX_ATLAS_SIDE && (width < widest || double(width) * width < area)) width *= 2;
  if (width < widest) return fail(error, "glyph wider than the largest atlas");

  struct Place {
    int x, y;
  };
  std::vector<Place> places(tall.size());
  int x = 0, y = 0, shelf = 0;
  for (size_t i = 0; i < tall.size(); i++) {
    int w = tall[i]->width + 2 * padding, h = tall[i]->height + 2 * padding;
    if (x + w > width) {
      y += shelf;
      x = 0;
      shelf = 0;
    }
    places[i] = {x + padding, y + padding};
    x += w;
    shelf = std::max(shelf, h);
  }
  int used = y + shelf;
  int height = 1;
  while (height < used) height *= 2;
  if (height > FONT_MAX_ATLAS_SIDE) return fail(error, "glyphs do not fit the largest atlas");

  font->pixel_size = pixel_size;
  font->ascent = ascent;
  font->descent = descent;
  font->line_height = line_height;
  init_image(&font->atlas, width, height, 1);
  for (size_t i = 0; i < tall.size(); i++) {
    const GlyphBitmap& g = *tall[i];
    for (int row = 0; row < g.height; row++)
      memcpy(&font->atlas.pixels[size_t(places[i].y + row) * width + places[i].x],
             &g.coverage[size_t(row) * g.width], size_t(g.width));
  }
  font->glyphs.reserve(order.size());
  for (const GlyphBitmap* g : order) {
    size_t i = size_t(std::find(tall.begin(), tall.end(), g) - tall.begin());
    FontGlyph out;
    out.codepoint = g->codepoint;
    out.x = uint16_t(places[i].x);
    out.y = uint16_t(places[i].y);
    out.width = uint16_t(g->width);
    out.height = uint16_t(g->height);
    out.bearing_x = int16_t(g->bearing_x);
    out.bearing_y = int16_t(g->bearing_y);
    out.advance = g->advance;
    font->glyphs.push_back(out);
  }
  if (!check_font(*font, error)) {
    *font = Font{};
    return false;
  }
  return true;
}

const FontGlyph* find_glyph(const Font& font, uint32_t codepoint) {
  auto it = std::lower_bound(font.glyphs.begin(), font.glyphs.end(), codepoint,
                             [](const FontGlyph& g, uint32_t c) { return g.codepoint < c; });
  return it != font.glyphs.end() && it->codepoint == codepoint ? &*it : nullptr;
}

const FontGlyph* glyph_or_replacement(const Font& font, uint32_t codepoint) {
  const FontGlyph* g = find_glyph(font, codepoint);
  return g ? g : find_glyph(font, FONT_REPLACEMENT_CODEPOINT);
}

int32_t font_kerning(const Font& font, uint32_t left, uint32_t right) {
  auto it = std::lower_bound(font.kerning.begin(), font.kerning.end(), std::pair(left, right),
                             [](const FontKerning& k, std::pair<uint32_t, uint32_t> key) {
                               return k.left < key.first || (k.left == key.first && k.right < key.second);
                             });
  return it != font.kerning.end() && it->left == left && it->right == right ? it->adjust : 0;
}

uint32_t next_codepoint(const char* text, size_t length, size_t* pos) {
  if (*pos >= length) return 0;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(text) + *pos;
  size_t left = length - *pos;
  uint8_t c = s[0];
  int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? (c <= 0xEF ? 2 : 0) : c >= 0xC2 && c <= 0xDF ? 1 : 0;
  if (c >= 0x80 && extra > 0 && size_t(extra) < left) {
    uint32_t cp = c & (0x3F >> extra);
    bool ok = true;
    for (int i = 1; i <= extra && ok; i++) {
      ok = (s[i] & 0xC0) == 0x80;
      cp = cp << 6 | (s[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode read as Latin-1.
    static const uint32_t min_for[4] = {0, 0x80, 0x800, 0x10000};
    if (ok && cp >= min_for[extra] && cp <= FONT_MAX_CODEPOINT && !(cp >= 0xD800 && cp <= 0xDFFF)) {
      *pos += size_t(extra) + 1;
      return cp;
    }
  }
  *pos += 1;
  return c;
}

double font_text_width(const Font& font, const char* text, size_t length) {
  int64_t width = 0;
  uint32_t previous = 0;
  size_t pos = 0;
  while (pos < length) {
    uint32_t cp = next_codepoint(text, length, &pos);
    if (cp == 0) break;
    const FontGlyph* g = glyph_or_replacement(font, cp);
    if (!g) continue;
    if (previous) width += font_kerning(font, previous, g->codepoint);
    width += g->advance;
    previous = g->codepoint;
  }
  return double(width) / 64.0;
}

double font_text_width(const Font& font, const char* text) {
  return font_text_width(font, text, strlen(text));
}
