// Presentation set-up shared by the window and the benchmark: the streaming
// texture the frame is filled into.
#pragma once
#include <SDL.h>

// The pixel format for the streaming texture of this renderer: the window
// surface's own format for the software renderer when it lays pixels out as
// the frame does (0x00RRGGBB in 32 bits), else ARGB8888.
Uint32 present_texture_format(SDL_Renderer *renderer, SDL_Window *window);
// A streaming texture of that format, drawn without blending; null on
// failure (SDL's error is set).
SDL_Texture *present_create_texture(SDL_Renderer *renderer, SDL_Window *window, int w, int h);
