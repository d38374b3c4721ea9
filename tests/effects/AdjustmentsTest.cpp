#include "effects/Adjustments.h"

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
