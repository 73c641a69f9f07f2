#include "render/capabilities.h"

#include <cstdio>
#include <cstring>

#include "track/terrain.h"

bool extension_present(const char* list, const char* name) {
  if (!list || !name || !name[0]) return false;
  size_t length = strlen(name);
  for (const char* p = list; (p = strstr(p, name)) != nullptr; p++) {
    bool starts = p == list || p[-1] == ' ';
    bool ends = p[length] == '\0' || p[length] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

void parse_gl_version(const char* version, int* major, int* minor) {
  *major = 0;
  *minor = 0;
  if (!version || sscanf(version, "%d.%d", major, minor) != 2) {
    *major = 0;
    *minor = 0;
  }
}

void describe_gl(GlInfo* info, const char* vendor, const char* renderer, const char* version,
                 const char* extensions) {
  info->vendor = vendor ? vendor : "NULL";
  info->renderer = renderer ? renderer : "NULL";
  info->version = version ? version : "NULL";
  info->extensions = extensions ? extensions : "NULL";
  parse_gl_version(version, &info->major, &info->minor);
  const char* e = info->extensions.c_str();
  info->generate_mipmap = extension_present(e, "GL_SGIS_generate_mipmap");
  info->framebuffer_object = extension_present(e, "GL_EXT_framebuffer_object");
  info->multitexture = extension_present(e, "GL_ARB_multitexture");
  info->fragment_shader = extension_present(e, "GL_ARB_fragment_shader");
  info->vertex_shader = extension_present(e, "GL_ARB_vertex_shader");
  info->shader_objects = extension_present(e, "GL_ARB_shader_objects");
  info->clamp_to_edge = info->major > 1 || (info->major == 1 && info->minor >= 2) ||
                        extension_present(e, "GL_EXT_texture_edge_clamp") ||
                        extension_present(e, "GL_SGIS_texture_edge_clamp");
  info->texture_compression = info->major > 1;
  info->texture_units = 1;
}

bool shader_capable(const GlInfo& info) {
  return info.fragment_shader && info.vertex_shader && info.shader_objects && info.texture_units >= 4;
}

int usable_ground_method(const GlInfo& info, int wanted) {
  if (wanted == GROUND_DIRECT && !info.framebuffer_object) return GROUND_SOFTWARE;
  return wanted;
}
