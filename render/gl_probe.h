// The one probe of the GL after the context exists: the entry points by
// name, the driver's strings and extension flags, the texture units, and the
// decision whether shader programs run (the setting, the capability rule,
// and a successful compile of all seven).
#pragma once

#include "render/capabilities.h"
#include "render/gl_api.h"

extern GlInfo g_gl_info;

// Loads the entry points and fills g_gl_info; logs "%d texture units\n".
// False when the core entry points or the version string are missing.
bool probe_gl(GlProcLookup lookup);

// Shader programs active: the setting is on, the GL is capable and every
// program compiled and linked. Otherwise everything stays fixed function.
bool start_shader_programs(bool use_shaders_setting);
