// Data-file layer speed: building the catalogue over 20,000 files, catalogue
// look-ups, opening archive members, and the stream scan against the C
// library on track-file text.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/datafile.h"

namespace {

constexpr int FILE_COUNT = 20000;
constexpr int ARCHIVE_MEMBERS = 2000;

// A data directory of 20,000 small files in 200 folders, plus one archive,
// made once per run and removed at exit.
struct DataTree {
  std::string root;
  std::vector<std::string> names;
  std::vector<std::string> members;

  DataTree() {
    char pattern[] = "/tmp/dv_bench_XXXXXX";
    root = std::string(mkdtemp(pattern)) + "/";
    for (int i = 0; i < FILE_COUNT; i++) {
      std::string name = "Tracks/track" + std::to_string(i % 200) + "/File_" + std::to_string(i) + ".txt";
      std::filesystem::create_directories(std::filesystem::path(root + name).parent_path());
      std::ofstream(root + name) << i << "\n";
      names.push_back(name);
    }
    std::vector<ArchiveFile> files;
    for (int i = 0; i < ARCHIVE_MEMBERS; i++) {
      ArchiveFile f;
      f.name = "packed/member" + std::to_string(i);
      f.bytes.assign(200, (unsigned char)i);
      members.push_back(f.name);
      files.push_back(std::move(f));
    }
    write_archive((root + "zzzz.saf").c_str(), files);
    set_search_directories({root});
  }
  ~DataTree() {
    free_data_files();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
};

DataTree& tree() {
  static DataTree t;
  return t;
}

void BM_BuildCatalogue(benchmark::State& state) {
  tree();
  for (auto _ : state) {
    invalidate_catalogue();
    benchmark::DoNotOptimize(catalogue_entry_count());
  }
  state.counters["entries"] = catalogue_entry_count();
}
BENCHMARK(BM_BuildCatalogue)->Unit(benchmark::kMillisecond);

void BM_CatalogueLookup(benchmark::State& state) {
  DataTree& t = tree();
  catalogue_entry_count();
  std::mt19937 random(7);
  std::vector<std::string> queries;
  for (int i = 0; i < 4096; i++) {
    std::string q = t.names[random() % t.names.size()];
    for (char& c : q)
      if (random() % 2) c = (char)toupper((unsigned char)c);
    queries.push_back(q);
  }
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(find_catalogue_entry(queries[i++ & 4095].c_str()));
  state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_CatalogueLookup);

// A whole "@" read of an archive member: the plain opens that fail first,
// the look-up, the seek and a read of its 200 bytes.
void BM_OpenArchiveMember(benchmark::State& state) {
  DataTree& t = tree();
  catalogue_entry_count();
  unsigned char buffer[256];
  size_t i = 0;
  for (auto _ : state) {
    std::string name = "@" + t.members[i++ % t.members.size()];
    DataStream* s = data_open(name.c_str(), "rb");
    benchmark::DoNotOptimize(data_read(s, buffer, sizeof buffer));
    data_close(s);
  }
  state.SetItemsProcessed((int64_t)state.iterations());
}
BENCHMARK(BM_OpenArchiveMember);

// Lines in the style of timing gates, lighting and objects: bracketed
// vectors, numbers and names.
const std::string& track_text() {
  static std::string text = [] {
    std::string out;
    std::mt19937 random(3);
    char line[160];
    for (int i = 0; i < 20000; i++) {
      snprintf(line, sizeof line, "[%.3f %.3f %.3f] [%.4f %.4f %.4f] %d gate_%d\n", (random() % 200000) / 100.0,
               (random() % 5000) / 100.0 - 25, -(random() % 200000) / 100.0, (random() % 2000) / 1000.0 - 1,
               (random() % 1000) / 1000.0, (random() % 2000) / 1000.0 - 1, (int)(random() % 360), i);
      out += line;
    }
    return out;
  }();
  return text;
}

const char* const TRACK_FORMAT = " [%f %f %f] [%f %f %f] %d %63s";

void BM_ScanTrackText_Ours(benchmark::State& state) {
  const std::string& text = track_text();
  float v[6];
  int angle;
  char name[64];
  for (auto _ : state) {
    DataStream* s = data_open_memory(text.data(), text.size());
    int lines = 0;
    while (data_scanf(s, TRACK_FORMAT, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &angle, name) == 8) lines++;
    data_close(s);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed((int64_t)(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanTrackText_Ours)->Unit(benchmark::kMillisecond);

// The C library the way a reader would use it over a file: fscanf on a FILE.
void BM_ScanTrackText_LibraryFscanf(benchmark::State& state) {
  std::string text = track_text();
  float v[6];
  int angle;
  char name[64];
  for (auto _ : state) {
    FILE* f = fmemopen(text.data(), text.size(), "r");
    int lines = 0;
    while (fscanf(f, TRACK_FORMAT, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &angle, name) == 8) lines++;
    fclose(f);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed((int64_t)(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanTrackText_LibraryFscanf)->Unit(benchmark::kMillisecond);

// sscanf line by line (a long string would cost sscanf a strlen per call).
void BM_ScanTrackText_LibrarySscanf(benchmark::State& state) {
  const std::string& text = track_text();
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end + 1 - start));
    start = end + 1;
  }
  float v[6];
  int angle;
  char name[64];
  for (auto _ : state) {
    int n = 0;
    for (const std::string& l : lines)
      if (sscanf(l.c_str(), TRACK_FORMAT, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &angle, name) == 8) n++;
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed((int64_t)(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanTrackText_LibrarySscanf)->Unit(benchmark::kMillisecond);

}  // namespace
