// Models drawn on the GL: a lit quad shows its texture under the light, an
// unlit mesh its flat colour whatever the light, the shader and the fixed
// paths agree, GPU and CPU skinning put the vertices in the same place, and
// the reflective pass paints the environment.
#include <cmath>
#include <string>

#include "render/gl_model.h"
#include "render/gl_shaders.h"
#include "render/gl_texture.h"
#include "tests/render/gl_fixture.h"

namespace {

// A 2 x 2 quad in the xy plane facing +Z; with `bones` two bones, the right
// half on bone 1.
std::string quad_jm(float s, float r, float g, float b, bool bones) {
  std::string text = bones ? "JM2 2 test\n" : "JM1\n";
  char header[128];
  snprintf(header, sizeof header, "%g 1 %g %g %g 4 2\n", s, r, g, b);
  text += header;
  const char* rows[4] = {"-1 -1 0 0 0 1 0 0", "1 -1 0 0 0 1 1 0", "1 1 0 0 0 1 1 1", "-1 1 0 0 0 1 0 1"};
  const char* weights[4] = {" 1 0", " 0 1", " 0 1", " 1 0"};
  for (int i = 0; i < 4; i++) text += std::string(rows[i]) + (bones ? weights[i] : "") + "\n";
  text += "0 1 2\n0 2 3\n";
  return text;
}

class GlModelTest : public GlTest {
 protected:
  void SetUp() override {
    GlTest::SetUp();
    if (IsSkipped()) return;
    start_gl_textures();
    g_release_model_gpu = release_model_gpu;
    gl.MatrixMode(GL_PROJECTION);
    gl.LoadIdentity();
    gl.Frustum(-0.5, 0.5, -0.375, 0.375, 1, 100);
    gl.MatrixMode(GL_MODELVIEW);
    gl.LoadIdentity();
    gl.Enable(GL_DEPTH_TEST);
    gl.Disable(GL_CULL_FACE);
    gl.Enable(GL_LIGHT0);
    const float position[4] = {0, 0, 1, 0}, white[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1};
    gl.Lightfv(GL_LIGHT0, GL_POSITION, position);
    gl.Lightfv(GL_LIGHT0, GL_DIFFUSE, white);
    gl.Lightfv(GL_LIGHT0, GL_SPECULAR, black);
    g_scene_light = {{0, 0, 0, 1}, {0, 0, 0, 1}};
    gl.Lightfv(GL_LIGHT0, GL_AMBIENT, g_scene_light.ambient);
    gl.LightModelfv(GL_LIGHT_MODEL_AMBIENT, g_scene_light.global_ambient);
    gl.Fogf(GL_FOG_DENSITY, 0.0f);
    camera_ = {{0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
  }
  void TearDown() override {
    if (!IsSkipped()) {
      free_shaders();
      stop_gl_textures();
    }
    g_release_model_gpu = nullptr;
  }
  // The quad 4 units ahead of the camera.
  std::vector<uint8_t> draw(Model* m, const BoneSet* bones, const Texture* texture = nullptr) {
    gl.ClearColor(0, 0, 0, 1);
    gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const float object[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -4, 1};
    draw_model_lit(*m, object, camera_, bones, {texture, nullptr, nullptr});
    return read_back();
  }
  DrawCamera camera_;
};

// Lit pixels of the picture (any channel above 20).
int covered(const std::vector<uint8_t>& rgb) {
  int n = 0;
  for (size_t i = 0; i < rgb.size(); i += 3) n += rgb[i] > 20 || rgb[i + 1] > 20 || rgb[i + 2] > 20;
  return n;
}

}  // namespace

TEST_F(GlModelTest, LitQuadTakesTheLightAndUnlitShowsItsFlatColour) {
  Model* lit = read_model_bytes(quad_jm(16, 0, 0, 0, false).data(), quad_jm(16, 0, 0, 0, false).size(), "lit");
  std::string unlit_text = quad_jm(-3, 0.2f, 0.6f, 1.0f, false);
  Model* unlit = read_model_bytes(unlit_text.data(), unlit_text.size(), "unlit");
  ASSERT_TRUE(lit && unlit);
  std::vector<uint8_t> a = draw(lit, nullptr);
  Rgb centre = pixel(a, WIDTH / 2, HEIGHT / 2);
  EXPECT_GT(centre.r, 240);  // white texture, full diffuse from straight ahead
  // The quad spans 0.5 of the view's height at distance 4: the middle half.
  EXPECT_EQ(pixel(a, WIDTH / 2, HEIGHT / 8).r, 0);

  // Unlit: the flat colour, with the light on or off.
  Rgb bright = pixel(draw(unlit, nullptr), WIDTH / 2, HEIGHT / 2);
  const float black[4] = {0, 0, 0, 1};
  gl.Lightfv(GL_LIGHT0, GL_DIFFUSE, black);
  Rgb dark = pixel(draw(unlit, nullptr), WIDTH / 2, HEIGHT / 2);
  EXPECT_NEAR(bright.r, 51, 2);
  EXPECT_NEAR(bright.g, 153, 2);
  EXPECT_NEAR(bright.b, 255, 2);
  EXPECT_EQ(bright.r, dark.r);
  EXPECT_EQ(bright.b, dark.b);
  // The light model's ambient comes back after the unlit mesh.
  float ambient[4] = {-1, -1, -1, -1};
  gl.GetFloatv(GL_LIGHT_MODEL_AMBIENT, ambient);
  EXPECT_FLOAT_EQ(ambient[0], 0.0f);
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
  delete_model(lit);
  delete_model(unlit);
}

TEST_F(GlModelTest, ShaderAndFixedPathsDrawTheSamePicture) {
  std::string text = quad_jm(16, 0, 0, 0, false);
  Model* m = read_model_bytes(text.data(), text.size(), "quad");
  ASSERT_NE(m, nullptr);
  std::vector<uint8_t> fixed = draw(m, nullptr);
  release_model_gpu(m);
  ASSERT_TRUE(start_shader_programs(true));
  std::vector<uint8_t> shaded = draw(m, nullptr);
  int differing = 0;
  for (size_t i = 0; i < fixed.size(); i++) differing += std::abs(fixed[i] - shaded[i]) > 8;
  EXPECT_LT(differing, (int)fixed.size() / 200);  // edge pixels may fall either way
  EXPECT_GT(covered(shaded), WIDTH * HEIGHT / 5);
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
  delete_model(m);
}

TEST_F(GlModelTest, GpuAndCpuSkinningAgree) {
  std::string text = quad_jm(16, 0, 0, 0, true);
  Model* m = read_model_bytes(text.data(), text.size(), "skinned");
  ASSERT_NE(m, nullptr);
  // Bone 1 lifts the right half by one unit.
  const float centres[6] = {0, 0, 0, 0, 0, 0}, moves[6] = {0, 0, 0, 0, 1, 0};
  const float turns[18] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  BoneSet bones = {2, centres, moves, turns};
  std::vector<uint8_t> cpu = draw(m, &bones);
  // The lifted right edge reaches above the unlifted left edge.
  EXPECT_GT(pixel(cpu, WIDTH * 3 / 4 - 10, HEIGHT * 7 / 8).r, 200);
  EXPECT_EQ(pixel(cpu, WIDTH / 4 + 10, HEIGHT * 7 / 8).r, 0);
  release_model_gpu(m);
  ASSERT_TRUE(start_shader_programs(true));
  std::vector<uint8_t> gpu = draw(m, &bones);
  int differing = 0;
  for (size_t i = 0; i < cpu.size(); i += 3) differing += std::abs(cpu[i] - gpu[i]) > 8;
  EXPECT_LT(differing, WIDTH * HEIGHT / 100);
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
  delete_model(m);
}

TEST_F(GlModelTest, ReflectivePassPaintsTheEnvironmentInTheMeshColour) {
  std::string text = quad_jm(-1, 1, 0.5f, 1, false);
  Model* m = read_model_bytes(text.data(), text.size(), "chrome");
  ASSERT_NE(m, nullptr);
  ASSERT_TRUE(m->reflective);
  // A lit pass draws nothing of a model whose only mesh is reflective.
  EXPECT_EQ(covered(draw(m, nullptr)), 0);
  Image sky;
  init_image(&sky, 4, 4, 3);
  std::fill(sky.pixels.begin(), sky.pixels.end(), 200);
  Texture* environment = create_texture(sky, 0);
  ASSERT_NE(environment, nullptr);
  for (bool shaders : {false, true}) {
    if (shaders) {
      release_model_gpu(m);
      ASSERT_TRUE(start_shader_programs(true));
    }
    gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const float object[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -4, 1};
    draw_model_reflective(*m, object, camera_, nullptr, environment);
    Rgb c = pixel(read_back(), WIDTH / 2, HEIGHT / 2);
    // a = 1: (r, g, b) times the environment's 200.
    EXPECT_NEAR(c.r, 200, 3) << shaders;
    EXPECT_NEAR(c.g, 100, 3) << shaders;
    EXPECT_NEAR(c.b, 200, 3) << shaders;
  }
  destroy_texture(environment);
  EXPECT_EQ(gl_errors(), (GLenum)GL_NO_ERROR);
  delete_model(m);
}
