#include "formats/PNGImage.h"
#include "formats/PNGZLIB.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

// ---- Building files by hand ------------------------------------------------------

void PutChunk(Bytes& out, const char* type, const Bytes& data)
{
    uint8_t len[4];
    PutU32BE(len, uint32_t(data.size()));
    out.insert(out.end(), len, len + 4);
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (!data.empty())
        crc = crc32(crc, data.data(), uInt(data.size()));
    uint8_t c[4];
    PutU32BE(c, uint32_t(crc));
    out.insert(out.end(), c, c + 4);
}

Bytes Signature() { return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}; }

Bytes IHDR(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0)
{
    Bytes d(13);
    PutU32BE(d.data(), w);
    PutU32BE(d.data() + 4, h);
    d[8] = depth;
    d[9] = type;
    d[12] = interlace;
    return d;
}

Bytes Deflate(const Bytes& raw)
{
    uLongf n = compressBound(uLong(raw.size()));
    Bytes out(n);
    compress(out.data(), &n, raw.data(), uLong(raw.size()));
    out.resize(n);
    return out;
}

// A small RGB picture (type 2, depth 8) with filter byte 0 on every row.
Bytes RGBFile(uint32_t w, uint32_t h, const std::vector<std::pair<const char*, Bytes>>& extra = {}, int idatParts = 1)
{
    Bytes raw;
    for (uint32_t y = 0; y < h; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < w; ++x) {
            raw.push_back(uint8_t(x * 40));
            raw.push_back(uint8_t(y * 50));
            raw.push_back(128);
        }
    }
    Bytes f = Signature();
    PutChunk(f, "IHDR", IHDR(w, h, 8, 2));
    for (auto& [type, data] : extra)
        PutChunk(f, type, data);
    Bytes z = Deflate(raw);
    size_t part = (z.size() + idatParts - 1) / idatParts;
    for (size_t at = 0; at < z.size(); at += part)
        PutChunk(f, "IDAT", Bytes(z.begin() + at, z.begin() + std::min(z.size(), at + part)));
    PutChunk(f, "IEND", {});
    return f;
}

void Load(TPNGImage& png, const Bytes& file)
{
    TReadOnlyMemoryStream s(file.data(), int64_t(file.size()));
    png.LoadFromStream(s);
}

std::string LoadError(const Bytes& file)
{
    TPNGImage png;
    try {
        Load(png, file);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

Bytes Save(TPNGImage& png)
{
    TMemoryStream s;
    png.SaveToStream(s);
    return s.Bytes();
}

std::string Wrapped(const std::string& m) { return "Portable Graphics Network format handler error\r\n\r\n" + m; }

// Pixel value of a paletted bitmap, or 0x00RRGGBB of a 24-bit one.
uint32_t PixelAt(TBitmap& b, int x, int y)
{
    const uint8_t* row = b.ScanLine(y);
    switch (b.PixelFormat()) {
    case pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case pf4bit: return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case pf8bit: return row[x];
    default: return (uint32_t(row[3 * x + 2]) << 16) | (uint32_t(row[3 * x + 1]) << 8) | row[3 * x];
    }
}

// ---- libpng as the oracle --------------------------------------------------------

struct PngOut {
    Bytes Data;
};

void WriteFn(png_structp p, png_bytep d, png_size_t n)
{
    auto* out = static_cast<PngOut*>(png_get_io_ptr(p));
    out->Data.insert(out->Data.end(), d, d + n);
}
void FlushFn(png_structp) {}

Bytes LibpngWrite(int w, int h, int depth, int type, int filter, bool interlace, const std::vector<Bytes>& rows)
{
    PngOut out;
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
        png_destroy_write_struct(&p, &info);
        ADD_FAILURE() << "libpng write failed";
        return {};
    }
    png_set_write_fn(p, &out, WriteFn, FlushFn);
    png_set_IHDR(p, info, png_uint_32(w), png_uint_32(h), depth, type,
                 interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (type == 3) {
        png_color pal[256];
        for (int i = 0; i < 256; ++i)
            pal[i] = {png_byte(i), png_byte(255 - i), png_byte(i * 7)};
        png_set_PLTE(p, info, pal, 1 << depth);
    }
    png_set_filter(p, 0, filter);
    png_write_info(p, info);
    std::vector<png_bytep> ptrs;
    for (auto& r : rows)
        ptrs.push_back(const_cast<png_bytep>(r.data()));
    png_write_image(p, ptrs.data());
    png_write_end(p, info);
    png_destroy_write_struct(&p, &info);
    return out.Data;
}

struct PngIn {
    const Bytes* Data;
    size_t Pos = 0;
};

void ReadFn(png_structp p, png_bytep d, png_size_t n)
{
    auto* in = static_cast<PngIn*>(png_get_io_ptr(p));
    if (in->Pos + n > in->Data->size())
        png_error(p, "short");
    std::memcpy(d, in->Data->data() + in->Pos, n);
    in->Pos += n;
}

// Raw rows as libpng decodes them (samples as stored, interlacing undone).
struct Decoded {
    int W = 0, H = 0, Depth = 0, Type = 0;
    std::vector<Bytes> Rows;
    std::vector<png_color> Palette;
};

Decoded LibpngRead(const Bytes& file)
{
    Decoded d;
    PngIn in{&file};
    png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    if (setjmp(png_jmpbuf(p))) {
        png_destroy_read_struct(&p, &info, nullptr);
        ADD_FAILURE() << "libpng read failed";
        return {};
    }
    png_set_read_fn(p, &in, ReadFn);
    png_read_info(p, info);
    d.W = int(png_get_image_width(p, info));
    d.H = int(png_get_image_height(p, info));
    d.Depth = png_get_bit_depth(p, info);
    d.Type = png_get_color_type(p, info);
    png_set_interlace_handling(p);
    png_read_update_info(p, info);
    size_t rb = png_get_rowbytes(p, info);
    d.Rows.assign(size_t(d.H), Bytes(rb));
    std::vector<png_bytep> ptrs;
    for (auto& r : d.Rows)
        ptrs.push_back(r.data());
    png_read_image(p, ptrs.data());
    if (d.Type == 3) {
        png_colorp pal = nullptr;
        int n = 0;
        png_get_PLTE(p, info, &pal, &n);
        d.Palette.assign(pal, pal + n);
    }
    png_destroy_read_struct(&p, &info, nullptr);
    return d;
}

// What our bitmap should hold at (x, y) for a libpng-decoded picture.
uint32_t Expected(const Decoded& d, int x, int y)
{
    const Bytes& r = d.Rows[size_t(y)];
    int ch = d.Type == 0 || d.Type == 3 ? 1 : d.Type == 2 ? 3 : d.Type == 4 ? 2 : 4;
    int bytes = d.Depth / 8;
    if (d.Type == 2 || d.Type == 6) {
        const uint8_t* s = r.data() + size_t(x * ch * bytes);
        return (uint32_t(s[0]) << 16) | (uint32_t(s[bytes]) << 8) | s[2 * bytes];
    }
    if (d.Depth >= 8)
        return r[size_t(x * ch * bytes)]; // high byte of the first sample
    int bit = x * d.Depth;
    uint32_t v = (r[size_t(bit >> 3)] >> (8 - d.Depth - (bit & 7))) & ((1u << d.Depth) - 1);
    return d.Depth == 2 ? v * 5 : v;
}

} // namespace

TEST(PNGImage, DecodesLikeLibpngForEveryPairFilterInterlaceAndSize)
{
    const std::pair<int, int> pairs[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                         {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 5}, {33, 17}};
    std::mt19937 rng(7);
    for (auto [type, depth] : pairs)
        for (int filter : filters)
            for (bool interlace : {false, true})
                for (auto [w, h] : sizes) {
                    int ch = type == 0 || type == 3 ? 1 : type == 2 ? 3 : type == 4 ? 2 : 4;
                    size_t rb = (size_t(w) * ch * depth + 7) / 8;
                    std::vector<Bytes> rows(static_cast<size_t>(h), Bytes(rb));
                    for (auto& r : rows)
                        for (auto& b : r)
                            b = uint8_t(rng() % 4 == 0 ? rng() : (&b - r.data()) * 3); // runs and noise
                    Bytes file = LibpngWrite(w, h, depth, type, filter, interlace, rows);
                    Decoded ref = LibpngRead(file);
                    TPNGImage png;
                    SCOPED_TRACE(testing::Message() << "type " << type << " depth " << depth << " filter " << filter
                                                    << " interlace " << interlace << " " << w << "x" << h);
                    ASSERT_NO_THROW(Load(png, file));
                    ASSERT_EQ(png.Width(), w);
                    ASSERT_EQ(png.Height(), h);
                    TPixelFormat want = type == 2 || type == 6 ? pf24bit
                                        : depth == 1           ? pf1bit
                                        : depth <= 4           ? pf4bit
                                                               : pf8bit;
                    ASSERT_EQ(png.PixelFormat(), want);
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            ASSERT_EQ(PixelAt(png, x, y), Expected(ref, x, y)) << "at " << x << "," << y;
                    if (type == 3) {
                        const auto& pal = png.PaletteEntries();
                        for (size_t i = 0; i < ref.Palette.size(); ++i) {
                            size_t at = depth == 2 ? i * 5 : i; // 2-bit values live at 0, 5, 10, 15
                            ASSERT_EQ(pal[at].peRed, ref.Palette[i].red);
                            ASSERT_EQ(pal[at].peBlue, ref.Palette[i].blue);
                        }
                    }
                }
}

TEST(PNGImage, GreyPalettes)
{
    auto grey = [](int depth) {
        std::vector<Bytes> rows(1, Bytes((size_t(depth) + 7) / 8));
        TPNGImage png;
        Load(png, LibpngWrite(1, 1, depth, 0, PNG_FILTER_NONE, false, rows));
        return png.PaletteEntries();
    };
    auto p1 = grey(1);
    ASSERT_EQ(p1.size(), 2u);
    EXPECT_EQ(p1[1].peRed, 255);
    EXPECT_EQ(p1[1].peFlags, PC_NOCOLLAPSE);
    auto p4 = grey(4);
    ASSERT_EQ(p4.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(p4[size_t(i)].peGreen, 17 * i);
    auto p8 = grey(8);
    ASSERT_EQ(p8.size(), 256u);
    EXPECT_EQ(p8[200].peBlue, 200);
    EXPECT_EQ(grey(16).size(), 256u);
    auto p2 = grey(2);
    ASSERT_EQ(p2.size(), 16u);
    const int want[16] = {0, 85, 170, 255, 0, 85, 170, 255, 0, 85, 170, 255, 0, 85, 170, 255};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(p2[size_t(i)].peRed, want[i]);
}

TEST(PNGImage, ThreeIDATChunksDecodeLikeOne)
{
    TPNGImage one, three;
    Load(one, RGBFile(5, 4));
    Load(three, RGBFile(5, 4, {}, 3));
    int idats = 0;
    for (int i = 0; i < three.Chunks().Count(); ++i)
        idats += three.Chunks().Item(i)->ChunkType() == "IDAT";
    EXPECT_EQ(idats, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(PixelAt(three, x, y), PixelAt(one, x, y));
    EXPECT_EQ(PixelAt(one, 2, 3), (80u << 16) | (150u << 8) | 128u); // R = 2 x 40, G = 3 x 50, B = 128
}

TEST(PNGImage, GammaAndTransparency)
{
    Bytes g(4);
    PutU32BE(g.data(), 100000);
    Bytes raw = {0, 128, 128, 128};
    Bytes f = Signature();
    PutChunk(f, "IHDR", IHDR(1, 1, 8, 2));
    PutChunk(f, "gAMA", g);
    PutChunk(f, "IDAT", Deflate(raw));
    PutChunk(f, "IEND", {});
    TPNGImage png;
    Load(png, f);
    EXPECT_EQ(PixelAt(png, 0, 0), 0xBABABAu); // 186 = round(255 * (128/255)^(1/2.2))
    auto* gama = dynamic_cast<TChunkGAMA*>(png.Chunks().Find("gAMA"));
    ASSERT_NE(gama, nullptr);
    EXPECT_EQ(gama->Forward()[128], 186);
    // Every level has an inverse: levels no input maps to take the nearest one's.
    EXPECT_EQ(gama->Forward()[1], 21);
    EXPECT_EQ(gama->Inverse()[21], 1);
    EXPECT_EQ(gama->Inverse()[10], 0); // 10 is nearer to level 0 than to level 21
    EXPECT_EQ(gama->Inverse()[11], 1);
    for (int v = 0; v < 256; ++v)
        EXPECT_LE(std::abs(gama->Forward()[gama->Inverse()[v]] - v), 12) << v;

    // gAMA 0 and a short gAMA leave the samples alone.
    for (Bytes bad : {Bytes{0, 0, 0, 0}, Bytes{1, 2}}) {
        Bytes f2 = Signature();
        PutChunk(f2, "IHDR", IHDR(1, 1, 8, 2));
        PutChunk(f2, "gAMA", bad);
        PutChunk(f2, "IDAT", Deflate(raw));
        PutChunk(f2, "IEND", {});
        TPNGImage p2;
        Load(p2, f2);
        EXPECT_EQ(PixelAt(p2, 0, 0), 0x808080u);
    }

    TPNGImage t;
    Load(t, RGBFile(2, 2, {{"tRNS", Bytes{0, 0, 0, 0xFF, 0, 0}}}));
    EXPECT_TRUE(t.Transparent());
    EXPECT_EQ(t.TransparentColor(), RGB(0, 255, 0));
    TPNGImage shortT;
    Load(shortT, RGBFile(2, 2, {{"tRNS", Bytes{0, 0, 0}}}));
    EXPECT_FALSE(shortT.Transparent());
}

TEST(PNGImage, ErrorsAndTheirMessages)
{
    Bytes good = RGBFile(3, 3);
    EXPECT_EQ(LoadError(good), "");

    Bytes sig = good;
    sig[1] = 'Q';
    EXPECT_EQ(LoadError(sig), Wrapped("Invalid Portable Graphics Network image, it has an invalid file header."));

    EXPECT_EQ(LoadError(RGBFile(3, 3, {{"ABCD", Bytes{1}}})),
              Wrapped("The currently being loaded image contains critical(s) chunk(s) not reconized by the decoder."));

    Bytes crc = good;
    crc[8 + 8 + 13] ^= 1; // first CRC byte of IHDR
    EXPECT_EQ(LoadError(crc), Wrapped("Can't read the PNG image, it has corrupted data. "));

    Bytes noIHDR = Signature();
    PutChunk(noIHDR, "gAMA", Bytes{0, 1, 0x86, 0xA0});
    PutChunk(noIHDR, "IHDR", IHDR(1, 1, 8, 2));
    PutChunk(noIHDR, "IDAT", Deflate({0, 1, 2, 3}));
    EXPECT_EQ(LoadError(noIHDR), Wrapped("This PNG image is invalid, the IHDR chunk is either not present or it isn't "
                                         "the first chunk."));
    Bytes shortIHDR = Signature();
    PutChunk(shortIHDR, "IHDR", Bytes(12));
    PutChunk(shortIHDR, "IDAT", Deflate({0}));
    EXPECT_EQ(LoadError(shortIHDR), LoadError(noIHDR));

    Bytes noData = Signature();
    PutChunk(noData, "IHDR", IHDR(1, 1, 8, 2));
    PutChunk(noData, "IEND", {});
    EXPECT_EQ(LoadError(noData), Wrapped("The current image being loaded has no data and could not be loaded."));

    for (auto [type, depth] : std::vector<std::pair<int, int>>{{2, 4}, {6, 1}, {3, 16}, {4, 2}, {0, 3}, {5, 8}}) {
        Bytes bad = Signature();
        PutChunk(bad, "IHDR", IHDR(2, 2, uint8_t(depth), uint8_t(type)));
        PutChunk(bad, "PLTE", Bytes(6));
        PutChunk(bad, "IDAT", Deflate(Bytes(40)));
        EXPECT_EQ(LoadError(bad), Wrapped("Could not read the image because it has an unknown color type."))
            << type << "/" << depth;
    }

    auto paletted = [](const Bytes* plte) {
        Bytes f = Signature();
        PutChunk(f, "IHDR", IHDR(2, 1, 1, 3));
        if (plte)
            PutChunk(f, "PLTE", *plte);
        PutChunk(f, "IDAT", Deflate({0, 0x40}));
        return LoadError(f);
    };
    EXPECT_EQ(paletted(nullptr), Wrapped("The current image requeries a palette but it is not avaliable."));
    Bytes odd(5), tooMany(9), ok(6);
    EXPECT_EQ(paletted(&odd), Wrapped("The current image being loaded has an invalid palette!"));
    EXPECT_EQ(paletted(&tooMany), Wrapped("The current image being loaded has an invalid palette!"));
    EXPECT_EQ(paletted(&ok), "");

    Bytes filt = Signature();
    PutChunk(filt, "IHDR", IHDR(1, 1, 8, 0));
    PutChunk(filt, "IDAT", Deflate({5, 0}));
    EXPECT_EQ(LoadError(filt),
              Wrapped("The image could not be loaded because it uses an unknown set of filter types."));

    Bytes inter = Signature();
    PutChunk(inter, "IHDR", IHDR(1, 1, 8, 0, 2));
    PutChunk(inter, "IDAT", Deflate({0, 0}));
    EXPECT_EQ(LoadError(inter), Wrapped("The image has an unknown interlace method."));

    // Deflate (compression method 0) and the five row filters (filter method 0) are the
    // only methods PNG defines: a file naming another cannot be read as they are.
    const struct {
        size_t Field; // offset in the IHDR data
        uint8_t Value;
        const char* Message;
    } methods[] = {
        {10, 1, "The image could not be loaded because it uses an unknown compression method."},
        {10, 255, "The image could not be loaded because it uses an unknown compression method."},
        {11, 1, "The image could not be loaded because it uses an unknown set of filter types."},
        {11, 64, "The image could not be loaded because it uses an unknown set of filter types."},
    };
    for (const auto& m : methods) {
        Bytes header = IHDR(1, 1, 8, 0);
        header[m.Field] = m.Value;
        Bytes f = Signature();
        PutChunk(f, "IHDR", header);
        PutChunk(f, "IDAT", Deflate({0, 0}));
        EXPECT_EQ(LoadError(f), Wrapped(m.Message)) << m.Field << "=" << int(m.Value);
    }
}

TEST(PNGImage, HostileAndTruncatedInputEndsInAnErrorOrAPicture)
{
    // A huge picture announced by a tiny file is refused before anything is allocated.
    Bytes huge = Signature();
    PutChunk(huge, "IHDR", IHDR(60000, 60000, 8, 2));
    PutChunk(huge, "IDAT", Deflate({0, 1, 2, 3}));
    EXPECT_NE(LoadError(huge), "");
    Bytes wide = Signature();
    PutChunk(wide, "IHDR", IHDR(0x7FFFFFFF, 1, 16, 6));
    PutChunk(wide, "IDAT", Deflate({0}));
    EXPECT_NE(LoadError(wide), "");
    Bytes zero = Signature();
    PutChunk(zero, "IHDR", IHDR(0, 5, 8, 2));
    PutChunk(zero, "IDAT", Deflate({0}));
    EXPECT_NE(LoadError(zero), "");

    // A chunk length beyond the file.
    Bytes longChunk = RGBFile(2, 2);
    PutU32BE(longChunk.data() + 8 + 25, 0x7FFFFF00); // the IDAT length
    EXPECT_EQ(LoadError(longChunk), Wrapped("Can't read the PNG image, it has corrupted data. "));

    // Every prefix of a file, and every single-byte change, ends cleanly.
    Bytes file = LibpngWrite(9, 7, 8, 2, PNG_ALL_FILTERS, true, std::vector<Bytes>(7, Bytes(27, 9)));
    for (size_t n = 0; n < file.size(); ++n)
        LoadError(Bytes(file.begin(), file.begin() + n));
    for (size_t i = 8; i < file.size(); ++i) {
        Bytes f = file;
        f[i] ^= 0x5A;
        LoadError(f);
    }
}

// A picture loaded over one of the same shape lands in the bitmap already there; whatever
// its data does not reach (cut rows, row padding, interlace gaps) is black as in a new one.
TEST(PNGImage, ReloadOverTheSameShapeMatchesAFreshLoad)
{
    struct Case {
        uint32_t W, H;
        uint8_t Depth, Type;
        bool Interlaced;
    };
    for (const Case& c : {Case{9, 7, 8, 2, false}, Case{9, 7, 8, 2, true}, Case{13, 5, 2, 0, false},
                          Case{7, 6, 8, 0, false}, Case{11, 4, 16, 6, false}}) {
        const size_t rowBytes = (size_t(c.W) * c.Depth * (c.Type == 2 ? 3 : c.Type == 6 ? 4 : 1) + 7) / 8;
        std::vector<Bytes> bright(c.H, Bytes(rowBytes, 0xFF)), rows(c.H);
        for (uint32_t y = 0; y < c.H; ++y)
            for (size_t i = 0; i < rowBytes; ++i)
                rows[y].push_back(uint8_t(i * 29 + y * 7));
        const Bytes before = LibpngWrite(c.W, c.H, c.Depth, c.Type, PNG_ALL_FILTERS, c.Interlaced, bright);
        const Bytes file = LibpngWrite(c.W, c.H, c.Depth, c.Type, PNG_ALL_FILTERS, c.Interlaced, rows);
        for (size_t n = 40; n <= file.size(); n += 3) {
            const Bytes part(file.begin(), file.begin() + n);
            TPNGImage fresh, kept;
            Load(kept, before);
            std::string a, b;
            try {
                Load(fresh, part);
            } catch (const Exception& e) {
                a = e.Message();
            }
            try {
                Load(kept, part);
            } catch (const Exception& e) {
                b = e.Message();
            }
            ASSERT_EQ(a, b) << n;
            if (!a.empty() || fresh.Empty())
                continue;
            ASSERT_EQ(kept.PixelFormat(), fresh.PixelFormat());
            for (int y = 0; y < fresh.Height(); ++y)
                ASSERT_EQ(std::memcmp(kept.ScanLine(y), fresh.ScanLine(y), size_t(fresh.BytesPerScanLine())), 0)
                    << c.W << "x" << c.H << " depth " << int(c.Depth) << " cut at " << n << " row " << y;
        }
    }
}

TEST(PNGImage, WritesTheExpectedLayoutAndLibpngReadsItBack)
{
    TPNGImage png;
    png.SetPixelFormat(pf24bit);
    png.SetSize(17, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x) {
            uint8_t* p = png.ScanLine(y) + 3 * x;
            p[0] = uint8_t(x * 15); // blue
            p[1] = uint8_t(y < 4 ? 7 : y * 20);
            p[2] = uint8_t((x / 4) * 60);
        }
    Bytes out = Save(png);
    const Bytes head = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00,
                        0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00,
                        0x00, 0x09, 0x08, 0x02, 0x00, 0x00, 0x00, 0x5B, 0x8A, 0x50, 0x5B};
    ASSERT_GT(out.size(), head.size() + 12);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 33), head);
    EXPECT_EQ(std::string(out.begin() + 37, out.begin() + 41), "IDAT");
    const Bytes iend = {0, 0, 0, 0, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    EXPECT_EQ(Bytes(out.end() - 12, out.end()), iend);
    uint32_t idatLen = GetU32BE(out.data() + 33);
    EXPECT_EQ(out.size(), 33 + 12 + idatLen + 12);

    // Filter bytes: only None, Sub, Average and Paeth.
    Bytes idat(out.begin() + 41, out.begin() + 41 + idatLen);
    Bytes raw(9 * (17 * 3 + 1));
    uLongf n = uLongf(raw.size());
    ASSERT_EQ(uncompress(raw.data(), &n, idat.data(), uLong(idat.size())), Z_OK);
    ASSERT_EQ(n, raw.size());
    bool sawNonNone = false;
    for (int y = 0; y < 9; ++y) {
        uint8_t f = raw[size_t(y) * 52];
        EXPECT_TRUE(f == 0 || f == 1 || f == 3 || f == 4) << int(f);
        sawNonNone |= f != 0;
    }
    EXPECT_TRUE(sawNonNone); // the flat rows score for Sub

    Decoded ref = LibpngRead(out);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x)
            ASSERT_EQ(Expected(ref, x, y), PixelAt(png, x, y));

    // Our own reader agrees as well.
    TPNGImage back;
    Load(back, out);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x)
            ASSERT_EQ(PixelAt(back, x, y), PixelAt(png, x, y));
}

TEST(PNGImage, PalettedAndThirtyTwoBitBitmapsRoundTrip)
{
    for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit}) {
        TPNGImage png;
        png.SetPixelFormat(pf);
        png.SetSize(13, 6);
        int bits = pf == pf1bit ? 1 : pf == pf4bit ? 4 : 8;
        std::vector<TPaletteEntry> pal(size_t(1) << bits);
        for (size_t i = 0; i < pal.size(); ++i)
            pal[i] = {uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 11), 0};
        png.SetPaletteEntries(pal);
        for (int y = 0; y < 6; ++y)
            for (int b = 0; b < png.BytesPerScanLine(); ++b)
                png.ScanLine(y)[b] = uint8_t(b * 37 + y * 11);
        Bytes out = Save(png);
        Decoded ref = LibpngRead(out);
        EXPECT_EQ(ref.Type, 3);
        EXPECT_EQ(ref.Depth, bits);
        ASSERT_EQ(ref.Palette.size(), pal.size());
        EXPECT_EQ(ref.Palette[1].green, 254);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 13; ++x)
                ASSERT_EQ(PixelAt(png, x, y), Expected(ref, x, y));
    }

    TPNGImage wide;
    wide.SetPixelFormat(pf32bit);
    wide.SetSize(4, 3);
    wide.ScanLine(1)[4] = 200; // pixel (1,1) blue
    Bytes out = Save(wide);
    EXPECT_EQ(wide.PixelFormat(), pf24bit);
    TPNGImage back;
    Load(back, out);
    EXPECT_EQ(PixelAt(back, 1, 1), 200u);
}

TEST(PNGImage, ChunkOrderAndWhatIsWrittenBack)
{
    // An ancillary chunk with an upper-case fourth letter survives; "tEXt" does not.
    TPNGImage png;
    Load(png, RGBFile(2, 2, {{"tEXt", Bytes{'a', 0, 'b'}}, {"zzzZ", Bytes{1, 2, 3}}, {"tIME", Bytes(7, 1)}}));
    Bytes out = Save(png);
    std::vector<std::string> types;
    for (size_t at = 8; at + 8 <= out.size();) {
        uint32_t len = GetU32BE(out.data() + at);
        types.emplace_back(out.begin() + at + 4, out.begin() + at + 8);
        at += 12 + len;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "zzzZ", "tIME", "IDAT", "IEND"}));

    // A transparent paletted bitmap gets no tRNS (only RGB pictures carry one) and a
    // PLTE before its IDAT; a transparent RGB one gets its colour.
    TPNGImage p8;
    p8.SetPixelFormat(pf8bit);
    p8.SetSize(2, 2);
    p8.SetTransparent(true);
    Bytes o8 = Save(p8);
    TPNGImage b8;
    Load(b8, o8);
    EXPECT_EQ(b8.Chunks().Find("tRNS"), nullptr);
    EXPECT_LT(b8.Chunks().IndexOf(b8.Chunks().Find("PLTE")), b8.Chunks().IndexOf(b8.Chunks().Find("IDAT")));

    TPNGImage rgb;
    rgb.SetPixelFormat(pf24bit);
    rgb.SetSize(2, 2);
    rgb.SetTransparentColor(RGB(1, 2, 3));
    rgb.SetTransparentMode(tmFixed);
    rgb.SetTransparent(true);
    TPNGImage back;
    Load(back, Save(rgb));
    EXPECT_TRUE(back.Transparent());
    EXPECT_EQ(back.TransparentColor(), RGB(1, 2, 3));
    EXPECT_EQ(LibpngRead(Save(rgb)).W, 2); // libpng accepts the chunk order

    // Assign copies the chunks and the settings.
    TPNGImage copy;
    png.SetFilter(pfPaeth);
    copy.Assign(&png);
    EXPECT_EQ(copy.Filter(), pfPaeth | pfNone);
    EXPECT_NE(copy.Chunks().Find("zzzZ"), nullptr);
    EXPECT_EQ(copy.Width(), 2);

    EXPECT_THROW(png.Chunks().Item(99), EPNGImageException);
    EXPECT_THROW(TChunkClasses::Item(99), EPNGImageException);
    TChunk stray(nullptr, "abcD");
    EXPECT_THROW(png.Chunks().Remove(&stray), EPNGImageException);
    EXPECT_THROW(dynamic_cast<TChunkTRNS*>(b8.Chunks().Add("tRNS"))->TransparentColor(), EPNGImageException);
}

TEST(PNGImage, RegisteredForPng)
{
    const TGraphicClass* cls = TPicture::FindGraphicClass(".PNG");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->Name, "TPNGImage");
}
