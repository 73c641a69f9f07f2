// Reading the part shapes of the data set through the data-file layer.
#include <vector>

#include "bike/part_shapes.h"
#include "core/datafile.h"
#include "core/message.h"

int load_part_shapes(PartShapes* shapes) {
  struct Entry {
    const char* name;
    CollisionShape* shape;
  };
  const Entry entries[] = {
      {"@generic_frame.shp", &shapes->frame},
      {"@generic_fork_upper.shp", &shapes->fork_upper},
      {"@generic_fork_lower.shp", &shapes->fork_lower},
      {"@generic_swingarm.shp", &shapes->swingarm},
      {"@generic_rider.shp", &shapes->rider},
  };
  int taken = 0;
  for (const Entry& e : entries) {
    std::vector<unsigned char> bytes;
    if (!data_read_all(e.name, bytes)) continue;  // optional: the shape made in code stays
    ShapeMesh mesh;
    char why[64] = "no vertices";
    CollisionShape fitted;
    if (!parse_shape_mesh((const char*)bytes.data(), bytes.size(), &mesh, why, sizeof why) ||
        !fit_collision_shape(mesh, &fitted)) {
      show_message("Bad collision shape '%.200s': %s", e.name, why);
      continue;
    }
    *e.shape = fitted;
    taken++;
  }
  return taken;
}
