// PPM/PGM and the J formats: writers and readers against each other and
// against bytes written out by hand.
#include <cstring>

#include "platform/log.h"
#include "render_fixture.h"

namespace {

struct MemoryStream {
  explicit MemoryStream(const std::string& bytes) : bytes_(bytes), stream(data_open_memory(bytes_.data(), bytes_.size())) {}
  ~MemoryStream() { data_close(stream); }
  std::string bytes_;
  DataStream* stream;
};

bool ppm_from(const std::string& bytes, Image* image) {
  MemoryStream m(bytes);
  return read_ppm(m.stream, image);
}
bool pgm_from(const std::string& bytes, Image* image) {
  MemoryStream m(bytes);
  return read_pgm(m.stream, image);
}

using PpmFiles = DataDirTest;

TEST_F(PpmFiles, WriterAndReaderAgree) {
  Image image = make_image(5, 3, 3, 11);
  ASSERT_TRUE(write_ppm_file("@shot.ppm", image.pixels.data(), 5, 3));
  std::string bytes = read_file("shot.ppm");
  ASSERT_EQ(bytes.size(), strlen("P6\n5 3\n255\n") + 45);
  EXPECT_EQ(bytes.substr(0, 11), "P6\n5 3\n255\n");
  DataStream* s = data_open("@shot.ppm", "rb");
  ASSERT_NE(s, nullptr);
  Image read;
  EXPECT_TRUE(read_ppm(s, &read));
  data_close(s);
  EXPECT_EQ(read.width, 5);
  EXPECT_EQ(read.height, 3);
  EXPECT_EQ(read.channels, 3);
  EXPECT_EQ(read.levels, 1);
  EXPECT_EQ(read.pixels, image.pixels);
}

TEST(Ppm, TextFormWithCommentsAndScaledSamples) {
  Image image;
  ASSERT_TRUE(ppm_from("P3\n# made by hand\n2 # width\n1\n# max\n15\n0 15 7\n# between samples\n 15 0 1\n", &image));
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(image.height, 1);
  // v * 255 / 15, rounded.
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{0, 255, 119, 255, 0, 17}));
}

TEST(Ppm, BinaryFormsWithLargeMaximaUseTwoBytesPerSample) {
  std::string bytes = "P5\n2 1\n65535\n";
  bytes += std::string("\x80\x00\xff\xff", 4);
  Image image;
  ASSERT_TRUE(pgm_from(bytes, &image));
  EXPECT_EQ(image.channels, 1);
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{128, 255}));

  ASSERT_TRUE(pgm_from("P2 3 1 255 0 128 255", &image));
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{0, 128, 255}));
}

TEST(Ppm, MalformedHeadersAndDataFailWithTheirMessages) {
  struct Case {
    const char* bytes;
    bool grey;
    const char* error;
  } cases[] = {
      {"P7\n1 1\n255\n", false, "Can't parse PPM header"},
      {"P6\nx 2\n255\n", false, "Can't get PPM dimensions"},
      {"P6\n0 2\n255\n", false, "Can't get PPM dimensions"},
      {"P6\n2 2\n0\n", false, "Can't parse PPM header"},
      {"P6\n2 2\n70000\n", false, "Can't parse PPM header"},
      {"P6\n2 2\n255\n\x01\x02\x03", false, "PPM data ends at row 0 of 2"},
      {"P3\n1 1\n255\n1 2", false, "PPM data ends at row 0 of 1"},
      {"P3\n1 1\n100\n1 2 101", false, "Bad PPM sample in row 0 of 1"},
      {"P6\n100000 100000\n255\n", false, "PPM too large (100000x100000)"},
      {"P6\n2 2\n255\n", true, "Can't parse PGM header"},
      {"P5\n-3 2\n255\n", true, "Can't get PGM dimensions"},
  };
  for (const Case& c : cases) {
    Image image;
    EXPECT_FALSE(c.grey ? pgm_from(c.bytes, &image) : ppm_from(c.bytes, &image)) << c.bytes;
    EXPECT_STREQ(last_error(), c.error) << c.bytes;
  }
}

TEST_F(PpmFiles, ShadingReaderTakesEveryFormAsRgb) {
  // A J7 image read back as RGB drops its alpha.
  Image j7 = make_gradient(4, 3, 4);
  ASSERT_TRUE(write_j_image_file("@shade.j7", j7));
  DataStream* s = data_open("@shade.j7", "rb");
  ASSERT_NE(s, nullptr);
  Image rgb;
  ASSERT_TRUE(read_rgb_image(s, &rgb));
  data_close(s);
  ASSERT_EQ(rgb.channels, 3);
  for (int i = 0; i < 12; i++)
    for (int k = 0; k < 3; k++) EXPECT_EQ(rgb.pixels[3 * i + k], j7.pixels[4 * i + k]);

  MemoryStream grey("P2 2 1 255 7 9");
  ASSERT_TRUE(read_rgb_image(grey.stream, &rgb));
  EXPECT_EQ(rgb.pixels, (std::vector<uint8_t>{7, 7, 7, 9, 9, 9}));
  MemoryStream junk("GIF89a");
  EXPECT_FALSE(read_rgb_image(junk.stream, &rgb));
}

using JFiles = DataDirTest;

TEST_F(JFiles, RoundTripsOfNoiseAndGradients) {
  for (int channels : {3, 4})
    for (const Image& image : {make_image(37, 19, channels, 99), make_gradient(64, 33, channels)}) {
      ASSERT_TRUE(write_j_image_file("@pic.j", image));
      std::string bytes = read_file("pic.j");
      std::string header = "J" + std::to_string(channels + 3) + "\n" + std::to_string(image.width) + " " +
                           std::to_string(image.height) + "\n";
      EXPECT_EQ(bytes.substr(0, header.size()), header);
      EXPECT_EQ(bytes.size(), header.size() + image.pixels.size());
      DataStream* s = data_open("@pic.j", "rb");
      Image read;
      ASSERT_TRUE(read_j_image(s, &read));
      data_close(s);
      EXPECT_EQ(read.channels, channels);
      EXPECT_EQ(read.pixels, image.pixels);
    }
}

TEST_F(JFiles, RowOfOneColourIsTheColourThenZeros) {
  Image image;
  init_image(&image, 3, 1, 4);
  for (int x = 0; x < 3; x++) memcpy(&image.pixels[4 * x], "\x0a\x14\x1e\x28", 4);
  ASSERT_TRUE(write_j_image_file("@row.j7", image));
  std::string bytes = read_file("row.j7");
  EXPECT_EQ(bytes, std::string("J7\n3 1\n\x0a\x14\x1e\x28", 11) + std::string(8, '\0'));
}

TEST(JFormat, PredictorIsClampedGradient) {
  // 2 x 2 J6, every channel alike. Bytes: first pixel 0 + 200; right of it
  // left + 50 = 250; below it up - 100 = 100; last pixel: predicted
  // 250 + 100 - 200 = 150, byte 5 -> 155. A second image has prediction
  // 200 + 200 - 0 = 400, clamped to 255, byte 2 -> 1 (mod 256).
  auto decode = [](const std::string& data) {
    std::string bytes = "J6\n# comment\n2\n# another\n2\n" + data;
    DataStream* s = data_open_memory(bytes.data(), bytes.size());
    Image image;
    bool ok = read_j_image(s, &image);
    data_close(s);
    EXPECT_TRUE(ok);
    return image;
  };
  auto triple = [](int v) { return std::string(3, char(v)); };
  Image a = decode(triple(200) + triple(50) + triple(256 - 100) + triple(5));
  EXPECT_EQ(a.pixels, (std::vector<uint8_t>{200, 200, 200, 250, 250, 250, 100, 100, 100, 155, 155, 155}));
  Image b = decode(triple(0) + triple(200) + triple(200) + triple(2));
  EXPECT_EQ(b.pixels[9], 1);

  std::string truncated = "J7\n4 4\n" + std::string(20, '\1');
  DataStream* s = data_open_memory(truncated.data(), truncated.size());
  Image image;
  EXPECT_FALSE(read_j_image(s, &image));
  data_close(s);
  EXPECT_STREQ(last_error(), "J image data ends at row 1 of 4");
}

}  // namespace
