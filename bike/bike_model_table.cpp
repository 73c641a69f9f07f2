// The 55 bike models. Geometry is shared by every model; each engine class
// has one set of suspension ranges, damping bases, engine speed marks and
// torque curves; each model row carries its masses, gearing, inertia and
// spring ranges. The full records are assembled once, on first use.
#include <cstdio>
#include <cstring>

#include "bike/bike_model.h"

namespace {

constexpr int T = TORQUE_TABLE_ENTRIES;

// --- torque curves, entry i at i x 500 rpm (lbf ft) ---------------------------

// 450 four-stroke, full throttle: peak 34.1 at 7000 rpm, about 50 hp at 8000,
// no torque at 12000 and beyond (the rev limiter).
const float FULL_450F[T] = {
    5,       5,       5,       5,      5,       8.64847, 12.2969, 15.9454, 19.5939, 23.2423,
    26.8908, 30.2713, 33.1758, 33.9367, 34.1387, 34.1037, 33.154,  29.659,  26.7274, 24.215,
    22.5841, 21.3586, 20.722,  10.361, 0,       -10,     -11,     -12,     -13,     -14,
    -15,     -16,     -17,     -18,    -19,     -20,     -21,     -22,     -23,     -24,
    -25,     -26,     -27,     -28,    -29,     -30,     -31,     -32,     -33,     -34};
const float CLOSED_450F[T] = {2,   2,   1,   0,   -1,  -1,  -2,  -2,  -3,  -3,  -4,  -4,  -5,
                              -5,  -6,  -6,  -7,  -7,  -8,  -8,  -9,  -9,  -10, -10, -11, -11,
                              -12, -12, -13, -13, -14, -14, -15, -15, -16, -16, -17, -17, -18,
                              -18, -19, -19, -20, -20, -21, -21, -22, -22, -23, -23};

// 250 four-stroke: 19.8 peak at 9500-10000 rpm, about 41 hp at 12000, revs to
// 14500 so that the 12500 rpm upshift mark is always reachable.
const float FULL_250F[T] = {3,    3,    3,    3,    3,    4.5,  6,    7.5,  9,    10.5,
                            12,   13.4, 14.7, 15.9, 16.9, 17.8, 18.6, 19.2, 19.6, 19.8,
                            19.8, 19.6, 19.2, 18.6, 17.8, 16.8, 15.4, 11,   5.5,  0,
                            -8,   -8.5, -9,   -9.5, -10,  -10.5, -11, -11.5, -12, -12.5,
                            -13,  -13.5, -14, -14.5, -15, -15.5, -16, -16.5, -17, -17.5};
const float CLOSED_250F[T] = {1.5,   1.5,   0.75,  0,     -0.75, -0.75, -1.5,  -1.5,  -2.25, -2.25,
                              -3,    -3,    -3.75, -3.75, -4.5,  -4.5,  -5.25, -5.25, -6,    -6,
                              -6.75, -6.75, -7.5,  -7.5,  -8.25, -8.25, -9,    -9,    -9.75, -9.75,
                              -10.5, -10.5, -11.25, -11.25, -12, -12,   -12.75, -12.75, -13.5, -13.5,
                              -14.25, -14.25, -15, -15,   -15.75, -15.75, -16.5, -16.5, -17.25, -17.25};

// 250 two-stroke: a peaky curve, 30.4 at 8000 rpm (about 46 hp), nothing past
// 11000; two-strokes have no rev-limiter braking, only the curve running out.
const float FULL_250[T] = {3,    3,    3,    3,  3, 5, 7, 9, 11, 13, 15.5, 18.5, 22, 25.5, 28.5, 30.2, 30.4,
                           28.6, 25,   19.5, 12.5, 5.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                           0,    0,    0,    0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
// Two-strokes brake less on a closed throttle than four-strokes.
const float CLOSED_2T[T] = {1,    1,    0.5,  0,    -0.5, -0.5, -1,    -1,    -1.5,  -1.5,
                            -2,   -2,   -2.5, -2.5, -3,   -3,   -3.5,  -3.5,  -4,    -4,
                            -4.5, -4.5, -5,   -5,   -5.5, -5.5, -6,    -6,    -6.5,  -6.5,
                            -7,   -7,   -7.5, -7.5, -8,   -8,   -8.5,  -8.5,  -9,    -9,
                            -9.5, -9.5, -10,  -10,  -10.5, -10.5, -11, -11,   -11.5, -11.5};

// 125 two-stroke: peak 15.9664 at 10000 rpm, 2.10085 at 11500, nothing after.
const float FULL_125[T] = {1.5,  1.5,  1.5,  1.5,  1.5,  2,    2.6,  3.2,  3.9,     4.7,
                           5.6,  6.6,  7.7,  8.9,  10.1, 11.3, 12.5, 13.6, 14.6,    15.4,
                           15.9664, 13, 7.6, 2.10085, 0, 0, 0, 0, 0, 0,
                           0,    0,    0,    0,    0,    0,    0,    0,    0,       0,
                           0,    0,    0,    0,    0,    0,    0,    0,    0,       0};

// 50 two-stroke: small values, peak 4.31226 at 9000 rpm.
const float FULL_50[T] = {0.4, 0.4,  0.4, 0.4,  0.4, 0.55, 0.7, 0.85, 1,   1.2,  1.45, 1.75, 2.1,
                          2.5, 2.9,  3.35, 3.8, 4.15, 4.31226, 4.2, 3.9, 3.3, 2.3, 1, 0, 0,
                          0,   0,    0,   0,    0,   0,    0,   0,    0,   0,    0,    0,    0,
                          0,   0,    0,   0,    0,   0,    0,   0,    0,   0,    0};
const float CLOSED_50[T] = {0.3,   0.3,   0.15,  0,     -0.15, -0.15, -0.3,  -0.3,  -0.45, -0.45,
                            -0.6,  -0.6,  -0.75, -0.75, -0.9,  -0.9,  -1.05, -1.05, -1.2,  -1.2,
                            -1.35, -1.35, -1.5,  -1.5,  -1.65, -1.65, -1.8,  -1.8,  -1.95, -1.95,
                            -2.1,  -2.1,  -2.25, -2.25, -2.4,  -2.4,  -2.55, -2.55, -2.7,  -2.7,
                            -2.85, -2.85, -3,    -3,    -3.15, -3.15, -3.3,  -3.3,  -3.45, -3.45};

// --- engine classes ------------------------------------------------------------

struct ClassRow {
  const char* name;
  const float* closed;
  const float* full;
  float marks[3];  // auto-shift down, auto-shift up, upper mark (rpm)
  float drivetrain_stiffness, drivetrain_damping;
  float fork_preload[2], fork_air_length[2], shock_preload[2];
  float shock_rebound_damping;
};

enum ClassId { C450F, C250F, C250, C125, C50 };

// The downshift mark of each class sits below the upshift mark times the
// largest ratio step of its gearboxes, so an upshift never lands below it.
// Preloads are chosen so that the stock settings give a rider sag of about a
// third of the rear travel and a quarter of the fork travel.
const ClassRow CLASSES[] = {
    {"450f", CLOSED_450F, FULL_450F, {6000, 10500, 12000}, 7500, 0.75, {0, 0.04f}, {0.45f, 0.25f}, {0.08f, 0.22f}, 650},
    {"250f", CLOSED_250F, FULL_250F, {8000, 12500, 13250}, 7500, 0.75, {0, 0.04f}, {0.45f, 0.25f}, {0.07f, 0.21f}, 650},
    {"250", CLOSED_2T, FULL_250, {6000, 9000, 9800}, 7500, 0.75, {0, 0.04f}, {0.45f, 0.25f}, {0.08f, 0.22f}, 600},
    {"125", CLOSED_2T, FULL_125, {7800, 10600, 11300}, 7500, 0.75, {0, 0.04f}, {0.45f, 0.25f}, {0.09f, 0.23f}, 600},
    {"50", CLOSED_50, FULL_50, {5800, 10000, 10800}, 1200, 1, {0, 0.04f}, {0.45f, 0.25f}, {0.09f, 0.23f}, 600},
};

// --- the models ------------------------------------------------------------------

struct ModelRow {
  const char* name;
  const char* stem;
  ClassId engine;
  float frame_mass, fork_mass, swingarm_mass, rider_mass;
  float primary, countershaft, rear_sprocket;
  float gears[GEAR_COUNT];
  float inertia;
  float torque_scale;  // 350s run the class curve scaled
  float fork_spring[2], shock_spring[2];
};

#define S450 {376.303f, 913.878f}, {2486.29f, 5174.16f}
#define S250F {336, 873.6f}, {2217, 4905}
#define S250 {322.545f, 860.12f}, {2083.1f, 4770.98f}
#define S125 {322.545f, 860.12f}, {1814.32f, 4502.19f}
#define S50 {309.106f, 846.681f}, {1814.32f, 4502.19f}

// clang-format off
const ModelRow MODELS[BIKE_MODEL_COUNT] = {
  // name            stem            class  frame    fork      swingarm  rider    primary cs  rear  gears 1-6                                        inertia     torque
  {"450sxf(2016)",  "450sxfv2016",  C450F, 4.735f,  0.703125f, 0.5025f,  5.46875f, 2.452f, 13, 48, {2, 1.667f, 1.4f, 1.182f, 1, -1},             0.0088501f, 1, S450},
  {"crf450(2016)",  "crf450v2013",  C450F, 4.735f,  0.703125f, 0.5025f,  5.46875f, 2.739f, 13, 48, {1.8f, 1.471f, 1.235f, 1.05f, 0.9091f, -1},    0.0088501f, 1, S450},
  {"kx450f(2016)",  "kx450fv2016",  C450F, 4.735f,  0.703125f, 0.5025f,  5.46875f, 2.273f, 13, 50, {1.857f, 1.55f, 1.333f, 1.143f, 1, -1},        0.0088501f, 1, S450},
  {"rmz450(2016)",  "rmz450",       C450F, 4.735f,  0.703125f, 0.5025f,  5.46875f, 2.4f,   13, 49, {1.786f, 1.5f, 1.263f, 1.077f, 0.913f, -1},    0.0088501f, 1, S450},
  {"yz450f(2016)",  "yz450fv2014",  C450F, 4.735f,  0.703125f, 0.5025f,  5.46875f, 2.652f, 13, 49, {1.846f, 1.5f, 1.278f, 1.091f, 0.952f, -1},    0.0088501f, 1, S450},
  {"crf450(2013)",  "crf450v2013",  C450F, 4.78f,   0.703125f, 0.5025f,  5.46875f, 2.739f, 13, 48, {1.8f, 1.471f, 1.235f, 1.05f, 0.9091f, -1},    0.0088501f, 1, S450},
  {"kx450f(2013)",  "kx450f",       C450F, 4.78f,   0.703125f, 0.5025f,  5.46875f, 2.273f, 13, 50, {1.857f, 1.55f, 1.333f, 1.143f, 1, -1},        0.0088501f, 1, S450},
  {"rmz450(2013)",  "rmz450",       C450F, 4.78f,   0.703125f, 0.5025f,  5.46875f, 2.4f,   13, 49, {1.786f, 1.5f, 1.263f, 1.077f, 0.913f, -1},    0.0088501f, 1, S450},
  {"yz450f(2013)",  "yz450f",       C450F, 4.78f,   0.703125f, 0.5025f,  5.46875f, 2.652f, 13, 49, {1.846f, 1.5f, 1.278f, 1.091f, 0.952f, -1},    0.0088501f, 1, S450},
  {"450sxf(2013)",  "450sxfv2013",  C450F, 4.78f,   0.703125f, 0.5025f,  5.46875f, 2.452f, 13, 48, {2, 1.667f, 1.4f, 1.182f, 1, -1},             0.0088501f, 1, S450},
  {"350sxf(2013)",  "350sxfv2013",  C250F, 4.46f,   0.703125f, 0.5044f,  5.46875f, 3.042f, 13, 50, {2.125f, 1.75f, 1.45f, 1.25f, 1.091f, -1},     0.00585938f, 1.25f, S450},
  {"crf450(2011)",  "crf450",       C450F, 4.83f,   0.703125f, 0.5025f,  5.46875f, 2.739f, 13, 48, {1.8f, 1.471f, 1.235f, 1.05f, 0.9091f, -1},    0.0088501f, 1, S450},
  {"kx450f(2011)",  "kx450f",       C450F, 4.83f,   0.703125f, 0.5025f,  5.46875f, 2.273f, 13, 50, {1.857f, 1.55f, 1.333f, 1.143f, 1, -1},        0.0088501f, 1, S450},
  {"rmz450(2011)",  "rmz450",       C450F, 4.83f,   0.703125f, 0.5025f,  5.46875f, 2.4f,   13, 49, {1.786f, 1.5f, 1.263f, 1.077f, 0.913f, -1},    0.0088501f, 1, S450},
  {"yz450f(2011)",  "yz450f",       C450F, 4.83f,   0.703125f, 0.5025f,  5.46875f, 2.652f, 13, 50, {1.846f, 1.5f, 1.278f, 1.091f, 0.952f, -1},    0.0088501f, 1, S450},
  {"450sxf(2011)",  "450sxf",       C450F, 4.83f,   0.703125f, 0.5025f,  5.46875f, 2.452f, 13, 48, {2, 1.667f, 1.4f, 1.182f, 1, -1},             0.0088501f, 1, S450},
  {"350sxf(2011)",  "350sxf",       C450F, 4.6f,    0.703125f, 0.5025f,  5.46875f, 3.042f, 14, 50, {2.125f, 1.75f, 1.45f, 1.25f, 1.091f, -1},     0.00683594f, 0.85f, S450},
  {"250sx(2012)",   "250sx",        C250,  4.36562f, 0.75375f, 0.589375f, 5.46875f, 2.96f, 14, 50, {1.933f, 1.6f, 1.333f, 1.133f, 0.95f, -1},    0.00683594f, 1, S250},
  {"cr250(2007)",   "cr250",        C250,  4.4f,    0.75375f,  0.589375f, 5.46875f, 2.9f,  13, 48, {2, 1.6f, 1.35f, 1.14f, 0.96f, -1},           0.00683594f, 1, S250},
  {"kx250(2006)",   "kx250",        C250,  4.42f,   0.75375f,  0.589375f, 5.46875f, 2.8f,  14, 50, {2, 1.625f, 1.375f, 1.143f, 1, -1},           0.00683594f, 1, S250},
  {"rm250(2008)",   "rm250",        C250,  4.38f,   0.75375f,  0.589375f, 5.46875f, 2.95f, 13, 50, {1.917f, 1.563f, 1.3f, 1.1f, 0.957f, -1},     0.00683594f, 1, S250},
  {"yz250(2012)",   "yz250",        C250,  4.36562f, 0.75375f, 0.589375f, 5.46875f, 3,     14, 50, {1.929f, 1.533f, 1.278f, 1.091f, 0.9524f, -1}, 0.00683594f, 1, S250},
  {"crf250(2016)",  "crf250v2014",  C250F, 4.24f,   0.703125f, 0.5044f,  4.6875f, 3.167f, 13, 49, {2.357f, 1.889f, 1.556f, 1.333f, 1.136f, -1},  0.00488281f, 1, S250F},
  {"kx250f(2016)",  "kx250fv2013",  C250F, 4.24f,   0.703125f, 0.5044f,  4.6875f, 3.04f,  14, 51, {2.357f, 1.933f, 1.6f, 1.381f, 1.208f, -1},    0.00488281f, 1, S250F},
  {"rmz250(2016)",  "rmz250v2010",  C250F, 4.24f,   0.703125f, 0.5044f,  4.6875f, 3.35f,  13, 47, {2.286f, 1.875f, 1.579f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"yz250f(2016)",  "yz250fv2014",  C250F, 4.24f,   0.703125f, 0.5044f,  4.6875f, 3.352f, 13, 48, {2.308f, 1.857f, 1.565f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"250sxf(2016)",  "250sxfv2016",  C250F, 4.24f,   0.703125f, 0.5044f,  4.6875f, 3.042f, 13, 50, {2.462f, 2, 1.647f, 1.368f, 1.19f, -1},       0.00488281f, 1, S250F},
  {"crf250(2013)",  "crf250v2010",  C250F, 4.28f,   0.703125f, 0.5044f,  4.6875f, 3.047f, 13, 48, {2.357f, 1.889f, 1.556f, 1.333f, 1.136f, -1},  0.00488281f, 1, S250F},
  {"kx250f(2013)",  "kx250fv2013",  C250F, 4.28f,   0.703125f, 0.5044f,  4.6875f, 3.04f,  14, 51, {2.357f, 1.933f, 1.6f, 1.381f, 1.208f, -1},    0.00488281f, 1, S250F},
  {"rmz250(2013)",  "rmz250v2010",  C250F, 4.28f,   0.703125f, 0.5044f,  4.6875f, 3.35f,  13, 47, {2.286f, 1.875f, 1.579f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"yz250f(2013)",  "yz250fv2010",  C250F, 4.28f,   0.703125f, 0.5044f,  4.6875f, 3.352f, 13, 48, {2.308f, 1.857f, 1.565f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"250sxf(2013)",  "250sxfv2013",  C250F, 4.24f,   0.703125f, 0.5044f,  4.6875f, 3.042f, 13, 50, {2.462f, 2, 1.647f, 1.368f, 1.19f, 1.091f},   0.00488281f, 1, S250F},
  {"crf250(2009)",  "crf250",       C250F, 4.32f,   0.703125f, 0.5044f,  4.6875f, 3.047f, 13, 48, {2.357f, 1.889f, 1.556f, 1.333f, 1.136f, -1},  0.00488281f, 1, S250F},
  {"kx250f(2009)",  "kx250f",       C250F, 4.32f,   0.703125f, 0.5044f,  4.6875f, 3.04f,  14, 51, {2.357f, 1.933f, 1.6f, 1.381f, 1.208f, -1},    0.00488281f, 1, S250F},
  {"rmz250(2009)",  "rmz250",       C250F, 4.32f,   0.703125f, 0.5044f,  4.6875f, 3.35f,  13, 47, {2.286f, 1.875f, 1.579f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"yz250f(2009)",  "yz250f",       C250F, 4.32f,   0.703125f, 0.5044f,  4.6875f, 3.352f, 13, 48, {2.308f, 1.857f, 1.565f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"250sxf(2009)",  "250sxf",       C250F, 4.3f,    0.703125f, 0.5044f,  4.6875f, 3.042f, 13, 50, {2.462f, 2, 1.647f, 1.368f, 1.19f, -1},       0.00488281f, 1, S250F},
  {"crf250(2008)",  "crf250",       C250F, 4.34f,   0.703125f, 0.5044f,  4.6875f, 3.047f, 13, 48, {2.357f, 1.889f, 1.556f, 1.333f, 1.136f, -1},  0.00488281f, 1, S250F},
  {"kx250f(2008)",  "kx250f",       C250F, 4.34f,   0.703125f, 0.5044f,  4.6875f, 3.04f,  14, 51, {2.357f, 1.933f, 1.6f, 1.381f, 1.208f, -1},    0.00488281f, 1, S250F},
  {"rmz250(2008)",  "rmz250",       C250F, 4.34f,   0.703125f, 0.5044f,  4.6875f, 3.35f,  13, 47, {2.286f, 1.875f, 1.579f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"yz250f(2008)",  "yz250f",       C250F, 4.34f,   0.703125f, 0.5044f,  4.6875f, 3.352f, 13, 48, {2.308f, 1.857f, 1.565f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"cr125",         "cr125",        C125,  3.65375f, 0.739688f, 0.541875f, 4.6875f, 3.15f, 13, 52, {2.357f, 1.867f, 1.579f, 1.294f, 1.133f, 1},  0.00488281f, 1, S125},
  {"kx125",         "kx125",        C125,  3.66f,   0.739688f, 0.541875f, 4.6875f, 3.4f,   13, 51, {2.385f, 1.875f, 1.556f, 1.333f, 1.15f, 1},    0.00488281f, 1, S125},
  {"rm125",         "rm125",        C125,  3.67f,   0.739688f, 0.541875f, 4.6875f, 3.3f,   13, 50, {2.4f, 1.857f, 1.563f, 1.333f, 1.143f, 1},     0.00488281f, 1, S125},
  {"yz125",         "yz125",        C125,  3.64f,   0.739688f, 0.541875f, 4.6875f, 3.2f,   13, 50, {2.385f, 1.875f, 1.55f, 1.3f, 1.125f, 0.96f},  0.00488281f, 1, S125},
  {"125sx",         "125sx",        C125,  3.6f,    0.739688f, 0.541875f, 4.6875f, 3.11f,  13, 50, {2.333f, 1.867f, 1.55f, 1.333f, 1.15f, 1},     0.00488281f, 1, S125},
  {"crf250(2007)",  "crf250",       C250F, 4.36f,   0.703125f, 0.5044f,  4.6875f, 3.047f, 13, 48, {2.357f, 1.889f, 1.556f, 1.333f, 1.136f, -1},  0.00488281f, 1, S250F},
  {"kx250f(2007)",  "kx250f",       C250F, 4.36f,   0.703125f, 0.5044f,  4.6875f, 3.04f,  14, 51, {2.357f, 1.933f, 1.6f, 1.381f, 1.208f, -1},    0.00488281f, 1, S250F},
  {"rmz250(2007)",  "rmz250",       C250F, 4.36f,   0.703125f, 0.5044f,  4.6875f, 3.35f,  13, 47, {2.286f, 1.875f, 1.579f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"yz250f(2007)",  "yz250f",       C250F, 4.36f,   0.703125f, 0.5044f,  4.6875f, 3.352f, 13, 48, {2.308f, 1.857f, 1.565f, 1.35f, 1.19f, -1},    0.00488281f, 1, S250F},
  {"yz250f_se(2006)", "yz250f",     C250F, 4.36f,   0.703125f, 0.5044f,  4.6875f, 3.352f, 13, 49, {2.308f, 1.857f, 1.565f, 1.35f, 1.19f, -1},    0.00488281f, 1.05f, S250F},
  {"rs50cr",        "cr125",        C50,   3.34125f, 0.739688f, 0.541875f, 4.6875f, 3.714f, 12, 55, {3.091f, 2, 1.5f, 1.2f, 1.045f, 0.9565f},    0.00119358f, 1, S50},
  {"rs50kx",        "kx125",        C50,   3.35f,   0.739688f, 0.541875f, 4.6875f, 3.714f, 12, 54, {3.091f, 2, 1.5f, 1.2f, 1.045f, 0.9565f},     0.00119358f, 1, S50},
  {"rs50rm",        "rm125",        C50,   3.36f,   0.739688f, 0.541875f, 4.6875f, 3.8f,   12, 55, {3.0f, 2, 1.5f, 1.2f, 1.045f, 0.9565f},       0.00119358f, 1, S50},
  {"rs50yz",        "yz125",        C50,   3.33f,   0.739688f, 0.541875f, 4.6875f, 3.714f, 12, 56, {3.091f, 2, 1.5f, 1.2f, 1.045f, 0.9565f},     0.00119358f, 1, S50},
};
// clang-format on

// Rider figure (build frame): hands on the bars, elbows out, feet on the
// pegs, knees gripping the tank, hips over the seat; right side first.
const Vec3 RIDER_FIGURE[RIDER_FIGURE_POINTS] = {
    {1.25f, 3.55f, 2.35f}, {-1.25f, 3.55f, 2.35f}, {1.45f, 4.15f, 3.15f}, {-1.45f, 4.15f, 3.15f},
    {0.55f, 1.55f, 4.25f}, {-0.55f, 1.55f, 4.25f}, {0.7f, 3.0f, 3.3f},    {-0.7f, 3.0f, 3.3f},
    {0.45f, 3.7f, 4.35f},  {-0.45f, 3.7f, 4.35f},
};

void set_name(char* out, const char* text) {
  snprintf(out, MODEL_FILE_CHARS, "%s", text);
}

void build_record(const ModelRow& row, BikeModel* m) {
  const ClassRow& c = CLASSES[row.engine];
  memset(m, 0, sizeof *m);
  snprintf(m->name, sizeof m->name, "%s", row.name);
  snprintf(m->engine_class, sizeof m->engine_class, "%s", c.name);

  // Shared geometry and wheels.
  m->front_axle = {0, 1.09f, 1.11f};
  m->front_ring_radius = 0.8333f;
  m->front_section_radius = 0.3333f;
  m->front_ring_mass = 0.40625f;
  m->front_hub_radius = 0.5f;
  m->front_hub_mass = 0.15625f;
  m->rear_axle = {0, 1.04f, 6};
  m->rear_ring_radius = 0.75f;
  m->rear_section_radius = 0.3333f;
  m->rear_ring_mass = 0.46875f;
  m->rear_hub_radius = 0.5f;
  m->rear_hub_mass = 0.3125f;
  m->frame_position = {0, 1.98f, 3.6f};
  m->frame_mass = row.frame_mass;
  m->frame_box = {0.8333f, 1.6667f, 1.6667f};
  m->fork_upper_position = {0, 2.9f, 2.16f};
  m->swingarm_position = {0, 1.34f, 4.99f};
  m->swingarm_pivot = {0, 1.6f, 4.08f};
  m->fork_lower_position = {0, 1.77f, 1.59f};
  m->fork_leg_spacing = 0.8333f;
  m->fork_leg_length_factor = 3;
  m->fork_mass = row.fork_mass;

  // Suspension.
  m->fork_spring_rate[0] = row.fork_spring[0];
  m->fork_spring_rate[1] = row.fork_spring[1];
  m->fork_preload[0] = c.fork_preload[0];
  m->fork_preload[1] = c.fork_preload[1];
  m->fork_air_length[0] = c.fork_air_length[0];
  m->fork_air_length[1] = c.fork_air_length[1];
  m->fork_compression_damping = 60;
  m->fork_slow_compression = 60;
  m->fork_rebound_damping = 32;
  m->fork_slow_rebound = 30;
  m->fork_travel = 1;
  m->swingarm_mass = row.swingarm_mass;
  m->shock_spring_rate[0] = row.shock_spring[0];
  m->shock_spring_rate[1] = row.shock_spring[1];
  m->shock_preload[0] = c.shock_preload[0];
  m->shock_preload[1] = c.shock_preload[1];
  m->shock_compression_damping = 800;
  m->shock_slow_compression = 200;
  m->shock_rebound_damping = c.shock_rebound_damping;
  m->shock_slow_rebound = 150;
  m->linkage_end[0] = 0.283652f;
  m->linkage_end[1] = 0.413386f;
  m->swingarm_travel = 0.530304f;
  m->linkage_knee = 0.75f;
  m->linkage_slope[0] = 0.315039f;
  m->linkage_slope[1] = 0.460479f;
  m->linkage_slope[2] = 0.607049f;

  // Engine and drivetrain.
  m->primary_reduction = row.primary;
  m->countershaft_sprocket = row.countershaft;
  m->rear_sprocket = row.rear_sprocket;
  for (int g = 0; g < GEAR_COUNT; g++) m->gear_ratio[g] = row.gears[g];
  m->engine_inertia = row.inertia;
  m->drivetrain_stiffness = c.drivetrain_stiffness;
  m->drivetrain_damping = c.drivetrain_damping;
  for (int i = 0; i < T; i++) {
    m->closed_torque[i] = c.closed[i] * row.torque_scale;
    m->full_torque[i] = c.full[i] * row.torque_scale;
  }
  for (int i = 0; i < 3; i++) m->engine_speed_marks[i] = c.marks[i];
  m->reserved_69_71[0] = 0;
  m->reserved_69_71[1] = 1.0f / 12;
  m->reserved_69_71[2] = 1.0f / 12;

  // Rider.
  m->rider_position = {0, 4.5f, 4.12f};
  m->reserved_73_74[0] = -2.0f / 3;
  m->reserved_73_74[1] = 0.5f;
  m->rider_mass = row.rider_mass;

  char text[MODEL_FILE_CHARS];
  auto own = [&](int index, const char* ending) {
    snprintf(text, sizeof text, "@%.24s%s", row.stem, ending);
    set_name(m->files[index], text);
  };
  own(FILE_FRAME_MODEL, "_frame.jm");
  set_name(m->files[FILE_FRAME_SHAPE], "@generic_frame.shp");
  own(FILE_BIKE_TEXTURE, ".png");
  own(FILE_FORK_UPPER_MODEL, "_fork_upper.jm");
  set_name(m->files[FILE_FORK_UPPER_SHAPE], "@generic_fork_upper.shp");
  own(FILE_FORK_LOWER_MODEL, "_fork_lower.jm");
  set_name(m->files[FILE_FORK_LOWER_SHAPE], "@generic_fork_lower.shp");
  own(FILE_SWINGARM_MODEL, "_swingarm.jm");
  set_name(m->files[FILE_SWINGARM_SHAPE], "@generic_swingarm.shp");
  set_name(m->files[FILE_FRONT_WHEEL_MODEL], "@front_wheel.jm");
  set_name(m->files[FILE_FRONT_WHEEL_SHAPE], "@front_wheel.shp");
  set_name(m->files[FILE_REAR_WHEEL_MODEL], "@rear_wheel.jm");
  set_name(m->files[FILE_REAR_WHEEL_SHAPE], "@rear_wheel.shp");
  set_name(m->files[FILE_WHEEL_TEXTURE], "@wheels.png");
  set_name(m->files[FILE_RIDER_HEAD_MODEL], "@rider_head.jm");
  set_name(m->files[FILE_RIDER_HEAD_TEXTURE], "@rider_head.png");
  set_name(m->files[FILE_RIDER_BODY_MODEL], "@rider_body.jm");
  set_name(m->files[FILE_RIDER_BODY_FP_MODEL], "@rider_body_fp.jm");
  set_name(m->files[FILE_RIDER_SHAPE], "@generic_rider.shp");
  set_name(m->files[FILE_RIDER_BODY_TEXTURE], "@rider_body.png");
  own(FILE_SIDE_PLATES_MODEL, "_side_plates.jm");
  own(FILE_FRONT_PLATE_MODEL, "_front_plate.jm");
  set_name(m->files[FILE_RIDER_PLATE_MODEL], "@rider_plate.jm");

  m->zero_entry = 0;
  for (int i = 0; i < RIDER_FIGURE_POINTS; i++) m->rider_figure[i] = RIDER_FIGURE[i];
}

struct Table {
  BikeModel records[BIKE_MODEL_COUNT];
  Table() {
    for (int i = 0; i < BIKE_MODEL_COUNT; i++) build_record(MODELS[i], &records[i]);
  }
};

}  // namespace

const BikeModel* bike_model_table() {
  static const Table table;
  return table.records;
}
