// The game data check and the fixed model check.
#include <gtest/gtest.h>

#include <string>

#include "core/data_digests.h"
#include "core/datafile.h"
#include "tests/core/data_test_util.h"

namespace {

class DataCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = root / "home/";
    data = root / "data/";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(data);
    set_search_directories({home, data});
  }
  void TearDown() override { free_data_files(); }
  ScratchDirectory root;
  std::string home, data;
};

TEST_F(DataCheckTest, KnownDigest) {
  // The reference test vector for RIPEMD-160.
  EXPECT_EQ(ripemd160_hex("abc", 3), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
  EXPECT_EQ(ripemd160_hex("", 0), "9c1185a5c5e9fc54612808977ee8f548b2258d31");
}

TEST_F(DataCheckTest, GameDataCoversTheFirstMegabyteOnly) {
  std::string content(1048576 + 1000, '\0');
  for (size_t i = 0; i < content.size(); i++) content[i] = (char)(i * 31 + i / 977);
  write_file(data + "zzzz.saf", content);
  std::string expected = ripemd160_hex(content.data(), 1048576);
  EXPECT_EQ(game_data_digest((data + "zzzz.saf").c_str()), expected);
  EXPECT_TRUE(game_data_matches(expected.c_str()));
  // Bytes past the first megabyte do not count; a short file counts whole.
  content.back() ^= 1;
  write_file(data + "zzzz.saf", content);
  EXPECT_TRUE(game_data_matches(expected.c_str()));
  write_file(data + "zzzz.saf", "short");
  EXPECT_EQ(game_data_digest((data + "zzzz.saf").c_str()), ripemd160_hex("short", 5));
  EXPECT_FALSE(game_data_matches(expected.c_str()));
  EXPECT_EQ(game_data_digest((data + "missing").c_str()), "");
  // The held digest is the shipped data set's, not this file's.
  EXPECT_FALSE(check_game_data());
}

TEST_F(DataCheckTest, GameDataIsLookedForInEveryDirectoryButNotInArchives) {
  write_file(home + "zzzz.saf", "home copy");
  std::string digest = ripemd160_hex("data copy", 9);
  EXPECT_FALSE(game_data_matches(digest.c_str()));
  write_file(data + "zzzz.saf", "data copy");
  EXPECT_TRUE(game_data_matches(digest.c_str()));
  std::filesystem::remove(data + "zzzz.saf");
  write_archive((data + "pack.saf").c_str(), {{"zzzz.saf", {'d'}}});
  EXPECT_FALSE(game_data_matches(ripemd160_hex("d", 1).c_str()));
}

TEST_F(DataCheckTest, FixedModelsInOrderMissingOnesContributeNothing) {
  std::string all;
  for (int i = 0; i < 7; i++) {
    std::string body = "shape " + std::to_string(i) + "\n";
    if (i == 3) continue;  // the swingarm is missing
    all += body;
    if (i == 5) {
      write_archive((data + "models.saf").c_str(), {{FIXED_MODEL_FILES[i] + 1, {body.begin(), body.end()}}});
    } else {
      write_file(data + (FIXED_MODEL_FILES[i] + 1), body);
    }
  }
  std::string expected = ripemd160_hex(all.data(), all.size());
  EXPECT_EQ(fixed_models_digest(), expected);
  const char* held[] = {"0", expected.c_str(), "1"};
  EXPECT_TRUE(fixed_models_match(held, 3));
  EXPECT_FALSE(fixed_models_match(held, 1));
  // A home copy replaces the data copy.
  write_file(home + "front_wheel.shp", "changed");
  EXPECT_FALSE(fixed_models_match(held, 3));
}

}  // namespace
