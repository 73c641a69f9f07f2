// Gzip streams: every optional header field, and damaged data.
#include <gtest/gtest.h>
#include <zlib.h>  // crc32 for the trailer

#include <string>
#include <vector>

#include "core/datafile.h"
#include "tests/core/data_test_util.h"

namespace {

struct Header {
  int flags = 0;
  std::string extra, name, comment;
};

// A gzip file assembled by hand so that each header field can be chosen.
std::string gzip_file(const std::string& text, const Header& h) {
  std::string out = {'\x1f', '\x8b', 8, (char)h.flags, 1, 2, 3, 4, 0, 3};
  if (h.flags & 4) {
    out += (char)(h.extra.size() & 0xff);
    out += (char)(h.extra.size() >> 8);
    out += h.extra;
  }
  if (h.flags & 8) out += h.name + '\0';
  if (h.flags & 16) out += h.comment + '\0';
  if (h.flags & 2) out += "\xab\xcd";
  out += deflate_text(text, false);
  uLong crc = crc32(0, (const Bytef*)text.data(), (uInt)text.size());
  for (int i = 0; i < 4; i++) out += (char)(crc >> (8 * i));
  for (int i = 0; i < 4; i++) out += (char)(text.size() >> (8 * i));
  return out;
}

std::string inflate_all(const std::string& file, bool* failed = nullptr) {
  DataStream* s = data_open_gzip_memory(file.data(), file.size());
  if (!s) return "<none>";
  std::string out = drain(s);
  if (failed) *failed = data_stream_failed(s);
  data_close(s);
  return out;
}

std::string sample_text() {
  std::string text;
  for (int i = 0; i < 5000; i++) text += "line " + std::to_string(i * i) + "\n";
  return text;
}

TEST(Gzip, EveryHeaderFieldIsSkipped) {
  std::string text = sample_text();
  Header all{2 | 4 | 8 | 16 | 1, "XY\x04\x00" "abcd", "terrain.hf", "made by a test"};
  for (int flags : {0, 1, 2, 4, 8, 16, 4 | 8, 8 | 16, 31}) {
    Header h = all;
    h.flags = flags;
    bool failed = true;
    EXPECT_EQ(inflate_all(gzip_file(text, h), &failed), text) << "flags " << flags;
    EXPECT_FALSE(failed);
  }
  // Fields longer than the first 16384-byte input block.
  Header long_fields{4 | 8, std::string(40000, 'e'), std::string(20000, 'n'), ""};
  EXPECT_EQ(inflate_all(gzip_file("payload", long_fields)), "payload");
}

TEST(Gzip, HeadersThatDoNotMatchFailTheOpen) {
  std::string good = gzip_file("x", Header{});
  std::string bad_magic = good;
  bad_magic[1] = '\x8c';
  std::string bad_method = good;
  bad_method[2] = 7;
  std::string bad_flags = good;
  bad_flags[3] = 32;
  for (const std::string& file : {bad_magic, bad_method, bad_flags, good.substr(0, 9), std::string()})
    EXPECT_EQ(inflate_all(file), "<none>");
  Header unterminated{8, "", "no end to this name", ""};
  std::string cut = gzip_file("x", unterminated);
  cut.resize(10 + 19);
  EXPECT_EQ(inflate_all(cut), "<none>");
}

TEST(Gzip, DamagedOrTruncatedDataEndsTheStreamAndIsReported) {
  std::string text = sample_text();
  std::string file = gzip_file(text, Header{});
  bool failed = false;
  std::string truncated = inflate_all(file.substr(0, file.size() / 2), &failed);
  EXPECT_TRUE(failed);
  EXPECT_LT(truncated.size(), text.size());
  EXPECT_EQ(truncated, text.substr(0, truncated.size()));

  std::string damaged = file;
  for (size_t i = 40; i < 60; i++) damaged[i] = (char)0xff;
  inflate_all(damaged, &failed);
  EXPECT_TRUE(failed);

  // The trailer is not checked: a wrong CRC still reads cleanly.
  std::string wrong_crc = file;
  wrong_crc[wrong_crc.size() - 6] ^= 0x55;
  EXPECT_EQ(inflate_all(wrong_crc, &failed), text);
  EXPECT_FALSE(failed);
}

TEST(Gzip, CompressedStreamsDoNotSeekButReadBlocksAndLines) {
  std::string text = sample_text();
  std::string file = gzip_file(text, Header{});
  DataStream* s = data_open_gzip_memory(file.data(), file.size());
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(data_seek(s, 0));
  char line[64];
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "line 0\n");
  std::string rest(text.size(), '\0');
  EXPECT_EQ(data_read(s, rest.data(), rest.size()), text.size() - 7);
  rest.resize(text.size() - 7);
  EXPECT_EQ(rest, text.substr(7));
  EXPECT_EQ(data_tell(s), (long)text.size());
  data_close(s);
}

}  // namespace
