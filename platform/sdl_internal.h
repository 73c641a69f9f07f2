// Shared state between the sdl_*.cpp files; never included outside platform/.
#pragma once

#include <SDL2/SDL.h>

// Initialises the SDL subsystems in flags (once each), with SDL's own signal
// handlers left out so ours decide what SIGINT and SIGTERM do.
bool sdl_init(Uint32 flags);

// The open window, or nullptr.
SDL_Window* sdl_window();

// Window-state events (close, quit) taken out of the queue by the input pump.
void sdl_window_event(const SDL_Event& event);

// Drains SDL's queue into the input queue without waiting; window events are
// applied on the way.
void sdl_pump_events();

// Input side of window creation and shutdown: joysticks, text input default.
void sdl_input_window_created();
void sdl_input_shutdown();
