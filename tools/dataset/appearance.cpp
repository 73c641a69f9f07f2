// Appearance choices the menus list by prefix: riding gear ("gear_"),
// helmets ("helmet_"), wheels ("wheels_") and, for every bike stem, bike
// graphics ("<stem>-"), some of them with their number plate colours in
// the description ("[numberbackground:r,g,b]", "[numberforeground:r,g,b]").
#include <cstring>
#include <set>

#include "bike/bike_model.h"
#include "tools/dataset/bike_parts.h"
#include "tools/dataset/dataset.h"

namespace dvdata {

namespace {

struct Colour {
  const char* name;
  Rgb main, second;
};

// The colours the robot riders' personalities name.
const Colour COLOURS[] = {
    {"black", {0.1, 0.1, 0.11}, {0.85, 0.1, 0.1}},  {"blue", {0.1, 0.25, 0.75}, {0.95, 0.95, 0.95}},
    {"green", {0.3, 0.7, 0.12}, {0.08, 0.08, 0.08}}, {"orange", {0.95, 0.45, 0.05}, {0.1, 0.1, 0.12}},
    {"purple", {0.45, 0.15, 0.6}, {0.95, 0.8, 0.1}}, {"red", {0.82, 0.08, 0.06}, {0.95, 0.95, 0.95}},
    {"white", {0.92, 0.92, 0.94}, {0.1, 0.1, 0.12}}, {"yellow", {0.95, 0.82, 0.06}, {0.1, 0.2, 0.6}},
};

void put_rgb(DataSet* set, const std::string& name, const Picture& p, const std::string& text = std::string()) {
  std::vector<uint8_t> rgb = p.rgb();
  put_member(set, "looks.saf", name,
             text.empty() ? png_rgb_bytes(rgb.data(), p.width, p.height)
                          : png_rgb_bytes_text(rgb.data(), p.width, p.height, text));
}

}  // namespace

void build_appearance_textures(DataSet* set) {
  for (const Colour& c : COLOURS) {
    put_rgb(set, format("gear_%s.png", c.name), gear_texture(c.main, c.second));
    put_rgb(set, format("helmet_%s.png", c.name), helmet_texture(c.main, c.second));
  }
  static const char* const wheel_names[3] = {"gold", "blue", "red"};
  for (int i = 0; i < 3; i++) put_rgb(set, format("wheels_%s.png", wheel_names[i]), wheel_look(i + 1));
  // Two graphics kits per bike: black plastics with white numbers, and
  // white plastics with the stock black numbers.
  const BikeModel* table = bike_model_table();
  std::set<std::string> done;
  for (int i = 0; i < BIKE_MODEL_COUNT; i++) {
    std::string texture = table[i].files[FILE_BIKE_TEXTURE] + 1;
    std::string stem = texture.substr(0, texture.size() - 4);
    if (!done.insert(stem).second) continue;
    BikeLook look = bike_look(stem);
    put_rgb(set, stem + "-black.png", bike_texture(look, 1),
            "Black kit [numberbackground:0.05,0.05,0.05] [numberforeground:1,1,1]");
    put_rgb(set, stem + "-white.png", bike_texture(look, 2), "White kit");
  }
}

}  // namespace dvdata
