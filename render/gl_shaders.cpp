#include "render/gl_shaders.h"

#include <cstddef>
#include <vector>

#include "platform/log.h"
#include "render/gl_api.h"

namespace {

struct Program {
  GLhandleARB vertex = 0, fragment = 0, program = 0;
  bool bones_looked_up = false;
  GLint nbones = -1, bone_c = -1, bone_t = -1, bone_r = -1, env_matrix = -1;
};

Program g_programs[PROGRAM_COUNT];
bool g_compiled = false;
bool g_active = false;
int g_current = 0;

// Logs the information log of a shader or program when it says anything.
void log_info(GLhandleARB object, const char* what, const char* program) {
  GLint length = 0;
  gl.GetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
  if (length <= 1) return;
  std::vector<GLcharARB> text((size_t)length + 1, 0);
  GLsizei written = 0;
  gl.GetInfoLogARB(object, length, &written, text.data());
  if (written <= 0 || !text[0]) return;
  log_printf("%s for %s:\n%s\n", what, program, text.data());
}

GLhandleARB compile_one(GLenum type, const char* source, const char* what, const char* program) {
  GLhandleARB shader = gl.CreateShaderObjectARB(type);
  if (!shader) return 0;
  const GLcharARB* text = source;
  gl.ShaderSourceARB(shader, 1, &text, nullptr);
  gl.CompileShaderARB(shader);
  log_info(shader, what, program);
  GLint ok = 0;
  gl.GetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &ok);
  if (!ok) {
    gl.DeleteObjectARB(shader);
    return 0;
  }
  return shader;
}

void bind_sampler(GLhandleARB program, const char* name, int unit) {
  GLint where = gl.GetUniformLocationARB(program, name);
  if (where >= 0) gl.Uniform1iARB(where, unit);
}

bool build_program(int index) {
  Program& p = g_programs[index];
  const char* name = program_name(index);
  p.vertex = compile_one(GL_VERTEX_SHADER_ARB, shader_source(index, false), "vertex shader status", name);
  if (!p.vertex) return false;
  p.fragment = compile_one(GL_FRAGMENT_SHADER_ARB, shader_source(index, true), "fragment shader status", name);
  if (!p.fragment) return false;
  p.program = gl.CreateProgramObjectARB();
  if (!p.program) return false;
  gl.AttachObjectARB(p.program, p.vertex);
  gl.AttachObjectARB(p.program, p.fragment);
  gl.LinkProgramARB(p.program);
  log_info(p.program, "link status", name);
  GLint ok = 0;
  gl.GetObjectParameterivARB(p.program, GL_OBJECT_LINK_STATUS_ARB, &ok);
  if (!ok) return false;
  gl.UseProgramObjectARB(p.program);
  bind_sampler(p.program, "tex", 0);
  bind_sampler(p.program, "nmap", 1);
  bind_sampler(p.program, "base", 1);
  bind_sampler(p.program, "smap", 2);
  // Unskinned until someone says otherwise, and an upright environment.
  GLint nbones = gl.GetUniformLocationARB(p.program, "nbones");
  if (nbones >= 0) gl.Uniform1iARB(nbones, 0);
  GLint env = gl.GetUniformLocationARB(p.program, "env_matrix");
  if (env >= 0) {
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    gl.UniformMatrix3fvARB(env, 1, GL_FALSE, identity);
  }
  gl.UseProgramObjectARB(0);
  return true;
}

void look_up_bones(Program* p) {
  if (p->bones_looked_up) return;
  p->bones_looked_up = true;
  p->nbones = gl.GetUniformLocationARB(p->program, "nbones");
  p->bone_c = gl.GetUniformLocationARB(p->program, "bone_c");
  p->bone_t = gl.GetUniformLocationARB(p->program, "bone_t");
  p->bone_r = gl.GetUniformLocationARB(p->program, "bone_r");
  p->env_matrix = gl.GetUniformLocationARB(p->program, "env_matrix");
}

}  // namespace

bool compile_shaders() {
  free_shaders();
  if (!gl.shaders) return false;
  for (int i = 1; i < PROGRAM_COUNT; i++) {
    if (!build_program(i)) {
      free_shaders();
      return false;
    }
  }
  g_compiled = true;
  return true;
}

void free_shaders() {
  if (gl.shaders) {
    if (g_current) gl.UseProgramObjectARB(0);
    for (Program& p : g_programs) {
      if (p.program) gl.DeleteObjectARB(p.program);
      if (p.vertex) gl.DeleteObjectARB(p.vertex);
      if (p.fragment) gl.DeleteObjectARB(p.fragment);
    }
  }
  for (Program& p : g_programs) p = Program{};
  g_compiled = false;
  g_active = false;
  g_current = 0;
}

bool shaders_active() { return g_active; }
void set_shaders_active(bool active) {
  if (!active && g_current) use_program(0);
  g_active = active && g_compiled;
}

void use_program(int program) {
  if (!g_active || program < 0 || program >= PROGRAM_COUNT || program == g_current) return;
  gl.UseProgramObjectARB(program ? g_programs[program].program : 0);
  g_current = program;
}

int current_program() { return g_current; }

void set_bones(int count, const float* centres, const float* translations, const float* rotations) {
  if (!g_active || !g_current) return;
  Program& p = g_programs[g_current];
  look_up_bones(&p);
  if (count > MAX_BONE) count = MAX_BONE;
  if (count < 0) count = 0;
  if (p.nbones >= 0) gl.Uniform1iARB(p.nbones, count);
  if (count == 0) return;
  if (p.bone_c >= 0) gl.Uniform3fvARB(p.bone_c, count, centres);
  if (p.bone_t >= 0) gl.Uniform3fvARB(p.bone_t, count, translations);
  if (p.bone_r >= 0) gl.UniformMatrix3fvARB(p.bone_r, count, GL_FALSE, rotations);
}

void set_environment_matrix(const float m[9]) {
  if (!g_active || !g_current) return;
  Program& p = g_programs[g_current];
  look_up_bones(&p);
  if (p.env_matrix >= 0) gl.UniformMatrix3fvARB(p.env_matrix, 1, GL_FALSE, m);
}
