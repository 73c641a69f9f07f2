// Fonts: the ".dvfont" file (a glyph atlas of 8-bit coverage plus per-glyph
// metrics and kerning pairs), its reader and writer, the shelf packer that
// turns separately rasterised glyphs into an atlas, and the text measuring
// that menus and the HUD lay text out with. Nothing here touches OpenGL; the
// UI uploads the atlas itself.
//
// File layout, version 1. All integers little-endian.
//
//   offset  size  field
//   0       8     magic "DVFONT\r\n" (the CR LF catches text-mode damage)
//   8       2     u16 version (1)
//   10      2     u16 flags (0; a reader refuses flags it does not know)
//   12      2     u16 pixel size: the em height the glyphs were rasterised at
//   14      2     i16 ascent: pixels from the baseline up to the top of the line
//   16      2     i16 descent: pixels from the baseline down to the bottom (>= 0)
//   18      2     i16 line height: baseline to baseline, pixels (> 0)
//   20      2     u16 atlas width  (1..4096)
//   22      2     u16 atlas height (1..4096)
//   24      4     u32 glyph count   (1..FONT_MAX_GLYPHS)
//   28      4     u32 kerning count (0..FONT_MAX_KERNING)
//   32      4     u32 compressed atlas size in bytes
//   36      20*G  glyph records, codepoints strictly ascending:
//                   u32 codepoint, u16 x, u16 y, u16 width, u16 height
//                   (the glyph's box in the atlas, rows counted from the top;
//                   width or height 0 for blank glyphs such as the space),
//                   i16 bearing x (pen position to the box's left edge),
//                   i16 bearing y (baseline up to the box's top edge),
//                   i32 advance in 1/64 pixel
//   ...     12*K  kerning pairs, (left, right) strictly ascending:
//                   u32 left codepoint, u32 right codepoint,
//                   i32 adjustment in 1/64 pixel added to the left advance
//   ...     C     the atlas: width x height coverage bytes, rows top first,
//                 as one zlib stream
//   ...     4     u32 CRC-32 (zlib's) of every byte before it
//
// A reader checks every size against its limit before it reserves memory,
// the CRC before it trusts anything, and every glyph box against the atlas,
// so a damaged or hostile file fails with a message and nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/image.h"

struct DataStream;

constexpr int FONT_VERSION = 1;
constexpr int FONT_MAX_ATLAS_SIDE = 4096;
constexpr uint32_t FONT_MAX_GLYPHS = 65536;
constexpr uint32_t FONT_MAX_KERNING = 1u << 20;
constexpr uint32_t FONT_MAX_CODEPOINT = 0x10FFFF;
// The glyph drawn for a codepoint the font lacks, when the font has it.
constexpr uint32_t FONT_REPLACEMENT_CODEPOINT = '?';

// The shipped fonts: the text face of the menus and the HUD, and the
// fixed-pitch face of the results board and the chat line.
constexpr const char* FONT_FILE_TEXT = "@fonts/text.dvfont";
constexpr const char* FONT_FILE_MONO = "@fonts/mono.dvfont";

struct FontGlyph {
  uint32_t codepoint = 0;
  uint16_t x = 0, y = 0, width = 0, height = 0;
  int16_t bearing_x = 0, bearing_y = 0;
  int32_t advance = 0;  // 1/64 pixel
};

struct FontKerning {
  uint32_t left = 0, right = 0;
  int32_t adjust = 0;  // 1/64 pixel
};

struct Font {
  int pixel_size = 0;
  int ascent = 0, descent = 0, line_height = 0;
  std::vector<FontGlyph> glyphs;     // codepoints strictly ascending
  std::vector<FontKerning> kerning;  // (left, right) strictly ascending
  Image atlas;                       // one channel of coverage, base level only
};

// One glyph as a rasteriser hands it over, before packing.
struct GlyphBitmap {
  uint32_t codepoint = 0;
  int width = 0, height = 0;           // coverage is width x height, rows top first
  int bearing_x = 0, bearing_y = 0;
  int32_t advance = 0;                 // 1/64 pixel
  std::vector<uint8_t> coverage;
};

// --- files ------------------------------------------------------------------------

// Reads a font; `label` names the file in messages. On failure shows
// "Can't read font '%s': <reason>" and leaves *font empty.
bool read_font(DataStream* stream, const char* label, Font* font);
bool read_font_file(const char* name, Font* font);
// The file's bytes for a font; false (bytes empty) when the font breaks one
// of the rules the reader checks, with the reason in *error.
bool encode_font(const Font& font, std::vector<uint8_t>* bytes, std::string* error);
// Writes a font the reader takes back unchanged. A font that breaks a rule
// is not written: the reason is logged and false returned.
bool write_font(DataStream* stream, const Font& font);
bool write_font_file(const char* name, const Font& font);

// --- building -------------------------------------------------------------------

// Packs glyph bitmaps into an atlas of power-of-two sides (rows of glyphs,
// tallest first, `padding` blank pixels around each so that filtering never
// bleeds one glyph into the next) and fills *font with the metrics given.
// The glyphs may come in any order; duplicates of a codepoint keep the first.
// False when a bitmap is inconsistent or the atlas would exceed 4096 x 4096.
bool pack_font(const std::vector<GlyphBitmap>& glyphs, int pixel_size, int ascent, int descent,
               int line_height, int padding, Font* font, std::string* error);

// --- text --------------------------------------------------------------------------

const FontGlyph* find_glyph(const Font& font, uint32_t codepoint);
// The glyph drawn for the codepoint: its own, else the replacement, else null.
const FontGlyph* glyph_or_replacement(const Font& font, uint32_t codepoint);
// Kerning adjustment for the pair in 1/64 pixel (0 when none).
int32_t font_kerning(const Font& font, uint32_t left, uint32_t right);

// Texts are UTF-8; a byte that does not start a valid sequence stands for
// itself (Latin-1), so any byte string lays out. Returns the codepoint at
// *pos and advances it; 0 at the end.
uint32_t next_codepoint(const char* text, size_t length, size_t* pos);
// Width of a line in pixels at the font's own size (no line breaks).
double font_text_width(const Font& font, const char* text);
double font_text_width(const Font& font, const char* text, size_t length);
