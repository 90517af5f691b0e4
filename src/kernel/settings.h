// Settings that the system software pushes at run time, and how they reach
// the window and the audio output. The start values of `config`
// (config_set_start_values, kernel.h) also live in settings.cpp.
#pragma once
#include <cstdint>

struct lua_State;

// Stores one setting in `config`. The key must equal a setting's name;
// unknown keys are ignored. Switches store value != 0, volume and deadzone
// are clamped to 0..256, the other numbers to the 32-bit range.
void kestrane_apply_setting(const char *key, int64_t value);

// Pushes the settings to the window (only when the video configuration word
// changed) and to the audio output.
void kestrane_apply_settings();

// fullscreen + 2 pixel_perfect + 4 allow_highdpi + 8 stretch
// + 16 fullscreen_window + 32 blit_720p, from `config`.
int32_t settings_video_word();
// The word of the last window reconfiguration; -1 before the first.
extern int32_t settings_applied_video_word;

// The audio engine's output controls. The engine fills the slots; while a
// slot is empty the setting is only kept in `config`.
struct SettingsAudioOps {
    void (*set_output_volume)(int32_t volume);   // 0..256, 0 silences
    void (*set_stereo_swap)(int32_t on);
};
extern SettingsAudioOps settings_audio_ops;

// Lua _apply_system_settings(t): applies every string-keyed entry of t, then
// pushes the settings.
int lua54__apply_system_settings(lua_State *L);
