#include "backend/web/dom_keys.h"

#include <gtest/gtest.h>

#include "backend/emulated/key_schedule.h"
#include "backend/platform_constants.h"

TEST(DomKeys, TheShowsKeysByTheirDomCodes) {
    EXPECT_EQ(scanCodeFromDomCode("F1"), DIK_F1);
    EXPECT_EQ(scanCodeFromDomCode("F2"), DIK_F2);
    EXPECT_EQ(scanCodeFromDomCode("F3"), DIK_F3);
    EXPECT_EQ(scanCodeFromDomCode("F4"), DIK_F4);
    EXPECT_EQ(scanCodeFromDomCode("NumLock"), DIK_NUMLOCK);
    EXPECT_EQ(scanCodeFromDomCode("NumpadDivide"), DIK_DIVIDE);
    EXPECT_EQ(scanCodeFromDomCode("Escape"), kScanEscape);
}

TEST(DomKeys, OtherKeysDoNothing) {
    // The main keyboard's slash types the same character as the keypad's, but is another key.
    EXPECT_EQ(scanCodeFromDomCode("Slash"), 0);
    EXPECT_EQ(scanCodeFromDomCode("F5"), 0);
    EXPECT_EQ(scanCodeFromDomCode("KeyA"), 0);
    EXPECT_EQ(scanCodeFromDomCode("Numpad1"), 0);
    EXPECT_EQ(scanCodeFromDomCode(""), 0);
    EXPECT_EQ(scanCodeFromDomCode(nullptr), 0);
}
