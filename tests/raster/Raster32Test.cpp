#include "raster/Raster32.h"

#include "platform/Icon.h"
#include "platform/Jpeg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace kv;

namespace {

// Records the notifications of a bitmap in the order they fire.
struct TEventLog {
    std::vector<std::string> Events;
    void Watch(TBitmap32& B)
    {
        B.OnChange = [this](TObject*) { Events.push_back("change"); };
        B.OnResize = [this](TObject*) { Events.push_back("resize"); };
    }
};

std::vector<uint8_t> Bytes(TMemoryStream& S) { return S.Bytes(); }

void Fill2x1(TBitmap32& b)
{
    b.SetSize(2, 1);
    b.SetPixelFast(0, 0, 0x00123456);
    b.SetPixelFast(1, 0, 0x80ABCDEF);
}

} // namespace

TEST(Bitmap32Storage, SetSizeNotifiesChangeThenResize)
{
    TBitmap32 b;
    TEventLog log;
    log.Watch(b);
    EXPECT_TRUE(b.SetSize(3, 2));
    EXPECT_EQ(log.Events, (std::vector<std::string>{"change", "resize"}));
    ASSERT_NE(b.Bits(), nullptr);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(b.Bits()[i], 0u) << "new pixels are zero";
    ASSERT_NE(b.Canvas(), nullptr);
    EXPECT_EQ(b.Canvas()->SurfaceWidth(), 3);

    log.Events.clear();
    EXPECT_FALSE(b.SetSize(3, 2));
    EXPECT_TRUE(log.Events.empty());

    b.BeginUpdate();
    EXPECT_TRUE(b.SetSize(4, 4));
    b.EndUpdate();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"resize"}));
}

TEST(Bitmap32Storage, ZeroSideKeepsTheOtherAndIsEmpty)
{
    TBitmap32 b;
    EXPECT_TRUE(b.SetSize(0, 5));
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 5);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.Bits(), nullptr);
    b.SetSize(-3, 2);
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 2);
}

TEST(Bitmap32Storage, ResizeAfterDrawingIsZeroAgain)
{
    TBitmap32 b;
    b.SetSize(2, 2);
    b.ClearTo(0xFFFFFFFF);
    b.SetSize(3, 3);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(b.Bits()[i], 0u);
}

TEST(Bitmap32Storage, TooLargeRaisesAndLeavesEmpty)
{
    TBitmap32 b;
    b.SetSize(2, 2);
    EXPECT_THROW(b.SetSize(70000, 2), EOutOfResources);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
}

TEST(Bitmap32Storage, ClearAndMakeOpaque)
{
    TBitmap32 b;
    TEventLog log;
    log.Watch(b);
    b.Clear();
    EXPECT_TRUE(log.Events.empty()) << "Clear on an empty bitmap fires nothing";
    b.SetSize(2, 1);
    log.Events.clear();
    b.Clear();
    EXPECT_EQ(b.GetPixelFast(1, 0), 0xFF000000u);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"change"}));
    b.ClearTo(0x00123456);
    b.MakeOpaque();
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xFF123456u);
}

TEST(Bitmap32Storage, UpdateCountAndUnpairedEndUpdate)
{
    TBitmap32 b;
    TEventLog log;
    log.Watch(b);
    b.BeginUpdate();
    b.Changed();
    EXPECT_TRUE(log.Events.empty());
    b.EndUpdate();
    EXPECT_TRUE(log.Events.empty()) << "EndUpdate fires nothing";
    b.Changed();
    EXPECT_EQ(log.Events.size(), 1u);
    try {
        b.EndUpdate();
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Unpaired TThreadPersistent.EndUpdate");
    }
}

TEST(Bitmap32Storage, LockCountsAndIsRecursive)
{
    TBitmap32 b;
    b.Lock();
    b.Lock();
    EXPECT_EQ(b.LockCount(), 2);
    b.Unlock();
    b.Unlock();
    EXPECT_EQ(b.LockCount(), 0);
}

TEST(Bitmap32Storage, PropertySettersNotifyOnlyOnChange)
{
    TBitmap32 b;
    TEventLog log;
    log.Watch(b);
    b.SetDrawMode(dmOpaque);
    b.SetMasterAlpha(255);
    b.SetStretchFilter(sfNearest);
    b.SetOuterColor(0x12345678);
    EXPECT_TRUE(log.Events.empty());
    b.SetDrawMode(dmBlend);
    b.SetStretchFilter(sfSpline);
    b.SetMasterAlpha(300);
    EXPECT_EQ(b.MasterAlpha(), 255u) << "clamped; unchanged so no notification";
    EXPECT_EQ(log.Events.size(), 2u);
    b.SetMasterAlpha(-4);
    EXPECT_EQ(b.MasterAlpha(), 0u);
}

TEST(Bitmap32Storage, DestructorFiresNothing)
{
    int fired = 0;
    {
        TBitmap32 b;
        b.SetSize(4, 4);
        b.OnChange = [&](TObject*) { ++fired; };
        b.OnResize = [&](TObject*) { ++fired; };
    }
    EXPECT_EQ(fired, 0);
}

TEST(Bitmap32Assign, FromAnotherBitmap32)
{
    TBitmap32 src;
    Fill2x1(src);
    src.SetDrawMode(dmBlend);
    src.SetMasterAlpha(100);
    src.SetOuterColor(0x11223344);
    src.SetStretchFilter(sfLinear);
    int srcChanges = 0;
    src.OnChange = [&](TObject*) { ++srcChanges; };

    TBitmap32 dst;
    TEventLog log;
    log.Watch(dst);
    dst.Assign(&src);
    EXPECT_EQ(dst.Width(), 2);
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0x00123456u);
    EXPECT_EQ(dst.GetPixelFast(1, 0), 0x80ABCDEFu);
    EXPECT_EQ(dst.DrawMode(), dmBlend);
    EXPECT_EQ(dst.MasterAlpha(), 100u);
    EXPECT_EQ(dst.OuterColor(), 0x11223344u);
    EXPECT_EQ(dst.StretchFilter(), sfLinear);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"resize", "change"}));
    EXPECT_EQ(dst.UpdateCount(), 0);
    // The events were not copied: a change of dst does not reach src's handler.
    dst.Changed();
    EXPECT_EQ(srcChanges, 0);
}

TEST(Bitmap32Assign, EmptySourceOnlyEmpties)
{
    TBitmap32 dst;
    dst.SetSize(3, 3);
    dst.SetMasterAlpha(7);
    TBitmap32 empty;
    empty.SetMasterAlpha(200);
    dst.Assign(&empty);
    EXPECT_TRUE(dst.IsEmpty());
    EXPECT_EQ(dst.MasterAlpha(), 7u);
    dst.SetSize(2, 2);
    dst.Assign(nullptr);
    EXPECT_TRUE(dst.IsEmpty());
}

TEST(Bitmap32Assign, UnknownClassRaisesAndKeepsNotifying)
{
    TBitmap32 dst;
    TStringList wrong;
    EXPECT_THROW(dst.Assign(&wrong), EConvertError);
    EXPECT_EQ(dst.UpdateCount(), 0) << "the update count is balanced after a failure";
    int changes = 0;
    dst.OnChange = [&](TObject*) { ++changes; };
    dst.SetSize(1, 1);
    EXPECT_EQ(changes, 1);
}

TEST(Bitmap32Assign, PlatformBitmapRoundTrip)
{
    TBitmap32 src;
    Fill2x1(src);
    TBitmap bmp;
    bmp.Assign(&src);
    EXPECT_EQ(bmp.PixelFormat(), pf32bit);
    EXPECT_EQ(bmp.Width(), 2);
    const uint8_t* row = bmp.ScanLine(0);
    EXPECT_EQ(GetU32LE(row + 4), 0x80ABCDEFu);

    TBitmap32 back;
    back.Assign(&bmp);
    EXPECT_EQ(back.GetPixelFast(0, 0), 0x00123456u) << "a 32-bit source keeps alpha";
    EXPECT_EQ(back.GetPixelFast(1, 0), 0x80ABCDEFu);

    bmp.SetPixelFormat(pf24bit);
    back.Assign(&bmp);
    EXPECT_EQ(back.GetPixelFast(0, 0), 0xFF123456u) << "other depths become opaque";
    EXPECT_EQ(back.GetPixelFast(1, 0), 0xFFABCDEFu);
}

TEST(Bitmap32Assign, AGraphicIsDrawnOnBlackAndMadeOpaque)
{
    // A 3 x 1 icon of 32 bits whose alpha is 0, 53 and 255, drawn as the platform's canvas
    // draws it on a fresh (black) bitmap: each channel c * a / 255, rounded, then opaque.
    // (151, 23, 68) at 53 gives 8003 / 255 = 31, 1219 / 255 = 5, 3604 / 255 = 14.
    std::vector<uint8_t> ico = {0,  0, 1, 0, 1,  0,         // reserved, type icon, one image
                                3,  1, 0, 0, 1,  0, 32, 0,  // 3 x 1, no palette, 1 plane, 32 bits
                                56, 0, 0, 0, 22, 0, 0,  0,  // image size 56, at offset 22
                                40, 0, 0, 0, 3,  0, 0,  0,  // BITMAPINFOHEADER: size, width
                                2,  0, 0, 0, 1,  0, 32, 0}; // height (colour + mask), planes, bits
    ico.resize(ico.size() + 24, 0);                         // compression .. important colours
    for (uint8_t b : {0x1E, 0x14, 0x0A, 0, 0x44, 0x17, 0x97, 53, 0x32, 0x64, 0xC8, 255})
        ico.push_back(b);          // B, G, R, A
    ico.resize(ico.size() + 4, 0); // the mask row
    TReadOnlyMemoryStream stream(ico.data(), int64_t(ico.size()));
    TIcon icon;
    icon.LoadFromStream(stream);
    TBitmap32 dst;
    dst.Assign(&icon);
    ASSERT_EQ(dst.Width(), 3);
    EXPECT_EQ(dst.GetPixelFast(0, 0), 0xFF000000u);
    EXPECT_EQ(dst.GetPixelFast(1, 0), 0xFF1F050Eu);
    EXPECT_EQ(dst.GetPixelFast(2, 0), 0xFFC86432u);
}

TEST(Bitmap32Streams, DataLayoutAndRoundTrip)
{
    TBitmap32 b;
    Fill2x1(b);
    TMemoryStream s;
    b.WriteData(s);
    const std::vector<uint8_t> expected{2, 0, 0, 0, 1, 0, 0, 0, 0x56, 0x34, 0x12, 0x00, 0xEF, 0xCD, 0xAB, 0x80};
    EXPECT_EQ(Bytes(s), expected);

    s.SetPosition(0);
    TBitmap32 back;
    int changes = 0;
    back.OnChange = [&](TObject*) { ++changes; };
    back.ReadData(s);
    EXPECT_TRUE(TBitmap32::DataEquals(&b, &back));
    EXPECT_GE(changes, 1);
}

TEST(Bitmap32Streams, DataReaderRefusesBadHeaders)
{
    auto reject = [](std::vector<uint8_t> bytes) {
        TBitmap32 b;
        b.SetSize(3, 3);
        TReadOnlyMemoryStream s(bytes.data(), int64_t(bytes.size()));
        EXPECT_THROW(b.ReadData(s), EReadError);
        EXPECT_TRUE(b.IsEmpty());
        EXPECT_EQ(b.Width(), 0);
    };
    // -2 x -1: the product is positive but the sizes are not.
    reject({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8});
    // -2^31 x -2^31 and -1431655766 x -2063663104: four bytes a pixel times either
    // product leaves 64 bits.
    reject({0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80});
    reject({0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x00, 0xFF, 0x84});
    // 100000 x 100000.
    reject({0xA0, 0x86, 0x01, 0x00, 0xA0, 0x86, 0x01, 0x00});
    // 2 x 1 with only one pixel.
    reject({2, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3, 4});
    // Header itself cut short.
    reject({2, 0, 0});
}

TEST(Bitmap32Streams, DataEqualityRules)
{
    TBitmap32 a, b;
    EXPECT_TRUE(TBitmap32::DataEquals(&a, &b));
    a.SetSize(1, 1);
    EXPECT_FALSE(TBitmap32::DataEquals(&a, &b));
    b.SetSize(1, 1);
    EXPECT_TRUE(TBitmap32::DataEquals(&a, &b));
    b.SetPixelFast(0, 0, 1);
    EXPECT_FALSE(TBitmap32::DataEquals(&a, &b));
    EXPECT_TRUE(a.ShouldWriteData(nullptr));
    EXPECT_TRUE(a.ShouldWriteData(&b));
    TBitmap32 empty;
    EXPECT_FALSE(empty.ShouldWriteData(nullptr));
}

TEST(Bitmap32Streams, BmpLayoutOfA32BitSave)
{
    TBitmap32 b;
    Fill2x1(b);
    TMemoryStream s;
    b.SaveToStream(s);
    const std::vector<uint8_t>& d = s.Bytes();
    ASSERT_EQ(d.size(), 62u);
    EXPECT_EQ(d[0], 'B');
    EXPECT_EQ(d[1], 'M');
    EXPECT_EQ(GetU32LE(&d[2]), 62u);                   // bfSize
    EXPECT_EQ(GetU32LE(&d[10]), 54u);                  // bfOffBits
    EXPECT_EQ(GetU32LE(&d[14]), 40u);                  // biSize
    EXPECT_EQ(GetU32LE(&d[18]), 2u);                   // biWidth
    EXPECT_EQ(std::abs(int32_t(GetU32LE(&d[22]))), 1); // biHeight
    EXPECT_EQ(GetU16LE(&d[26]), 1u);                   // biPlanes
    EXPECT_EQ(GetU16LE(&d[28]), 32u);                  // biBitCount
    EXPECT_EQ(GetU32LE(&d[30]), 0u);                   // BI_RGB
    const std::vector<uint8_t> pixels(d.begin() + 54, d.end());
    EXPECT_EQ(pixels, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x00, 0xEF, 0xCD, 0xAB, 0x80}));

    s.SetPosition(0);
    TBitmap32 back;
    back.LoadFromStream(s);
    EXPECT_TRUE(TBitmap32::DataEquals(&b, &back)) << "alpha 0x00 and 0x80 survive";
}

TEST(Bitmap32Streams, TwentyFourBitBmpLoadsOpaque)
{
    // A 2 x 1 24-bit BMP: 14 + 40 header bytes, one row of 6 bytes padded to 8.
    std::vector<uint8_t> f(62, 0);
    f[0] = 'B';
    f[1] = 'M';
    PutU32LE(&f[2], 62);
    PutU32LE(&f[10], 54);
    PutU32LE(&f[14], 40);
    PutU32LE(&f[18], 2);
    PutU32LE(&f[22], 1);
    PutU16LE(&f[26], 1);
    PutU16LE(&f[28], 24);
    PutU32LE(&f[34], 8);
    const uint8_t row[8] = {0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0, 0};
    std::copy(row, row + 8, f.begin() + 54);
    TReadOnlyMemoryStream s(f.data(), int64_t(f.size()));
    TBitmap32 b;
    b.LoadFromStream(s);
    ASSERT_EQ(b.Width(), 2);
    EXPECT_EQ(b.GetPixelFast(0, 0), 0xFF123456u);
    EXPECT_EQ(b.GetPixelFast(1, 0), 0xFFABCDEFu);
}

TEST(Bitmap32Streams, BadBmpRaisesAndLeavesBitmapAlone)
{
    TBitmap32 b;
    Fill2x1(b);
    const uint8_t junk[] = {'B', 'M', 1, 2, 3};
    TReadOnlyMemoryStream s(junk, sizeof junk);
    EXPECT_ANY_THROW(b.LoadFromStream(s));
    EXPECT_EQ(b.GetPixelFast(1, 0), 0x80ABCDEFu);
    EXPECT_EQ(b.UpdateCount(), 0);
}

TEST(Bitmap32Streams, FileRoundTripWritesBmpWhateverTheExtension)
{
    TBitmap32 b;
    Fill2x1(b);
    std::string name = testing::TempDir() + "kv_bitmap32_roundtrip.bmp";
    b.SaveToFile(name);
    TBitmap32 back;
    back.LoadFromFile(name);
    EXPECT_TRUE(TBitmap32::DataEquals(&b, &back));
    std::remove(name.c_str());
}

TEST(Bitmap32Assign, TakeOverMovesPixelsAndSettingsAndEmptiesTheSource)
{
    TBitmap32 Src, Dst;
    Src.SetSize(3, 2);
    Src.ClearTo(0x80102030u);
    Src.SetDrawMode(dmBlend);
    Src.SetMasterAlpha(77);
    const TColor32* Block = Src.Bits();
    int Changes = 0, Resizes = 0;
    Dst.OnChange = [&](TObject*) { ++Changes; };
    Dst.OnResize = [&](TObject*) { ++Resizes; };
    Dst.TakeOver(Src);
    EXPECT_EQ(Dst.Bits(), Block); // the block itself, not a copy
    EXPECT_EQ(Dst.Width(), 3);
    EXPECT_EQ(Dst.Height(), 2);
    EXPECT_EQ(Dst.GetPixelFast(2, 1), 0x80102030u);
    EXPECT_EQ(Dst.DrawMode(), dmBlend);
    EXPECT_EQ(Dst.MasterAlpha(), 77u);
    EXPECT_EQ(Resizes, 1);
    EXPECT_GE(Changes, 1);
    EXPECT_TRUE(Src.IsEmpty());
    EXPECT_EQ(Src.Bits(), nullptr);
    Dst.Canvas()->FillRect(Rect(0, 0, 1, 1)); // the canvas moved with its pixels
    TBitmap32 Empty;
    Dst.TakeOver(Empty);
    EXPECT_TRUE(Dst.IsEmpty());
}

TEST(Bitmap32Assign, PalettedBitmapsConvertAsTheirCanvasBlitDid)
{
    for (TPixelFormat Format : {pf1bit, pf4bit, pf8bit, pf16bit, pf15bit}) {
        TBitmap B;
        B.SetPixelFormat(Format);
        B.SetSize(19, 7);
        for (int Y = 0; Y < 7; ++Y)
            for (int X = 0; X < 19; ++X)
                B.SetPixelColor(X, Y, RGB(uint8_t(X * 13), uint8_t(Y * 37), uint8_t(X * Y)));
        TBitmap32 Direct;
        Direct.Assign(&B);
        TBitmap32 Blit;
        Blit.SetSize(19, 7);
        BitBlt(Blit.Handle(), 0, 0, 19, 7, B.Canvas()->Handle(), 0, 0, SRCCOPY);
        Blit.MakeOpaque();
        ASSERT_EQ(Direct.Width(), 19);
        for (int Y = 0; Y < 7; ++Y)
            for (int X = 0; X < 19; ++X)
                ASSERT_EQ(Direct.GetPixelFast(X, Y), Blit.GetPixelFast(X, Y)) << int(Format) << " " << X << "," << Y;
    }
}

TEST(Bitmap32Files, JpegLoadsStraightWithThePictureRoadsPixelsAndErrors)
{
    const std::string Dir = ::testing::TempDir();
    const std::string Name = Dir + "kv_b32_direct.jpg";
    TBitmap Src;
    Src.SetPixelFormat(pf24bit);
    Src.SetSize(45, 31);
    for (int Y = 0; Y < 31; ++Y)
        for (int X = 0; X < 45; ++X)
            Src.SetPixelColor(X, Y, RGB(uint8_t(X * 5), uint8_t(Y * 8), uint8_t(X ^ Y)));
    TJPEGImage Jpg;
    Jpg.Assign(&Src);
    Jpg.SaveToFile(Name);

    TBitmap32 Straight;
    Straight.LoadFromFile(Name);
    TPicture Picture; // the road through the picture class and its drawing
    Picture.LoadFromFile(Name);
    TBitmap32 Drawn;
    Drawn.Assign(&Picture);
    ASSERT_EQ(Straight.Width(), 45);
    ASSERT_EQ(Straight.Height(), 31);
    for (int Y = 0; Y < 31; ++Y)
        for (int X = 0; X < 45; ++X)
            ASSERT_EQ(Straight.GetPixelFast(X, Y), Drawn.GetPixelFast(X, Y)) << X << "," << Y;

    // A failed load raises the picture class's error and leaves the bitmap as it was.
    const std::string Empty = Dir + "kv_b32_empty.jpg";
    std::fclose(std::fopen(Empty.c_str(), "wb"));
    try {
        Straight.LoadFromFile(Empty);
        FAIL();
    } catch (const EInvalidGraphic& E) {
        EXPECT_EQ(E.Message(), "JPEG error #53: Not a JPEG file");
    }
    EXPECT_EQ(Straight.Width(), 45);
    std::remove(Name.c_str());
    std::remove(Empty.c_str());
}
