// Game controllers and raw joysticks in 32 slots, one per player, through
// SDL's game-controller layer with built-in and user mapping files.
#pragma once
#include <SDL.h>
#include <cstdint>

constexpr int CONTROLLER_SLOTS = 32;
constexpr int CONTROLLER_BUTTONS = 15;     // A .. d-pad right in SDL's order
constexpr int CONTROLLER_STICK_AXES = 4;   // left x, left y, right x, right y
constexpr const char *CONTROLLER_MAPPING_FILE = "sdl_controllers.txt";

// Either a game controller or, for a device SDL has no mapping for, a raw
// joystick. Used slots come first, in order.
struct ControllerSlot {
    SDL_GameController *pad;
    SDL_Joystick *joy;
    SDL_JoystickID instance;
    uint16_t button_ok;   // bit per button: seen released at least once
    uint8_t axis_ok;      // bit per stick axis: seen near the centre at least once
};

extern ControllerSlot controller_slots[CONTROLLER_SLOTS];
extern int controllers_ready;

// Once at start: mappings (built-in, then the program folder's and the data
// folder's mapping file, the latter created when missing) and every device
// already attached. vemo_joystick_exit closes them all.
void vemo_joystick_init();
void vemo_joystick_exit();

// Number of used slots; buttons of one; its left stick and button bits
// (returns -1 for an empty slot).
int vemo_count_joysticks();
int vemo_count_joystick_buttons(int i);
int vemo_get_joystick(int i, int *x, int *y, int *buttons);

// Adds each mapping line of a text (trimmed; empty lines and lines starting
// with '/' skipped), logging the result of each. Returns the lines added or
// updated.
int controllers_add_mapping_text(const char *text);
// The same for a host file; -1 when it cannot be read.
int controllers_read_mapping_file(const char *host_path);

// Opens device index i, into slot i when that is free. A device that is
// already in a slot is left there.
void controllers_connect(int device_index);
void controllers_disconnect(SDL_JoystickID instance);
void controllers_pack();

// Strength of the button in the direction of axis value v (-32768..32767).
int controller_axis_strength(int v);
// Adds slot's sticks and buttons to one player's 16 button bytes.
void controllers_read(int slot, uint8_t *out);
