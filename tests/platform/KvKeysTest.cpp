#include "platform/KvKeys.h"

#include <Qt>
#include <gtest/gtest.h>

using namespace kv;

TEST(KvKeys, QtKeysMapToVirtualKeysAndPunctuationHasNone)
{
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_A), 'A');
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_7), '7');
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_F3), 0x72);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Enter), VK_RETURN);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_PageDown), VK_NEXT);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Delete), VK_DELETE);
    // Qt numbers punctuation by its character: '.' and '-' must not pass for Delete
    // (0x2E) and Insert (0x2D).
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Period), 0);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Minus), 0);

    EXPECT_EQ(ShiftFromQtModifiers(0), 0u);
    EXPECT_EQ(ShiftFromQtModifiers(Qt::ShiftModifier | Qt::AltModifier), ssShift | ssAlt);
    EXPECT_EQ(ShiftFromQtModifiers(Qt::ControlModifier | Qt::KeypadModifier), TShiftState(ssCtrl));
    EXPECT_EQ(ShortCutFromQtKey(Qt::Key_S, Qt::ControlModifier), ShortCut('S', scCtrl));
    EXPECT_EQ(ShortCutFromQtKey(Qt::Key_Period, Qt::ControlModifier), 0);
}
