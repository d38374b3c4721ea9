#include "platform/Icon.h"
#include "platform/Jpeg.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <jpeglib.h>

using namespace kv;

namespace {
TBitmap* Gradient(TBitmap& b, int w, int h)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixelColor(x, y, RGB(uint8_t(x * 255 / (w - 1)), uint8_t(y * 255 / (h - 1)), 128));
    return &b;
}
int MaxDiff(TBitmap& a, TBitmap& b)
{
    int m = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            TColor p = a.PixelColor(x, y), q = b.PixelColor(x, y);
            for (int s = 0; s < 24; s += 8)
                m = std::max(m, std::abs(int((p >> s) & 0xFF) - int((q >> s) & 0xFF)));
        }
    return m;
}
} // namespace

TEST(Jpeg, RoundTripThroughStreamAndRegistry)
{
    TBitmap src;
    Gradient(src, 32, 16);
    TJPEGImage jpg;
    jpg.Assign(&src);
    jpg.SetCompressionQuality(95);
    TMemoryStream s;
    jpg.SaveToStream(s);
    ASSERT_GT(s.Size(), 100);
    EXPECT_EQ(s.Bytes()[0], 0xFF);
    EXPECT_EQ(s.Bytes()[1], 0xD8);
    s.SetPosition(0);
    TJPEGImage back;
    back.LoadFromStream(s);
    EXPECT_EQ(back.Width(), 32);
    EXPECT_EQ(back.Height(), 16);
    TBitmap out;
    out.Assign(&back);
    EXPECT_EQ(out.PixelFormat(), pf24bit);
    EXPECT_LE(MaxDiff(src, out), 12);
    // Unaltered pictures save their original bytes.
    TMemoryStream again;
    back.SaveToStream(again);
    EXPECT_EQ(again.Bytes(), s.Bytes());
    ASSERT_NE(TPicture::FindGraphicClass("JPG"), nullptr);
    EXPECT_EQ(TPicture::FindGraphicClass("jpeg")->Name, "TJPEGImage");

    TJPEGImage prog;
    prog.Assign(&src);
    prog.SetProgressiveEncoding(true);
    prog.SetGrayscale(true);
    TMemoryStream p;
    prog.SaveToStream(p);
    p.SetPosition(0);
    TJPEGImage pb;
    pb.LoadFromStream(p);
    TColor c = pb.Bitmap()->PixelColor(5, 5);
    EXPECT_EQ(GetRValue(c), GetGValue(c));
}

TEST(Jpeg, BadDataRaisesWithoutCrossingLibjpeg)
{
    TBitmap src;
    Gradient(src, 16, 16);
    auto data = EncodeJpeg(src, 80, false, false);
    TJPEGImage jpg;
    for (size_t n : {size_t(0), size_t(2), size_t(20), data.size() / 3}) {
        TReadOnlyMemoryStream s(data.data(), int64_t(n));
        EXPECT_THROW(jpg.LoadFromStream(s), EInvalidGraphic) << n;
    }
    std::vector<uint8_t> bad = data;
    for (size_t i = 20; i < bad.size(); i += 7)
        bad[i] = 0xFF;
    TReadOnlyMemoryStream s(bad.data(), int64_t(bad.size()));
    try {
        jpg.LoadFromStream(s);
    } catch (const EInvalidGraphic&) {
    }
    EXPECT_TRUE(jpg.Empty() || jpg.Width() == 16);
}

TEST(Icon, ReadsBmpEntryWithMaskAndPicksLargest)
{
    // Two entries: a 1x1 and a 2x2 24-bit image (the larger wins).
    std::vector<uint8_t> f;
    auto u8 = [&](uint8_t v) { f.push_back(v); };
    auto u16 = [&](uint16_t v) {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    };
    u16(0);
    u16(1);
    u16(2);
    const uint32_t small = 40 + 4 + 4, big = 40 + 8 * 2 + 4 * 2;
    u8(1);
    u8(1);
    u8(0);
    u8(0);
    u16(1);
    u16(24);
    u32(small);
    u32(6 + 32);
    u8(2);
    u8(2);
    u8(0);
    u8(0);
    u16(1);
    u16(24);
    u32(big);
    u32(6 + 32 + small);
    auto header = [&](int w, int h) {
        u32(40);
        u32(uint32_t(w));
        u32(uint32_t(h * 2));
        u16(1);
        u16(24);
        for (int i = 0; i < 6; ++i)
            u32(0);
    };
    header(1, 1);
    u8(0);
    u8(0);
    u8(0xFF);
    u8(0);  // red
    u32(0); // mask
    header(2, 2);
    u8(0xFF);
    u8(0);
    u8(0);
    u8(0xFF);
    u8(0);
    u8(0);
    u8(0);
    u8(0); // bottom row: blue blue, padding
    u8(0);
    u8(0xFF);
    u8(0);
    u8(0);
    u8(0xFF);
    u8(0);
    u8(0);
    u8(0);           // top row: green green, padding
    u32(0x00000000); // bottom mask: opaque
    u8(0x40);
    u8(0);
    u8(0);
    u8(0); // top mask: second pixel transparent
    TIcon icon;
    TReadOnlyMemoryStream s(f.data(), int64_t(f.size()));
    icon.LoadFromStream(s);
    ASSERT_EQ(icon.Width(), 2);
    EXPECT_EQ(GetU32LE(icon.Image().ScanLine(0)), 0xFF00FF00u);
    EXPECT_EQ(icon.Image().ScanLine(0)[7], 0);
    EXPECT_EQ(GetU32LE(icon.Image().ScanLine(1)), 0xFF0000FFu);

    // Drawn over white: the transparent pixel shows the background.
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(2, 2);
    target.Canvas()->Brush()->SetColor(clWhite);
    target.Canvas()->FillRect(Rect(0, 0, 2, 2));
    target.Canvas()->Draw(0, 0, &icon);
    EXPECT_EQ(target.PixelColor(0, 0), clLime);
    EXPECT_EQ(target.PixelColor(1, 0), clWhite);
    EXPECT_EQ(target.PixelColor(1, 1), clBlue);

    // Our own writer reads back the same pixels.
    TIcon fresh;
    fresh.Assign(const_cast<TBitmap*>(&icon.Image()));
    TMemoryStream out;
    fresh.SaveToStream(out);
    out.SetPosition(0);
    TIcon again;
    again.LoadFromStream(out);
    EXPECT_EQ(GetU32LE(again.Image().ScanLine(1)), 0xFF0000FFu);
    EXPECT_EQ(again.Image().ScanLine(0)[7], 0);

    for (size_t n : {size_t(5), size_t(20), size_t(50)}) {
        TReadOnlyMemoryStream cut(f.data(), int64_t(n));
        TIcon bad;
        EXPECT_THROW(bad.LoadFromStream(cut), EInvalidGraphic);
    }
}

namespace {
// The decode as libjpeg gives it in plain RGB, turned into B, G, R, A words by hand:
// the oracle the direct layouts must match bit for bit.
std::vector<uint32_t> OracleDecode(const std::vector<uint8_t>& Data, bool Fast)
{
    jpeg_decompress_struct D{};
    jpeg_error_mgr Err{};
    D.err = jpeg_std_error(&Err);
    jpeg_create_decompress(&D);
    jpeg_mem_src(&D, Data.data(), static_cast<unsigned long>(Data.size()));
    jpeg_read_header(&D, TRUE);
    D.out_color_space = JCS_RGB;
    if (Fast) {
        D.dct_method = JDCT_IFAST;
        D.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&D);
    std::vector<uint32_t> Out;
    std::vector<uint8_t> Row(size_t(D.output_width) * 3);
    while (D.output_scanline < D.output_height) {
        JSAMPROW R = Row.data();
        jpeg_read_scanlines(&D, &R, 1);
        for (size_t X = 0; X < D.output_width; ++X)
            Out.push_back(0xFF000000u | uint32_t(Row[3 * X]) << 16 | uint32_t(Row[3 * X + 1]) << 8 | Row[3 * X + 2]);
    }
    jpeg_finish_decompress(&D);
    jpeg_destroy_decompress(&D);
    return Out;
}
uint32_t Word(TColor C)
{
    return 0xFF000000u | uint32_t(GetRValue(C)) << 16 | uint32_t(GetGValue(C)) << 8 | GetBValue(C);
}
} // namespace

TEST(Jpeg, DirectLayoutsMatchThePlainDecodeExactly)
{
    TBitmap src;
    src.SetPixelFormat(pf24bit);
    src.SetSize(37, 23); // odd sides: partial MCUs and chroma edges
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            src.SetPixelColor(x, y, RGB(uint8_t(x * 7 + y), uint8_t(255 - y * 11), uint8_t((x * y) & 0xFF)));
    for (bool gray : {false, true})
        for (bool fast : {false, true}) {
            const std::vector<uint8_t> data = EncodeJpeg(src, 85, gray, false);
            const std::vector<uint32_t> oracle = OracleDecode(data, fast);
            std::vector<uint32_t> direct;
            DecodeJpeg32(data.data(), data.size(), TJpegDecodeOptions{false, fast, 1}, [&](int32_t W, int32_t H) {
                EXPECT_EQ(W, 37);
                EXPECT_EQ(H, 23);
                direct.resize(size_t(W) * size_t(H));
                return direct.data();
            });
            EXPECT_EQ(direct, oracle) << gray << fast;
            TBitmap b;
            DecodeJpeg(data.data(), data.size(), b, false, fast);
            ASSERT_EQ(b.PixelFormat(), pf24bit);
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x)
                    ASSERT_EQ(Word(b.PixelColor(x, y)), oracle[size_t(y) * 37 + size_t(x)]) << x << "," << y;
        }
    // Files of every colour space: the 32-bit road gives the 24-bit road's pixels, opaque
    // (inks converted for CMYK and YCCK, never copied as colour and alpha).
    for (const char* name : {"cmyk.jpg", "ycck.jpg", "grey.jpg", "rgb.jpg", "ycbcr.jpg", "progressive.jpg"})
        for (bool fast : {false, true}) {
            std::ifstream in(std::string(KV_TEST_DATA) + "/jpeg/" + name, std::ios::binary);
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            ASSERT_FALSE(data.empty()) << name;
            TBitmap b;
            DecodeJpeg(data.data(), data.size(), b, false, fast);
            std::vector<uint32_t> direct;
            DecodeJpeg32(data.data(), data.size(), TJpegDecodeOptions{false, fast, 1}, [&](int32_t W, int32_t H) {
                direct.resize(size_t(W) * size_t(H));
                return direct.data();
            });
            ASSERT_EQ(direct.size(), size_t(b.Width()) * size_t(b.Height())) << name;
            for (int y = 0; y < b.Height(); ++y)
                for (int x = 0; x < b.Width(); ++x)
                    ASSERT_EQ(direct[size_t(y) * size_t(b.Width()) + size_t(x)], Word(b.PixelColor(x, y)))
                        << name << " " << x << "," << y;
        }
}

// The editor's open reads the file through a small buffer rather than whole: the same
// pixels and the same cut-short flag as the memory road, for files far larger than the
// buffer and cut anywhere, headers and scans alike.
TEST(Jpeg, StreamedDecodeMatchesTheWholeFileDecode)
{
    std::vector<std::vector<uint8_t>> files;
    for (const char* name : {"cmyk.jpg", "progressive.jpg", "ycbcr.jpg", "truncated.jpg", "cut_in_scan.jpg"}) {
        std::ifstream in(std::string(KV_TEST_DATA) + "/jpeg/" + name, std::ios::binary);
        files.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(files.back().empty()) << name;
    }
    TBitmap noise;
    noise.SetPixelFormat(pf24bit);
    noise.SetSize(333, 301);
    uint32_t seed = 7;
    for (int y = 0; y < 301; ++y)
        for (int x = 0; x < 333; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.SetPixelColor(x, y, RGB(uint8_t(seed >> 8), uint8_t(seed >> 16), uint8_t(seed >> 24)));
        }
    for (bool progressive : {false, true}) {
        const std::vector<uint8_t> big = EncodeJpeg(noise, 100, false, progressive);
        ASSERT_GT(big.size(), size_t(2) << 16);
        for (size_t cut :
             {big.size(), big.size() - 1, (size_t(1) << 16) + 1, size_t(1) << 16, big.size() / 3, size_t(700)})
            files.emplace_back(big.begin(), big.begin() + std::ptrdiff_t(cut));
    }
    const auto decode = [](const std::vector<uint8_t>& Data, bool Streamed, bool& Whole, std::vector<uint32_t>& Px) {
        const auto allocate = [&Px](int32_t W, int32_t H) {
            Px.assign(size_t(W) * size_t(H), 0x12345678u);
            return Px.data();
        };
        const TJpegDecodeOptions options{false, false, 1};
        if (!Streamed) {
            Whole = DecodeJpeg32(Data.data(), Data.size(), options, allocate);
            return;
        }
        TReadOnlyMemoryStream stream(Data.data(), int64_t(Data.size()));
        Whole = DecodeJpeg32(stream, options, allocate);
        EXPECT_EQ(stream.Position(), int64_t(Data.size()));
    };
    for (size_t i = 0; i < files.size(); ++i) {
        bool memoryWhole = false, streamWhole = false;
        std::vector<uint32_t> memory, streamed;
        std::string memoryError, streamError;
        try {
            decode(files[i], false, memoryWhole, memory);
        } catch (const EJPEG& E) {
            memoryError = E.what();
        }
        try {
            decode(files[i], true, streamWhole, streamed);
        } catch (const EJPEG& E) {
            streamError = E.what();
        }
        EXPECT_EQ(streamError, memoryError) << i;
        EXPECT_EQ(streamWhole, memoryWhole) << i;
        EXPECT_TRUE(streamed == memory) << i;
    }
}

TEST(Jpeg, ScaledDecodeSizesAndTheScaleForABox)
{
    TBitmap src;
    Gradient(src, 101, 50);
    const std::vector<uint8_t> data = EncodeJpeg(src, 90, false, false);
    int32_t w = 0, h = 0;
    ReadJpegSize(data.data(), data.size(), w, h);
    EXPECT_EQ(w, 101);
    EXPECT_EQ(h, 50);
    // libjpeg rounds the scaled sides up.
    const struct {
        int32_t Denom, W, H;
    } sizes[] = {{1, 101, 50}, {2, 51, 25}, {4, 26, 13}, {8, 13, 7}};
    for (const auto& s : sizes) {
        TBitmap b;
        DecodeJpegScaled(data.data(), data.size(), b, TJpegDecodeOptions{false, false, s.Denom});
        EXPECT_EQ(b.Width(), s.W) << s.Denom;
        EXPECT_EQ(b.Height(), s.H) << s.Denom;
    }
    TBitmap keep;
    EXPECT_THROW(DecodeJpegScaled(data.data(), data.size(), keep, TJpegDecodeOptions{false, false, 3}), EJPEG);
    // The largest reduction still covering the box.
    EXPECT_EQ(JpegScaleFor(4000, 3000, 100, 75), 8);
    EXPECT_EQ(JpegScaleFor(4000, 3000, 501, 75), 4);
    EXPECT_EQ(JpegScaleFor(4000, 3000, 1000, 750), 4);
    EXPECT_EQ(JpegScaleFor(4000, 3000, 2001, 10), 1);
    EXPECT_EQ(JpegScaleFor(4001, 3000, 2001, 10), 2); // 2001 x 1500 after rounding up
    const uint8_t notJpeg[] = {'G', 'I', 'F', '8', '9'};
    try {
        ReadJpegSize(notJpeg, sizeof notJpeg, w, h);
        FAIL();
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), "JPEG error #53: Not a JPEG file");
    }
}

TEST(Jpeg, RefusesPictureItsBytesCannotHold)
{
    // One bit per MCU at least: 3000 x 2000 in 16 x 16 MCUs is 188 x 125 of them.
    struct Row {
        int64_t W, H;
        int32_t HS, VS;
        int64_t Bytes;
        bool Holds;
    };
    for (const Row& r : {Row{3000, 2000, 2, 2, 2938, true}, Row{3000, 2000, 2, 2, 2937, false},
                         Row{8, 8, 1, 1, 1, true}, Row{16000, 16000, 1, 1, 356, false}, Row{1, 1, 0, 0, 0, false}})
        EXPECT_EQ(JpegDataCanHold(r.W, r.H, r.HS, r.VS, r.Bytes), r.Holds) << r.W << " " << r.Bytes;

    TBitmap src;
    Gradient(src, 16, 16);
    for (bool progressive : {false, true}) {
        auto data = EncodeJpeg(src, 80, false, progressive);
        const uint8_t marker[2] = {0xFF, uint8_t(progressive ? 0xC2 : 0xC0)};
        const auto sof = std::search(data.begin(), data.end(), marker, marker + 2);
        ASSERT_NE(sof, data.end());
        PutU16BE(&*sof + 5, 16000);
        PutU16BE(&*sof + 7, 16000);
        TBitmap out;
        EXPECT_THROW(DecodeJpeg(data.data(), data.size(), out, false, false), EJPEG) << progressive;
        EXPECT_TRUE(out.Empty());
    }
}
