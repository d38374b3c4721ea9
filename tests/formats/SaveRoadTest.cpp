// The GIF saves take the one save road (tests/common/SaveFailure.h).
#include "common/SaveFailure.h"
#include "formats/GIFImage.h"
#include "formats/KvGIF.h"

#include <gtest/gtest.h>

using namespace kvtest;

TEST(SaveRoad, GifSavesKeepTheOldFileAndFollowLinks)
{
    const TSaveRoadCase cases[] = {
        {"GIF (the editor's codec)", "k.gif",
         [](const std::string& Name) {
             kv::TBitmap b;
             b.SetPixelFormat(kv::pf24bit);
             b.SetSize(60, 40);
             for (int32_t y = 0; y < 40; ++y)
                 for (int32_t x = 0; x < 180; ++x)
                     b.ScanLine(y)[x] = uint8_t((x * 13) ^ (y * 29));
             kv::TGIFImage gif;
             gif.Assign(&b);
             gif.SaveToFile(Name);
         },
         300},
        {"GIF block save", "block.gif",
         [](const std::string& Name) {
             kv::GIFImage::TGIFImage image;
             kv::GIFImage::TGIFSubImage sub(&image);
             kv::GIFImage::TGIFCommentExtension comment(&sub);
             comment.Text().Add(std::string(600, 'A'));
             comment.SaveToFile(Name);
         },
         200},
    };
    for (const auto& c : cases)
        CheckSaveRoad(c);
}
