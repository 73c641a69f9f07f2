#include "xtest_keys.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

namespace {

typedef int (*FakeKey)(Display*, unsigned, Bool, unsigned long);
typedef int (*FakeMotion)(Display*, int, int, int, unsigned long);

}  // namespace

bool XKeyboard::open(std::string* why) {
  display_ = XOpenDisplay(nullptr);
  if (!display_) {
    *why = "can't open the X display";
    return false;
  }
  library_ = dlopen("libXtst.so.6", RTLD_NOW);
  if (library_) {
    fake_key_ = dlsym(library_, "XTestFakeKeyEvent");
    fake_motion_ = dlsym(library_, "XTestFakeMotionEvent");
  }
  if (!fake_key_ || !fake_motion_) {
    *why = "libXtst.so.6 is not installed (apt-get install libxtst6)";
    return false;
  }
  return true;
}

XKeyboard::~XKeyboard() {
  if (display_) XCloseDisplay(static_cast<Display*>(display_));
  if (library_) dlclose(library_);
}

unsigned long XKeyboard::find_window(const char* title) {
  Display* display = static_cast<Display*>(display_);
  Window root = DefaultRootWindow(display), parent, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; i++) {
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) && name) {
      if (strcmp(name, title) == 0) found = children[i];
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

void XKeyboard::focus(unsigned long window) {
  Display* display = static_cast<Display*>(display_);
  XWindowAttributes a;
  if (XGetWindowAttributes(display, window, &a)) {
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    // Inside the window's corner, off the menu's items.
    reinterpret_cast<FakeMotion>(fake_motion_)(display, -1, x + 3, y + 3, 0);
  }
  XRaiseWindow(display, window);
  XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  XSync(display, False);
}

void XKeyboard::tap(const char* key, int times) {
  Display* display = static_cast<Display*>(display_);
  unsigned code = XKeysymToKeycode(display, XStringToKeysym(key));
  FakeKey fake = reinterpret_cast<FakeKey>(fake_key_);
  for (int i = 0; i < times; i++) {
    fake(display, code, True, 0);
    XFlush(display);
    usleep(40000);
    fake(display, code, False, 0);
    XFlush(display);
    usleep(70000);
  }
}

void XKeyboard::hold(const char* key, bool down) {
  Display* display = static_cast<Display*>(display_);
  unsigned code = XKeysymToKeycode(display, XStringToKeysym(key));
  reinterpret_cast<FakeKey>(fake_key_)(display, code, down ? True : False, 0);
  XFlush(display);
  usleep(40000);
}
