#include <gtest/gtest.h>
#include <nettle/ripemd160.h>

#include <cstring>
#include <memory>
#include <vector>

#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tests/track/track_test_util.h"
#include "track/assets.h"
#include "track/loading.h"
#include "track/track.h"

namespace {

const TrackLoadSettings HARDWARE{GROUND_DIRECT, false, 1};

class TrackLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_message_lines();
    reset_loading_gaps();
  }
  void TearDown() override {
    deallocate_track(track.get());
    purge_textures(true);
    g_track_hooks = TrackHooks{};
    g_draw_loading_screen = default_screen;
  }
  bool load(const std::string& name, const TrackLoadSettings& settings = HARDWARE) {
    track->name = name;
    return load_track(track.get(), settings);
  }
  std::vector<uint8_t> digest_of(const std::string& name) {
    EXPECT_TRUE(load(name)) << name;
    return std::vector<uint8_t>(track->digest, track->digest + 20);
  }
  // Where each text appears in the log, in the order given; -1 when absent.
  static bool in_order(const std::string& log, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (const std::string& text : texts) {
      size_t found = log.find(text, at);
      if (found == std::string::npos) {
        ADD_FAILURE() << "missing or out of order: " << text;
        return false;
      }
      at = found + text.size();
    }
    return true;
  }
  void (*default_screen)(const char*) = g_draw_loading_screen;
  ScratchData data;
  std::unique_ptr<LoadedTrack> track = std::make_unique<LoadedTrack>();
};

TEST_F(TrackLoad, CompleteDirectoryLoadsEverythingInOrder) {
  build_fixture_track(data, "hills", true);
  LogCapture log;
  ASSERT_TRUE(load("hills"));
  const std::string text = log.text();
  EXPECT_TRUE(in_order(text, {"Scanning\n", "Loading '@hills'\n", "Loading lighting\n", "Loading terrain\n",
                              "Loading heights\n", "Loading shading\n", "Loading shadows\n", "Loading decals\n",
                              "bytes texture memory used after hf creation\n",
                              "Found 4 timing gates, first lap has 4 gates, normal lap has 4\n",
                              "Loading flaggers\n", "bytes texture memory used after flagger creation\n",
                              "Loading billboards\n", "bytes texture memory used after billboard creation\n",
                              "Loading statues\n", "Loading map\n",
                              "bytes texture memory used after statue creation\n", "2 cameras found\n"}));
  EXPECT_NE(text.find("Loading map...done\n"), std::string::npos);
  EXPECT_EQ(messages_containing("warning"), 0) << text;

  // Each file reached its table (the readers themselves are tested on their own).
  const Terrain& t = track->terrain;
  EXPECT_NEAR(grid_height(t, 16, 16), 40.0f * fixture_sample(16, 16, 17) / 65535.0f, 1e-3f);
  EXPECT_EQ(t.shading[0], 100);  // "shadingx2.ppm" as stored
  EXPECT_EQ(t.tile_count, 3);    // from "tileinfo", not "texturelist"
  EXPECT_NE(t.tiles[0].texture, nullptr);
  EXPECT_NE(track->lighting.sky[SKY_UP], nullptr);
  EXPECT_TRUE(track->gates.timed);
  ASSERT_EQ(track->objects.start_gates.size(), 2u);
  // The gates' heights are world heights: their objects stand at them, on
  // ground that is well above zero here, rather than that far above it.
  for (size_t i = 0; i < 2; i++) {
    const Vec3 at = track->objects.start_gates[i].position;
    EXPECT_GT(height_at(t, at.x, at.z), 1.0f);
    EXPECT_NEAR(at.y, track->gates.starting_gates[i].position.y, 1e-3f);
  }
  const TrackObjects& o = track->objects;
  EXPECT_EQ(o.decals.size(), 2u);
  // The pool, the set's two billboards, one flagger, then the two of "billboards".
  EXPECT_EQ(o.billboard_pool_first, 0);
  EXPECT_EQ(o.billboards.size(), (size_t)RUNTIME_BILLBOARD_POOL + 5);
  EXPECT_EQ(o.flagger_set.flaggers[0].gates[3], 3);  // clamped to the 4 checkpoints read before
  EXPECT_EQ(o.statues.size(), 3u);
  EXPECT_EQ(o.cameras.size(), 2u);
  EXPECT_NE(track->map_texture, nullptr);
  EXPECT_GT(track_texture_memory(), 0u);
}

TEST_F(TrackLoad, MinimalDirectoryLoadsWithDefaults) {
  build_fixture_track(data, "plain", false);
  LogCapture log;
  ASSERT_TRUE(load("plain", TrackLoadSettings{GROUND_SOFTWARE, false, 0}));
  EXPECT_TRUE(in_order(log.text(), {"Scanning\n", "Loading terrain\n", "Loading heights\n", "Loading shading\n",
                                    "Loading shadows\n", "Loading decals\n", "Loading flaggers\n",
                                    "Loading billboards\n", "Loading statues\n", "Loading map\n"}));
  EXPECT_EQ(log.text().find("Loading lighting"), std::string::npos);
  const Terrain& t = track->terrain;
  EXPECT_EQ(t.shading[5], 100);  // "shading.ppm" halved
  EXPECT_EQ(t.shadows[5], 0);
  EXPECT_EQ(t.tile_count, 3);
  EXPECT_FLOAT_EQ(t.tiles[0].friction[0].value, 0.9f);
  ASSERT_NE(t.tiles[0].image, nullptr);  // the software method keeps images
  EXPECT_EQ(t.tiles[0].texture, nullptr);
  EXPECT_FALSE(track->gates.timed);
  EXPECT_EQ(track->objects.billboards.size(), (size_t)RUNTIME_BILLBOARD_POOL);
  EXPECT_TRUE(track->objects.statues.empty());
  EXPECT_EQ(track->map_texture, nullptr);
  EXPECT_FLOAT_EQ(track->lighting.far_plane, 5000.0f);
  EXPECT_EQ(track->lighting.sky[SKY_NORTH], nullptr);
}

TEST_F(TrackLoad, ShaderPathBuildsTheNormalMap) {
  build_fixture_track(data, "hills", true);
  ASSERT_TRUE(load("hills", TrackLoadSettings{GROUND_DIRECT, true, 0}));
  ASSERT_EQ(track->terrain.normal_map.size(), (size_t)17 * 17 * 3);
  EXPECT_EQ(track->terrain.normal_map[1], 255);  // "shadows.pgm" is all lit
}

TEST_F(TrackLoad, MissingRequiredFilesFailTheLoadAndClearTheName) {
  build_fixture_track(data, "broken", false);
  data.remove("broken/tilemap");
  EXPECT_FALSE(load("broken"));
  EXPECT_TRUE(message_shown("Can't open '@broken/tilemap'"));
  EXPECT_TRUE(track->name.empty());
  EXPECT_TRUE(track->terrain.heights.empty());
  EXPECT_FALSE(load("nowhere"));
  EXPECT_TRUE(message_shown("Can't open '@nowhere/terrain.hf'"));
}

TEST_F(TrackLoad, DigestIgnoresUnhashedFilesAndFollowsStatueModels) {
  build_fixture_track(data, "hills", true);
  const std::vector<uint8_t> base = digest_of("hills");
  data.write("hills/lighting", "near_plane 0.3\n");
  data.write("hills/billboards", "");
  data.write("hills/cameras", "addcamera 1 1 1\n");
  data.write("hills/decals", "");
  data.write("hills/flaggers", "");
  data.remove("hills/map.png");
  data.write("hills/desc", "Another name\n");
  EXPECT_EQ(digest_of("hills"), base);

  // The rock model is used by two statues: changing it changes the digest.
  data.write("hills/rock.shp", "3 1\n0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 5 0 1 0 0 1\n0 1 2\n");
  const std::vector<uint8_t> rock_changed = digest_of("hills");
  EXPECT_NE(rock_changed, base);
  for (const char* hashed : {"hills/tilemap", "hills/timing_gates", "hills/statues", "hills/terrain.hf",
                             "hills/texturelist", "hills/tileinfo", "hills/terrain.png"}) {
    std::string bytes = data.read(hashed);
    data.write(hashed, bytes + "\n");
    EXPECT_NE(digest_of("hills"), rock_changed) << hashed;
    data.write(hashed, bytes);
  }
  EXPECT_EQ(digest_of("hills"), rock_changed);
}

TEST_F(TrackLoad, DigestCoversEachStatueModelOnce) {
  build_fixture_track(data, "hills", true);
  std::vector<uint8_t> loaded = digest_of("hills");
  ripemd160_ctx ctx;
  ripemd160_init(&ctx);
  for (const char* file : {"terrain.png", "terrain.hf", "texturelist", "tilemap", "tileinfo", "timing_gates",
                           "statues", "rock.shp", "hay.shp"}) {
    std::string bytes = data.read(std::string("hills/") + file);
    ripemd160_update(&ctx, bytes.size(), (const uint8_t*)bytes.data());
  }
  std::vector<uint8_t> expected(20);
  ripemd160_digest(&ctx, 20, expected.data());
  EXPECT_EQ(loaded, expected);
}

std::vector<std::string>* g_screens = nullptr;
void record_screen(const char* text) { g_screens->push_back(text); }

TEST_F(TrackLoad, StagesShowTitleDotsAndDone) {
  std::vector<std::string> screens;
  g_screens = &screens;
  g_draw_loading_screen = record_screen;
  LoadingStage stage;
  begin_loading_stage(&stage, "Quick");
  tick_loading_stage(&stage);
  end_loading_stage(&stage);
  EXPECT_EQ(screens, (std::vector<std::string>{"Quick", "Quick...done"}));

  screens.clear();
  begin_loading_stage(&stage, "Slow");
  for (int i = 0; i < 5; i++) {
    usleep(140000);
    tick_loading_stage(&stage);
  }
  end_loading_stage(&stage);
  EXPECT_EQ(screens, (std::vector<std::string>{"Slow", "Slow.", "Slow..", "Slow...", "Slow", "Slow.",
                                               "Slow...done"}));
  // The longest gap was one of the waits, with the text shown during it.
  EXPECT_GE(longest_loading_gap(), 0.13);
  EXPECT_EQ(std::string(longest_loading_gap_text()).substr(0, 4), "Slow");
  g_screens = nullptr;
}

TEST_F(TrackLoad, LongestGapKeepsTheTextOnScreenDuringIt) {
  g_draw_loading_screen = nullptr;
  std::string long_text(120, 'x');
  show_loading_message(long_text.c_str());
  usleep(60000);
  show_loading_message("after");
  show_loading_message("next");
  EXPECT_GE(longest_loading_gap(), 0.05);
  EXPECT_EQ(std::string(longest_loading_gap_text()), std::string(79, 'x'));
  LogCapture log;
  log_longest_loading_gap();
  EXPECT_NE(log.text().find("Max loading delay was 0.0"), std::string::npos);
  EXPECT_NE(log.text().find(" (" + std::string(79, 'x') + ")\n"), std::string::npos);
}

TEST_F(TrackLoad, ReloadRule) {
  build_fixture_track(data, "plain", false);
  build_fixture_track(data, "Plain", false);
  {
    LogCapture log;
    ASSERT_TRUE(reload_track(track.get(), "plain", false, HARDWARE));
    EXPECT_NE(log.text().find("Scanning"), std::string::npos);
  }
  EXPECT_FALSE(track_needs_load(*track, "plain", false));
  EXPECT_TRUE(track_needs_load(*track, "plain", true));
  EXPECT_TRUE(track_needs_load(*track, "Plain", false));  // names compare exactly
  {
    LogCapture log;
    ASSERT_TRUE(reload_track(track.get(), "plain", false, HARDWARE));
    EXPECT_EQ(log.text().find("Scanning"), std::string::npos);
    EXPECT_EQ(log.text().find("Deallocating track"), std::string::npos);
  }
  {
    LogCapture log;
    ASSERT_TRUE(reload_track(track.get(), "Plain", false, HARDWARE));
    EXPECT_TRUE(in_order(log.text(), {"Deallocating track\n", "Finished deallocating track\n", "Scanning\n"}));
  }
  EXPECT_EQ(track->name, "Plain");
  deallocate_track(track.get());
  EXPECT_TRUE(track->name.empty());
  EXPECT_TRUE(track->objects.billboards.empty());
  EXPECT_TRUE(track->terrain.heights.empty());
  EXPECT_TRUE(track_needs_load(*track, "Plain", false));
}

Model* fake_model(const char* name) {
  static int model;
  return (Model*)&model;
}
int g_registered = 0;
void count_statue(const Statue&) { g_registered++; }

TEST_F(TrackLoad, StatuesRegisterWithTheSimulation) {
  build_fixture_track(data, "hills", true);
  g_track_hooks.load_model = fake_model;
  g_track_hooks.load_shape = fake_model;
  g_track_hooks.register_statue = count_statue;
  g_registered = 0;
  ASSERT_TRUE(load("hills"));
  EXPECT_EQ(g_registered, 3);
  EXPECT_NE(track->objects.statues[0].texture, nullptr);  // textures come with a model
  EXPECT_EQ(track->objects.statues[1].shape, nullptr);    // "null" shape
}

}  // namespace
