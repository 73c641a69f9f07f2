// Search directories, the catalogue, archives and "@" names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/datafile.h"
#include "tests/core/data_test_util.h"

namespace {

std::vector<unsigned char> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::string> name_list() {
  std::vector<std::string> names;
  for (int i = 0; i < data_file_count(); i++) names.push_back(data_file_name(i));
  return names;
}

// Two search directories: home (index 0) and data (index 1).
class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.path().empty());
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

TEST_F(CatalogueTest, DirectoriesAreNormalised) {
  set_search_directories({"a\\\\b//c", "/x///y/"});
  EXPECT_STREQ(search_directory(0), "a/b/c/");
  EXPECT_STREQ(home_directory(), "a/b/c/");
  EXPECT_STREQ(search_directory(1), "/x/y/");
  EXPECT_EQ(search_directory(2), nullptr);
  EXPECT_EQ(search_directory(-1), nullptr);
}

TEST_F(CatalogueTest, DefaultDirectoriesFollowTheEnvironment) {
  free_data_files();
  setenv("XDG_DATA_HOME", (root / "xdg").c_str(), 1);
  setenv("DV_HOME", (root / "game").c_str(), 1);
  EXPECT_EQ(std::string(search_directory(0)), root / "xdg/Dirtvane/");
  EXPECT_EQ(std::string(search_directory(1)), root / "game/");
  EXPECT_TRUE(create_home_directory());
  EXPECT_TRUE(std::filesystem::is_directory(root / "xdg/Dirtvane"));

  // Without DV_HOME the program's own directory is the data directory.
  free_data_files();
  unsetenv("DV_HOME");
  std::string exe = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
  EXPECT_EQ(std::string(search_directory(1)), exe);
  unsetenv("XDG_DATA_HOME");
  free_data_files();
}

TEST_F(CatalogueTest, HomeCopyWinsAndNameListFoldsCase) {
  write_file(home + "tracks/mx1/desc", "home copy");
  write_file(data + "Tracks/MX1/DESC", "data copy");
  EXPECT_EQ(read_name("@tracks/mx1/desc"), "home copy");
  // A spelling that neither directory has on disk reaches the catalogue,
  // whose lowest priority (the home directory) wins.
  EXPECT_EQ(read_name("@TRACKS/mx1/Desc"), "home copy");
  EXPECT_EQ(read_name("@Tracks/MX1/DESC"), "data copy");  // exact path in data
  std::vector<std::string> names = name_list();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "tracks/mx1/desc");
  EXPECT_EQ(catalogue_entry_count(), 2);
}

TEST_F(CatalogueTest, SortIsCaseInsensitiveWithPrefixesFirst) {
  write_file(data + "b", "");
  write_file(data + "A", "");
  write_file(data + "ab", "");
  write_file(data + "a_", "");
  write_file(home + "B", "");
  std::vector<std::string> names = name_list();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "A");
  EXPECT_EQ(names[1], "a_");  // '_' sorts before 'b' once both are lower case
  EXPECT_EQ(names[2], "ab");
  EXPECT_EQ(names[3], "B");  // the home entry comes first in its run
  char line[256];
  describe_catalogue_entry(0, line, sizeof line);
  EXPECT_EQ(std::string(line), "A -> " + data + "A");
  char small[6];
  describe_catalogue_entry(0, small, sizeof small);
  EXPECT_STREQ(small, "A -> ");
  describe_catalogue_entry(99, line, sizeof line);
  EXPECT_STREQ(line, "");
}

TEST_F(CatalogueTest, OnlyTheGzipFormExists) {
  write_file(data + "sounds/engine.braap.gz", gzip_of("rpm 9000\n"));
  EXPECT_EQ(read_name("@sounds/engine.braap"), "rpm 9000\n");
  EXPECT_EQ(read_name("@SOUNDS/Engine.braap"), "rpm 9000\n");  // through the catalogue
  EXPECT_EQ(read_name((data + "sounds/engine.braap").c_str()), "rpm 9000\n");  // plain fallback
  // Writing never goes to the compressed file.
  data_close(data_open("@sounds/engine.braap", "wb"));
  EXPECT_EQ(read_name("@sounds/engine.braap"), "");
}

TEST_F(CatalogueTest, GzipPreferredOnlyWithStrictlyLowerPriority) {
  write_file(data + "DATA.TXT", "data plain");
  write_file(home + "Data.txt.gz", gzip_of("home gzip"));
  // Both reach the lookup under this spelling; the home ".gz" wins.
  EXPECT_EQ(read_name("@data.txt"), "home gzip");

  write_file(data + "pack.saf", "");
  write_file(data + "Other.TXT", "loose");
  write_file(data + "Other.TXT.gz", gzip_of("loose gzip"));
  invalidate_catalogue();
  // Same priority: the plain entry wins.
  EXPECT_EQ(read_name("@other.txt"), "loose");
}

TEST_F(CatalogueTest, ArchiveMembersAreServedInPlace) {
  ASSERT_TRUE(write_archive((data + "pack.saf").c_str(),
                            {{"bikes/one.txt", bytes_of("first member")},
                             {"bikes//two.txt", bytes_of("second")},
                             {"empty", {}},
                             {"z.gz", bytes_of(gzip_of("inflated member"))},
                             {"big", bytes_of(std::string(70000, 'q'))}}));
  EXPECT_EQ(read_name("@bikes/one.txt"), "first member");
  EXPECT_EQ(read_name("@BIKES/TWO.TXT"), "second");  // runs of "/" collapsed
  EXPECT_EQ(read_name("@bikes///one.txt"), "first member");
  EXPECT_EQ(read_name("@empty"), "");
  EXPECT_EQ(read_name("@z"), "inflated member");
  EXPECT_EQ(read_name("@bikes/three.txt"), "<none>");
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(data_read_all("@big", bytes));
  EXPECT_EQ(bytes, bytes_of(std::string(70000, 'q')));
  EXPECT_FALSE(data_read_all("@nothing", bytes));
  std::vector<std::string> names = name_list();
  EXPECT_EQ(names, (std::vector<std::string>{"big", "bikes/one.txt", "bikes/two.txt", "empty", "pack.saf", "z.gz"}));
}

TEST_F(CatalogueTest, ReadingPastAMemberReturnsTheEnd) {
  ASSERT_TRUE(write_archive((data + "pack.saf").c_str(),
                            {{"a", bytes_of("AAAA")}, {"b", bytes_of("BBBBBBBB")}}));
  DataStream* s = data_open("@a", "rb");
  ASSERT_NE(s, nullptr);
  char buffer[64];
  EXPECT_EQ(data_read(s, buffer, sizeof buffer), 4u);
  EXPECT_EQ(data_getc(s), -1);
  EXPECT_EQ(data_gets(buffer, sizeof buffer, s), nullptr);
  EXPECT_EQ(data_scanf(s, "%s", buffer), -1);
  EXPECT_TRUE(data_seek(s, 1));
  EXPECT_EQ(data_getc(s), 'A');
  EXPECT_TRUE(data_seek(s, 4));
  EXPECT_FALSE(data_seek(s, 5));  // beyond the member
  EXPECT_EQ(data_getc(s), -1);
  data_close(s);
}

TEST_F(CatalogueTest, FirstArchiveByNameWinsAndLooseFilesBeatArchives) {
  ASSERT_TRUE(write_archive((data + "b.saf").c_str(), {{"shared", bytes_of("from b")}, {"loose", bytes_of("b")}}));
  ASSERT_TRUE(write_archive((data + "A.SAF").c_str(), {{"SHARED", bytes_of("from A")}}));
  write_file(data + "Loose", "loose file");
  EXPECT_EQ(read_name("@shared"), "from A");
  EXPECT_EQ(read_name("@LOOSE"), "loose file");  // same name in b.saf, but loose files rank first
}

TEST_F(CatalogueTest, MalformedArchivesAreDroppedWhole) {
  // Each archive lists "good" before its fault; none of the members may appear.
  write_file(data + "1-no-end.saf", "4 good\nGOOD");
  write_file(data + "2-not-a-number.saf", "4 good\nx bad\n-\nGOODbad");
  write_file(data + "3-no-name.saf", "4 good\n4\n-\nGOODBAD!");
  write_file(data + "4-too-long.saf", "4 good\n" + std::string(1030, '1') + " x\n-\nGOOD");
  write_file(data + "5-truncated.saf", "4 good\n100 big\n-\nGOODshort");
  write_file(data + "6-unterminated.saf", "4 good\n-");
  write_file(data + "7-ok.saf", "2 fine\n-\nok");
  EXPECT_EQ(read_name("@good"), "<none>");
  EXPECT_EQ(read_name("@big"), "<none>");
  EXPECT_EQ(read_name("@fine"), "ok");
  int members = 0;
  for (int i = 0; i < catalogue_entry_count(); i++) {
    char line[512];
    describe_catalogue_entry(i, line, sizeof line);
    if (strstr(line, ".saf") && !strstr(line, ".saf ->")) members++;
  }
  EXPECT_EQ(members, 1);
}

TEST_F(CatalogueTest, HeaderParserReportsOffsets) {
  std::string archive = "3 abc\n0 none\n10\tten\n-\nABC0123456789";
  std::vector<ArchiveMember> members;
  ASSERT_TRUE(parse_archive_header(archive.data(), archive.size(), members));
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].name, "abc");
  EXPECT_EQ(members[0].offset, 22);  // the header's bytes, "-\n" included
  EXPECT_EQ(members[1].offset, 25);
  EXPECT_EQ(members[1].length, 0);
  EXPECT_EQ(members[2].name, "ten");
  EXPECT_EQ(members[2].offset, 25);
  EXPECT_EQ(members[2].length, 10);
  EXPECT_FALSE(parse_archive_header(archive.data(), archive.size() - 1, members));
  EXPECT_TRUE(members.empty());
  std::string huge = "99999999999999999999999 x\n-\n";
  EXPECT_FALSE(parse_archive_header(huge.data(), huge.size(), members));
}

TEST_F(CatalogueTest, WritesGoToHomeAndNamesStayInside) {
  DataStream* s = data_open("@demos/ride.dvdemo", "wb");
  ASSERT_NE(s, nullptr);
  data_puts(s, "demo");
  data_close(s);
  EXPECT_EQ(read_file(home + "demos/ride.dvdemo"), "demo");
  write_file(root / "secret", "no");
  EXPECT_EQ(data_open("@../secret", "rb"), nullptr);
  EXPECT_EQ(data_open("@demos/../../secret", "rb"), nullptr);
  EXPECT_EQ(data_open("@..\\secret", "wb"), nullptr);
  EXPECT_EQ(data_open("@", "rb"), nullptr);
  write_file(home + "demos/kept.dvdemo", "old");
  EXPECT_TRUE(data_rename("@demos/ride.dvdemo", "@demos/kept.dvdemo"));  // replaces the target
  EXPECT_EQ(read_file(home + "demos/kept.dvdemo"), "demo");
  EXPECT_FALSE(data_rename("@demos/ride.dvdemo", "@demos/kept.dvdemo"));
}

TEST_F(CatalogueTest, OpenHomeFolderStartsTheBrowserDetached) {
  std::string bin = root / "bin";
  std::string marker = root / "opened";
  write_file(bin + "/xdg-open", "#!/bin/sh\nsleep 1\necho \"$1\" > " + marker + "\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  std::string saved_path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);
  set_search_directories({home + "fresh/", data});
  auto started = std::chrono::steady_clock::now();
  bool opened = open_home_folder();
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  setenv("PATH", saved_path.c_str(), 1);
  ASSERT_TRUE(opened);
  EXPECT_LT(waited, 0.9);  // the script sleeps 1 s: we must not have waited for it
  EXPECT_TRUE(std::filesystem::is_directory(home + "fresh"));
  // The script's redirection creates the file before echo fills it: wait
  // for the whole line, not for the file.
  for (int i = 0; i < 100; i++) {
    const std::string text = read_file(marker);
    if (!text.empty() && text.back() == '\n') break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(read_file(marker), home + "fresh\n");  // without the trailing "/"

  setenv("PATH", (root / "nowhere").c_str(), 1);
  EXPECT_FALSE(open_home_folder());
  setenv("PATH", saved_path.c_str(), 1);
}

}  // namespace
