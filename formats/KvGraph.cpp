#include "formats/KvGraph.h"

#include "formats/CtrlUtils.h"
#include "formats/MaxMin.h"

#include <cstring>

namespace kv {

const std::array<uint8_t, 4> Levels4{0, 85, 170, 255};
const std::array<uint8_t, 6> Levels6{0, 51, 102, 153, 204, 255};
const std::array<uint8_t, 7> Levels7{0, 43, 85, 128, 170, 213, 255};
const std::array<uint8_t, 8> Levels8{0, 36, 73, 109, 146, 182, 219, 255};

namespace {

template <size_t N> std::array<uint8_t, 256> MakeNearest(const std::array<uint8_t, N>& levels)
{
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        int best = 0;
        for (int i = 1; i < int(N); ++i)
            if (std::abs(v - levels[size_t(i)]) < std::abs(v - levels[size_t(best)]))
                best = i;
        table[size_t(v)] = uint8_t(best);
    }
    return table;
}

TRGBQuad Quad(uint8_t r, uint8_t g, uint8_t b) { return TRGBQuad{b, g, r, 0}; }
const TRGBQuad Grey128 = Quad(128, 128, 128);

} // namespace

const std::array<uint8_t, 256>& NearestLevel4()
{
    static const auto t = MakeNearest(Levels4);
    return t;
}
const std::array<uint8_t, 256>& NearestLevel6()
{
    static const auto t = MakeNearest(Levels6);
    return t;
}
const std::array<uint8_t, 256>& NearestLevel7()
{
    static const auto t = MakeNearest(Levels7);
    return t;
}
const std::array<uint8_t, 256>& NearestLevel8()
{
    static const auto t = MakeNearest(Levels8);
    return t;
}

// ---- Headers ---------------------------------------------------------------------------

void WriteBitmapInfoHeader(uint8_t* P, const TBitmapInfoHeader& H)
{
    PutU32LE(P + 0, H.biSize);
    PutU32LE(P + 4, uint32_t(H.biWidth));
    PutU32LE(P + 8, uint32_t(H.biHeight));
    PutU16LE(P + 12, H.biPlanes);
    PutU16LE(P + 14, H.biBitCount);
    PutU32LE(P + 16, H.biCompression);
    PutU32LE(P + 20, H.biSizeImage);
    PutU32LE(P + 24, uint32_t(H.biXPelsPerMeter));
    PutU32LE(P + 28, uint32_t(H.biYPelsPerMeter));
    PutU32LE(P + 32, H.biClrUsed);
    PutU32LE(P + 36, H.biClrImportant);
}

TBitmapInfoHeader ReadBitmapInfoHeader(const uint8_t* P)
{
    TBitmapInfoHeader H;
    H.biSize = GetU32LE(P + 0);
    H.biWidth = int32_t(GetU32LE(P + 4));
    H.biHeight = int32_t(GetU32LE(P + 8));
    H.biPlanes = GetU16LE(P + 12);
    H.biBitCount = GetU16LE(P + 14);
    H.biCompression = GetU32LE(P + 16);
    H.biSizeImage = GetU32LE(P + 20);
    H.biXPelsPerMeter = int32_t(GetU32LE(P + 24));
    H.biYPelsPerMeter = int32_t(GetU32LE(P + 28));
    H.biClrUsed = GetU32LE(P + 32);
    H.biClrImportant = GetU32LE(P + 36);
    return H;
}

void WriteBitmapFileHeader(uint8_t* P, uint32_t FileSize, uint32_t PixelOffset)
{
    P[0] = 'B';
    P[1] = 'M';
    PutU32LE(P + 2, FileSize);
    PutU32LE(P + 6, 0);
    PutU32LE(P + 10, PixelOffset);
}

// ---- Method 0: histogram with coarsening ------------------------------------------------

namespace {

class THistogram {
public:
    static constexpr int32_t MaxCells = 2049;
    static constexpr int32_t HashSize = 5191;

    struct TCell {
        uint8_t Blue, Green, Red;
        uint32_t Count;
        uint8_t Index;
    };

    uint8_t MaskRed = 255, MaskGreen = 255, MaskBlue = 255;
    std::vector<TCell> Cells;

    THistogram() : FSlots(HashSize, 0xFFFF) { Cells.reserve(MaxCells); }

    // Counts every masked colour; false when more than MaxCells would be needed.
    bool Fill(const uint8_t* Src, int64_t Stride, int32_t Width, int32_t Height)
    {
        std::fill(FSlots.begin(), FSlots.end(), uint16_t(0xFFFF));
        Cells.clear();
        for (int32_t y = 0; y < Height; ++y) {
            const uint8_t* p = Src + y * Stride;
            for (int32_t x = 0; x < Width; ++x, p += 3) {
                const uint8_t b = p[0] & MaskBlue, g = p[1] & MaskGreen, r = p[2] & MaskRed;
                int32_t slot = Slot(r, g, b);
                for (;;) {
                    const uint16_t n = FSlots[size_t(slot)];
                    if (n == 0xFFFF) {
                        if (int32_t(Cells.size()) >= MaxCells)
                            return false;
                        FSlots[size_t(slot)] = uint16_t(Cells.size());
                        Cells.push_back(TCell{b, g, r, 1, 0});
                        break;
                    }
                    TCell& c = Cells[n];
                    if (c.Red == r && c.Green == g && c.Blue == b) {
                        ++c.Count;
                        break;
                    }
                    if (++slot == HashSize)
                        slot = 0;
                }
            }
        }
        return true;
    }

    // Drops the lowest set bit of one mask: green when red is below green, else blue
    // when red is not above blue, else red (blue, red, green, blue ... from 255s).
    void Coarsen()
    {
        if (MaskRed < MaskGreen)
            MaskGreen = uint8_t(MaskGreen << 1);
        else if (MaskRed <= MaskBlue)
            MaskBlue = uint8_t(MaskBlue << 1);
        else
            MaskRed = uint8_t(MaskRed << 1);
    }

    uint8_t IndexOf(uint8_t r, uint8_t g, uint8_t b) const
    {
        r &= MaskRed;
        g &= MaskGreen;
        b &= MaskBlue;
        int32_t slot = Slot(r, g, b);
        for (;;) {
            const uint16_t n = FSlots[size_t(slot)];
            if (n == 0xFFFF)
                return 0; // cannot happen for a pixel that was counted
            const TCell& c = Cells[n];
            if (c.Red == r && c.Green == g && c.Blue == b)
                return c.Index;
            if (++slot == HashSize)
                slot = 0;
        }
    }

private:
    static int32_t Slot(int32_t r, int32_t g, int32_t b) { return ((r + g) * (g + b) * (b + r)) % HashSize; }
    std::vector<uint16_t> FSlots;
};

int32_t ReduceHistogram(const uint8_t* Src, int64_t SrcStride, uint8_t* Dst, int64_t DstStride, int32_t Width,
                        int32_t Height, int32_t Wanted, TRGBQuadTable& Table)
{
    Wanted = Min(Max(Wanted, 1), 256);
    THistogram h;
    while (!h.Fill(Src, SrcStride, Width, Height))
        h.Coarsen();

    auto& cells = h.Cells;
    const int32_t taken = Min(Wanted, int32_t(cells.size()));
    for (int32_t i = 0; i < taken; ++i) {
        int32_t best = -1;
        for (int32_t c = 0; c < int32_t(cells.size()); ++c)
            if (cells[size_t(c)].Count > 0 && (best < 0 || cells[size_t(c)].Count > cells[size_t(best)].Count))
                best = c;
        if (best < 0)
            break;
        auto& cell = cells[size_t(best)];
        cell.Index = uint8_t(i);
        cell.Count = 0;
        Table[size_t(i)] = Quad(cell.Red, cell.Green, cell.Blue);
    }
    for (int32_t i = taken; i < 256; ++i)
        Table[size_t(i)] = Grey128;
    for (auto& cell : cells) {
        if (cell.Count == 0)
            continue;
        int32_t best = 0, bestDistance = INT32_MAX;
        for (int32_t i = 0; i < Wanted; ++i) {
            const int32_t dr = cell.Red - Table[size_t(i)].rgbRed, dg = cell.Green - Table[size_t(i)].rgbGreen,
                          db = cell.Blue - Table[size_t(i)].rgbBlue;
            const int32_t d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        cell.Index = uint8_t(best);
    }
    for (int32_t y = 0; y < Height; ++y) {
        const uint8_t* s = Src + y * SrcStride;
        uint8_t* d = Dst + y * DstStride;
        for (int32_t x = 0; x < Width; ++x, s += 3)
            d[x] = h.IndexOf(s[2], s[1], s[0]);
    }
    return 0;
}

// ---- Method 1: median cut ----------------------------------------------------------------

struct TCutCell {
    uint8_t Comp[3]; // red, green, blue, 4 bits each
    uint32_t Count = 0;
    int32_t Next = -1;
    uint8_t Index = 0;
};

struct TCutBox {
    uint8_t Low[3] = {0, 0, 0};
    uint8_t Extent[3] = {255, 255, 255};
    int32_t NumCells = 0;
    int64_t NumPixels = 0;
    int32_t First = -1;
};

inline int32_t CellOf(const uint8_t* bgr) { return ((bgr[2] >> 4) << 8) + ((bgr[1] >> 4) << 4) + (bgr[0] >> 4); }

void SortCells(std::vector<int32_t>& a, int32_t L, int32_t R, const std::vector<TCutCell>& cells, int ch)
{
    auto key = [&](int32_t i) { return cells[size_t(a[size_t(i)])].Comp[ch]; };
    while (R - L + 1 >= 8) {
        int32_t i = L, j = R;
        const uint8_t pivot = key((L + R) >> 1);
        do {
            while (key(i) < pivot)
                ++i;
            while (key(j) > pivot)
                --j;
            if (i <= j) {
                std::swap(a[size_t(i)], a[size_t(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (L < j)
            SortCells(a, L, j, cells, ch);
        L = i;
    }
    for (int32_t i = L + 1; i <= R; ++i) {
        const int32_t v = a[size_t(i)];
        const uint8_t k = cells[size_t(v)].Comp[ch];
        int32_t j = i - 1;
        while (j >= L && cells[size_t(a[size_t(j)])].Comp[ch] > k) {
            a[size_t(j + 1)] = a[size_t(j)];
            --j;
        }
        a[size_t(j + 1)] = v;
    }
}

int32_t ReduceMedianCut(const uint8_t* Src, int64_t SrcStride, uint8_t* Dst, int64_t DstStride, int32_t Width,
                        int32_t Height, TRGBQuadTable& Table)
{
    std::vector<TCutCell> cells(4096);
    for (int32_t c = 0; c < 4096; ++c) {
        cells[size_t(c)].Comp[0] = uint8_t(c >> 8);
        cells[size_t(c)].Comp[1] = uint8_t((c >> 4) & 15);
        cells[size_t(c)].Comp[2] = uint8_t(c & 15);
    }
    for (int32_t y = 0; y < Height; ++y) {
        const uint8_t* s = Src + y * SrcStride;
        for (int32_t x = 0; x < Width; ++x, s += 3)
            ++cells[size_t(CellOf(s))].Count;
    }
    std::vector<TCutBox> boxes(1);
    boxes[0].NumPixels = int64_t(Width) * Height;
    int32_t last = -1;
    for (int32_t c = 0; c < 4096; ++c) {
        if (cells[size_t(c)].Count == 0)
            continue;
        if (last < 0)
            boxes[0].First = c;
        else
            cells[size_t(last)].Next = c;
        last = c;
        ++boxes[0].NumCells;
    }

    std::vector<int32_t> order;
    while (boxes.size() < 256) {
        int32_t pick = -1, channel = 0, widest = -1;
        for (int32_t b = 0; b < int32_t(boxes.size()); ++b) {
            if (boxes[size_t(b)].NumCells < 2)
                continue;
            for (int ch = 0; ch < 3; ++ch)
                if (boxes[size_t(b)].Extent[ch] > widest) {
                    widest = boxes[size_t(b)].Extent[ch];
                    pick = b;
                    channel = ch;
                }
        }
        if (pick < 0)
            break;
        TCutBox& box = boxes[size_t(pick)];
        order.clear();
        for (int32_t c = box.First; c >= 0; c = cells[size_t(c)].Next)
            order.push_back(c);
        SortCells(order, 0, int32_t(order.size()) - 1, cells, channel);
        for (size_t i = 0; i + 1 < order.size(); ++i)
            cells[size_t(order[i])].Next = order[i + 1];
        cells[size_t(order.back())].Next = -1;
        box.First = order[0];

        // The first part always keeps the first cell and always leaves at least one.
        const int64_t half = box.NumPixels / 2;
        int64_t firstPixels = cells[size_t(order[0])].Count;
        size_t k = 1;
        while (k + 1 < order.size() && half - (firstPixels + cells[size_t(order[k])].Count) >= 0)
            firstPixels += cells[size_t(order[k++])].Count;

        TCutBox split = box;
        split.First = order[k];
        split.NumCells = int32_t(order.size() - k);
        split.NumPixels = box.NumPixels - firstPixels;
        const int32_t oldUpper = box.Low[channel] + box.Extent[channel];
        split.Low[channel] = uint8_t(16 * cells[size_t(order[k])].Comp[channel]);
        split.Extent[channel] = uint8_t(oldUpper - split.Low[channel]);
        cells[size_t(order[k - 1])].Next = -1;
        box.Extent[channel] = uint8_t(16 * cells[size_t(order[k - 1])].Comp[channel] - box.Low[channel]);
        box.NumCells = int32_t(k);
        box.NumPixels = firstPixels;
        boxes.push_back(split);
    }

    Table.fill(TRGBQuad{});
    for (size_t b = 0; b < boxes.size(); ++b) {
        if (boxes[b].NumCells == 0)
            continue;
        int32_t sum[3] = {0, 0, 0};
        for (int32_t c = boxes[b].First; c >= 0; c = cells[size_t(c)].Next) {
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += cells[size_t(c)].Comp[ch];
            cells[size_t(c)].Index = uint8_t(b);
        }
        int32_t v[3];
        for (int ch = 0; ch < 3; ++ch)
            v[ch] = (16 * sum[ch] + 15) / boxes[b].NumCells;
        if (v[0] <= 16 && v[1] <= 16 && v[2] <= 16)
            v[0] = v[1] = v[2] = 0;
        Table[b] = Quad(uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]));
    }
    for (int32_t y = 0; y < Height; ++y) {
        const uint8_t* s = Src + y * SrcStride;
        uint8_t* d = Dst + y * DstStride;
        for (int32_t x = 0; x < Width; ++x, s += 3)
            d[x] = cells[size_t(CellOf(s))].Index;
    }
    return int32_t(boxes.size());
}

// ---- Methods 2 to 5 ----------------------------------------------------------------------

template <typename F>
void MapPixels(const uint8_t* Src, int64_t SrcStride, uint8_t* Dst, int64_t DstStride, int32_t Width, int32_t Height,
               F&& f)
{
    for (int32_t y = 0; y < Height; ++y) {
        const uint8_t* s = Src + y * SrcStride;
        uint8_t* d = Dst + y * DstStride;
        for (int32_t x = 0; x < Width; ++x, s += 3)
            d[x] = f(s[2], s[1], s[0], x, y);
    }
}

} // namespace

int32_t ReduceColors(const uint8_t* Src24, int64_t SrcStride, uint8_t* Dst8, int64_t DstStride, int32_t Width,
                     int32_t Height, TReductionMethod Method, int32_t WantedColors, TRGBQuadTable& Table)
{
    switch (Method) {
    case rmHistogram: return ReduceHistogram(Src24, SrcStride, Dst8, DstStride, Width, Height, WantedColors, Table);
    case rmMedianCut: return ReduceMedianCut(Src24, SrcStride, Dst8, DstStride, Width, Height, Table);
    case rmFixed784: {
        Table.fill(Grey128);
        for (int r = 0; r < 7; ++r)
            for (int g = 0; g < 8; ++g)
                for (int b = 0; b < 4; ++b)
                    Table[size_t((r * 8 + g) * 4 + b)] =
                        Quad(Levels7[size_t(r)], Levels8[size_t(g)], Levels4[size_t(b)]);
        const auto &nr = NearestLevel7(), &ng = NearestLevel8(), &nb = NearestLevel4();
        MapPixels(Src24, SrcStride, Dst8, DstStride, Width, Height,
                  [&](uint8_t r, uint8_t g, uint8_t b, int32_t, int32_t) {
                      return uint8_t((nr[r] * 8 + ng[g]) * 4 + nb[b]);
                  });
        return 224;
    }
    case rmFixed666: {
        Table.fill(Grey128);
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    Table[size_t(r * 36 + g * 6 + b)] =
                        Quad(Levels6[size_t(r)], Levels6[size_t(g)], Levels6[size_t(b)]);
        const auto& n = NearestLevel6();
        MapPixels(
            Src24, SrcStride, Dst8, DstStride, Width, Height,
            [&](uint8_t r, uint8_t g, uint8_t b, int32_t, int32_t) { return uint8_t(n[r] * 36 + n[g] * 6 + n[b]); });
        return 216;
    }
    case rmRamps: {
        Table.fill(Grey128);
        for (int k = 0; k < 64; ++k) {
            Table[size_t(k)] = Quad(uint8_t(4 * k), 0, 0);
            Table[size_t(64 + k)] = Quad(0, uint8_t(4 * k), 0);
            Table[size_t(128 + k)] = Quad(0, 0, uint8_t(4 * k));
        }
        // y counts the rows as they lie in memory (the bottom row first).
        MapPixels(Src24, SrcStride, Dst8, DstStride, Width, Height,
                  [](uint8_t r, uint8_t g, uint8_t b, int32_t x, int32_t y) {
                      switch ((x + y) % 3) {
                      case 0: return uint8_t(r >> 2);
                      case 1: return uint8_t(64 + (g >> 2));
                      default: return uint8_t(128 + (b >> 2));
                      }
                  });
        return 0;
    }
    case rmGray:
    default: {
        for (int i = 0; i < 256; ++i)
            Table[size_t(i)] = Quad(uint8_t(i), uint8_t(i), uint8_t(i));
        MapPixels(Src24, SrcStride, Dst8, DstStride, Width, Height,
                  [](uint8_t r, uint8_t g, uint8_t b, int32_t, int32_t) {
                      return uint8_t((r * 77 + g * 150 + b * 29) >> 8);
                  });
        return 0;
    }
    }
}

} // namespace kv

// ---- Bitmap file images ------------------------------------------------------------------

namespace kv {

namespace {

int64_t DIBRowSize(int32_t Width, int32_t Bits) { return ((int64_t(Width) * Bits + 31) / 32) * 4; }

void CheckHandle(const TBitmap& Bitmap)
{
    if (Bitmap.Empty())
        throw EInvalidGraphic("Bitmap image is not valid");
}

// A copy of the bitmap at the given depth; paletted depths take Palette's entries when
// one is given and are converted by nearest colour.
std::unique_ptr<TBitmap> CopyAtDepth(const TBitmap& Bitmap, HPALETTE Palette, TPixelFormat PixelFormat)
{
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(const_cast<TBitmap*>(&Bitmap));
    if (Palette && PixelFormatBits(PixelFormat) <= 8 && copy->PixelFormat() != PixelFormat) {
        copy->SetPixelFormat(pf24bit);
        auto target = std::make_unique<TBitmap>();
        target->SetPixelFormat(PixelFormat);
        target->SetPalette(Palette);
        target->SetSize(copy->Width(), copy->Height());
        for (int32_t y = 0; y < copy->Height(); ++y)
            for (int32_t x = 0; x < copy->Width(); ++x)
                target->SetPixelColor(x, y, copy->PixelColor(x, y));
        return target;
    }
    copy->SetPixelFormat(PixelFormat);
    return copy;
}

} // namespace

TBitmapInfoHeader MakeDIBHeader(const TBitmap& Bitmap, TPixelFormat PixelFormat)
{
    TBitmapInfoHeader h;
    h.biWidth = Bitmap.Width();
    h.biHeight = Bitmap.Height();
    h.biPlanes = 1;
    h.biBitCount = uint16_t(PixelFormatBits(PixelFormat));
    if (PixelFormat != pf1bit && PixelFormat != pf4bit && PixelFormat != pf8bit && PixelFormat != pf24bit)
        h.biBitCount = uint16_t(Bitmap.BitsPerPixel());
    h.biCompression = BI_RGB;
    h.biSizeImage = uint32_t(DIBRowSize(h.biWidth, h.biBitCount) * std::abs(h.biHeight));
    return h;
}

void DIBHeaderSizes(const TBitmap& Bitmap, TPixelFormat PixelFormat, int32_t& InfoHeaderSize, int64_t& ImageSize)
{
    const TBitmapInfoHeader h = MakeDIBHeader(Bitmap, PixelFormat);
    if (h.biBitCount <= 8)
        InfoHeaderSize = BitmapInfoHeaderSize + 4 * (1 << h.biBitCount);
    else
        InfoHeaderSize = BitmapInfoHeaderSize + (h.biCompression == BI_BITFIELDS ? 12 : 0);
    ImageSize = DIBRowSize(h.biWidth, h.biBitCount) * std::abs(int64_t(h.biHeight));
}

namespace {

// File header, info header, the full colour table and the rows of a bitmap that is
// already at 1, 4, 8 or 24 bits.
std::vector<uint8_t> FrameAsFileImage(const TBitmap& Bitmap)
{
    const int32_t bits = Bitmap.BitsPerPixel();
    const TPixelFormat format = bits == 1 ? pf1bit : bits == 4 ? pf4bit : bits == 8 ? pf8bit : pf24bit;
    int32_t headerSize = 0;
    int64_t imageSize = 0;
    DIBHeaderSizes(Bitmap, format, headerSize, imageSize);
    const int64_t offset = BitmapFileHeaderSize + headerSize;
    std::vector<uint8_t> image(size_t(offset + imageSize), 0);
    WriteBitmapFileHeader(image.data(), uint32_t(image.size()), uint32_t(offset));
    WriteBitmapInfoHeader(image.data() + BitmapFileHeaderSize, MakeDIBHeader(Bitmap, format));
    if (bits <= 8) {
        const auto& entries = Bitmap.PaletteEntries();
        uint8_t* table = image.data() + BitmapFileHeaderSize + BitmapInfoHeaderSize;
        for (size_t i = 0; i < entries.size() && i < (size_t(1) << bits); ++i) {
            table[4 * i] = entries[i].peBlue;
            table[4 * i + 1] = entries[i].peGreen;
            table[4 * i + 2] = entries[i].peRed;
        }
    }
    const int64_t rowSize = DIBRowSize(Bitmap.Width(), bits);
    const int64_t copy = Min(int32_t(rowSize), Bitmap.BytesPerScanLine());
    for (int32_t y = 0; y < Bitmap.Height(); ++y)
        std::memcpy(image.data() + offset + int64_t(Bitmap.Height() - 1 - y) * rowSize, Bitmap.ScanLine(y),
                    size_t(copy));
    return image;
}

} // namespace

std::vector<uint8_t> FetchDIBFileImage(const TBitmap& Bitmap, HPALETTE Palette, TPixelFormat PixelFormat)
{
    CheckHandle(Bitmap);
    if (Bitmap.PixelFormat() == PixelFormat && !Palette)
        return FrameAsFileImage(Bitmap);
    return FrameAsFileImage(*CopyAtDepth(Bitmap, Palette, PixelFormat));
}

std::unique_ptr<TMemoryStream> PixelFormatConvert(TBitmap& Bitmap, TPixelFormat PixelFormat, TReductionMethod Method)
{
    CheckHandle(Bitmap);
    auto stream = std::make_unique<TMemoryStream>();
    const int32_t targetBits = PixelFormatBits(PixelFormat);
    if (PixelFormat == Bitmap.PixelFormat() && Method != rmGray) {
        if (targetBits == 1 || targetBits == 4 || targetBits == 8 || targetBits == 24) {
            const auto image = FrameAsFileImage(Bitmap);
            stream->WriteBuffer(image.data(), int64_t(image.size()));
        } else {
            Bitmap.SaveToStream(*stream);
        }
        stream->SetPosition(0);
        return stream;
    }
    if (PixelFormat != pf1bit && PixelFormat != pf4bit && PixelFormat != pf8bit && PixelFormat != pf24bit)
        ShowNotAvailable();
    if (PixelFormat == pf1bit || PixelFormat == pf4bit) {
        const auto image = FetchDIBFileImage(Bitmap, Bitmap.Palette(), PixelFormat);
        stream->WriteBuffer(image.data(), int64_t(image.size()));
        stream->SetPosition(0);
        return stream;
    }

    // 8 or 24 bits: the method works from the 24-bit pixels.
    const auto source = FetchDIBFileImage(Bitmap, nullptr, pf24bit);
    const TBitmapInfoHeader sourceHeader = ReadBitmapInfoHeader(source.data() + BitmapFileHeaderSize);
    if (sourceHeader.biBitCount != 24)
        ShowNotAvailable();
    const uint8_t* src = source.data() + BitmapFileHeaderSize + BitmapInfoHeaderSize;
    const int32_t width = Bitmap.Width(), height = Bitmap.Height();
    const int64_t srcStride = DIBRowSize(width, 24);

    TBitmapInfoHeader header = MakeDIBHeader(Bitmap, PixelFormat);
    int32_t headerSize = 0;
    int64_t imageSize = 0;
    DIBHeaderSizes(Bitmap, PixelFormat, headerSize, imageSize);
    const int64_t offset = BitmapFileHeaderSize + headerSize;
    uint8_t* target = static_cast<uint8_t*>(AllocZeroedBlock(offset + imageSize));
    struct TBlockGuard {
        uint8_t*& P;
        ~TBlockGuard() { FreeZeroedBlock(P); }
    } guard{target};

    if (targetBits == 8) {
        TRGBQuadTable table{};
        const int32_t wanted = 256;
        const int32_t used =
            ReduceColors(src, srcStride, target + offset, DIBRowSize(width, 8), width, height, Method, wanted, table);
        if (Method == rmMedianCut || Method == rmFixed784 || Method == rmFixed666)
            header.biClrUsed = uint32_t(used);
        std::memcpy(target + BitmapFileHeaderSize + BitmapInfoHeaderSize, table.data(), sizeof(table));
    } else {
        // A 24-bit target keeps the pixels; grey (method 5) still turns them grey.
        std::memcpy(target + offset, src, size_t(imageSize));
        if (Method == rmGray)
            for (int32_t y = 0; y < height; ++y) {
                uint8_t* p = target + offset + y * srcStride;
                for (int32_t x = 0; x < width; ++x, p += 3)
                    p[0] = p[1] = p[2] = uint8_t((p[2] * 77 + p[1] * 150 + p[0] * 29) >> 8);
            }
    }
    WriteBitmapFileHeader(target, uint32_t(offset + imageSize), uint32_t(offset));
    WriteBitmapInfoHeader(target + BitmapFileHeaderSize, header);
    stream->WriteBuffer(target, offset + imageSize);
    stream->SetPosition(0);
    return stream;
}

std::unique_ptr<TMemoryStream> ReduceToColorCount(TBitmap& Bitmap, int32_t Colors)
{
    const TPixelFormat format = Colors <= 2 ? pf1bit : Colors <= 16 ? pf4bit : Colors <= 256 ? pf8bit : pf24bit;
    return PixelFormatConvert(Bitmap, format, DefaultReductionMethod);
}

} // namespace kv
