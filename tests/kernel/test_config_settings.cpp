// Settings pushed at run time: the setting routine and its clamps, the push to
// the window and audio output, and _apply_system_settings from Lua.
#include "kernel/settings.h"

#include "kernel/kernel.h"
#include "lua.hpp"
#include "pdisk/hooks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> sent_volumes, sent_swaps, history_events;

// Fresh start values, headless, and recorders in place of the audio engine
// and the file history.
struct ConfigSettings : ::testing::Test {
    Config saved = config;
    SettingsAudioOps saved_ops = settings_audio_ops;
    lua_State *L = luaL_newstate();

    void SetUp() override
    {
        config_set_start_values();
        config.headless = 1;
        settings_audio_ops = {[](int32_t v) { sent_volumes.push_back(v); },
                              [](int32_t v) { sent_swaps.push_back(v); }};
        pdisk_history_hook = [](int kind, const char *, const char *) { history_events.push_back(kind); };
        sent_volumes.clear();
        sent_swaps.clear();
        history_events.clear();
        lua_register(L, "_apply_system_settings", lua54__apply_system_settings);
    }
    void TearDown() override
    {
        lua_close(L);
        pdisk_history_hook = nullptr;
        settings_audio_ops = saved_ops;
        config = saved;
        settings_applied_video_word = -1;
    }
    void lua(const char *code) { ASSERT_EQ(luaL_dostring(L, code), LUA_OK) << lua_tostring(L, -1); }
};

} // namespace

TEST_F(ConfigSettings, ClampsAndExactNames)
{
    kestrane_apply_setting("volume", -1);
    EXPECT_EQ(config.volume, 0);
    kestrane_apply_setting("deadzone", 1000);
    EXPECT_EQ(config.deadzone, 256);
    kestrane_apply_setting("fullscreen", 0x100000000LL);
    EXPECT_EQ(config.fullscreen, 1) << "a value beyond 32 bits is still not 0";
    kestrane_apply_setting("stretch", -5);
    EXPECT_EQ(config.stretch, 1);
    kestrane_apply_setting("pixel_scale", 0x100000002LL);
    EXPECT_EQ(config.pixel_scale, INT32_MAX) << "not wrapped to 2";

    Config before = config;
    for (const char *key : {"volumes", "volum", "Volume", "", "vproc", "headless"})
        kestrane_apply_setting(key, 9);
    EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
}

TEST_F(ConfigSettings, EverwasSwitchOnRaisesTheLogEventOnce)
{
    for (int v : {1, 1, 0, 2})
        kestrane_apply_setting("everwas", v);
    EXPECT_EQ(history_events, (std::vector<int>{4, 4}));
}

TEST_F(ConfigSettings, LuaTableIsAppliedThenPushed)
{
    lua("_apply_system_settings({volume=300, mute_audio=false})");
    EXPECT_EQ(config.volume, 256);
    EXPECT_EQ(sent_volumes, std::vector<int>{256});
    EXPECT_EQ(settings_applied_video_word, 1 + 2) << "fullscreen and pixel_perfect";

    lua("_apply_system_settings({mute_audio=true, swap_stereo=1, fullscreen=false, blit_720p=1, "
        "fullscreen_window=1, stretch=1, allow_highdpi=1, deadzone=3.0})");
    EXPECT_EQ(config.deadzone, 3);
    EXPECT_EQ(sent_volumes.back(), 0) << "muted";
    EXPECT_EQ(sent_swaps.back(), 1);
    EXPECT_EQ(settings_applied_video_word, 2 + 4 + 8 + 16 + 32);

    // Floats without an exact integer, strings and tables count as 0;
    // entries with non-string keys are skipped.
    lua("_apply_system_settings({pixel_perfect=1.5, network_access='1', battery_saver={}, "
        "[1]='volume', [2]=7, ['volume\\0x']=9, [true]=1, deadzone=1e300})");
    EXPECT_EQ(config.pixel_perfect, 0);
    EXPECT_EQ(config.network_access, 0);
    EXPECT_EQ(config.volume, 256) << "a key with a 0 byte names no setting";
    EXPECT_EQ(config.deadzone, 0);
}

TEST_F(ConfigSettings, LuaNonTableChangesNothing)
{
    Config before = config;
    testing::internal::CaptureStdout();
    lua("_apply_system_settings('volume')");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "** lua54__apply_system_settings failed; not a table\n");
    EXPECT_EQ(memcmp(&before, &config, sizeof config), 0);
    EXPECT_TRUE(sent_volumes.empty());
}
