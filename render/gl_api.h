// The OpenGL entry points the renderer calls, fetched by name once the
// context exists. The game never links the GL library's functions directly:
// every call goes through the table `gl`, loaded by load_gl_api() from the
// platform's lookup (SDL_GL_GetProcAddress) or, in tests, from a fake GL.
//
// The table has three parts: the GL 1.x core that every context has, and
// the extension groups (multitexture, framebuffer objects, shader objects),
// which count as present only when the extension string names them and
// every one of their entry points was found.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

// X(return type, name without "gl", parameter list)
#define DV_GL_CORE_FUNCTIONS(X)                                                                     \
  X(const GLubyte*, GetString, (GLenum name))                                                      \
  X(void, GetIntegerv, (GLenum name, GLint * data))                                                \
  X(void, GetFloatv, (GLenum name, GLfloat * data))                                                \
  X(GLenum, GetError, (void))                                                                      \
  X(void, Enable, (GLenum cap))                                                                    \
  X(void, Disable, (GLenum cap))                                                                   \
  X(GLboolean, IsEnabled, (GLenum cap))                                                            \
  X(void, BlendFunc, (GLenum sfactor, GLenum dfactor))                                             \
  X(void, BlendColor, (GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha))                   \
  X(void, AlphaFunc, (GLenum func, GLclampf ref))                                                  \
  X(void, DepthMask, (GLboolean flag))                                                             \
  X(void, DepthFunc, (GLenum func))                                                                \
  X(void, ColorMask, (GLboolean r, GLboolean g, GLboolean b, GLboolean a))                         \
  X(void, CullFace, (GLenum mode))                                                                 \
  X(void, FrontFace, (GLenum mode))                                                                \
  X(void, PolygonOffset, (GLfloat factor, GLfloat units))                                          \
  X(void, Viewport, (GLint x, GLint y, GLsizei w, GLsizei h))                                      \
  X(void, Scissor, (GLint x, GLint y, GLsizei w, GLsizei h))                                       \
  X(void, Clear, (GLbitfield mask))                                                                \
  X(void, ClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a))                            \
  X(void, MatrixMode, (GLenum mode))                                                               \
  X(void, LoadIdentity, (void))                                                                    \
  X(void, LoadMatrixf, (const GLfloat* m))                                                         \
  X(void, MultMatrixf, (const GLfloat* m))                                                         \
  X(void, PushMatrix, (void))                                                                      \
  X(void, PopMatrix, (void))                                                                       \
  X(void, Frustum, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f))       \
  X(void, Ortho, (GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f))         \
  X(void, Translatef, (GLfloat x, GLfloat y, GLfloat z))                                           \
  X(void, Rotatef, (GLfloat angle, GLfloat x, GLfloat y, GLfloat z))                               \
  X(void, Scalef, (GLfloat x, GLfloat y, GLfloat z))                                               \
  X(void, Begin, (GLenum mode))                                                                    \
  X(void, End, (void))                                                                             \
  X(void, Vertex2f, (GLfloat x, GLfloat y))                                                        \
  X(void, Vertex3f, (GLfloat x, GLfloat y, GLfloat z))                                             \
  X(void, Vertex3fv, (const GLfloat* v))                                                           \
  X(void, Normal3f, (GLfloat x, GLfloat y, GLfloat z))                                             \
  X(void, Normal3fv, (const GLfloat* v))                                                           \
  X(void, TexCoord2f, (GLfloat s, GLfloat t))                                                      \
  X(void, TexCoord2fv, (const GLfloat* v))                                                         \
  X(void, Color3f, (GLfloat r, GLfloat g, GLfloat b))                                              \
  X(void, Color4f, (GLfloat r, GLfloat g, GLfloat b, GLfloat a))                                   \
  X(void, Color4ub, (GLubyte r, GLubyte g, GLubyte b, GLubyte a))                                  \
  X(void, Color4fv, (const GLfloat* v))                                                            \
  X(void, Lightfv, (GLenum light, GLenum name, const GLfloat* v))                                  \
  X(void, LightModelfv, (GLenum name, const GLfloat* v))                                           \
  X(void, LightModeli, (GLenum name, GLint v))                                                     \
  X(void, Materialfv, (GLenum face, GLenum name, const GLfloat* v))                                \
  X(void, Materialf, (GLenum face, GLenum name, GLfloat v))                                        \
  X(void, ShadeModel, (GLenum mode))                                                               \
  X(void, Fogi, (GLenum name, GLint v))                                                            \
  X(void, Fogf, (GLenum name, GLfloat v))                                                          \
  X(void, Fogfv, (GLenum name, const GLfloat* v))                                                  \
  X(void, Hint, (GLenum target, GLenum mode))                                                      \
  X(void, GenTextures, (GLsizei n, GLuint * textures))                                             \
  X(void, DeleteTextures, (GLsizei n, const GLuint* textures))                                     \
  X(void, BindTexture, (GLenum target, GLuint texture))                                            \
  X(void, TexParameteri, (GLenum target, GLenum name, GLint v))                                    \
  X(void, TexParameterfv, (GLenum target, GLenum name, const GLfloat* v))                          \
  X(void, TexImage2D, (GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h, GLint border, \
                       GLenum format, GLenum type, const void* pixels))                            \
  X(void, TexSubImage2D, (GLenum target, GLint level, GLint x, GLint y, GLsizei w, GLsizei h,      \
                          GLenum format, GLenum type, const void* pixels))                         \
  X(void, CopyTexSubImage2D, (GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint x,  \
                              GLint y, GLsizei w, GLsizei h))                                      \
  X(void, GetTexParameteriv, (GLenum target, GLenum name, GLint * v))                             \
  X(void, GetTexParameterfv, (GLenum target, GLenum name, GLfloat * v))                           \
  X(GLboolean, IsTexture, (GLuint texture))                                                        \
  X(void, GetTexLevelParameteriv, (GLenum target, GLint level, GLenum name, GLint * v))            \
  X(void, GetTexImage, (GLenum target, GLint level, GLenum format, GLenum type, void* pixels))     \
  X(void, TexEnvi, (GLenum target, GLenum name, GLint v))                                          \
  X(void, TexEnvfv, (GLenum target, GLenum name, const GLfloat* v))                                \
  X(void, PixelStorei, (GLenum name, GLint v))                                                     \
  X(void, ReadPixels, (GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, void* pixels)) \
  X(void, Finish, (void))                                                                          \
  X(void, Flush, (void))                                                                           \
  X(GLuint, GenLists, (GLsizei range))                                                             \
  X(void, DeleteLists, (GLuint list, GLsizei range))                                               \
  X(void, NewList, (GLuint list, GLenum mode))                                                     \
  X(void, EndList, (void))                                                                         \
  X(void, CallList, (GLuint list))                                                                 \
  X(void, EnableClientState, (GLenum array))                                                       \
  X(void, DisableClientState, (GLenum array))                                                      \
  X(void, VertexPointer, (GLint size, GLenum type, GLsizei stride, const void* pointer))           \
  X(void, NormalPointer, (GLenum type, GLsizei stride, const void* pointer))                       \
  X(void, TexCoordPointer, (GLint size, GLenum type, GLsizei stride, const void* pointer))         \
  X(void, ColorPointer, (GLint size, GLenum type, GLsizei stride, const void* pointer))            \
  X(void, DrawElements, (GLenum mode, GLsizei count, GLenum type, const void* indices))            \
  X(void, DrawArrays, (GLenum mode, GLint first, GLsizei count))

#define DV_GL_MULTITEXTURE_FUNCTIONS(X)                                 \
  X(void, ActiveTextureARB, (GLenum unit))                              \
  X(void, ClientActiveTextureARB, (GLenum unit))                        \
  X(void, MultiTexCoord2fARB, (GLenum unit, GLfloat s, GLfloat t))      \
  X(void, MultiTexCoord3fARB, (GLenum unit, GLfloat s, GLfloat t, GLfloat r))

#define DV_GL_FRAMEBUFFER_FUNCTIONS(X)                                                              \
  X(void, GenFramebuffersEXT, (GLsizei n, GLuint * framebuffers))                                  \
  X(void, DeleteFramebuffersEXT, (GLsizei n, const GLuint* framebuffers))                          \
  X(void, BindFramebufferEXT, (GLenum target, GLuint framebuffer))                                 \
  X(void, FramebufferTexture2DEXT, (GLenum target, GLenum attachment, GLenum textarget, GLuint texture, \
                                    GLint level))                                                  \
  X(GLenum, CheckFramebufferStatusEXT, (GLenum target))                                            \
  X(void, GenerateMipmapEXT, (GLenum target))

#define DV_GL_SHADER_FUNCTIONS(X)                                                                    \
  X(GLhandleARB, CreateShaderObjectARB, (GLenum type))                                              \
  X(void, ShaderSourceARB, (GLhandleARB shader, GLsizei count, const GLcharARB** text, const GLint* length)) \
  X(void, CompileShaderARB, (GLhandleARB shader))                                                   \
  X(GLhandleARB, CreateProgramObjectARB, (void))                                                    \
  X(void, AttachObjectARB, (GLhandleARB program, GLhandleARB shader))                               \
  X(void, LinkProgramARB, (GLhandleARB program))                                                    \
  X(void, UseProgramObjectARB, (GLhandleARB program))                                               \
  X(void, DeleteObjectARB, (GLhandleARB object))                                                    \
  X(void, GetObjectParameterivARB, (GLhandleARB object, GLenum name, GLint * v))                    \
  X(void, GetInfoLogARB, (GLhandleARB object, GLsizei size, GLsizei * length, GLcharARB * log))     \
  X(GLint, GetUniformLocationARB, (GLhandleARB program, const GLcharARB* name))                     \
  X(void, Uniform1iARB, (GLint location, GLint v))                                                  \
  X(void, Uniform1fARB, (GLint location, GLfloat v))                                                \
  X(void, Uniform3fvARB, (GLint location, GLsizei count, const GLfloat* v))                         \
  X(void, UniformMatrix3fvARB, (GLint location, GLsizei count, GLboolean transpose, const GLfloat* v))

#define DV_GL_MEMBER(ret, name, params) ret(*name) params;

struct GlApi {
  DV_GL_CORE_FUNCTIONS(DV_GL_MEMBER)
  DV_GL_MULTITEXTURE_FUNCTIONS(DV_GL_MEMBER)
  DV_GL_FRAMEBUFFER_FUNCTIONS(DV_GL_MEMBER)
  DV_GL_SHADER_FUNCTIONS(DV_GL_MEMBER)
  // Which groups were found complete (the extension test is the probe's).
  bool core, multitexture, framebuffer, shaders;
};

#undef DV_GL_MEMBER

extern GlApi gl;

// The platform's lookup of an entry point by its name ("glBegin").
typedef void* (*GlProcLookup)(const char* name);

// Fetches every entry point. False when a core one is missing (no usable
// context); the extension groups record whether all of theirs were found.
bool load_gl_api(GlProcLookup lookup);
// Forgets every entry point (the context is gone).
void unload_gl_api();
