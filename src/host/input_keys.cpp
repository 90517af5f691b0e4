// Keyboard queries over the current key table.
#include "host/input.h"

int os_key_state(int scancode) {
    if (scancode == -1) {
        for (int i = 0; i < INPUT_KEYS; i++)
            if (input.key_cur[i]) return 1;
        return 0;
    }
    if (scancode < 0 || scancode >= INPUT_KEYS) return 0;
    return input.key_cur[scancode];
}

const char *os_key_from_scancode(int scancode) {
    if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return nullptr;
    const char *name = SDL_GetKeyName(SDL_GetKeyFromScancode((SDL_Scancode)scancode));
    return name && name[0] ? name : nullptr;
}
