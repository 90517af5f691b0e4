// Host events: every SDL event of a frame passes through os_handle_event.
#pragma once
#include <SDL.h>

// A dropped file's name is freed here (SDL_free).
void os_handle_event(const SDL_Event &e);

// The frame's work around the events: os_input_frame_begin takes the
// keyboard snapshot and the window's geometry, os_input_frame_end sends the
// key, mouse and locked-motion messages.
void os_input_frame_begin();
void os_input_frame_end();
