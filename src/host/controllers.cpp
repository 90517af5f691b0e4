// Game controllers and raw joysticks: mappings, slots, and reading them as
// player buttons.
#include "host/controllers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/log.h"
#include "host/paths.h"

ControllerSlot controller_slots[CONTROLLER_SLOTS];
int controllers_ready;

// Logged once per run, whatever later happens to the slot.
static uint16_t warned_buttons[CONTROLLER_SLOTS];
static uint32_t warned_unreadable;

// Mappings registered before the user's files. SDL's own database already
// knows the common pads; rows here add what it lacks, in the same text form.
static const char *const builtin_mappings[] = {
    nullptr,
};

// Player button of each controller button in SDL's order, -1 for none.
static const int8_t button_of[CONTROLLER_BUTTONS] = {
    4,      // A
    12,     // B
    5,      // X
    13,     // Y
    -1,     // back
    6,      // guide
    6,      // start
    -1,     // left stick
    -1,     // right stick
    14,     // left shoulder
    15,     // right shoulder
    2, 3,   // d-pad up, down
    0, 1,   // d-pad left, right
};

// Negative and positive player button of each stick axis.
static const int8_t axis_buttons[CONTROLLER_STICK_AXES][2] = {{0, 1}, {2, 3}, {8, 9}, {10, 11}};

static bool slot_used(const ControllerSlot &c) { return c.pad || c.joy; }

static SDL_Joystick *slot_joystick(const ControllerSlot &c) {
    return c.pad ? SDL_GameControllerGetJoystick(c.pad) : c.joy;
}

// Returns SDL's answer: 1 added, 0 updated, -1 refused; -2 for a skipped line.
static int add_mapping_line(const std::string &line) {
    std::string t = vemo_trim(line.c_str());
    if (t.empty() || t[0] == '/') return -2;
    int r = SDL_GameControllerAddMapping(t.c_str());
    if (r == 1) vemo_debug(" added controller mapping: %s\n", t.c_str());
    else if (r == 0) vemo_debug(" updated controller mapping: %s\n", t.c_str());
    else vemo_debug(" failed to add controller mapping: %s\n", t.c_str());
    return r;
}

int controllers_add_mapping_text(const char *text) {
    int taken = 0;
    const char *p = text;
    while (p && *p) {
        const char *end = strpbrk(p, "\r\n");
        size_t n = end ? (size_t)(end - p) : strlen(p);
        if (add_mapping_line(std::string(p, n)) >= 0) taken++;
        p = end ? end + 1 : nullptr;
    }
    return taken;
}

int controllers_read_mapping_file(const char *host_path) {
    FILE *f = fopen(host_path, "rb");
    if (!f) return -1;
    vemo_debug("Reading controller mappings: %s\n", host_path);
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    fclose(f);
    return controllers_add_mapping_text(text.c_str());
}

static void read_user_mappings() {
    controllers_read_mapping_file(vemo_program_path(CONTROLLER_MAPPING_FILE).c_str());
    std::string user = vemo_data_path(CONTROLLER_MAPPING_FILE);
    if (controllers_read_mapping_file(user.c_str()) >= 0) return;
    if (FILE *f = fopen(user.c_str(), "wb")) {
        fputs("// add SDL2 game controller mappings to this file\n", f);
        fclose(f);
    }
}

void vemo_joystick_init() {
    if (controllers_ready) return;
    memset(controller_slots, 0, sizeof controller_slots);
    for (const char *const *m = builtin_mappings; *m; m++) SDL_GameControllerAddMapping(*m);
    read_user_mappings();
    int n = SDL_NumJoysticks();
    vemo_debug("found %d joysticks\n", n);
    for (int i = 0; i < n && i < CONTROLLER_SLOTS; i++) controllers_connect(i);
    controllers_ready = 1;
}

static void close_slot(ControllerSlot &c) {
    if (c.pad) SDL_GameControllerClose(c.pad);
    else if (c.joy) SDL_JoystickClose(c.joy);
    memset(&c, 0, sizeof c);
}

void vemo_joystick_exit() {
    for (ControllerSlot &c : controller_slots) close_slot(c);
    controllers_ready = 0;
}

void controllers_pack() {
    int to = 0;
    for (int from = 0; from < CONTROLLER_SLOTS; from++) {
        if (!slot_used(controller_slots[from])) continue;
        if (to != from) {
            controller_slots[to] = controller_slots[from];
            memset(&controller_slots[from], 0, sizeof controller_slots[from]);
        }
        to++;
    }
}

static void log_counts(SDL_Joystick *j) {
    vemo_debug(" Number of Axes: %d\n", SDL_JoystickNumAxes(j));
    vemo_debug(" Number of Buttons: %d\n", SDL_JoystickNumButtons(j));
    vemo_debug(" Number of Balls: %d\n", SDL_JoystickNumBalls(j));
}

// Slot for a new device: its own index when free, else the first free one.
static int free_slot_for(int device_index) {
    if (device_index >= 0 && device_index < CONTROLLER_SLOTS && !slot_used(controller_slots[device_index]))
        return device_index;
    for (int s = 0; s < CONTROLLER_SLOTS; s++)
        if (!slot_used(controller_slots[s])) return s;
    return -1;
}

void controllers_connect(int i) {
    vemo_debug("connecting joystick %d\n", i);
    SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(i);
    if (id < 0) return;
    // SDL also announces the devices that were attached at start, which are
    // open already; opening them again would leak a reference
    for (const ControllerSlot &c : controller_slots)
        if (slot_used(c) && c.instance == id) return;
    int s = free_slot_for(i);
    if (s < 0) return;
    ControllerSlot &c = controller_slots[s];
    if (SDL_IsGameController(i)) {
        c.pad = SDL_GameControllerOpen(i);
        if (!c.pad) return;
        vemo_debug("Controller %d: %s\n", i, SDL_GameControllerName(c.pad) ? SDL_GameControllerName(c.pad) : "");
        log_counts(SDL_GameControllerGetJoystick(c.pad));
        char *mapping = SDL_GameControllerMapping(c.pad);
        vemo_debug(" Mapping: %s\n", mapping ? mapping : "");
        SDL_free(mapping);
    } else {
        c.joy = SDL_JoystickOpen(i);
        if (!c.joy) return;
        vemo_debug("Unmapped Joystick %d: %s\n", i, SDL_JoystickName(c.joy) ? SDL_JoystickName(c.joy) : "");
        log_counts(c.joy);
    }
    c.instance = id;
}

void controllers_disconnect(SDL_JoystickID instance) {
    vemo_debug("[SDL_CONTROLLERDEVICEREMOVED] instance_id: %d ", instance);
    bool found = false;
    for (int s = 0; s < CONTROLLER_SLOTS && !found; s++) {
        ControllerSlot &c = controller_slots[s];
        if (!slot_used(c) || c.instance != instance) continue;
        close_slot(c);
        vemo_debug(" slot: %d\n", s);
        found = true;
    }
    if (!found) vemo_debug("** failed to disconnect joystick\n");
    controllers_pack();
}

int controller_axis_strength(int v) {
    int mag = v < 0 ? -v : v;
    return std::clamp(((mag - 8192) * 256) / 22528, 0, 255);
}

static int raw_axis(const ControllerSlot &c, int a) {
    if (c.pad) return SDL_GameControllerGetAxis(c.pad, (SDL_GameControllerAxis)a);
    return a < SDL_JoystickNumAxes(c.joy) ? SDL_JoystickGetAxis(c.joy, a) : 0;
}

static bool raw_button(const ControllerSlot &c, int b) {
    if (c.pad) return SDL_GameControllerGetButton(c.pad, (SDL_GameControllerButton)b) != 0;
    return b < SDL_JoystickNumButtons(c.joy) && SDL_JoystickGetButton(c.joy, b) != 0;
}

// An axis reads 0 until it has once been near its centre, so that a device
// reporting a stuck value at connection does not hold a direction.
static int checked_axis(ControllerSlot &c, int a) {
    int v = raw_axis(c, a);
    if (!(c.axis_ok & (1 << a))) {
        if (v < -8191 || v > 8191) return 0;
        c.axis_ok |= (uint8_t)(1 << a);
    }
    return v;
}

// A button counts only after it has once been seen released.
static bool checked_button(ControllerSlot &c, int slot, int b) {
    if (!raw_button(c, b)) {
        c.button_ok |= (uint16_t)(1 << b);
        return false;
    }
    if (c.button_ok & (1 << b)) return true;
    if (!(warned_buttons[slot] & (1 << b))) {
        warned_buttons[slot] |= (uint16_t)(1 << b);
        vemo_debug("** button %d not validated on joystick %d\n", b, slot);
    }
    return false;
}

void controllers_read(int slot, uint8_t *out) {
    if (slot < 0 || slot >= CONTROLLER_SLOTS) return;
    ControllerSlot &c = controller_slots[slot];
    if (!slot_used(c)) return;
    if (!SDL_JoystickGetAttached(slot_joystick(c))) {
        if (!(warned_unreadable & (1u << slot))) {
            warned_unreadable |= 1u << slot;
            vemo_debug("** could not read joystick %d (not attached)\n", slot);
        }
        return;
    }
    for (int a = 0; a < CONTROLLER_STICK_AXES; a++) {
        int v = checked_axis(c, a);
        if (v < 0) out[axis_buttons[a][0]] = (uint8_t)controller_axis_strength(v);
        else if (v > 0) out[axis_buttons[a][1]] = (uint8_t)controller_axis_strength(v);
    }
    for (int b = 0; b < CONTROLLER_BUTTONS; b++)
        if (checked_button(c, slot, b) && button_of[b] >= 0) out[button_of[b]] = 255;
}

int vemo_count_joysticks() {
    int n = 0;
    for (const ControllerSlot &c : controller_slots) n += slot_used(c);
    return n;
}

int vemo_count_joystick_buttons(int i) {
    if (i < 0 || i >= CONTROLLER_SLOTS || !slot_used(controller_slots[i])) return 0;
    const ControllerSlot &c = controller_slots[i];
    return c.pad ? CONTROLLER_BUTTONS : SDL_JoystickNumButtons(c.joy);
}

int vemo_get_joystick(int i, int *x, int *y, int *buttons) {
    if (i < 0 || i >= CONTROLLER_SLOTS || !slot_used(controller_slots[i])) return -1;
    const ControllerSlot &c = controller_slots[i];
    if (x) *x = raw_axis(c, 0);
    if (y) *y = raw_axis(c, 1);
    if (buttons) {
        *buttons = 0;
        for (int b = 0; b < CONTROLLER_BUTTONS; b++)
            if (raw_button(c, b)) *buttons |= 1 << b;
    }
    return 0;
}
