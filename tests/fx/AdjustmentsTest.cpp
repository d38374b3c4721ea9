#include "fx/Adjustments.h"

#include "raster/Raster32.h"

#include <gtest/gtest.h>

using namespace kv;

// Brightness on one grey pixel with a telling alpha: channel results from the integer
// formula, alpha untouched.
TEST(Adjustments, BrightnessKeepsAlphaAndTruncates)
{
    struct TCase {
        int32_t Amount, Grey, Expected;
    } const Cases[] = {{200, 100, 178}, {-200, 100, 22}, {0, 100, 100}, {255, 200, 255}, {-255, 200, 0}, {1, 254, 254}};
    for (const TCase& Case : Cases) {
        TBitmap32 Bitmap;
        Bitmap.SetSize(2, 1);
        const TColor32 Grey = TColor32(Case.Grey) * 0x010101u;
        Bitmap.Bits()[0] = 0x80000000u | Grey;
        Bitmap.Bits()[1] = Grey;
        AdjustBrightness(Bitmap, Case.Amount);
        const TColor32 Want = TColor32(Case.Expected) * 0x010101u;
        EXPECT_EQ(Bitmap.Bits()[0], 0x80000000u | Want) << Case.Amount << " on " << Case.Grey;
        EXPECT_EQ(Bitmap.Bits()[1], Want) << Case.Amount << " on " << Case.Grey;
    }
}

namespace {

// One pixel (alpha 0x80, red R, green G, blue B) after Step.
template <typename TStep> TColor32 AfterStep(TColor32 Pixel, TStep Step)
{
    TBitmap32 Bitmap;
    Bitmap.SetSize(1, 1);
    Bitmap.Bits()[0] = Pixel;
    Step(Bitmap);
    return Bitmap.Bits()[0];
}

TColor32 Grey(int32_t G, uint32_t Alpha = 0x80) { return (Alpha << 24) | TColor32(G) * 0x010101u; }

} // namespace

TEST(Adjustments, ContrastMovesAwayFromMiddleGrey)
{
    struct TCase {
        int32_t Amount, Grey, Expected;
    } const Cases[] = {{100, 200, 228}, {100, 50, 20},  {200, 200, 255}, {100, 127, 127},
                       {100, 128, 128}, {-100, 50, 80}, {-200, 0, 99},   {0, 37, 37}};
    for (const TCase& Case : Cases)
        EXPECT_EQ(AfterStep(Grey(Case.Grey), [&](TBitmap32& B) { AdjustContrast(B, Case.Amount); }),
                  Grey(Case.Expected))
            << Case.Amount << " on " << Case.Grey;
}

TEST(Adjustments, BrightnessAndContrastInEitherOrder)
{
    // Brightness first: 100 -> 119 -> 116; contrast first: 100 -> 90 -> 107.
    EXPECT_EQ(AfterStep(Grey(100),
                        [](TBitmap32& B) {
                            AdjustBrightness(B, 50);
                            AdjustContrast(B, 100);
                        }),
              Grey(116));
    EXPECT_EQ(AfterStep(Grey(100),
                        [](TBitmap32& B) {
                            AdjustContrast(B, 100);
                            AdjustBrightness(B, 50);
                        }),
              Grey(107));
}

TEST(Adjustments, ColourBalanceActsPerChannelAndKeepsAlpha)
{
    struct TCase {
        bool Quality;
        int32_t R, G, B;
        TColor32 Before, After;
    } const Cases[] = {
        {false, 50, 0, 0, 0x10E69696u, 0x10FF9696u},   // red 230 -> 255 (clamped), the rest kept
        {false, 50, 0, 0, 0x10969696u, 0x10C89696u},   // red 150 -> 200
        {false, 0, -50, 20, 0x00202020u, 0x00200034u}, // green to 0, blue + 20
        {true, -50, 0, 0, 0xFF646464u, 0xFF3D6464u},   // red 100 + (-10000 div 255) = 61
        {true, 50, 50, 50, 0x7F646464u, 0x7F8B8B8Bu},  // 100 + 39 = 139
        {true, 0, 0, 0, 0x01020304u, 0x01020304u},     // all zero: nothing
    };
    for (const TCase& Case : Cases) {
        const TColor32 Got = AfterStep(Case.Before, [&](TBitmap32& B) {
            if (Case.Quality)
                ColorBalanceQuality(B, Case.R, Case.G, Case.B);
            else
                ColorBalanceSpeed(B, Case.R, Case.G, Case.B);
        });
        EXPECT_EQ(Got, Case.After) << std::hex << Case.Before;
    }
    // Amounts far outside the gauges' ranges clamp rather than overflow.
    EXPECT_EQ(AfterStep(Grey(9), [](TBitmap32& B) { ColorBalanceQuality(B, INT32_MAX, INT32_MIN, 0); }), 0x80FF0009u);
    EXPECT_EQ(AfterStep(Grey(9), [](TBitmap32& B) { AdjustContrast(B, INT32_MAX); }), Grey(0));
}
