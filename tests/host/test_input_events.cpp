// Host events as messages to the window manager: keys, text, wheel, mouse
// position through the destination rectangle, window and drop events.
#include <cstring>

#include "pdisk/mount.h"
#include "pdisk/pfile.h"
#include "test_input_fixture.h"

namespace {

using Strings = std::vector<std::string>;
using HostInputEvents = InputTest;

TEST_F(HostInputEvents, KeysReportChangesInScancodeOrder) {
    // pressed and let go before the next snapshot: only the event saw it
    frame({key_down(SDL_SCANCODE_Z)});
    EXPECT_EQ(messages(), Strings{"{event=\"keydown\",scancode=29}"});
    frame();
    EXPECT_EQ(messages(), Strings{"{event=\"keyup\",scancode=29}"});
    frame({key_down(SDL_SCANCODE_UP)}, {SDL_SCANCODE_UP, SDL_SCANCODE_A});
    EXPECT_EQ(messages(), (Strings{"{event=\"keydown\",scancode=4}", "{event=\"keydown\",scancode=82}"}));
    frame({}, {SDL_SCANCODE_A, SDL_SCANCODE_UP});
    EXPECT_EQ(messages(), Strings{});
    frame({}, {SDL_SCANCODE_A, 511});
    EXPECT_EQ(messages(), (Strings{"{event=\"keyup\",scancode=82}", "{event=\"keydown\",scancode=511}"}));
    EXPECT_EQ(os_key_state(SDL_SCANCODE_A) + os_key_state(-1), 2);
    EXPECT_EQ(os_key_state(SDL_SCANCODE_UP) + os_key_state(512) + os_key_state(-2), 0);
}

TEST_F(HostInputEvents, TextAndWheelComeBeforeTheFramesKeyMessages) {
    SDL_Event text = event(SDL_TEXTINPUT);
    strcpy(text.text.text, "a\"b\\c\n");
    SDL_Event wheel = event(SDL_MOUSEWHEEL);
    wheel.wheel.x = -1;
    wheel.wheel.y = 3;
    frame({key_down(SDL_SCANCODE_A), text, wheel});
    Strings m = messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[1], "{event=\"mousewheel\",wheel_x=-1,wheel_y=3}");
    EXPECT_EQ(m[2], "{event=\"keydown\",scancode=4}");
    // the text arrives escaped, as a Lua table that gives it back unchanged
    EXPECT_EQ(m[0].rfind("{event=\"textinput\",text=\"", 0), 0u) << m[0];
    EXPECT_EQ(eval(wm, "local m = " + m[0] + " return m.text == 'a\"b\\\\c\\n', #m.text"), "true,6");
}

TEST_F(HostInputEvents, MousePositionInPicturePixels) {
    // (500, 250) in the window is 444 pixels into the 888-wide picture
    frame({motion(500, 250)});
    EXPECT_EQ(messages(), Strings{"{event=\"mouse\",mx=240,my=135,mb=0}"});
    frame({motion(501, 250)});
    EXPECT_EQ(messages(), Strings{}) << "the same picture pixel";
    frame({button(SDL_BUTTON_RIGHT, true, 943, 499), button(SDL_BUTTON_MIDDLE, true, 943, 499)});
    EXPECT_EQ(messages(), Strings{"{event=\"mouse\",mx=479,my=269,mb=6}"});
    frame({button(SDL_BUTTON_RIGHT, false, 960, 10), button(SDL_BUTTON_LEFT, true, 960, 10)});
    EXPECT_EQ(messages(), Strings{"{event=\"mouse\",mx=488,my=5,mb=5}"}) << "beyond the picture";
    view.fullscreen = 1;
    frame({motion(0, 10)});
    frame({motion(999, 10)});
    EXPECT_EQ(messages(), (Strings{"{event=\"mouse\",mx=0,my=5,mb=5}", "{event=\"mouse\",mx=479,my=5,mb=5}"}));

    // without a window or without a picture nothing is reported
    view = {nullptr, 0, 0, {0, 0, 0, 0}, 480, 270, 0};
    frame({motion(100, 100)});
    view = {nullptr, 10, 10, {0, 0, 0, 0}, 480, 270, 0};
    frame({motion(5, 5)});
    EXPECT_EQ(messages(), Strings{});
}

TEST_F(HostInputEvents, WindowEvents) {
    // keys held while the window becomes active were meant for the switch
    frame({window_event(SDL_WINDOWEVENT_FOCUS_GAINED), key_down(SDL_SCANCODE_TAB)}, {SDL_SCANCODE_LALT});
    EXPECT_EQ(messages(), Strings{});
    EXPECT_EQ(input.window_active, 1);
    frame({window_event(SDL_WINDOWEVENT_MINIMIZED)});
    EXPECT_EQ(input.window_active, 0);
    input.activated_t -= INPUT_ACTIVATION_GRACE_MS;
    frame({}, {SDL_SCANCODE_LALT});
    EXPECT_EQ(messages(), Strings{"{event=\"keydown\",scancode=226}"});

    app.exit_requested = 0;
    frame({window_event(SDL_WINDOWEVENT_RESIZED)});
    EXPECT_EQ(app.exit_requested, 0);
    frame({window_event(SDL_WINDOWEVENT_CLOSE)});
    EXPECT_EQ(app.exit_requested, 1);
    app.exit_requested = 0;
    frame({event(SDL_QUIT)});
    EXPECT_EQ(app.exit_requested, 1);

    // no window manager: nothing to tell, nothing breaks
    kill_process(wm);
    frame({key_down(SDL_SCANCODE_Z), motion(500, 250)});
    EXPECT_EQ(os_key_state(SDL_SCANCODE_Z), 1);
}

TEST_F(HostInputEvents, DroppedFileIsOfferedToTheWindowManager) {
    write_text_file(home / "note.txt", "dropped text");
    cproc = get_process(1);
    pfile_init();
    pfile_reset();
    mount_ram_folder("/ram");
    SDL_Event drop = event(SDL_DROPFILE);
    drop.drop.file = SDL_strdup((home / "note.txt").c_str());   // freed by the handler
    frame({drop});
    EXPECT_EQ(messages(), Strings{"{event=\"drop_items\",_flags=1,items={{kod_type=\"location\","
                                  "filenav_op=\"move\",location=\"/ram/drop/note.txt\"}}}"});
    pfile *f = pfopen("/ram/drop/note.txt", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::string((const char *)f->contents->data, (size_t)f->contents->len), "dropped text");
    pfclose(f);
    pfile_init();
}

}  // namespace
