#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "core/config.h"
#include "core/datafile.h"
#include "core/message.h"
#include "net/console.h"
#include "replay/demo.h"

namespace {

std::string newest() {
  const char* line = message_line(0);
  return line ? line : "";
}

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dv_console_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    set_search_directories({root_});
    clear_message_lines();
    g_console = ConsoleState();
    init_net_client(&client_);
  }
  void TearDown() override {
    reset_connection(&client_);
    std::filesystem::remove_all(root_);
  }
  // Connected as far as the console cares: a socket and a slot.
  void fake_connection() {
    client_.socket = open_socket();
    client_.client_slot = 2;
    client_.key = 77;
  }
  std::string queued_payload(size_t index) {
    const OutgoingReliable& m = client_.outgoing.queue.at(index);
    ClientMessage d;
    EXPECT_TRUE(decode_client_message(m.bytes, m.length, &d));
    EXPECT_EQ(d.subtype, RELIABLE_TEXT);
    return std::string(reinterpret_cast<const char*>(d.payload), (size_t)d.payload_length);
  }
  std::string root_;
  NetClient client_;
};

TEST_F(ConsoleTest, ChatNeedsAConnectionAndTwoSecondsBetweenLines) {
  console_line(&client_, "hello", 10.0);
  EXPECT_EQ(newest(), "Not connected to server");
  fake_connection();
  console_line(&client_, "  hello all  ", 10.0);
  ASSERT_EQ(client_.outgoing.queue.size(), 1u);
  EXPECT_EQ(queued_payload(0), "hello all");
  console_line(&client_, "again", 11.0);
  EXPECT_EQ(newest(), "No one likes a spammer");
  EXPECT_EQ(client_.outgoing.queue.size(), 1u);
  // The interface's chat line keeps the rule itself.
  console_line(&client_, "checked", 11.5, false);
  EXPECT_EQ(client_.outgoing.queue.size(), 2u);
  client_.outgoing.queue.pop_back();
  console_line(&client_, std::string(600, 'z').c_str(), 14.0);
  ASSERT_EQ(client_.outgoing.queue.size(), 2u);
  EXPECT_EQ(queued_payload(1), std::string(MAX_RELIABLE_PAYLOAD, 'z'));
}

TEST_F(ConsoleTest, CommandsAreWholeWordsAfterEitherSlash) {
  g_config.spy = 0;
  console_line(&client_, "/togglespy", 0);
  EXPECT_EQ(newest(), "Spy mode ON");
  console_line(&client_, "\\togglespy", 0);
  EXPECT_EQ(newest(), "Spy mode OFF");
  EXPECT_EQ(g_config.spy, 0);
  console_line(&client_, "/togglespyx", 0);
  EXPECT_EQ(newest(), "Unknown command 'togglespyx'");
  // A command never goes out as chat.
  fake_connection();
  console_line(&client_, "/togglespy", 0);
  EXPECT_TRUE(client_.outgoing.queue.empty());
  g_config.spy = 0;
}

TEST_F(ConsoleTest, NumbersAndTheirAnswers) {
  console_line(&client_, "/bbopt 7", 0);
  EXPECT_EQ(newest(), "Billboard optimization window is now 7");
  console_line(&client_, "/fov", 0);
  EXPECT_EQ(newest(), "Usage: fov <degrees>");
  console_line(&client_, "/fov 95", 0);
  EXPECT_EQ(newest(), "fov set");
  EXPECT_DOUBLE_EQ(g_config.fov, 95.0);
  console_line(&client_, "/demobackups 3", 0);
  EXPECT_EQ(newest(), "Now keeping 3 demo backups");
  console_line(&client_, "/camangle 10", 0);
  EXPECT_EQ(newest(), "Usage: camangle <yaw> <pitch>");
  static float yaw, pitch;
  g_console_hooks.aim_camera = [](float y, float p) { yaw = y, pitch = p; };
  console_line(&client_, "/camangle 90 -45", 0);
  EXPECT_EQ(newest(), "Camera aimed");
  EXPECT_NEAR(yaw, 1.5707963f, 1e-6);
  EXPECT_NEAR(pitch, -0.7853982f, 1e-6);
  g_console_hooks.aim_camera = nullptr;
  const long counts[7] = {5, 10, 0, 1, 0, 0, 2};
  EXPECT_EQ(frame_histogram_text(counts), "128=5 64=10 32=0 16=1 8=0 4=0 2=2 ");
}

TEST_F(ConsoleTest, NameDemoWithAndWithoutTheEndingAndWhileNotRecording) {
  console_line(&client_, "/namedemo race", 0);
  EXPECT_EQ(newest(), "Not currently recording a demo");
  static const char bytes[] = "x";
  g_demo_recorder.file = data_open_memory(bytes, 1);
  g_demo_recorder.practice = false;
  console_line(&client_, "/namedemo race", 0);
  EXPECT_EQ(newest(), "Demo name updated");
  EXPECT_EQ(g_demo_recorder.pending_name, "race.dvdemo");
  console_line(&client_, "/namedemo final.dvdemo", 0);
  EXPECT_EQ(g_demo_recorder.pending_name, "final.dvdemo");
  // 1016 characters are a name; one more is refused and the last name kept.
  console_line(&client_, ("/namedemo " + std::string(1016, 'n')).c_str(), 0);
  EXPECT_EQ(newest(), "Demo name updated");
  EXPECT_EQ(g_demo_recorder.pending_name, std::string(1016, 'n') + ".dvdemo");
  console_line(&client_, ("/namedemo " + std::string(1017, 'n')).c_str(), 0);
  EXPECT_EQ(newest(), "Name too long");
  EXPECT_EQ(g_demo_recorder.pending_name, std::string(1016, 'n') + ".dvdemo");
  g_demo_recorder.practice = true;
  console_line(&client_, "/namedemo lap", 0);
  EXPECT_EQ(newest(), "Not currently recording a demo");
  data_close(g_demo_recorder.file);
  g_demo_recorder = DemoRecorder();
}

TEST_F(ConsoleTest, SendFileRefusesPathsAndStopsWithoutAConnection) {
  console_line(&client_, "/sendfile ../etc/passwd", 0);
  EXPECT_EQ(newest(), "Filename may only contain alphanumeric characters, '_' or '.'\n");
  std::filesystem::create_directories(root_ + "/outgoing");
  FILE* f = fopen((root_ + "/outgoing/notes.txt").c_str(), "w");
  fputs("x", f);
  fclose(f);
  invalidate_catalogue();
  console_line(&client_, "/sendfile notes.txt", 0);
  EXPECT_EQ(newest(), "Not connected to server\n");
  console_line(&client_, "/listfiles", 0);
  EXPECT_EQ(newest(), "notes.txt");
}

TEST_F(ConsoleTest, SetupFileWrittenThenReadBackIdentical) {
  reset_config();
  g_bike_setup.stability = 42;
  g_bike_setup.fork_rebound_adjustment = 3;
  snprintf(g_bike_setup.name, sizeof g_bike_setup.name, "Setup Tester");
  std::string before;
  append_bike_setup_block(&before);
  console_line(&client_, "/writesetup sand_track.setup", 0);
  EXPECT_EQ(newest(), "Setup written");
  EXPECT_TRUE(std::filesystem::exists(root_ + "/setups/sand_track.setup"));
  g_bike_setup.stability = 90;
  g_bike_setup.fork_rebound_adjustment = -1;
  snprintf(g_bike_setup.name, sizeof g_bike_setup.name, "Someone Else");
  client_.client_info_changed = false;
  console_line(&client_, "/readsetup sand_track.setup", 0);
  EXPECT_EQ(newest(), "Setup updated");
  EXPECT_TRUE(client_.client_info_changed);
  std::string after;
  append_bike_setup_block(&after);
  EXPECT_EQ(after, before);
  console_line(&client_, "/readsetup missing.setup", 0);
  EXPECT_EQ(newest(), "Error reading setup");
  console_line(&client_, "/writesetup ../../outside", 0);
  EXPECT_EQ(newest(), "Filename may only contain alphanumeric characters, '_' or '.'");
  EXPECT_FALSE(std::filesystem::exists(root_ + "/../outside"));
  reset_config();
}

TEST_F(ConsoleTest, TrackInfoFile) {
  console_line(&client_, "/savetrackinfo", 0);
  EXPECT_EQ(newest(), "No track loaded");
  g_console_hooks.track_info = [](TrackInfo* info) {
    info->dir = "rabbithill";
    info->long_name = "Rabbit Hill";
    info->first_lap = 5;
    info->normal_lap = 4;
    info->gate_count = 6;
    for (int i = 0; i < 20; i++) info->digest[i] = (uint8_t)(i * 13);
    return true;
  };
  console_line(&client_, "/savetrackinfo", 0);
  g_console_hooks.track_info = nullptr;
  EXPECT_EQ(newest(), "Track info saved to " + root_ + "/rabbithill.trackinfo");
  std::string text;
  FILE* f = fopen((root_ + "/rabbithill.trackinfo").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char buffer[512];
  size_t n = fread(buffer, 1, sizeof buffer, f);
  fclose(f);
  text.assign(buffer, n);
  EXPECT_EQ(text,
            "dir=rabbithill\nlongname=Rabbit Hill\nfirstlap=5\nnormallap=4\ngatecount=6\n"
            "hash=000d1a2734414e5b6875828f9ca9b6c3d0ddeaf7\n");
  TrackInfo unnamed;
  unnamed.dir = "hills";
  EXPECT_NE(track_info_text(unnamed).find("longname=hills\n"), std::string::npos);
}

TEST_F(ConsoleTest, KeyframesListDeleteAndFly) {
  console_line(&client_, "/addkey", 0);
  EXPECT_EQ(newest(), "addkey is not available here");
  static double stamp = 0;
  g_console_hooks.camera_pose = [](Vec3* p, Quat* q, double* t) {
    *p = Vec3{(float)stamp * 10, 5, 0};
    *q = Quat{1, 0, 0, 0};
    *t = stamp;
    return true;
  };
  for (stamp = 0; stamp < 3; stamp += 1) console_line(&client_, "/addkey", 0);
  EXPECT_EQ(newest(), "Keyframe added");
  clear_message_lines();
  console_line(&client_, "/listkeys", 0);
  EXPECT_EQ(newest(), "pos = { 20.00, 5.00, 0.00 }, rot = { 1.00, 0.00, 0.00, 0.00 }, time = 2.00");
  EXPECT_EQ(std::string(message_line(2)), "pos = { 0.00, 5.00, 0.00 }, rot = { 1.00, 0.00, 0.00, 0.00 }, time = 0.00");
  Vec3 p;
  Quat q;
  ASSERT_TRUE(keyframe_pose(g_console.keyframes, 1.5, &p, &q));
  EXPECT_NEAR(p.x, 15.0f, 1e-4);
  ASSERT_TRUE(keyframe_pose(g_console.keyframes, 9.0, &p, &q));
  EXPECT_NEAR(p.x, 20.0f, 1e-4);
  console_line(&client_, "/rmkey", 0);
  EXPECT_EQ(newest(), "Keyframe deleted");
  EXPECT_EQ(g_console.keyframes.keys.size(), 2u);
  console_line(&client_, "/togglekeycam", 0);
  EXPECT_EQ(newest(), "Keycam mode ON");
  console_line(&client_, "/clearkeys", 0);
  EXPECT_EQ(newest(), "Keyframes cleared");
  EXPECT_FALSE(keyframe_pose(g_console.keyframes, 1.0, &p, &q));
  g_console_hooks.camera_pose = nullptr;
}

TEST(Keyframes, RotationsTakeTheShortWayAndStayUnit) {
  KeyframeTrack t;
  add_keyframe(&t, {Vec3{0, 0, 0}, Quat{1, 0, 0, 0}, 0.0});
  // 90 degrees about y, written with the opposite sign (the same rotation).
  add_keyframe(&t, {Vec3{0, 0, 0}, Quat{-0.70710678f, 0, -0.70710678f, 0}, 1.0});
  Vec3 p;
  Quat q;
  ASSERT_TRUE(keyframe_pose(t, 0.5, &p, &q));
  EXPECT_NEAR(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z, 1.0f, 1e-5);
  // Halfway is 45 degrees, not the long way round.
  EXPECT_NEAR(std::fabs(q.w), 0.9238795f, 1e-4);
  // A key at the time of another replaces it.
  add_keyframe(&t, {Vec3{3, 0, 0}, Quat{1, 0, 0, 0}, 1.0});
  EXPECT_EQ(t.keys.size(), 2u);
  EXPECT_EQ(t.keys[1].position.x, 3.0f);
}

TEST(Keyframes, ALookRotationLooksWhereItWasMadeToLookWithUpKeptUp) {
  const Vec3 directions[] = {{0, 0, -1}, {1, 0, 0}, {0, 0, 1}, {-3, 1, 2}, {0.2f, -0.9f, -0.1f}};
  for (Vec3 d : directions) {
    Quat q = look_rotation(d);
    EXPECT_NEAR(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z, 1.0f, 1e-5);
    Vec3 f = rotation_forward(q);
    float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    EXPECT_NEAR(f.x, d.x / len, 1e-5) << d.x << " " << d.y << " " << d.z;
    EXPECT_NEAR(f.y, d.y / len, 1e-5);
    EXPECT_NEAR(f.z, d.z / len, 1e-5);
    // No roll: the camera's right (+X turned) stays level.
    Vec3 right = {1 - 2 * (q.y * q.y + q.z * q.z), 2 * (q.x * q.y + q.w * q.z), 2 * (q.x * q.z - q.w * q.y)};
    EXPECT_NEAR(right.y, 0.0f, 1e-5);
  }
  Quat still = look_rotation({0, 0, 0});
  EXPECT_EQ(still.w, 1.0f);
  // Looking along +X is a quarter turn about Y (to the right of -Z is +X).
  Quat q = look_rotation({1, 0, 0});
  EXPECT_NEAR(std::fabs(q.y), 0.70710678f, 1e-5);
}

}  // namespace
