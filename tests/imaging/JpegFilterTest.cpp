#include "imaging/JpegFilter.h"
#include "imaging/ImagingIO.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <setjmp.h>
#include <vector>

using namespace kv;

namespace {

void Gradient(TBitmap& b, int32_t w, int32_t h)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* r = b.ScanLine(y);
        for (int32_t x = 0; x < w; ++x) {
            r[3 * x] = uint8_t(x * 255 / std::max(1, w - 1));
            r[3 * x + 1] = uint8_t(y * 255 / std::max(1, h - 1));
            r[3 * x + 2] = uint8_t((x + y) * 255 / std::max(1, w + h - 2));
        }
    }
}

void Solid(TBitmap& bmp, int32_t w, int32_t h, uint8_t b, uint8_t g, uint8_t r)
{
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            bmp.ScanLine(y)[3 * x] = b;
            bmp.ScanLine(y)[3 * x + 1] = g;
            bmp.ScanLine(y)[3 * x + 2] = r;
        }
}

std::vector<uint8_t> Save(TBitmap& b, TIOParamsVals& p)
{
    TMemoryStream s;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    SaveJpegToStream(s, b, p, progress);
    EXPECT_FALSE(aborting);
    return s.Bytes();
}

struct TLoaded {
    TBitmap Bitmap;
    bool Aborting = false;
};

void Load(const std::vector<uint8_t>& data, TIOParamsVals& p, TLoaded& out, bool paramsOnly = false)
{
    TReadOnlyMemoryStream s(data.data(), int64_t(data.size()));
    TProgressRec progress;
    progress.Aborting = &out.Aborting;
    LoadJpegFromStream(s, out.Bitmap, p, paramsOnly, progress);
}

// Finds the first segment of the given marker; returns its offset (at FF) or -1.
int64_t FindSegment(const std::vector<uint8_t>& d, uint8_t marker, int64_t from = 2)
{
    int64_t i = from;
    while (i + 4 <= int64_t(d.size()) && d[size_t(i)] == 0xFF) {
        if (d[size_t(i + 1)] == marker)
            return i;
        if (d[size_t(i + 1)] == 0xDA)
            return -1;
        i += 2 + GetU16BE(&d[size_t(i + 2)]);
    }
    return -1;
}

// Decodes with libjpeg directly (the reference), to B,G,R rows top-down.
std::vector<uint8_t> ReferenceDecode(const std::vector<uint8_t>& data, int& w, int& h, J_COLOR_SPACE out = JCS_EXT_BGR)
{
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data.data(), (unsigned long)data.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = out;
    jpeg_start_decompress(&d);
    w = int(d.output_width);
    h = int(d.output_height);
    std::vector<uint8_t> px(size_t(w) * size_t(h) * size_t(d.output_components));
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = px.data() + size_t(d.output_scanline) * size_t(w) * size_t(d.output_components);
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return px;
}

// Encodes B,G,R pixels with libjpeg directly at the given quality and sampling.
std::vector<uint8_t> ReferenceEncode(const TBitmap& b, int quality, int hSamp, int vSamp, bool progressive)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = JDIMENSION(b.Width());
    c.image_height = JDIMENSION(b.Height());
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.comp_info[0].h_samp_factor = hSamp;
    c.comp_info[0].v_samp_factor = vSamp;
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(b.ScanLine(int32_t(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(mem, mem + size);
    free(mem);
    jpeg_destroy_compress(&c);
    return out;
}

} // namespace

TEST(JpegFilter, EditorSaveHeaderBytes)
{
    TImagingIO io;
    TBitmap b;
    Gradient(b, 16, 16);
    io.SetBitmap(&b);
    io.Params().JpegQuality = 100;
    io.Params().DpiX = io.Params().DpiY = 300;
    TMemoryStream s;
    io.SaveToStreamJpeg(s);
    ASSERT_FALSE(io.Aborting());
    const std::vector<uint8_t>& d = s.Bytes();
    const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F', 'I', 'F', 0,   1,   1,   1,   1,   0x2C, 1,
                            0x2C, 0,    0,    0xFF, 0xED, 0x00, 0x1C, 'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p',  ' ',
                            '3',  '.',  '0',  0,    '8',  'B',  'I',  'M', 4,   4,   0,   0,   0,   0,   0,   0};
    ASSERT_GE(d.size(), sizeof head);
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + sizeof head), std::vector<uint8_t>(head, head + sizeof head));
    size_t q = sizeof head;
    for (int table = 0; table < 2; ++table) {
        ASSERT_EQ(d[q], 0xFF);
        EXPECT_EQ(d[q + 1], 0xDB);
        EXPECT_EQ(GetU16BE(&d[q + 2]), 0x43);
        EXPECT_EQ(d[q + 4], table);
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(d[q + 5 + size_t(i)], 1);
        q += 2 + 0x43;
    }
    const uint8_t sof[] = {0xFF, 0xC0, 0, 0x11, 8, 0, 0x10, 0, 0x10, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + ptrdiff_t(q), d.begin() + ptrdiff_t(q + sizeof sof)),
              std::vector<uint8_t>(sof, sof + sizeof sof));

    // A second save keeps one APP13.
    TMemoryStream s2;
    io.SaveToStreamJpeg(s2);
    EXPECT_EQ(io.Params().JpegMarkers->Count(), 1);
    EXPECT_EQ(FindSegment(s2.Bytes(), 0xED), 20);
    EXPECT_EQ(FindSegment(s2.Bytes(), 0xED, 20 + 2 + 0x1C), -1);
}

TEST(JpegFilter, QualityTablesOfADialogValue)
{
    TIOParamsVals p(nullptr);
    p.JpegQuality = 75;
    p.DpiX = p.DpiY = 72;
    TBitmap b;
    Gradient(b, 8, 8);
    auto d = Save(b, p);
    int64_t dqt = FindSegment(d, 0xDB);
    ASSERT_GT(dqt, 0);
    const uint8_t luma[] = {8, 6, 6, 7, 6, 5, 8, 7};
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + dqt + 5, d.begin() + dqt + 13), std::vector<uint8_t>(luma, luma + 8));
    const uint8_t chroma[] = {9, 9, 9, 12, 11, 12, 24, 13};
    int64_t dqt2 = dqt + 2 + 0x43;
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + dqt2 + 5, d.begin() + dqt2 + 13),
              std::vector<uint8_t>(chroma, chroma + 8));
    p.JpegQuality = 50;
    d = Save(b, p);
    dqt = FindSegment(d, 0xDB);
    EXPECT_EQ(d[size_t(dqt + 5)], 16);
    EXPECT_EQ(d[size_t(dqt + 2 + 0x43 + 5)], 17);
}

TEST(JpegFilter, DensityFromScreenWhenZero)
{
    IESetScreenDpi(96, 96);
    TIOParamsVals p(nullptr);
    p.DpiY = 300;
    TBitmap b;
    Gradient(b, 8, 8);
    auto d = Save(b, p);
    EXPECT_EQ(d[13], 1);
    EXPECT_EQ(GetU16BE(&d[14]), 96);
    EXPECT_EQ(GetU16BE(&d[16]), 300);
}

TEST(JpegFilter, ColourSpaces)
{
    TBitmap red;
    Solid(red, 8, 8, 0, 0, 255);
    TIOParamsVals p(nullptr);
    p.DpiX = p.DpiY = 72;
    int w, h;

    p.JpegColorSpace = 2;
    auto d = Save(red, p);
    auto px = ReferenceDecode(d, w, h, JCS_RGB);
    EXPECT_NEAR(px[0], 254, 2);
    EXPECT_NEAR(px[1], 0, 2);

    p.JpegColorSpace = 0;
    d = Save(red, p);
    EXPECT_EQ(FindSegment(d, 0xE0), -1);
    int64_t adobe = FindSegment(d, 0xEE);
    ASSERT_GT(adobe, 0);
    EXPECT_EQ(d[size_t(adobe + 4 + 11)], 0); // transform
    int64_t sof = FindSegment(d, 0xC0);
    EXPECT_EQ(d[size_t(sof + 10)], 'R');
    EXPECT_EQ(d[size_t(sof + 13)], 'G');
    EXPECT_EQ(d[size_t(sof + 16)], 'B');
    px = ReferenceDecode(d, w, h, JCS_RGB);
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[2], 0);
    TLoaded loaded;
    Load(d, p, loaded);
    EXPECT_EQ(p.JpegColorSpace, 0);
    EXPECT_EQ(loaded.Bitmap.ScanLine(0)[2], 255); // red stays red in B,G,R rows
    EXPECT_EQ(loaded.Bitmap.ScanLine(0)[0], 0);
    // The load kept the file's Adobe marker for a re-save; these saves start afresh.
    p.JpegMarkers->Clear();

    p.JpegColorSpace = 1;
    d = Save(red, p);
    sof = FindSegment(d, 0xC0);
    EXPECT_EQ(d[size_t(sof + 9)], 1);
    px = ReferenceDecode(d, w, h, JCS_GRAYSCALE);
    EXPECT_EQ(px[0], 76);

    p.JpegColorSpace = 3;
    d = Save(red, p);
    adobe = FindSegment(d, 0xEE);
    EXPECT_EQ(d[size_t(adobe + 4 + 11)], 0);
    sof = FindSegment(d, 0xC0);
    EXPECT_EQ(d[size_t(sof + 10)], 'C');
    EXPECT_EQ(d[size_t(sof + 19)], 'K');
    px = ReferenceDecode(d, w, h, JCS_CMYK);
    EXPECT_NEAR(px[0], 255, 1);
    EXPECT_NEAR(px[1], 0, 1);
    EXPECT_NEAR(px[2], 0, 1);
    EXPECT_NEAR(px[3], 255, 1);

    TBitmap black;
    Solid(black, 8, 8, 0, 0, 0);
    d = Save(black, p);
    px = ReferenceDecode(d, w, h, JCS_CMYK);
    EXPECT_NEAR(px[0], 0, 1);
    EXPECT_NEAR(px[3], 1, 1);

    p.JpegColorSpace = 4;
    d = Save(red, p);
    adobe = FindSegment(d, 0xEE);
    EXPECT_EQ(d[size_t(adobe + 4 + 11)], 2);
    TLoaded ycck;
    Load(d, p, ycck);
    EXPECT_EQ(p.JpegColorSpace, 4);
    EXPECT_EQ(p.SamplesPerPixel, 4);
    EXPECT_NEAR(ycck.Bitmap.ScanLine(3)[2], 255, 3);
    EXPECT_NEAR(ycck.Bitmap.ScanLine(3)[0], 0, 3);
}

TEST(JpegFilter, CmykConversions)
{
    const uint8_t bgr[3] = {50, 100, 200};
    uint8_t cmyk[4];
    BgrToCmyk(bgr, cmyk);
    EXPECT_EQ(cmyk[0], 255);
    EXPECT_EQ(cmyk[1], 127);
    EXPECT_EQ(cmyk[2], 63);
    EXPECT_EQ(cmyk[3], 200);
    uint8_t back[3];
    CmykToBgr(cmyk, back);
    EXPECT_EQ(back[0], 49);
    EXPECT_EQ(back[1], 99);
    EXPECT_EQ(back[2], 200);
}

TEST(JpegFilter, ReadsLibjpegFilesWithinTheReferenceDecode)
{
    TBitmap src;
    Gradient(src, 37, 21);
    struct Case {
        int Quality, H, V;
        bool Progressive;
    } cases[] = {{100, 1, 1, false}, {75, 2, 2, false}, {50, 2, 1, false}, {30, 2, 2, true}};
    for (const Case& c : cases) {
        auto data = ReferenceEncode(src, c.Quality, c.H, c.V, c.Progressive);
        int w, h;
        auto ref = ReferenceDecode(data, w, h);
        TIOParamsVals p(nullptr);
        TLoaded loaded;
        Load(data, p, loaded);
        ASSERT_FALSE(loaded.Aborting);
        ASSERT_EQ(loaded.Bitmap.Width(), 37);
        ASSERT_EQ(loaded.Bitmap.Height(), 21);
        EXPECT_EQ(p.JpegProgressive, c.Progressive);
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < 3 * w; ++x)
                worst = std::max(worst, std::abs(int(loaded.Bitmap.ScanLine(y)[x]) - int(ref[size_t(y * 3 * w + x)])));
        EXPECT_LE(worst, 1) << "quality " << c.Quality;
    }
}

TEST(JpegFilter, RoundTripThroughTheFilter)
{
    TBitmap src;
    Gradient(src, 64, 48);
    TIOParamsVals p(nullptr);
    p.JpegQuality = 95;
    p.DpiX = 200;
    p.DpiY = 150;
    auto d = Save(src, p);
    TIOParamsVals q(nullptr);
    TLoaded loaded;
    Load(d, q, loaded);
    EXPECT_EQ(q.DpiX, 200);
    EXPECT_EQ(q.DpiY, 150);
    EXPECT_EQ(q.Width, 64);
    EXPECT_EQ(q.JpegColorSpace, 2);
    EXPECT_EQ(q.SamplesPerPixel, 3);
    int worst = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64 * 3; ++x)
            worst = std::max(worst, std::abs(int(loaded.Bitmap.ScanLine(y)[x]) - int(src.ScanLine(y)[x])));
    EXPECT_LE(worst, 12);
}

TEST(JpegFilter, OneBitSourceSavesThroughACopy)
{
    TBitmap one;
    one.SetPixelFormat(pf1bit);
    one.SetSize(16, 8);
    one.ScanLine(0)[0] = 0xFF;
    TIOParamsVals p(nullptr);
    auto d = Save(one, p);
    EXPECT_EQ(one.PixelFormat(), pf1bit);
    TLoaded loaded;
    Load(d, p, loaded);
    EXPECT_GT(loaded.Bitmap.ScanLine(0)[0], 200);
    EXPECT_LT(loaded.Bitmap.ScanLine(7)[40], 60);
}

TEST(JpegFilter, StartOfImageSearch)
{
    TBitmap b;
    Gradient(b, 8, 8);
    TIOParamsVals p(nullptr);
    auto jpeg = Save(b, p);
    std::vector<uint8_t> d(99, 0x11);
    d.insert(d.end(), jpeg.begin(), jpeg.end());
    TLoaded ok;
    Load(d, p, ok);
    EXPECT_FALSE(ok.Aborting);
    EXPECT_EQ(ok.Bitmap.Width(), 8);
    d.insert(d.begin(), 0x11);
    TLoaded late;
    Load(d, p, late);
    EXPECT_TRUE(late.Aborting);
    EXPECT_EQ(late.Bitmap.Width(), 0);
    TLoaded empty;
    Load({}, p, empty);
    EXPECT_TRUE(empty.Aborting);
}

TEST(JpegFilter, AutomaticAndFixedScale)
{
    TBitmap b;
    Gradient(b, 1000, 800);
    TIOParamsVals p(nullptr);
    p.JpegQuality = 20;
    auto d = Save(b, p);
    p.JpegScale = 0;
    p.Width = p.Height = 100;
    TLoaded a;
    Load(d, p, a);
    EXPECT_EQ(p.JpegScaleUsed, 8);
    EXPECT_EQ(a.Bitmap.Width(), 125);
    EXPECT_EQ(a.Bitmap.Height(), 100);
    p.Width = p.Height = 0;
    Load(d, p, a);
    EXPECT_EQ(p.JpegScaleUsed, 1);
    p.JpegScale = 3;
    TLoaded q;
    Load(d, p, q, true);
    EXPECT_EQ(p.JpegScaleUsed, 4);
    EXPECT_EQ(p.Width, 250);
    EXPECT_EQ(p.Height, 200);
    EXPECT_EQ(q.Bitmap.Width(), 0); // ParamsOnly leaves the bitmap alone
}

TEST(JpegFilter, DensityInCentimetres)
{
    TBitmap b;
    Gradient(b, 8, 8);
    TIOParamsVals p(nullptr);
    auto d = Save(b, p);
    d[13] = 2;
    PutU16BE(&d[14], 28);
    PutU16BE(&d[16], 28);
    TLoaded l;
    Load(d, p, l);
    EXPECT_EQ(p.DpiX, 71);
    EXPECT_EQ(p.DpiY, 71);
}

TEST(JpegFilter, TruncatedScanReturnsEveryRowWithAWarning)
{
    TBitmap b;
    Gradient(b, 64, 64);
    TIOParamsVals p(nullptr);
    auto d = Save(b, p);
    size_t sos = 0;
    for (size_t i = 2; i + 1 < d.size(); ++i)
        if (d[i] == 0xFF && d[i + 1] == 0xDA) {
            sos = i;
            break;
        }
    ASSERT_GT(sos, 0u);
    d.resize(sos + (d.size() - sos) / 2); // cut in the middle of the scan data
    TLoaded l;
    Load(d, p, l);
    EXPECT_FALSE(l.Aborting);
    EXPECT_EQ(l.Bitmap.Height(), 64);
    EXPECT_GE(p.JpegWarningTot, 1);
    EXPECT_NE(p.JpegWarningCode, 0);
}

TEST(JpegFilter, MarkersKeptExceptALeadingJfif)
{
    TBitmap b;
    Gradient(b, 8, 8);
    TIOParamsVals p(nullptr);
    p.JpegMarkers->AddMarker(0xE1, "one", 3);
    p.JpegMarkers->AddMarker(0xE0, "late", 4);
    auto d = Save(b, p);
    TIOParamsVals q(nullptr);
    TLoaded l;
    Load(d, q, l);
    ASSERT_EQ(q.JpegMarkers->Count(), 2);
    EXPECT_EQ(q.JpegMarkers->MarkerType(0), 0xE1);
    EXPECT_EQ(q.JpegMarkers->MarkerType(1), 0xE0);
    EXPECT_EQ(std::memcmp(q.JpegMarkers->MarkerData(1), "late", 4), 0);
}

TEST(JpegFilter, CorruptDataRaisesAfterCleaningUp)
{
    TBitmap b;
    Gradient(b, 16, 16);
    TIOParamsVals p(nullptr);
    auto d = Save(b, p);
    int64_t sof = FindSegment(d, 0xC0);
    d[size_t(sof + 9)] = 7; // seven components: libjpeg refuses the frame
    TLoaded l;
    try {
        Load(d, p, l);
        FAIL() << "no exception";
    } catch (const EIEJpegException& e) {
        EXPECT_STREQ(e.what(), "JPeg corrupted file");
    }
    EXPECT_TRUE(l.Aborting);
}

TEST(JpegFilter, HeaderAboveThePixelCapIsRefusedBeforeAllocation)
{
    TBitmap b;
    Gradient(b, 16, 16);
    TIOParamsVals p(nullptr);
    auto d = Save(b, p);
    int64_t sof = FindSegment(d, 0xC0);
    PutU16BE(&d[size_t(sof + 5)], 65500);
    PutU16BE(&d[size_t(sof + 7)], 65500);
    TLoaded l;
    Load(d, p, l);
    EXPECT_TRUE(l.Aborting);
    EXPECT_EQ(l.Bitmap.Width(), 0);
    TLoaded only;
    Load(d, p, only, true);
    EXPECT_TRUE(only.Aborting);
}

TEST(JpegFilter, OversizedMarkerIsRefusedBeforeWriting)
{
    TBitmap b;
    Gradient(b, 8, 8);
    TIOParamsVals p(nullptr);
    std::vector<uint8_t> big(65534, 1);
    p.JpegMarkers->AddMarker(0xE2, big.data(), big.size());
    TMemoryStream s;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    SaveJpegToStream(s, b, p, progress);
    EXPECT_TRUE(aborting);
    EXPECT_EQ(s.Size(), 0);
}

namespace {
// A stream that accepts only a few bytes: a full disk.
class TFullStream : public TMemoryStream {
public:
    int64_t Write(const void* Buffer, int64_t Count) override
    {
        int64_t room = std::max<int64_t>(0, 1000 - Size());
        return TMemoryStream::Write(Buffer, std::min(Count, room));
    }
};
} // namespace

TEST(JpegFilter, ShortWriteAbortsWithoutException)
{
    TBitmap b;
    Gradient(b, 512, 512);
    TIOParamsVals p(nullptr);
    p.JpegQuality = 100;
    TFullStream s;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    int reports = 0;
    progress.OnProgress = [&](TObject*, int32_t) { ++reports; };
    EXPECT_NO_THROW(SaveJpegToStream(s, b, p, progress));
    EXPECT_TRUE(aborting);
    EXPECT_LT(reports, 512);
}

// A few hundred bytes cannot hold a 16000 x 16000 picture: both reads stop before
// libjpeg sizes its buffers for it, baseline or progressive.
TEST(JpegFilter, RefusesPictureItsBytesCannotHold)
{
    TBitmap b;
    Gradient(b, 16, 16);
    for (bool progressive : {false, true}) {
        TIOParamsVals p(nullptr);
        p.JpegProgressive = progressive;
        auto d = Save(b, p);
        const uint8_t marker[2] = {0xFF, uint8_t(progressive ? 0xC2 : 0xC0)};
        const auto sof = std::search(d.begin(), d.end(), marker, marker + 2);
        ASSERT_NE(sof, d.end());
        PutU16BE(&*sof + 5, 16000);
        PutU16BE(&*sof + 7, 16000);
        for (bool paramsOnly : {false, true}) {
            TLoaded l;
            Load(d, p, l, paramsOnly);
            EXPECT_TRUE(l.Aborting) << progressive << paramsOnly;
            EXPECT_EQ(l.Bitmap.Width(), 0);
        }
    }
}
