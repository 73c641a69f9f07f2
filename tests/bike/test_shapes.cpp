#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bike/part_shapes.h"
#include "core/datafile.h"
#include "core/message.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

bool parse(const std::string& text, ShapeMesh* mesh, std::string* why = nullptr) {
  char error[64] = "";
  bool ok = parse_shape_mesh(text.data(), text.size(), mesh, error, sizeof error);
  if (why) *why = error;
  return ok;
}

// A box mesh of half sizes (hx, hy, hz) in the shape format.
std::string box_text(double hx, double hy, double hz) {
  std::string s = "8 12\n";
  for (int i = 0; i < 8; i++) {
    char line[128];
    snprintf(line, sizeof line, "%g %g %g 0 1 0 0 0\n", i & 1 ? hx : -hx, i & 2 ? hy : -hy, i & 4 ? hz : -hz);
    s += line;
  }
  s += "0 1 2 1 3 2 4 5 6 5 7 6 0 1 4 1 5 4 2 3 6 3 7 6 0 2 4 2 6 4 1 3 5 3 7 5\n";
  return s;
}

}  // namespace

TEST(ShapeFile, ReadsTheMeshFormat) {
  ShapeMesh mesh;
  ASSERT_TRUE(parse("3 1\n0 0 0  0 1 0  0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 1\n0 1 2\n", &mesh));
  ASSERT_EQ(mesh.positions.size(), 3u);
  EXPECT_DOUBLE_EQ(mesh.positions[1].x, 1);
  ASSERT_EQ(mesh.triangles.size(), 3u);
  EXPECT_EQ(mesh.triangles[2], 2);
  // Line breaks carry no meaning; trailing text after the last index is ignored.
  ASSERT_TRUE(parse("3 1 0 0 0 0 1 0 0 0 1 0 0 0 1 0 1 0 0 0 1 0 1 0 0 1 0 1 2", &mesh));
}

TEST(ShapeFile, RejectsBadInputWithoutTouchingTheMesh) {
  ShapeMesh mesh;
  ASSERT_TRUE(parse(box_text(1, 1, 1), &mesh));
  std::string why;
  const char* bad[] = {
      "",                                              // empty
      "3",                                             // no triangle count
      "0 1\n0 1 2\n",                                  // no vertices
      "70000 1\n",                                     // too many
      "-3 1\n",                                        // negative
      "2.5 1\n",                                       // not whole
      "3 1\n0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n",       // a vertex missing
      "3 1\n0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 x\n0 1 2\n",  // not a number
      "3 1\n0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 1\n0 1 3\n",  // index out of range
      "3 1\n0 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 1\n0 1\n",    // triangle cut short
      "3 1\nnan 0 0 0 1 0 0 0\n1 0 0 0 1 0 1 0\n0 0 1 0 1 0 0 1\n0 1 2\n",
  };
  for (const char* text : bad) {
    EXPECT_FALSE(parse(text, &mesh, &why)) << text;
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(mesh.positions.size(), 8u) << "mesh changed by a failed read";
  }
  // A word longer than any number is refused, not read past.
  std::string huge = "3 1 " + std::string(200, '1');
  EXPECT_FALSE(parse(huge, &mesh));
}

TEST(ShapeFile, FittedSpheresStayInsideAndCoverTheMesh) {
  ShapeMesh mesh;
  ASSERT_TRUE(parse(box_text(0.4, 0.8, 1.2), &mesh));
  CollisionShape shape;
  ASSERT_TRUE(fit_collision_shape(mesh, &shape));
  EXPECT_GE(shape.count, 8);  // every corner gets a sphere
  EXPECT_LE(shape.count, SHAPE_FITTED_SPHERES);
  for (int i = 0; i < shape.count; i++) {
    const ShapeSphere& s = shape.sphere[i];
    // Inside the box (up to rounding), touching one of its corners.
    EXPECT_LE(std::fabs(s.centre.x) + 1e-9, 0.4);
    EXPECT_LE(std::fabs(s.centre.z) + 1e-9, 1.2);
  }
  for (const DVec& corner : mesh.positions) {
    double nearest = 1e9;
    for (int i = 0; i < shape.count; i++)
      nearest = std::fmin(nearest, length(corner - shape.sphere[i].centre) - shape.sphere[i].radius);
    EXPECT_NEAR(nearest, 0, 1e-9);
  }
  EXPECT_NEAR(shape.bound_radius, length(DVec{0.4, 0.8, 1.2}), 1e-9);
  ShapeMesh empty;
  EXPECT_FALSE(fit_collision_shape(empty, &shape));
}

TEST(ShapeFile, GenericShapesAreBuiltInCode) {
  PartShapes shapes;
  build_default_part_shapes(&shapes);
  EXPECT_GT(shapes.frame.count, 6);
  EXPECT_GT(shapes.rider.count, 4);
  // The rider's helmet is the highest point, about 6.45 ft off the ground.
  double top = -1e9;
  for (int i = 0; i < shapes.rider.count; i++)
    top = std::fmax(top, shapes.rider.sphere[i].centre.y + shapes.rider.sphere[i].radius);
  EXPECT_NEAR(4.5 + top, 6.45, 0.01);
  EXPECT_EQ(g_part_shapes.frame.count, shapes.frame.count);
}

TEST(ShapeFile, LoadsTheDataSetShapesAndKeepsTheGenericOnesOnFailure) {
  char dir[] = "/tmp/dv_shapes_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string base = dir;
  auto write = [&](const char* name, const std::string& text) {
    FILE* f = fopen((base + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  };
  write("generic_frame.shp", box_text(0.4, 0.8, 1.2));
  write("generic_rider.shp", "3 1\n0 0 0 0 1 0 0 0\n");  // cut short
  set_search_directories({base});
  clear_message_lines();
  PartShapes shapes;
  build_default_part_shapes(&shapes);
  PartShapes generic = shapes;
  EXPECT_EQ(load_part_shapes(&shapes), 1);
  EXPECT_EQ(shapes.frame.count, 8);  // from the file
  EXPECT_EQ(shapes.rider.count, generic.rider.count);  // bad file: the generic shape stays
  EXPECT_EQ(shapes.swingarm.count, generic.swingarm.count);  // missing file: silent
  ASSERT_NE(message_line(0), nullptr);
  EXPECT_EQ(std::string(message_line(0)).rfind("Bad collision shape '@generic_rider.shp'", 0), 0u);
  EXPECT_EQ(message_line(1), nullptr);
  set_search_directories({});
  for (const char* name : {"generic_frame.shp", "generic_rider.shp"}) remove((base + "/" + name).c_str());
  rmdir(dir);
}
