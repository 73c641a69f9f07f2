// Input over SDL2: the stamped event queue the ticks read, key translation to
// our key codes, mouse, joysticks and game controllers with hot-plug, axes and
// text input.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/log.h"
#include "platform/platform.h"
#include "platform/sdl_internal.h"

namespace {

// Enough for a second of frantic typing and mouse clicking between two frames;
// past that new events are dropped (and counted) rather than growing forever.
constexpr int QUEUE_CAPACITY = 1024;

struct EventQueue {
  InputEvent events[QUEUE_CAPACITY];
  int head = 0;
  int count = 0;
  long dropped = 0;
};

struct JoystickSlot {
  SDL_Joystick* joystick = nullptr;
  SDL_GameController* pad = nullptr;
  SDL_JoystickID id = -1;
  uint64_t held = 0;  // bit k: key joystick_key(slot, k) is down
  uint8_t hat = 0;
  char name[64] = {};
};

EventQueue g_queue;
JoystickSlot g_slots[JOYSTICK_SLOTS];
bool g_text_input = false;
bool g_joysticks_started = false;
int g_cursor_x = 0, g_cursor_y = 0;  // window coordinates
int g_mouse_x = 0, g_mouse_y = 0;    // the mouse-driven virtual stick
int g_watch[AXIS_COUNT];
bool g_watching = false;
// When SDL's queue was last found empty. An event seen afterwards was queued
// after that moment, so it is never stamped earlier: SDL's millisecond stamps
// can read up to two milliseconds early, which could otherwise hand an event
// to a tick that had already closed without it.
double g_seen_empty_at = -1e300;

void push_event(const InputEvent& e) {
  if (g_queue.count == QUEUE_CAPACITY) {
    if (g_queue.dropped++ == 0) log_printf("Input queue full; events are being dropped\n");
    return;
  }
  g_queue.events[(g_queue.head + g_queue.count) % QUEUE_CAPACITY] = e;
  g_queue.count++;
}

void push_key(int key, bool pressed, bool repeat, double time) {
  InputEvent e = {};
  e.kind = INPUT_KEY;
  e.key = key;
  e.pressed = pressed;
  e.repeat = repeat;
  e.time = time;
  push_event(e);
}

bool pop_due(double deadline, InputEvent* out) {
  if (g_queue.count == 0 || g_queue.events[g_queue.head].time > deadline) return false;
  *out = g_queue.events[g_queue.head];
  g_queue.head = (g_queue.head + 1) % QUEUE_CAPACITY;
  g_queue.count--;
  if (g_queue.count == 0) g_queue.dropped = 0;
  return true;
}

// Keys found by their position: everything that is not a printable character.
int key_from_scancode(SDL_Scancode s) {
  if (s >= SDL_SCANCODE_F1 && s <= SDL_SCANCODE_F12) return KEY_F1 + (s - SDL_SCANCODE_F1);
  if (s >= SDL_SCANCODE_F13 && s <= SDL_SCANCODE_F24) return KEY_F1 + 12 + (s - SDL_SCANCODE_F13);
  if (s >= SDL_SCANCODE_KP_1 && s <= SDL_SCANCODE_KP_9) return KEY_KEYPAD_0 + 1 + (s - SDL_SCANCODE_KP_1);
  switch (s) {
    case SDL_SCANCODE_KP_0: return KEY_KEYPAD_0;
    case SDL_SCANCODE_KP_PERIOD: return KEY_KEYPAD_PERIOD;
    case SDL_SCANCODE_KP_DIVIDE: return KEY_KEYPAD_DIVIDE;
    case SDL_SCANCODE_KP_MULTIPLY: return KEY_KEYPAD_MULTIPLY;
    case SDL_SCANCODE_KP_MINUS: return KEY_KEYPAD_MINUS;
    case SDL_SCANCODE_KP_PLUS: return KEY_KEYPAD_PLUS;
    case SDL_SCANCODE_KP_ENTER: return KEY_KEYPAD_ENTER;
    case SDL_SCANCODE_KP_EQUALS: return KEY_KEYPAD_EQUALS;
    case SDL_SCANCODE_UP: return KEY_UP;
    case SDL_SCANCODE_DOWN: return KEY_DOWN;
    case SDL_SCANCODE_LEFT: return KEY_LEFT;
    case SDL_SCANCODE_RIGHT: return KEY_RIGHT;
    case SDL_SCANCODE_INSERT: return KEY_INSERT;
    case SDL_SCANCODE_HOME: return KEY_HOME;
    case SDL_SCANCODE_END: return KEY_END;
    case SDL_SCANCODE_PAGEUP: return KEY_PAGE_UP;
    case SDL_SCANCODE_PAGEDOWN: return KEY_PAGE_DOWN;
    case SDL_SCANCODE_LSHIFT: return KEY_LEFT_SHIFT;
    case SDL_SCANCODE_RSHIFT: return KEY_RIGHT_SHIFT;
    case SDL_SCANCODE_LCTRL: return KEY_LEFT_CTRL;
    case SDL_SCANCODE_RCTRL: return KEY_RIGHT_CTRL;
    case SDL_SCANCODE_LALT: return KEY_LEFT_ALT;
    case SDL_SCANCODE_RALT: return KEY_RIGHT_ALT;
    case SDL_SCANCODE_LGUI: return KEY_LEFT_SUPER;
    case SDL_SCANCODE_RGUI: return KEY_RIGHT_SUPER;
    case SDL_SCANCODE_APPLICATION: return KEY_MENU;
    case SDL_SCANCODE_CAPSLOCK: return KEY_CAPS_LOCK;
    case SDL_SCANCODE_NUMLOCKCLEAR: return KEY_NUM_LOCK;
    case SDL_SCANCODE_SCROLLLOCK: return KEY_SCROLL_LOCK;
    case SDL_SCANCODE_PRINTSCREEN: return KEY_PRINT_SCREEN;
    case SDL_SCANCODE_PAUSE: return KEY_PAUSE;
    default: return KEY_NONE;
  }
}

// Printable keys on layouts whose symbol is not ASCII fall back to the
// character the key carries on a US layout, so every key can be bound.
int key_from_us_position(SDL_Scancode s) {
  if (s >= SDL_SCANCODE_A && s <= SDL_SCANCODE_Z) return 'a' + (s - SDL_SCANCODE_A);
  if (s >= SDL_SCANCODE_1 && s <= SDL_SCANCODE_9) return '1' + (s - SDL_SCANCODE_1);
  switch (s) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_MINUS: return '-';
    case SDL_SCANCODE_EQUALS: return '=';
    case SDL_SCANCODE_LEFTBRACKET: return '[';
    case SDL_SCANCODE_RIGHTBRACKET: return ']';
    case SDL_SCANCODE_BACKSLASH: return '\\';
    case SDL_SCANCODE_SEMICOLON: return ';';
    case SDL_SCANCODE_APOSTROPHE: return '\'';
    case SDL_SCANCODE_GRAVE: return '`';
    case SDL_SCANCODE_COMMA: return ',';
    case SDL_SCANCODE_PERIOD: return '.';
    case SDL_SCANCODE_SLASH: return '/';
    default: return KEY_NONE;
  }
}

// Printable keys follow the keyboard layout (the key labelled "z" is "z"), the
// rest follow the key's position.
int translate_key(const SDL_Keysym& k) {
  int by_position = key_from_scancode(k.scancode);
  if (by_position != KEY_NONE) return by_position;
  SDL_Keycode sym = k.sym;
  switch (sym) {
    case SDLK_BACKSPACE: return KEY_BACKSPACE;
    case SDLK_TAB: return KEY_TAB;
    case SDLK_RETURN: return KEY_ENTER;
    case SDLK_ESCAPE: return KEY_ESC;
    case SDLK_SPACE: return KEY_SPACE;
    case SDLK_DELETE: return KEY_DELETE;
    default: break;
  }
  if (sym > 32 && sym < 127) return (sym >= 'A' && sym <= 'Z') ? sym - 'A' + 'a' : (int)sym;
  return key_from_us_position(k.scancode);
}

int mouse_button_key(Uint8 button) {
  switch (button) {
    case SDL_BUTTON_LEFT: return KEY_CURSOR_LEFT;
    case SDL_BUTTON_MIDDLE: return KEY_CURSOR_MIDDLE;
    case SDL_BUTTON_RIGHT: return KEY_CURSOR_RIGHT;
    case SDL_BUTTON_X1: return KEY_CURSOR_X1;
    case SDL_BUTTON_X2: return KEY_CURSOR_X2;
    default: return KEY_NONE;
  }
}

int slot_of(SDL_JoystickID id) {
  for (int s = 0; s < JOYSTICK_SLOTS; s++)
    if (g_slots[s].joystick && g_slots[s].id == id) return s;
  return -1;
}

void joystick_key_event(int slot, int index, bool pressed, double time) {
  uint64_t bit = 1ull << index;
  bool was = (g_slots[slot].held & bit) != 0;
  if (was == pressed) return;
  g_slots[slot].held = pressed ? g_slots[slot].held | bit : g_slots[slot].held & ~bit;
  push_key(joystick_key(slot, index), pressed, false, time);
}

void open_joystick(int device_index) {
  SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device_index);
  if (id < 0 || slot_of(id) >= 0) return;
  int slot = -1;
  for (int s = 0; s < JOYSTICK_SLOTS && slot < 0; s++)
    if (!g_slots[s].joystick) slot = s;
  if (slot < 0) {
    log_printf("Joystick ignored: all %d joystick slots are in use\n", JOYSTICK_SLOTS);
    return;
  }
  JoystickSlot& j = g_slots[slot];
  if (SDL_IsGameController(device_index)) j.pad = SDL_GameControllerOpen(device_index);
  j.joystick = j.pad ? SDL_GameControllerGetJoystick(j.pad) : SDL_JoystickOpen(device_index);
  if (!j.joystick) {
    log_printf("Can't open joystick %d: %s\n", device_index, SDL_GetError());
    if (j.pad) SDL_GameControllerClose(j.pad);
    j = JoystickSlot();
    return;
  }
  j.id = SDL_JoystickInstanceID(j.joystick);
  const char* name = j.pad ? SDL_GameControllerName(j.pad) : SDL_JoystickName(j.joystick);
  snprintf(j.name, sizeof j.name, "%s", name ? name : "joystick");
  log_printf("Joystick %c: \"%s\", %d axes, %d buttons%s\n", 'a' + slot, j.name, SDL_JoystickNumAxes(j.joystick),
             SDL_JoystickNumButtons(j.joystick), j.pad ? ", game controller" : "");
}

void close_slot(int slot, double time) {
  JoystickSlot& j = g_slots[slot];
  // A device pulled out while a button is down must not leave a control held.
  for (int k = 0; k < JOYSTICK_KEYS_PER_SLOT; k++)
    if (j.held & (1ull << k)) push_key(joystick_key(slot, k), false, false, time);
  if (j.pad)
    SDL_GameControllerClose(j.pad);
  else if (j.joystick)
    SDL_JoystickClose(j.joystick);
  j = JoystickSlot();
}

void hat_event(int slot, Uint8 value, double time) {
  static const Uint8 bits[4] = {SDL_HAT_UP, SDL_HAT_DOWN, SDL_HAT_LEFT, SDL_HAT_RIGHT};
  for (int d = 0; d < 4; d++) joystick_key_event(slot, JOYSTICK_HAT_KEY + d, (value & bits[d]) != 0, time);
  g_slots[slot].hat = value;
}

int clamp16(long v) { return (int)std::clamp(v, -32768L, 32767L); }

// SDL stamps events in whole milliseconds of its own tick counter; turn that
// into our clock by the event's age, never later than now.
double event_time(Uint32 timestamp, double now, Uint32 ticks_now) {
  Uint32 age_ms = ticks_now - timestamp;
  if (timestamp == 0 || age_ms > 60000) return now;
  return now - age_ms * 0.001;
}

void process_event(const SDL_Event& e, double now, Uint32 ticks_now) {
  double t = event_time(e.common.timestamp, now, ticks_now);
  t = std::max(t, g_seen_empty_at);
  switch (e.type) {
    case SDL_QUIT:
    case SDL_WINDOWEVENT:
      sdl_window_event(e);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int key = translate_key(e.key.keysym);
      if (key != KEY_NONE) push_key(key, e.type == SDL_KEYDOWN, e.key.repeat != 0, t);
      break;
    }
    case SDL_TEXTINPUT:
      if (g_text_input) {
        InputEvent ev = {};
        ev.kind = INPUT_TEXT;
        ev.time = t;
        snprintf(ev.text, sizeof ev.text, "%s", e.text.text);
        push_event(ev);
      }
      break;
    case SDL_MOUSEMOTION:
      g_cursor_x = e.motion.x;
      g_cursor_y = e.motion.y;
      g_mouse_x = clamp16(g_mouse_x + (long)e.motion.xrel * 256);
      g_mouse_y = clamp16(g_mouse_y + (long)e.motion.yrel * 256);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      g_cursor_x = e.button.x;
      g_cursor_y = e.button.y;
      int key = mouse_button_key(e.button.button);
      if (key != KEY_NONE) push_key(key, e.type == SDL_MOUSEBUTTONDOWN, false, t);
      break;
    }
    case SDL_MOUSEWHEEL: {
      int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      if (y == 0) break;
      int key = y > 0 ? KEY_WHEEL_UP : KEY_WHEEL_DOWN;
      push_key(key, true, false, t);
      push_key(key, false, false, t);
      break;
    }
    case SDL_JOYDEVICEADDED:
      open_joystick(e.jdevice.which);
      break;
    case SDL_JOYDEVICEREMOVED: {
      int slot = slot_of(e.jdevice.which);
      if (slot >= 0) {
        log_printf("Joystick %c removed\n", 'a' + slot);
        close_slot(slot, t);
      }
      break;
    }
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP: {
      int slot = slot_of(e.jbutton.which);
      if (slot >= 0 && e.jbutton.button < JOYSTICK_BUTTONS)
        joystick_key_event(slot, e.jbutton.button, e.type == SDL_JOYBUTTONDOWN, t);
      break;
    }
    case SDL_JOYHATMOTION: {
      int slot = slot_of(e.jhat.which);
      if (slot >= 0 && e.jhat.hat == 0) hat_event(slot, e.jhat.value, t);
      break;
    }
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
      int slot = slot_of(e.cbutton.which);
      if (slot >= 0 && e.cbutton.button < JOYSTICK_PAD_BUTTONS)
        joystick_key_event(slot, JOYSTICK_PAD_KEY + e.cbutton.button, e.type == SDL_CONTROLLERBUTTONDOWN, t);
      break;
    }
    default:
      break;  // axis motion is read live; other events are not input
  }
}

bool events_running() { return SDL_WasInit(SDL_INIT_EVENTS) != 0; }

// Our clock and SDL's tick counter read as one pair. Read separately, a
// preemption between the two would make every event of the batch look older
// than it is, and an event could then reach a tick before the one it belongs to.
void sample_clocks(double* now, Uint32* ticks) {
  for (int attempt = 0; attempt < 8; attempt++) {
    double before = platform_seconds();
    *ticks = SDL_GetTicks();
    *now = platform_seconds();
    if (*now - before < 0.0002) return;
  }
}

}  // namespace

void sdl_pump_events() {
  if (!events_running()) return;
  double now;
  Uint32 ticks;
  sample_clocks(&now, &ticks);
  SDL_Event e;
  // Bounded so a flood of motion events cannot hold a frame forever.
  for (int i = 0; i < 4 * QUEUE_CAPACITY; i++) {
    double before = platform_seconds();
    if (!SDL_PollEvent(&e)) {
      g_seen_empty_at = before;
      break;
    }
    process_event(e, now, ticks);
  }
}

void sdl_input_window_created() {
  if (!g_joysticks_started && option_flag("dinput", 1)) {
    // Devices already plugged in arrive as added events at the next pump.
    g_joysticks_started = sdl_init(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER);
  }
  // SDL starts with text input on; the chat line turns it on when it opens.
  if (g_text_input)
    SDL_StartTextInput();
  else
    SDL_StopTextInput();
}

void sdl_input_shutdown() {
  for (int s = 0; s < JOYSTICK_SLOTS; s++)
    if (g_slots[s].joystick) close_slot(s, platform_seconds());
  g_queue = EventQueue();
  g_joysticks_started = false;
  g_text_input = false;
  g_watching = false;
  g_seen_empty_at = -1e300;
  g_cursor_x = g_cursor_y = g_mouse_x = g_mouse_y = 0;
}

bool poll_input_event(double deadline, InputEvent* out) {
  sdl_pump_events();
  return pop_due(deadline, out);
}

bool wait_input_event(double deadline, InputEvent* out) {
  for (;;) {
    sdl_pump_events();
    if (pop_due(deadline, out)) return true;
    // Anything still queued happened after the deadline, which has passed.
    if (g_queue.count > 0) return false;
    double remaining = deadline - platform_seconds();
    if (remaining <= 0 || window_closed()) return false;
    if (!events_running()) {
      precise_sleep_until(deadline);
      return false;
    }
    int ms = (int)(remaining * 1000.0);
    if (ms >= 1) {
      SDL_Event e;
      if (SDL_WaitEventTimeout(&e, ms) == 1) {
        double now;
        Uint32 ticks;
        sample_clocks(&now, &ticks);
        process_event(e, now, ticks);
      }
    } else {
      precise_sleep_until(deadline);
    }
  }
}

void flush_input_events() {
  sdl_pump_events();
  g_queue.head = 0;
  g_queue.count = 0;
  g_queue.dropped = 0;
}

void start_text_input() {
  g_text_input = true;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_StartTextInput();
}

void stop_text_input() {
  g_text_input = false;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_StopTextInput();
}

int read_axis(int handle) {
  if (handle == AXIS_CURSOR_X || handle == AXIS_CURSOR_Y) {
    SDL_Window* w = sdl_window();
    if (!w) return 0;
    int ww, wh;
    SDL_GetWindowSize(w, &ww, &wh);
    if (handle == AXIS_CURSOR_X) return ww > 0 ? clamp16((long)g_cursor_x * 65536 / ww - 32768) : 0;
    return wh > 0 ? clamp16((long)g_cursor_y * 65536 / wh - 32768) : 0;
  }
  if (handle == AXIS_MOUSE_X) return g_mouse_x;
  if (handle == AXIS_MOUSE_Y) return g_mouse_y;
  if (handle < AXIS_JOYSTICK_FIRST || handle >= AXIS_COUNT) return 0;
  int slot = (handle - AXIS_JOYSTICK_FIRST) / JOYSTICK_AXES_PER_SLOT;
  int index = (handle - AXIS_JOYSTICK_FIRST) % JOYSTICK_AXES_PER_SLOT;
  const JoystickSlot& j = g_slots[slot];
  if (!j.joystick) return 0;
  if (index < JOYSTICK_RAW_AXES) return index < SDL_JoystickNumAxes(j.joystick) ? SDL_JoystickGetAxis(j.joystick, index) : 0;
  int pad_axis = index - JOYSTICK_PAD_AXIS;
  if (!j.pad || pad_axis >= JOYSTICK_PAD_AXES) return 0;
  return SDL_GameControllerGetAxis(j.pad, (SDL_GameControllerAxis)pad_axis);
}

void cursor_position(int* x, int* y) {
  *x = 0;
  *y = 0;
  SDL_Window* w = sdl_window();
  if (!w) return;
  int ww, wh, dw, dh;
  SDL_GetWindowSize(w, &ww, &wh);
  SDL_GL_GetDrawableSize(w, &dw, &dh);
  *x = ww > 0 ? g_cursor_x * dw / ww : 0;
  *y = wh > 0 ? g_cursor_y * dh / wh : 0;
}

void start_axis_watch() {
  for (int h = 0; h < AXIS_COUNT; h++) g_watch[h] = read_axis(h);
  g_watching = true;
}

int moved_axis(int threshold) {
  if (!g_watching) return AXIS_NONE;
  int best = AXIS_NONE, best_distance = threshold;
  for (int h = 0; h < AXIS_COUNT; h++) {
    if (!axis_name(h)[0]) continue;
    int distance = std::abs(read_axis(h) - g_watch[h]);
    if (distance > best_distance) {
      best = h;
      best_distance = distance;
    }
  }
  return best;
}

int joystick_count() {
  int n = 0;
  for (const JoystickSlot& j : g_slots) n += j.joystick != nullptr;
  return n;
}

const char* joystick_name(int slot) {
  if (slot < 0 || slot >= JOYSTICK_SLOTS || !g_slots[slot].joystick) return nullptr;
  return g_slots[slot].name;
}
