// The shipped data set, as the builder wrote it into the game directory
// (the "dataset" fixture runs tools/dvdata first): every file loads through
// the game's own readers without a message, the tracks are complete and
// timed, and the digests the program holds are those of what was built.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/part_shapes.h"
#include "core/data_digests.h"
#include "core/datafile.h"
#include "core/message.h"
#include "race/race.h"
#include "render/font.h"
#include "render/image.h"
#include "render/rider_skeleton.h"
#include "render/texture.h"
#if __has_include("render/model.h")
#include "render/model.h"
#define DV_HAVE_MODEL_READER 1
#endif
#include "sound/sound_definition.h"
#include "tools/ride/ride.h"
#include "track/assets.h"
#include "track/timing_gates.h"
#include "track/track.h"

namespace {

bool ends_with(const std::string& s, const char* tail) {
  size_t n = strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::string messages() {
  std::string text;
  for (int i = 0; const char* line = message_line(i); i++) text += std::string(line) + "\n";
  return text;
}

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_search_directories({DV_GAME_DIR});
    invalidate_catalogue();
    clear_message_lines();
  }
  void TearDown() override {
    purge_textures(true);
    free_data_files();
  }
  std::vector<std::string> names_ending(const char* tail) {
    std::vector<std::string> out;
    for (int i = 0; i < data_file_count(); i++)
      if (ends_with(data_file_name(i), tail)) out.push_back(data_file_name(i));
    return out;
  }
};

TEST_F(DataSetTest, HeldDigestsAreThoseOfTheBuiltSet) {
  std::string path = std::string(DV_GAME_DIR) + "/zzzz.saf";
  EXPECT_EQ(game_data_digest(path.c_str()), GAME_DATA_DIGEST);
  EXPECT_TRUE(check_game_data());
  EXPECT_EQ(fixed_models_digest(), FIXED_MODEL_DIGESTS[0]);
  EXPECT_TRUE(check_fixed_models());
  // The fixed shapes come from the checked archive, not from loose copies.
  for (const char* name : FIXED_MODEL_FILES) {
    int entry = find_catalogue_entry(name + 1);
    ASSERT_GE(entry, 0) << name;
    char where[1024];
    describe_catalogue_entry(entry, where, sizeof where);
    EXPECT_NE(strstr(where, "zzzz.saf"), nullptr) << where;
  }
}

TEST_F(DataSetTest, EveryTrackLoadsCompleteWithoutMessages) {
  std::vector<std::string> tracks;
  for (const std::string& name : names_ending("/terrain.hf")) tracks.push_back(name.substr(0, name.size() - 11));
  ASSERT_FALSE(tracks.empty());
  EXPECT_NE(std::find(tracks.begin(), tracks.end(), "rabbithill"), tracks.end());
  for (const std::string& name : tracks) {
    SCOPED_TRACE(name);
    clear_message_lines();
    auto track = std::make_unique<LoadedTrack>();
    track->name = name;
    ASSERT_TRUE(load_track(track.get(), TrackLoadSettings{GROUND_DIRECT, false, 1}));
    EXPECT_EQ(g_messages.total, 0) << messages();
    const Terrain& t = track->terrain;
    EXPECT_GE(t.tile_count, 4);
    for (int i = 0; i < t.tile_count; i++) EXPECT_NE(t.tiles[i].texture, nullptr) << t.tiles[i].name;
    EXPECT_FALSE(t.shading.empty());
    EXPECT_TRUE(track->gates.timed);
    EXPECT_GE((int)track->gates.starting_gates.size(), 20);
    EXPECT_GE((int)track->objects.cameras.size(), 8);
    EXPECT_NE(track->map_texture, nullptr);
    for (int f = 0; f < SKY_FACES; f++) EXPECT_NE(track->lighting.sky[f], nullptr);
    EXPECT_GT(track->lighting.fog_density, 0);
    EXPECT_FALSE(track->lighting.flares.empty());
    // Every billboard outside the run-time marker pool has its picture.
    const int pool = track->objects.billboard_pool_first;
    ASSERT_GE(pool, 0);
    ASSERT_GT((int)track->objects.billboards.size(), RUNTIME_BILLBOARD_POOL + 100);
    for (int i = 0; i < (int)track->objects.billboards.size(); i++) {
      if (i >= pool && i < pool + RUNTIME_BILLBOARD_POOL) continue;
      const Billboard& b = track->objects.billboards[(size_t)i];
      if (b.texture == nullptr) {
        ADD_FAILURE() << "untextured billboard at " << b.position.x << " " << b.position.z;
        break;
      }
    }
    EXPECT_FALSE(track->objects.statues.empty());
    EXPECT_FALSE(track->objects.decals.empty());
    for (const Decal& d : track->objects.decals) EXPECT_NE(d.texture, nullptr);
    EXPECT_TRUE(track->objects.flagger_set.present);
    // The display name is the first line of "desc".
    std::vector<unsigned char> desc;
    ASSERT_TRUE(data_read_all(("@" + name + "/desc").c_str(), desc));
    EXPECT_GT(desc.size(), 2u);
    deallocate_track(track.get());
  }
}

TEST_F(DataSetTest, StartingGatesAndStartPlacesStandOnTheGround) {
  for (const std::string& name : names_ending("/timing_gates")) {
    const std::string track_name = name.substr(0, name.size() - 13);
    SCOPED_TRACE(track_name);
    auto track = std::make_unique<LoadedTrack>();
    track->name = track_name;
    ASSERT_TRUE(load_track(track.get(), TrackLoadSettings{GROUND_DIRECT, false, 0}));
    const Terrain& t = track->terrain;
    const std::vector<Statue>& objects = track->objects.start_gates;
    ASSERT_EQ(objects.size(), track->gates.starting_gates.size());
    ASSERT_FALSE(objects.empty());
    for (size_t i = 0; i < objects.size(); i++) {
      const Vec3 p = objects[i].position;
      EXPECT_NEAR(p.y, height_at(t, p.x, p.z), 0.5f) << "gate object " << i;
      const Vec3 g = track->gates.starting_gates[i].position;
      EXPECT_NEAR(g.y, height_at(t, g.x, g.z), 0.5f) << "gate " << i;
    }
    // Every slot of a full lineup, rows behind the gates included.
    for (int slot = 0; slot < MAX_BIKES; slot++) {
      StartPlace place = starting_place(*track, slot);
      EXPECT_NEAR(place.position.y, height_at(t, place.position.x, place.position.z), 0.01f) << "slot " << slot;
      const float ground_ahead = height_at(t, place.position.x - 3 * std::sin(place.heading),
                                           place.position.z - 3 * std::cos(place.heading));
      EXPECT_LT(std::fabs(ground_ahead - place.position.y), 1.0f) << "slot " << slot << " starts on a slope";
    }
    deallocate_track(track.get());
  }
}

TEST_F(DataSetTest, RabbitHillIsTheDefaultTrack) {
  auto track = std::make_unique<LoadedTrack>();
  track->name = "rabbithill";
  ASSERT_TRUE(load_track(track.get(), TrackLoadSettings{GROUND_DIRECT, false, 0}));
  std::vector<unsigned char> desc;
  ASSERT_TRUE(data_read_all("@rabbithill/desc", desc));
  EXPECT_EQ(std::string(desc.begin(), desc.begin() + 12), "Rabbit Hill\n");
  const TimingGates& g = track->gates;
  EXPECT_EQ((int)g.starting_gates.size(), 40);
  // The first lap starts at the gates and joins the normal lap: it ends on
  // the same finish line.
  EXPECT_EQ(g.sequence[(size_t)g.first_lap - 1], g.sequence.back());
  EXPECT_NE(g.sequence[0], g.sequence[(size_t)g.first_lap]);
  // Gates stand on the ground, level enough that a bike does not roll.
  for (const StartingGate& s : g.starting_gates)
    EXPECT_NEAR(s.position.y, height_at(track->terrain, s.position.x, s.position.z), 0.05f);
  float h0 = g.starting_gates.front().position.y, h1 = g.starting_gates.back().position.y;
  EXPECT_NEAR(h0, h1, 0.5f);
  deallocate_track(track.get());
}

TEST_F(DataSetTest, EveryPictureReadsWithoutMessages) {
  int count = 0;
  for (int i = 0; i < data_file_count(); i++) {
    std::string name = data_file_name(i);
    std::string at = "@" + name;
    clear_message_lines();
    if (ends_with(name, ".png")) {
      Image image;
      std::string info;
      EXPECT_TRUE(read_png_file(at.c_str(), &image, &info)) << name;
      // Textures are powers of two; the heights are one more than that.
      if (!ends_with(name, "/terrain.png")) {
        EXPECT_TRUE(is_power_of_two(image.width) && is_power_of_two(image.height)) << name;
      }
    } else if (ends_with(name, ".ppm")) {
      PixelImage image;
      EXPECT_EQ(read_colour_image_file(at.c_str(), &image), IMAGE_FILE_OK) << name;
    } else if (ends_with(name, ".pgm")) {
      PixelImage image;
      EXPECT_EQ(read_grey_image_file(at.c_str(), &image), IMAGE_FILE_OK) << name;
    } else {
      continue;
    }
    count++;
    EXPECT_EQ(g_messages.total, 0) << name << ": " << messages();
  }
  EXPECT_GT(count, 100);
}

TEST_F(DataSetTest, EveryCollisionShapeParsesAndFits) {
  std::vector<std::string> shapes = names_ending(".shp");
  EXPECT_GE(shapes.size(), 7u);
  for (const std::string& name : shapes) {
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(data_read_all(("@" + name).c_str(), bytes)) << name;
    ShapeMesh mesh;
    char why[128] = "";
    ASSERT_TRUE(parse_shape_mesh((const char*)bytes.data(), bytes.size(), &mesh, why, sizeof why)) << name << ": " << why;
    CollisionShape shape;
    EXPECT_TRUE(fit_collision_shape(mesh, &shape)) << name;
  }
  // The bike takes all five of its part shapes from the data set.
  PartShapes parts;
  build_default_part_shapes(&parts);
  EXPECT_EQ(load_part_shapes(&parts), 5);
  EXPECT_EQ(g_messages.total, 0) << messages();
}

TEST_F(DataSetTest, EveryEngineClassHasItsSoundDefinition) {
  for (const char* engine : {"50", "125", "250", "250f", "450f"}) {
    SCOPED_TRACE(engine);
    std::string chosen;
    EngineSoundDefinition d = choose_engine_sound(nullptr, engine, &chosen);
    EXPECT_EQ(chosen, default_engine_sound_file(engine));
    // Every file gives its pipe a resonance (the neutral start has none).
    EXPECT_LT(d.pipe.open_reflection, 0.0);
    EXPECT_GT(d.high_torque, d.low_torque);
    bool has_table = strcmp(engine, "450f") == 0 || strcmp(engine, "125") == 0;
    ASSERT_EQ(d.sound_table != nullptr, has_table);
    if (!has_table) continue;
    const SoundTable& t = *d.sound_table;
    EXPECT_GE(t.rows * t.columns, 12);
    for (const SoundCell& cell : t.cells) {
      // Whole periods, and a sound that is not silence.
      ASSERT_GT(cell.sample_count, 0);
      double periods = cell.sample_count / cell.period;
      EXPECT_NEAR(periods, std::round(periods), 0.01);
      float peak = 0;
      for (int i = 0; i < cell.sample_count; i++) peak = std::max(peak, std::fabs(cell.samples[i]));
      EXPECT_GT(peak, 0.2f);
    }
  }
  EXPECT_EQ(g_messages.total, 0) << messages();
  free_sound_tables();
}

TEST_F(DataSetTest, SharedAssetsComeFromArchivesSomeOfThemCompressed) {
  int archived = 0, compressed = 0;
  for (int i = 0; i < catalogue_entry_count(); i++) {
    char where[1024];
    describe_catalogue_entry(i, where, sizeof where);
    if (strstr(where, ".saf") && !strstr(where, ".saf ->")) archived++;
    if (strstr(where, ".gz ->") && strstr(where, ".saf")) compressed++;
  }
  EXPECT_GT(archived, 500);
  EXPECT_GT(compressed, 10);
  // The start-up pictures are found by their "@" names.
  for (const char* name : {"@tach.png", "@shifter.png", "@pitboard.png", "@title.png"}) {
    Image image;
    std::string info;
    EXPECT_TRUE(read_png_file(name, &image, &info)) << name;
  }
}

TEST_F(DataSetTest, BothFontsReadBackWithEveryPrintableCharacter) {
  for (const char* name : {FONT_FILE_TEXT, FONT_FILE_MONO}) {
    SCOPED_TRACE(name);
    Font font;
    ASSERT_TRUE(read_font_file(name, &font));
    EXPECT_GT(font.line_height, font.pixel_size / 2);
    for (uint32_t c = 33; c < 127; c++) {
      const FontGlyph* g = find_glyph(font, c);
      ASSERT_NE(g, nullptr) << c;
      EXPECT_GT(g->width, 0);
      EXPECT_GT(g->advance, 0);
    }
    EXPECT_NE(find_glyph(font, 0xe9), nullptr);  // Latin-1 letters too
    // The atlas holds real coverage, not an empty picture.
    int solid = 0;
    for (uint8_t v : font.atlas.pixels) solid += v > 200;
    EXPECT_GT(solid, 1000);
  }
  // The fixed-pitch face advances every glyph alike.
  Font mono;
  ASSERT_TRUE(read_font_file(FONT_FILE_MONO, &mono));
  EXPECT_EQ(find_glyph(mono, 'i')->advance, find_glyph(mono, 'W')->advance);
  EXPECT_EQ(g_messages.total, 0) << messages();
}

TEST_F(DataSetTest, ScriptedBikeRidesTheStartStraightAndFirstJumps) {
  // From the middle gate of Rabbit Hill at a steady 38 mph: the start
  // straight, turn one, the first table and the double, without a crash.
  static Terrain terrain;
  RideScript script;
  const char text[] = "bike crf450(2016)\nduration 26\nfollow 38\n";
  char error[256] = "";
  ASSERT_TRUE(parse_ride_script(text, sizeof text - 1, &script, error, sizeof error)) << error;
  ASSERT_TRUE(load_ride_track("rabbithill", &terrain, &script, error, sizeof error)) << error;
  Ride ride;
  ASSERT_TRUE(start_ride(&ride, terrain, script, error, sizeof error)) << error;
  double highest_air = 0;
  while (step_ride(&ride)) {
    ASSERT_EQ(ride.bike->crash_timer, 0) << "crashed at tick " << ride.tick;
    DVec p = body_position(*ride.bike, BODY_FRAME);
    highest_air = std::max(highest_air, p.y - height_at(terrain, (float)p.x, (float)p.z));
  }
  DVec p = body_position(*ride.bike, BODY_FRAME);
  EXPECT_LT(p.z, 1250) << "did not get past the double";
  EXPECT_GT(bike_speed(*ride.bike), 20 * FEET_PER_SECOND_PER_MPH);
  EXPECT_GT(highest_air, 4.0) << "never left the ground";
  end_ride(&ride);
  free_terrain(&terrain);
}

TEST_F(DataSetTest, ScriptedBikeRidesAFullLapOfRabbitHillWithoutACrash) {
  // The follower on its planned speeds, from the middle gate through every
  // gate of the first lap in order (entering each one's half-disc, as the
  // race's timing counts them), jumping what it meets, never crashing.
  static Terrain terrain;
  RideScript script;
  const char text[] = "bike crf450(2016)\nduration 260\nfollow 38\n";
  char error[256] = "";
  ASSERT_TRUE(parse_ride_script(text, sizeof text - 1, &script, error, sizeof error)) << error;
  ASSERT_TRUE(load_ride_track("rabbithill", &terrain, &script, error, sizeof error)) << error;
  TimingGates gates;
  clear_timing_gates(&gates);
  ASSERT_TRUE(read_timing_gates_file(&gates, "@rabbithill/timing_gates", 0));
  ASSERT_TRUE(gates.timed);
  Ride ride;
  ASSERT_TRUE(start_ride(&ride, terrain, script, error, sizeof error)) << error;
  int passed = 0;
  double airborne = 0, highest_air = 0;
  while (passed < gates.first_lap && step_ride(&ride)) {
    ASSERT_EQ(ride.bike->crash_timer, 0) << "crashed at tick " << ride.tick << " after " << passed << " gates";
    DVec p = body_position(*ride.bike, BODY_FRAME);
    const Checkpoint& c = checkpoint_of_gate(gates, passed);
    const double dx = p.x - c.point.x, dz = p.z - c.point.z;
    if (dx * dx + dz * dz <= (double)c.radius * c.radius && dx * c.direction.x + dz * c.direction.z >= 0) passed++;
    highest_air = std::max(highest_air, p.y - height_at(terrain, (float)p.x, (float)p.z));
    if (!(ride.bike->wheel[WHEEL_FRONT].depth > 0) && !(ride.bike->wheel[WHEEL_REAR].depth > 0))
      airborne += TICK_SECONDS;
  }
  EXPECT_EQ(passed, gates.first_lap) << "stopped at " << body_position(*ride.bike, BODY_FRAME).x << " "
                                     << body_position(*ride.bike, BODY_FRAME).z;
  EXPECT_GT(highest_air, 5.0) << "never jumped";
  EXPECT_GT(airborne, 8.0) << "rolled the jumps";
  end_ride(&ride);
  free_terrain(&terrain);
}

#ifdef DV_HAVE_MODEL_READER
TEST_F(DataSetTest, EveryModelLoadsThroughTheModelReader) {
  int count = 0;
  for (const std::string& tail : {std::string(".jm"), std::string(".shp")})
    for (const std::string& name : names_ending(tail.c_str())) {
      clear_message_lines();
      Model* model = load_model(("@" + name).c_str());
      ASSERT_NE(model, nullptr) << name;
      EXPECT_FALSE(model->meshes.empty()) << name;
      EXPECT_EQ(g_messages.total, 0) << name << ": " << messages();
      count++;
    }
  EXPECT_GT(count, 200);
  // The rider bodies are skinned with the rider bones.
  Model* body = load_model("@rider_body.jm");
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->meshes[0].bone_count, (int)RIDER_BONE_COUNT);
  purge_models(true);
}
#endif

}  // namespace
