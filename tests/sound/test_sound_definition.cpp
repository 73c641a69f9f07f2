// Choosing and reading engine sound definitions, and the shared sound tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/datafile.h"
#include "core/message.h"
#include "sound/sound.h"
#include "sound/sound_definition.h"
#include "tests/core/data_test_util.h"

namespace {

class SoundDefinitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_search_directories({dir.path()});
    clear_message_lines();
  }
  void TearDown() override {
    delete_all_bike_sounds();
    set_search_directories({});
  }
  void put(const std::string& name, const std::string& text) {
    write_file(dir / name, text);
    invalidate_catalogue();
  }
  // An 8-bit sample file of n bytes.
  void put_sample(const std::string& name, int n) {
    std::string bytes((size_t)n, '\0');
    for (int i = 0; i < n; i++) bytes[(size_t)i] = (char)(128 + (int)(100 * std::sin(i * 0.3)));
    put(name, bytes);
  }
  static EngineSoundDefinition read_text(const std::string& text, const char* engine_class = "450f") {
    DataStream* stream = data_open_memory(text.data(), text.size());
    EngineSoundDefinition d;
    read_engine_sound(stream, engine_class, &d);
    data_close(stream);
    return d;
  }
  static bool table_reads(const char* text, const char* name) {
    DataStream* s = data_open_memory(text, strlen(text));
    SoundTable* table = read_sound_table(s, name);
    data_close(s);
    delete table;
    return table != nullptr;
  }
  ScratchDirectory dir;
};

TEST_F(SoundDefinitionTest, SkinNameFallsBackAtEachDashThenToTheClassFile) {
  EXPECT_EQ(engine_sound_candidates("kx-red-blue.png"),
            (std::vector<std::string>{"@kx-red-blue.braap", "@kx-red.braap", "@kx.braap"}));
  // Only the file name is cut; a dash in the folder stays.
  EXPECT_EQ(engine_sound_candidates("@my-bikes/kx-red.png"),
            (std::vector<std::string>{"@my-bikes/kx-red.braap", "@my-bikes/kx.braap"}));

  std::string chosen;
  put("kx.braap", "minrpm 1234\n");
  EXPECT_EQ(choose_engine_sound("kx-red-blue.png", "450f", &chosen).min_rpm, 1234);
  EXPECT_EQ(chosen, "@kx.braap");
  put("kx-red.braap", "minrpm 2345\n");
  EXPECT_EQ(choose_engine_sound("kx-red-blue.png", "450f", &chosen).min_rpm, 2345);
  EXPECT_EQ(chosen, "@kx-red.braap");

  put("default250.braap", "minrpm 900\n");
  EXPECT_EQ(choose_engine_sound("yz-green.png", "250", &chosen).min_rpm, 900);
  EXPECT_EQ(chosen, "@default250.braap");
  // Nothing at all: the built-in set of the class.
  EngineSoundDefinition d = choose_engine_sound(nullptr, "250f", &chosen);
  EXPECT_EQ(chosen, "");
  EXPECT_STREQ(d.wave_set->name, "default_four_stroke");
  EXPECT_EQ(d.firings_per_rev, 0.5);
  EXPECT_EQ(choose_engine_sound(nullptr, "50").high_torque, 1.5);
}

TEST_F(SoundDefinitionTest, ReaderTakesEveryKeywordAndDefaultsLeftOutPipeNumbers) {
  EngineSoundDefinition d = read_text(
      "# a comment line\n"
      "  pipe 4.5 0.7   # only two numbers\n"
      "minrpm 1100\r\n"
      "lowtorque -1.5\n"
      "\thightorque 2.25\n"
      "bias 0.1 -0.2 0.3\n"
      "scale 1.5 0.5\n"
      "pipeline 9 9 9 9 9\n"  // not the keyword
      "minrpm nan\n"          // not a number: keeps 1100
      "whatever else\n");
  EXPECT_EQ(d.pipe.round_trip_ms, 4.5);
  EXPECT_EQ(d.pipe.engine_reflection, 0.7);
  EXPECT_EQ(d.pipe.open_reflection, -0.85);
  EXPECT_EQ(d.pipe.inlet_tap, 0);
  EXPECT_EQ(d.pipe.pickup_tap, 15);
  EXPECT_EQ(d.min_rpm, 1100);
  EXPECT_EQ(d.low_torque, -1.5);
  EXPECT_EQ(d.high_torque, 2.25);
  ASSERT_EQ(d.bias_count, 3);
  EXPECT_FLOAT_EQ(d.bias[1], -0.2f);
  ASSERT_EQ(d.scale_count, 2);
  EXPECT_FLOAT_EQ(d.scale[0], 1.5f);
  PipeSettings p = parse_pipe_numbers(" 2 0.5 -0.25 3 12");
  EXPECT_EQ(p.inlet_tap, 3);
  EXPECT_EQ(p.pickup_tap, 12);

  // No pipe line: the neutral pipe, the rest from the class.
  d = read_text("minrpm 800\n", "250");
  EXPECT_EQ(d.pipe.engine_reflection, 1.0);
  EXPECT_EQ(d.pipe.open_reflection, 0.0);
  EXPECT_EQ(d.high_torque, 3.5);
}

TEST_F(SoundDefinitionTest, CurvesKeepTheirFirstHundredNumbersAndLongLinesEndAtTheLimit) {
  std::string bias = "bias";
  for (int i = 0; i < 150; i++) bias += " " + std::to_string(i);
  EngineSoundDefinition d = read_text(bias + "\nscale 2 2\nscale\n");
  ASSERT_EQ(d.bias_count, 100);
  EXPECT_EQ(d.bias[99], 99);
  EXPECT_EQ(d.scale_count, 0);  // a bare keyword clears the curve

  // A line of exactly 1023 characters keeps the next line whole; a longer
  // one is cut there and its tail must not be read as a line of its own.
  EXPECT_EQ(read_text("#" + std::string(1022, 'x') + "\nminrpm 1500\n").min_rpm, 1500);
  d = read_text("#" + std::string(1022, 'x') + "pipe 9 9\nhightorque 3\n");
  EXPECT_EQ(d.pipe.round_trip_ms, 1.0);
  EXPECT_EQ(d.high_torque, 3);
  // A NUL byte inside a line ends that line only.
  EXPECT_EQ(read_text(std::string("scale 1 2\0 3\nminrpm 1700\n", 25)).min_rpm, 1700);
}

TEST_F(SoundDefinitionTest, BikesNamingOneTableShareOneCopyAndItsSamples) {
  put_sample("sounds/a.raw", 700);
  put_sample("sounds/b.raw", 500);
  put("sounds/t.table",
      "SOUNDTABLE 2 2\n4000 8000\n0 1\n"
      "0 170 -3 -1 165.4 @sounds/a.raw\n"
      "-1 165.4 @sounds/a.raw\n"
      "10 -1 82.7 @sounds/b.raw\n"
      "0 -1 82.7 @sounds/b.raw\n");
  put("kx.braap", "soundtable @sounds/t.table\n");
  put("yz.braap", "pipe 2\nsoundtable   @sounds/t.table   # same table\n");
  ASSERT_TRUE(create_bike_sound(3, "kx.png", "450f"));
  ASSERT_TRUE(create_bike_sound(7, "yz.png", "250"));
  EXPECT_EQ(loaded_sound_table_count(), 1);
  EXPECT_EQ(loaded_sound_sample_count(), 2);

  const SoundTable* table = choose_engine_sound("kx.png", "450f").sound_table;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table, choose_engine_sound("yz.png", "250").sound_table);
  const std::vector<SoundCell>& cells = table->cells;
  ASSERT_EQ(cells.size(), 4u);
  EXPECT_EQ(cells[0].samples, cells[1].samples);  // one sample file, loaded once
  EXPECT_NE(cells[0].samples, cells[2].samples);
  // Indices reduced modulo the whole period (165); an empty list stays empty.
  EXPECT_EQ(cells[0].index, (std::vector<int>{0, 5, 162}));
  EXPECT_TRUE(cells[1].index.empty());
  EXPECT_EQ(&sound_table_cell(*table, 5900, 0.4), &cells[0]);
  EXPECT_EQ(&sound_table_cell(*table, 20000, -5), &cells[2]);
}

TEST_F(SoundDefinitionTest, BrokenTablesAreDroppedWithTheirMessageShownOnce) {
  put_sample("s.raw", 300);
  put("bad.table", "SOUNDTABLE 2 1\n1000 2000\n0.5\n0 -1 100 @s.raw\n0 -1\n");
  put("kx.braap", "soundtable @bad.table\n");
  EXPECT_EQ(choose_engine_sound("kx.png", "450f").sound_table, nullptr);
  EXPECT_STREQ(message_line(0), "(1, 0) Bad remap entry");
  int shown = g_messages.total;
  choose_engine_sound("kx.png", "450f");
  EXPECT_EQ(g_messages.total, shown);

  put("yz.braap", "soundtable @missing.table\n");
  choose_engine_sound("yz.png", "250");
  EXPECT_STREQ(message_line(0), "Error reading '@missing.table'");
  put("nosample.table", "SOUNDTABLE 1 1\n1000\n0\n-1 100 @gone.raw\n");
  put("rm.braap", "soundtable @nosample.table\n");
  EXPECT_EQ(choose_engine_sound("rm.png", "250").sound_table, nullptr);
  EXPECT_STREQ(message_line(0), "Error reading '@gone.raw'");

  // A period under one sample or not a number; headers that cannot be.
  for (const char* text : {"SOUNDTABLE 1 1\n1000\n0\n-1 0.5 @s.raw\n", "SOUNDTABLE 1 1\n1000\n0\n-1 nan @s.raw\n"}) {
    EXPECT_FALSE(table_reads(text, "x")) << text;
    EXPECT_STREQ(message_line(0), "(0, 0) Bad remap entry");
  }
  for (const char* text : {"SOUNDTABEL 1 1\n", "SOUNDTABLE 0 4\n", "SOUNDTABLE 100000 100000\n", "SOUNDTABLE 1 1\n1000\n"}) {
    EXPECT_FALSE(table_reads(text, "@x.table")) << text;
    EXPECT_STREQ(message_line(0), "Error reading '@x.table'");
  }
}

// The example files in tests/sound/data, found by skin name over two search
// directories (the samples are made in the scratch one).
TEST_F(SoundDefinitionTest, ExampleFilesReadAsDocumented) {
  set_search_directories({dir.path(), std::string(DV_SOURCE_DIR) + "/tests/sound/data"});
  put_sample("sounds/kx_low.raw", 1323);   // 4 periods of 330.75
  put_sample("sounds/kx_high.raw", 1176);  // 8 periods of 147
  EngineSoundDefinition kx = choose_engine_sound("kx-factory-red.png", "450f");
  EXPECT_EQ(kx.bias_count, 8);
  ASSERT_NE(kx.sound_table, nullptr);
  EXPECT_EQ(kx.sound_table->cells[5].index, (std::vector<int>{0, 60}));
  EngineSoundDefinition rm = choose_engine_sound("rm.png", "125");
  EXPECT_EQ(rm.pipe.inlet_tap, 3);
  EXPECT_EQ(rm.min_rpm, 1400);  // the comment after the number is no part of it
}

}  // namespace
