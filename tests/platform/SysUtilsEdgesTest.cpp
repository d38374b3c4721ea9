// The platform's text and key helpers on the inputs the common cases skip: lower-case
// hex, the most negative integer, trailing blanks, folders, and the keys and modifiers
// a shortcut is made of.
#include "platform/KvKeys.h"
#include "platform/SysUtils.h"

#include <Qt>
#include <gtest/gtest.h>

#include <climits>

using namespace kv;

TEST(SysUtilsText, NumbersTrimAndPaths)
{
    struct IntCase {
        const char* Text;
        int32_t Want;
    };
    for (const IntCase& C :
         {IntCase{"$ff", 255}, {"0xab", 171}, {"$aBc", 2748}, {"-2147483648", INT_MIN}, {" 12 ", 12}, {"-0x10", -16}})
        EXPECT_EQ(StrToIntDef(C.Text, 7), C.Want) << C.Text;
    for (const char* Bad : {"2147483648", "-2147483649", "$fg", "", "-"})
        EXPECT_EQ(StrToIntDef(Bad, 7), 7) << Bad;
    // Half away from zero, whatever the signs.
    EXPECT_EQ(MulDiv(5, 3, 2), 8);
    EXPECT_EQ(MulDiv(-5, 3, 2), -8);
    EXPECT_EQ(MulDiv(5, -3, -2), 8);
    EXPECT_EQ(MulDiv(10, 1, 4), 3);
    EXPECT_EQ(MulDiv(9, 1, 4), 2);

    EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
    EXPECT_EQ(Trim(std::string("x ") + '\x1f'), "x");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(ExtractFilePath("/a/b/c.png"), "/a/b/");
    EXPECT_EQ(ExtractFilePath("c.png"), "");
    EXPECT_EQ(ExtractFileName("/a/b/c.png"), "c.png");
    EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
    EXPECT_EQ(ChangeFileExt("/a/b.old.png", ".kvn"), "/a/b.old.kvn");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/b"), "/a/b/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/b/"), "/a/b/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
}

TEST(KvKeysMapping, PageKeysAndEveryModifier)
{
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_PageUp), VK_PRIOR);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_PageDown), VK_NEXT);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Home), VK_HOME);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_End), VK_END);
    EXPECT_EQ(ShiftFromQtModifiers(Qt::AltModifier), ssAlt);
    EXPECT_EQ(ShiftFromQtModifiers(Qt::ControlModifier), ssCtrl);
    EXPECT_EQ(ShiftFromQtModifiers(Qt::ShiftModifier), ssShift);
    EXPECT_EQ(ShiftFromQtModifiers(Qt::AltModifier | Qt::ControlModifier), ssAlt | ssCtrl);
    EXPECT_EQ(ShiftFromQtModifiers(0), TShiftState(0));
}
