#include "tools/assetgen/AssetWriters.h"

#include "formats/KvGIF.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"
#include "platform/Jpeg.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kv::assetgen {

namespace {

std::string Prepare(const std::string& Root, const std::string& Path)
{
    std::filesystem::path full = std::filesystem::path(Root) / Path;
    std::filesystem::create_directories(full.parent_path());
    return full.string();
}

TAssetEntry Describe(const std::string& Full, const std::string& Path, uint64_t PixelsHash)
{
    std::ifstream in(Full, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TAssetEntry e;
    e.Path = Path;
    e.Size = bytes.size();
    e.BytesHash = Fnv1a64(bytes.data(), bytes.size());
    e.PixelsHash = PixelsHash;
    return e;
}

void PutU16(std::vector<uint8_t>& Out, uint32_t V)
{
    Out.push_back(uint8_t(V));
    Out.push_back(uint8_t(V >> 8));
}

void PutU32(std::vector<uint8_t>& Out, uint32_t V)
{
    PutU16(Out, V & 0xFFFF);
    PutU16(Out, V >> 16);
}

// Rgb holds R, G, B per pixel, top row first; the bitmap's rows are B, G, R.
void FillBitmap24(TBitmap& Bmp, int Width, int Height, const std::vector<uint8_t>& Rgb)
{
    Bmp.SetPixelFormat(pf24bit);
    Bmp.SetSize(Width, Height);
    for (int y = 0; y < Height; ++y) {
        uint8_t* row = Bmp.ScanLine(y);
        const uint8_t* in = Rgb.data() + size_t(y) * Width * 3;
        for (int x = 0; x < Width; ++x) {
            row[3 * x] = in[3 * x + 2];
            row[3 * x + 1] = in[3 * x + 1];
            row[3 * x + 2] = in[3 * x];
        }
    }
}

} // namespace

TAssetEntry WriteGif8(const std::string& Root, const std::string& Path, int Width, int Height,
                      const std::vector<uint8_t>& Indices, const TPalette256& Palette)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf8bit);
    bmp.SetSize(Width, Height);
    std::vector<TPaletteEntry> entries(256);
    for (size_t i = 0; i < 256; ++i)
        entries[i] = {Palette[i].R, Palette[i].G, Palette[i].B, 0};
    bmp.SetPaletteEntries(entries);
    for (int y = 0; y < Height; ++y)
        std::copy_n(Indices.begin() + ptrdiff_t(y) * Width, Width, bmp.ScanLine(y));
    TGIFImage gif;
    gif.Assign(&bmp);
    const std::string full = Prepare(Root, Path);
    gif.SaveToFile(full);
    uint64_t h = Fnv1a64(Indices.data(), Indices.size());
    return Describe(full, Path, Fnv1a64(Palette.data(), sizeof(TPalette256), h));
}

TAssetEntry WriteBmp24(const std::string& Root, const std::string& Path, int Width, int Height,
                       const std::vector<uint8_t>& Rgb)
{
    TBitmap bmp;
    FillBitmap24(bmp, Width, Height, Rgb);
    const std::string full = Prepare(Root, Path);
    bmp.SaveToFile(full);
    return Describe(full, Path, Fnv1a64(Rgb.data(), Rgb.size()));
}

TAssetEntry WriteJpeg(const std::string& Root, const std::string& Path, int Width, int Height,
                      const std::vector<uint8_t>& Rgb, int Quality)
{
    TBitmap bmp;
    FillBitmap24(bmp, Width, Height, Rgb);
    TJPEGImage jpeg;
    jpeg.Assign(&bmp);
    jpeg.SetCompressionQuality(Quality);
    jpeg.Compress();
    const std::string full = Prepare(Root, Path);
    jpeg.SaveToFile(full);
    return Describe(full, Path, Fnv1a64(Rgb.data(), Rgb.size()));
}

TAssetEntry WriteIco(const std::string& Root, const std::string& Path, const std::vector<TIconImage>& Images)
{
    // ICONDIR (6 bytes), one 16-byte ICONDIRENTRY per image, then per image a 40-byte
    // BITMAPINFOHEADER with the height doubled, B,G,R,A rows bottom-up and the 1-bit AND
    // mask (1 where the pixel is fully transparent), its rows padded to 4 bytes.
    constexpr uint32_t DirSize = 6, EntrySize = 16, InfoSize = 40;
    std::vector<uint8_t> out;
    PutU16(out, 0);
    PutU16(out, 1);
    PutU16(out, uint32_t(Images.size()));
    uint32_t offset = DirSize + EntrySize * uint32_t(Images.size());
    std::vector<uint32_t> sizes;
    for (const TIconImage& im : Images) {
        const uint32_t s = uint32_t(im.Size);
        const uint32_t maskRow = ((s + 31) / 32) * 4;
        const uint32_t bytes = InfoSize + s * s * 4 + maskRow * s;
        out.push_back(uint8_t(s < 256 ? s : 0));
        out.push_back(uint8_t(s < 256 ? s : 0));
        out.push_back(0); // colour count
        out.push_back(0); // reserved
        PutU16(out, 1);   // planes
        PutU16(out, 32);  // bits per pixel
        PutU32(out, bytes);
        PutU32(out, offset);
        offset += bytes;
        sizes.push_back(bytes);
    }
    uint64_t pixelsHash = 0xCBF29CE484222325ull;
    for (const TIconImage& im : Images) {
        const uint32_t s = uint32_t(im.Size);
        const uint32_t maskRow = ((s + 31) / 32) * 4;
        PutU32(out, InfoSize);
        PutU32(out, s);
        PutU32(out, 2 * s);
        PutU16(out, 1);
        PutU16(out, 32);
        PutU32(out, 0); // BI_RGB
        PutU32(out, s * s * 4 + maskRow * s);
        for (int i = 0; i < 4; ++i)
            PutU32(out, 0); // resolution and colour counts
        for (uint32_t y = s; y-- > 0;)
            out.insert(out.end(), im.Bgra.begin() + ptrdiff_t(y * s * 4), im.Bgra.begin() + ptrdiff_t((y + 1) * s * 4));
        for (uint32_t y = s; y-- > 0;) {
            std::vector<uint8_t> row(maskRow, 0);
            for (uint32_t x = 0; x < s; ++x)
                if (im.Bgra[(y * s + x) * 4 + 3] == 0)
                    row[x >> 3] |= uint8_t(0x80 >> (x & 7));
            out.insert(out.end(), row.begin(), row.end());
        }
        pixelsHash = Fnv1a64(im.Bgra.data(), im.Bgra.size(), pixelsHash);
    }
    const std::string full = Prepare(Root, Path);
    TSafeFileStream f(full);
    f.WriteBuffer(out.data(), int64_t(out.size()));
    f.Commit();
    return Describe(full, Path, pixelsHash);
}

} // namespace kv::assetgen
