// dvdata: builds the game's data set from code.
//
//   dvdata --out DIR
//
// Writes every track, bike, rider, texture, sound definition, HUD picture,
// font, series file and robot line file into DIR (the folder the game runs from), packs the
// shared assets into ".saf" archives, and prints the digests of "zzzz.saf"
// and of the fixed collision shapes. The output depends on nothing but this
// program: two runs write the same bytes. Exit code 1 when anything could
// not be written or the held digests disagree with what was built.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/data_digests.h"
#include "core/datafile.h"
#include "tools/dataset/dataset.h"

using namespace dvdata;

namespace {

void usage() { fprintf(stderr, "usage: dvdata --out DIR\n"); }

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--out") == 0 && i + 1 < argc) out = argv[++i];
    else if (strncmp(argv[i], "--out=", 6) == 0) out = argv[i] + 6;
    else {
      usage();
      return 1;
    }
  }
  if (out.empty()) {
    usage();
    return 1;
  }
  if (out.back() != '/') out += '/';
  mkdir(out.c_str(), 0755);
  // The game's own writers put "@" names into the first search directory.
  set_search_directories({out});

  DataSet set;
  set.out = out;
  build_bike_shapes(&set);
  build_check_archive(&set);
  build_ground_textures(&set);
  build_sky_and_effects(&set);
  build_track_objects(&set);
  build_bike_models(&set);
  build_rider_models(&set);
  build_appearance_textures(&set);
  build_sounds(&set);
  build_hud_images(&set);
  build_series(&set);
  build_fonts(&set);
  // The archives first: the tracks read their own files back through the
  // data-file layer, which must find the shared ones too.
  write_archives(&set);
  set.archives.clear();
  build_rabbithill(&set);
  build_second_track(&set);
  write_archives(&set);
  if (set.failed) return 1;
  build_robot_lines(&set, {"rabbithill", "harborarena"});
  if (set.failed) return 1;

  invalidate_catalogue();
  std::string game = game_data_digest((out + "zzzz.saf").c_str());
  std::string fixed = fixed_models_digest();
  printf("zzzz.saf digest:     %s\n", game.c_str());
  printf("fixed models digest: %s\n", fixed.c_str());
  bool held = game == GAME_DATA_DIGEST && fixed == FIXED_MODEL_DIGESTS[0];
  if (!held) {
    fprintf(stderr,
            "dvdata: the digests held in core/data_digests.h differ from the data just built;\n"
            "        update them there or the game will refuse this data set\n");
    return 1;
  }
  return 0;
}
