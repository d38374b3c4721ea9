#include "formats/Pcx_unit.h"
#include "formats/Targa.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

std::string WriteTemp(const Bytes& data, const char* name)
{
    auto path = std::filesystem::temp_directory_path() / (std::string("kv_pcxtga_") + name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return path.string();
}

// A PCX header: manufacturer 10, version, RLE, bits, window 0..w-1 x 0..h-1, planes, bytes per line.
Bytes PcxHeader(uint8_t version, uint8_t bits, uint16_t w, uint16_t h, uint8_t planes, uint16_t bpl)
{
    Bytes b(128, 0);
    b[0] = 10;             // manufacturer
    b[1] = version;        // version
    b[2] = 1;              // encoding: RLE
    b[3] = bits;           // bits per pixel per plane
    b[8] = uint8_t(w - 1); // xmax (xmin = 0)
    b[9] = uint8_t((w - 1) >> 8);
    b[10] = uint8_t(h - 1); // ymax (ymin = 0)
    b[11] = uint8_t((h - 1) >> 8);
    b[65] = planes;       // planes
    b[66] = uint8_t(bpl); // bytes per line
    b[67] = uint8_t(bpl >> 8);
    return b;
}

TPaletteEntry Entry(const TBitmap& b, size_t i) { return b.PaletteEntries().at(i); }

} // namespace

TEST(PcxUnit, EightBitPaletteFromTheFileEndWhateverTheMarker)
{
    Bytes f = PcxHeader(5, 8, 2, 1, 1, 2);
    f.insert(f.end(), {0xC2, 0x01}); // a run of two 1s: the whole line
    f.resize(128 + 2 + 150, 0);      // padding before the palette tail
    f.push_back(0);                  // the marker byte, not 12
    Bytes pal(768, 0);
    pal[0] = pal[1] = pal[2] = 255; // entry 0 (255,255,255)
    pal[3] = 16;
    pal[4] = 32;
    pal[5] = 48; // entry 1
    f.insert(f.end(), pal.begin(), pal.end());
    TBitmap bmp;
    ASSERT_TRUE(LoadPCXFile(WriteTemp(f, "pal.pcx"), &bmp));
    EXPECT_EQ(PCXErrorText, "");
    EXPECT_EQ(bmp.PixelFormat(), pf8bit);
    EXPECT_EQ(bmp.Width(), 2);
    EXPECT_EQ(bmp.Height(), 1);
    EXPECT_EQ(Entry(bmp, 0), (TPaletteEntry{252, 252, 252, 0}));
    EXPECT_EQ(Entry(bmp, 1), (TPaletteEntry{16, 32, 48, 0}));
    EXPECT_EQ(bmp.ScanLine(0)[0], 1);
    EXPECT_EQ(bmp.ScanLine(0)[1], 1);
}

TEST(PcxUnit, FourPlanesOfOneBitCombineIntoEightBitPixels)
{
    Bytes f = PcxHeader(5, 1, 8, 1, 4, 1);
    f[16 + 3] = 255; // header palette entry 1 = (255, 0, 0)
    // Plane 0 = 10101010, plane 1 = 11001100, plane 2 = 0, plane 3 = 11110000 (stored
    // raw: bytes below 0xC0 stand for themselves; 0xC1 0xCC is a run of one 0xCC).
    f.insert(f.end(), {0xAA, 0xC1, 0xCC, 0x00, 0xC1, 0xF0});
    TBitmap bmp;
    ASSERT_TRUE(LoadPCXFile(WriteTemp(f, "planes.pcx"), &bmp));
    EXPECT_EQ(bmp.PixelFormat(), pf8bit);
    const uint8_t want[8] = {1 + 2 + 8, 0 + 2 + 8, 1 + 0 + 8, 0 + 0 + 8, 1 + 2, 2, 1, 0};
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(bmp.ScanLine(0)[x], want[x]) << x;
    EXPECT_EQ(Entry(bmp, 0), (TPaletteEntry{3, 3, 3, 0}));   // (0 + 1) x 4 - 1
    EXPECT_EQ(Entry(bmp, 1), (TPaletteEntry{255, 3, 3, 0})); // (63 + 1) x 4 - 1
    EXPECT_EQ(bmp.PaletteEntries().size(), 256u);            // padded: every byte value is defined
}

TEST(PcxUnit, MonochromeRGBAndUndecodedDepths)
{
    // 1 bit, 1 plane, 9 x 2: bytes per line 2, a run crossing past the line end is cut.
    Bytes mono = PcxHeader(5, 1, 9, 2, 1, 2);
    mono.insert(mono.end(), {0xC3, 0xF0, /* line 2 */ 0x0F, 0x80});
    TBitmap m;
    ASSERT_TRUE(LoadPCXFile(WriteTemp(mono, "mono.pcx"), &m));
    EXPECT_EQ(m.PixelFormat(), pf1bit);
    EXPECT_EQ(m.ScanLine(0)[0], 0xF0);
    EXPECT_EQ(m.ScanLine(1)[0], 0x0F);
    EXPECT_EQ(m.ScanLine(1)[1], 0x80);
    EXPECT_EQ(Entry(m, 1), (TPaletteEntry{255, 255, 255, 0}));

    // 8 bits, 3 planes: red plane, green plane, blue plane -> B, G, R.
    Bytes rgb = PcxHeader(5, 8, 2, 1, 3, 2);
    rgb.insert(rgb.end(), {10, 20, 30, 40, 50, 60});
    TBitmap c;
    ASSERT_TRUE(LoadPCXFile(WriteTemp(rgb, "rgb.pcx"), &c));
    EXPECT_EQ(c.PixelFormat(), pf24bit);
    const uint8_t wantRGB[6] = {50, 30, 10, 60, 40, 20};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(c.ScanLine(0)[i], wantRGB[i]);

    // Depths and plane counts the loader has no decoding for pass the header check but
    // would give a picture of nothing: each is a failed load that keeps the bitmap.
    // The 4-bit one-plane file is netpbm's (tests/data/iefiles/README-gif-pcx-pnm.md:
    // ppmtopcx -packed src.ppm > pcx_netpbm_7x3_packed.pcx).
    std::vector<uint8_t> packed;
    {
        std::ifstream in(std::string(KV_TEST_DATA) + "/iefiles/pcx_netpbm_7x3_packed.pcx", std::ios::binary);
        packed.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(packed.size(), 128u);
    ASSERT_EQ(packed[3], 4);                   // bits per pixel
    ASSERT_EQ(packed[65], 1);                  // planes
    Bytes deep = PcxHeader(5, 24, 3, 2, 1, 9); // 24 bits in one plane
    deep.resize(deep.size() + 18, 0x11);
    Bytes fourPlanes = PcxHeader(5, 8, 2, 1, 4, 2); // 8 bits in four planes
    fourPlanes.resize(fourPlanes.size() + 8, 0x11);
    Bytes nibbles = PcxHeader(5, 4, 4, 1, 1, 2); // 4 bits in one plane, spelled out
    nibbles.insert(nibbles.end(), {0x12, 0x34});
    const std::pair<const char*, const Bytes*> undecoded[] = {
        {"packed.pcx", &packed}, {"deep.pcx", &deep}, {"planes8.pcx", &fourPlanes}, {"nibbles.pcx", &nibbles}};
    for (const auto& [name, file] : undecoded) {
        TBitmap d;
        d.SetPixelFormat(pf8bit);
        d.SetSize(5, 7);
        EXPECT_FALSE(LoadPCXFile(WriteTemp(*file, name), &d)) << name;
        EXPECT_EQ(PCXErrorText, "Unsupported PCX pixel format!") << name;
        EXPECT_EQ(d.Width(), 5) << name;
        EXPECT_EQ(d.Height(), 7) << name;
        EXPECT_EQ(d.PixelFormat(), pf8bit) << name;
    }

    // Version 3 takes the default 16-colour table.
    Bytes v3 = PcxHeader(3, 1, 8, 1, 4, 1);
    v3.insert(v3.end(), {0, 0, 0, 0});
    TBitmap e;
    ASSERT_TRUE(LoadPCXFile(WriteTemp(v3, "v3.pcx"), &e));
    EXPECT_EQ(Entry(e, 7), (TPaletteEntry{171, 171, 171, 0})); // (42 + 1) x 4 - 1
}

TEST(PcxUnit, BadFilesKeepTheBitmapAndSayWhy)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(5, 7);
    Bytes notPcx = PcxHeader(5, 8, 2, 1, 1, 2);
    notPcx[0] = 11;
    EXPECT_FALSE(LoadPCXFile(WriteTemp(notPcx, "not.pcx"), &bmp));
    EXPECT_EQ(PCXErrorText, "Not a PCX file, or header read error.");
    EXPECT_EQ(bmp.Width(), 5);
    EXPECT_EQ(bmp.PixelFormat(), pf24bit);
    EXPECT_FALSE(LoadPCXFile("/nonexistent/file.pcx", &bmp));
    EXPECT_EQ(PCXErrorText, "Not a PCX file, or header read error.");

    Bytes bits = PcxHeader(5, 3, 2, 1, 1, 2);
    EXPECT_FALSE(LoadPCXFile(WriteTemp(bits, "bits.pcx"), &bmp));
    EXPECT_EQ(PCXErrorText, "Not a valid PCX file!");

    Bytes negative = PcxHeader(5, 8, 2, 1, 1, 2);
    negative[4] = 9; // xmin above xmax
    EXPECT_FALSE(LoadPCXFile(WriteTemp(negative, "neg.pcx"), &bmp));
    EXPECT_EQ(PCXErrorText, "Not a valid PCX file!");

    Bytes huge = PcxHeader(5, 8, 65535, 65535, 1, 65535); // from a 130-byte file
    huge.insert(huge.end(), {0xFF, 0});
    EXPECT_FALSE(LoadPCXFile(WriteTemp(huge, "huge.pcx"), &bmp));
    EXPECT_EQ(bmp.Height(), 7);

    Bytes shortLine = PcxHeader(5, 8, 100, 1, 1, 4); // 4 bytes cannot hold 100 pixels
    shortLine.resize(shortLine.size() + 900, 0);
    EXPECT_FALSE(LoadPCXFile(WriteTemp(shortLine, "short.pcx"), &bmp));

    Bytes good = PcxHeader(5, 8, 2, 1, 1, 2);
    good.insert(good.end(), {1, 2});
    EXPECT_TRUE(LoadPCXFile(WriteTemp(good, "good.pcx"), &bmp));
    EXPECT_EQ(PCXErrorText, "");
}

namespace {

Bytes TgaHeader(uint8_t type, uint8_t depth, uint16_t w, uint16_t h, uint8_t desc, uint8_t mapType = 0,
                uint16_t mapFirst = 0, uint16_t mapLen = 0, uint8_t entryBits = 0)
{
    return {0,       // ID length
            mapType, // colour-map type
            type,    // image type
            uint8_t(mapFirst),
            uint8_t(mapFirst >> 8),
            uint8_t(mapLen),
            uint8_t(mapLen >> 8),
            entryBits,
            0,
            0,
            0,
            0, // origin
            uint8_t(w),
            uint8_t(w >> 8),
            uint8_t(h),
            uint8_t(h >> 8),
            depth,
            desc};
}

} // namespace

TEST(Targa, RowOrderAndMirroring)
{
    Bytes body = {1, 2, 3, 4, 5, 6, /* second stored line */ 7, 8, 9, 10, 11, 12};
    for (uint8_t desc : {0x00, 0x20, 0x10}) {
        Bytes f = TgaHeader(2, 24, 2, 2, desc);
        f.insert(f.end(), body.begin(), body.end());
        TBitmap b;
        ASSERT_TRUE(LoadTGAFile(WriteTemp(f, "rows.tga"), &b));
        EXPECT_EQ(b.PixelFormat(), pf24bit);
        const uint8_t* first = desc == 0x20 ? b.ScanLine(0) : b.ScanLine(1);
        if (desc == 0x10)
            EXPECT_EQ(Bytes(first, first + 6), (Bytes{4, 5, 6, 1, 2, 3}));
        else
            EXPECT_EQ(Bytes(first, first + 6), (Bytes{1, 2, 3, 4, 5, 6}));
    }
}

TEST(Targa, PacketsDepthsAndPalettes)
{
    Bytes rle = TgaHeader(10, 32, 2, 1, 0);
    rle.insert(rle.end(), {0x81, 10, 20, 30, 99});
    TBitmap a;
    ASSERT_TRUE(LoadTGAFile(WriteTemp(rle, "rle.tga"), &a));
    EXPECT_EQ(Bytes(a.ScanLine(0), a.ScanLine(0) + 6), (Bytes{10, 20, 30, 10, 20, 30}));

    // A run packet crossing into the next line carries on there.
    Bytes cross = TgaHeader(11, 8, 2, 2, 0x20);
    cross.insert(cross.end(), {0x82, 7, 0x00, 9});
    TBitmap c;
    ASSERT_TRUE(LoadTGAFile(WriteTemp(cross, "cross.tga"), &c));
    EXPECT_EQ(c.ScanLine(0)[1], 7);
    EXPECT_EQ(c.ScanLine(1)[0], 7);
    EXPECT_EQ(c.ScanLine(1)[1], 9);
    EXPECT_EQ(c.PaletteEntries()[255], (TPaletteEntry{252, 252, 252, 0})); // 255 x 63 div 255 x 4
    EXPECT_EQ(c.PaletteEntries()[128], (TPaletteEntry{124, 124, 124, 0})); // 128 x 63 div 255 = 31

    Bytes w16 = TgaHeader(2, 16, 1, 1, 0);
    w16.insert(w16.end(), {0xFF, 0x7F});
    TBitmap d;
    ASSERT_TRUE(LoadTGAFile(WriteTemp(w16, "w16.tga"), &d));
    EXPECT_EQ(Bytes(d.ScanLine(0), d.ScanLine(0) + 3), (Bytes{248, 248, 248}));

    // A colour map of 24-bit entries starting at 254 and running past 255 stops at the table's end,
    // and a 32-bit map is skipped whole so that the pixels are found.
    Bytes mapped = TgaHeader(1, 8, 2, 1, 0, 1, 254, 3, 24);
    mapped.insert(mapped.end(), {0, 0, 255, 0, 255, 0, 255, 0, 0, /* pixels */ 254, 255});
    TBitmap e;
    ASSERT_TRUE(LoadTGAFile(WriteTemp(mapped, "map.tga"), &e));
    EXPECT_EQ(e.PaletteEntries()[254], (TPaletteEntry{252, 0, 0, 0}));
    EXPECT_EQ(e.PaletteEntries()[255], (TPaletteEntry{0, 252, 0, 0}));
    EXPECT_EQ(e.ScanLine(0)[1], 255);
    Bytes map32 = TgaHeader(1, 8, 1, 1, 0, 1, 0, 2, 32);
    map32.insert(map32.end(), {1, 2, 3, 4, 5, 6, 7, 8, /* pixel */ 42});
    TBitmap g;
    ASSERT_TRUE(LoadTGAFile(WriteTemp(map32, "map32.tga"), &g));
    EXPECT_EQ(g.ScanLine(0)[0], 42);

    Bytes mono = TgaHeader(3, 1, 10, 1, 0x10);
    mono.insert(mono.end(), {0xC0, 0x00}); // pixels 0 and 1 set
    TBitmap m;
    ASSERT_TRUE(LoadTGAFile(WriteTemp(mono, "mono.tga"), &m));
    EXPECT_EQ(m.PixelFormat(), pf1bit);
    EXPECT_EQ(m.ScanLine(0)[0], 0x00); // mirrored: pixels 9 and 8 set
    EXPECT_EQ(m.ScanLine(0)[1] & 0xC0, 0xC0);
}

TEST(Targa, BadFilesLeaveAOneByOneBitmap)
{
    for (uint8_t type : {4, 5, 0}) {
        Bytes f = TgaHeader(type, 24, 2, 2, 0);
        f.resize(f.size() + 12, 1);
        TBitmap b;
        b.SetSize(9, 9);
        EXPECT_FALSE(LoadTGAFile(WriteTemp(f, "bad.tga"), &b));
        EXPECT_EQ(TGAErrorText, "Invalid TGA file!");
        EXPECT_EQ(b.Width(), 1);
        EXPECT_EQ(b.Height(), 1);
    }
    Bytes zero = TgaHeader(2, 24, 0, 5, 0);
    TBitmap z;
    EXPECT_FALSE(LoadTGAFile(WriteTemp(zero, "zero.tga"), &z));
    Bytes huge = TgaHeader(2, 24, 65535, 65535, 0);
    huge.resize(40, 0);
    EXPECT_FALSE(LoadTGAFile(WriteTemp(huge, "huge.tga"), &z));
    EXPECT_FALSE(LoadTGAFile("/nonexistent.tga", &z));
    // Truncated pixel data reads as black rather than failing.
    Bytes cut = TgaHeader(2, 24, 4, 4, 0);
    cut.resize(cut.size() + 5, 200);
    EXPECT_TRUE(LoadTGAFile(WriteTemp(cut, "cut.tga"), &z));
    EXPECT_EQ(TGAErrorText, "");
    EXPECT_EQ(z.ScanLine(3)[0], 200);
    EXPECT_EQ(z.ScanLine(0)[0], 0);
}

TEST(Targa, EveryDepthIsCheckedAgainstTheFileBeforeAllocating)
{
    // The 18-byte header alone once made a 16384 x 16384 bitmap (1 GiB) and succeeded.
    const Bytes headerOnly = {
        0,                // ID length
        0,                // colour-map type
        2,                // image type: raw true colour
        0,    0,          // first colour-map entry
        0,    0,          // colour-map length
        0,                // colour-map entry size
        0,    0,    0, 0, // x and y origin
        0x00, 0x40,       // width 16384
        0x00, 0x40,       // height 16384
        4,                // pixel depth 4
        0,                // descriptor
    };
    ASSERT_EQ(headerOnly.size(), 18u);
    TBitmap b;
    EXPECT_FALSE(LoadTGAFile(WriteTemp(headerOnly, "depth4.tga"), &b));
    EXPECT_EQ(TGAErrorText, "Invalid TGA file!");
    EXPECT_EQ(b.Width(), 1);
    EXPECT_EQ(b.Height(), 1);
    // The same bound as every depth: 2 pixels a byte, 128 units per byte left (+1).
    for (uint8_t depth : {1, 4, 8, 16, 24, 32}) {
        const uint16_t width = depth == 1 ? 8 * 256 : depth == 4 ? 2 * 256 : 256;
        Bytes fits = TgaHeader(2, depth, width, 1, 0);
        Bytes over = TgaHeader(2, depth, width, 2, 0);
        fits.push_back(0); // 1 byte left: (1 + 1) x 128 = 256 units
        over.push_back(0); // two lines are 512 units
        TBitmap f, o;
        EXPECT_TRUE(LoadTGAFile(WriteTemp(fits, "fits.tga"), &f)) << int(depth);
        EXPECT_EQ(f.Width(), width);
        EXPECT_FALSE(LoadTGAFile(WriteTemp(over, "over.tga"), &o)) << int(depth);
    }
}
