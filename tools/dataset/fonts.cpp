// The game's fonts, rasterised from the system's DejaVu faces (Debian's
// fonts-dejavu-core) with FreeType and packed into the game's own font
// files through render/font.h: the text face for menus and the HUD and the
// fixed-pitch face for the results board and the chat line.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>

#include "render/font.h"
#include "tools/dataset/dataset.h"

namespace dvdata {

namespace {

const char* const FONT_DIRECTORIES[] = {"/usr/share/fonts/truetype/dejavu/", "/usr/share/fonts/dejavu/",
                                        "/usr/local/share/fonts/"};

std::string find_face(const char* file) {
  for (const char* dir : FONT_DIRECTORIES) {
    std::string path = std::string(dir) + file;
    if (FILE* f = fopen(path.c_str(), "rb")) {
      fclose(f);
      return path;
    }
  }
  return std::string();
}

// Printable ASCII and Latin-1, plus the replacement glyph's "?" (included).
std::vector<uint32_t> character_set() {
  std::vector<uint32_t> set;
  for (uint32_t c = 32; c < 127; c++) set.push_back(c);
  for (uint32_t c = 160; c < 256; c++) set.push_back(c);
  return set;
}

bool rasterise(FT_Library library, const std::string& path, int pixels, Font* font, std::string* error) {
  FT_Face face;
  if (FT_New_Face(library, path.c_str(), 0, &face) != 0) {
    *error = "can't open " + path;
    return false;
  }
  FT_Set_Pixel_Sizes(face, 0, (FT_UInt)pixels);
  std::vector<GlyphBitmap> glyphs;
  const std::vector<uint32_t> chars = character_set();
  for (uint32_t c : chars) {
    if (FT_Get_Char_Index(face, c) == 0 && c != ' ') continue;
    if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot g = face->glyph;
    GlyphBitmap b;
    b.codepoint = c;
    b.width = (int)g->bitmap.width;
    b.height = (int)g->bitmap.rows;
    b.bearing_x = g->bitmap_left;
    b.bearing_y = g->bitmap_top;
    b.advance = (int32_t)g->advance.x;  // already 1/64 pixel
    b.coverage.resize((size_t)b.width * b.height);
    for (int y = 0; y < b.height; y++)
      for (int x = 0; x < b.width; x++)
        b.coverage[(size_t)y * b.width + x] = g->bitmap.buffer[y * g->bitmap.pitch + x];
    glyphs.push_back(std::move(b));
  }
  const FT_Size_Metrics& m = face->size->metrics;
  int ascent = (int)(m.ascender >> 6), descent = (int)(-m.descender >> 6), line = (int)(m.height >> 6);
  bool ok = pack_font(glyphs, pixels, ascent, descent, line, 2, font, error);
  if (ok && FT_HAS_KERNING(face)) {
    for (uint32_t a : chars)
      for (uint32_t b : chars) {
        FT_UInt ia = FT_Get_Char_Index(face, a), ib = FT_Get_Char_Index(face, b);
        if (!ia || !ib) continue;
        FT_Vector k;
        if (FT_Get_Kerning(face, ia, ib, FT_KERNING_DEFAULT, &k) == 0 && k.x != 0)
          font->kerning.push_back(FontKerning{a, b, (int32_t)k.x});
      }
  }
  FT_Done_Face(face);
  return ok;
}

}  // namespace

void build_fonts(DataSet* set) {
  FT_Library library;
  if (FT_Init_FreeType(&library) != 0) {
    fprintf(stderr, "dvdata: FreeType does not start\n");
    set->failed = true;
    return;
  }
  struct Face {
    const char* file;
    const char* name;
    int pixels;
  };
  const Face faces[] = {{"DejaVuSans.ttf", FONT_FILE_TEXT, 32}, {"DejaVuSansMono.ttf", FONT_FILE_MONO, 24}};
  for (const Face& f : faces) {
    std::string path = find_face(f.file);
    if (path.empty()) {
      fprintf(stderr, "dvdata: can't find %s (install fonts-dejavu-core)\n", f.file);
      set->failed = true;
      continue;
    }
    Font font;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!rasterise(library, path, f.pixels, &font, &error) || !encode_font(font, &bytes, &error)) {
      fprintf(stderr, "dvdata: %s: %s\n", f.file, error.c_str());
      set->failed = true;
      continue;
    }
    put_member(set, "fonts.saf", f.name + 1, std::vector<unsigned char>(bytes.begin(), bytes.end()));
  }
  FT_Done_FreeType(library);
}

}  // namespace dvdata
