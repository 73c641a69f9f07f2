// Window, OpenGL context, display modes, frame begin/end, frame read-back and
// message boxes over SDL2.
#include <cstdio>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif

#include "platform/log.h"
#include "platform/platform.h"
#include "platform/sdl_internal.h"

// Under the leak checker: the GL driver's libraries are unloaded when the
// context goes, and what they still hold at exit is then reported from an
// unknown module that no suppression can name. Keeping them mapped lets the
// tests' suppressions see the driver's own allocations for what they are.
static void keep_gl_driver_mapped() {
#if defined(__SANITIZE_ADDRESS__)
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        const char* name = info->dlpi_name;
        if (name && (strstr(name, "_dri.so") || strstr(name, "libGLX") || strstr(name, "libLLVM") ||
                     strstr(name, "libgallium") || strstr(name, "libGL.so") || strstr(name, "libglapi"))) {
          dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        }
        return 0;
      },
      nullptr);
#endif
}

namespace {

SDL_Window* g_window = nullptr;
SDL_GLContext g_context = nullptr;
bool g_window_closed = false;
bool g_options_logged = false;

// GL 1.0 entry points the read-back needs, fetched by name like every other.
typedef void (*ReadPixelsFn)(int, int, int, int, unsigned, unsigned, void*);
typedef void (*PixelStoreiFn)(unsigned, int);
constexpr unsigned GL_RGB_ = 0x1907;
constexpr unsigned GL_UNSIGNED_BYTE_ = 0x1401;
constexpr unsigned GL_PACK_ALIGNMENT_ = 0x0D05;

// At the first window the platform's switches are read and logged.
//
// "threaded": SDL2 requires events to be pumped on the thread that created the
// window (on X11 and Wayland the connection is not safe to share), so a second
// message thread cannot be realised. The option is read and logged as given;
// when on, a line says the window's events stay on the main thread. Nothing in
// the game depends on it: events are stamped with the time they happened, so
// tick delivery is the same either way.
void log_platform_options() {
  if (g_options_logged) return;
  g_options_logged = true;
  int threaded = option_flag("threaded", 0);
  int fullscreen = option_flag("fullscreen", 0);
  log_printf("Options:\n");
  log_printf("%10s [%s]\n", "threaded:", threaded ? "on" : "off");
  log_printf("%10s [%s]\n", "fullscreen:", fullscreen ? "on" : "off");
  if (threaded) log_printf("threaded: window events are pumped on the main thread under SDL\n");
}

void set_gl_attributes(const WindowSettings& s, bool minimal) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, 0);
  if (minimal) return;
  bool sixteen = s.colour_bits > 0 && s.colour_bits <= 16;
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, sixteen ? 5 : 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, sixteen ? 6 : 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, sixteen ? 5 : 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, s.depth_bits > 0 ? s.depth_bits : 16);
}

bool try_create(const WindowSettings& s, bool fullscreen, bool minimal) {
  set_gl_attributes(s, minimal);
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
  int w = s.width, h = s.height;
  if (fullscreen) {
    if (w <= 0 || h <= 0) {
      flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
      SDL_DisplayMode desktop;
      if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
        w = desktop.w;
        h = desktop.h;
      }
    } else {
      flags |= SDL_WINDOW_FULLSCREEN;
    }
  } else {
    flags |= SDL_WINDOW_RESIZABLE;
  }
  if (w <= 0) w = 640;
  if (h <= 0) h = 480;
  g_window = SDL_CreateWindow(s.title ? s.title : "", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, flags);
  if (!g_window) {
    log_printf("Can't create a %dx%d window: %s\n", w, h, SDL_GetError());
    return false;
  }
  if (fullscreen && !(flags & SDL_WINDOW_FULLSCREEN_DESKTOP)) {
    SDL_DisplayMode want = {0, w, h, 0, nullptr};
    SDL_DisplayMode closest;
    if (SDL_GetClosestDisplayMode(0, &want, &closest)) SDL_SetWindowDisplayMode(g_window, &closest);
  }
  g_context = SDL_GL_CreateContext(g_window);
  if (!g_context) {
    log_printf("Can't create an OpenGL context: %s\n", SDL_GetError());
    SDL_DestroyWindow(g_window);
    g_window = nullptr;
    return false;
  }
  SDL_GL_MakeCurrent(g_window, g_context);
  keep_gl_driver_mapped();
  return true;
}

void log_window(const WindowSettings& s, bool fullscreen) {
  int r = 0, g = 0, b = 0, depth = 0, w = 0, h = 0;
  SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &r);
  SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &g);
  SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &b);
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
  SDL_GL_GetDrawableSize(g_window, &w, &h);
  log_printf("Window %dx%d%s, colour %d/%d/%d, depth %d bits, video driver %s\n", w, h,
             fullscreen ? " full screen" : "", r, g, b, depth, SDL_GetCurrentVideoDriver());
}

}  // namespace

bool sdl_init(Uint32 flags) {
  // SDL turns SIGINT and SIGTERM into a quit event only while it is pumping;
  // ours set the closed flag directly and also work during start-up.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  Uint32 missing = flags & ~SDL_WasInit(flags);
  if (!missing) return true;
  if (SDL_InitSubSystem(missing) != 0) {
    log_printf("SDL could not start (0x%x): %s\n", (unsigned)missing, SDL_GetError());
    return false;
  }
  return true;
}

SDL_Window* sdl_window() { return g_window; }

void sdl_window_event(const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    g_window_closed = true;
  } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE && g_window &&
             event.window.windowID == SDL_GetWindowID(g_window)) {
    g_window_closed = true;
  }
}

bool create_window(const WindowSettings& settings) {
  install_shutdown_signals();
  log_platform_options();
  if (g_window) destroy_window();
  if (!sdl_init(SDL_INIT_VIDEO)) return false;
  // Without a display SDL falls back on its off-screen driver, and the game
  // would run where nobody can see it; only a driver asked for by name may
  // be one of those.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  if (driver && (strcmp(driver, "offscreen") == 0 || strcmp(driver, "dummy") == 0) && !(asked && asked[0])) {
    log_printf("No display to open a window on (SDL_VIDEODRIVER=%s runs without one)\n", driver);
    return false;
  }
  bool fullscreen = settings.fullscreen || option_flag("fullscreen", 0);
  if (!try_create(settings, fullscreen, false)) {
    log_printf("Retrying with the driver's default pixel format\n");
    if (!try_create(settings, fullscreen, true)) return false;
  }
  log_window(settings, fullscreen);
  sdl_input_window_created();
  return true;
}

void destroy_window() {
  if (g_context) SDL_GL_DeleteContext(g_context);
  if (g_window) SDL_DestroyWindow(g_window);
  g_context = nullptr;
  g_window = nullptr;
}

bool window_is_open() { return g_window != nullptr; }

bool begin_frame() {
  if (!g_window) return false;
  sdl_pump_events();
  Uint32 flags = SDL_GetWindowFlags(g_window);
  if (flags & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN)) return false;
  return SDL_GL_MakeCurrent(g_window, g_context) == 0;
}

bool end_frame() {
  if (!g_window || !g_context || window_closed()) return false;
  SDL_GL_SwapWindow(g_window);
  return true;
}

bool window_closed() { return g_window_closed || shutdown_requested(); }

void platform_reset_for_tests() {
  g_window_closed = false;
  g_options_logged = false;
  clear_shutdown_request_for_tests();
}

void drawable_size(int* width, int* height) {
  *width = 0;
  *height = 0;
  if (g_window) SDL_GL_GetDrawableSize(g_window, width, height);
}

void* gl_proc_address(const char* name) {
  if (!g_context || !name) return nullptr;
  return SDL_GL_GetProcAddress(name);
}

bool read_frame_rgb(std::vector<uint8_t>* rgb, int* width, int* height) {
  int w, h;
  drawable_size(&w, &h);
  auto read_pixels = (ReadPixelsFn)gl_proc_address("glReadPixels");
  auto pixel_store = (PixelStoreiFn)gl_proc_address("glPixelStorei");
  if (w <= 0 || h <= 0 || !read_pixels || !pixel_store) return false;
  size_t row = (size_t)w * 3;
  std::vector<uint8_t> bottom_up(row * (size_t)h);
  pixel_store(GL_PACK_ALIGNMENT_, 1);
  read_pixels(0, 0, w, h, GL_RGB_, GL_UNSIGNED_BYTE_, bottom_up.data());
  rgb->resize(bottom_up.size());
  for (int y = 0; y < h; y++) memcpy(rgb->data() + (size_t)y * row, bottom_up.data() + (size_t)(h - 1 - y) * row, row);
  *width = w;
  *height = h;
  return true;
}

bool write_frame_ppm(FILE* out) {
  std::vector<uint8_t> rgb;
  int w, h;
  if (!read_frame_rgb(&rgb, &w, &h)) return false;
  if (fprintf(out, "P6\n%d %d\n255\n", w, h) < 0) return false;
  return fwrite(rgb.data(), 1, rgb.size(), out) == rgb.size();
}

std::vector<DisplayMode> list_display_modes() {
  std::vector<DisplayMode> modes;
  if (!sdl_init(SDL_INIT_VIDEO)) return modes;
  int n = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < n; i++) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    modes.push_back({m.w, m.h, (int)SDL_BITSPERPIXEL(m.format), m.refresh_rate});
  }
  return modes;
}

bool show_native_message_box(const char* title, const char* text) {
  // Unattended runs (tests, the ride harness) must never wait on a click.
  if (!option_flag("message-box", 1)) return false;
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, g_window) == 0;
}

void platform_message_box(const char* title, const char* text) {
  log_printf("%s: %s%s", title, text, (text[0] && text[strlen(text) - 1] == '\n') ? "" : "\n");
  if (show_native_message_box(title, text)) return;
  fprintf(stderr, "%s: %s%s", title, text, (text[0] && text[strlen(text) - 1] == '\n') ? "" : "\n");
}

void close_platform_devices() {
  close_audio();
  destroy_window();
}

void platform_shutdown() {
  close_platform_devices();
  sdl_input_shutdown();
  SDL_Quit();
}
