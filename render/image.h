// Images in memory and their file formats: PPM/PGM, PNG (8-bit colour with
// its info text, 16-bit grey heights), the predictive "J6"/"J7" formats, the
// writers, and the pixel work every texture goes through (mipmap chains, the
// hand-drawn mip layout, detail reduction, power-of-two resampling, the
// border colour). Nothing here touches OpenGL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DataStream;

// One image: the base level followed by `levels - 1` smaller levels, each
// half the previous size in both directions (at least 1). Readers deliver
// only the base level; generate_mipmaps() extends the buffer to the chain.
struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;  // 1 grey, 3 RGB, 4 RGBA
  int levels = 0;    // levels present in pixels; 0 for an empty image
  std::vector<uint8_t> pixels;
};

// 16-bit grey samples, row-major (the terrain heights).
struct HeightImage {
  int width = 0;
  int height = 0;
  std::vector<uint16_t> samples;
};

// Largest image the readers accept, in pixels of the base level and per side.
// Anything bigger is refused before memory is reserved for it. The fuzz
// targets lower the pixel limit to keep iterations fast.
extern int64_t g_image_max_pixels;
constexpr int IMAGE_MAX_SIDE = 16384;

// --- levels -------------------------------------------------------------------

inline int level_size(int size, int level) {
  int s = size >> level;
  return s < 1 ? 1 : s;
}
// Levels of a full chain down to 1 x 1.
int full_chain_levels(int width, int height);
// Bytes of `levels` levels starting at the base.
size_t chain_bytes(int width, int height, int channels, int levels);
// Offset of a level from the start of the pixel buffer.
size_t level_offset(int width, int height, int channels, int level);
inline const uint8_t* image_level(const Image& image, int level) {
  return image.pixels.data() + level_offset(image.width, image.height, image.channels, level);
}
inline bool is_power_of_two(int v) { return v > 0 && (v & (v - 1)) == 0; }
int next_power_of_two(int v);

// Makes `image` hold only its base level of the given size (zeroed).
void init_image(Image* image, int width, int height, int channels);
// True when width x height is within the reader limits (and both positive).
bool image_size_acceptable(int width, int height);

// --- pixel work ---------------------------------------------------------------

// Rebuilds the whole chain from the base level by 2 x 2 boxes. For RGBA the
// colour is alpha-weighted and the alpha is the mean, or the maximum with
// max_alpha ("[mip_max_alpha]").
void generate_mipmaps(Image* image, bool max_alpha);
// One level from the one above it (src is sw x sh, dst is the halved size).
void downsample_level(const uint8_t* src, int sw, int sh, int channels, bool max_alpha, uint8_t* dst);

// The hand-drawn layout ("[mip_custom]"): the base level on top, the smaller
// levels packed into the lower third. Replaces the image by its base level
// and the extracted chain. False (image unchanged) when the height is not
// 3/2 of a power-of-two base height or a level would fall outside the picture.
bool extract_custom_mipmaps(Image* image);

// Drops the top level up to `steps` times while both sides exceed 128. The
// chain must be present. Returns the number of levels dropped.
int reduce_detail(Image* image, int steps);

// Nearest-pixel resampling of the base level to the next power of two in each
// direction; the result holds only its base level.
void resample_to_power_of_two(Image* image);

// Border colour of an RGB(A) image: the fullest bin of a histogram of its
// edge pixels, each channel quantised to eight levels. rgba[3] is 1.
void border_colour(const Image& image, float rgba[4]);

// --- readers (base level only) --------------------------------------------------

// Binary "P6" or text "P3". Failures keep "Can't parse PPM header" or
// "Can't get PPM dimensions" as the last error text (or a message about the
// sample data) and return false.
bool read_ppm(DataStream* stream, Image* image);
// Binary "P5" or text "P2", one channel.
bool read_pgm(DataStream* stream, Image* image);
// "J6" (RGB) or "J7" (RGBA).
bool read_j_image(DataStream* stream, Image* image);
// PPM, PGM (expanded to RGB), J6 or J7 (alpha dropped): always three
// channels. The shading reader uses it.
bool read_rgb_image(DataStream* stream, Image* image);

// After the magic word has been read: the rest of each format. `magic` is
// "P2", "P3", "P5", "P6", "J6" or "J7".
bool read_pnm_after_magic(DataStream* stream, const char* magic, Image* image);
bool read_j_after_magic(DataStream* stream, int channels, Image* image);

// PNG as an 8-bit RGB or RGBA texture image: palettes expanded, grey to RGB,
// 16-bit samples cut to 8 bits, transparency chunks turned into alpha. `info`
// (when given) receives the concatenated text chunks. `label` names the file
// in messages. Failures show a message and return false.
bool read_png(DataStream* stream, const char* label, Image* image, std::string* info);
// Opens `name` through the data files and reads it as above.
bool read_png_file(const char* name, Image* image, std::string* info);
// PNG as 16-bit grey: palettes expanded, colour converted to grey, alpha
// dropped, 8-bit samples widened v * 257. Problems are logged, not shown.
bool read_png_grey16(DataStream* stream, const char* label, HeightImage* image);
bool read_png_grey16_file(const char* name, HeightImage* image);

// --- writers --------------------------------------------------------------------

// "P6\n%d %d\n255\n" then raw RGB, rows top first.
bool write_ppm(DataStream* stream, const uint8_t* rgb, int width, int height);
bool write_ppm_file(const char* name, const uint8_t* rgb, int width, int height);
// "J6" for three channels, "J7" for four; the base level of the image.
bool write_j_image(DataStream* stream, const Image& image);
bool write_j_image_file(const char* name, const Image& image);
// 8-bit RGB PNG; with bottom_up the rows are given last row first (the
// order OpenGL reads the frame buffer in).
bool write_png_rgb(DataStream* stream, const uint8_t* rgb, int width, int height, bool bottom_up);
bool write_png_rgb_file(const char* name, const uint8_t* rgb, int width, int height, bool bottom_up);
// 16-bit grey PNG.
bool write_png_grey16(DataStream* stream, const uint16_t* samples, int width, int height);
bool write_png_grey16_file(const char* name, const uint16_t* samples, int width, int height);
