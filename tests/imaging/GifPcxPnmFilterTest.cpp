#include "common/DamagedGifs.h"
#include "imaging/GifFilter.h"
#include "imaging/IEView.h"
#include "imaging/ImagingIO.h"
#include "imaging/ImagingProc.h"
#include "imaging/PcxFilter.h"
#include "imaging/PnmFilter.h"
#include "imaging/Quantizer.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kv;

namespace {

using TBytes = std::vector<uint8_t>;

struct TRun {
    bool Aborting = false;
    TProgressRec Progress;
    TRun() { Progress.Aborting = &Aborting; }
};

// Empties the library's GIF coder slots for one test, restoring them after.
struct TNoLzwSlots {
    TIEGifLzwDecompressProc D = DefGifLzwDecompress;
    TIEGifLzwCompressProc C = DefGifLzwCompress;
    TNoLzwSlots() { DefGifLzwDecompress = nullptr, DefGifLzwCompress = nullptr; }
    ~TNoLzwSlots() { DefGifLzwDecompress = D, DefGifLzwCompress = C; }
};

TRGB Px(const TBitmap& b, int32_t x, int32_t y)
{
    const uint8_t* row = b.ScanLine(y);
    if (b.PixelFormat() == pf1bit)
        return GetBit(row, x) ? TRGB{255, 255, 255} : TRGB{0, 0, 0};
    return TRGB{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

void SetPx(TBitmap& b, int32_t x, int32_t y, TRGB c)
{
    uint8_t* p = b.ScanLine(y) + 3 * x;
    p[0] = c.b, p[1] = c.g, p[2] = c.r;
}

const TRGB R = CreateRGB(255, 0, 0), G = CreateRGB(0, 255, 0), B = CreateRGB(0, 0, 255), W = CreateRGB(255, 255, 255),
           K = CreateRGB(0, 0, 0), Y = CreateRGB(255, 255, 0);
// The 7 x 3 picture every committed colour file was made from.
const TRGB Seven[3][7] = {{R, G, B, W, K, R, G}, {K, K, W, W, B, B, R}, {Y, Y, K, R, G, W, B}};
// The 11 x 2 black-and-white picture of the 1-bit files (true: black).
const bool Mono[2][11] = {{1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0}, {0, 1, 0, 0, 1, 1, 1, 0, 0, 0, 1}};

void MakeSeven(TBitmap& b)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(7, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 7; ++x)
            SetPx(b, x, y, Seven[y][x]);
}

// Tolerance: what a palette writer's quantizer may lose of each channel.
bool Near(TRGB a, TRGB b, int32_t Tolerance)
{
    return std::abs(a.r - b.r) <= Tolerance && std::abs(a.g - b.g) <= Tolerance && std::abs(a.b - b.b) <= Tolerance;
}

// RowRepeat: each row of the picture appears that many times (a taller sample).
void ExpectSeven(const TBitmap& b, const std::string& what, int32_t Tolerance = 0, int32_t RowRepeat = 1)
{
    ASSERT_EQ(b.Width(), 7) << what;
    ASSERT_EQ(b.Height(), 3 * RowRepeat) << what;
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < 7; ++x)
            EXPECT_TRUE(Near(Px(b, x, y), Seven[y / RowRepeat][x], Tolerance)) << what << " at " << x << "," << y;
}

void ExpectMono(const TBitmap& b, const std::string& what)
{
    ASSERT_EQ(b.Width(), 11) << what;
    ASSERT_EQ(b.Height(), 2) << what;
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 11; ++x)
            EXPECT_EQ(Px(b, x, y), Mono[y][x] ? K : W) << what << " at " << x << "," << y;
}

// Each pixel read back is the palette colour the writer's quantizer gives the source
// pixel (the quantizer is deterministic, so a second one builds the same palette).
void ExpectQuantized(const TBitmap& Read, const TBitmap& Source, int32_t Colours, const std::string& what)
{
    std::vector<TRGB> palette(static_cast<size_t>(Colours));
    auto q = TIEQuantizer::CreateQuantizer(Source, std::span<TRGB>(palette), Colours, -1);
    ASSERT_EQ(Read.Width(), Source.Width()) << what;
    for (int32_t y = 0; y < Source.Height(); ++y)
        for (int32_t x = 0; x < Source.Width(); ++x)
            EXPECT_EQ(Px(Read, x, y), palette[size_t(q->QuantizerColorIndex(Px(Source, x, y)))])
                << what << " at " << x << "," << y;
}

std::string DataFile(const std::string& name) { return std::string(KV_TEST_DATA) + "/iefiles/" + name; }

TBytes Str(const std::string& s) { return TBytes(s.begin(), s.end()); }

TBytes Cat(std::initializer_list<TBytes> parts)
{
    TBytes out;
    for (const TBytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Loads Bytes through the component as FileType; returns whether it aborted.
bool LoadBytes(const TBytes& Bytes, int32_t FileType, TBitmap& Bitmap, TImagingIO& io)
{
    io.SetBitmap(&Bitmap);
    TReadOnlyMemoryStream s(Bytes.data(), int64_t(Bytes.size()));
    io.LoadFromStreamFormat(s, FileType);
    return io.Aborting();
}

TBytes SaveBytes(TImagingIO& io, int32_t FileType)
{
    TMemoryStream s;
    io.SaveToStream(s, FileType);
    return s.Bytes();
}

enum TPrefixOutcome { poAnyOutcome, poEveryCutFails };

// Every prefix of a file must end with the abort flag or a picture, never a crash;
// with poEveryCutFails, every cut must be reported as a failure.
void LoadEveryPrefix(const TBytes& Bytes, int32_t FileType, TPrefixOutcome Outcome = poAnyOutcome)
{
    for (size_t n = 0; n < Bytes.size(); ++n) {
        TImagingIO io;
        TBitmap b;
        TBytes cut(Bytes.begin(), Bytes.begin() + int64_t(n));
        bool aborted = false;
        EXPECT_NO_THROW(aborted = LoadBytes(cut, FileType, b, io)) << n;
        if (Outcome == poEveryCutFails) {
            EXPECT_TRUE(aborted) << "cut at " << n << " of " << Bytes.size();
        }
    }
}

} // namespace

// ---- GIF --------------------------------------------------------------------------------

TEST(GifFilter, WriterWithoutCoderStopsAfterTheDescriptor)
{
    TNoLzwSlots none;
    TBitmap b;
    b.SetPixelFormat(pf1bit);
    b.SetSize(2, 2);
    SetBit(b.ScanLine(0), 1, true);
    SetBit(b.ScanLine(1), 0, true);
    TIOParamsVals p(nullptr);
    p.BitsPerSample = 1;
    TMemoryStream s;
    TRun run;
    SaveGifToStream(s, b, p, run.Progress);
    EXPECT_TRUE(run.Aborting);
    const TBytes expected = {'G',  'I',  'F', '8',  '9',  'a',  2, 0, 2, 0, 0x80, 0, 0, // screen
                             0,    0,    0,   0xFF, 0xFF, 0xFF,                         // black, white
                             0x21, 0xF9, 4,   8,    0,    0,    0, 0,                   // control
                             0x2C, 0,    0,   0,    0,    2,    0, 2, 0, 0};            // descriptor
    EXPECT_EQ(s.Bytes(), expected);
}

namespace {

// Global table black, white (background index 1), then two images: 2 x 2 at (0, 0)
// and 5 x 6 at (3, 4), each with the given image data.
TBytes TwoImageGif(const TBytes& Data1, const TBytes& Data2)
{
    return Cat({Str("GIF89a"),
                {9, 0, 9, 0, 0x80, 1, 0},
                {0, 0, 0, 255, 255, 255},
                {0x21, 0xFE, 3, 'a', 'b', 'c', 0}, // a comment, skipped
                {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0},
                Data1,
                {0x21, 0xF9, 4, 1, 10, 0, 1, 0}, // transparent index 1, delay 10
                {0x2C, 3, 0, 4, 0, 5, 0, 6, 0, 0},
                Data2,
                {';'}});
}

TBytes Lzw(const TBytes& Indexes, int32_t Width, int32_t Height, int32_t Bits)
{
    // The coder the test main installs, as the program's main does.
    EXPECT_NE(DefGifLzwCompress, nullptr);
    TMemoryStream s;
    if (DefGifLzwCompress)
        DefGifLzwCompress(s, Height, Width, false, Indexes.data(), Bits);
    return s.Bytes();
}

} // namespace

TEST(GifFilter, SecondImageOfATwoImageFile)
{
    const TBytes junk = {2, 1, 0x44, 0};
    TImagingIO io;
    TBitmap b;
    io.Params().GifImageIndex = 1;
    io.SetBitmap(&b);
    TBytes file = TwoImageGif(junk, junk);
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    io.ParamsFromStreamFormat(s, ioGIF);
    const TIOParamsVals& p = io.Params();
    EXPECT_EQ(p.GifImageCount, 2);
    EXPECT_EQ(p.GifXPos, 3);
    EXPECT_EQ(p.GifYPos, 4);
    EXPECT_EQ(p.Width, 5);
    EXPECT_EQ(p.Height, 6);
    EXPECT_EQ(p.GifDelayTime, 10);
    EXPECT_EQ(p.GifBackground, W);
    EXPECT_EQ(p.BitsPerSample, 1);
    EXPECT_EQ(p.ColorMapCount, 2);
    {
        TNoLzwSlots none;
        TImagingIO bare;
        bare.Params().GifImageIndex = 1;
        EXPECT_TRUE(LoadBytes(file, ioGIF, b, bare));
        EXPECT_EQ(bare.Params().GifImageCount, 1);
    }
    // With the coder: 1-bit picture (black then white), index 1 transparent.
    TBytes second(30);
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = uint8_t(i % 3 == 0);
    file = TwoImageGif(junk, Lzw(second, 5, 6, 1));
    EXPECT_FALSE(LoadBytes(file, ioGIF, b, io));
    EXPECT_EQ(b.PixelFormat(), pf1bit);
    ASSERT_EQ(b.Width(), 5);
    for (int32_t i = 0; i < 30; ++i)
        EXPECT_EQ(Px(b, i % 5, i / 5), second[size_t(i)] ? W : K);
}

TEST(GifFilter, FilesWrittenByImageMagickAndNetpbm)
{
    for (const char* name : {"gif_im_7x3.gif", "gif_netpbm_7x3.gif"}) {
        TImagingIO io;
        TBitmap b;
        io.SetBitmap(&b);
        io.LoadFromFile(DataFile(name));
        EXPECT_FALSE(io.Aborting()) << name;
        ExpectSeven(b, name);
    }
    TImagingIO io;
    TBitmap b;
    io.SetBitmap(&b);
    io.LoadFromFile(DataFile("gif_im_7x9_interlaced.gif"));
    EXPECT_FALSE(io.Aborting());
    EXPECT_EQ(io.Params().GifInterlaced, 1);
    ExpectSeven(b, "gif_im_7x9_interlaced.gif", 0, 3);
    io.LoadFromFile(DataFile("gif_giflib_7x3.gif"));
    EXPECT_FALSE(io.Aborting());
    ExpectSeven(b, "gif_giflib_7x3.gif", 7); // giflib keeps five bits a channel: 248
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(248, 0, 0));
    io.LoadFromFile(DataFile("gif_im_mono.gif"));
    EXPECT_FALSE(io.Aborting());
    ExpectMono(b, "gif_im_mono.gif");
}

TEST(GifFilter, TransparentIndexGoesToTheMask)
{
    TIEMask mask;
    TBitmap b;
    TIOParamsVals p(nullptr);
    TRun run;
    TFileStream s(DataFile("gif_im_7x3_transparent.gif"), fmOpenRead);
    int32_t count = 0;
    LoadGifFromStream(s, b, count, p, run.Progress, false, &mask);
    ASSERT_FALSE(run.Aborting);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(p.GifFlagTranspColor, 1);
    EXPECT_EQ(p.GifTranspColor, K); // the file gives its transparent entry black
    ASSERT_EQ(mask.Width(), 7);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 7; ++x)
            EXPECT_EQ(mask.ScanLine(y)[x], Seven[y][x] == B ? 0 : 255) << x << "," << y;
}

namespace {

class TMaskView : public TIEView {
public:
    TBitmap Bmp;
    TIEMask Msk;
    TColor Back = clWhite;
    TBitmap* IEBitmap() override { return &Bmp; }
    TIEMask* SelectionMask() override { return &Msk; }
    TColor Background() const override { return Back; }
    void SetBackground(TColor Value) override { Back = Value; }
    int32_t XDpi() const override { return 96; }
    int32_t YDpi() const override { return 96; }
    void SetDPI(int32_t, int32_t) override {}
    void ImageChange() override {}
    void Update() override {}
    int32_t RegisterChangeCallback(TIEViewCallback) override { return 1; }
    void UnregisterChangeCallback(int32_t) override {}
};

} // namespace

TEST(GifFilter, ComponentLoadKeepsTheTransparency)
{
    TMaskView view;
    TImagingIO io;
    io.SetAttachedImaging(&view);
    io.LoadFromFile(DataFile("gif_im_7x3_transparent.gif"));
    ASSERT_FALSE(io.Aborting());
    ASSERT_EQ(view.Msk.Width(), 7);
    EXPECT_EQ(view.Msk.ScanLine(0)[2], 0);
    EXPECT_EQ(view.Msk.ScanLine(0)[1], 255);
    EXPECT_EQ(view.Back, clBlack); // the transparent entry's colour
    EXPECT_FALSE(view.Msk.Full());
    // Saved as PNG and read back, the transparent pixels stay transparent.
    TMemoryStream png;
    io.SaveToStream(png, ioPNG);
    ASSERT_FALSE(io.Aborting());
    TMaskView back;
    TImagingIO in;
    in.SetAttachedImaging(&back);
    png.SetPosition(0);
    in.LoadFromStreamFormat(png, ioPNG);
    ASSERT_FALSE(in.Aborting());
    ASSERT_EQ(back.Msk.Width(), 7);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 7; ++x)
            EXPECT_EQ(back.Msk.ScanLine(y)[x], Seven[y][x] == B ? 0 : 255) << x << "," << y;
    // A file without transparency leaves every pixel opaque.
    io.LoadFromFile(DataFile("gif_im_7x3.gif"));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 7; ++x)
            EXPECT_EQ(view.Msk.ScanLine(y)[x], 255);
}

TEST(GifFilter, RoundTripsAtEachDepth)
{
    for (int32_t bits : {1, 3, 4, 8, 16, 0}) {
        for (int32_t interlaced : {0, 1}) {
            TImagingIO io;
            TBitmap b;
            MakeSeven(b);
            io.SetBitmap(&b);
            io.Params().BitsPerSample = bits;
            io.Params().GifInterlaced = interlaced;
            const TBytes file = SaveBytes(io, ioGIF);
            ASSERT_FALSE(io.Aborting()) << bits;
            const int32_t written = bits < 1 ? 1 : bits > 8 ? 8 : bits;
            EXPECT_EQ(file[10], 0x80 | (written - 1) | ((written - 1) << 4)) << bits;
            TImagingIO in;
            TBitmap c;
            ASSERT_FALSE(LoadBytes(file, ioGIF, c, in)) << bits;
            EXPECT_EQ(in.Params().GifInterlaced, interlaced);
            if (bits == 1) {
                // Two colours only through the dither: every pixel black or white.
                for (int32_t x = 0; x < 7; ++x)
                    EXPECT_TRUE(Px(c, x, 0) == K || Px(c, x, 0) == W);
            } else {
                ExpectQuantized(c, b, 1 << written, "bits " + std::to_string(bits));
            }
        }
    }
    // A two-colour picture saved at 1 bit keeps its two colours, the darker as index 0.
    TImagingIO io;
    TBitmap b;
    MakeSeven(b);
    for (int32_t i = 0; i < 21; ++i)
        SetPx(b, i % 7, i / 7, Seven[i / 7][i % 7] == R ? R : B);
    io.SetBitmap(&b);
    io.Params().BitsPerSample = 1;
    const TBytes file = SaveBytes(io, ioGIF);
    EXPECT_EQ(TBytes(file.begin() + 13, file.begin() + 19), (TBytes{0, 0, 255, 255, 0, 0}));
    TImagingIO in;
    TBitmap c;
    ASSERT_FALSE(LoadBytes(file, ioGIF, c, in));
    for (int32_t i = 0; i < 21; ++i)
        EXPECT_EQ(Px(c, i % 7, i / 7), Seven[i / 7][i % 7] == R ? R : B) << i;
}

TEST(GifFilter, DamagedAndForgedFiles)
{
    // Index 7 of a 2-entry table reads the zeroed rest of the table (black).
    TBytes idx = {7, 1, 0, 1};
    TBytes file = Cat({Str("GIF87a"),
                       {2, 0, 2, 0, 0x80, 5, 0},
                       {9, 9, 9, 200, 200, 200},
                       {0x21, 0xF9, 2, 1, 10, 0}, // a short control block stays in step
                       {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0},
                       Lzw(idx, 2, 2, 8),
                       {';'}});
    TImagingIO io;
    TBitmap b;
    EXPECT_FALSE(LoadBytes(file, ioGIF, b, io));
    EXPECT_EQ(io.Params().GifVersion, "GIF87a");
    EXPECT_EQ(io.Params().GifBackground, K); // index 5 of 2
    EXPECT_EQ(io.Params().GifDelayTime, 10); // the short block held the flags and the delay's low byte
    EXPECT_EQ(io.Params().GifFlagTranspColor, 1);
    EXPECT_EQ(Px(b, 0, 0), K);
    EXPECT_EQ(Px(b, 1, 0), CreateRGB(200, 200, 200));
    // No table at all: a grey ramp of 8 bits.
    file = Cat({Str("GIF89a"), {2, 0, 2, 0, 0, 0, 0}, {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0}, Lzw(idx, 2, 2, 8), {';'}});
    EXPECT_FALSE(LoadBytes(file, ioGIF, b, io));
    EXPECT_EQ(io.Params().BitsPerSample, 8);
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(7, 7, 7));
    // A picture far larger than its data could fill: refused before allocation.
    TBytes huge = file;
    PutU16LE(&huge[18], 16000);
    PutU16LE(&huge[20], 16000);
    EXPECT_TRUE(LoadBytes(huge, ioGIF, b, io));
    // Not a GIF; a zero-sized image; every prefix of a real file.
    EXPECT_TRUE(LoadBytes(Str("GIX89a............."), ioGIF, b, io));
    file[18] = 0;
    file[19] = 0;
    EXPECT_TRUE(LoadBytes(file, ioGIF, b, io));
    TFileStream f(DataFile("gif_im_7x9_interlaced.gif"), fmOpenRead);
    TBytes real(size_t(f.Size()));
    f.ReadBuffer(real.data(), f.Size());
    // The file is ImageMagick's (see the interlaced test): every cut is a failure.
    LoadEveryPrefix(real, ioGIF, poEveryCutFails);
    // A screen then the trailer holds no picture; nor does index 3 of a one-image file.
    EXPECT_TRUE(LoadBytes(Cat({Str("GIF89a"), {2, 0, 2, 0, 0, 0, 0}, {';'}}), ioGIF, b, io));
    io.Params().GifImageIndex = 3;
    EXPECT_TRUE(LoadBytes(real, ioGIF, b, io));
    io.Params().GifImageIndex = 0;
    // An impossible code size (12), then data cut inside its sub-block: failures.
    TBytes badCode = file;
    badCode[18] = 2, badCode[20] = 2;
    badCode[23] = 12;
    EXPECT_TRUE(LoadBytes(badCode, ioGIF, b, io));
}

// Image data that ends before the frame is full or names a code the table cannot hold
// yet is a failure that keeps the rows decoded (white where index 1 was read, black
// past it); whole data, the next-free-code case among it, is a success.
TEST(GifFilter, DamagedImageDataFailsAndKeepsItsDecodedRows)
{
    for (const testgif::TDamagedGif& c : testgif::DamagedGifs()) {
        SCOPED_TRACE(c.Name);
        TImagingIO io;
        TBitmap b;
        EXPECT_EQ(LoadBytes(c.File(), ioGIF, b, io), c.Damaged());
        ASSERT_EQ(b.Width(), c.Width);
        ASSERT_EQ(b.Height(), c.Height);
        const std::vector<uint8_t> want = c.Decoded();
        for (int32_t y = 0; y < c.Height; ++y)
            for (int32_t x = 0; x < c.Width; ++x)
                EXPECT_EQ(Px(b, x, y), want[size_t(y * c.Width + x)] ? W : K) << x << "," << y;
    }
}

// ---- PCX --------------------------------------------------------------------------------

TEST(PcxFilter, ThreeRedPixelsWorkedValue)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(3, 1);
    for (int32_t x = 0; x < 3; ++x)
        SetPx(b, x, 0, R);
    TImagingIO io;
    io.SetBitmap(&b);
    const TBytes file = SaveBytes(io, ioPCX);
    ASSERT_EQ(file.size(), 128u + 9);
    EXPECT_EQ(TBytes(file.begin(), file.begin() + 4), (TBytes{0x0A, 0x05, 0x01, 0x08}));
    EXPECT_EQ(GetU16LE(&file[8]), 2);  // XMax
    EXPECT_EQ(GetU16LE(&file[10]), 0); // YMax
    EXPECT_EQ(file[65], 3);            // planes
    EXPECT_EQ(GetU16LE(&file[66]), 4); // bytes per line
    EXPECT_EQ(GetU16LE(&file[68]), 0); // palette info
    EXPECT_EQ(TBytes(file.begin() + 128, file.end()), (TBytes{0xC3, 0xFF, 0, 0xC3, 0, 0, 0xC3, 0, 0}));
    TBitmap c;
    TImagingIO in;
    ASSERT_FALSE(LoadBytes(file, ioPCX, c, in));
    for (int32_t x = 0; x < 3; ++x)
        EXPECT_EQ(Px(c, x, 0), R);

    TBytes out;
    const TBytes fives(64, 5);
    PcxEncodeLine(fives.data(), 64, out);
    EXPECT_EQ(out, (TBytes{0xFF, 5, 5}));
    out.clear();
    const uint8_t c5 = 0xC5;
    PcxEncodeLine(&c5, 1, out);
    EXPECT_EQ(out, (TBytes{0xC1, 0xC5, 0}));
}

TEST(PcxFilter, RoundTripsAtEachDepth)
{
    struct TCase {
        int32_t Bits, Samples, Planes, PcxBits;
    };
    for (const TCase& t : {TCase{1, 1, 1, 1},
                           {4, 1, 1, 4},
                           {2, 1, 1, 4},
                           {8, 1, 1, 8},
                           {8, 3, 3, 8},
                           {16, 3, 3, 8},
                           {16, 1, 1, 8},
                           {0, 1, 3, 8}}) {
        for (uint8_t compressed : {0, 1}) {
            const std::string what =
                std::to_string(t.Bits) + "x" + std::to_string(t.Samples) + " rle " + std::to_string(compressed);
            TImagingIO io;
            TBitmap b;
            MakeSeven(b);
            io.SetBitmap(&b);
            io.Params().BitsPerSample = t.Bits;
            io.Params().SamplesPerPixel = t.Samples;
            io.Params().PcxCompressed = compressed;
            const TBytes file = SaveBytes(io, ioPCX);
            ASSERT_FALSE(io.Aborting()) << what;
            EXPECT_EQ(file[2], compressed) << what;
            EXPECT_EQ(file[3], t.PcxBits) << what;
            EXPECT_EQ(file[65], t.Planes) << what;
            EXPECT_EQ(GetU16LE(&file[66]) % 2, 0) << what;
            TImagingIO in;
            TBitmap c;
            ASSERT_FALSE(LoadBytes(file, ioPCX, c, in)) << what;
            if (t.Planes == 3)
                ExpectSeven(c, what);
            else if (t.Bits != 1)
                ExpectQuantized(c, b, 1 << t.PcxBits, what);
            else
                EXPECT_EQ(c.PixelFormat(), pf1bit);
        }
    }
}

TEST(PcxFilter, TwoColourPictureKeepsItsColours)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(9, 1);
    for (int32_t x = 0; x < 9; ++x)
        SetPx(b, x, 0, x % 2 ? Y : B);
    TImagingIO io;
    io.SetBitmap(&b);
    io.Params().BitsPerSample = 1;
    io.Params().SamplesPerPixel = 1;
    const TBytes file = SaveBytes(io, ioPCX);
    // Palette entries 0 and 1: the darker colour (blue), then yellow, red-green-blue.
    EXPECT_EQ(TBytes(file.begin() + 16, file.begin() + 22), (TBytes{0, 0, 255, 255, 255, 0}));
    TImagingIO in;
    TBitmap c;
    ASSERT_FALSE(LoadBytes(file, ioPCX, c, in));
    EXPECT_EQ(in.Params().ColorMapCount, 2);
    EXPECT_EQ(in.Params().ColorMap[1], Y);
}

TEST(PcxFilter, FilesWrittenByImageMagickAndNetpbm)
{
    for (const char* name : {"pcx_im_7x3_24bit.pcx", "pcx_im_7x3_8bit.pcx", "pcx_netpbm_7x3_24bit.pcx",
                             "pcx_netpbm_7x3_8bit.pcx", "pcx_netpbm_7x3_packed.pcx", "pcx_netpbm_7x3_planes4.pcx"}) {
        TImagingIO io;
        TBitmap b;
        io.SetBitmap(&b);
        // netpbm writes the sides as the resolutions: taken as DPI, the automatic
        // adjustment would stretch the picture.
        io.LoadFromFile(DataFile(name));
        EXPECT_FALSE(io.Aborting()) << name;
        EXPECT_EQ(io.Params().DpiX, IEScreenDpiX()) << name;
        ExpectSeven(b, name);
    }
    for (const char* name : {"pcx_im_mono.pcx", "pcx_netpbm_mono.pcx"}) {
        TImagingIO io;
        TBitmap b;
        io.SetBitmap(&b);
        io.LoadFromFile(DataFile(name));
        EXPECT_FALSE(io.Aborting()) << name;
        ExpectMono(b, name);
    }
    // Three planes of one bit is none of the five layouts.
    TImagingIO io;
    TBitmap b;
    io.SetBitmap(&b);
    io.SetAutoAdjustDPI(false); // netpbm writes the sides as the resolutions
    io.LoadFromFile(DataFile("pcx_netpbm_7x3.pcx"));
    EXPECT_TRUE(io.Aborting());
}

namespace {

TBytes PcxHeader(uint8_t Encoding, uint8_t Bits, uint8_t Planes, int32_t Width, int32_t Height, int32_t Bpl)
{
    TBytes h(128, 0);
    h[0] = 10, h[1] = 5, h[2] = Encoding, h[3] = Bits;
    PutU16LE(&h[8], uint16_t(Width - 1));
    PutU16LE(&h[10], uint16_t(Height - 1));
    PutU16LE(&h[12], 300);
    h[65] = Planes;
    PutU16LE(&h[66], uint16_t(Bpl));
    for (int i = 0; i < 48; ++i)
        h[16 + size_t(i)] = uint8_t(i * 5);
    return h;
}

} // namespace

TEST(PcxFilter, RunsCrossLinesAndDamageEndsWithAnError)
{
    IESetScreenDpi(96, 96);
    // 8-bit, two rows of 2 (bytes per line 2): one run of 3 crosses into row 1. The file
    // is too short for a tail palette: a grey ramp.
    TBytes file = Cat({PcxHeader(1, 8, 1, 2, 2, 2), {0xC3, 40, 0xC1, 0xC9}});
    TImagingIO io;
    TBitmap b;
    io.SetAutoAdjustDPI(false);
    EXPECT_FALSE(LoadBytes(file, ioPCX, b, io));
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(40, 40, 40));
    EXPECT_EQ(Px(b, 1, 1), CreateRGB(0xC9, 0xC9, 0xC9));
    EXPECT_EQ(Px(b, 0, 1), CreateRGB(40, 40, 40));
    // Resolution 0 on one axis: the screen's on both.
    EXPECT_EQ(io.Params().DpiX, 96);
    EXPECT_EQ(io.Params().DpiY, 96);
    // Data running out: rows so far kept, the rest zero, the flag set.
    file = Cat({PcxHeader(1, 8, 1, 2, 3, 2), {0xC2, 40, 0xC1}});
    EXPECT_TRUE(LoadBytes(file, ioPCX, b, io));
    EXPECT_EQ(Px(b, 1, 0), CreateRGB(40, 40, 40));
    EXPECT_EQ(Px(b, 0, 1), K);
    // Odd widths with raw lines: the padding byte is skipped, not read as a pixel.
    file = Cat({PcxHeader(0, 8, 3, 1, 1, 2), {9, 0, 8, 0, 7, 0}});
    EXPECT_FALSE(LoadBytes(file, ioPCX, b, io));
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(9, 8, 7));
    // Bad headers: reversed bounds, short lines, other layouts, bad encoding, truncation.
    TBytes rev = PcxHeader(1, 8, 1, 2, 2, 2);
    PutU16LE(&rev[4], 5);
    for (const TBytes& bad :
         {rev, Cat({PcxHeader(1, 8, 1, 16000, 16000, 16000), TBytes(10, 0xFF)}), PcxHeader(1, 8, 1, 9, 2, 8),
          PcxHeader(1, 8, 3, 4, 1, 3), PcxHeader(1, 2, 1, 4, 1, 2), PcxHeader(1, 16, 1, 4, 1, 8),
          PcxHeader(2, 8, 1, 2, 2, 2), TBytes(file.begin(), file.begin() + 100)})
        EXPECT_TRUE(LoadBytes(bad, ioPCX, b, io));
    TFileStream f(DataFile("pcx_im_7x3_8bit.pcx"), fmOpenRead);
    TBytes real(size_t(f.Size()));
    f.ReadBuffer(real.data(), f.Size());
    LoadEveryPrefix(real, ioPCX);
}

// ---- PNM --------------------------------------------------------------------------------

TEST(PnmFilter, WriterTexts)
{
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(2, 1);
    SetPx(b, 0, 0, CreateRGB(1, 2, 3));
    SetPx(b, 1, 0, CreateRGB(4, 5, 6));
    TImagingIO io;
    io.SetBitmap(&b);
    EXPECT_EQ(SaveBytes(io, ioPXM), Cat({Str("P6 2 1 255\n"), {1, 2, 3, 4, 5, 6}}));
    io.Params().ImageInfo->Add("hi");
    EXPECT_EQ(SaveBytes(io, ioPXM), Cat({Str("P6 \n# hi\n2 1 255\n"), {1, 2, 3, 4, 5, 6}}));
    io.Params().ImageInfo->Clear();
    io.Params().SamplesPerPixel = 1;
    // Luma with weights summing to 99: white writes 252.
    SetPx(b, 1, 0, W);
    EXPECT_EQ(SaveBytes(io, ioPXM), Cat({Str("P5 2 1 255\n"), {uint8_t((21 + 142 + 21) / 100), 252}}));
}

TEST(PnmFilter, ReaderWorkedValues)
{
    TImagingIO io;
    TBitmap b;
    ASSERT_FALSE(LoadBytes(Cat({Str("P5 3 1 15\n"), {0, 5, 15}}), ioPXM, b, io));
    EXPECT_EQ(Px(b, 1, 0), CreateRGB(85, 85, 85));
    EXPECT_EQ(Px(b, 2, 0), W);
    // P6 is scaled by its maximum as P5 is: 1, 2, 3 of 15 give 17, 34, 51.
    ASSERT_FALSE(LoadBytes(Cat({Str("P6 1 1 15\n"), {1, 2, 3}}), ioPXM, b, io));
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(17, 34, 51));
    ASSERT_FALSE(LoadBytes(Str("P2 2 1 7\n3 9\n"), ioPXM, b, io));
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(109, 109, 109));
    EXPECT_EQ(Px(b, 1, 0), W); // above the maximum: held at 255
    ASSERT_FALSE(LoadBytes(Str("P1 2 1\n1 0"), ioPXM, b, io));
    EXPECT_EQ(b.PixelFormat(), pf1bit);
    EXPECT_EQ(Px(b, 0, 0), K);
    EXPECT_EQ(Px(b, 1, 0), W);
    // Two bytes a sample above 255, big-endian.
    ASSERT_FALSE(LoadBytes(Cat({Str("P6 1 1 1000\n"), {0x03, 0xE8, 0x01, 0xF4, 0, 4}}), ioPXM, b, io));
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(255, 127, 1));
    // Two comment lines: two lines of ImageInfo, written back before the width.
    ASSERT_FALSE(LoadBytes(Str("P3\n# one \n#two\n1 1 255 1 2 3\n"), ioPXM, b, io));
    ASSERT_EQ(io.Params().ImageInfo->Count(), 2);
    EXPECT_EQ(io.Params().ImageInfo->Strings(0), "one");
    EXPECT_EQ(io.Params().ImageInfo->Strings(1), "two");
    EXPECT_EQ(Px(b, 0, 0), CreateRGB(1, 2, 3));
    const TBytes out = SaveBytes(io, ioPXM);
    EXPECT_EQ(std::string(out.begin(), out.end()), "P6 \n# one\n\n# two\n1 1 255\n\x01\x02\x03");
}

TEST(PnmFilter, BadAndTruncatedFilesEndWithAnError)
{
    for (const char* text : {"P5 1 1 0\n\1", "P5 1 1 65536\n\1\1", "P2 0 1 5\n", "P2 99999999999 1 5\n1",
                             "P7 1 1 5\n\1", "P1 3 1\n1 0", "P2 2 1 5\n1", "P3 1 1 5\n1 2", "P2 1 1 5\nx",
                             "P5 2 1 255\n\1", "P6 1 1 255\n\1\1", "P4 9 1\n\1", "P6 1 1", "P6 16000 16000 255\n\1"}) {
        TImagingIO io;
        TBitmap b;
        EXPECT_TRUE(LoadBytes(Str(text), ioPXM, b, io)) << text;
    }
}

TEST(PnmFilter, RoundTripsAndFilesFromOtherTools)
{
    struct TCase {
        int32_t Bits, Samples;
        const char* Magic;
    };
    for (const TCase& t : {TCase{1, 1, "P4"}, {8, 1, "P5"}, {8, 3, "P6"}}) {
        TImagingIO io;
        TBitmap b;
        b.SetPixelFormat(pf24bit);
        b.SetSize(11, 2);
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 11; ++x)
                SetPx(b, x, y, Mono[y][x] ? B : W); // two colours: blue becomes black
        io.SetBitmap(&b);
        io.Params().BitsPerSample = t.Bits;
        io.Params().SamplesPerPixel = t.Samples;
        const TBytes file = SaveBytes(io, ioPXM);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 2), t.Magic);
        TImagingIO in;
        TBitmap c;
        ASSERT_FALSE(LoadBytes(file, ioPXM, c, in)) << t.Magic;
        for (int32_t x = 0; x < 11; ++x) {
            const TRGB expected = t.Bits == 1      ? (Mono[0][x] ? K : W)
                                  : t.Samples == 1 ? (Mono[0][x] ? CreateRGB(17, 17, 17) : CreateRGB(252, 252, 252))
                                                   : (Mono[0][x] ? B : W);
            EXPECT_EQ(Px(c, x, 0), expected) << t.Magic << " " << x;
        }
    }
    // pnm_rgb15_raw.ppm: `pamdepth 15 pnm_rgb_raw.ppm`, a P6 with maximum 15.
    for (const char* name :
         {"pnm_rgb_raw.ppm", "pnm_rgb_plain.ppm", "pnm_rgb16_raw.ppm", "pnm_im_7x3.ppm", "pnm_rgb15_raw.ppm"}) {
        TImagingIO io;
        TBitmap b;
        io.SetBitmap(&b);
        io.LoadFromFile(DataFile(name));
        EXPECT_FALSE(io.Aborting()) << name;
        ExpectSeven(b, name);
    }
    for (const char* name : {"pnm_mono_raw.pbm", "pnm_mono_plain.pbm"}) {
        TImagingIO io;
        TBitmap b;
        io.SetBitmap(&b);
        io.LoadFromFile(DataFile(name));
        EXPECT_FALSE(io.Aborting()) << name;
        ExpectMono(b, name);
    }
    // grey.pgm: max 15, first row 0 5 10 15 7.
    for (const char* name : {"pnm_grey15_raw.pgm", "pnm_grey15_plain.pgm", "pnm_grey16_raw.pgm"}) {
        TImagingIO io;
        TBitmap b;
        io.SetBitmap(&b);
        io.LoadFromFile(DataFile(name));
        EXPECT_FALSE(io.Aborting()) << name;
        const uint8_t expected[5] = {0, 85, 170, 255, 119};
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(Px(b, x, 0), CreateRGB(expected[x], expected[x], expected[x])) << name << " " << x;
    }
}
