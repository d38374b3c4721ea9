#include "raster/Raster32_LowLevel.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kv;

TEST(Raster32LowLevel, MulDivRoundWorkedValues)
{
    EXPECT_EQ(MulDivRound(7, 1, 2), 4);
    EXPECT_EQ(MulDivRound(-7, 1, 2), -4);
    EXPECT_EQ(MulDivRound(5, 1, 2), 3);
    EXPECT_EQ(MulDivRound(2, 1, 3), 1);
    EXPECT_EQ(MulDivRound(1, 1, 3), 0);
    EXPECT_EQ(MulDivRound(3, 1, -2), -2);
    EXPECT_EQ(MulDivRound(-3, -5, -2), -8);
    EXPECT_EQ(MulDivRound(123, 0, -7), 0);
}

TEST(Raster32LowLevel, MulDivRoundOverflow)
{
    const int32_t Max = std::numeric_limits<int32_t>::max(), Min = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(MulDivRound(5, 6, 0), -1);
    EXPECT_EQ(MulDivRound(0x7FFFFFFF, 4, 1), -1);
    EXPECT_EQ(MulDivRound(0x40000000, 2, 1), -1);
    EXPECT_EQ(MulDivRound(-0x40000000, 2, 1), Min);
    EXPECT_EQ(MulDivRound(0x40000000, -2, 1), Min);
    EXPECT_EQ(MulDivRound(Max, 1, 1), Max);
    EXPECT_EQ(MulDivRound(Min, 1, 1), Min);
    EXPECT_EQ(MulDivRound(Min, -1, 1), -1);     // +2^31 does not fit
    EXPECT_EQ(MulDivRound(Min, Min, Min), Min); // |INT32_MIN| handled in 64 bits
    EXPECT_EQ(MulDivRound(Min, Min, Max), -1);
    // Rounding up across the limit: 2^32 - 1 halves to 2147483647.5, rounded away from zero.
    EXPECT_EQ(MulDivRound(Max, 2, 2), Max);
    EXPECT_EQ(MulDivRound(0xFFFF, 0x10001, 2), -1);
    EXPECT_EQ(MulDivRound(0xFFFF, -0x10001, 2), Min);
}

TEST(Raster32LowLevel, SpansAndClamps)
{
    int32_t A = 7, B = -3;
    EXPECT_TRUE(OrderAndClipSpan(A, B, 5));
    EXPECT_EQ(A, 0);
    EXPECT_EQ(B, 4);
    A = 6, B = 9;
    EXPECT_FALSE(OrderAndClipSpan(A, B, 5));
    EXPECT_EQ(A, 6);
    EXPECT_EQ(B, 4);
    EXPECT_EQ(ClampByte(-1), 0);
    EXPECT_EQ(ClampByte(256), 255);
    EXPECT_EQ(ClampByte(17), 17);
    EXPECT_EQ(ClampInt(5, 7, 3), 7); // Min wins when the bounds cross
    EXPECT_EQ(ClampInt(2, 0, 3), 2);
    EXPECT_EQ(Sar4(-17), -2);
    EXPECT_EQ(Sar8(-1), -1);
    EXPECT_EQ(Sar9(1024), 2);
    EXPECT_EQ(Sar12(-4097), -2);
}

TEST(Raster32LowLevel, FillAndSwap)
{
    uint32_t Cells[5] = {1, 2, 3, 4, 5};
    FillDwords(Cells + 1, 3, 0xDEADBEEF);
    EXPECT_EQ(Cells[0], 1u);
    EXPECT_EQ(Cells[3], 0xDEADBEEFu);
    EXPECT_EQ(Cells[4], 5u);
    FillDwords(Cells, 0, 0);
    FillDwords(Cells, -4, 0);
    EXPECT_EQ(Cells[0], 1u);
    EXPECT_EQ(SwapRedBlueOpaque(0x00123456), 0xFF563412u);
    EXPECT_EQ(SwapRedBlueOpaque(0x7F123456), 0xFF563412u);
}
