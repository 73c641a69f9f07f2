// What the GL can do, as the renderer decides it from the driver's strings:
// the whole-word extension test, the version, the features the drawing code
// chooses between (multitexturing, framebuffer objects, generated mipmaps,
// shader objects, compression, clamp-to-edge) and the rules built on them
// (shader capability, the ground method the GL can paint with). Nothing here
// calls GL; the probe in gl_probe.cpp fills the record from a live context.
#pragma once

#include <string>

struct GlInfo {
  std::string vendor, renderer, version, extensions;  // "NULL" where the GL gave none
  int major = 0, minor = 0;
  bool generate_mipmap = false;     // GL_SGIS_generate_mipmap
  bool framebuffer_object = false;  // GL_EXT_framebuffer_object with its entry points
  bool multitexture = false;        // GL_ARB_multitexture with its entry points
  bool fragment_shader = false;     // GL_ARB_fragment_shader
  bool vertex_shader = false;       // GL_ARB_vertex_shader
  bool shader_objects = false;      // the ARB shader-object entry points were all found
  bool clamp_to_edge = false;       // GL 1.2, or an edge-clamp extension
  bool texture_compression = false; // GL major version above 1
  int texture_units = 1;            // queried only with multitexturing
};

// True when `name` stands in the blank-separated list as a whole word:
// preceded by the start or a blank and followed by the end or a blank.
bool extension_present(const char* list, const char* name);

// "%d.%d" from the start of the version string; 0.0 when it does not parse.
void parse_gl_version(const char* version, int* major, int* minor);

// Fills the strings, version and extension flags from what glGetString
// returned (nullptr reads "NULL"). Entry-point checks and the unit count are
// the probe's; this sets only what the strings decide.
void describe_gl(GlInfo* info, const char* vendor, const char* renderer, const char* version,
                 const char* extensions);

// The shader capability rule: "GL_ARB_fragment_shader" present and at least
// four texture units (the shader-object entry points too, without which no
// program can be built).
bool shader_capable(const GlInfo& info);

// The ground method the GL can paint with for the chosen one: framebuffer
// painting (3) needs framebuffer objects and falls back to the software
// method (1); the others are always possible.
int usable_ground_method(const GlInfo& info, int wanted);
