// The font file: packing, the write/read round trip, damaged and lying files,
// and the text measuring built on the metrics.
#include <zlib.h>

#include <cstring>

#include "render/font.h"
#include "render_fixture.h"

namespace {

// A glyph whose coverage encodes its codepoint and position, so a misplaced
// box in the atlas shows up as wrong pixels.
GlyphBitmap make_glyph(uint32_t cp, int w, int h, int advance_px) {
  GlyphBitmap g;
  g.codepoint = cp;
  g.width = w;
  g.height = h;
  g.bearing_x = int(cp % 3) - 1;
  g.bearing_y = h - int(cp % 4);
  g.advance = advance_px * 64 + int(cp % 7);
  g.coverage.resize(size_t(w) * h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) g.coverage[size_t(y) * w + x] = uint8_t(cp * 31 + x * 7 + y * 13 + 1);
  return g;
}

std::vector<GlyphBitmap> ascii_glyphs() {
  std::vector<GlyphBitmap> glyphs;
  // Given out of order, with a space that has no box and a duplicate.
  for (uint32_t cp = 126; cp >= 33; cp--) glyphs.push_back(make_glyph(cp, 5 + int(cp % 9), 8 + int(cp % 11), 9));
  glyphs.push_back(make_glyph(' ', 0, 0, 6));
  glyphs.push_back(make_glyph(0xE9, 7, 14, 9));     // é
  glyphs.push_back(make_glyph(0x20AC, 9, 15, 11));  // €
  glyphs.push_back(make_glyph('A', 40, 40, 99));    // duplicate: the first 'A' stays
  return glyphs;
}

Font packed_font() {
  Font font;
  std::string error;
  EXPECT_TRUE(pack_font(ascii_glyphs(), 20, 16, 5, 24, 1, &font, &error)) << error;
  font.kerning = {{'A', 'V', -128}, {'T', 'o', -64}, {'V', 'A', -96}};
  return font;
}

std::vector<uint8_t> encoded(const Font& font) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(encode_font(font, &bytes, &error)) << error;
  return bytes;
}

bool decodes(const std::vector<uint8_t>& bytes, Font* font) {
  DataStream* stream = data_open_memory(bytes.data(), bytes.size());
  bool ok = read_font(stream, "test", font);
  data_close(stream);
  return ok;
}

void put32(std::vector<uint8_t>* bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*bytes)[at + i] = uint8_t(v >> (8 * i));
}
// Recomputes the trailing checksum after a deliberate edit, so the edit
// reaches the reader's structural checks.
void reseal(std::vector<uint8_t>* bytes) {
  size_t body = bytes->size() - 4;
  put32(bytes, body, uint32_t(crc32(0L, bytes->data(), uInt(body))));
}

}  // namespace

TEST(FontPack, EveryGlyphKeepsItsPixelsAndMetrics) {
  std::vector<GlyphBitmap> glyphs = ascii_glyphs();
  Font font = packed_font();
  ASSERT_EQ(font.glyphs.size(), 94u + 1 + 2);
  EXPECT_TRUE(is_power_of_two(font.atlas.width));
  EXPECT_TRUE(is_power_of_two(font.atlas.height));
  for (size_t i = 1; i < font.glyphs.size(); i++) EXPECT_LT(font.glyphs[i - 1].codepoint, font.glyphs[i].codepoint);

  for (const GlyphBitmap& source : glyphs) {
    const FontGlyph* g = find_glyph(font, source.codepoint);
    ASSERT_NE(g, nullptr) << source.codepoint;
    if (source.codepoint == 'A' && source.width == 40) continue;  // the dropped duplicate
    EXPECT_EQ(g->width, source.width);
    EXPECT_EQ(g->height, source.height);
    EXPECT_EQ(g->bearing_x, source.bearing_x);
    EXPECT_EQ(g->bearing_y, source.bearing_y);
    EXPECT_EQ(g->advance, source.advance);
    for (int y = 0; y < g->height; y++)
      for (int x = 0; x < g->width; x++)
        ASSERT_EQ(font.atlas.pixels[size_t(g->y + y) * font.atlas.width + g->x + x],
                  source.coverage[size_t(y) * source.width + x])
            << "glyph " << source.codepoint;
  }
  EXPECT_EQ(find_glyph(font, 'A')->width, 5 + 'A' % 9);

  // The padding ring around every box stays blank, so filtering a glyph
  // never picks up its neighbour.
  std::vector<int> owner(size_t(font.atlas.width) * font.atlas.height, 0);
  for (const FontGlyph& g : font.glyphs)
    for (int y = int(g.y) - 1; y <= g.y + g.height; y++)
      for (int x = int(g.x) - 1; x <= g.x + g.width; x++)
        if (g.width && x >= 0 && y >= 0 && x < font.atlas.width && y < font.atlas.height)
          owner[size_t(y) * font.atlas.width + x]++;
  for (int v : owner) ASSERT_LE(v, 1) << "padded boxes overlap";
}

TEST(FontPack, RefusesWhatCannotBeAFont) {
  Font font;
  std::string error;
  EXPECT_FALSE(pack_font({}, 20, 16, 5, 24, 1, &font, &error));
  GlyphBitmap short_coverage = make_glyph('a', 4, 4, 5);
  short_coverage.coverage.resize(3);
  EXPECT_FALSE(pack_font({short_coverage}, 20, 16, 5, 24, 1, &font, &error));
  EXPECT_FALSE(pack_font({make_glyph('a', 5000, 2, 5)}, 20, 16, 5, 24, 1, &font, &error));
  EXPECT_FALSE(pack_font({make_glyph('a', 4, 4, 5)}, 20, 16, -1, 24, 1, &font, &error));
  EXPECT_FALSE(error.empty());
  // A glyph as wide as the largest atlas still fits without padding.
  EXPECT_TRUE(pack_font({make_glyph('a', 4096, 1, 5)}, 20, 16, 5, 24, 0, &font, &error)) << error;
}

class FontFileTest : public DataDirTest {};

TEST_F(FontFileTest, RoundTripThroughAFileKeepsEverything) {
  Font font = packed_font();
  ASSERT_TRUE(write_font_file("@text.dvfont", font));
  Font back;
  ASSERT_TRUE(read_font_file("@text.dvfont", &back));
  EXPECT_EQ(back.pixel_size, 20);
  EXPECT_EQ(back.ascent, 16);
  EXPECT_EQ(back.descent, 5);
  EXPECT_EQ(back.line_height, 24);
  ASSERT_EQ(back.glyphs.size(), font.glyphs.size());
  for (size_t i = 0; i < font.glyphs.size(); i++) {
    EXPECT_EQ(memcmp(&back.glyphs[i], &font.glyphs[i], sizeof(FontGlyph)), 0) << i;
  }
  ASSERT_EQ(back.kerning.size(), 3u);
  EXPECT_EQ(font_kerning(back, 'T', 'o'), -64);
  EXPECT_EQ(back.atlas.width, font.atlas.width);
  EXPECT_EQ(back.atlas.height, font.atlas.height);
  EXPECT_EQ(back.atlas.pixels, font.atlas.pixels);
  // Writing what was read gives the same bytes: the format has one spelling.
  EXPECT_EQ(encoded(back), encoded(font));

  EXPECT_FALSE(read_font_file("@missing.dvfont", &back));
  EXPECT_TRUE(shown("Can't open font '@missing.dvfont'"));
}

TEST(FontFile, WriterRefusesFontsTheReaderWouldReject) {
  Font font = packed_font();
  std::vector<uint8_t> bytes;
  std::string error;
  Font unsorted = font;
  std::swap(unsorted.glyphs[3], unsorted.glyphs[4]);
  EXPECT_FALSE(encode_font(unsorted, &bytes, &error));
  EXPECT_TRUE(bytes.empty());
  Font outside = font;
  outside.glyphs[5].x = uint16_t(font.atlas.width - 1);
  EXPECT_FALSE(encode_font(outside, &bytes, &error));
  Font kerning = font;
  std::swap(kerning.kerning[0], kerning.kerning[2]);
  EXPECT_FALSE(encode_font(kerning, &bytes, &error));
  Font colour = font;
  init_image(&colour.atlas, 4, 4, 3);
  EXPECT_FALSE(encode_font(colour, &bytes, &error));
}

TEST(FontFile, DamagedFilesFailWithAMessage) {
  std::vector<uint8_t> good = encoded(packed_font());
  Font font;
  ASSERT_TRUE(decodes(good, &font));

  // Every truncation fails.
  for (size_t n = 0; n < good.size(); n += (n < 64 ? 1 : 97)) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
    clear_message_lines();
    EXPECT_FALSE(decodes(cut, &font)) << n;
    EXPECT_TRUE(font.glyphs.empty());
    ASSERT_NE(message_line(0), nullptr);
    EXPECT_NE(strstr(message_line(0), "Can't read font 'test'"), nullptr);
  }
  // Any flipped byte is caught by the checksum or the checks before it.
  for (size_t at = 0; at < good.size(); at += 7) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0x5A;
    EXPECT_FALSE(decodes(bad, &font)) << at;
  }
  // A text-mode copy that turned CR LF into LF.
  std::vector<uint8_t> text_mode = good;
  text_mode.erase(text_mode.begin() + 6);
  EXPECT_FALSE(decodes(text_mode, &font));
}

TEST(FontFile, LyingHeadersWithAValidChecksumAreRefused) {
  std::vector<uint8_t> good = encoded(packed_font());
  Font font;
  auto with = [&](auto edit) {
    std::vector<uint8_t> bytes = good;
    edit(&bytes);
    reseal(&bytes);
    return decodes(bytes, &font);
  };
  // Counts far beyond the limits are refused before anything is reserved.
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { put32(b, 24, 0xFFFFFFFFu); }));
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { put32(b, 28, 0xFFFFFFFFu); }));
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { put32(b, 32, 0xFFFFFFFFu); }));
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { put32(b, 24, 0); }));
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { (*b)[8] = 2; }));   // version 2
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { (*b)[10] = 1; }));  // unknown flag
  // A glyph box past the atlas edge.
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { (*b)[36 + 4] = 0xFF, (*b)[36 + 5] = 0x0F; }));
  // Atlas size that disagrees with the compressed pixels.
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { (*b)[20] ^= 0x01; }));
  // Glyphs out of order.
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { put32(b, 36 + 20, 0); }));
  // A zero line height or a negative descent.
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { (*b)[18] = 0, (*b)[19] = 0; }));
  EXPECT_FALSE(with([](std::vector<uint8_t>* b) { (*b)[16] = 0xFF, (*b)[17] = 0xFF; }));
  // The unedited bytes still read.
  EXPECT_TRUE(with([](std::vector<uint8_t>*) {}));
}

TEST(FontText, WidthsFollowAdvancesKerningAndReplacement) {
  Font font = packed_font();
  auto advance = [&](uint32_t cp) { return find_glyph(font, cp)->advance / 64.0; };
  EXPECT_DOUBLE_EQ(font_text_width(font, ""), 0.0);
  EXPECT_DOUBLE_EQ(font_text_width(font, "Hi"), advance('H') + advance('i'));
  EXPECT_DOUBLE_EQ(font_text_width(font, "AV"), advance('A') + advance('V') - 2.0);
  EXPECT_DOUBLE_EQ(font_text_width(font, "To"), advance('T') + advance('o') - 1.0);
  // UTF-8 and stray Latin-1 bytes both find their glyph; a codepoint the
  // font lacks takes the width of '?'.
  EXPECT_DOUBLE_EQ(font_text_width(font, "\xC3\xA9"), advance(0xE9));
  EXPECT_DOUBLE_EQ(font_text_width(font, "\xE9"), advance(0xE9));
  EXPECT_DOUBLE_EQ(font_text_width(font, "\xE2\x82\xAC"), advance(0x20AC));
  EXPECT_DOUBLE_EQ(font_text_width(font, "\xE4\xB8\xAD"), advance('?'));
  EXPECT_DOUBLE_EQ(font_text_width(font, "Hi there", 2), advance('H') + advance('i'));
}

TEST(FontText, Utf8DecodingNeverRunsPastTheText) {
  struct Case {
    const char* bytes;
    size_t length;
    std::vector<uint32_t> codepoints;
  };
  const Case cases[] = {
      {"a\xC3\xA9z", 4, {'a', 0xE9, 'z'}},
      {"\xF0\x9F\x8F\x81", 4, {0x1F3C1}},
      {"\xF0\x9F\x8F", 3, {0xF0, 0x9F, 0x8F}},      // cut short: bytes stand for themselves
      {"\xC0\xAF", 2, {0xC0, 0xAF}},                // overlong
      {"\xED\xA0\x80", 3, {0xED, 0xA0, 0x80}},      // surrogate
      {"\xF4\x90\x80\x80", 4, {0xF4, 0x90, 0x80, 0x80}},  // past U+10FFFF
      {"\xC3", 1, {0xC3}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> got;
    size_t pos = 0;
    while (pos < c.length) got.push_back(next_codepoint(c.bytes, c.length, &pos));
    EXPECT_EQ(pos, c.length);
    EXPECT_EQ(got, c.codepoints) << c.bytes;
  }
}
