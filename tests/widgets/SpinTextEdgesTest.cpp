// The spin edit's text conversions on the cases its common values skip: hex with the
// fewest digits, negative decimals, and values past the maximum.
#include "widgets/KvSpinEdit.h"

#include <gtest/gtest.h>

using namespace kv;

TEST(SpinText, HexDigitsSignsAndTheMaximum)
{
    EXPECT_EQ(IntToHex(10, 1), "A");
    EXPECT_EQ(IntToHex(255, 1), "FF");
    EXPECT_EQ(IntToHex(10, 4), "000A");
    EXPECT_EQ(IntToHex(0, 0), "0");
    Extended V = 0;
    ASSERT_TRUE(TryStrToFloat("-2.5", V));
    EXPECT_EQ(V, -2.5L);
    ASSERT_TRUE(TryStrToFloat("+3", V));
    EXPECT_EQ(V, 3.0L);
    ASSERT_TRUE(TryStrToFloat(" -0.25e1 ", V));
    EXPECT_EQ(V, -2.5L);

    TKvSpinEdit E;
    E.SetMinValue(-5);
    E.SetMaxValue(10);
    EXPECT_EQ(E.CheckValue(11), 10);
    EXPECT_EQ(E.CheckValue(1e9L), 10);
    EXPECT_EQ(E.CheckValue(-6), -5);
    EXPECT_EQ(E.CheckValue(7), 7);
    E.SetValue(99);
    EXPECT_EQ(E.Value(), 10);
}
