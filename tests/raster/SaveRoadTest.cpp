// The flattened picture's BMP save takes the one save road (tests/common/SaveFailure.h).
#include "common/SaveFailure.h"
#include "raster/Raster32.h"

#include <gtest/gtest.h>

using namespace kv;
using namespace kvtest;

namespace {

std::function<void(const std::string&)> SaveBitmap32(int32_t Side)
{
    return [Side](const std::string& Name) {
        TBitmap32 b;
        b.SetSize(Side, Side);
        for (int32_t i = 0; i < Side * Side; ++i)
            b.Bits()[i] = TColor32(0xFF000000u | uint32_t(i * 2654435761u >> 8));
        b.SaveToFile(Name);
    };
}

} // namespace

TEST(SaveRoad, FlattenedBitmapKeepsTheOldFileAndFollowsLinks)
{
    const TSaveRoadCase cases[] = {
        {"flattened BMP", "flat.bmp", SaveBitmap32(20), 600},
        {"flattened BMP, past the road's buffer", "big.bmp", SaveBitmap32(200), 100000},
    };
    for (const auto& c : cases)
        CheckSaveRoad(c);
}
