// PNG reading and writing through libpng, over the data-file streams.
//
// libpng reports errors by longjmp. Every setjmp frame below holds nothing
// with a destructor: buffers live in caller-owned structures, so a jump
// skips no C++ clean-up, and the jump never leaves this file.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "core/message.h"
#include "platform/log.h"
#include "render/image.h"

namespace {

// Far more than any info text needs; keeps a file of huge text chunks from
// turning into a huge string.
constexpr size_t MAX_INFO_TEXT = 1 << 20;
// Largest ancillary chunk libpng may allocate for us.
constexpr png_alloc_size_t MAX_CHUNK_BYTES = 8u << 20;

struct PngIo {
  DataStream* stream;
  const char* label;
  char error[256];
};

void on_error(png_structp png, png_const_charp message) {
  PngIo* io = static_cast<PngIo*>(png_get_error_ptr(png));
  snprintf(io->error, sizeof io->error, "%s", message ? message : "unknown error");
  png_longjmp(png, 1);
}

void on_warning(png_structp png, png_const_charp message) {
  // libpng only warns about a chunk longer than our limit and then reserves
  // all of it (up to 2 GB for a lying length); such a file is refused.
  if (message && strstr(message, "chunk data is too large")) png_error(png, message);
  PngIo* io = static_cast<PngIo*>(png_get_error_ptr(png));
  log_printf("PNG warning in '%.900s': %s\n", io->label, message ? message : "");
}

void on_read(png_structp png, png_bytep data, png_size_t length) {
  PngIo* io = static_cast<PngIo*>(png_get_io_ptr(png));
  if (data_read(io->stream, data, length) != length) png_error(png, "file ends early");
}

void on_write(png_structp png, png_bytep data, png_size_t length) {
  PngIo* io = static_cast<PngIo*>(png_get_io_ptr(png));
  if (data_write(io->stream, data, length) != length) png_error(png, "write failed");
}

void on_flush(png_structp png) {
  PngIo* io = static_cast<PngIo*>(png_get_io_ptr(png));
  data_flush(io->stream);
}

enum class PngTarget { Colour8, Grey16 };

// What a decode produces; owned by the caller so that a longjmp out of
// decode_png() leaks nothing.
struct PngDecoded {
  int width = 0, height = 0, channels = 0, bit_depth = 0;
  size_t row_bytes = 0;
  std::vector<uint8_t> pixels;
  std::vector<png_bytep> rows;
  std::string info;
};

void collect_text(png_structp png, png_infop info, std::string* out) {
  png_textp text = nullptr;
  int count = 0;
  png_get_text(png, info, &text, &count);
  for (int i = 0; i < count && out->size() < MAX_INFO_TEXT; i++) {
    if (!text[i].text) continue;
    size_t length = strlen(text[i].text);
    out->append(text[i].text, std::min(length, MAX_INFO_TEXT - out->size()));
  }
}

bool decode_png(PngIo* io, PngTarget target, bool want_text, PngDecoded* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, io, on_error, on_warning);
  if (!png) {
    snprintf(io->error, sizeof io->error, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    snprintf(io->error, sizeof io->error, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, io, on_read);
  png_set_user_limits(png, IMAGE_MAX_SIDE, IMAGE_MAX_SIDE);
  png_set_chunk_malloc_max(png, MAX_CHUNK_BYTES);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
  if (!image_size_acceptable(int(width), int(height))) png_error(png, "image too large");

  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (!(colour & PNG_COLOR_MASK_COLOR) && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (target == PngTarget::Colour8) {
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  } else {
    // Palette expansion may bring a transparency chunk along as alpha; it is
    // stripped with any stored alpha after the grey conversion.
    if (colour & PNG_COLOR_MASK_COLOR || colour == PNG_COLOR_TYPE_PALETTE) {
      // Heights are data, not light: the weighted sum is taken on the stored
      // values, whatever gamma the file declares.
      png_set_gamma_fixed(png, PNG_GAMMA_LINEAR, PNG_GAMMA_LINEAR);
      png_set_rgb_to_gray_fixed(png, PNG_ERROR_ACTION_NONE, -1, -1);
    }
    png_set_strip_alpha(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  out->width = int(width);
  out->height = int(height);
  out->channels = png_get_channels(png, info);
  out->bit_depth = png_get_bit_depth(png, info);
  out->row_bytes = png_get_rowbytes(png, info);
  bool shape_ok = target == PngTarget::Colour8
                      ? (out->bit_depth == 8 && (out->channels == 3 || out->channels == 4))
                      : ((out->bit_depth == 8 || out->bit_depth == 16) && out->channels >= 1 && out->channels <= 2);
  if (!shape_ok || out->row_bytes < size_t(out->width) * out->channels * (out->bit_depth / 8))
    png_error(png, "unexpected pixel layout after conversion");

  out->pixels.resize(out->row_bytes * out->height);
  out->rows.resize(out->height);
  for (int y = 0; y < out->height; y++) out->rows[y] = out->pixels.data() + size_t(y) * out->row_bytes;
  png_read_image(png, out->rows.data());
  png_read_end(png, info);
  if (want_text) collect_text(png, info, &out->info);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

bool read_png(DataStream* stream, const char* label, Image* image, std::string* info) {
  PngIo io{stream, label ? label : "", ""};
  PngDecoded decoded;
  if (!decode_png(&io, PngTarget::Colour8, info != nullptr, &decoded)) {
    show_message("Can't read PNG '%.900s': %s", io.label, io.error);
    return false;
  }
  image->width = decoded.width;
  image->height = decoded.height;
  image->channels = decoded.channels;
  image->levels = 1;
  size_t row = size_t(decoded.width) * decoded.channels;
  if (row == decoded.row_bytes) {
    image->pixels = std::move(decoded.pixels);
  } else {
    image->pixels.resize(row * decoded.height);
    for (int y = 0; y < decoded.height; y++) memcpy(&image->pixels[y * row], decoded.rows[y], row);
  }
  if (info) *info = std::move(decoded.info);
  return true;
}

bool read_png_file(const char* name, Image* image, std::string* info) {
  DataStream* stream = data_open(name, "rb");
  if (!stream) {
    log_printf("Can't open '%.900s'\n", name);
    return false;
  }
  bool ok = read_png(stream, name, image, info);
  data_close(stream);
  return ok;
}

bool read_png_grey16(DataStream* stream, const char* label, HeightImage* image) {
  PngIo io{stream, label ? label : "", ""};
  PngDecoded decoded;
  if (!decode_png(&io, PngTarget::Grey16, false, &decoded)) {
    log_printf("Can't read PNG '%.900s': %s\n", io.label, io.error);
    return false;
  }
  size_t n = size_t(decoded.width) * decoded.height;
  image->width = decoded.width;
  image->height = decoded.height;
  image->samples.resize(n);
  int step = decoded.channels;  // 2 only if libpng left an alpha in place
  for (int y = 0; y < decoded.height; y++) {
    const uint8_t* in = decoded.rows[y];
    uint16_t* out = &image->samples[size_t(y) * decoded.width];
    for (int x = 0; x < decoded.width; x++) {
      if (decoded.bit_depth == 16)
        out[x] = uint16_t((in[2 * step * x] << 8) | in[2 * step * x + 1]);
      else
        out[x] = uint16_t(in[step * x] * 257);
    }
  }
  return true;
}

bool read_png_grey16_file(const char* name, HeightImage* image) {
  DataStream* stream = data_open(name, "rb");
  if (!stream) return false;
  bool ok = read_png_grey16(stream, name, image);
  data_close(stream);
  return ok;
}

// --- writing ------------------------------------------------------------------

namespace {

// rows[] and the pixels they point at belong to the caller (see above).
bool encode_png(PngIo* io, int width, int height, int depth, int colour, png_bytep* rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, io, on_error, on_warning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, io, on_write, on_flush);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), depth, colour, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool finish_file(const char* name, DataStream* stream, bool ok) {
  ok = data_flush(stream) == 0 && ok;
  data_close(stream);
  if (!ok) log_printf("Error writing '%.900s'\n", name);
  return ok;
}

}  // namespace

bool write_png_rgb(DataStream* stream, const uint8_t* rgb, int width, int height, bool bottom_up) {
  if (!stream || width <= 0 || height <= 0) return false;
  std::vector<png_bytep> rows(height);
  size_t row = size_t(width) * 3;
  for (int y = 0; y < height; y++)
    rows[y] = const_cast<png_bytep>(rgb + row * size_t(bottom_up ? height - 1 - y : y));
  PngIo io{stream, "", ""};
  if (!encode_png(&io, width, height, 8, PNG_COLOR_TYPE_RGB, rows.data())) {
    log_printf("PNG write failed: %s\n", io.error);
    return false;
  }
  return true;
}

bool write_png_rgb_file(const char* name, const uint8_t* rgb, int width, int height, bool bottom_up) {
  DataStream* stream = data_open(name, "wb");
  if (!stream) {
    log_printf("Can't write '%.900s'\n", name);
    return false;
  }
  return finish_file(name, stream, write_png_rgb(stream, rgb, width, height, bottom_up));
}

bool write_png_grey16(DataStream* stream, const uint16_t* samples, int width, int height) {
  if (!stream || width <= 0 || height <= 0) return false;
  // PNG stores 16-bit samples most significant byte first.
  std::vector<uint8_t> bytes(size_t(width) * height * 2);
  for (size_t i = 0; i < size_t(width) * height; i++) {
    bytes[2 * i] = uint8_t(samples[i] >> 8);
    bytes[2 * i + 1] = uint8_t(samples[i]);
  }
  std::vector<png_bytep> rows(height);
  for (int y = 0; y < height; y++) rows[y] = bytes.data() + size_t(y) * width * 2;
  PngIo io{stream, "", ""};
  if (!encode_png(&io, width, height, 16, PNG_COLOR_TYPE_GRAY, rows.data())) {
    log_printf("PNG write failed: %s\n", io.error);
    return false;
  }
  return true;
}

bool write_png_grey16_file(const char* name, const uint16_t* samples, int width, int height) {
  DataStream* stream = data_open(name, "wb");
  if (!stream) {
    log_printf("Can't write '%.900s'\n", name);
    return false;
  }
  return finish_file(name, stream, write_png_grey16(stream, samples, width, height));
}
