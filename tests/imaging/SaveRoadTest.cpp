// Every file writer of the imaging library saves through one road: a failed write, a
// read-only target and a symbolic link behave alike for each (tests/common/SaveFailure.h).
#include "common/SaveFailure.h"
#include "imaging/GifFilter.h"
#include "imaging/ImagingIO.h"

#include <gtest/gtest.h>

using namespace kv;
using namespace kvtest;

namespace {

void Picture(TBitmap& b, int32_t w, int32_t h)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < 3 * w; ++x)
            b.ScanLine(y)[x] = uint8_t((x * 37) ^ (y * 11));
}

// The component's save by the file's extension, the way the editor's JPEG save calls it.
std::function<void(const std::string&)> SaveByName(int32_t Side)
{
    return [Side](const std::string& Name) {
        TBitmap b;
        Picture(b, Side, Side);
        TImagingIO io;
        io.SetBitmap(&b);
        io.SaveToFile(Name);
        if (io.Aborting())
            throw EWriteError("aborted: " + io.AbortReason());
    };
}

} // namespace

TEST(SaveRoad, EveryImagingWriterKeepsTheOldFileAndFollowsLinks)
{
    const TSaveRoadCase cases[] = {
        {"JPEG", "a.jpg", SaveByName(48), 300},
        {"PNG", "a.png", SaveByName(48), 300},
        {"TIFF", "a.tif", SaveByName(48), 300},
        {"PCX", "a.pcx", SaveByName(48), 300},
        {"GIF", "a.gif", SaveByName(48), 300},
        {"BMP", "a.bmp", SaveByName(48), 300},
        {"TGA", "a.tga", SaveByName(48), 300},
        {"PPM", "a.ppm", SaveByName(48), 300},
        // Larger than the road's buffer: these fail in the middle of the writer's work.
        {"BMP, large", "large.bmp", SaveByName(200), 70000},
        {"TIFF, large", "large.tif", SaveByName(200), 70000},
        {"PNG, large", "large.png", SaveByName(400), 70000},
        {"JPEG by its own call", "own.jpeg",
         [](const std::string& Name) {
             TBitmap b;
             Picture(b, 48, 48);
             TImagingIO io;
             io.SetBitmap(&b);
             io.Params().JpegQuality = 100;
             io.SaveToFileJpeg(Name);
         },
         300},
        {"GIF filter's file save", "filter.gif",
         [](const std::string& Name) {
             TBitmap b;
             Picture(b, 48, 48);
             TIOParamsVals p(nullptr);
             bool aborting = false;
             TProgressRec progress;
             progress.Aborting = &aborting;
             SaveGifToFile(Name, b, p, progress);
         },
         300},
    };
    for (const auto& c : cases)
        CheckSaveRoad(c);
}

// The component reports a failed write through its abort flag as well as by raising.
TEST(SaveRoad, ImagingFailedWriteSetsTheAbortFlagAndReason)
{
    TSaveFolder dir;
    const std::string name = dir / "x.png";
    PutFileBytes(name, OldFileBytes());
    const TChildOutcome r = RunUnderFileSizeLimit(100, [&] {
        TBitmap b;
        Picture(b, 32, 32);
        TImagingIO io;
        io.SetBitmap(&b);
        try {
            io.SaveToFile(name);
        } catch (const EWriteError& e) {
            return std::string(io.Aborting() ? "aborting: " : "not aborting: ") + io.AbortReason() + " | " + e.what();
        }
        return std::string("no error");
    });
    EXPECT_FALSE(r.Raised);
    EXPECT_EQ(r.Text, "aborting: " + TooLargeMessage(name) + " | " + TooLargeMessage(name));
    EXPECT_EQ(FileBytes(name), OldFileBytes());
}
