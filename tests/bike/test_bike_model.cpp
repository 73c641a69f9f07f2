#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bike/bike_model.h"
#include "core/message.h"

namespace {

const char* const TABLE_ORDER[BIKE_MODEL_COUNT] = {
    "450sxf(2016)", "crf450(2016)", "kx450f(2016)", "rmz450(2016)", "yz450f(2016)", "crf450(2013)",
    "kx450f(2013)", "rmz450(2013)", "yz450f(2013)", "450sxf(2013)", "350sxf(2013)", "crf450(2011)",
    "kx450f(2011)", "rmz450(2011)", "yz450f(2011)", "450sxf(2011)", "350sxf(2011)", "250sx(2012)",
    "cr250(2007)",  "kx250(2006)",  "rm250(2008)",  "yz250(2012)",  "crf250(2016)", "kx250f(2016)",
    "rmz250(2016)", "yz250f(2016)", "250sxf(2016)", "crf250(2013)", "kx250f(2013)", "rmz250(2013)",
    "yz250f(2013)", "250sxf(2013)", "crf250(2009)", "kx250f(2009)", "rmz250(2009)", "yz250f(2009)",
    "250sxf(2009)", "crf250(2008)", "kx250f(2008)", "rmz250(2008)", "yz250f(2008)", "cr125",
    "kx125",        "rm125",        "yz125",        "125sx",        "crf250(2007)", "kx250f(2007)",
    "rmz250(2007)", "yz250f(2007)", "yz250f_se(2006)", "rs50cr",    "rs50kx",       "rs50rm",
    "rs50yz"};

std::string last_message() {
  const char* m = message_line(0);
  return m ? m : "";
}

}  // namespace

TEST(BikeModelTable, HoldsEveryModelInTableOrderWithItsClass) {
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) EXPECT_STREQ(bike_model_at(i).name, TABLE_ORDER[i]) << i;
  EXPECT_STREQ(bike_model_at(find_bike_model("cr250(2007)")).engine_class, "250");
  EXPECT_STREQ(bike_model_at(find_bike_model("350sxf(2013)")).engine_class, "250f");
  EXPECT_STREQ(bike_model_at(find_bike_model("350sxf(2011)")).engine_class, "450f");
  EXPECT_STREQ(bike_model_at(find_bike_model("yz125")).engine_class, "125");
  EXPECT_STREQ(bike_model_at(find_bike_model("rs50yz")).engine_class, "50");
}

TEST(BikeModelTable, SharedGeometryAndTheRowsGivenForTheTellingModels) {
  const BikeModel& crf = bike_model_at(find_bike_model("crf450(2016)"));
  EXPECT_FLOAT_EQ(crf.front_axle.y, 1.09f);
  EXPECT_FLOAT_EQ(crf.rear_axle.z, 6.0f);
  EXPECT_FLOAT_EQ(crf.swingarm_travel, 0.530304f);
  EXPECT_FLOAT_EQ(crf.frame_mass, 4.735f);
  EXPECT_FLOAT_EQ(crf.primary_reduction, 2.739f);
  EXPECT_FLOAT_EQ(crf.countershaft_sprocket, 13);
  EXPECT_FLOAT_EQ(crf.rear_sprocket, 48);
  EXPECT_FLOAT_EQ(crf.fork_spring_rate[0], 376.303f);
  EXPECT_FLOAT_EQ(crf.shock_spring_rate[1], 5174.16f);
  EXPECT_FLOAT_EQ(crf.drivetrain_stiffness, 7500);
  EXPECT_FLOAT_EQ(crf.drivetrain_damping, 0.75f);
  // The 450 curve: closed throttle falls by one every second entry, full
  // throttle peaks near 7000 rpm and runs negative past the limiter.
  EXPECT_FLOAT_EQ(crf.closed_torque[0], 2);
  EXPECT_FLOAT_EQ(crf.closed_torque[2], 1);
  EXPECT_FLOAT_EQ(crf.closed_torque[49], -23);
  EXPECT_FLOAT_EQ(crf.full_torque[14], 34.1387f);
  EXPECT_FLOAT_EQ(crf.full_torque[24], 0);
  EXPECT_FLOAT_EQ(crf.full_torque[25], -10);
  EXPECT_FLOAT_EQ(crf.full_torque[49], -34);
  EXPECT_STREQ(crf.files[FILE_FRAME_MODEL], "@crf450v2013_frame.jm");
  EXPECT_STREQ(crf.files[FILE_BIKE_TEXTURE], "@crf450v2013.png");
  EXPECT_STREQ(crf.files[FILE_RIDER_SHAPE], "@generic_rider.shp");
  const BikeModel& cr125 = bike_model_at(find_bike_model("cr125"));
  EXPECT_FLOAT_EQ(cr125.full_torque[20], 15.9664f);
  EXPECT_FLOAT_EQ(cr125.full_torque[23], 2.10085f);
  EXPECT_FLOAT_EQ(cr125.full_torque[24], 0);
  const BikeModel& rs50 = bike_model_at(find_bike_model("rs50cr"));
  EXPECT_FLOAT_EQ(rs50.drivetrain_stiffness, 1200);
  EXPECT_FLOAT_EQ(rs50.drivetrain_damping, 1);
  float peak = 0;
  for (float v : rs50.full_torque) peak = v > peak ? v : peak;
  EXPECT_FLOAT_EQ(peak, 4.31226f);
}

TEST(BikeModelTable, SixthGearOnlyOnThe250sxf2013AndThe125And50Classes) {
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    const BikeModel& m = bike_model_at(i);
    bool six = strcmp(m.name, "250sxf(2013)") == 0 || strcmp(m.engine_class, "125") == 0 ||
               strcmp(m.engine_class, "50") == 0;
    EXPECT_EQ(bike_gear_count(m), six ? 6 : 5) << m.name;
  }
}

TEST(BikeModelTable, EveryDownshiftMarkLiesBelowWhereAnUpshiftLands) {
  // Otherwise the automatic box would shift straight back down.
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    const BikeModel& m = bike_model_at(i);
    for (int g = 0; g + 1 < bike_gear_count(m); g++)
      EXPECT_LT(m.engine_speed_marks[0], m.engine_speed_marks[1] * m.gear_ratio[g + 1] / m.gear_ratio[g])
          << m.name << " gear " << g + 1;
    // The upshift mark must be reachable at full throttle.
    EXPECT_GT(m.full_torque[(int)(m.engine_speed_marks[1] / 500) + 1], 0) << m.name;
  }
}

TEST(BikeModelLookup, ExactNamesAndTheFallbacks) {
  EXPECT_EQ(find_bike_model("crf450(2016)"), 1);
  EXPECT_EQ(find_bike_model("CRF450(2016)"), -1);

  clear_message_lines();
  EXPECT_EQ(find_bike_model_or_fallback("crf450(2016)"), 1);
  EXPECT_EQ(message_line(0), nullptr);  // a found name says nothing

  int used = find_bike_model_or_fallback("crf450(2016) ");
  EXPECT_STREQ(bike_model_at(used).name, "kx250f(2016)");
  EXPECT_EQ(last_message(), "bike info for 'crf450(2016) ' not found using 'kx250f(2016)' instead");

  EXPECT_STREQ(bike_model_at(find_bike_model_or_fallback("xr125")).name, "cr125");
  EXPECT_STREQ(bike_model_at(find_bike_model_or_fallback("")).name, "kx250f(2016)");
  EXPECT_STREQ(bike_model_at(find_bike_model_or_fallback(nullptr)).name, "kx250f(2016)");
  // Long names are cut to 20 characters in the message.
  find_bike_model_or_fallback("a_really_long_bike_name_indeed");
  EXPECT_EQ(last_message(), "bike info for 'a_really_long_bike_n' not found using 'kx250f(2016)' instead");
}
