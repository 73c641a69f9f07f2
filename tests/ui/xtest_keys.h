// Key presses the way a player makes them: through the X server, as XTest
// input to the game's window. libXtst is opened at run time (only its shared
// library is needed, not its headers); without it the tests that need it
// skip. Xlib stays inside xtest_keys.cpp: its type names clash with ours.
#pragma once

#include <string>

class XKeyboard {
 public:
  bool open(std::string* why);
  ~XKeyboard();
  // The top-level window titled `title`, or 0.
  unsigned long find_window(const char* title);
  // Puts the pointer in the window's top left corner and gives it the keyboard.
  void focus(unsigned long window);
  // One press and release of the key with this X key name ("Down",
  // "Return", "Escape", "q"), with time for the game to take both.
  void tap(const char* key, int times = 1);
  // Holds the key down (true) or lets it go (false), as a rider holds the throttle.
  void hold(const char* key, bool down);

 private:
  void* display_ = nullptr;
  void* library_ = nullptr;
  void* fake_key_ = nullptr;
  void* fake_motion_ = nullptr;
};
