// What the scan does as a stream operation: successive calls, the push-back
// slot, "%n" from the call's start, comments, integers, window boundaries.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "core/datafile.h"
#include "tests/core/data_test_util.h"

namespace {

DataStream* text_stream(const char* text) { return data_open_memory(text, strlen(text)); }

TEST(StreamScan, CountIncludesAPeekedCharacter) {
  DataStream* s = text_stream("xy z");
  EXPECT_EQ(data_peekc(s), 'x');
  char c = 0;
  int n = -1;
  EXPECT_EQ(data_scanf(s, "%c%n", &c, &n), 1);
  EXPECT_EQ(c, 'x');
  EXPECT_EQ(n, 1);
  // Nothing consumed yet in this call, even though the slot is empty.
  EXPECT_EQ(data_scanf(s, "%n", &n), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(data_scanf(s, "%*c %n", &n), 0);
  EXPECT_EQ(n, 2);
  data_close(s);
}

TEST(StreamScan, MismatchStaysInTheSlotForTheNextCall) {
  DataStream* s = text_stream("12ab 7");
  int value = 0, n = -1;
  char word[8];
  EXPECT_EQ(data_scanf(s, "%d", &value), 1);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(data_tell(s), 2);
  EXPECT_EQ(data_peekc(s), 'a');
  EXPECT_EQ(data_scanf(s, "%d", &value), 0);  // 'a' is read, refused and kept
  EXPECT_EQ(data_tell(s), 2);
  EXPECT_EQ(data_scanf(s, "%7s%n", word, &n), 1);
  EXPECT_STREQ(word, "ab");
  EXPECT_EQ(n, 2);
  EXPECT_EQ(data_scanf(s, "%d%n", &value, &n), 1);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(data_scanf(s, "%d", &value), -1);
  EXPECT_EQ(data_scanf(s, "%n", &n), 0);  // "%n" never fails, even at the end
  data_close(s);

  s = text_stream("[1 2]x");
  float a = 0, b = 0;
  EXPECT_EQ(data_scanf(s, " [%f %f ]", &a, &b), 2);
  EXPECT_EQ(b, 2.0f);
  EXPECT_EQ(data_scanf(s, "y"), 0);  // a literal mismatch keeps the character too
  EXPECT_EQ(data_getc(s), 'x');
  data_close(s);
}

// Fields that straddle the 16384-byte file buffer and the 1024-byte inflate
// output are read whole.
TEST(StreamScan, FieldsSpanReadWindows) {
  ScratchDirectory dir;
  std::string text;
  for (int i = 0; i < 20000; i++) text += std::to_string(i * 37 - 5000) + (i % 7 == 0 ? ".5\n" : ".5 ");
  write_file(dir / "numbers", text);
  write_file(dir / "packed.gz", gzip_of(text));
  for (const char* name : {"numbers", "packed"}) {
    DataStream* s = data_open((dir / name).c_str(), "rb");
    ASSERT_NE(s, nullptr);
    int bad = 0;
    for (int i = 0; i < 20000; i++) {
      double v = 0;
      if (data_scanf(s, "%lf", &v) != 1 || v != std::stod(std::to_string(i * 37 - 5000) + ".5")) bad++;
    }
    EXPECT_EQ(bad, 0) << name;
    EXPECT_EQ(data_read_int(s), INT_MIN);
    data_close(s);
  }
}

TEST(SkipComments, SkipsCommentLinesAndWhiteSpaceOnly) {
  DataStream* s = text_stream("# heading\n  # indented\n#\n\n\t42 # tail\n#last");
  data_skip_comments(s);
  EXPECT_EQ(data_read_int(s), 42);
  // A trailing comment, the next comment line, and one without a final
  // newline are all taken in one call.
  data_skip_comments(s);
  EXPECT_EQ(data_getc(s), -1);
  data_close(s);

  s = text_stream("  x # not a comment yet");
  data_skip_comments(s);
  EXPECT_EQ(data_getc(s), 'x');
  data_close(s);

  s = text_stream("#a\n#b\n7");
  data_skip_comments(s);
  EXPECT_EQ(data_tell(s), 6);
  EXPECT_EQ(data_read_int(s), 7);
  data_close(s);
}

TEST(ReadInt, MostNegativeWhenNoInteger) {
  DataStream* s = text_stream("  -17 +4 abc");
  EXPECT_EQ(data_read_int(s), -17);
  EXPECT_EQ(data_read_int(s), 4);
  EXPECT_EQ(data_read_int(s), INT_MIN);
  EXPECT_EQ(data_getc(s), 'a');  // the refused character is still there
  data_close(s);
  s = text_stream("");
  EXPECT_EQ(data_read_int(s), INT_MIN);
  data_close(s);
}

}  // namespace
