// Whole frames of a track built in code, checked the way a person would look
// at them: sky at the top, textured ground below, every terrain method and
// the fixed-function path giving the same ground within a stated tolerance,
// a bike where it stands, and no GL error in any frame. With
// DV_RENDER_SHOTS=<dir> the frames are also written there as PNG files.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bike/bike.h"
#include "core/datafile.h"
#include "core/message.h"
#include "render/gl_ground.h"
#include "render/gl_model.h"
#include "render/gl_shaders.h"
#include "render/render_stats.h"
#include "render/renderer.h"
#include "render/texture.h"
#include "tests/render/gl_fixture.h"
#include "tests/render/scene_fixture.h"
#include "track/assets.h"
#include "track/deform.h"
#include "track/track.h"

namespace {

using scene_fixture::SceneTrack;

// Mean colour and spread of a block of pixels.
struct Patch {
  double r, g, b, spread;
};
Patch measure(const std::vector<uint8_t>& rgb, int x0, int y0, int x1, int y1) {
  double sum[3] = {0, 0, 0}, sq = 0;
  int n = 0;
  for (int y = y0; y < y1; y++)
    for (int x = x0; x < x1; x++) {
      Rgb p = GlTest::pixel(rgb, x, y);
      sum[0] += p.r;
      sum[1] += p.g;
      sum[2] += p.b;
      sq += (double)p.r * p.r + (double)p.g * p.g + (double)p.b * p.b;
      n++;
    }
  Patch out = {sum[0] / n, sum[1] / n, sum[2] / n, 0};
  out.spread = std::sqrt(std::max(0.0, sq / n - (out.r * out.r + out.g * out.g + out.b * out.b)));
  return out;
}

void save(const std::vector<uint8_t>& rgb, const std::string& name) {
  const char* dir = getenv("DV_RENDER_SHOTS");
  if (!dir) return;
  write_png_rgb_file((std::string(dir) + "/" + name + ".png").c_str(), rgb.data(), GlTest::WIDTH, GlTest::HEIGHT, true);
}

// The real GL without framebuffer objects in its extension string.
decltype(gl.GetString) g_real_get_string;
std::string g_no_fbo_extensions;
const GLubyte* get_string_without_fbo(GLenum name) {
  if (name != GL_EXTENSIONS) return g_real_get_string(name);
  g_no_fbo_extensions = " " + std::string((const char*)g_real_get_string(name)) + " ";
  for (size_t at; (at = g_no_fbo_extensions.find(" GL_EXT_framebuffer_object ")) != std::string::npos;)
    g_no_fbo_extensions.erase(at, strlen(" GL_EXT_framebuffer_object"));
  return (const GLubyte*)g_no_fbo_extensions.c_str();
}
void* lookup_without_fbo(const char* name) {
  if (strcmp(name, "glGetString") == 0) {
    g_real_get_string = reinterpret_cast<decltype(g_real_get_string)>(gl_proc_address(name));
    return reinterpret_cast<void*>(get_string_without_fbo);
  }
  return gl_proc_address(name);
}

class GlSceneTest : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped()) return;
    data_ = std::make_unique<ScratchData>();
    track_ = scene_fixture::write_scene_track(*data_, "testhill");
    clear_message_lines();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    deallocate_track(&g_track);
    free_renderer();
    g_track_hooks = TrackHooks{};
    g_render_settings = RenderSettings{};
    data_.reset();
  }

  // Starts the renderer with the choice and loads the track for it.
  void start(int choice, bool shaders, GlProcLookup lookup = gl_proc_address, int texture_size = 128) {
    deallocate_track(&g_track);
    free_renderer();
    g_render_settings = RenderSettings{};
    g_render_settings.terrain_choice = choice;
    g_render_settings.use_shaders = shaders;
    g_render_settings.ground_texture_size = texture_size;
    install_renderer(lookup);
    ASSERT_TRUE(start_renderer(lookup));
    g_track.name = track_.name;
    TrackLoadSettings settings = {renderer_ground_method(), renderer_shader_choice(), 0};
    ASSERT_TRUE(load_track(&g_track, settings)) << message_line(0);
  }

  // Along the lane from its lower end, looking a little down.
  SceneCamera lane_camera(float height = 7.0f) const {
    float w = track_.width();
    Vec3 at = {w * 0.38f, 0, w * 0.38f};
    at.y = height_at(g_track.terrain, at.x, at.z) + height;
    Vec3 target = {w * 0.5f, 0, w * 0.5f};
    target.y = height_at(g_track.terrain, target.x, target.z) + 2.0f;
    return look_at(at, target, 80.0f);
  }

  std::vector<uint8_t> frame(const SceneCamera& camera, const std::vector<SceneBike>& bikes = {}) {
    Scene s{};
    s.track = &g_track;
    s.width = WIDTH;
    s.height = HEIGHT;
    s.camera = camera;
    s.bikes = bikes;
    s.gate_drop_tick = -1;
    render_scene(s);
    std::vector<uint8_t> rgb = read_back();
    EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
    return rgb;
  }

  std::unique_ptr<ScratchData> data_;
  SceneTrack track_;
};

}  // namespace

TEST_F(GlSceneTest, SkyAboveTexturedGroundBelow) {
  start(2, true);  // "Hardware/Direct"
  EXPECT_EQ(ground_method_in_use(), GROUND_DIRECT);
  std::vector<uint8_t> rgb = frame(lane_camera());
  save(rgb, "lane_direct");
  // The top rows are sky: blue above everything else, and smooth.
  Patch sky = measure(rgb, 0, HEIGHT - 20, WIDTH, HEIGHT);
  EXPECT_GT(sky.b, sky.r + 15);
  EXPECT_GT(sky.b, sky.g);
  EXPECT_LT(sky.spread, 40);
  // The bottom rows are ground: textured (noise survives the painting) and
  // the colours of grass and dirt, never the sky's blue.
  Patch ground = measure(rgb, 0, 0, WIDTH, 40);
  EXPECT_GT(ground.spread, 8);
  EXPECT_LT(ground.b, ground.r + 5);
  EXPECT_LT(ground.b, ground.g + 5);
  EXPECT_GT(ground.r + ground.g + ground.b, 150);  // lit, not black
}

TEST_F(GlSceneTest, EveryTerrainMethodPaintsTheSameGround) {
  // The reference: the fixed-function pipeline with framebuffer painting.
  start(2, false);
  ASSERT_FALSE(shaders_active());
  std::vector<uint8_t> reference = frame(lane_camera());
  save(reference, "method_fixed");
  Patch want = measure(reference, 0, 0, WIDTH, HEIGHT / 2);
  const char* names[5] = {"software", "copy", "direct", "shader_copy", "shader_direct"};
  for (int choice = 0; choice < 5; choice++) {
    start(choice, true);
    SCOPED_TRACE(names[choice]);
    std::vector<uint8_t> rgb = frame(lane_camera());
    EXPECT_EQ(ground_shader_path_in_use(), choice >= 3);
    save(rgb, std::string("method_") + names[choice]);
    // The ground's colour within 10 of 255 per channel on average, and no
    // more than a tenth of its pixels off by over 48 (texel noise and the
    // per-pixel light of the shader ground are allowed their scatter).
    Patch got = measure(rgb, 0, 0, WIDTH, HEIGHT / 2);
    EXPECT_NEAR(got.r, want.r, 10);
    EXPECT_NEAR(got.g, want.g, 10);
    EXPECT_NEAR(got.b, want.b, 10);
    int far_off = 0;
    for (int y = 0; y < HEIGHT / 2; y++)
      for (int x = 0; x < WIDTH; x++) {
        Rgb a = pixel(rgb, x, y), b = pixel(reference, x, y);
        far_off += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) > 3 * 48;
      }
    EXPECT_LT(far_off, WIDTH * HEIGHT / 20);
  }
}

TEST_F(GlSceneTest, ABikeStandsInFrontOfTheCamera) {
  start(2, true);
  const BikeModel& model = bike_model_at(0);
  scene_fixture::write_bike_models(*data_, model);
  create_bike_world();
  Bike* bike = create_bike(model.name, 0, nullptr, nullptr, nullptr, nullptr, "17");
  ASSERT_NE(bike, nullptr);
  float w = track_.width();
  Vec3 spot = {w * 0.45f, 0, w * 0.45f};
  spot.y = height_at(g_track.terrain, spot.x, spot.z);
  place_bike(bike, spot, 0.785f);
  SceneCamera camera = look_at(spot + Vec3{-8, 5, 9}, spot + Vec3{0, 2.5f, 0}, 70.0f);
  std::vector<uint8_t> without = frame(camera);
  std::vector<uint8_t> with = frame(camera, {{bike, -1, false}});
  save(with, "bike_third_person");
  // The bike covers a good part of the middle of the picture, in its red.
  int changed = 0, red = 0;
  for (int y = 0; y < HEIGHT; y++)
    for (int x = 0; x < WIDTH; x++) {
      Rgb a = pixel(with, x, y), b = pixel(without, x, y);
      changed += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) > 30;
      red += a.r > 80 && a.r > 2 * a.g && a.r > 2 * a.b;
    }
  EXPECT_GT(changed, WIDTH * HEIGHT / 30);
  EXPECT_GT(red, 200);
  Rgb centre = pixel(with, WIDTH / 2, HEIGHT / 2);
  Rgb bare = pixel(without, WIDTH / 2, HEIGHT / 2);
  EXPECT_NE(centre.r * 65536 + centre.g * 256 + centre.b, bare.r * 65536 + bare.g * 256 + bare.b);

  // As a ghost the same bike lets the ground show through: over the pixels
  // the solid bike changed, the ghost changes them by a fraction of that;
  // a ghost faded out draws nothing at all.
  std::vector<uint8_t> ghost = frame(camera, {{bike, -1, false, 0.45f}});
  save(ghost, "bike_ghost");
  double solid_change = 0, ghost_change = 0;
  for (int y = 0; y < HEIGHT; y++)
    for (int x = 0; x < WIDTH; x++) {
      Rgb a = pixel(with, x, y), b = pixel(without, x, y), g = pixel(ghost, x, y);
      int solid = std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
      if (solid <= 30) continue;
      solid_change += solid;
      ghost_change += std::abs(g.r - b.r) + std::abs(g.g - b.g) + std::abs(g.b - b.b);
    }
  ASSERT_GT(solid_change, 0);
  EXPECT_GT(ghost_change / solid_change, 0.2);
  EXPECT_LT(ghost_change / solid_change, 0.8);
  EXPECT_EQ(frame(camera, {{bike, -1, false, 0.0f}}), without);

  // First person from the same bike: the bars and the rider's arms fill the bottom.
  std::vector<uint8_t> inside = frame(first_person_camera(*bike, 90.0f), {{bike, -1, true}});
  save(inside, "bike_first_person");
  Patch low = measure(inside, 0, 0, WIDTH, HEIGHT / 3);
  Patch high = measure(inside, 0, HEIGHT - 20, WIDTH, HEIGHT);
  EXPECT_GT(high.b, high.r);  // looking ahead at the sky's level
  EXPECT_GT(low.spread, 10);
  delete_bike(bike);
  destroy_bike_world();
}

TEST(GhostOpacity, SeeThroughFarOutAndGoneWithinHalfTheFadeDistance) {
  const float full = ghost_opacity(1000.0f, 10.0f);
  EXPECT_GT(full, 0.2f);
  EXPECT_LT(full, 1.0f);
  EXPECT_FLOAT_EQ(ghost_opacity(10.0f, 10.0f), full);
  EXPECT_FLOAT_EQ(ghost_opacity(5.0f, 10.0f), 0.0f);
  EXPECT_FLOAT_EQ(ghost_opacity(0.0f, 10.0f), 0.0f);
  EXPECT_NEAR(ghost_opacity(7.5f, 10.0f), full * 0.5f, 1e-6f);
  EXPECT_FLOAT_EQ(ghost_opacity(0.0f, 0.0f), full);  // 0: never fades
}

TEST_F(GlSceneTest, WithoutFramebufferObjectsDirectPaintingFallsBackToSoftware) {
  start(2, false);
  std::vector<uint8_t> reference = frame(lane_camera());
  start(2, false, lookup_without_fbo);
  EXPECT_FALSE(g_gl_info.framebuffer_object);
  EXPECT_EQ(renderer_ground_method(), GROUND_SOFTWARE);
  std::vector<uint8_t> rgb = frame(lane_camera());
  EXPECT_EQ(ground_method_in_use(), GROUND_SOFTWARE);
  Patch want = measure(reference, 0, 0, WIDTH, HEIGHT / 2), got = measure(rgb, 0, 0, WIDTH, HEIGHT / 2);
  EXPECT_NEAR(got.g, want.g, 10);
  EXPECT_GT(got.spread, 8);
}

TEST_F(GlSceneTest, SoftwareAndCopyPaintingStopAt256Texels) {
  start(0, false, gl_proc_address, 512);
  frame(lane_camera());
  EXPECT_EQ(ground_texture_size_in_use(), 256);
  start(2, false, gl_proc_address, 512);  // framebuffer objects take the full size
  frame(lane_camera());
  EXPECT_EQ(ground_texture_size_in_use(), 512);
}

// The shipped tracks when the data set has been built beside the game
// (DV_RENDER_DATA names another data directory).
TEST_F(GlSceneTest, ShippedTracksShowSkyAndGround) {
  std::string dir = getenv("DV_RENDER_DATA") ? getenv("DV_RENDER_DATA") : DV_GAME_DIR;
  FILE* probe = fopen((dir + "/rabbithill/terrain.hf").c_str(), "rb");
  if (!probe) GTEST_SKIP() << "no data set in " << dir;
  fclose(probe);
  set_search_directories({dir});
  for (const char* name : {"rabbithill", "harborarena"}) {
    SCOPED_TRACE(name);
    track_.name = name;
    start(2, true);
    if (HasFatalFailure()) return;
    const StartingGate* gate = g_track.gates.starting_gates.empty() ? nullptr : &g_track.gates.starting_gates[0];
    float w = g_track.terrain.width;
    Vec3 at = gate ? gate->position : Vec3{w / 2, 0, w / 2};
    float h = gate ? gate->heading : 0.0f;
    at.y = height_at(g_track.terrain, at.x, at.z) + 6.0f;
    Vec3 ahead = {at.x - 60 * std::sin(h), 0, at.z - 60 * std::cos(h)};
    ahead.y = height_at(g_track.terrain, ahead.x, ahead.z) + 3.0f;
    std::vector<uint8_t> rgb = frame(look_at(at, ahead, 90.0f));
    save(rgb, std::string("shipped_") + name);
    Patch sky = measure(rgb, 0, HEIGHT - 12, WIDTH, HEIGHT);
    Patch ground = measure(rgb, 0, 0, WIDTH, 30);
    EXPECT_GT(sky.b, sky.r);
    EXPECT_GT(ground.spread, 4);
    EXPECT_GT(std::fabs(ground.b - sky.b) + std::fabs(ground.r - sky.r), 30);
  }
}

TEST_F(GlSceneTest, ChangedGroundIsRepaintedWhereItChanged) {
  for (int choice : {0, 2}) {
    SCOPED_TRACE(choice);
    start(choice, false);
    SceneCamera camera = lane_camera();
    std::vector<uint8_t> before = frame(camera);
    frame(camera);
    EXPECT_EQ(g_render_stats.painted_textures, 0);  // nothing new while the camera stands
    // Darken the shading of the whole field, as a dug track recomputes it.
    Terrain& t = g_track.terrain;
    for (uint8_t& v : t.shading) v = (uint8_t)(v / 2);
    g_track_hooks.ground_changed(t, 0, 0, t.N - 1, t.N - 1);
    std::vector<uint8_t> after = frame(camera);
    EXPECT_GT(g_render_stats.painted_textures, 1);
    Patch was = measure(before, 0, 0, WIDTH, 40), now = measure(after, 0, 0, WIDTH, 40);
    EXPECT_LT(now.g, was.g * 0.7);
  }
}

TEST_F(GlSceneTest, ARutDugInViewShowsWithoutTheRendererBeingTold) {
  for (int choice : {0, 2}) {
    SCOPED_TRACE(choice);
    start(choice, false);
    SceneCamera camera = lane_camera();
    std::vector<uint8_t> before = frame(camera);
    frame(camera);
    EXPECT_EQ(g_render_stats.painted_textures, 0);
    // A deep hole where the camera looks, through the brush alone: the
    // renderer follows the field's change record. The textures over it are
    // painted in the next frame; the hole's shape shows as soon as the
    // level-of-detail values have caught up.
    Terrain& t = g_track.terrain;
    float w = track_.width();
    ASSERT_TRUE(deform(&t, w * 0.43f, w * 0.43f, 6, -3));
    std::vector<uint8_t> after = frame(camera);
    EXPECT_GT(g_render_stats.painted_textures, 0);
    auto differing = [&](const std::vector<uint8_t>& a) {
      int n = 0;
      for (size_t i = 0; i < before.size(); i += 3)
        n += std::abs(before[i] - a[i]) + std::abs(before[i + 1] - a[i + 1]) > 24;
      return n;
    };
    int frames = 1;
    while (differing(after) < 200 && frames < 120) {
      after = frame(camera);
      frames++;
    }
    save(after, choice == 0 ? "rut_dug_direct" : "rut_dug_software");
    EXPECT_GT(differing(after), 200) << frames << " frames";
    // What changed is painted once: the frames go quiet again.
    int painting = 0;
    while (painting < 200 && (frame(camera), g_render_stats.painted_textures > 0)) painting++;
    EXPECT_LT(painting, 200);
  }
}
