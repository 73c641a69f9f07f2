// A file sent from "@outgoing/" through the game's client to our server on
// loopback: the client's clock runs a quarter second per service, so the
// parts flow as fast as the acknowledgments come back.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "tests/net/client_fixture.h"
#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tools/race_server/server.h"

namespace {

class UploadLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    build_fixture_track(data_, "rabbithill", true);
    std::string bytes;
    uint32_t x = 12345;
    for (int i = 0; i < 100 * 1024; i++) {
      x = x * 1103515245u + 12345u;
      bytes += (char)(x >> 24);
    }
    content_ = bytes;
    data_.write("outgoing/lap_video.bin", content_);
  }
  void TearDown() override {
    reset_connection(&client_);
    stop_server(&server_);
    purge_textures(true);
  }

  void start(long max_bytes) {
    ServerConfig config;
    config.quiet = true;
    config.port = 0;
    config.tracks = {"rabbithill"};
    config.upload_max_bytes = max_bytes;
    ASSERT_TRUE(start_server(&server_, config, platform_seconds()));
    memcpy(game_.digest, server_.track.digest, TRACK_DIGEST_BYTES);
    client_.hooks = game_.hooks();
    init_net_client(&client_);
    client_.own_info.model = "cr250";
    client_.own_info.name = "Uploader";
    net_connect(&client_, ("127.0.0.1:" + std::to_string(server_port(server_))).c_str());
  }
  // Server in real time, client a quarter second per round.
  template <typename Done>
  bool run(int rounds, Done done) {
    for (int i = 0; i < rounds && !done(); i++) {
      fake_now_ += 0.25;
      net_service(&client_, fake_now_);
      wait_readable(server_.socket, 0.002);
      server_tick(&server_, platform_seconds());
      if (client_.socket >= 0) wait_readable(client_.socket, 0.002);
      game_.tick++;
    }
    return done();
  }

  ScratchData data_;
  RaceServer server_;
  TestGame game_;
  NetClient client_;
  double fake_now_ = 1000.0;
  std::string content_;
};

TEST_F(UploadLoopback, A100KilobyteFileArrivesByteIdentical) {
  start(1 << 20);
  ASSERT_TRUE(run(200, [&] { return client_.state == NET_RACING; }));
  start_upload(&client_, "lap_video.bin");
  EXPECT_TRUE(game_.printed_line("Sending file\n"));
  const std::string target = data_.path("uploads/lap_video.bin");
  ASSERT_TRUE(run(6000, [&] { return std::filesystem::exists(target); }));
  EXPECT_EQ(data_.read("uploads/lap_video.bin"), content_);
  EXPECT_EQ(client_.upload.file, nullptr);
}

TEST_F(UploadLoopback, TheServerRefusesAFileOverItsLimit) {
  start(50 * 1024);
  ASSERT_TRUE(run(200, [&] { return client_.state == NET_RACING; }));
  start_upload(&client_, "lap_video.bin");
  ASSERT_TRUE(run(3000, [&] { return game_.printed_line("Send file denied\n"); }));
  EXPECT_EQ(client_.upload.file, nullptr);
  run(20, [] { return false; });
  EXPECT_FALSE(std::filesystem::exists(data_.path("uploads/lap_video.bin")));
  for (const auto& entry : std::filesystem::directory_iterator(data_.path("uploads")))
    ADD_FAILURE() << "left behind: " << entry.path();
}

}  // namespace
