// Streams over memory, plain files and their writes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "core/datafile.h"
#include "tests/core/data_test_util.h"

namespace {

TEST(MemoryStream, CharactersPeekAndEnd) {
  const unsigned char bytes[] = {'a', 0xff};
  DataStream* s = data_open_memory(bytes, 2);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(data_peekc(s), 'a');
  EXPECT_EQ(data_tell(s), 0);
  EXPECT_EQ(data_peekc(s), 'a');  // peeking twice keeps the same character
  EXPECT_EQ(data_getc(s), 'a');
  EXPECT_EQ(data_getc(s), 255);  // high bytes are not negative
  EXPECT_EQ(data_getc(s), -1);
  EXPECT_EQ(data_peekc(s), -1);
  EXPECT_EQ(data_tell(s), 2);
  data_close(s);
}

TEST(ReadLine, LastLineWithoutNewlineThenNothing) {
  const char text[] = "one\nabc";
  DataStream* s = data_open_memory(text, strlen(text));
  char line[16];
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "one\n");
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(data_gets(line, sizeof line, s), nullptr);
  data_close(s);
}

TEST(ReadLine, LongLinesSplitAtTheBufferAndKeepPeekedCharacter) {
  const char text[] = "abcdefg\n\nx";
  DataStream* s = data_open_memory(text, strlen(text));
  char line[4];
  EXPECT_EQ(data_peekc(s), 'a');
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "abc");
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "def");
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "g\n");
  EXPECT_EQ(data_peekc(s), '\n');
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "\n");
  ASSERT_NE(data_gets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, "x");
  // A buffer without room for a character reads nothing and consumes nothing.
  data_seek(s, 0);
  EXPECT_EQ(data_gets(line, 1, s), nullptr);
  EXPECT_EQ(line[0], '\0');
  EXPECT_EQ(data_gets(line, 0, s), nullptr);
  EXPECT_EQ(data_getc(s), 'a');
  data_close(s);
}

TEST(Seek, MemoryAndFileStreamsClearPushBack) {
  ScratchDirectory dir;
  std::string content;
  for (int i = 0; i < 40000; i++) content += (char)('a' + i % 26);
  write_file(dir / "big.txt", content);

  DataStream* m = data_open_memory(content.data(), content.size());
  DataStream* f = data_open((dir / "big.txt").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  for (DataStream* s : {m, f}) {
    EXPECT_EQ(data_peekc(s), 'a');
    ASSERT_TRUE(data_seek(s, 30001));
    EXPECT_EQ(data_tell(s), 30001);
    EXPECT_EQ(data_getc(s), content[30001]);
    ASSERT_TRUE(data_seek(s, 3));  // back, outside the current read window
    EXPECT_EQ(data_getc(s), 'd');
    EXPECT_EQ(data_tell(s), 4);
    EXPECT_FALSE(data_seek(s, -1));
    ASSERT_TRUE(data_seek(s, (long)content.size()));
    EXPECT_EQ(data_getc(s), -1);
  }
  EXPECT_FALSE(data_seek(m, (long)content.size() + 1));
  data_close(m);
  data_close(f);
}

TEST(ReadBlock, SpansWindowsAndStopsAtTheEnd) {
  ScratchDirectory dir;
  std::string content;
  for (int i = 0; i < 100000; i++) content += (char)(i * 7);
  write_file(dir / "blob", content);
  DataStream* s = data_open((dir / "blob").c_str(), "rb");
  ASSERT_NE(s, nullptr);
  std::string got(content.size() + 10, '\0');
  EXPECT_EQ(data_peekc(s), (unsigned char)content[0]);
  size_t first = data_read(s, got.data(), 10);
  size_t rest = data_read(s, got.data() + 10, got.size() - 10);
  EXPECT_EQ(first, 10u);
  EXPECT_EQ(rest, content.size() - 10);
  got.resize(content.size());
  EXPECT_EQ(got, content);
  EXPECT_EQ(data_tell(s), (long)content.size());
  data_close(s);
}

TEST(PlainWrite, CreatesMissingDirectoriesAndFormats) {
  ScratchDirectory dir;
  std::string path = dir / "a/b/c/out.txt";
  DataStream* s = data_open(path.c_str(), "wb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(data_putc(s, 'x'), 'x');
  EXPECT_GE(data_puts(s, "yz\n"), 0);
  EXPECT_EQ(data_printf(s, "%d:%.2f\n", 42, 1.5), 8);
  EXPECT_EQ(data_write(s, "end", 3), 3u);
  EXPECT_EQ(data_tell(s), 15);
  EXPECT_EQ(data_flush(s), 0);
  data_close(s);
  EXPECT_EQ(read_file(path), "xyz\n42:1.50\nend");
  // Read streams refuse writes; missing files do not open for reading.
  s = data_open(path.c_str(), "rb");
  EXPECT_EQ(data_putc(s, 'q'), -1);
  EXPECT_EQ(data_write(s, "q", 1), 0u);
  data_close(s);
  EXPECT_EQ(data_open((dir / "missing").c_str(), "rb"), nullptr);
  EXPECT_EQ(data_open(dir.path().c_str(), "rb"), nullptr);  // a directory is not a file
}

TEST(PlainWrite, UpdateModeReadsThenWritesInPlace) {
  ScratchDirectory dir;
  write_file(dir / "u.txt", "0123456789");
  DataStream* s = data_open((dir / "u.txt").c_str(), "r+b");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(data_getc(s), '0');
  EXPECT_EQ(data_peekc(s), '1');
  EXPECT_EQ(data_write(s, "AB", 2), 2u);  // lands where the peeked character was
  EXPECT_EQ(data_getc(s), '3');
  data_close(s);
  EXPECT_EQ(read_file(dir / "u.txt"), "0AB3456789");
}

TEST(Backup, TildeWriteKeepsTheSmallestFreeNumber) {
  ScratchDirectory dir;
  std::string path = dir / "results.txt";
  std::string old_contents;
  for (int i = 0; i < 200000; i++) old_contents += (char)(i % 251);  // several copy blocks
  write_file(path, old_contents);
  write_file(path + ".~1~", "first");
  write_file(path + ".~2~", "second");
  DataStream* s = data_open(path.c_str(), "~wb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(read_file(path), "");  // truncated by the write open
  data_puts(s, "new");
  data_close(s);
  EXPECT_EQ(read_file(path + ".~3~"), old_contents);
  EXPECT_EQ(read_file(path + ".~1~"), "first");
  EXPECT_EQ(read_file(path + ".~2~"), "second");
  EXPECT_EQ(read_file(path), "new");

  // A gap is filled first; a missing file makes no backup at all.
  std::filesystem::remove(path + ".~1~");
  data_close(data_open(path.c_str(), "~wb"));
  EXPECT_EQ(read_file(path + ".~1~"), "new");
  std::string fresh = dir / "fresh.txt";
  data_close(data_open(fresh.c_str(), "~wb"));
  EXPECT_TRUE(file_exists(fresh));
  EXPECT_FALSE(file_exists(fresh + ".~1~"));
}

}  // namespace
