// Shared helpers of the data-file tests: a scratch directory tree that is
// removed afterwards, and small file writers.
#pragma once

#include <gtest/gtest.h>

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
