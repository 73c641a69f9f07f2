// Decoding a 1024 x 1024 texture in each format the game ships, generating
// its mip chain, and the whole texture load through the recording backend.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "render/image.h"
#include "render/texture.h"

namespace {

constexpr int SIZE = 1024;

// Something like a ground texture: smooth shading with grain, so that the
// compressors see the statistics of real art rather than pure noise.
Image ground_picture(int channels) {
  Image image;
  init_image(&image, SIZE, SIZE, channels);
  std::mt19937 rng(7);
  for (int y = 0; y < SIZE; y++)
    for (int x = 0; x < SIZE; x++)
      for (int k = 0; k < channels; k++) {
        int v = (x * (k + 1) / 5 + y / 3 + int(rng() % 24)) & 255;
        image.pixels[(size_t(y) * SIZE + x) * channels + k] = uint8_t(k == 3 ? 128 + v / 2 : v);
      }
  return image;
}

std::string png_bytes(const Image& image) {
  png_image desc{};
  desc.version = PNG_IMAGE_VERSION;
  desc.width = uint32_t(image.width);
  desc.height = uint32_t(image.height);
  desc.format = image.channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  png_image_write_get_memory_size(desc, size, 0, image.pixels.data(), 0, nullptr);
  std::string bytes(size, '\0');
  png_image_write_to_memory(&desc, bytes.data(), &size, 0, image.pixels.data(), 0, nullptr);
  bytes.resize(size);
  return bytes;
}

struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/dv_bench_image_XXXXXX";
    dir = mkdtemp(pattern);
    set_search_directories({dir});
  }
  ~Scratch() { std::filesystem::remove_all(dir); }
  std::string dir;
};

const std::string& scratch_dir() {
  static Scratch scratch;
  return scratch.dir;
}

std::string j_bytes(const Image& image) {
  scratch_dir();
  write_j_image_file("@bench.j7", image);
  std::vector<unsigned char> bytes;
  data_read_all("@bench.j7", bytes);
  return std::string(bytes.begin(), bytes.end());
}

void BM_DecodePng(benchmark::State& state) {
  std::string bytes = png_bytes(ground_picture(int(state.range(0))));
  for (auto _ : state) {
    DataStream* s = data_open_memory(bytes.data(), bytes.size());
    Image image;
    read_png(s, "bench", &image, nullptr);
    data_close(s);
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.counters["file_bytes"] = double(bytes.size());
  state.SetBytesProcessed(int64_t(state.iterations()) * SIZE * SIZE * state.range(0));
}
BENCHMARK(BM_DecodePng)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_DecodeJ7(benchmark::State& state) {
  std::string bytes = j_bytes(ground_picture(4));
  for (auto _ : state) {
    DataStream* s = data_open_memory(bytes.data(), bytes.size());
    Image image;
    read_j_image(s, &image);
    data_close(s);
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * SIZE * SIZE * 4);
}
BENCHMARK(BM_DecodeJ7)->Unit(benchmark::kMillisecond);

void BM_EncodeJ7(benchmark::State& state) {
  Image image = ground_picture(4);
  scratch_dir();
  for (auto _ : state) write_j_image_file("@bench_out.j7", image);
  state.SetBytesProcessed(int64_t(state.iterations()) * SIZE * SIZE * 4);
}
BENCHMARK(BM_EncodeJ7)->Unit(benchmark::kMillisecond);

// range(0): channels; range(1): 1 for "[mip_max_alpha]".
void BM_GenerateMipmaps(benchmark::State& state) {
  Image base = ground_picture(int(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    Image image = base;
    state.ResumeTiming();
    generate_mipmaps(&image, state.range(1) != 0);
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * SIZE * SIZE * state.range(0));
}
BENCHMARK(BM_GenerateMipmaps)->Args({3, 0})->Args({4, 0})->Args({4, 1})->Unit(benchmark::kMillisecond);

// The whole of load_texture for a 1024 x 1024 RGBA PNG, cache miss every
// time: open, decode, chain, upload to the recording backend, purge.
void BM_LoadTexturePng(benchmark::State& state) {
  std::string bytes = png_bytes(ground_picture(4));
  FILE* f = fopen((scratch_dir() + "/ground.png").c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  invalidate_catalogue();
  g_texture_recorder.max_records = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(load_texture("@ground.png"));
    state.PauseTiming();
    purge_textures(true);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadTexturePng)->Unit(benchmark::kMillisecond);

}  // namespace
