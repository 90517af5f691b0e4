// The per-process button snapshot: btn, btnp with its repeat registers,
// _update_buttons, _signal(23), and the keyboard stat codes.
#include <cmath>

#include "memory/ram.h"
#include "test_input_fixture.h"

namespace {

struct HostInputButtons : InputTest {
    Process *p = nullptr;
    void SetUp() override {
        InputTest::SetUp();
        p = get_process(2);
    }
    // A frame with these keys held, in which p takes its snapshot and then
    // evaluates `exprs`.
    std::string step(std::initializer_list<int> held, const std::string &exprs) {
        frame({}, held);
        return eval(p, "_update_buttons(true) return " + exprs);
    }
    // The frames (1-based) out of n holding Z in which btnp(4) is true, with
    // `calls` btnp calls per frame; Z is let go afterwards.
    std::vector<int> btnp_frames(int n, int calls = 1) {
        std::vector<int> out;
        std::string exprs = "(function() local r = false for i = 1, " + std::to_string(calls) +
                            " do r = btnp(4) or r end return r end)()";
        for (int f = 1; f <= n; f++)
            if (step({SDL_SCANCODE_Z}, exprs) == "true") out.push_back(f);
        step({}, "0");
        return out;
    }
};

TEST_F(HostInputButtons, HeldKeysAreFullStrengthForPlayerZero) {
    EXPECT_EQ(step({SDL_SCANCODE_Z, SDL_SCANCODE_RIGHT, SDL_SCANCODE_E}, "btn(4), btn(1), btn(15), btn(4, 1), btn(0)"),
              "255,255,255,false,false");
    int bits = (1 << 4) | (1 << 1);
    EXPECT_EQ(eval(p, "return btn(), btnp(), btn(16), btn(-2), btn(4, 8), btn(4, -1), btn('4', 0.5)"),
              std::to_string(bits) + "," + std::to_string(bits) + ",false,false,false,false,255");
    EXPECT_EQ(step({SDL_SCANCODE_Z}, "btn(), btnp(), btn(1)"), std::to_string(1 << 4) + ",0,false");
    // the snapshot belongs to the process that took it
    EXPECT_EQ(eval(get_process(1), "return btn(4), btn()"), "false,0");
    EXPECT_EQ(eval(get_process(1), "_update_buttons(true) return btn(4), stat(334)"), "255,1");
    // menu is Return without Alt
    EXPECT_EQ(step({SDL_SCANCODE_RETURN}, "btn(6)"), "255");
    EXPECT_EQ(step({SDL_SCANCODE_RETURN, SDL_SCANCODE_LALT}, "btn(6)"), "false");
    EXPECT_EQ(step({SDL_SCANCODE_RETURN, SDL_SCANCODE_RALT}, "btn(6)"), "false");
}

TEST_F(HostInputButtons, OppositeDirectionsCancelAndDiagonalsStayOnTheCircle) {
    EXPECT_EQ(step({SDL_SCANCODE_LEFT, SDL_SCANCODE_RIGHT, SDL_SCANCODE_W, SDL_SCANCODE_S},
                   "btn(0), btn(1), btn(10), btn(11)"),
              "false,false,false,false");
    // the device bytes are copied before the adjustment
    EXPECT_EQ(eval(p, "return peek(0x5580), peek(0x5581), peek(0x558a), peek(0x558b)"), "255,255,255,255");
    int diag = (int)(255 * 256 / std::sqrt(2.0 * 255 * 255));
    EXPECT_EQ(step({SDL_SCANCODE_A, SDL_SCANCODE_W, SDL_SCANCODE_UP}, "btn(8), btn(10), btn(2), peek(0x5588)"),
              std::to_string(diag) + "," + std::to_string(diag) + ",255,255");
}

TEST_F(HostInputButtons, BtnpRepeatsAfterTheDelayThenEveryInterval) {
    EXPECT_EQ(btnp_frames(56), (std::vector<int>{1, 31, 39, 47, 55}));
    // the counter moves per call: two calls a frame repeat twice as fast
    EXPECT_EQ(btnp_frames(20, 2), (std::vector<int>{1, 16, 20}));
    poke_proc(p, INPUT_REPEAT_DELAY, 3);
    poke_proc(p, INPUT_REPEAT_INTERVAL, 2);
    EXPECT_EQ(btnp_frames(9), (std::vector<int>{1, 4, 6, 8}));
    poke_proc(p, INPUT_REPEAT_INTERVAL, 255);
    EXPECT_EQ(btnp_frames(9), (std::vector<int>{1, 4}));
    poke_proc(p, INPUT_REPEAT_DELAY, 255);
    EXPECT_EQ(btnp_frames(60), (std::vector<int>{1}));
    EXPECT_EQ(eval(p, "return btnp(4, 8), btnp(16)"), "false,false");
}

TEST_F(HostInputButtons, HeldButtonsWaitForAReleaseAfterInactiveOrSignal23) {
    EXPECT_EQ(step({SDL_SCANCODE_Z, SDL_SCANCODE_X}, "btn(4)"), "255");
    EXPECT_EQ(eval(p, "_update_buttons(false) return btn(4), btn(), stat(334)"), "false,0,0");
    EXPECT_EQ(step({SDL_SCANCODE_Z, SDL_SCANCODE_X}, "btn(4), btn(5)"), "false,false");
    EXPECT_EQ(step({SDL_SCANCODE_X}, "btn(4), btn(5)"), "false,false");
    EXPECT_EQ(step({SDL_SCANCODE_Z}, "btn(4), btnp(4), btn(5)"), "255,true,false");
    EXPECT_EQ(step({SDL_SCANCODE_Z, SDL_SCANCODE_X}, "btn(4), btn(5)"), "255,255");

    EXPECT_EQ(eval(p, "_signal(23) return btn(4)"), "false");
    EXPECT_EQ(step({SDL_SCANCODE_Z}, "btn(4), btnp(4)"), "false,false");
    EXPECT_EQ(step({}, "btn(4)"), "false");
    EXPECT_EQ(step({SDL_SCANCODE_Z}, "btn(4), btnp(4)"), "255,true");
}

TEST_F(HostInputButtons, KeyboardStatCodes) {
    frame({}, {SDL_SCANCODE_LCTRL});
    EXPECT_EQ(eval(p, "return stat(988), stat(305)"), "0,false");
    poke_proc(p, 0x547F, 0x10);
    EXPECT_EQ(eval(p, "return stat(305)"), "true");
    frame({}, {SDL_SCANCODE_LCTRL, SDL_SCANCODE_RCTRL});
    EXPECT_EQ(eval(p, "return stat(988)"), "1");
    frame();
    EXPECT_EQ(eval(p, "return stat(988), stat(305)"), "0,false");

    // key names come from the host's keyboard layout
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    std::string name = SDL_GetKeyName(SDL_GetKeyFromScancode(SDL_SCANCODE_A));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(eval(p, "return stat(302, 4), stat(302, 0), stat(302, 512), stat(302, -1)"), name + ",nil,nil,nil");
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_ResetHint(SDL_HINT_VIDEODRIVER);
}

}  // namespace
