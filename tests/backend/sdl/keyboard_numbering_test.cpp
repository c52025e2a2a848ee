// SDL scancodes to DirectInput codes, virtual keys and key-message parameters.
#include <SDL.h>
#include <gtest/gtest.h>

#include <map>

#include "backend/sdl/scancode_table.h"

TEST(DikFromScancode, KeysWhereTheExtendedPrefixRuleFails) {
    // Num Lock and Pause swap against the E0 rule; the two keypad keys follow it.
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_NUMLOCKCLEAR), 0x45);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_PAUSE), 0xC5);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_KP_DIVIDE), 0xB5);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_KP_ENTER), 0x9C);
}

TEST(DikFromScancode, TheShowsKeys) {
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_ESCAPE), 0x01);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_F1), 0x3B);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_F2), 0x3C);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_F3), 0x3D);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_F4), 0x3E);
    // Keys whose codes are not in scancode order.
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_F11), 0x57);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_RCTRL), 0x9D);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_KP_7), 0x47);
}

TEST(DikFromScancode, KeysWithoutACodeAndOutOfRange) {
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_UNKNOWN), 0);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_F16), 0);
    EXPECT_EQ(dikFromScancode(SDL_SCANCODE_KP_00), 0);
    EXPECT_EQ(dikFromScancode(-1), 0);
    EXPECT_EQ(dikFromScancode(SDL_NUM_SCANCODES), 0);
}

TEST(DikFromScancode, NoTwoKeysShareACodeUnlessTheyShareAPosition) {
    std::map<int, int> owner;
    for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
        const int dik = dikFromScancode(scancode);
        if (dik == 0) continue;
        ASSERT_LT(dik, 256);
        auto [it, fresh] = owner.emplace(dik, scancode);
        if (fresh) continue;
        const bool backslash = dik == 0x2B && it->second == SDL_SCANCODE_BACKSLASH &&
                               scancode == SDL_SCANCODE_NONUSHASH;
        const bool mute =
            dik == 0xA0 && it->second == SDL_SCANCODE_MUTE && scancode == SDL_SCANCODE_AUDIOMUTE;
        EXPECT_TRUE(backslash || mute)
            << "scancodes " << it->second << " and " << scancode << " both give " << dik;
    }
    EXPECT_GT(owner.size(), 130u);
}

TEST(KeyMessages, VirtualKeysAndParameters) {
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_ESCAPE), 0x1Bu);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_F1), 0x70u);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_F12), 0x7Bu);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_Q), static_cast<WPARAM>('Q'));
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_0), static_cast<WPARAM>('0'));
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_KP_9), 0x69u);
    EXPECT_EQ(virtualKeyFromScancode(SDL_SCANCODE_F16), 0u);

    EXPECT_EQ(keyDownParam(0x01), 0x00010001);
    // Extended keys carry bit 24; Num Lock does and Pause does not, against their codes.
    EXPECT_EQ(keyDownParam(0xB5), 0x01350001);
    EXPECT_EQ(keyDownParam(0x45), 0x01450001);
    EXPECT_EQ(keyDownParam(0xC5), 0x00450001);
}
