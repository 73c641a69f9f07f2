// The per-contact terrain queries (height, tile, friction, rolling
// resistance) in nanoseconds per call, and loading a whole track through the
// recording texture backend, stage by stage and as one load.
#include <benchmark/benchmark.h>
#include <nettle/ripemd160.h>

#include <memory>
#include <random>
#include <vector>

#include "core/datafile.h"
#include "race/timing.h"
#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "track/assets.h"
#include "track/loading.h"
#include "track/track.h"

namespace {

constexpr int QUERY_POINTS = 4096;  // a power of two: the index wraps with a mask

// Bumpy ground over tiles of 32 kinds. n = 10 (2049 x 2049, 16 MB of
// heights) is a large track whose heights miss the cache; n = 6 (129 x 129)
// fits in L1/L2 and shows the arithmetic alone.
const Terrain& query_terrain(int n = 10) {
  static std::unique_ptr<Terrain> fields[11];
  std::unique_ptr<Terrain>& t = fields[n];
  if (!t) {
    t = std::make_unique<Terrain>();
    init_flat_terrain(t.get(), n, 1.25f, 0.0f);
    std::mt19937 rng(3);
    for (float& h : t->heights) h = (float)(rng() % 1000) * 0.01f;
    t->tile_count = 32;
    for (uint8_t& b : t->tile_map) b = (uint8_t)(rng() % 32);
    for (int i = 0; i < 32; i++) {
      Tile& tile = t->tiles[i];
      for (int k = 0; k < TILE_CURVE_POINTS; k++) {
        tile.friction[k] = FrictionPoint{1.2f - 0.05f * k, 2.0f + 4.0f * k};
        tile.roll_resist[k] = RollResistPoint{3.0f + k, 9.0f + 2 * k, 1.0f + 5.0f * k};
      }
    }
  }
  return *t;
}

std::vector<Vec3> query_points(float extent, float speed_range) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> where(-0.05f * extent, 1.05f * extent);  // some beyond the edges
  std::uniform_real_distribution<float> speed(0.0f, speed_range);
  std::vector<Vec3> points(QUERY_POINTS);
  for (Vec3& p : points) p = Vec3{where(rng), speed(rng), where(rng)};
  return points;
}

void BM_HeightAt(benchmark::State& state) {
  const Terrain& t = query_terrain((int)state.range(0));
  std::vector<Vec3> points = query_points(t.width, 0);
  size_t i = 0;
  for (auto _ : state) {
    const Vec3& p = points[i++ & (QUERY_POINTS - 1)];
    benchmark::DoNotOptimize(height_at(t, p.x, p.z));
  }
}
BENCHMARK(BM_HeightAt)->Arg(6)->Arg(10);

void BM_TileAt(benchmark::State& state) {
  const Terrain& t = query_terrain((int)state.range(0));
  std::vector<Vec3> points = query_points(t.width, 0);
  size_t i = 0;
  for (auto _ : state) {
    const Vec3& p = points[i++ & (QUERY_POINTS - 1)];
    benchmark::DoNotOptimize(tile_at(t, p.x, p.z));
  }
}
BENCHMARK(BM_TileAt)->Arg(6)->Arg(10);

// range(0): points on the curve (1 = the default tile, 8 = a full curve).
void BM_FrictionAt(benchmark::State& state) {
  Tile tile = query_terrain().tiles[0];
  if (state.range(0) == 1) init_tile(&tile);
  std::vector<Vec3> points = query_points(1, 40);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(friction_at(tile, points[i++ & (QUERY_POINTS - 1)].y));
}
BENCHMARK(BM_FrictionAt)->Arg(1)->Arg(8);

void BM_RollingResistanceAt(benchmark::State& state) {
  Tile tile = query_terrain().tiles[0];
  if (state.range(0) == 1) init_tile(&tile);
  std::vector<Vec3> points = query_points(1, 40);
  size_t i = 0;
  for (auto _ : state) {
    const Vec3& p = points[i++ & (QUERY_POINTS - 1)];
    benchmark::DoNotOptimize(rolling_resistance_at(tile, p.y, p.x));
  }
}
BENCHMARK(BM_RollingResistanceAt)->Arg(1)->Arg(8);

// The whole contact look-up a wheel makes: tile under it, then its curves.
void BM_SurfaceAtContact(benchmark::State& state) {
  const Terrain& t = query_terrain();
  std::vector<Vec3> points = query_points(t.width, 40);
  size_t i = 0;
  for (auto _ : state) {
    const Vec3& p = points[i++ & (QUERY_POINTS - 1)];
    const Tile& tile = tile_record_at(t, p.x, p.z);
    benchmark::DoNotOptimize(height_at(t, p.x, p.z) + friction_at(tile, p.y) + rolling_resistance_at(tile, p.y, 0.5f));
  }
}
BENCHMARK(BM_SurfaceAtContact);

void BM_GateStep(benchmark::State& state) {
  std::string text = "checkpoints:\n";
  for (int k = 0; k < 40; k++) text += "8 [" + std::to_string(20 * k) + " 0 0] [1 0 0]\n";
  text += "firstlap:\n0 1 2 3\nnormallap:\n";
  for (int k = 0; k < 40; k++) text += std::to_string(k) + " ";
  TimingGates gates;
  DataStream* s = data_open_memory(text.data(), text.size());
  read_timing_gates(&gates, s, 0);
  data_close(s);
  BikeTiming bike;
  reset_bike_timing(&bike);
  bike.gates_passed = 20;
  const RaceProgress race{false, 1000000};
  int tick = 0;
  for (auto _ : state) {
    // Between gates: every candidate is tested and none taken, the usual case.
    benchmark::DoNotOptimize(gate_step(gates, &bike, Vec3{1e4f, 0, 5}, tick++, race));
  }
}
BENCHMARK(BM_GateStep);

// --- loading ------------------------------------------------------------------

// range(0): size exponent n of the fixture track (2^(n+1) + 1 vertices a side).
struct BenchTrack {
  explicit BenchTrack(int n) {
    build_fixture_track(data, "bench", true, n);
    g_draw_loading_screen = nullptr;
    g_texture_recorder.max_records = 0;
  }
  ScratchData data;
};

BenchTrack& bench_track(int n) {
  static std::unique_ptr<BenchTrack> track;
  static int made = -1;
  if (made != n) {
    track.reset();
    track = std::make_unique<BenchTrack>(n);
    made = n;
  }
  return *track;
}

const TrackLoadSettings SETTINGS{GROUND_DIRECT, false, 0};

// Whole loads with an empty texture cache each time (the first load of a session).
void BM_LoadTrackCold(benchmark::State& state) {
  bench_track((int)state.range(0));
  auto track = std::make_unique<LoadedTrack>();
  for (auto _ : state) {
    track->name = "bench";
    if (!load_track(track.get(), SETTINGS)) state.SkipWithError("load failed");
    state.PauseTiming();
    deallocate_track(track.get());
    purge_textures(true);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadTrackCold)->Arg(6)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond);

// A forced reload of the same track: every texture comes from the cache.
void BM_ReloadTrackWarm(benchmark::State& state) {
  bench_track((int)state.range(0));
  auto track = std::make_unique<LoadedTrack>();
  track->name = "bench";
  load_track(track.get(), SETTINGS);
  for (auto _ : state)
    if (!reload_track(track.get(), "bench", true, SETTINGS)) state.SkipWithError("load failed");
  deallocate_track(track.get());
  purge_textures(true);
}
BENCHMARK(BM_ReloadTrackWarm)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond);

// The stages of one load, each on its own, in load order.
enum Stage { SCAN, LIGHTING, HEIGHTS, SHADING, SHADOWS, TILES, TILE_MAP, NORMAL_MAP, TIMING, OBJECTS, STAGES };
const char* const STAGE_NAMES[STAGES] = {"scan", "lighting", "heights", "shading", "shadows",
                                         "tiles", "tilemap", "normal_map", "timing_gates", "objects"};

void BM_LoadStage(benchmark::State& state) {
  const int n = (int)state.range(1);
  const Stage stage = (Stage)state.range(0);
  state.SetLabel(STAGE_NAMES[stage]);
  bench_track(n);
  auto t = std::make_unique<LoadedTrack>();
  t->name = "bench";
  load_track(t.get(), SETTINGS);  // everything a stage builds on
  ObjectLoadOptions objects{true, false, false, 0, nullptr};
  for (auto _ : state) {
    switch (stage) {
      case SCAN: {
        ripemd160_ctx digest;
        ripemd160_init(&digest);
        for (const char* file : {"terrain.png", "terrain.hf", "texturelist", "tilemap", "tileinfo"})
          digest_track_file(&digest, track_file_name("bench", file).c_str());
        break;
      }
      case LIGHTING:
        read_lighting(&t->lighting, "@bench/lighting");
        break;
      case HEIGHTS:
        read_height_field(&t->terrain, "bench");
        break;
      case SHADING:
        read_shading(&t->terrain, "bench");
        break;
      case SHADOWS:
        read_shadows(&t->terrain, "bench");
        break;
      case TILES:
        read_track_tiles(&t->terrain, "bench", TileLoadOptions{false, true});
        break;
      case TILE_MAP:
        read_tile_map(&t->terrain, "bench");
        break;
      case NORMAL_MAP:
        build_normal_map(&t->terrain);
        break;
      case TIMING:
        read_timing_gates_file(&t->gates, "@bench/timing_gates", 0);
        break;
      case OBJECTS:
        init_track_objects(&t->objects);
        read_decals_file(&t->objects, "@bench/decals", objects);
        create_billboard_pool(&t->objects, t->terrain);
        read_flaggers_file(&t->objects, t->terrain, "@bench/flaggers", 4, objects);
        read_billboards_file(&t->objects, t->terrain, "@bench/billboards", objects);
        read_statues_file(&t->objects, t->terrain, "@bench/statues", objects);
        read_cameras_file(&t->objects, t->terrain, "@bench/cameras", objects);
        break;
      default:
        break;
    }
  }
  deallocate_track(t.get());
  purge_textures(true);
}
BENCHMARK(BM_LoadStage)
    ->ArgsProduct({benchmark::CreateDenseRange(0, STAGES - 1, 1), {10}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
