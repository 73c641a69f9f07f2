// The interface drawn into a real window on a private Xvfb: every menu, the
// HUD of a bike in a race, the results board, the message and chat lines,
// and screenshots. Each picture is also written as a PNG under the build
// folder's tests/ui/shots for a person to look at.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/config.h"
#include "core/datafile.h"
#include "core/discovery.h"
#include "core/game_hooks.h"
#include "core/main_loop.h"
#include "core/message.h"
#include "platform/platform.h"
#include "tests/platform/xvfb.h"
#include "ui/gl_ui.h"
#include "ui/ui.h"
#include "ui_gl_fixture.h"

// Leak checking covers our code, not the desktop libraries SDL loads: libdbus
// keeps its connection buffers until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

namespace {

constexpr int W = 1024, H = 768;

bool shown(const std::string& text) {
  for (int i = 0; const char* line = message_line(i); i++)
    if (std::string(line).find(text) != std::string::npos) return true;
  return false;
}

// --- a race behind the hooks ----------------------------------------------------------

struct FakeRace {
  BikeView bikes[4];
  HudBike hud;
  HudRace race;
  ResultsEntry results[4];
  int result_count = 0;
  bool final = false;
  unsigned resets = 1;
};
FakeRace g_race;

void install_fake_race() {
  GameHooks& h = g_game_hooks;
  h.race.state = [](RaceState* s) {
    *s = RaceState{};
    s->track_loaded = true;
    s->player_slot = 0;
    s->player_riding = true;
    s->reset_count = g_race.resets;
  };
  h.race.bike = [](int slot, BikeView* out) {
    if (slot < 0 || slot >= 4) return false;
    *out = g_race.bikes[slot];
    return true;
  };
  h.race.running_order = [](int slots[MAX_BIKES]) {
    for (int i = 0; i < 4; i++) slots[i] = (i + 2) % 4;  // the player (slot 0) runs 3rd
    return 4;
  };
  h.race.hud_bike = [](int slot, HudBike* out) {
    if (slot != 0) return false;
    *out = g_race.hud;
    return true;
  };
  h.race.hud_race = [](HudRace* out) {
    *out = g_race.race;
    return true;
  };
  h.race.results = [](ResultsEntry* out, bool* final) {
    for (int i = 0; i < g_race.result_count; i++) out[i] = g_race.results[i];
    *final = g_race.final;
    return g_race.result_count;
  };
  h.world.ground_height = [](float x, float z) { return 8.0f * std::sin(x * 0.02f) * std::cos(z * 0.015f); };
  h.world.track_map = [](float* sx, float* sz, std::vector<Vec3>* course) {
    *sx = *sz = 512;
    course->clear();
    for (int i = 0; i < 24; i++) {
      float a = i * 6.2831853f / 24;
      course->push_back({256 + 180 * std::cos(a), 0, 256 + 120 * std::sin(a) + 40 * std::sin(3 * a)});
    }
    return true;
  };
}

void reset_fake_race() {
  g_race = FakeRace{};
  for (int i = 0; i < 4; i++) {
    BikeView& b = g_race.bikes[i];
    b.position = {100.0f + 80 * i, 0, 300.0f - 40 * i};
    b.rotation[0] = b.rotation[4] = b.rotation[8] = 1;
    b.gate = -1;
  }
  g_race.bikes[0].velocity = {0, 0, -44};  // 30 mph
  g_race.hud = HudBike{};
  g_race.hud.engine_rpm = 7500;
  g_race.hud.redline_rpm = 11500;
  g_race.hud.gear = 3;
  g_race.hud.gear_count = 5;
  g_race.hud.laps_completed = 1;
  g_race.hud.lap_ticks = 4000;
  g_race.hud.last_lap_ticks = 8123;
  g_race.hud.best_lap_ticks = 8000;
  g_race.hud.lean = -0.4f;
  g_race.race = HudRace{};
  g_race.race.tick = 20000;
  g_race.race.gate_drop_tick = 1800;
  g_race.race.lap_total = 5;
}

// --- the window ------------------------------------------------------------------------------

class UiWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new Xvfb();
    if (!server_->start(&why_)) return;
    WindowSettings settings = {"Dirtvane UI test", W, H, 24, 24, false};
    if (!create_window(settings)) {
      why_ = "no window on the private X server";
      return;
    }
    for (int i = 0; i < 100 && !begin_frame(); i++) precise_sleep(0.02);
    Font text, mono;
    if (!rasterise_font(DEJAVU_SANS, 32, &text, &why_) || !rasterise_font(DEJAVU_MONO, 24, &mono, &why_)) return;
    char pattern[] = "/tmp/dv_ui_gl_XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/fonts");
    set_search_directories({dir_});
    if (!write_font_file((dir_ + "/fonts/text.dvfont").c_str(), text) ||
        !write_font_file((dir_ + "/fonts/mono.dvfont").c_str(), mono)) {
      why_ = "font files not written";
      return;
    }
    write_rgba_png(dir_ + "/tach.png", make_tach_image(256));
    write_rgba_png(dir_ + "/shifter.png", make_plate_image(64, 64, 30, 30, 36));
    write_rgba_png(dir_ + "/pitboard.png", make_plate_image(160, 120, 24, 26, 30));
    invalidate_catalogue();
    std::filesystem::create_directories(DV_UI_SHOTS_DIR);
    ready_ = true;
  }
  static void TearDownTestSuite() {
    if (ready_) free_ui_assets();
    destroy_window();
    delete server_;
    server_ = nullptr;
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  void SetUp() override {
    if (!ready_) GTEST_SKIP() << why_;
    reset_config();
    set_choice_values(ChoiceListId::bike_models, {"450sxf(2016)", "crf450(2016)", "yz250f(2008)", "rs50yz"});
    set_choice_values(ChoiceListId::video_modes, {"Default Fullscreen", "Windowed", "1024x768"});
    g_tracks = TrackList{};
    g_tracks.paths = {"dunes", "rabbithill"};
    g_tracks.names = {"Desert Dunes", "Rabbit Hill"};
    g_tracks.selected = 1;
    g_game_hooks = {};
    install_ui_hooks();
    install_fake_race();
    reset_fake_race();
    clear_message_lines();
    g_game_clock = 100;
    g_main_loop.mode = VIEW_FIRST_PERSON;
    g_game_hooks.ui.load_assets();  // the fonts and images, and the main menu opens
    close_all_menus(&g_ui.menus);
  }
  void TearDown() override {
    if (!ready_) return;
    g_game_hooks.ui.free();
    g_game_hooks = {};
  }

  // One frame: a sky-and-ground backdrop, the HUD when asked, then the
  // menus and lines; the picture is read back before the swap.
  std::vector<uint8_t> frame(const char* shot, bool hud) {
    begin_frame();
    begin_2d(W, H);
    draw_rect(0, 0, W, H * 0.45f, {0.35f, 0.62f, 0.85f, 1});
    draw_rect(0, H * 0.45f, W, H * 0.55f, {0.45f, 0.36f, 0.24f, 1});
    end_2d();
    if (hud) g_game_hooks.ui.draw_hud(0);
    g_game_hooks.ui.draw_menus();
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    EXPECT_TRUE(read_frame_rgb(&rgb, &w, &h));
    EXPECT_EQ(w, W);
    EXPECT_EQ(h, H);
    if (shot) {
      Image image;
      init_image(&image, w, h, 3);
      image.pixels = rgb;
      write_rgba_png(std::string(DV_UI_SHOTS_DIR) + "/" + shot + ".png", image);
    }
    end_frame();
    return rgb;
  }

  // Pixels in a rectangle that satisfy the test, and their centre.
  static int count(const std::vector<uint8_t>& rgb, int x0, int y0, int x1, int y1,
                   const std::function<bool(const uint8_t*)>& test, double* cx = nullptr, double* cy = nullptr) {
    int n = 0;
    double sx = 0, sy = 0;
    for (int y = std::max(0, y0); y < std::min(H, y1); y++)
      for (int x = std::max(0, x0); x < std::min(W, x1); x++)
        if (test(&rgb[((size_t)y * W + x) * 3])) {
          n++;
          sx += x;
          sy += y;
        }
    if (cx) *cx = n ? sx / n : -1;
    if (cy) *cy = n ? sy / n : -1;
    return n;
  }
  static bool white(const uint8_t* p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; }
  static bool needle(const uint8_t* p) { return p[0] > 200 && p[1] > 90 && p[1] < 160 && p[2] < 50; }
  static bool marker(const uint8_t* p) { return p[0] > 200 && p[1] > 170 && p[2] < 60; }

  static Xvfb* server_;
  static bool ready_;
  static std::string why_, dir_;
};

Xvfb* UiWindowTest::server_ = nullptr;
bool UiWindowTest::ready_ = false;
std::string UiWindowTest::why_ = "the window tests did not start";
std::string UiWindowTest::dir_;

}  // namespace

TEST_F(UiWindowTest, EveryMenuDrawsItsTitleItemsAndCursor) {
  const char* names[MENU_COUNT] = {"menu_main",       "menu_practice", "menu_race",       "menu_lineup",
                                   "menu_time_trial", "menu_series",   "menu_series_event", "menu_multiplayer",
                                   "menu_demos",      "menu_bike_setup", "menu_suspension", "menu_stability",
                                   "menu_controls",   "menu_graphics", "menu_sound"};
  remember_server("race.example.org");
  for (int id = 0; id < MENU_COUNT; id++) {
    close_all_menus(&g_ui.menus);
    open_menu(&g_ui.menus, (MenuId)id);
    std::vector<uint8_t> rgb = frame(names[id], false);
    MenuLayout layout = layout_menu(g_ui.menus, W, H, menu_metrics());
    const MenuRect& p = layout.panel;
    // The title in white across the top of the panel.
    EXPECT_GT(count(rgb, (int)p.x, (int)p.y, (int)(p.x + p.width), (int)layout.boxes[0].row.y, white), 60) << names[id];
    // Every shown item's label left something bright in its row.
    for (const MenuItemBox& box : layout.boxes) {
      int lit = count(rgb, (int)layout.label_x, (int)box.row.y, (int)box.value.x, (int)(box.row.y + box.row.height),
                      [](const uint8_t* px) { return px[0] > 150 && (px[1] > 120 || px[2] > 120); });
      EXPECT_GT(lit, 10) << names[id] << " item " << g_ui.menus.page.items[(size_t)box.item].label;
    }
    // Outside the panel the backdrop shows through, darkened.
    const uint8_t* corner = &rgb[((size_t)5 * W + 5) * 3];
    EXPECT_LT(corner[0], 0.35 * 255 * 0.8);
    EXPECT_GT(corner[2], 60);
  }
}

TEST_F(UiWindowTest, TachometerNeedleFollowsTheEngineAndTheMapTheRiders) {
  g_race.hud.engine_rpm = 1500;
  std::vector<uint8_t> low = frame(nullptr, true);
  g_race.hud.engine_rpm = 13500;
  g_race.bikes[0].position = {480, 0, 480};
  std::vector<uint8_t> high = frame("hud_race", true);
  double lx, ly, hx, hy;
  ASSERT_GT(count(low, W / 2, H / 2, W, H, needle, &lx, &ly), 50);
  ASSERT_GT(count(high, W / 2, H / 2, W, H, needle, &hx, &hy), 50);
  EXPECT_GT(hx - lx, 30) << "the needle swings right as the engine speeds up";
  EXPECT_NEAR(hy, ly, 25);  // both ends of the scale lie level

  // The viewed rider's marker: near the map's top left at (100, 300), at
  // its bottom right at (480, 480).
  double mx0, my0, mx1, my1;
  ASSERT_GT(count(low, 3 * W / 4, 0, W, H / 3, marker, &mx0, &my0), 10);
  ASSERT_GT(count(high, 3 * W / 4, 0, W, H / 3, marker, &mx1, &my1), 10);
  EXPECT_GT(mx1 - mx0, 100);
  EXPECT_GT(my1 - my0, 40);
}

TEST_F(UiWindowTest, HudReadsOutSpeedGearAndTimesAndTheSwitchesAddLines) {
  std::vector<uint8_t> plain = frame(nullptr, true);
  g_config.draw_fps = 1;
  g_config.draw_time = 1;
  g_run_options.print_orientation = true;
  g_ui.suspension_graph = true;
  g_race.hud.fork_position = 0.6f;
  g_race.hud.swingarm_position = 0.3f;
  std::vector<uint8_t> busy = frame("hud_switches", true);
  g_run_options.print_orientation = false;
  g_ui.suspension_graph = false;
  // The statistics lines sit in the lower middle; the graph at the left.
  EXPECT_GT(count(busy, W / 4, (int)(H * 0.6), 3 * W / 4, (int)(H * 0.75), white),
            count(plain, W / 4, (int)(H * 0.6), 3 * W / 4, (int)(H * 0.75), white) + 100);
  EXPECT_GT(count(busy, 0, (int)(H * 0.28), W / 3, (int)(H * 0.55), white),
            count(plain, 0, (int)(H * 0.28), W / 3, (int)(H * 0.55), white) + 100);

  // Hidden HUD: nothing but the backdrop outside the messages.
  g_run_options.show_hud = true;
  std::vector<uint8_t> none = frame(nullptr, false);
  EXPECT_EQ(count(none, 0, 0, W, H, needle), 0);
}

TEST_F(UiWindowTest, ResultsBoardAfterTheFinish) {
  const char* numbers[4] = {"7", "999", "23", "101"};
  const char* names[4] = {"Robot Rita", "Joe Motocross", "Robot Ravi", "Robot Remy"};
  for (int i = 0; i < 4; i++) {
    ResultsEntry& e = g_race.results[i];
    e = ResultsEntry{};
    e.slot = (i + 2) % 4;
    e.number = numbers[i];
    e.name = names[i];
    e.bike = "450sxf(2016)";
    e.laps = i == 3 ? 4 : 5;
    e.total_ticks = 40000 + i * 300;
    e.best_lap = 3;
    e.best_lap_ticks = 7900 + i * 40;
    e.finished = true;
  }
  g_race.results[2].penalty_ticks = 416;
  g_race.result_count = 4;
  g_race.hud.finished = true;
  std::vector<uint8_t> unofficial = frame("results_unofficial", true);
  g_race.final = true;
  std::vector<uint8_t> final_board = frame("results_final", true);
  // The board covers the middle of the screen with rows of text.
  EXPECT_GT(count(final_board, W / 8, (int)(H * 0.2), 7 * W / 8, (int)(H * 0.45), white), 400);
  EXPECT_GT(count(unofficial, W / 8, (int)(H * 0.2), 7 * W / 8, (int)(H * 0.45), white), 400);
}

TEST_F(UiWindowTest, MessageLinesShowAndHideTwoSecondsAfterTheLast) {
  show_message("Resetting...");
  show_message("Loading bikes...done");
  std::vector<uint8_t> shown_now = frame("messages", true);
  int lit = count(shown_now, 0, 0, W / 3, H / 8, white);
  EXPECT_GT(lit, 100);
  g_game_clock += 2.1;
  std::vector<uint8_t> later = frame(nullptr, true);
  EXPECT_LT(count(later, 0, 0, W / 3, H / 8, white), lit / 10);
}

TEST_F(UiWindowTest, ChatLineShowsWhatIsTyped) {
  g_game_hooks.ui.open_chat();
  EXPECT_TRUE(g_game_hooks.ui.menu_open());
  InputEvent e = {};
  e.kind = INPUT_TEXT;
  snprintf(e.text, sizeof e.text, "good race everyone");
  g_game_hooks.ui.menu_key(e);
  std::vector<uint8_t> rgb = frame("chat_line", true);
  EXPECT_GT(count(rgb, 0, (int)(H * 0.6), W / 2, (int)(H * 0.68), white), 150);
  g_game_hooks.ui.close_menu();
  EXPECT_FALSE(g_game_hooks.ui.menu_open());
}

TEST_F(UiWindowTest, ScreenshotsTakeTheNextFreeNameAndHoldTheFrame) {
  g_game_hooks.ui.screenshot();
  frame(nullptr, true);
  g_game_hooks.ui.screenshot();
  frame(nullptr, true);
  std::string first = dir_ + "/screenshot000.png", second = dir_ + "/screenshot001.png";
  ASSERT_TRUE(std::filesystem::exists(first));
  ASSERT_TRUE(std::filesystem::exists(second));
  EXPECT_TRUE(shown("Saved \"screenshot001.png\""));
  Image image;
  std::string info;
  ASSERT_TRUE(read_png_file(first.c_str(), &image, &info));
  EXPECT_EQ(image.width, W);
  EXPECT_EQ(image.height, H);
  // Sky at the top, ground at the bottom: the picture the player saw, right way up.
  const uint8_t* top = &image.pixels[((size_t)H / 3 * W + W / 2) * 3];
  const uint8_t* bottom = &image.pixels[((size_t)(H - 10) * W + W / 2) * 3];
  EXPECT_GT(top[2], top[0]);
  EXPECT_GT(bottom[0], bottom[2]);
  std::filesystem::remove(first);
  std::filesystem::remove(second);
}
