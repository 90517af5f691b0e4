// Global machine state: the settings record, the application state record,
// start-up, the frame loop, reboot and shutdown.
#pragma once
#include <cstdint>

#define KESTRANE_VERSION "0.3.0c"
#define KESTRANE_BUILD_DATE "260417-035605"

struct Config {
    int32_t fullscreen;
    int32_t pixel_perfect;
    int32_t stretch;
    int32_t blit_720p;
    int32_t allow_highdpi;
    int32_t sdl_render_driver;
    int32_t fullscreen_window;
    int32_t pixel_scale;
    int32_t vproc;
    int32_t everwas;
    int32_t volume;
    int32_t mute_audio;
    int32_t swap_stereo;
    int32_t network_access;
    int32_t battery_saver;
    int32_t deadzone;
    char home[1024];
    char desktop_path[1024];
    char cart_arg[1024];
    char stat316[1024];
    int32_t use_system_rom;
    int32_t headless;
    int32_t display;
    char user_id[256];
    char username[256];
    char session_token[256];
};

struct AppState {
    int32_t host_window_flag;     // survives a reset once the host is initialised
    int64_t host_window_t;
    int32_t boot_alt_colours;
    int32_t signal36_flag;
    int32_t video_configured;
    int64_t audio_owner_pid;
    int64_t audio_synced_pid;
    int32_t audio_capture_active;
    int32_t audio_capture_state;
    int32_t gif_active;
    int32_t gif_state;
    int32_t screenshot_requested;
    int32_t boot_finished;
    int32_t boot_screen_released;
    int32_t exported_cart;
    int32_t mouse_lock[4];
    int64_t atomic_pid;
    int64_t last_activity_t;
    int32_t slow_frame;
    int32_t button_state;
    uint64_t frame_count;
    uint64_t boot_start_frame;
    int32_t reboot_requested;
    int32_t exit_requested;
    int32_t exit_wait_frames;
};

extern Config config;
extern AppState app;
extern char vemo_argv0[1024];
extern struct Process *root_process;
extern int32_t system_inited;
extern int32_t debug_system_frames_since_reboot;

void config_set_start_values();
void reset_app_state();
void system_frame();
void end_frame();

// Ends the program. Tests that run a machine in a child process rely on this
// being the only way the kernel stops.
[[noreturn]] void kestrane_exit(int status);

// Command line.
void process_arguments(int argc, char **argv);
