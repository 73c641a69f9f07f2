// Frame cost of the 3-D view: flies a fixed camera path over a track
// ("rabbithill" of a data set, or the test scene built in code when no data
// set is given) and prints the per-frame time, triangles and painted ground
// textures. Needs a display (run it under Xvfb for Mesa's software GL, whose
// times are only relative: its "GPU" is these CPUs).
//
//   bench_frame [--data DIR] [--track NAME] [--frames N] [--choice 0..4] [--no-shaders]
//               [--size WxH] [--shots DIR] [--csv FILE]
//
// "CPU" is the time render_scene takes to hand the frame to the GL; "total"
// adds glFinish, so it includes the rasterising. With --shots the views of a
// bike at the first starting gate are written as PNG files first: first
// person, third person and the first two track cameras.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "core/datafile.h"
#include "core/message.h"
#include "platform/platform.h"
#include "render/gl_ground.h"
#include "render/gl_probe.h"
#include "render/render_stats.h"
#include "render/renderer.h"
#include "tests/render/scene_fixture.h"
#include "track/assets.h"
#include "track/track.h"

namespace {

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool save_frame(const std::string& path) {
  std::vector<uint8_t> rgb;
  int w = 0, h = 0;
  if (!read_frame_rgb(&rgb, &w, &h)) return false;
  return write_png_rgb_file(path.c_str(), rgb.data(), w, h, false);
}

Scene scene_for(const SceneCamera& camera, int w, int h, const std::vector<SceneBike>& bikes) {
  Scene s{};
  s.track = &g_track;
  s.width = w;
  s.height = h;
  s.camera = camera;
  s.bikes = bikes;
  s.gate_drop_tick = -1;
  return s;
}

void shots(const std::string& dir, int w, int h, float fov) {
  const StartingGate* gate = g_track.gates.starting_gates.empty() ? nullptr : &g_track.gates.starting_gates[0];
  Vec3 spot = gate ? gate->position : Vec3{g_track.terrain.width * 0.5f, 0, g_track.terrain.width * 0.5f};
  float heading = gate ? gate->heading : 0.0f;
  spot.y = height_at(g_track.terrain, spot.x, spot.z);
  create_bike_world();
  Bike* bike = create_bike(bike_model_at(0).name, 0, nullptr, nullptr, nullptr, nullptr, "23");
  place_bike(bike, spot, heading);
  // Ride it a little way out of the gate so the gate is behind it.
  Vec3 ahead = {spot.x - 25.0f * std::sin(heading), 0, spot.z - 25.0f * std::cos(heading)};
  ahead.y = height_at(g_track.terrain, ahead.x, ahead.z);
  place_bike(bike, ahead, heading);
  std::vector<SceneBike> one = {{bike, -1, false}};
  std::vector<SceneBike> riding = {{bike, -1, true}};
  DVec at = body_position(*bike, BODY_FRAME), forward = bike_forward(*bike);
  Vec3 centre = {(float)at.x, (float)at.y + 1.0f, (float)at.z};
  auto draw = [&](const SceneCamera& c, const std::vector<SceneBike>& bikes, const char* name) {
    render_scene(scene_for(c, w, h, bikes));
    std::string path = dir + "/" + g_track.name + "_" + name + ".png";
    printf("%s: %s\n", name, save_frame(path) ? path.c_str() : "(not written)");
    end_frame();
  };
  draw(first_person_camera(*bike, fov), riding, "first_person");
  // The chase camera's default place: 10 behind and 5 above the bike.
  Vec3 behind = centre - Vec3{(float)forward.x, 0, (float)forward.z} * 10.0f + Vec3{0, 5, 0};
  draw(look_at(behind, centre, fov), one, "third_person");
  for (int k = 0; k < 2 && k < (int)g_track.objects.cameras.size(); k++) {
    const TrackCamera& c = g_track.objects.cameras[(size_t)k];
    char name[32];
    snprintf(name, sizeof name, "track_camera_%d", k);
    draw(look_at(c.position, centre, c.fov > 0 ? c.fov : 90.0f), one, name);
  }
  // The row of starting gates from in front, a bike standing behind the
  // middle one: the gates stand on the ground, the bike behind its gate.
  if (gate) {
    const StartingGate& middle = g_track.gates.starting_gates[g_track.gates.starting_gates.size() / 2];
    Vec3 line = middle.position;
    Vec3 behind_gate = {line.x + 0.625f * std::sin(heading), 0, line.z + 0.625f * std::cos(heading)};
    behind_gate.y = height_at(g_track.terrain, behind_gate.x, behind_gate.z);
    place_bike(bike, behind_gate, heading);
    Vec3 eye = {line.x - 28.0f * std::sin(heading), 0, line.z - 28.0f * std::cos(heading)};
    eye.y = height_at(g_track.terrain, eye.x, eye.z) + 6.0f;
    draw(look_at(eye, line + Vec3{0, 1.5f, 0}, 70.0f), one, "start_gates");
  }
  // Into the sun, for the lens flares.
  Vec3 sun = g_track.lighting.sun_vector;
  Vec3 eye = centre + Vec3{0, 4, 0};
  draw(look_at(eye, eye + Vec3{sun.x, sun.y * 0.6f, sun.z} * 100.0f, fov), one, "towards_sun");
  delete_bike(bike);
  destroy_bike_world();
}

}  // namespace

int main(int argc, char** argv) {
  std::string data, track = "rabbithill", shot_dir, csv;
  int frames = 300, choice = 2, w = 800, h = 600;
  bool shaders = true;
  for (int i = 1; i < argc; i++) {
    auto next = [&]() { return i + 1 < argc ? argv[++i] : ""; };
    if (!strcmp(argv[i], "--data")) data = next();
    else if (!strcmp(argv[i], "--track")) track = next();
    else if (!strcmp(argv[i], "--frames")) frames = std::max(1, atoi(next()));
    else if (!strcmp(argv[i], "--choice")) choice = std::clamp(atoi(next()), 0, 4);
    else if (!strcmp(argv[i], "--no-shaders")) shaders = false;
    else if (!strcmp(argv[i], "--size")) sscanf(next(), "%dx%d", &w, &h);
    else if (!strcmp(argv[i], "--shots")) shot_dir = next();
    else if (!strcmp(argv[i], "--csv")) csv = next();
    else {
      fprintf(stderr,
              "usage: bench_frame [--data DIR] [--track NAME] [--frames N] [--choice 0..4] [--no-shaders] "
              "[--size WxH] [--shots DIR] [--csv FILE]\n");
      return 1;
    }
  }
  std::unique_ptr<ScratchData> scratch;
  if (data.empty()) {
    scratch = std::make_unique<ScratchData>();
    track = scene_fixture::write_scene_track(*scratch, "testhill", 8, 1.5f).name;
    scene_fixture::write_bike_models(*scratch, bike_model_at(0));
    printf("no data set given: the test scene \"%s\" built in code\n", track.c_str());
  } else {
    set_search_directories({data});
  }
  WindowSettings window = {"bench_frame", w, h, 24, 24, false};
  if (!create_window(window)) {
    fprintf(stderr, "no window (is DISPLAY set?)\n");
    return 1;
  }
  for (int i = 0; i < 100 && !begin_frame(); i++) precise_sleep(0.05);
  drawable_size(&w, &h);
  g_render_settings.terrain_choice = choice;
  g_render_settings.use_shaders = shaders;
  install_renderer(gl_proc_address);
  if (!start_renderer(gl_proc_address)) {
    fprintf(stderr, "no usable GL\n");
    return 1;
  }
  g_track.name = track;
  TrackLoadSettings settings = {renderer_ground_method(), renderer_shader_choice(), 0};
  if (!load_track(&g_track, settings)) {
    fprintf(stderr, "can't load track '%s': %s\n", track.c_str(), message_line(0) ? message_line(0) : "");
    return 1;
  }
  printf("track %s, %dx%d vertices, window %dx%d, method %d%s, ground texture %d\n", track.c_str(), g_track.terrain.N,
         g_track.terrain.N, w, h, ground_method_in_use(), renderer_shader_choice() ? " (shader choice)" : "",
         g_render_settings.ground_texture_size);
  if (!shot_dir.empty()) shots(shot_dir, w, h, 90.0f);

  // The path: a circle round the field's middle, 25 ft up, looking ahead
  // and a little inwards.
  const float side = g_track.terrain.width, radius = side * 0.3f;
  std::vector<double> cpu, total;
  uint64_t triangles = 0, painted = 0, nodes = 0;
  for (int f = 0; f < frames; f++) {
    float a = 6.2831853f * (float)f / (float)frames;
    Vec3 eye = {side * 0.5f + radius * std::cos(a), 0, side * 0.5f + radius * std::sin(a)};
    eye.y = height_at(g_track.terrain, eye.x, eye.z) + 25.0f;
    Vec3 target = {side * 0.5f + radius * 0.8f * std::cos(a + 0.4f), 0, side * 0.5f + radius * 0.8f * std::sin(a + 0.4f)};
    target.y = height_at(g_track.terrain, target.x, target.z);
    Scene s = scene_for(look_at(eye, target, 90.0f), w, h, {});
    s.tick = f;
    double t0 = now();
    render_scene(s);
    double t1 = now();
    gl.Finish();
    double t2 = now();
    end_frame();
    if (f == 0) continue;  // the first frame paints the whole coarse layer
    cpu.push_back(t1 - t0);
    total.push_back(t2 - t0);
    triangles += g_render_stats.triangles;
    painted += (uint64_t)g_render_stats.painted_textures;
    nodes += (uint64_t)g_render_stats.ground_nodes;
  }
  auto report = [](const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double mean = 0;
    for (double x : v) mean += x;
    mean /= (double)std::max<size_t>(v.size(), 1);
    printf("%-6s per frame: mean %.2f ms, median %.2f ms, 95%% %.2f ms, max %.2f ms\n", what, mean * 1e3,
           v[v.size() / 2] * 1e3, v[v.size() * 95 / 100] * 1e3, v.back() * 1e3);
    return mean;
  };
  size_t n = cpu.size();
  if (n == 0) return 0;
  double mean_cpu = report("CPU", cpu), mean_total = report("total", total);
  printf("per frame: %.0f triangles, %.1f ground fans, %.2f painted ground textures\n", (double)triangles / n,
         (double)nodes / n, (double)painted / n);
  printf("GL: %s / %s\n", g_gl_info.renderer.c_str(), g_gl_info.version.c_str());
  if (!csv.empty()) {
    if (FILE* out = fopen(csv.c_str(), "a")) {
      fprintf(out, "%s,%s,%d,%d,%zu,%.3f,%.3f,%.0f,%.2f\n", g_gl_info.renderer.c_str(), track.c_str(), choice,
              shaders ? 1 : 0, n, mean_cpu * 1e3, mean_total * 1e3, (double)triangles / n, (double)painted / n);
      fclose(out);
    }
  }
  deallocate_track(&g_track);
  free_renderer();
  platform_shutdown();
  return 0;
}
