// GIFImage: colour reduction. Palettes of the reduction methods, the lookups that map a
// colour to a palette index, the error-diffusion ditherers and the octree quantizer.
#include "formats/GIFImage.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace kv::GIFImage {

// ---------------------------------------------------------------------------------------
// Palettes

TGIFPalette WebPalette()
{
    TGIFPalette pal;
    pal.reserve(216);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                pal.push_back(TGIFPaletteEntry{uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51), 0});
    return pal;
}

TGIFPalette GrayPalette(int32_t N)
{
    TGIFPalette pal;
    if (N == 4) {
        for (uint8_t v : {0, 128, 192, 255})
            pal.push_back(TGIFPaletteEntry{v, v, v, 4});
        return pal;
    }
    for (int i = 0; i < 256; ++i)
        pal.push_back(TGIFPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 4});
    return pal;
}

TGIFPalette MonochromePalette() { return {TGIFPaletteEntry{0, 0, 0, 4}, TGIFPaletteEntry{255, 255, 255, 4}}; }

// ---------------------------------------------------------------------------------------
// Lookups

TFastColorLookup::TFastColorLookup(const TGIFPalette& Palette) : FPalette(Palette), FCache(32768, 0xFFFF)
{
    if (FPalette.size() > 256)
        FPalette.resize(256);
    for (size_t i = 0; i < FPalette.size(); ++i) {
        uint16_t key = Key(FPalette[i].Red, FPalette[i].Green, FPalette[i].Blue);
        if (FCache[key] == 0xFFFF)
            FCache[key] = uint16_t(i);
    }
}

int32_t TFastColorLookup::Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen)
{
    // An empty palette has nothing to offer but a defined answer.
    if (FPalette.empty()) {
        Chosen = TGIFColor{};
        return 0;
    }
    uint16_t key = Key(Red, Green, Blue);
    int32_t index = FCache[key];
    if (index == 0xFFFF) {
        int32_t best = INT32_MAX;
        for (size_t i = 0; i < FPalette.size(); ++i) {
            const TGIFPaletteEntry& e = FPalette[i];
            int32_t d =
                std::abs(int32_t(e.Red) - Red) + std::abs(int32_t(e.Green) - Green) + std::abs(int32_t(e.Blue) - Blue);
            if (d < best) {
                best = d;
                index = int32_t(i);
            }
        }
        FCache[key] = uint16_t(index);
    }
    const TGIFPaletteEntry& e = FPalette[size_t(index)];
    Chosen = TGIFColor{e.Red, e.Green, e.Blue};
    return index;
}

int32_t TNetscapeColorLookup::Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen)
{
    int32_t r = (Red + 3) / 51, g = (Green + 3) / 51, b = (Blue + 3) / 51;
    Chosen = TGIFColor{uint8_t(51 * r), uint8_t(51 * g), uint8_t(51 * b)};
    return 36 * r + 6 * g + b;
}

int32_t TGrayScaleLookup::Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen)
{
    int32_t grey = (77 * Red + 150 * Green + 29 * Blue) >> 8;
    Chosen = TGIFColor{uint8_t(grey), uint8_t(grey), uint8_t(grey)};
    return grey;
}

int32_t TMonochromeLookup::Lookup(uint8_t Red, uint8_t Green, uint8_t Blue, TGIFColor& Chosen)
{
    if (77 * Red + 150 * Green + 29 * Blue < 32513) {
        Chosen = TGIFColor{0, 0, 0};
        return 0;
    }
    Chosen = TGIFColor{255, 255, 255};
    return 1;
}

// ---------------------------------------------------------------------------------------
// Ditherers

int32_t TDitherEngine::Dither(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    TGIFColor chosen;
    int32_t index = FLookup.Lookup(Red, Green, Blue, chosen);
    R = chosen.Red;
    G = chosen.Green;
    B = chosen.Blue;
    FColumn += FDirection;
    return index;
}

void TDitherEngine::NextLine()
{
    // Rows are scanned back and forth.
    FDirection = -FDirection;
    FColumn = FDirection > 0 ? 0 : FWidth - 1;
}

namespace {
constexpr int32_t ErrorMargin = 3;
}

TErrorDiffusionDitherer::TErrorDiffusionDitherer(int32_t AWidth, TColorLookup& ALookup, int32_t ADivisor,
                                                 std::vector<TWeight> AWeights, int32_t ARows)
    : TDitherEngine(AWidth, ALookup), FDivisor(ADivisor), FWeights(std::move(AWeights)), FRows(ARows),
      FErrors(size_t(ARows) * 3, std::vector<int32_t>(size_t(AWidth) + 2 * ErrorMargin, 0))
{
}

int32_t* TErrorDiffusionDitherer::ErrorAt(int32_t Row, int32_t Channel, int32_t Column)
{
    return &FErrors[size_t(Row) * 3 + size_t(Channel)][size_t(Column + ErrorMargin)];
}

int32_t TErrorDiffusionDitherer::Dither(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    const uint8_t source[3] = {Red, Green, Blue};
    int32_t used[3];
    for (int c = 0; c < 3; ++c)
        used[c] = std::clamp(source[c] + Scale(*ErrorAt(0, c, FColumn)), 0, 255);
    TGIFColor chosen;
    int32_t index = FLookup.Lookup(uint8_t(used[0]), uint8_t(used[1]), uint8_t(used[2]), chosen);
    const int32_t picked[3] = {chosen.Red, chosen.Green, chosen.Blue};
    for (int c = 0; c < 3; ++c) {
        int32_t error = used[c] - picked[c];
        if (error == 0)
            continue;
        for (const TWeight& w : FWeights) {
            int32_t col = FColumn + w.Offset * FDirection;
            if (col >= -ErrorMargin && col < FWidth + ErrorMargin)
                *ErrorAt(w.Row, c, col) += error * w.Weight;
        }
    }
    R = chosen.Red;
    G = chosen.Green;
    B = chosen.Blue;
    FColumn += FDirection;
    return index;
}

void TErrorDiffusionDitherer::NextLine()
{
    // The oldest row, cleared, becomes the last; the rows are rotated, not copied.
    for (int c = 0; c < 3; ++c) {
        std::vector<int32_t> oldest = std::move(FErrors[size_t(c)]);
        for (int32_t r = 0; r + 1 < FRows; ++r)
            FErrors[size_t(r) * 3 + size_t(c)] = std::move(FErrors[size_t(r + 1) * 3 + size_t(c)]);
        std::fill(oldest.begin(), oldest.end(), 0);
        FErrors[size_t(FRows - 1) * 3 + size_t(c)] = std::move(oldest);
    }
    TDitherEngine::NextLine();
}

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int32_t AWidth, TColorLookup& ALookup)
    : TErrorDiffusionDitherer(AWidth, ALookup, 16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}, 2)
{
}

TStuckiDitherer::TStuckiDitherer(int32_t AWidth, TColorLookup& ALookup)
    : T5by3Ditherer(AWidth, ALookup, 42,
                    {{0, 1, 8},
                     {0, 2, 4},
                     {1, -2, 2},
                     {1, -1, 4},
                     {1, 0, 8},
                     {1, 1, 4},
                     {1, 2, 2},
                     {2, -2, 1},
                     {2, -1, 2},
                     {2, 0, 4},
                     {2, 1, 2},
                     {2, 2, 1}},
                    3)
{
}

TSierraDitherer::TSierraDitherer(int32_t AWidth, TColorLookup& ALookup)
    : T5by3Ditherer(AWidth, ALookup, 32,
                    {{0, 1, 5},
                     {0, 2, 3},
                     {1, -2, 2},
                     {1, -1, 4},
                     {1, 0, 5},
                     {1, 1, 4},
                     {1, 2, 2},
                     {2, -1, 2},
                     {2, 0, 3},
                     {2, 1, 2}},
                    3)
{
}

TJaJuNiDitherer::TJaJuNiDitherer(int32_t AWidth, TColorLookup& ALookup)
    : T5by3Ditherer(AWidth, ALookup, 48,
                    {{0, 1, 7},
                     {0, 2, 5},
                     {1, -2, 3},
                     {1, -1, 5},
                     {1, 0, 7},
                     {1, 1, 5},
                     {1, 2, 3},
                     {2, -2, 1},
                     {2, -1, 3},
                     {2, 0, 5},
                     {2, 1, 3},
                     {2, 2, 1}},
                    3)
{
}

TSteveArcheDitherer::TSteveArcheDitherer(int32_t AWidth, TColorLookup& ALookup)
    : TErrorDiffusionDitherer(AWidth, ALookup, 200,
                              {{0, 2, 32},
                               {1, -3, 12},
                               {1, -1, 26},
                               {1, 1, 30},
                               {1, 3, 16},
                               {2, -2, 12},
                               {2, 0, 26},
                               {2, 2, 12},
                               {3, -3, 5},
                               {3, -1, 12},
                               {3, 1, 12},
                               {3, 3, 5}},
                              4)
{
}

TBurkesDitherer::TBurkesDitherer(int32_t AWidth, TColorLookup& ALookup)
    : TErrorDiffusionDitherer(AWidth, ALookup, 32,
                              {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}, 2)
{
}

std::unique_ptr<TDitherEngine> CreateDitherer(uint8_t DitherMethod, int32_t Width, TColorLookup& Lookup)
{
    switch (DitherMethod) {
    case dkNearest: return std::make_unique<TDitherEngine>(Width, Lookup);
    case dkFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(Width, Lookup);
    case dkStucki: return std::make_unique<TStuckiDitherer>(Width, Lookup);
    case dkSierra: return std::make_unique<TSierraDitherer>(Width, Lookup);
    case dkJaJuNi: return std::make_unique<TJaJuNiDitherer>(Width, Lookup);
    case dkSteveArche: return std::make_unique<TSteveArcheDitherer>(Width, Lookup);
    case dkBurkes: return std::make_unique<TBurkesDitherer>(Width, Lookup);
    default: return nullptr;
    }
}

// ---------------------------------------------------------------------------------------
// Octree quantizer

struct TColorQuantizer::TOctreeNode {
    bool IsLeaf = false;
    uint32_t PixelCount = 0;
    uint32_t RedSum = 0, GreenSum = 0, BlueSum = 0;
    TOctreeNode* Next = nullptr;
    TOctreeNode* Child[8] = {};
};

TColorQuantizer::TColorQuantizer(int32_t AMaxColors, int32_t AColorBits)
    : FMaxColors(std::max(1, AMaxColors)), FColorBits(std::clamp(AColorBits, 1, 8))
{
}

TColorQuantizer::~TColorQuantizer() { Free(FTree); }

void TColorQuantizer::Free(TOctreeNode* Node)
{
    if (!Node)
        return;
    for (TOctreeNode*& child : Node->Child) {
        Free(child);
        child = nullptr;
    }
    delete Node;
}

void TColorQuantizer::AddColor(uint8_t Red, uint8_t Green, uint8_t Blue)
{
    TOctreeNode** slot = &FTree;
    for (int32_t level = 0;; ++level) {
        if (!*slot) {
            *slot = new TOctreeNode;
            if (level == FColorBits) {
                (*slot)->IsLeaf = true;
                ++FLeafCount;
            } else {
                (*slot)->Next = FReducibleNodes[size_t(level)];
                FReducibleNodes[size_t(level)] = *slot;
            }
        }
        TOctreeNode* node = *slot;
        if (node->IsLeaf) {
            ++node->PixelCount;
            node->RedSum += Red;
            node->GreenSum += Green;
            node->BlueSum += Blue;
            break;
        }
        int shift = 7 - level;
        int index = (((Red >> shift) & 1) << 2) | (((Green >> shift) & 1) << 1) | ((Blue >> shift) & 1);
        slot = &node->Child[index];
    }
    while (FLeafCount > FMaxColors) {
        int32_t before = FLeafCount;
        Reduce();
        if (FLeafCount == before)
            break; // nothing left to fold
    }
}

void TColorQuantizer::Reduce()
{
    // The deepest level with a reducible node; the root too, so that fewer than eight
    // colours can be asked for.
    int32_t level = FColorBits - 1;
    while (level >= 0 && !FReducibleNodes[size_t(level)])
        --level;
    if (level < 0)
        return;
    TOctreeNode* node = FReducibleNodes[size_t(level)];
    FReducibleNodes[size_t(level)] = node->Next;
    int32_t children = 0;
    for (TOctreeNode*& child : node->Child) {
        if (!child)
            continue;
        node->RedSum += child->RedSum;
        node->GreenSum += child->GreenSum;
        node->BlueSum += child->BlueSum;
        node->PixelCount += child->PixelCount;
        ++children;
        Free(child);
        child = nullptr;
    }
    node->IsLeaf = true;
    FLeafCount -= children - 1;
}

void TColorQuantizer::Walk(const TOctreeNode* Node, TGIFPalette& Out) const
{
    if (!Node)
        return;
    if (Node->IsLeaf) {
        if (Node->PixelCount == 0)
            Out.push_back(TGIFPaletteEntry{});
        else
            Out.push_back(TGIFPaletteEntry{uint8_t(Node->RedSum / Node->PixelCount),
                                           uint8_t(Node->GreenSum / Node->PixelCount),
                                           uint8_t(Node->BlueSum / Node->PixelCount), 0});
        return;
    }
    for (const TOctreeNode* child : Node->Child)
        Walk(child, Out);
}

TGIFPalette TColorQuantizer::GetColorTable() const
{
    TGIFPalette out;
    Walk(FTree, out);
    return out;
}

TGIFPalette CreateOptimizedPalette(const TRGBSource& Source, int32_t Colors, int32_t ColorBits, bool Windows)
{
    TGIFPalette system;
    if (Windows) {
        Colors = 236;
        system = SystemPalette20();
    }
    TColorQuantizer quantizer(Colors, ColorBits);
    for (int32_t y = 0; y < Source.Height; ++y) {
        const uint8_t* row = Source.ScanLine(y);
        for (int32_t x = 0; x < Source.Width; ++x)
            quantizer.AddColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    }
    TGIFPalette leaves = quantizer.GetColorTable();
    // Entries beyond the leaves found stay black.
    TGIFPalette pal(size_t(Windows ? 256 : Colors));
    size_t first = Windows ? 10 : 0;
    for (size_t i = 0; i < leaves.size() && i < size_t(Colors); ++i)
        pal[first + i] = leaves[i];
    if (Windows && system.size() == 20) {
        for (size_t i = 0; i < 10; ++i) {
            pal[i] = system[i];
            pal[246 + i] = system[10 + i];
        }
    }
    return pal;
}

// ---------------------------------------------------------------------------------------
// ReduceColors

namespace {

// crNone as an indexed picture: every colour enters the table once; more than 256
// colours cannot be held.
TReducedImage ExactColors(const TRGBSource& Source)
{
    TReducedImage out;
    out.Width = Source.Width;
    out.Height = Source.Height;
    out.Indices.resize(size_t(Source.Width) * size_t(Source.Height));
    std::map<uint32_t, uint8_t> seen;
    for (int32_t y = 0; y < Source.Height; ++y) {
        const uint8_t* row = Source.ScanLine(y);
        for (int32_t x = 0; x < Source.Width; ++x) {
            uint32_t key = (uint32_t(row[3 * x + 2]) << 16) | (uint32_t(row[3 * x + 1]) << 8) | row[3 * x];
            auto it = seen.find(key);
            if (it == seen.end()) {
                if (seen.size() >= 256)
                    throw GIFException("Color table overflow");
                it = seen.emplace(key, uint8_t(out.Palette.size())).first;
                out.Palette.push_back(TGIFPaletteEntry{row[3 * x + 2], row[3 * x + 1], row[3 * x], 0});
            }
            out.Indices[size_t(y) * size_t(Source.Width) + size_t(x)] = it->second;
        }
    }
    return out;
}

} // namespace

TReducedImage ReduceColorsToIndices(const TRGBSource& Source, uint8_t ReductionMethod, uint8_t DitherMethod,
                                    int32_t QuantizeBits, const TGIFPalette* CustomPalette)
{
    if (ReductionMethod >= 10 || DitherMethod >= 7)
        throw GIFException("Invalid reduction method");
    CheckPixelBufferSize(Source.Width, Source.Height, "GIF frame");
    if (ReductionMethod == crNone)
        return ExactColors(Source);

    TReducedImage out;
    out.Width = Source.Width;
    out.Height = Source.Height;
    switch (ReductionMethod) {
    case crSystem20: out.Palette = SystemPalette20(); break;
    case crHalftone: out.Palette = HalftonePalette(); break;
    case crGray4: out.Palette = GrayPalette(4); break;
    case crMonochrome: out.Palette = MonochromePalette(); break;
    case crGray256: out.Palette = GrayPalette(256); break;
    case crWeb216: out.Palette = WebPalette(); break;
    case crOctree: {
        int32_t bits = std::clamp(QuantizeBits, 1, 8);
        out.Palette = CreateOptimizedPalette(Source, 1 << bits, 8, false);
        break;
    }
    case crOctreeSystem: out.Palette = CreateOptimizedPalette(Source, 236, 8, true); break;
    case crCustom: out.Palette = CustomPalette ? *CustomPalette : TGIFPalette{}; break;
    }
    if (out.Palette.size() > 256)
        out.Palette.resize(256);

    std::unique_ptr<TColorLookup> lookup;
    if (ReductionMethod == crMonochrome)
        lookup = std::make_unique<TMonochromeLookup>();
    else if (ReductionMethod == crGray256)
        lookup = std::make_unique<TGrayScaleLookup>();
    else if (ReductionMethod == crWeb216)
        lookup = std::make_unique<TNetscapeColorLookup>();
    else
        lookup = std::make_unique<TFastColorLookup>(out.Palette);
    std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(DitherMethod, Source.Width, *lookup);

    out.Indices.resize(size_t(Source.Width) * size_t(Source.Height));
    for (int32_t y = 0; y < Source.Height; ++y) {
        const uint8_t* src = Source.ScanLine(y);
        uint8_t* dst = out.Indices.data() + size_t(y) * size_t(Source.Width);
        uint8_t r, g, b;
        for (int32_t x = ditherer->Column(); x >= 0 && x < Source.Width; x = ditherer->Column())
            dst[x] = uint8_t(ditherer->Dither(src[3 * x + 2], src[3 * x + 1], src[3 * x], r, g, b));
        ditherer->NextLine();
    }
    return out;
}

} // namespace kv::GIFImage
