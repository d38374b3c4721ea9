// The GIF container: files written byte for byte, files read back, round trips through
// the writer and the reader, and truncated or hostile streams.
#include "formats/KvGIF.h"
#include "common/DamagedGifs.h"
#include "platform/Clipbrd.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Save(TGIFImage& gif)
{
    TMemoryStream s;
    gif.SaveToStream(s);
    return s.Bytes();
}

void Load(TGIFImage& gif, const Bytes& b)
{
    TReadOnlyMemoryStream s(b.data(), int64_t(b.size()));
    gif.LoadFromStream(s);
}

std::unique_ptr<TBitmap> Paletted(TPixelFormat format, int32_t w, int32_t h, const std::vector<TPaletteEntry>& pal)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(format);
    b->SetPaletteEntries(pal);
    b->SetSize(w, h);
    return b;
}

// Sets pixel (x, y) of a 1/4/8-bit bitmap to a palette index.
void PutIndex(TBitmap& b, int32_t x, int32_t y, uint8_t v)
{
    uint8_t* row = b.ScanLine(y);
    switch (b.PixelFormat()) {
    case pf8bit: row[x] = v; break;
    case pf4bit: row[x / 2] = uint8_t(x % 2 ? (row[x / 2] & 0xF0) | v : (row[x / 2] & 0x0F) | (v << 4)); break;
    default: row[x / 8] = uint8_t((row[x / 8] & ~(0x80 >> (x % 8))) | ((v & 1) << (7 - x % 8)));
    }
}

uint8_t GetIndex(TBitmap& b, int32_t x, int32_t y)
{
    const uint8_t* row = b.ScanLine(y);
    switch (b.PixelFormat()) {
    case pf8bit: return row[x];
    case pf4bit: return x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
    default: return (row[x / 8] >> (7 - x % 8)) & 1;
    }
}

const Bytes FileD{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00,
                  0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xFF, 0x0B, 0x4E, 0x45, 0x54, 0x53, 0x43, 0x41,
                  0x50, 0x45, 0x32, 0x2E, 0x30, 0x03, 0x01, 0xFF, 0xFF, 0x00, 0x2C, 0x00, 0x00, 0x00,
                  0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x2C, 0x00, 0x00,
                  0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

// A one-frame, one-pixel GIF with a two-entry global table, with extra bytes spliced
// in before the image descriptor.
Bytes TinyGIF(const Bytes& beforeImage, const Bytes& afterImage = {})
{
    Bytes b{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    b.insert(b.end(), beforeImage.begin(), beforeImage.end());
    const Bytes image{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0x02, 0x02, 0x44, 0x01, 0x00};
    b.insert(b.end(), image.begin(), image.end());
    b.insert(b.end(), afterImage.begin(), afterImage.end());
    b.push_back(0x3B);
    return b;
}

const std::vector<TPaletteEntry> BlackWhite{{0, 0, 0, 0}, {255, 255, 255, 0}};

} // namespace

TEST(KvGIF, TwentyFourBitBitmapIsReducedAndWrittenAsFileA)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 1);
    bmp.SetPixelColor(0, 0, RGB(255, 0, 0));
    bmp.SetPixelColor(1, 0, RGB(255, 0, 0));
    bmp.SetPixelColor(2, 0, RGB(0, 0, 255));
    TGIFImage gif;
    gif.Assign(&bmp);
    const Bytes b = Save(gif);
    ASSERT_EQ(b.size(), 801u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 13), (Bytes{'G', 'I', 'F', '8', '7', 'a', 3, 0, 1, 0, 0xF7, 0, 0}));
    EXPECT_EQ(Bytes(b.begin() + 13, b.begin() + 19), (Bytes{0xFF, 0, 0, 0, 0, 0xFF}));
    for (size_t i = 19; i < 781; ++i)
        ASSERT_EQ(b[i], 0x80) << i;
    EXPECT_EQ(Bytes(b.begin() + 781, b.end()),
              (Bytes{0x2C, 0, 0, 0, 0, 3, 0, 1, 0, 0, 0x08, 0x06, 0x00, 0x01, 0x00, 0x08, 0x10, 0x10, 0x00, 0x3B}));
}

TEST(KvGIF, OneBitBitmapAndItsGraphicControlExtension)
{
    auto bmp = Paletted(pf1bit, 8, 1, BlackWhite);
    TGIFImage gif;
    gif.Assign(bmp.get());
    const Bytes fileB{0x47, 0x49, 0x46, 0x38, 0x37, 0x61, 0x08, 0x00, 0x01, 0x00, 0x80, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x2C, 0x00, 0x00, 0x00, 0x00,
                      0x08, 0x00, 0x01, 0x00, 0x00, 0x02, 0x03, 0x84, 0x6F, 0x05, 0x00, 0x3B};
    EXPECT_EQ(Save(gif), fileB);

    TGIFImage withGce;
    withGce.Assign(bmp.get());
    withGce.Frames(0)->DelayMs = 250;
    withGce.Frames(0)->TransparentColor = clBlack;
    const Bytes fileC{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x08, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04, 0x01, 0x19, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
                      0x00, 0x00, 0x08, 0x00, 0x01, 0x00, 0x00, 0x02, 0x03, 0x84, 0x6F, 0x05, 0x00, 0x3B};
    EXPECT_EQ(Save(withGce), fileC);

    // A transparent colour that is not in the table: the flag stays clear.
    withGce.Frames(0)->TransparentColor = RGB(1, 2, 3);
    const Bytes c2 = Save(withGce);
    EXPECT_EQ(Bytes(c2.begin() + 19, c2.begin() + 27), (Bytes{0x21, 0xF9, 0x04, 0x00, 0x19, 0x00, 0x00, 0x00}));
}

TEST(KvGIF, TransparentEntryThreeWithDelay)
{
    std::vector<TPaletteEntry> pal(16);
    pal[3] = {9, 8, 7, 0};
    auto bmp = Paletted(pf4bit, 2, 2, pal);
    TGIFImage gif;
    gif.Assign(bmp.get());
    gif.Frames(0)->TransparentColor = RGB(9, 8, 7);
    gif.Frames(0)->DelayMs = 250;
    const Bytes b = Save(gif);
    const Bytes gce{0x21, 0xF9, 0x04, 0x01, 0x19, 0x00, 0x03, 0x00};
    EXPECT_NE(std::search(b.begin(), b.end(), gce.begin(), gce.end()), b.end());
    // Delays past 65535 hundredths are clamped, not wrapped.
    gif.Frames(0)->DelayMs = 1000000;
    const Bytes c = Save(gif);
    const Bytes clamped{0x21, 0xF9, 0x04, 0x01, 0xFF, 0xFF, 0x03, 0x00};
    EXPECT_NE(std::search(c.begin(), c.end(), clamped.begin(), clamped.end()), c.end());
}

TEST(KvGIF, LoopBlockRoundTrip)
{
    TGIFImage gif;
    Load(gif, FileD);
    EXPECT_EQ(gif.Count(), 2);
    EXPECT_TRUE(gif.LoopEnabled());
    EXPECT_EQ(gif.LoopCount(), 30000);
    EXPECT_EQ(gif.Width(), 1);
    EXPECT_EQ(gif.BackgroundColor(), clBlack);
    Bytes expected = FileD;
    expected[35] = 0x30;
    expected[36] = 0x75;
    EXPECT_EQ(Save(gif), expected);
    // With one frame the loop block is not written.
    TGIFImage one;
    Load(one, TinyGIF({0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 5, 0, 0}));
    EXPECT_TRUE(one.LoopEnabled());
    EXPECT_EQ(one.LoopCount(), 5);
    const Bytes b = Save(one);
    EXPECT_EQ(std::search(b.begin(), b.end(), FileD.begin() + 22, FileD.begin() + 33), b.end());
}

TEST(KvGIF, RoundTripsAtOneFourAndEightBits)
{
    std::mt19937 rng(11);
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit}) {
        const int colors = format == pf1bit ? 2 : format == pf4bit ? 16 : 256;
        std::vector<TPaletteEntry> pal(static_cast<size_t>(colors));
        for (int i = 0; i < colors; ++i)
            pal[size_t(i)] = {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3), 0};
        auto bmp = Paletted(format, 37, 23, pal);
        for (int32_t y = 0; y < 23; ++y)
            for (int32_t x = 0; x < 37; ++x)
                PutIndex(*bmp, x, y, uint8_t((x * y + x / 3 + (rng() % 3 == 0 ? rng() : 0)) % colors));
        TGIFImage gif;
        gif.Assign(bmp.get());
        const Bytes b = Save(gif);
        TGIFImage back;
        Load(back, b);
        ASSERT_EQ(back.Count(), 1);
        TBitmap* got = back.Frames(0)->Bitmap();
        ASSERT_EQ(got->PixelFormat(), format);
        ASSERT_EQ(got->Width(), 37);
        ASSERT_EQ(got->Height(), 23);
        EXPECT_FALSE(back.Frames(0)->DataTruncated);
        for (int32_t y = 0; y < 23; ++y)
            for (int32_t x = 0; x < 37; ++x)
                ASSERT_EQ(GetIndex(*got, x, y), GetIndex(*bmp, x, y)) << x << "," << y;
        EXPECT_EQ(got->PaletteEntries()[size_t(colors - 1)], pal[size_t(colors - 1)]);
        EXPECT_EQ(b[29 + 3 * (colors - 2)], format == pf1bit   ? 2
                                            : format == pf4bit ? 4
                                                               : 8)
            << "minimum code size after the global table";
    }
}

TEST(KvGIF, TwentyFourBitRoundTripKeepsUpTo256Colours)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(40, 30);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x)
            bmp.SetPixelColor(x, y, RGB(uint8_t(x % 8 * 30), uint8_t(y % 8 * 30), uint8_t((x + y) % 4 * 60)));
    TGIFImage gif;
    gif.Assign(&bmp);
    TGIFImage back;
    Load(back, Save(gif));
    TBitmap out;
    out.Assign(&back);
    ASSERT_EQ(out.Width(), 40);
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x)
            ASSERT_EQ(out.PixelColor(x, y), bmp.PixelColor(x, y)) << x << "," << y;
}

TEST(KvGIF, FramesVersionAndLocalTables)
{
    auto a = Paletted(pf1bit, 4, 2, BlackWhite);
    auto b = Paletted(pf1bit, 6, 3, BlackWhite);
    TGIFImage gif;
    EXPECT_EQ(gif.AddFrame(a.get()), 0);
    EXPECT_EQ(gif.Version(), gv87a);
    EXPECT_EQ(gif.AddFrame(b.get()), 1);
    EXPECT_EQ(gif.Version(), gv89a);
    gif.Frames(1)->Position = TPoint{2, 1};
    const Bytes bytes = Save(gif);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 10), (Bytes{'G', 'I', 'F', '8', '9', 'a', 8, 0, 4, 0}));
    TGIFImage back;
    Load(back, bytes);
    ASSERT_EQ(back.Count(), 2);
    EXPECT_FALSE(back.Frames(0)->HasLocalTable);
    EXPECT_TRUE(back.Frames(1)->HasLocalTable); // equal colours, still a local table
    EXPECT_EQ(back.Frames(1)->Position, (TPoint{2, 1}));
    EXPECT_EQ(back.Frames(1)->Bitmap()->Width(), 6);
}

TEST(KvGIF, InterlacedFramesDecodeInPassOrder)
{
    // 1 x 5, 8-bit codes for rows 0..4 holding 0..4, stored in the order 0, 4, 2, 1, 3.
    std::vector<uint8_t> block(4 * 5);
    const uint8_t stored[5] = {0, 4, 2, 1, 3};
    for (int i = 0; i < 5; ++i)
        block[size_t(4 * (4 - i))] = stored[i]; // bottom-up: file order becomes picture rows 0..4
    TMemoryStream lzw;
    EncodeLZW(lzw, TGIFBitmapInfo{1, 5, 8}, false, nullptr, nullptr, block.data());
    Bytes file{'G', 'I', 'F', '8', '7', 'a', 1, 0, 5, 0, 0x87, 0, 0};
    for (int i = 0; i < 256; ++i)
        file.insert(file.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    file.insert(file.end(), {0x2C, 0, 0, 0, 0, 1, 0, 5, 0, 0x40});
    file.insert(file.end(), lzw.Memory(), lzw.Memory() + lzw.Size());
    file.push_back(0x3B);
    TGIFImage gif;
    Load(gif, file);
    TBitmap* bmp = gif.Frames(0)->Bitmap();
    EXPECT_TRUE(gif.Frames(0)->Interlaced);
    for (int32_t y = 0; y < 5; ++y)
        EXPECT_EQ(bmp->ScanLine(y)[0], y);
}

TEST(KvGIF, CommentsStayWithTheirFrameOrBecomeThePictureComment)
{
    const Bytes before{0x21, 0xFE, 3, 'o', 'n', 'e', 0};
    const Bytes after{0x21, 0xFE, 3, 'e', 'n', 'd', 0};
    TGIFImage gif;
    Load(gif, TinyGIF(before, after));
    ASSERT_EQ(gif.Count(), 1);
    EXPECT_EQ(gif.Frames(0)->CommentLines(), (std::vector<std::string>{"one"}));
    ASSERT_EQ(gif.SharedData()->Comment.Count(), 1);
    EXPECT_EQ(gif.SharedData()->Comment[0], "end");
    const Bytes saved = Save(gif);
    EXPECT_EQ(saved, TinyGIF(before, after));
}

TEST(KvGIF, GraphicControlOfAnOddSizeKeepsLaterFrames)
{
    // Block size 5: one extra byte, then the terminator. Both frames must survive.
    const Bytes gce{0x21, 0xF9, 0x05, 0x01, 0x0A, 0x00, 0x01, 0x77, 0x00};
    Bytes file = TinyGIF(gce);
    file.pop_back();
    const Bytes second{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    file.insert(file.end(), second.begin(), second.end());
    TGIFImage gif;
    Load(gif, file);
    ASSERT_EQ(gif.Count(), 2);
    EXPECT_EQ(gif.Frames(0)->DelayMs, 100u);
    EXPECT_EQ(gif.Frames(0)->TransparentColor, clWhite);
    // A block too short for the fields is dropped.
    TGIFImage shortGce;
    Load(shortGce, TinyGIF({0x21, 0xF9, 0x02, 0x01, 0x0A, 0x00}));
    EXPECT_EQ(shortGce.Count(), 1);
    EXPECT_EQ(shortGce.Frames(0)->TransparentColor, clNone);
}

TEST(KvGIF, DuplicateColoursKeepTheTransparentIndexOnResave)
{
    // Both table entries are white; the file marks entry 1 transparent.
    Bytes file{'G', 'I', 'F', '8', '9',  'a',  1,    0,    1,    0,    0x80, 0,    0,    255, 255,
               255, 255, 255, 255, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x01, 0x00, 0x2C, 0,   0,
               0,   0,   1,   0,   1,    0,    0,    0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    TGIFImage gif;
    Load(gif, file);
    EXPECT_EQ(Save(gif), file);
}

TEST(KvGIF, EdgeCasesOfTheReader)
{
    TGIFImage gif;
    Load(gif, Bytes{});
    EXPECT_TRUE(gif.Empty());
    EXPECT_EQ(gif.Count(), 0);
    try {
        Save(gif);
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Нет данных для записи в формате GIF");
    }
    Bytes lower = TinyGIF({});
    std::copy_n("gif89A", 6, lower.begin());
    Load(gif, lower);
    EXPECT_EQ(gif.Count(), 1);
    Bytes bad = TinyGIF({});
    bad[4] = '8';
    try {
        Load(gif, bad);
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Неизвестная версия изображения GIF");
    }
    try {
        Load(gif, TinyGIF({0x21, 0x77, 0}));
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Неопределенное расширение GIF: 77");
    }
    EXPECT_THROW(gif.SetWidth(5), EInvalidGraphicOperation);
    // Width 0 in the descriptor takes the screen width.
    Bytes zero = TinyGIF({});
    zero[6] = 3;
    zero[19 + 5] = 0;
    Load(gif, zero);
    EXPECT_EQ(gif.Width(), 3);
    // Screen and frame both 0 wide: an empty bitmap, flagged, nothing decoded.
    zero[6] = 0;
    Load(gif, zero);
    EXPECT_EQ(gif.Width(), 0);
    EXPECT_TRUE(gif.Frames(0)->DataTruncated);
    // Neither a global nor a local table.
    Bytes noTable = TinyGIF({});
    noTable[10] = 0;
    noTable.erase(noTable.begin() + 13, noTable.begin() + 19);
    EXPECT_THROW(Load(gif, noTable), EInvalidGraphicOperation);
    // A huge frame with a few bytes of data is refused before anything is allocated.
    Bytes huge = TinyGIF({});
    huge[19 + 5] = huge[19 + 6] = huge[19 + 7] = huge[19 + 8] = 0xFF;
    try {
        Load(gif, huge);
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message(), "Неверные данные в формате GIF");
    }
}

// Image data that ends (end code or bytes) before the frame is full, or names a code the
// table cannot hold yet, flags the frame and keeps what was decoded; the code equal to
// the next free one is the string-plus-first-byte case and is whole.
TEST(KvGIF, DamagedImageDataIsFlaggedAndKeepsItsDecodedPixels)
{
    for (const testgif::TDamagedGif& c : testgif::DamagedGifs()) {
        SCOPED_TRACE(c.Name);
        TGIFImage gif;
        Load(gif, c.File());
        ASSERT_EQ(gif.Count(), 1);
        EXPECT_EQ(gif.Frames(0)->DataTruncated, c.Damaged());
        TBitmap* b = gif.Frames(0)->Bitmap();
        ASSERT_EQ(b->Width(), c.Width);
        ASSERT_EQ(b->Height(), c.Height);
        const std::vector<uint8_t> want = c.Decoded();
        for (int32_t y = 0; y < c.Height; ++y)
            for (int32_t x = 0; x < c.Width; ++x)
                EXPECT_EQ(GetIndex(*b, x, y), want[size_t(y * c.Width + x)]) << x << "," << y;
        // Without acceptance a code the table cannot hold raises; an early end still
        // only flags, as data cut short does.
        const Bytes data = [&] {
            Bytes d = {2, uint8_t(c.Data.size())};
            d.insert(d.end(), c.Data.begin(), c.Data.end());
            d.push_back(0);
            return d;
        }();
        std::vector<uint8_t> rows(size_t(GIFRowSize(8, c.Width) * c.Height), 0);
        bool flagged = false;
        auto decode = [&] {
            DecodeLZW(data.data(), int64_t(data.size()), TGIFBitmapInfo{c.Width, c.Height, 8}, false, nullptr, nullptr,
                      flagged, rows.data(), 1, false);
        };
        if (c.Damage == testgif::gdUndefinedCode) {
            EXPECT_THROW(decode(), EInvalidGraphicOperation);
        } else {
            decode();
            EXPECT_EQ(flagged, c.Damaged());
        }
    }
}

TEST(KvGIF, TruncatedFilesNeverCrashAndResaveWithATerminator)
{
    auto bmp = Paletted(pf8bit, 50, 40, std::vector<TPaletteEntry>(256, TPaletteEntry{1, 2, 3, 0}));
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 50; ++x)
            PutIndex(*bmp, x, y, uint8_t(x * 5 + y));
    TGIFImage src;
    src.AddFrame(bmp.get());
    src.AddFrame(bmp.get());
    const Bytes full = Save(src);
    int flagged = 0;
    for (size_t len = 0; len < full.size(); ++len) {
        Bytes cut(full.begin(), full.begin() + len);
        TGIFImage gif;
        try {
            Load(gif, cut);
        } catch (const Exception&) {
            continue;
        }
        if (gif.Count() > 0 && gif.Frames(gif.Count() - 1)->DataTruncated &&
            gif.Frames(gif.Count() - 1)->HasEncodedData()) {
            ++flagged;
            // The re-saved file is whole: its frames read back without swallowing blocks.
            TGIFImage again;
            Load(again, Save(gif));
            EXPECT_EQ(again.Count(), gif.Count());
        }
    }
    EXPECT_GT(flagged, 100);
}

TEST(KvGIF, ClipboardBlockAndPropertyStreaming)
{
    auto bmp = Paletted(pf1bit, 8, 1, BlackWhite);
    TGIFImage gif;
    gif.Assign(bmp.get());
    TMemoryStream s;
    gif.WriteData(s);
    EXPECT_EQ(s.Size(), 40);
    EXPECT_EQ(GetU32LE(s.Memory()), 36u);
    s.SetPosition(0);
    TGIFImage back;
    back.ReadData(s);
    EXPECT_EQ(back.Width(), 8);

    Clipboard()->Clear();
    std::vector<uint8_t> block;
    ASSERT_TRUE(gif.SaveToClipboardBlock(block));
    TGIFImage clip;
    clip.LoadFromClipboardFormat(CF_GIFIMAGE(), block, nullptr);
    EXPECT_EQ(clip.Count(), 1);
    EXPECT_EQ(clip.CurrentFrame(), 0);
    // A count larger than the block is refused.
    PutU32LE(block.data(), uint32_t(block.size()));
    EXPECT_THROW(clip.LoadFromClipboardFormat(CF_GIFIMAGE(), block, nullptr), EReadError);

    // Through the clipboard: the bitmap and the "GIF Image" block go on together.
    TClipboardFormat format = 0;
    std::vector<uint8_t> data;
    HPALETTE palette = nullptr;
    Clipboard()->Open();
    gif.SaveToClipboardFormat(format, data, palette);
    Clipboard()->Close();
    ASSERT_TRUE(Clipboard()->HasFormat(CF_GIFIMAGE()));
    EXPECT_EQ(Clipboard()->GetAsHandle(CF_GIFIMAGE()), s.Bytes());
    TGIFImage pasted;
    pasted.LoadFromClipboardFormat(format, data, palette);
    EXPECT_EQ(pasted.Count(), 1);
    EXPECT_EQ(pasted.Width(), 8);
    Clipboard()->Clear();
}

TEST(KvGIF, AssignSharesDataAndRegistryPrefersLaterClasses)
{
    TGIFImage a;
    Load(a, FileD);
    TGIFImage b;
    b.Assign(&a);
    EXPECT_TRUE(b.Equals(&a));
    EXPECT_EQ(b.Count(), 2);
    EXPECT_EQ(Save(b), Save(a));

    const TGraphicClass* cls = TPicture::FindGraphicClass("GIF");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->Name, "TGIFImage");
    TPicture::RegisterFileFormat("GIF", "later",
                                 TGraphicClass{"Later", [] { return std::unique_ptr<TGraphic>(new TGIFImage()); }});
    EXPECT_EQ(TPicture::FindGraphicClass("gif")->Name, "Later");
    TPicture::UnregisterGraphicClass("Later");
}
