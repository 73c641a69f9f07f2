// Writing the data set: loose files, archive members, gzip and the PNG/PPM
// encodings of the pictures.
#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "core/datafile.h"
#include "tools/dataset/dataset.h"

namespace dvdata {

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char buffer[4096];
  vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return buffer;
}

namespace {

void make_parents(const std::string& path) {
  for (size_t i = 1; i < path.size(); i++)
    if (path[i] == '/') {
      std::string dir = path.substr(0, i);
      if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return;
    }
}

}  // namespace

void put_file(DataSet* set, const std::string& name, const void* bytes, size_t size) {
  std::string path = set->out + name;
  make_parents(path);
  FILE* f = fopen(path.c_str(), "wb");
  bool ok = f && fwrite(bytes, 1, size, f) == size;
  if (f && fclose(f) != 0) ok = false;
  if (!ok) {
    fprintf(stderr, "dvdata: can't write '%s'\n", path.c_str());
    set->failed = true;
    return;
  }
  set->loose.push_back(name);
}

void put_text(DataSet* set, const std::string& name, const std::string& text) {
  put_file(set, name, text.data(), text.size());
}

void put_member(DataSet* set, const std::string& archive, const std::string& name, std::vector<unsigned char> bytes,
                bool gzip) {
  std::string stored = name;
  if (gzip) {
    bytes = gzip_bytes(bytes);
    stored += ".gz";
  }
  if (archive.empty()) {
    put_file(set, stored, bytes.data(), bytes.size());
    return;
  }
  for (DataSet::Archive& a : set->archives)
    if (a.file == archive) {
      a.names.push_back(stored);
      a.bytes.push_back(std::move(bytes));
      return;
    }
  set->archives.push_back(DataSet::Archive{archive, {stored}, {}});
  set->archives.back().bytes.push_back(std::move(bytes));
}

void write_archives(DataSet* set) {
  for (const DataSet::Archive& a : set->archives) {
    std::vector<ArchiveFile> files;
    for (size_t i = 0; i < a.names.size(); i++) files.push_back(ArchiveFile{a.names[i], a.bytes[i]});
    std::string path = set->out + a.file;
    make_parents(path);
    if (!write_archive(path.c_str(), files)) {
      fprintf(stderr, "dvdata: can't write '%s'\n", path.c_str());
      set->failed = true;
      continue;
    }
    set->loose.push_back(a.file);
  }
}

std::vector<unsigned char> gzip_bytes(const std::vector<unsigned char>& bytes) {
  // RFC 1952 header: no flags, no time stamp, maximum compression, unknown OS.
  std::vector<unsigned char> out = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 2, 255};
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::vector<unsigned char> packed(deflateBound(&z, (uLong)bytes.size()) + 16);
  z.next_in = const_cast<unsigned char*>(bytes.data());
  z.avail_in = (uInt)bytes.size();
  z.next_out = packed.data();
  z.avail_out = (uInt)packed.size();
  deflate(&z, Z_FINISH);
  out.insert(out.end(), packed.begin(), packed.begin() + (long)z.total_out);
  deflateEnd(&z);
  uLong crc = crc32(0, bytes.data(), (uInt)bytes.size());
  uint32_t size = (uint32_t)bytes.size();
  for (int i = 0; i < 4; i++) out.push_back((unsigned char)(crc >> (8 * i)));
  for (int i = 0; i < 4; i++) out.push_back((unsigned char)(size >> (8 * i)));
  return out;
}

namespace {

void png_to_vector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

std::vector<unsigned char> png_bytes(const uint8_t* pixels, int width, int height, int channels,
                                     const std::string& text = std::string()) {
  std::vector<unsigned char> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, png_to_vector, nullptr);
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8,
               channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!text.empty()) {
    // The texture's description (options, number plate colours).
    png_text chunk{};
    chunk.compression = PNG_TEXT_COMPRESSION_NONE;
    chunk.key = const_cast<char*>("Description");
    chunk.text = const_cast<char*>(text.c_str());
    chunk.text_length = text.size();
    png_set_text(png, info, &chunk, 1);
  }
  png_write_info(png, info);
  for (int y = 0; y < height; y++)
    png_write_row(png, const_cast<png_bytep>(pixels + (size_t)y * width * channels));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace

std::vector<unsigned char> png_rgb_bytes(const uint8_t* rgb, int width, int height) {
  return png_bytes(rgb, width, height, 3);
}

std::vector<unsigned char> png_rgb_bytes_text(const uint8_t* rgb, int width, int height, const std::string& text) {
  return png_bytes(rgb, width, height, 3, text);
}

std::vector<unsigned char> png_rgba_bytes(const uint8_t* rgba, int width, int height) {
  return png_bytes(rgba, width, height, 4);
}

std::vector<unsigned char> ppm_bytes(const uint8_t* rgb, int width, int height) {
  std::string header = format("P6\n%d %d\n255\n", width, height);
  std::vector<unsigned char> out(header.begin(), header.end());
  out.insert(out.end(), rgb, rgb + (size_t)width * height * 3);
  return out;
}

}  // namespace dvdata
