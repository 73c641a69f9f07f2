// Shared helpers of the data-file tests: a scratch directory tree that is
// removed afterwards, and small file writers.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/datafile.h"

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = std::string(::testing::TempDir()) + "dv_data_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    char* made = mkdtemp(buffer.data());
    if (made) path_ = std::string(made) + "/";
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

inline void write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
  write_file(path, std::string(bytes.begin(), bytes.end()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

// Everything a stream delivers, read character by character.
inline std::string drain(DataStream* stream) {
  std::string out;
  for (int c; (c = data_getc(stream)) >= 0;) out += (char)c;
  return out;
}

// Everything an "@" name delivers, or "<none>" when it does not open.
inline std::string read_name(const char* name) {
  DataStream* stream = data_open(name, "rb");
  if (!stream) return "<none>";
  std::string out = drain(stream);
  data_close(stream);
  return out;
}

// Deflates text with zlib; gzip_header adds zlib's smallest gzip wrapper,
// otherwise the data is raw deflate.
inline std::string deflate_text(const std::string& text, bool gzip_header) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, gzip_header ? 15 + 16 : -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = (Bytef*)text.data();
  z.avail_in = (uInt)text.size();
  z.next_out = (Bytef*)out.data();
  z.avail_out = (uInt)out.size();
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}
inline std::string gzip_of(const std::string& text) { return deflate_text(text, true); }
