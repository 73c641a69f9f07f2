#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "core/datafile.h"
#include "render/texture.h"
#include "tests/track/track_fixture.h"
#include "tests/track/track_test_util.h"
#include "track/assets.h"
#include "track/lighting.h"
#include "track/objects.h"
#include "track/terrain.h"

namespace {

class TrackObjectFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_message_lines();
    // Ground rising 0.5 per unit along x, so placement on the ground shows.
    init_flat_terrain(terrain.get(), 4, 1.0f, 0.0f);
    for (int r = 0; r < terrain->N; r++)
      for (int c = 0; c < terrain->N; c++) terrain->heights[(size_t)(c + terrain->N * r)] = 0.5f * c;
    init_track_objects(&objects);
    options = ObjectLoadOptions{};
  }
  void TearDown() override {
    purge_textures(true);
    g_track_hooks = TrackHooks{};
  }
  template <typename Reader>
  void read(const std::string& text, Reader reader) {
    DataStream* s = data_open_memory(text.data(), text.size());
    reader(s);
    data_close(s);
  }
  void lighting(const std::string& text) {
    read(text, [&](DataStream* s) { read_lighting_stream(&light, s, false); });
  }
  ScratchData data;
  std::unique_ptr<Terrain> terrain = std::make_unique<Terrain>();
  TrackObjects objects;
  ObjectLoadOptions options;
  TrackLighting light;
};

TEST_F(TrackObjectFiles, LightingDefaultsAndClamps) {
  lighting("");
  EXPECT_FLOAT_EQ(light.near_plane, 0.25f);
  EXPECT_FLOAT_EQ(light.far_plane, 5000.0f);
  EXPECT_NEAR(light.sun_vector.x, 1 / std::sqrt(3.0f), 1e-6f);
  EXPECT_STREQ(light.sky_names[SKY_UP], "@sky-u.ppm");
  EXPECT_STREQ(light.environment_name, "@sky-env.ppm");
  EXPECT_FLOAT_EQ(light.ambient.y, 0.5f);

  lighting("near_plane 2\n");
  EXPECT_FLOAT_EQ(light.near_plane, 0.875f);
  lighting("far_plane 0.1\n");
  EXPECT_FLOAT_EQ(light.far_plane, 0.25f);
  lighting("near_plane 0\nfar_plane 1e9\n");
  EXPECT_FLOAT_EQ(light.near_plane, 0.0009765625f);
  EXPECT_FLOAT_EQ(light.far_plane, 1048576.0f);
  lighting("sun_vector [ 0 0 0 ]\n");  // unusable: the default direction
  EXPECT_NEAR(light.sun_vector.y, 1 / std::sqrt(3.0f), 1e-6f);
}

TEST_F(TrackObjectFiles, LightingKeywordsFlaresAndTheUnknownKeywordStop) {
  lighting("  sun_vector [ 0 3 4 ]  \r\n\n\tsun_color [ 1 0.5 0.25 ]\nsky_n @north.png   \n"
           "flare_element [ 0.1 0.2 ] [ 1 1 1 ] 3 @a.png\nflare_element [ 1 2 ] [ 1 1 ] 3 @b.png\n"
           "flare_point [ 10 20 30 ]\nflare_vector [ 0 1 0 ]\nfog [ 0.5 0.6 0.7 ]\nfog [ 0.1 0.2 0.3 ] 0.02\n"
           "dynamic_lighting 1\nsparkle 3\nambient [ 0 0 0 ]\n");
  EXPECT_FLOAT_EQ(light.sun_vector.y, 0.6f);
  EXPECT_FLOAT_EQ(light.sun_vector.z, 0.8f);
  EXPECT_FLOAT_EQ(light.sun_colour.z, 0.25f);
  EXPECT_STREQ(light.sky_names[SKY_NORTH], "@north.png");
  EXPECT_STREQ(light.sky_names[SKY_EAST], "@sky-e.ppm");
  ASSERT_EQ(light.flares.size(), 2u);
  EXPECT_EQ(light.flares[0].element_count, 1);  // the second element lacked a number
  EXPECT_FALSE(light.flares[0].is_direction);
  EXPECT_FLOAT_EQ(light.flares[0].where.z, 30.0f);
  EXPECT_EQ(light.flares[1].element_count, 0);
  EXPECT_TRUE(light.flares[1].is_direction);
  EXPECT_FLOAT_EQ(light.fog_density, 0.02f);
  EXPECT_FLOAT_EQ(light.fog_colour.x, 0.1f);
  EXPECT_TRUE(light.dynamic_lighting);
  EXPECT_TRUE(message_shown("Error reading lighting: Unknown identifier 'sparkle'\n"));
  EXPECT_FLOAT_EQ(light.ambient.x, 0.5f);  // after the unknown keyword nothing is read

  std::string many;
  for (int i = 0; i < 10; i++) many += "flare_element [ 0 0 ] [ 1 1 1 ] 1 @e.png\n";
  lighting(many + "flare_point [ 0 0 0 ]\n");
  EXPECT_EQ(light.flares[0].element_count, MAX_FLARE_ELEMENTS);
}

TEST_F(TrackObjectFiles, MissingLightingLoadsNoSky) {
  EXPECT_FALSE(read_lighting(&light, "@t/lighting"));
  EXPECT_EQ(light.sky[SKY_NORTH], nullptr);
  EXPECT_STREQ(light.sky_names[SKY_NORTH], "");
  data.write("sky-n.ppm", fixture_ppm(4, 4, 9));
  data.write("t/lighting", "near_plane 1\n");
  EXPECT_TRUE(read_lighting(&light, "@t/lighting"));
  ASSERT_NE(light.sky[SKY_NORTH], nullptr);
  EXPECT_EQ(light.sky[SKY_EAST], nullptr);  // no such file
}

TEST_F(TrackObjectFiles, BillboardsSitOnTheGroundWithColourPrefixes) {
  fixture_png(data, "tree.png", 8, 1);
  options.load_textures = true;
  read("[ 4 1 2 ] 3 6 @tree.png\n[ 6 0 2 ] 1 1 #FF0000#@tree.png [ 8 0 2 ] 1 1 #12ab3g#x\n"
       "[ 1 2 ] 3 4 @tree.png\n[ 9 9 9 ] 1 1 @tree.png\n",
       [&](DataStream* s) { read_billboards(&objects, *terrain, s, options); });
  ASSERT_EQ(objects.billboards.size(), 3u);  // the fourth entry does not parse: reading stops
  const Billboard& a = objects.billboards[0];
  EXPECT_FLOAT_EQ(a.position.y, 2.0f + 1.0f);
  EXPECT_FLOAT_EQ(a.width, 3.0f);
  ASSERT_NE(a.texture, nullptr);
  EXPECT_EQ(a.colour[0], 255);
  const Billboard& red = objects.billboards[1];
  EXPECT_EQ(red.colour[0], 255);
  EXPECT_EQ(red.colour[1], 0);
  EXPECT_EQ(red.colour[2], 0);
  EXPECT_EQ(red.colour[3], 255);
  EXPECT_EQ(red.texture, a.texture);
  EXPECT_EQ(objects.billboards[2].colour[1], 255);  // "g" is no hex digit: no prefix
  EXPECT_EQ(objects.billboards[2].texture, nullptr);

  uint8_t colour[4];
  const char* rest = nullptr;
  ASSERT_TRUE(split_colour_prefix("#0a0B0c#name", colour, &rest));
  EXPECT_EQ(colour[1], 11);
  EXPECT_STREQ(rest, "name");
  EXPECT_FALSE(split_colour_prefix("#0a0b0c", colour, &rest));

  create_billboard_pool(&objects, *terrain);
  EXPECT_EQ(objects.billboard_pool_first, 3);
  EXPECT_EQ(objects.billboards.size(), 3u + RUNTIME_BILLBOARD_POOL);
  EXPECT_EQ(objects.billboards.back().texture, nullptr);
  EXPECT_FLOAT_EQ(objects.billboards.back().width, 1.0f);
}

Model* fake_model(const char* name) {
  static int models[1];
  return strstr(name, "missing") ? nullptr : (Model*)models;
}

TEST_F(TrackObjectFiles, StatuesTurnOrGrowAndKeepTheirShapes) {
  read("[ 2 1 2 ] 0.5 @rock.shp @rock.png @rock.shp\n"
       "[ 4 0 2 ] 4 null null @hay.shp\n"
       "[ 6 0 2 ] 0 @rock.shp null @missing.shp\n"
       "[ 8 0 2 ] 0 @rock.shp @rock.png\n",
       [&](DataStream* s) { read_statues(&objects, *terrain, s, options); });
  ASSERT_EQ(objects.statues.size(), 3u);
  const Statue& rock = objects.statues[0];
  EXPECT_EQ(rock.model_name, "@rock.shp");
  EXPECT_FLOAT_EQ(rock.position.y, 1.0f + 1.0f);
  EXPECT_FLOAT_EQ(rock.rotation[0], std::cos(0.5f));
  EXPECT_FLOAT_EQ(rock.rotation[2], std::sin(0.5f));
  EXPECT_FLOAT_EQ(rock.rotation[4], 1.0f);
  EXPECT_FLOAT_EQ(rock.size, 0.0f);
  EXPECT_EQ(rock.model, nullptr);  // headless: no model loader
  const Statue& hay = objects.statues[1];
  EXPECT_TRUE(hay.model_name.empty());
  EXPECT_EQ(hay.shape_name, "@hay.shp");
  EXPECT_FLOAT_EQ(hay.size, 16.0f);
  EXPECT_FLOAT_EQ(hay.rotation[0], 1.0f);
  EXPECT_FLOAT_EQ(hay.rotation[2], 0.0f);
  EXPECT_EQ(messages_containing("missing shape file"), 0);  // no shape loader installed

  g_track_hooks.load_model = fake_model;
  g_track_hooks.load_shape = fake_model;
  Statue s = make_statue(*terrain, Vec3{1, 0, 1}, 0, "null", "null", "@missing.shp", options);
  EXPECT_EQ(s.model, nullptr);
  EXPECT_EQ(s.shape, nullptr);
  EXPECT_TRUE(message_shown("Warning: missing shape file @missing.shp"));
  s = make_statue(*terrain, Vec3{1, 0, 1}, 0, "null", "null", "@hay.shp", options);
  EXPECT_NE(s.shape, nullptr);
  EXPECT_EQ(s.model, nullptr);
}

TEST_F(TrackObjectFiles, StatueCompanionTexturesOnTheShaderPath) {
  g_track_hooks.load_model = fake_model;
  options.load_textures = true;
  options.shader_path = true;
  fixture_png(data, "stone-repeat.png", 8, 1);
  fixture_png(data, "stone_norm-repeat.png", 8, 2);
  fixture_png(data, "rock_spec.png", 8, 3);
  Statue s = make_statue(*terrain, Vec3{1, 0, 1}, 0, "@rock.jm", "@stone-repeat.png", "null", options);
  ASSERT_NE(s.texture, nullptr);
  ASSERT_NE(s.normal_texture, nullptr);
  EXPECT_EQ(s.normal_texture->name, "@stone_norm-repeat.png");
  ASSERT_NE(s.specular_texture, nullptr);
  EXPECT_EQ(s.specular_texture->name, "@rock_spec.png");  // found beside the model
}

TEST_F(TrackObjectFiles, DecalsNeedTheirTexture) {
  fixture_png(data, "skid.png", 8, 1);
  data.write("skid_tnorm.ppm", fixture_ppm(8, 8, 3));
  options.load_textures = true;
  options.shader_path = true;
  read("[ 1 2 ] 0.5 4 2 @skid.png\n[ 3 4 ] 0 1 1 @gone.png\n[ 5 6 ] 1 2 3 @skid.png\n[ 7 ] 1 2 3 @skid.png\n",
       [&](DataStream* s) { read_decals(&objects, s, options); });
  ASSERT_EQ(objects.decals.size(), 2u);
  const Decal& d = objects.decals[0];
  EXPECT_FLOAT_EQ(d.x, 1.0f);
  EXPECT_FLOAT_EQ(d.z, 2.0f);
  EXPECT_FLOAT_EQ(d.length_ratio, 2.0f);
  EXPECT_FLOAT_EQ(d.sine, std::sin(0.5f));
  ASSERT_NE(d.normal_texture, nullptr);
  EXPECT_EQ(d.normal_texture->name, "@skid_tnorm.ppm");
  EXPECT_EQ(d.specular_texture, nullptr);
  EXPECT_FLOAT_EQ(objects.decals[1].x, 5.0f);
}

TEST_F(TrackObjectFiles, FlaggersClampTheirGates) {
  read("[ 1 0 1 ] [ 2 0 2 ] 1 2 9 @f1 @f2 @f3 @f4 @f5\n[ 3 1 3 ] 2 2 @s1 @s2 @s3 @s4\n"
       "[ 4 0 4 ] 1 1 -7 0 5 99 @a @b\n[ 5 0 5 ] 1 1 1 2 3 x @a @b\n[ 6 0 6 ] 1 1 1 1 1 1 @a @b\n",
       [&](DataStream* s) { read_flaggers(&objects, *terrain, s, 6, options); });
  const FlaggerSet& set = objects.flagger_set;
  ASSERT_TRUE(set.present);
  EXPECT_EQ(set.first_billboard, 0);
  EXPECT_FLOAT_EQ(set.ninth, 9.0f);
  EXPECT_FLOAT_EQ(set.point_b.x, 2.0f);
  EXPECT_EQ(set.second_billboard, 1);
  EXPECT_FLOAT_EQ(objects.billboards[1].position.y, 1.5f + 1.0f);
  ASSERT_EQ(set.flaggers.size(), 1u);  // the second flagger does not parse: reading stops
  const Flagger& f = set.flaggers[0];
  EXPECT_EQ(f.gates[0], -1);
  EXPECT_EQ(f.gates[1], 0);
  EXPECT_EQ(f.gates[2], 5);
  EXPECT_EQ(f.gates[3], 5);
  EXPECT_EQ(objects.billboards.size(), 3u);

  TrackObjects short_set;
  init_track_objects(&short_set);
  read("[ 1 0 1 ] [ 2 0 2 ] 1 2 9 @f1 @f2\n",
       [&](DataStream* s) { read_flaggers(&short_set, *terrain, s, 0, options); });
  EXPECT_TRUE(short_set.flagger_set.present);
  EXPECT_EQ(short_set.flagger_set.second_billboard, -1);
}

TEST_F(TrackObjectFiles, CamerasFovsAndGates) {
  LogCapture log;
  options.debug_level = 1;
  read("gate 3 7\nfov -60\nautofovsize 12\n  addcamera 4 10 2\naddcamera 1 2\naddcamera 6 1 6\n"
       "gate 1 300 2\n# gate 5\ngateway 9\naddcamera 0 0 0\n",
       [&](DataStream* s) { read_cameras(&objects, *terrain, s, options); });
  ASSERT_EQ(objects.cameras.size(), 3u);
  EXPECT_FLOAT_EQ(objects.cameras[0].position.y, 2.0f + 10.0f);
  EXPECT_FLOAT_EQ(objects.cameras[0].fov, 60.0f);
  EXPECT_FLOAT_EQ(objects.cameras[0].auto_fov_size, 12.0f);
  EXPECT_FLOAT_EQ(objects.cameras[1].fov, 90.0f);
  EXPECT_FLOAT_EQ(objects.cameras[1].auto_fov_size, 0.0f);
  EXPECT_EQ(objects.camera_for_gate[3], 0);
  EXPECT_EQ(objects.camera_for_gate[7], 0);
  EXPECT_EQ(objects.camera_for_gate[1], 2);
  EXPECT_EQ(objects.camera_for_gate[2], -1);  // after the out-of-range 300
  EXPECT_EQ(objects.camera_for_gate[5], -1);
  EXPECT_EQ(objects.camera_for_gate[9], -1);
  EXPECT_NE(log.text().find("3 cameras found"), std::string::npos);
}

}  // namespace
