// Settings start values, the setting routine and the push of the settings to
// the window and the audio output.
#include "kernel/settings.h"

#include "host/window.h"
#include "kernel/kernel.h"
#include "pdisk/hooks.h"

#include <climits>
#include <cstring>

int32_t settings_applied_video_word = -1;
SettingsAudioOps settings_audio_ops;

// The file history's "make sure today's log is loaded" event.
static const int HISTORY_EVENT_LOAD_LOG = 4;

void config_set_start_values()
{
    memset(&config, 0, sizeof config);
    config.fullscreen = 1;
    config.pixel_perfect = 1;
    config.volume = 192;
    config.network_access = 1;
    config.vproc = 3;
    config.display = -1;   // no display chosen
    settings_applied_video_word = -1;
}

enum SettingKind {
    SETTING_SWITCH,    // stored as 0 or 1
    SETTING_NUMBER,    // stored as is, within 32 bits
    SETTING_LEVEL,     // clamped to 0..256
};

struct Setting {
    const char *name;
    int32_t *field;
    SettingKind kind;
};

static int32_t clamp_to(int64_t v, int64_t lo, int64_t hi)
{
    return (int32_t)(v < lo ? lo : v > hi ? hi : v);
}

static const Setting *find_setting(const char *key)
{
    static const Setting settings[] = {
        {"fullscreen", &config.fullscreen, SETTING_SWITCH},
        {"pixel_perfect", &config.pixel_perfect, SETTING_SWITCH},
        {"stretch", &config.stretch, SETTING_SWITCH},
        {"blit_720p", &config.blit_720p, SETTING_SWITCH},
        {"allow_highdpi", &config.allow_highdpi, SETTING_SWITCH},
        {"fullscreen_window", &config.fullscreen_window, SETTING_SWITCH},
        {"pixel_scale", &config.pixel_scale, SETTING_NUMBER},
        {"sdl_render_driver", &config.sdl_render_driver, SETTING_NUMBER},
        {"volume", &config.volume, SETTING_LEVEL},
        {"mute_audio", &config.mute_audio, SETTING_SWITCH},
        {"swap_stereo", &config.swap_stereo, SETTING_SWITCH},
        {"battery_saver", &config.battery_saver, SETTING_SWITCH},
        {"network_access", &config.network_access, SETTING_SWITCH},
        {"deadzone", &config.deadzone, SETTING_LEVEL},
        {"everwas", &config.everwas, SETTING_SWITCH},
    };
    for (const Setting &s : settings)
        if (strcmp(key, s.name) == 0)
            return &s;
    return nullptr;
}

void kestrane_apply_setting(const char *key, int64_t value)
{
    const Setting *s = key ? find_setting(key) : nullptr;
    if (!s)
        return;
    int32_t old = *s->field;
    switch (s->kind) {
    case SETTING_SWITCH:
        *s->field = value != 0;
        break;
    case SETTING_NUMBER:
        *s->field = clamp_to(value, INT32_MIN, INT32_MAX);
        break;
    case SETTING_LEVEL:
        *s->field = clamp_to(value, 0, 256);
        break;
    }
    // Switching the history on loads today's log, once per switch-on.
    if (s->field == &config.everwas && old == 0 && config.everwas)
        pdisk_history_event(HISTORY_EVENT_LOAD_LOG, "", "");
}

int32_t settings_video_word()
{
    return config.fullscreen + 2 * config.pixel_perfect + 4 * config.allow_highdpi +
           8 * config.stretch + 16 * config.fullscreen_window + 32 * config.blit_720p;
}

void kestrane_apply_settings()
{
    // pixel_scale and sdl_render_driver are not in the word: they take
    // effect at the next reconfiguration. The window layer does nothing
    // while headless or before the video process exists.
    int32_t word = settings_video_word();
    if (word != settings_applied_video_word) {
        os_apply_video_config();
        settings_applied_video_word = word;
    }
    if (settings_audio_ops.set_output_volume)
        settings_audio_ops.set_output_volume(config.mute_audio ? 0 : config.volume);
    if (settings_audio_ops.set_stereo_swap)
        settings_audio_ops.set_stereo_swap(config.swap_stereo);
}
