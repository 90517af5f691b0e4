// Game controllers: mapping lines and files, slots, validation of buttons
// and axes, sticks as button strengths. Devices are SDL virtual joysticks.
#include <cmath>

#include "host/controllers.h"
#include "host/paths.h"
#include "test_input_fixture.h"

namespace {

// A made-up device: the GUID names no real product.
constexpr const char *TEST_GUID = "03000000ee1100002222000001000000";

struct HostInputControllers : InputTest {
    void SetUp() override {
        InputTest::SetUp();
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    }
    void TearDown() override {
        vemo_joystick_exit();
        while (SDL_NumJoysticks() > 0 && SDL_JoystickIsVirtual(0)) SDL_JoystickDetachVirtual(0);
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
        InputTest::TearDown();
    }
    static std::string mapping_name() {
        char *m = SDL_GameControllerMappingForGUID(SDL_JoystickGetGUIDFromString(TEST_GUID));
        std::string s = m ? m : ",,";
        SDL_free(m);
        size_t a = s.find(',');
        return s.substr(a + 1, s.find(',', a + 1) - a - 1);
    }
    // A virtual game controller with every axis and button, opened here so
    // that the test can move it.
    static SDL_Joystick *attach_pad() {
        int dev = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                            SDL_CONTROLLER_BUTTON_MAX, 0);
        return dev < 0 ? nullptr : SDL_JoystickOpen(dev);
    }
    // One player's bytes after the devices were polled.
    static std::vector<int> player(int pl) {
        SDL_GameControllerUpdate();
        uint8_t out[16];
        os_get_button_states(pl, out);
        return std::vector<int>(out, out + 16);
    }
};

TEST_F(HostInputControllers, MappingFilesAreTrimmedAddedAndUpdated) {
    std::string user = vemo_data_path(CONTROLLER_MAPPING_FILE);
    vemo_joystick_init();
    EXPECT_EQ(read_text_file(user), "// add SDL2 game controller mappings to this file\n");

    std::string guid = TEST_GUID;
    std::string text = "// comment line\n\n   \t\r\n" + guid + ",First Pad,a:b0,b:b1,platform:Linux,\r\n" + "  " +
                       guid + ",Second Pad,a:b1,b:b0,platform:Linux,  \n" + "not a mapping\n" + "/" + guid +
                       ",Skipped,a:b0,";
    EXPECT_EQ(controllers_add_mapping_text(text.c_str()), 2);
    EXPECT_EQ(mapping_name(), "Second Pad");

    vemo_joystick_exit();
    write_text_file(user, guid + ",User Pad,a:b0,platform:Linux,\n");
    vemo_joystick_init();
    EXPECT_EQ(mapping_name(), "User Pad");
    EXPECT_EQ(controllers_read_mapping_file((home / "missing.txt").c_str()), -1);
}

TEST_F(HostInputControllers, ButtonsAndAxesCountOnlyOnceSeenAtRest) {
    SDL_Joystick *j = attach_pad();
    ASSERT_NE(j, nullptr) << SDL_GetError();
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_A, 1);
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_RIGHTY, 32767);
    vemo_joystick_init();
    ASSERT_NE(controller_slots[0].pad, nullptr) << "opened as a game controller";

    // held at connection: nothing counts yet
    std::vector<int> none(16, 0);
    EXPECT_EQ(player(0), none);
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_A, 0);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_LEFTX, 0);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_RIGHTY, 8000);   // inside the dead zone
    EXPECT_EQ(player(0), none);

    // A and the shoulder were seen released, the d-pad not yet
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_A, 1);
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 1);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_RIGHTY, 8192 + 22528 / 2);   // half way
    std::vector<int> want(16, 0);
    want[4] = want[14] = want[0] = 255;
    want[11] = 128;
    EXPECT_EQ(player(0), want);
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0);
    player(0);
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1);
    want[1] = 255;
    EXPECT_EQ(player(0), want);
    EXPECT_EQ(player(1), none);

    // a full diagonal is 255 both ways as read, and on the circle in btn
    SDL_JoystickSetVirtualButton(j, SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0);
    SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_LEFTY, -32768);
    SDL_GameControllerUpdate();
    int diag = (int)(255 * 256 / std::sqrt(2.0 * 255 * 255));
    EXPECT_EQ(eval(get_process(1), "_update_buttons(true) return peek(0x5580), peek(0x5582), btn(0), btn(2)"),
              "255,255," + std::to_string(diag) + "," + std::to_string(diag));
    SDL_JoystickClose(j);
}

TEST_F(HostInputControllers, AddedAndRemovedDevicesKeepTheSlotsPacked) {
    SDL_Joystick *a = attach_pad(), *b = attach_pad();
    ASSERT_TRUE(a && b) << SDL_GetError();
    vemo_joystick_init();
    ASSERT_EQ(vemo_count_joysticks(), 2);
    SDL_JoystickID id0 = controller_slots[0].instance, id1 = controller_slots[1].instance;

    // SDL also announces the devices that are open already: nothing changes
    SDL_Event added = event(SDL_CONTROLLERDEVICEADDED);
    added.cdevice.which = 0;
    frame({added});
    EXPECT_EQ(vemo_count_joysticks(), 2);

    SDL_Event removed = event(SDL_CONTROLLERDEVICEREMOVED);
    removed.cdevice.which = id0;
    frame({removed, removed});   // the second is unknown: only logged
    EXPECT_EQ(vemo_count_joysticks(), 1);
    EXPECT_EQ(controller_slots[0].instance, id1) << "the second moved up to player 0";

    frame({added});   // device 0 comes back, into the free slot
    EXPECT_EQ(controller_slots[1].instance, id0);
    SDL_JoystickClose(a);
    SDL_JoystickClose(b);
}

}  // namespace
