// Model files (shape and JM), bone weights, tangents, the cache with its
// level-of-detail chains, skinning, reflection coordinates and the export.
#include <cmath>
#include <string>

#include "render/model.h"
#include "tests/core/data_test_util.h"
#include "tests/render/render_fixture.h"

namespace {

Model* parse(const std::string& text, const char* name = "test") {
  return read_model_bytes(text.data(), text.size(), name);
}

// One triangle in the xy plane, u along x and v along y in the file.
const char* const TRIANGLE = "0 0 0 0 0 1 0 0\n1 0 0 0 0 1 1 0\n0 1 0 0 0 1 0 1\n";

class ModelCache : public DataDirTest {
 protected:
  void TearDown() override {
    purge_models(true);
    g_model_settings = ModelSettings{};
    DataDirTest::TearDown();
  }
};

}  // namespace

TEST(ModelFormat, ShapeFileGetsTheShapeMaterialAndFlippedV) {
  Model* m = parse(std::string("3 1\n") + TRIANGLE + "0 1 2\n");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->meshes.size(), 1u);
  const Mesh& mesh = m->meshes[0];
  EXPECT_EQ(mesh.vertex_count, 3);
  EXPECT_EQ(mesh.triangle_count, 1);
  EXPECT_FLOAT_EQ(mesh.s, 32.0f);
  EXPECT_FLOAT_EQ(mesh.r + mesh.g + mesh.b + mesh.a, 4.0f);
  EXPECT_FLOAT_EQ(mesh.texcoords[5], 0.0f);  // file v 1 -> 0
  EXPECT_FLOAT_EQ(mesh.texcoords[1], 1.0f);
  EXPECT_EQ(mesh.bone_count, 0);
  EXPECT_EQ(mesh_mode(mesh), MESH_LIT);
  delete_model(m);

  // Every number counts in the plain format.
  EXPECT_EQ(parse(std::string("3 1\n") + TRIANGLE + "0 1\n"), nullptr);
  EXPECT_EQ(parse("3 1\n0 0 0 0 0 1 0\n"), nullptr);
  EXPECT_EQ(parse("garbage"), nullptr);
  EXPECT_EQ(parse(""), nullptr);
}

TEST(ModelFormat, JmMaterialsModesAndTheListEndingAtADamagedMesh) {
  std::string text = "JM1\n";
  text += std::string("16 0.3 1 0.5 0.25 3 1\n") + TRIANGLE + "0 1 2\n";   // lit, a ignored
  text += std::string("-1 0.7 0.2 0.4 0.6 3 1\n") + TRIANGLE + "2 1 0\n";  // reflective
  text += std::string("-3 0.9 1 0 0 3 1\n") + TRIANGLE + "0 1 2\n";        // unlit
  text += "8 1 1 1 1 3 1\n0 0 0\n";                                        // cut short
  Model* m = parse(text);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->meshes.size(), 3u);
  EXPECT_FLOAT_EQ(m->meshes[0].a, 1.0f);
  EXPECT_FLOAT_EQ(m->meshes[1].a, 0.7f);
  EXPECT_FLOAT_EQ(m->meshes[2].a, 0.9f);
  EXPECT_EQ(mesh_mode(m->meshes[0]), MESH_LIT);
  EXPECT_EQ(mesh_mode(m->meshes[1]), MESH_REFLECTIVE);
  EXPECT_EQ(mesh_mode(m->meshes[2]), MESH_UNLIT);
  EXPECT_TRUE(m->meshes[1].reflective);
  EXPECT_TRUE(m->reflective);
  EXPECT_FLOAT_EQ(m->meshes[0].g, 0.5f);
  delete_model(m);
}

TEST(ModelFormat, OnlyVersionsOneAndTwoAndIndicesInsideTheMesh) {
  clear_message_lines();
  EXPECT_EQ(parse(std::string("JM3\n16 1 1 1 1 3 1\n") + TRIANGLE + "0 1 2\n"), nullptr);
  EXPECT_EQ(parse("JM1\n"), nullptr);  // no mesh at all
  // An index past the vertices ends the list there; the mesh before it stays.
  std::string text = std::string("JM1\n16 1 1 1 1 3 1\n") + TRIANGLE + "0 1 2\n";
  text += std::string("16 1 1 1 1 3 1\n") + TRIANGLE + "0 1 3\n";
  Model* m = parse(text);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->meshes.size(), 1u);
  delete_model(m);
  EXPECT_EQ(parse(std::string("3 1\n") + TRIANGLE + "0 1 -1\n"), nullptr);
  // Counts that no file of sane size could fill are refused before reading.
  EXPECT_EQ(parse("2000000 1\n"), nullptr);
  EXPECT_EQ(parse("JM2 1000 bones\n16 1 1 1 1 3 1\n"), nullptr);
}

TEST(ModelFormat, FiveInfluencesKeepFourAndWarnOncePerMesh) {
  float w[BONE_SLOTS];
  int b[BONE_SLOTS];
  const float five[5] = {0.5f, 0.3f, 0.1f, 0.06f, 0.04f};
  EXPECT_TRUE(pick_bone_weights(five, 5, w, b));
  // The fifth replaced the smallest held (0.06 in slot 3).
  EXPECT_EQ(b[3], 4);
  const float sum = 0.5f + 0.3f + 0.1f + 0.04f;
  EXPECT_FLOAT_EQ(w[0], 0.5f / sum);
  EXPECT_FLOAT_EQ(w[3], 0.04f / sum);
  EXPECT_FLOAT_EQ(w[0] + w[1] + w[2] + w[3], 1.0f);

  const float none[3] = {0.0f, -1.0f, 0.0f};
  EXPECT_FALSE(pick_bone_weights(none, 3, w, b));
  for (float v : w) EXPECT_FLOAT_EQ(v, 0.25f);

  // Ties: the first slot holding the smallest weight is the one replaced.
  const float ties[5] = {0.2f, 0.2f, 0.2f, 0.2f, 0.2f};
  pick_bone_weights(ties, 5, w, b);
  EXPECT_EQ(b[0], 4);

  clear_message_lines();
  std::string text = "JM2 5 rider\n16 1 1 1 1 3 1\n";
  const char* rows[3] = {"0 0 0 0 0 1 0 0", "1 0 0 0 0 1 1 0", "0 1 0 0 0 1 0 1"};
  for (const char* row : rows) text += std::string(row) + " 0.5 0.3 0.1 0.06 0.04\n";
  text += "0 1 2\n";
  Model* m = parse(text, "@rider.jm");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->skeleton, "rider");
  EXPECT_EQ(m->meshes[0].bone_count, 5);
  int warnings = 0;
  for (int i = 0; const char* line = message_line(i); i++)
    warnings += std::string(line).find("more than 4 bone influences in '@rider.jm'") != std::string::npos;
  EXPECT_EQ(warnings, 1);
  delete_model(m);
}

TEST(ModelFormat, TangentsFollowIncreasingU) {
  Model* m = parse(std::string("3 1\n") + TRIANGLE + "0 1 2\n");
  ASSERT_NE(m, nullptr);
  for (int v = 0; v < 3; v++) {
    EXPECT_NEAR(m->meshes[0].tangents[v * 3], 1.0f, 1e-6);
    EXPECT_NEAR(m->meshes[0].tangents[v * 3 + 1], 0.0f, 1e-6);
  }
  delete_model(m);
  // u mirrored: the tangent turns round.
  m = parse("3 1\n0 0 0 0 0 1 1 0\n1 0 0 0 0 1 0 0\n0 1 0 0 0 1 1 1\n0 1 2\n");
  ASSERT_NE(m, nullptr);
  EXPECT_NEAR(m->meshes[0].tangents[0], -1.0f, 1e-6);
  delete_model(m);
  // All texture coordinates equal: a tiny vector along the longer edge.
  m = parse("3 1\n0 0 0 0 0 1 0 0\n3 0 0 0 0 1 0 0\n0 1 0 0 0 1 0 0\n0 1 2\n");
  ASSERT_NE(m, nullptr);
  float t = m->meshes[0].tangents[0];
  EXPECT_GT(t, 0.0f);
  EXPECT_LT(t, 1e-5f);
  EXPECT_FLOAT_EQ(m->meshes[0].tangents[1], 0.0f);
  delete_model(m);
}

TEST(ModelFormat, SkinningMovesVerticesByTheirBones) {
  // Two vertices fully on bone 0 and bone 1, one shared half and half.
  std::string text = "JM2 2 pair\n16 1 1 1 1 3 1\n";
  text += "0 0 0 0 1 0 0 0 1 0\n";
  text += "1 0 0 0 1 0 1 0 0 1\n";
  text += "0 0 1 0 1 0 0 1 0.5 0.5\n";
  text += "0 1 2\n";
  Model* m = parse(text);
  ASSERT_NE(m, nullptr);
  Mesh& mesh = m->meshes[0];
  // Bone 0 stays; bone 1 turns 90 degrees about +Z around (1, 0, 0) and moves up 2.
  const float centres[6] = {0, 0, 0, 1, 0, 0};
  const float translations[6] = {0, 0, 0, 1, 2, 0};
  const float rotations[18] = {1, 0, 0, 0, 1, 0, 0, 0, 1,     // identity
                               0, 1, 0, -1, 0, 0, 0, 0, 1};   // columns of Rz(90)
  EXPECT_FALSE(skin_mesh(&mesh, BoneSet{1, centres, translations, rotations}));  // count mismatch
  ASSERT_TRUE(skin_mesh(&mesh, BoneSet{2, centres, translations, rotations}));
  EXPECT_FLOAT_EQ(mesh.positions[3], 1.0f);  // (1,0,0) - c = 0, then + t
  EXPECT_FLOAT_EQ(mesh.positions[4], 2.0f);
  // Normal (0,1,0) turned by Rz(90) is (-1,0,0) for vertex 1.
  EXPECT_FLOAT_EQ(mesh.normals[3], -1.0f);
  EXPECT_FLOAT_EQ(mesh.normals[4], 0.0f);
  // Vertex 2: half of (0,0,1) and half of Rz(90)((-1,0,1)) + (1,2,0) = (1,1,1).
  EXPECT_FLOAT_EQ(mesh.positions[6], 0.5f);
  EXPECT_FLOAT_EQ(mesh.positions[7], 0.5f);
  EXPECT_FLOAT_EQ(mesh.positions[8], 1.0f);
  // The bind pose is untouched, so skinning again gives the same.
  EXPECT_FLOAT_EQ(mesh.bind_positions[4], 0.0f);
  delete_model(m);
}

TEST(ModelFormat, ReflectionOfAFacingSurfacePointsBackAtTheCamera) {
  Model* m = parse(std::string("3 1\n") + TRIANGLE + "0 1 2\n");
  ASSERT_NE(m, nullptr);
  const float eye[3] = {0, 0, 5};
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  compute_reflection_coordinates(&m->meshes[0], eye, identity);
  // Reflected straight back along +Z: theta = pi/2, direction (0, 1) in (x, z).
  EXPECT_NEAR(m->meshes[0].reflection[0], 0.5f, 1e-5);
  EXPECT_NEAR(m->meshes[0].reflection[1], 0.75f, 1e-5);
  delete_model(m);
}

TEST(ModelFormat, ExportWritesAMesh2Block) {
  Model* m = parse(std::string("3 1\n") + TRIANGLE + "0 1 2\n");
  ASSERT_NE(m, nullptr);
  char buffer[2048] = {};
  std::string path = std::string(::testing::TempDir()) + "dv_mesh2.inc";
  DataStream* out = data_open(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(export_mesh(m->meshes[0], out));
  data_close(out);
  FILE* f = fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  size_t n = fread(buffer, 1, sizeof buffer - 1, f);
  fclose(f);
  std::string text(buffer, n);
  EXPECT_EQ(text.rfind("mesh2 {\n\tvertex_vectors {\n\t\t3\n\t\t<0.000000,0.000000,0.000000>,\n", 0), 0u);
  EXPECT_NE(text.find("\t\t<0.000000,1.000000,0.000000>\n\t}\n\tnormal_vectors {\n"), std::string::npos);
  EXPECT_NE(text.find("\tuv_vectors {\n\t\t3\n\t\t<0.000000,1.000000>,\n"), std::string::npos);
  EXPECT_NE(text.find("\tface_indices {\n\t\t1\n\t\t<0,1,2>\n\t}\n}\n"), std::string::npos);
  delete_model(m);
  remove(path.c_str());
}

TEST_F(ModelCache, LodFilesChainByFactorAndTheDistanceChoosesTheLevel) {
  std::string shape = std::string("3 1\n") + TRIANGLE + "0 1 2\n";
  write_file("rock.jm", shape);
  write_file("rock_lod1.jm", shape);
  write_file("rock_lod2.jm.gz", gzip_of(shape));
  write_file("rock_lodx.jm", shape);  // no number: not a level
  write_file("rocky_lod1.jm", shape);  // another model's stem
  Model* rock = load_model("@rock.jm");
  ASSERT_NE(rock, nullptr);
  ASSERT_EQ(rock->lod.size(), 2u);
  EXPECT_FLOAT_EQ(rock->lod[0].factor, 2.0f);
  EXPECT_FLOAT_EQ(rock->lod[1].factor, 4.0f);
  EXPECT_EQ(rock->lod[1].model->name, "@rock_lod2.jm");
  EXPECT_EQ(choose_lod(*rock, 1.9), rock);
  EXPECT_EQ(choose_lod(*rock, 2.0), rock->lod[0].model);
  EXPECT_EQ(choose_lod(*rock, 3.9), rock->lod[0].model);
  EXPECT_EQ(choose_lod(*rock, 4.5), rock->lod[1].model);
  // The bias pulls levels nearer; the scale stretches the distances.
  g_model_settings.lod_bias = 2.0;
  EXPECT_EQ(choose_lod(*rock, 0.1), rock->lod[0].model);
  g_model_settings.lod_bias = 0.0;
  g_model_settings.lod_scale = 2.0;
  EXPECT_EQ(choose_lod(*rock, 2.0), rock->lod[1].model);
}

TEST_F(ModelCache, CaseMismatchReusesAndOldGenerationsArePurged) {
  std::string shape = std::string("3 1\n") + TRIANGLE + "0 1 2\n";
  write_file("gate.shp", shape);
  write_file("bale.shp", shape);
  write_file("bale_lod1.shp", shape);
  advance_texture_generation();
  Model* gate = load_model("@gate.shp");
  Model* bale = load_model("@bale.shp");
  ASSERT_TRUE(gate && bale);
  EXPECT_EQ(load_model("@Gate.shp"), gate);
  EXPECT_TRUE(shown("Warning: case mismatch on '@Gate.shp'"));
  EXPECT_EQ(cached_model_count(), 3);
  // The next track uses only the bale: the gate goes, the bale and its level stay.
  advance_texture_generation();
  EXPECT_EQ(load_model("@bale.shp"), bale);
  purge_models(false);
  EXPECT_EQ(cached_model_count(), 2);
  EXPECT_EQ(bale->lod.size(), 1u);
  EXPECT_EQ(load_model("@missing.jm"), nullptr);
  purge_models(true);
  EXPECT_EQ(cached_model_count(), 0);
}
