// The texture cache through the recording backend: what would reach the GPU
// for each kind of file and name, generations and purging, the memory
// counter, aliases, animations, the image table and the menu lists.
#include <png.h>

#include <cstring>

#include "render_fixture.h"

namespace {

class TextureCache : public DataDirTest {
 protected:
  void SetUp() override {
    DataDirTest::SetUp();
    purge_textures(true);
    reset_texture_recorder();
    g_texture_recorder.keep_pixels = true;
    reset_texture_memory();
  }
  void TearDown() override {
    DataDirTest::TearDown();
    g_texture_recorder.keep_pixels = false;
  }
  void write_png(const std::string& name, const Image& image) {
    png_image desc{};
    desc.version = PNG_IMAGE_VERSION;
    desc.width = uint32_t(image.width);
    desc.height = uint32_t(image.height);
    desc.format = image.channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
    ASSERT_TRUE(png_image_write_to_file(&desc, path(name).c_str(), 0, image.pixels.data(), 0, nullptr));
    invalidate_catalogue();
  }
  void write_png(const std::string& name, int w, int h, int channels = 3, uint32_t seed = 1) {
    write_png(name, make_image(w, h, channels, seed));
  }
  std::string j7_text(const Image& image) {
    std::string bytes;
    write_j_image_file("@tmp.j7", image);
    bytes = read_file("tmp.j7");
    std::filesystem::remove(path("tmp.j7"));
    return bytes;
  }
  static const RecordedUpload& last_upload() { return g_texture_recorder.uploads.back(); }
  static const RecordedUpload* last_create() {
    for (auto it = g_texture_recorder.uploads.rbegin(); it != g_texture_recorder.uploads.rend(); ++it)
      if (it->kind == RecordedUpload::CREATE) return &*it;
    return nullptr;
  }
};

Image solid(int w, int h, int channels, uint8_t value) {
  Image image;
  init_image(&image, w, h, channels);
  std::fill(image.pixels.begin(), image.pixels.end(), value);
  return image;
}

TEST_F(TextureCache, NameSuffixesChooseRepeatingAndBangKeepsDetail) {
  for (const char* name : {"grass-repeat.png", "rail-hrepeat.png", "pole-vrepeat.png", "plain.png"})
    write_png(name, 16, 16);
  unsigned both = TEXTURE_REPEAT_S | TEXTURE_REPEAT_T;
  EXPECT_EQ(load_texture("@grass-repeat.png")->flags & both, both);
  EXPECT_EQ(load_texture("@rail-hrepeat.png")->flags & both, unsigned(TEXTURE_REPEAT_S));
  EXPECT_EQ(load_texture("@pole-vrepeat.png")->flags & both, unsigned(TEXTURE_REPEAT_T));
  EXPECT_EQ(load_texture("@plain.png")->flags & both, 0u);
  EXPECT_EQ(last_create()->flags & both, 0u);
  EXPECT_EQ(texture_name_flags("!@x.png"), unsigned(TEXTURE_FULL_RES));
}

TEST_F(TextureCache, CaseMismatchWarnsAndReusesTheEntry) {
  write_png("dirt.png", 32, 32);
  Texture* a = load_texture("@dirt.png");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->width, 32);
  EXPECT_EQ(a->levels, 6);
  EXPECT_EQ(load_texture("@Dirt.png"), a);
  EXPECT_TRUE(shown("Warning: case mismatch on '@Dirt.png'"));
  EXPECT_EQ(load_texture("!@dirt.png"), a);
  EXPECT_EQ(g_texture_recorder.creates, 1u);
}

TEST_F(TextureCache, GenerationsKeepWhatTheNewTrackUses) {
  for (const char* name : {"hud.png", "a.png", "b.png", "c.png"}) write_png(name, 8, 8);
  int start = texture_generation();
  Texture* hud = nullptr;
  if (start == 0) hud = load_texture("@hud.png");  // permanent
  int first = advance_texture_generation();
  Texture* a = load_texture("@a.png");
  Texture* b = load_texture("@b.png");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->generation, first);
  purge_textures(false);
  EXPECT_EQ(cached_texture_count(), hud ? 3 : 2);

  int second = advance_texture_generation();
  EXPECT_EQ(load_texture("@a.png"), a);
  EXPECT_EQ(a->generation, second);
  Texture* c = load_texture("@c.png");
  unsigned b_handle = b->handle;
  purge_textures(false);
  EXPECT_EQ(cached_texture_count(), hud ? 3 : 2);
  EXPECT_EQ(g_texture_recorder.destroys, 1u);
  EXPECT_EQ(last_upload().kind, RecordedUpload::DESTROY);
  EXPECT_EQ(last_upload().handle, b_handle);
  for (int i = 0; i < cached_texture_count(); i++) EXPECT_NE(cached_texture(i)->name, "@b.png");
  if (hud) {
    EXPECT_EQ(hud->generation, 0);
  }
  EXPECT_EQ(c->generation, second);

  purge_textures(true);
  EXPECT_EQ(cached_texture_count(), 0);
  EXPECT_TRUE(g_texture_recorder.live.empty());
}

TEST_F(TextureCache, MemoryCounterCountsUploadsAndReuse) {
  write_png("m.png", 64, 32);
  Texture* t = load_texture("@m.png");
  uint64_t one = chain_bytes(64, 32, 3, full_chain_levels(64, 32));
  EXPECT_EQ(texture_memory_used(), one);
  EXPECT_EQ(t->memory, one);
  load_texture("@m.png");
  EXPECT_EQ(texture_memory_used(), 2 * one);
  reset_texture_memory();
  EXPECT_EQ(texture_memory_used(), 0u);

  // Compression: asked for by the info text, or for every PNG, or never.
  write_png("packed.png", 64, 64, 4);
  write_file("packed.png.info", "[compress]\n");
  write_png("loose.png", 64, 64, 4);
  write_png("forced.png", 64, 64, 4);
  uint64_t compressed = 0;
  for (int l = 0; l < 7; l++) compressed += compressed_level_bytes(64 >> l, 64 >> l, 4);
  Texture* packed = load_texture("@packed.png");
  EXPECT_TRUE(packed->flags & TEXTURE_COMPRESS);
  EXPECT_EQ(packed->memory, compressed);
  EXPECT_EQ(packed->info, "[compress]\n");
  EXPECT_FALSE(load_texture("@loose.png")->flags & TEXTURE_COMPRESS);
  g_texture_settings.compress = 2;
  EXPECT_TRUE(load_texture("@forced.png")->flags & TEXTURE_COMPRESS);
  purge_textures(true);
  g_texture_settings.compress = 0;
  EXPECT_FALSE(load_texture("@packed.png")->flags & TEXTURE_COMPRESS);
}

TEST_F(TextureCache, DetailReductionAppliesUnlessTheNameHasABang) {
  g_texture_settings.detail = 2;
  write_png("big.png", 1024, 1024);
  write_png("hud.png", 1024, 1024);
  Texture* big = load_texture("@big.png");
  EXPECT_EQ(big->width, 256);
  EXPECT_EQ(big->height, 256);
  EXPECT_EQ(big->levels, 9);
  EXPECT_EQ(big->file_width, 1024);
  EXPECT_EQ(last_create()->width, 256);
  EXPECT_EQ(last_create()->pixels.size(), chain_bytes(256, 256, 3, 9));
  Texture* hud = load_texture("!@hud.png");
  EXPECT_EQ(hud->width, 1024);
  EXPECT_EQ(hud->name, "@hud.png");
}

TEST_F(TextureCache, CustomLayoutAndItsInvalidHeight) {
  // Base level 10, hand-drawn levels 20 (as a block across the lower third).
  Image drawn = solid(256, 384, 3, 10);
  std::fill(drawn.pixels.begin() + 256 * 256 * 3, drawn.pixels.end(), 20);
  write_png("drawn.png", drawn);
  write_file("drawn.png.info", "[mip_custom]");
  Texture* t = load_texture("@drawn.png");
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->mip_custom);
  EXPECT_EQ(t->width, 256);
  EXPECT_EQ(t->height, 256);
  EXPECT_EQ(t->levels, 9);
  const RecordedUpload& up = *last_create();
  EXPECT_EQ(up.pixels[0], 10);
  EXPECT_EQ(up.pixels[256 * 256 * 3], 20);
  EXPECT_EQ(up.pixels.back(), 20);
  EXPECT_FALSE(shown("Warning"));

  write_png("odd.png", 256, 300);
  write_file("odd.png.info", "[mip_custom]");
  Texture* odd = load_texture("@odd.png");
  ASSERT_NE(odd, nullptr);
  EXPECT_TRUE(shown("Warning: Invalid height for custom MIP map in '@odd.png'"));
  EXPECT_TRUE(shown("Warning: Non power of 2 texture '@odd.png'"));
  EXPECT_EQ(odd->width, 256);
  EXPECT_EQ(odd->height, 512);
  EXPECT_EQ(odd->levels, 10);
  EXPECT_EQ(odd->file_height, 300);
}

TEST_F(TextureCache, MaxAlphaOptionReachesTheChain) {
  Image image = solid(2, 2, 4, 0);
  image.pixels[3] = 200;  // one visible texel
  write_png("fence.png", image);
  write_png("glass.png", image);
  write_file("fence.png.info", "tree [mip_max_alpha] x");
  load_texture("@fence.png");
  EXPECT_EQ(last_create()->pixels[16 + 3], 200);
  load_texture("@glass.png");
  EXPECT_EQ(last_create()->pixels[16 + 3], 50);
}

TEST_F(TextureCache, EveryFormatLoads) {
  Image rgba = make_gradient(8, 4, 4);
  ASSERT_TRUE(write_j_image_file("@j.j7", rgba));
  ASSERT_TRUE(write_ppm_file("@p.ppm", make_gradient(4, 4, 3).pixels.data(), 4, 4));
  write_file("g.pgm", "P2 2 2 255 1 2 3 4");
  Texture* j = load_texture("@j.j7");
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(j->channels, 4);
  EXPECT_EQ(std::vector<uint8_t>(last_create()->pixels.begin(), last_create()->pixels.begin() + 128), rgba.pixels);
  EXPECT_EQ(load_texture("@p.ppm")->channels, 3);
  Texture* g = load_texture("@g.pgm");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->channels, 3);
  EXPECT_EQ(last_create()->pixels[9], 4);
}

TEST_F(TextureCache, FailuresReturnNullWithAMessage) {
  EXPECT_EQ(load_texture("@nope.png"), nullptr);
  EXPECT_FALSE(shown("nope"));
  g_texture_settings.verbosity = 1;
  EXPECT_EQ(load_texture("@nope.png"), nullptr);
  EXPECT_TRUE(shown("Can't open texture \"@nope.png\""));
  write_file("junk.png", "not an image at all");
  EXPECT_EQ(load_texture("@junk.png"), nullptr);
  EXPECT_TRUE(shown("Can't read PNG '@junk.png'"));
  write_file("bad.ppm", "P6 4 4 255 xx");
  EXPECT_EQ(load_texture("@bad.ppm"), nullptr);
  EXPECT_TRUE(shown("Can't read texture '@bad.ppm': PPM data ends at row 0 of 4"));
  EXPECT_EQ(load_texture(""), nullptr);

  static const TextureBackend refusing = {
      "refusing", [](const TextureUpload&, uint64_t*) -> unsigned { return 0; }, [](unsigned, const TextureUpload&) {},
      [](unsigned) {}};
  set_texture_backend(&refusing);
  write_png("ok.png", 4, 4);
  EXPECT_EQ(load_texture("@ok.png"), nullptr);
  EXPECT_TRUE(shown("Can't create texture '@ok.png'"));
  EXPECT_EQ(cached_texture_count(), 0);
}

TEST_F(TextureCache, LinksBecomeAliasesAndLoopsAreCaught) {
  write_png("real.png", 8, 8);
  write_file("alias.png", "LINK \n  @real.png  \n");
  Texture* real = load_texture("@real.png");
  EXPECT_EQ(load_texture("@alias.png"), real);
  std::filesystem::remove(path("alias.png"));
  EXPECT_EQ(load_texture("@alias.png"), real);  // straight from the alias table
  EXPECT_EQ(g_texture_recorder.creates, 1u);

  write_file("ping.png", "LINK @pong.png");
  write_file("pong.png", "LINK @ping.png");
  EXPECT_EQ(load_texture("@ping.png"), nullptr);
  EXPECT_TRUE(shown("Too many links loading texture"));
}

class Animations : public TextureCache {
 protected:
  // Frame f of the test animations is a 4 x 4 J7 image of value 10 * (f + 1).
  std::string seq(const std::string& header, int frames) {
    std::string text = "ANIM1 " + header + "\n";
    for (int f = 0; f < frames; f++) text += j7_text(solid(4, 4, 4, uint8_t(10 * (f + 1)))) + "\n";
    return text;
  }
  // Frame uploaded last (create or update), by its value.
  int shown_frame() const {
    for (auto it = g_texture_recorder.uploads.rbegin(); it != g_texture_recorder.uploads.rend(); ++it)
      if (it->kind != RecordedUpload::DESTROY) return it->pixels[0] / 10 - 1;
    return -1;
  }
};

TEST_F(Animations, LoopingSequenceFollowsTheTickClock) {
  write_file("flag.seq", seq("4 3 2 1\n0 1 2 1\n", 3));
  Texture* t = load_texture("@flag.seq");
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->animation, nullptr);
  EXPECT_EQ(t->levels, 3);
  EXPECT_EQ(shown_frame(), 0);
  start_animation(t, 100);
  const int expect[] = {0, 0, 1, 1, 2, 2, 1, 1, 0, 0, 1};
  for (int i = 0; i < 11; i++) {
    update_animations(100 + i);
    EXPECT_EQ(shown_frame(), expect[i]) << i;
  }
  uint64_t updates = g_texture_recorder.updates;
  update_animations(50);  // before the start: the first entry
  EXPECT_EQ(shown_frame(), 0);
  pause_animation(t);
  update_animations(104);
  EXPECT_EQ(g_texture_recorder.updates, updates + 1);
}

TEST_F(Animations, NonLoopingSequenceStopsOnItsLastEntry) {
  write_file("once.seq", seq("3 2 1 0 1 0 1 ", 2));
  Texture* t = load_texture("@once.seq");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(shown_frame(), 1);
  start_animation(t, 0);
  update_animations(1);
  EXPECT_EQ(shown_frame(), 0);
  update_animations(1000000);
  EXPECT_EQ(shown_frame(), 1);
}

TEST_F(Animations, PngFramesAndPurging) {
  write_png("f0.png", solid(4, 4, 3, 10));
  write_png("f1.png", solid(4, 4, 3, 20));
  write_file("mixed.seq", "ANIM1 2 2 0 1\n1 0\nPNG @f0.png\nPNG\n   @f1.png  \n");
  int generation = advance_texture_generation();
  Texture* t = load_texture("@mixed.seq");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(shown_frame(), 1);
  update_animations(1);  // zero ticks per frame plays one frame per tick
  EXPECT_EQ(shown_frame(), 0);
  EXPECT_EQ(animation_count(), 1);
  advance_texture_generation();
  purge_textures(false);
  EXPECT_EQ(animation_count(), 0);
  EXPECT_EQ(cached_texture_count(), 0);
  EXPECT_GT(texture_generation(), generation);
  update_animations(5);  // nothing left to touch
}

TEST_F(Animations, BrokenFilesAreRefusedWithTheirMessages) {
  write_png("rgb.png", solid(4, 4, 3, 1));
  write_png("wide.png", solid(8, 4, 4, 1));
  std::string frame = j7_text(solid(4, 4, 4, 10));
  struct Case {
    std::string text, message;
  } cases[] = {
      {"ANIM1 1 2 1 1 0\n" + frame + "GIF 1\n", "Error reading .seq frame 1"},
      {"ANIM1 1 2 1 1 0\n" + frame, "EOF while reading .seq"},
      {"ANIM1 1 2 1 1 0\n" + frame + "PNG", "EOF while reading .seq"},
      {"ANIM1 1 1 1 1 0\nPNG @missing.png\n", "Can't read @missing.png"},
      {"ANIM1 1 2 1 1 0\n" + frame + "PNG @wide.png\n", "Width/height mismatch reading .seq"},
      {"ANIM1 1 2 1 1 0\n" + frame + "PNG @rgb.png\n", "Depth mismatch reading .seq"},
      {"ANIM1 1 1 1 1 5\n" + frame, "Bad frame number 5 in .seq"},
      {"ANIM1 0 1 1 1\n", "Bad .seq header in '@bad.seq'"},
      {"ANIM1 2 1 1 1 0", "EOF while reading .seq"},
  };
  for (const Case& c : cases) {
    clear_message_lines();
    write_file("bad.seq", c.text);
    EXPECT_EQ(load_texture("@bad.seq"), nullptr) << c.message;
    EXPECT_TRUE(shown(c.message)) << c.message << " / " << (message_line(0) ? message_line(0) : "");
  }
  EXPECT_EQ(animation_count(), 0);
  EXPECT_TRUE(g_texture_recorder.live.empty());
}

TEST_F(TextureCache, ImageTableKeepsChainsAndGenerations) {
  write_file("shadow.pgm", "P2 4 2 255 0 10 20 30 40 50 60 70");
  write_png("grass.png", 16, 16);
  advance_texture_generation();
  Image* grey = load_image("@shadow.pgm");
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(grey->channels, 1);
  EXPECT_EQ(grey->levels, 3);
  EXPECT_EQ(image_level(*grey, 1)[0], (0 + 10 + 40 + 50) >> 2);
  Image* grass = load_image("@grass.png");
  ASSERT_NE(grass, nullptr);
  EXPECT_EQ(load_image("@GRASS.png"), grass);
  EXPECT_EQ(cached_image_count(), 2);
  advance_texture_generation();
  load_image("@grass.png");
  purge_textures(false);
  EXPECT_EQ(cached_image_count(), 1);
  EXPECT_EQ(load_image("@missing.ppm"), nullptr);
  EXPECT_EQ(g_texture_recorder.creates, 0u);  // images never reach the GPU
}

TEST_F(TextureCache, ListsTexturesWithAPrefix) {
  for (const char* name : {"rider_body_red.png", "bikes/rider_body_blue.png", "rider_body_red_norm.png",
                           "rider_body_x_spec.png", "rider_head_a.png", "rider_body_note.txt"})
    write_file(name, "x");
  TextureChoices list = list_textures_with_prefix("rider_body_");
  EXPECT_EQ(list.files, (std::vector<std::string>{"", "@bikes/rider_body_blue.png", "@rider_body_red.png"}));
  EXPECT_EQ(list.names, (std::vector<std::string>{"default", "blue", "red"}));
  EXPECT_EQ(list_textures_with_prefix("nothing").files.size(), 1u);
}

}  // namespace
