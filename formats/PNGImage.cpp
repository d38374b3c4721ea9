#include "formats/PNGImage.h"

#include "formats/PNGZLIB.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace kv {

namespace {

const char* const MsgInvalidHeader = "Invalid Portable Graphics Network image, it has an invalid file header.";
const char* const MsgUnknownCritical =
    "The currently being loaded image contains critical(s) chunk(s) not reconized by the decoder.";
const char* const MsgCorrupted = "Can't read the PNG image, it has corrupted data. ";
const char* const MsgIHDR =
    "This PNG image is invalid, the IHDR chunk is either not present or it isn't the first chunk.";
const char* const MsgNoData = "The current image being loaded has no data and could not be loaded.";
const char* const MsgUnknownColorType = "Could not read the image because it has an unknown color type.";
const char* const MsgNoPalette = "The current image requeries a palette but it is not avaliable.";
const char* const MsgInvalidPalette = "The current image being loaded has an invalid palette!";
const char* const MsgUnknownInterlace = "The image has an unknown interlace method.";
const char* const MsgUnknownFilter = "The image could not be loaded because it uses an unknown set of filter types.";
const char* const MsgUnknownCompression =
    "The image could not be loaded because it uses an unknown compression method.";
const char* const MsgChunkIndex = "The chunk index especified is out of the range.";
const char* const MsgClassIndex = "The chunk class index especified is  out of range.";
const char* const MsgNotInList = "The especified chunk is not inside the chunk list containing the method being used. "
                                 "The funcion could not be completed.";
const char* const MsgNoTransparency =
    "Can not get transparency information because the current image color type is not RGB (value 3)";

const uint8_t PNGSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Deflate cannot expand data by more than about 1032 : 1; more pixels than that from the
// compressed bytes at hand means a hostile or broken header, refused before allocating.
constexpr int64_t MaxInflateRatio = 1032;

bool IsUpper(char c) { return (uint8_t(c) & 0x20) == 0; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

uint32_t ChunkCRC(const std::string& Type, const uint8_t* Data, size_t Count)
{
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(Type.data()), 4);
    // crc32 takes 32-bit lengths: a chunk is at most 2^31 - 1 bytes. A null buffer would
    // make zlib answer its initial value, so empty data is not passed at all.
    if (Count > 0)
        crc = crc32(crc, Data, uInt(Count));
    return uint32_t(crc);
}

std::vector<TChunkClassInfo>& Registry()
{
    static std::vector<TChunkClassInfo> registry = [] {
        std::vector<TChunkClassInfo> r;
        r.push_back({"IEND", "TChunkIEND", [](TChunkList* o) { return std::make_unique<TChunkIEND>(o); }});
        r.push_back({"IHDR", "TChunkIHDR", [](TChunkList* o) { return std::make_unique<TChunkIHDR>(o); }});
        r.push_back({"gAMA", "TChunkGAMA", [](TChunkList* o) { return std::make_unique<TChunkGAMA>(o); }});
        r.push_back({"IDAT", "TChunkIDAT", [](TChunkList* o) { return std::make_unique<TChunkIDAT>(o); }});
        r.push_back({"PLTE", "TChunkPLTE", [](TChunkList* o) { return std::make_unique<TChunkPLTE>(o); }});
        r.push_back({"tEXt", "TChunkTEXT", [](TChunkList* o) { return std::make_unique<TChunkTEXT>(o); }});
        r.push_back({"tRNS", "TChunkTRNS", [](TChunkList* o) { return std::make_unique<TChunkTRNS>(o); }});
        return r;
    }();
    return registry;
}

std::string TypeOfClass(const char* ClassName)
{
    const TChunkClassInfo* info = TChunkClasses::FindClass(ClassName);
    return info ? info->Type : std::string();
}

TChunkGAMA* GammaOf(TChunkList* List) { return List ? dynamic_cast<TChunkGAMA*>(List->Find("gAMA")) : nullptr; }
TChunkIHDR* HeaderOf(TChunkList* List) { return List ? dynamic_cast<TChunkIHDR*>(List->Find("IHDR")) : nullptr; }

// ---- Row filters ------------------------------------------------------------------

inline uint8_t Paeth(int a, int b, int c)
{
    int pa = std::abs(b - c);
    int pb = std::abs(a - c);
    int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

template <int Bpp> void UnfilterRow(uint8_t Filter, uint8_t* Row, const uint8_t* Prior, size_t Count)
{
    switch (Filter) {
    case 0: break;
    case 1:
        for (size_t i = Bpp; i < Count; ++i)
            Row[i] = uint8_t(Row[i] + Row[i - Bpp]);
        break;
    case 2:
        for (size_t i = 0; i < Count; ++i)
            Row[i] = uint8_t(Row[i] + Prior[i]);
        break;
    case 3:
        for (size_t i = 0; i < Count && i < size_t(Bpp); ++i)
            Row[i] = uint8_t(Row[i] + (Prior[i] >> 1));
        for (size_t i = Bpp; i < Count; ++i)
            Row[i] = uint8_t(Row[i] + ((Row[i - Bpp] + Prior[i]) >> 1));
        break;
    case 4:
        for (size_t i = 0; i < Count && i < size_t(Bpp); ++i)
            Row[i] = uint8_t(Row[i] + Prior[i]);
        for (size_t i = Bpp; i < Count; ++i)
            Row[i] = uint8_t(Row[i] + Paeth(Row[i - Bpp], Prior[i], Prior[i - Bpp]));
        break;
    default: RaisePNGError(MsgUnknownFilter);
    }
}

void Unfilter(uint8_t Filter, uint8_t* Row, const uint8_t* Prior, size_t Count, int Bpp)
{
    switch (Bpp) {
    case 1: UnfilterRow<1>(Filter, Row, Prior, Count); break;
    case 2: UnfilterRow<2>(Filter, Row, Prior, Count); break;
    case 3: UnfilterRow<3>(Filter, Row, Prior, Count); break;
    case 4: UnfilterRow<4>(Filter, Row, Prior, Count); break;
    case 6: UnfilterRow<6>(Filter, Row, Prior, Count); break;
    default: UnfilterRow<8>(Filter, Row, Prior, Count); break;
    }
}

// Filter F of Raw against Prior into Out (Out[0] gets the filter byte).
void FilterRow(int F, const uint8_t* Raw, const uint8_t* Prior, size_t Count, size_t Bpp, uint8_t* Out)
{
    Out[0] = uint8_t(F);
    uint8_t* o = Out + 1;
    for (size_t i = 0; i < Count; ++i) {
        int left = i >= Bpp ? Raw[i - Bpp] : 0;
        int upLeft = i >= Bpp ? Prior[i - Bpp] : 0;
        int up = Prior[i];
        int predicted = 0;
        switch (F) {
        case 1: predicted = left; break;
        case 2: predicted = up; break;
        case 3: predicted = (left + up) >> 1; break;
        case 4: predicted = Paeth(left, up, upLeft); break;
        default: break;
        }
        o[i] = uint8_t(Raw[i] - predicted);
    }
}

// Positions from the fifth byte on whose byte equals each of the four before it.
int64_t FilterScore(const uint8_t* Row, size_t Count)
{
    int64_t score = 0;
    for (size_t j = 4; j < Count; ++j) {
        uint8_t b = Row[j];
        score += (b == Row[j - 1] && b == Row[j - 2] && b == Row[j - 3] && b == Row[j - 4]);
    }
    return score;
}

// ---- Decoder ----------------------------------------------------------------------

int ChannelsOf(uint8_t ColorType)
{
    switch (ColorType) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    case 6: return 4;
    default: return 0;
    }
}

bool ValidPair(uint8_t ColorType, uint8_t Depth)
{
    switch (ColorType) {
    case 0: return Depth == 1 || Depth == 2 || Depth == 4 || Depth == 8 || Depth == 16;
    case 3: return Depth == 1 || Depth == 2 || Depth == 4 || Depth == 8;
    case 2:
    case 4:
    case 6: return Depth == 8 || Depth == 16;
    default: return false;
    }
}

const int Adam7ColStart[7] = {0, 4, 0, 2, 0, 1, 0};
const int Adam7ColStep[7] = {8, 8, 4, 4, 2, 2, 1};
const int Adam7RowStart[7] = {0, 0, 4, 0, 2, 0, 1};
const int Adam7RowStep[7] = {8, 8, 8, 4, 4, 2, 2};

int64_t PassSide(int64_t Side, int Start, int Step) { return Side > Start ? (Side - Start + Step - 1) / Step : 0; }

struct TRowDecoder {
    int Width = 0, Height = 0;
    uint8_t Depth = 0, ColorType = 0;
    int BitsPerSourcePixel = 0; // channels x depth
    int Bpp = 1;                // bytes per pixel for unfiltering
    int OutBits = 8;            // bits per pixel of the bitmap
    const uint8_t* Gamma = nullptr;
    std::vector<uint8_t> Expanded; // one pixel per byte (paletted) or B, G, R
    // The 32-bit road: the palette of grey and indexed pictures, and the file's alpha.
    std::vector<TPaletteEntry> Palette;
    bool KeepAlpha = false;
    const uint8_t* Trns = nullptr;
    int TrnsSize = 0;
    std::vector<uint8_t> Alphas;

    int64_t RowBytes(int64_t W) const { return (W * BitsPerSourcePixel + 7) / 8; }

    uint8_t G(uint8_t v) const { return Gamma ? Gamma[v] : v; }

    // Raw (unfiltered) samples of W pixels into Out: palette indices / grey levels one per
    // byte (2-bit values scaled to 4 bits), or B, G, R triples for colour pictures.
    void Expand(const uint8_t* Raw, int W, uint8_t* Out) const
    {
        switch (ColorType) {
        case 2:
        case 6: {
            int step = ChannelsOf(ColorType) * (Depth / 8);
            int sample = Depth / 8; // the high byte comes first
            const uint8_t* s = Raw;
            if (Gamma) {
                for (int x = 0; x < W; ++x, s += step, Out += 3) {
                    Out[0] = Gamma[s[2 * sample]];
                    Out[1] = Gamma[s[sample]];
                    Out[2] = Gamma[s[0]];
                }
            } else {
                for (int x = 0; x < W; ++x, s += step, Out += 3) {
                    Out[0] = s[2 * sample];
                    Out[1] = s[sample];
                    Out[2] = s[0];
                }
            }
            break;
        }
        case 4: {
            int step = 2 * (Depth / 8);
            for (int x = 0; x < W; ++x)
                Out[x] = Raw[x * step];
            break;
        }
        default: // 0 and 3
            if (Depth == 16) {
                for (int x = 0; x < W; ++x)
                    Out[x] = Raw[2 * x];
            } else if (Depth == 8) {
                std::memcpy(Out, Raw, size_t(W));
            } else {
                int mask = (1 << Depth) - 1;
                for (int x = 0; x < W; ++x) {
                    int bit = x * Depth;
                    int v = (Raw[bit >> 3] >> (8 - Depth - (bit & 7))) & mask;
                    Out[x] = uint8_t(Depth == 2 ? MulDiv(v, 15, 3) : v);
                }
            }
            break;
        }
    }

    // The sample X of a grey or indexed row at its full depth.
    int SampleAt(const uint8_t* Raw, int X) const
    {
        if (Depth == 16)
            return (Raw[2 * X] << 8) | Raw[2 * X + 1];
        if (Depth == 8)
            return Raw[X];
        const int bit = X * Depth;
        return (Raw[bit >> 3] >> (8 - Depth - (bit & 7))) & ((1 << Depth) - 1);
    }

    // The alpha of W raw pixels: the alpha sample, or the tRNS entry of an index, or 0 for
    // a pixel equal to the tRNS key at full depth (a 16-bit key compares all 16 bits).
    void ExpandAlpha(const uint8_t* Raw, int W, uint8_t* Out) const
    {
        const int bytes = Depth / 8;
        std::fill_n(Out, W, uint8_t(0xFF));
        switch (ColorType) {
        case 6:
            for (int x = 0; x < W; ++x)
                Out[x] = Raw[size_t(x) * 4 * bytes + 3 * bytes];
            break;
        case 4:
            for (int x = 0; x < W; ++x)
                Out[x] = Raw[size_t(x) * 2 * bytes + bytes];
            break;
        case 3:
            for (int x = 0; x < W; ++x) {
                const int index = SampleAt(Raw, x);
                if (index < TrnsSize)
                    Out[x] = Trns[index];
            }
            break;
        case 2:
            if (TrnsSize >= 6)
                for (int x = 0; x < W; ++x) {
                    const uint8_t* s = Raw + size_t(x) * 3 * bytes;
                    bool keyed = true;
                    for (int c = 0; c < 3 && keyed; ++c) {
                        const int v = bytes == 2 ? (s[2 * c] << 8) | s[2 * c + 1] : s[c];
                        keyed = v == ((Trns[2 * c] << 8) | Trns[2 * c + 1]);
                    }
                    if (keyed)
                        Out[x] = 0;
                }
            break;
        default:
            if (TrnsSize >= 2) {
                const int key = (Trns[0] << 8) | Trns[1];
                for (int x = 0; x < W; ++x)
                    if (SampleAt(Raw, x) == key)
                        Out[x] = 0;
            }
            break;
        }
    }

    // W raw pixels as 32-bit words at Start, Start + Step...: colour from Expand (through
    // the palette for grey and indexed pictures), alpha from the file when it is kept,
    // opaque otherwise.
    void Scatter32(const uint8_t* Raw, int W, uint32_t* Dst, int Start, int Step)
    {
        Expand(Raw, W, Expanded.data());
        if (KeepAlpha)
            ExpandAlpha(Raw, W, Alphas.data());
        for (int i = 0, x = Start; i < W; ++i, x += Step) {
            const uint32_t a = KeepAlpha ? uint32_t(Alphas[size_t(i)]) << 24 : 0xFF000000u;
            if (Palette.empty()) {
                const uint8_t* px = Expanded.data() + 3 * size_t(i);
                Dst[x] = a | (uint32_t(px[2]) << 16) | (uint32_t(px[1]) << 8) | px[0];
            } else {
                const TPaletteEntry& e = Palette[Expanded[size_t(i)]];
                Dst[x] = a | (uint32_t(e.peRed) << 16) | (uint32_t(e.peGreen) << 8) | e.peBlue;
            }
        }
    }

    // Expanded pixels of one pass row into the bitmap row at Start, Start + Step...
    void Scatter(const uint8_t* Px, int W, uint8_t* Dst, int Start, int Step) const
    {
        switch (OutBits) {
        case 24:
            for (int i = 0, x = Start; i < W; ++i, x += Step)
                std::memcpy(Dst + 3 * x, Px + 3 * i, 3);
            break;
        case 8:
            for (int i = 0, x = Start; i < W; ++i, x += Step)
                Dst[x] = Px[i];
            break;
        case 4:
            for (int i = 0, x = Start; i < W; ++i, x += Step) {
                uint8_t& b = Dst[x >> 1];
                b = (x & 1) ? uint8_t((b & 0xF0) | (Px[i] & 0x0F)) : uint8_t((b & 0x0F) | (Px[i] << 4));
            }
            break;
        default:
            for (int i = 0, x = Start; i < W; ++i, x += Step) {
                uint8_t bit = uint8_t(0x80 >> (x & 7));
                uint8_t& b = Dst[x >> 3];
                b = (Px[i] & 1) ? uint8_t(b | bit) : uint8_t(b & ~bit);
            }
            break;
        }
    }

    // The bytes StoreRow writes at the start of each bitmap row, or 0 when it changes only
    // some bits of them (2-bit pixels).
    int64_t StoredBytes(int64_t DstBytes) const
    {
        if ((ColorType == 0 || ColorType == 3) && (Depth == 1 || Depth == 4 || Depth == 8))
            return std::min<int64_t>(RowBytes(Width), DstBytes);
        return OutBits == 24 || OutBits == 8 ? int64_t(Width) * OutBits / 8 : 0;
    }

    // The row as it goes into the bitmap when the picture is not interlaced.
    void StoreRow(const uint8_t* Raw, uint8_t* Dst, int64_t DstBytes)
    {
        bool packedAsIs = (ColorType == 0 || ColorType == 3) && (Depth == 1 || Depth == 4 || Depth == 8);
        if (packedAsIs) {
            std::memcpy(Dst, Raw, size_t(std::min<int64_t>(RowBytes(Width), DstBytes)));
        } else if (OutBits == 24 || OutBits == 8) {
            Expand(Raw, Width, Dst);
        } else {
            Expand(Raw, Width, Expanded.data());
            Scatter(Expanded.data(), Width, Dst, 0, 1);
        }
    }
};

} // namespace

[[noreturn]] void RaisePNGError(const std::string& Message)
{
    throw EPNGImageException("Portable Graphics Network format handler error\r\n\r\n" + Message);
}

// ---- Chunk classes ---------------------------------------------------------------

void TChunkClasses::Register(const std::string& Type, const std::string& ClassName, TChunkFactory Create)
{
    Registry().push_back({Type, ClassName, std::move(Create)});
}

int32_t TChunkClasses::Count() { return int32_t(Registry().size()); }

const TChunkClassInfo& TChunkClasses::Item(int32_t Index)
{
    if (Index < 0 || Index >= Count())
        RaisePNGError(MsgClassIndex);
    return Registry()[size_t(Index)];
}

const TChunkClassInfo* TChunkClasses::FindType(const std::string& Type)
{
    for (const auto& info : Registry())
        if (info.Type == Type)
            return &info;
    return nullptr;
}

const TChunkClassInfo* TChunkClasses::FindClass(const std::string& ClassName)
{
    for (const auto& info : Registry())
        if (info.ClassName == ClassName)
            return &info;
    return nullptr;
}

// ---- TChunk ----------------------------------------------------------------------

TChunk::TChunk(TChunkList* Owner, const std::string& Type)
    : FType(Type), FData(std::make_unique<TMemoryStream>()), FOwner(Owner)
{
}

TChunk::~TChunk() = default;

int64_t TChunk::Size() const { return FData->Size(); }

TPNGImage* TChunk::Image() const { return FOwner ? FOwner->Owner() : nullptr; }

void TChunk::Assign(TChunk* Source)
{
    if (!Source || Source == this)
        return;
    FType = Source->FType;
    FData->Clear();
    if (Source->Size() > 0)
        FData->WriteBuffer(Source->FData->Memory(), Source->Size());
    FData->SetPosition(0);
}

void TChunk::SaveToStream(TStream& Stream)
{
    UpdateData();
    if (FType.size() != 4 || !IsUpper(FType[3]))
        return;
    int64_t size = Size();
    if (size > 0x7FFFFFFF)
        throw EWriteError("Stream write error");
    Stream.WriteU32BE(uint32_t(size));
    Stream.WriteBuffer(FType.data(), 4);
    if (size > 0)
        Stream.WriteBuffer(FData->Memory(), size);
    Stream.WriteU32BE(ChunkCRC(FType, FData->Memory(), size_t(size)));
}

// ---- IHDR ------------------------------------------------------------------------

TChunkIHDR::TChunkIHDR(TChunkList* Owner) : TChunk(Owner, TypeOfClass("TChunkIHDR")) { Data().SetSize(13); }

uint32_t TChunkIHDR::Width() { return Size() >= 8 ? GetU32BE(Data().Memory()) : 0; }
uint32_t TChunkIHDR::Height() { return Size() >= 8 ? GetU32BE(Data().Memory() + 4) : 0; }

void TChunkIHDR::SetWidth(uint32_t Value)
{
    if (Size() < 13)
        Data().SetSize(13);
    PutU32BE(Data().Memory(), Value);
    if (TPNGImage* img = Image(); img && uint32_t(img->Width()) != Value && Value <= uint32_t(MaxPixelSide))
        img->SetWidth(int32_t(Value));
}

void TChunkIHDR::SetHeight(uint32_t Value)
{
    if (Size() < 13)
        Data().SetSize(13);
    PutU32BE(Data().Memory() + 4, Value);
    if (TPNGImage* img = Image(); img && uint32_t(img->Height()) != Value && Value <= uint32_t(MaxPixelSide))
        img->SetHeight(int32_t(Value));
}

uint8_t TChunkIHDR::Field(int Offset) { return Size() > Offset ? Data().Memory()[Offset] : 0; }

void TChunkIHDR::SetField(int Offset, uint8_t Value)
{
    if (Size() < 13)
        Data().SetSize(13);
    Data().Memory()[Offset] = Value;
}

uint8_t TChunkIHDR::BitDepth() { return Field(8); }
void TChunkIHDR::SetBitDepth(uint8_t Value) { SetField(8, Value); }
uint8_t TChunkIHDR::ColorType() { return Field(9); }
void TChunkIHDR::SetColorType(uint8_t Value) { SetField(9, Value); }
uint8_t TChunkIHDR::Compression() { return Field(10); }
uint8_t TChunkIHDR::Filter() { return Field(11); }
uint8_t TChunkIHDR::Interlaced() { return Field(12); }
void TChunkIHDR::SetInterlaced(uint8_t Value) { SetField(12, Value); }

void TChunkIHDR::UpdateData()
{
    TPNGImage* img = Image();
    if (!img)
        return;
    Data().SetSize(13);
    uint8_t* d = Data().Memory();
    int bits = img->BitsPerPixel();
    uint8_t depth = 8, colorType = 2;
    if (bits == 1 || bits == 4 || bits == 8) {
        depth = uint8_t(bits);
        colorType = 3;
    } else if (img->PixelFormat() != pf24bit) {
        img->SetPixelFormat(pf24bit);
    }
    PutU32BE(d, uint32_t(img->Width()));
    PutU32BE(d + 4, uint32_t(img->Height()));
    d[8] = depth;
    d[9] = colorType;
    d[10] = 0;
    d[11] = 0;
    // The encoder writes rows in order only, so the file is never marked interlaced.
    d[12] = 0;
}

// ---- gAMA ------------------------------------------------------------------------

TChunkGAMA::TChunkGAMA(TChunkList* Owner) : TChunk(Owner, TypeOfClass("TChunkGAMA"))
{
    Data().SetSize(4);
    PutU32BE(Data().Memory(), 1);
}

uint32_t TChunkGAMA::Value() { return Size() >= 4 ? GetU32BE(Data().Memory()) : 0; }

void TChunkGAMA::SetValue(uint32_t Value)
{
    Data().SetSize(4);
    PutU32BE(Data().Memory(), Value);
    FTablesValid = false;
}

void TChunkGAMA::Apply() { BuildTables(); }

const std::array<uint8_t, 256>& TChunkGAMA::Forward()
{
    BuildTables();
    return FForward;
}

const std::array<uint8_t, 256>& TChunkGAMA::Inverse()
{
    BuildTables();
    return FInverse;
}

void TChunkGAMA::BuildTables()
{
    uint32_t value = Value();
    if (FTablesValid && FTablesFor == value)
        return;
    FTablesValid = true;
    FTablesFor = value;
    for (int i = 0; i < 256; ++i)
        FForward[size_t(i)] = FInverse[size_t(i)] = uint8_t(i);
    if (value == 0) // no meaningful exponent: identity
        return;
    double exponent = 1.0 / (double(value) / 100000.0 * 2.2);
    for (int i = 0; i < 256; ++i) {
        double f = std::nearbyint(255.0 * std::pow(i / 255.0, exponent)); // halves to even
        FForward[size_t(i)] = uint8_t(std::clamp(f, 0.0, 255.0));
    }
    std::array<bool, 256> set{};
    for (int i = 0; i < 256; ++i) {
        FInverse[FForward[size_t(i)]] = uint8_t(i);
        set[FForward[size_t(i)]] = true;
    }
    // Levels that no input maps to take the inverse of the nearest level that one does.
    std::array<uint8_t, 256> filled = FInverse;
    for (int j = 0; j < 256; ++j) {
        if (set[size_t(j)])
            continue;
        for (int d = 1; d < 256; ++d) {
            if (j - d >= 0 && set[size_t(j - d)]) {
                filled[size_t(j)] = FInverse[size_t(j - d)];
                break;
            }
            if (j + d < 256 && set[size_t(j + d)]) {
                filled[size_t(j)] = FInverse[size_t(j + d)];
                break;
            }
        }
    }
    FInverse = filled;
}

// ---- PLTE, tEXt, tRNS, IEND -------------------------------------------------------

TChunkPLTE::TChunkPLTE(TChunkList* Owner) : TChunk(Owner, TypeOfClass("TChunkPLTE")) {}

void TChunkPLTE::UpdateData()
{
    TPNGImage* img = Image();
    if (!img)
        return;
    std::vector<TPaletteEntry> entries = img->PaletteEntries();
    size_t limit = 256;
    int bits = img->BitsPerPixel();
    if (bits == 1 || bits == 4 || bits == 8)
        limit = size_t(1) << bits;
    if (entries.size() > limit)
        entries.resize(limit);
    if (entries.empty() && limit <= 256 && (bits == 1 || bits == 4 || bits == 8)) {
        // A paletted picture needs a PLTE to be a valid file: without a palette of its
        // own the bitmap's pixels are taken as grey levels.
        for (size_t i = 0; i < limit; ++i) {
            uint8_t v = uint8_t(MulDiv(int32_t(i), 255, int32_t(limit - 1)));
            entries.push_back({v, v, v, 0});
        }
    }
    const uint8_t* inverse = nullptr;
    if (TChunkGAMA* gama = GammaOf(Owner()))
        inverse = gama->Inverse().data();
    Data().SetSize(int64_t(entries.size() * 3));
    uint8_t* d = Data().Memory();
    for (const TPaletteEntry& e : entries) {
        *d++ = inverse ? inverse[e.peRed] : e.peRed;
        *d++ = inverse ? inverse[e.peGreen] : e.peGreen;
        *d++ = inverse ? inverse[e.peBlue] : e.peBlue;
    }
}

TChunkTEXT::TChunkTEXT(TChunkList* Owner) : TChunk(Owner, TypeOfClass("TChunkTEXT")) { Data().SetSize(2); }

TChunkTRNS::TChunkTRNS(TChunkList* Owner) : TChunk(Owner, TypeOfClass("TChunkTRNS")) {}

TColor TChunkTRNS::TransparentColor()
{
    TChunkIHDR* ihdr = HeaderOf(Owner());
    if (!ihdr || ihdr->ColorType() != 2)
        RaisePNGError(MsgNoTransparency);
    if (Size() < 6)
        return clBlack;
    const uint8_t* d = Data().Memory();
    // Reduced to 8 bits as the pixel samples are: the high byte at depth 16.
    bool wide = ihdr->BitDepth() == 16;
    uint8_t rgb[3];
    for (int i = 0; i < 3; ++i)
        rgb[i] = wide ? d[2 * i] : d[2 * i + 1];
    if (TChunkGAMA* gama = GammaOf(Owner()))
        for (uint8_t& c : rgb)
            c = gama->Forward()[c];
    return RGB(rgb[0], rgb[1], rgb[2]);
}

void TChunkTRNS::UpdateData()
{
    TPNGImage* img = Image();
    TChunkIHDR* ihdr = HeaderOf(Owner());
    if (!img || !ihdr || ihdr->ColorType() != 2) {
        Data().Clear(); // nothing meaningful to say: the chunk is left out
        return;
    }
    TColor c = ColorToRGB(img->TransparentColor());
    uint8_t rgb[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
    if (TChunkGAMA* gama = GammaOf(Owner()))
        for (uint8_t& v : rgb)
            v = gama->Inverse()[v];
    Data().SetSize(6);
    for (int i = 0; i < 3; ++i)
        PutU16BE(Data().Memory() + 2 * i, rgb[i]);
}

TChunkIEND::TChunkIEND(TChunkList* Owner) : TChunk(Owner, TypeOfClass("TChunkIEND")) {}

// ---- IDAT: decoding --------------------------------------------------------------

TChunkIDAT::TChunkIDAT(TChunkList* Owner) : TChunk(Owner, TypeOfClass("TChunkIDAT")) {}

namespace {

// The header's fields, checked, as the row decoder needs them.
TRowDecoder HeaderDecoder(TChunkIHDR& Ihdr)
{
    TRowDecoder dec;
    const uint32_t width = Ihdr.Width(), height = Ihdr.Height();
    dec.Depth = Ihdr.BitDepth();
    dec.ColorType = Ihdr.ColorType();
    if (!ValidPair(dec.ColorType, dec.Depth))
        RaisePNGError(MsgUnknownColorType);
    if (Ihdr.Interlaced() > 1)
        RaisePNGError(MsgUnknownInterlace);
    // Deflate and the five row filters are the only methods PNG defines (both 0).
    if (Ihdr.Compression() != 0)
        RaisePNGError(MsgUnknownCompression);
    if (Ihdr.Filter() != 0)
        RaisePNGError(MsgUnknownFilter);
    if (width == 0 || height == 0)
        RaisePNGError(MsgIHDR);
    if (!PixelBufferSizeOk(width, height))
        RaisePNGError(PixelBufferSizeMessage(width, height, "PNG image"));
    dec.Width = int(width);
    dec.Height = int(height);
    dec.BitsPerSourcePixel = ChannelsOf(dec.ColorType) * dec.Depth;
    dec.Bpp = std::max(1, dec.BitsPerSourcePixel / 8);
    return dec;
}

// Every row costs its filter byte and its bytes: more than the compressed data can
// expand to means the data cannot be whole.
void CheckDataCanHoldRows(const TRowDecoder& Dec, bool Interlaced, int64_t DataSize)
{
    int64_t needed = 0;
    if (!Interlaced) {
        needed = int64_t(Dec.Height) * (Dec.RowBytes(Dec.Width) + 1);
    } else {
        for (int p = 0; p < 7; ++p) {
            int64_t pw = PassSide(Dec.Width, Adam7ColStart[p], Adam7ColStep[p]);
            int64_t ph = PassSide(Dec.Height, Adam7RowStart[p], Adam7RowStep[p]);
            if (pw > 0)
                needed += ph * (Dec.RowBytes(pw) + 1);
        }
    }
    if (needed > DataSize * MaxInflateRatio + 1024)
        RaisePNGError(MsgCorrupted);
}

// The entries an indexed picture's PLTE gives, or the grey ramp of a grey picture.
std::vector<TPaletteEntry> SourcePalette(uint8_t ColorType, int IndexBits, TChunkList* Chunks)
{
    std::vector<TPaletteEntry> palette;
    if (ColorType == 3) {
        TChunk* plte = Chunks->Find("PLTE");
        if (!plte)
            RaisePNGError(MsgNoPalette);
        int64_t size = plte->Size();
        if (size % 3 != 0 || size == 0 || size / 3 > (int64_t(1) << IndexBits))
            RaisePNGError(MsgInvalidPalette);
        const uint8_t* p = plte->Data().Memory();
        for (int64_t i = 0; i < size / 3; ++i)
            palette.push_back({p[3 * i], p[3 * i + 1], p[3 * i + 2], 0});
    } else {
        int n = 1 << IndexBits;
        for (int i = 0; i < n; ++i) {
            uint8_t v = uint8_t(MulDiv(i, 255, n - 1));
            palette.push_back({v, v, v, PC_NOCOLLAPSE});
        }
    }
    return palette;
}

// Palette and pixel format: indexed and grey pictures get a palette (gamma corrected)
// and 1, 4 or 8 bits a pixel; colour pictures stay 24-bit and correct each pixel.
TPixelFormat ChooseFormat(TRowDecoder& Dec, TChunkList* Chunks, const uint8_t* Forward,
                          std::vector<TPaletteEntry>& Palette)
{
    Dec.OutBits = 24;
    if (Dec.ColorType != 0 && Dec.ColorType != 3 && Dec.ColorType != 4) {
        Dec.Gamma = Forward;
        return pf24bit;
    }
    int indexBits = std::min<int>(Dec.Depth, 8);
    Palette = SourcePalette(Dec.ColorType, indexBits, Chunks);
    // Indices beyond a short palette show black.
    Palette.resize(size_t(1) << indexBits);
    if (Forward)
        for (TPaletteEntry& e : Palette) {
            e.peRed = Forward[e.peRed];
            e.peGreen = Forward[e.peGreen];
            e.peBlue = Forward[e.peBlue];
        }
    if (Dec.Depth == 2) { // 2-bit pixels are kept as 4-bit values 0, 5, 10, 15
        Palette.resize(16);
        for (size_t i = 4; i < 16; ++i)
            Palette[i] = Palette[i % 4];
    }
    switch (Dec.Depth) {
    case 1: Dec.OutBits = 1; return pf1bit;
    case 2:
    case 4: Dec.OutBits = 4; return pf4bit;
    default: Dec.OutBits = 8; return pf8bit;
    }
}

// Rows are inflated this many bytes at a time (at least one row) so that zlib's fast loop
// runs across row ends and each call does real work.
constexpr int64_t InflateBlockBytes = 256 * 1024;

// Whole rows of filtered bytes (filter byte first) as they come out of zlib, behind a slot
// that keeps the row above the block.
struct TRowBlock {
    explicit TRowBlock(int64_t MaxRow)
        : Buffer(size_t((std::max<int64_t>(1, InflateBlockBytes / (MaxRow + 1)) + 1) * (MaxRow + 1)))
    {
    }
    std::vector<uint8_t> Buffer;
};

// Inflates Rows rows of RowBytes bytes each (after its filter byte), unfilters each one in
// place against the one above (zeros above the first) and hands it to Store(j, bytes).
// False when the data ends before the last row. When zlib fails, the rows before the fault
// are stored first, so that a bad filter byte ahead of it is still what is reported.
template <class TStore>
bool InflateRows(TZBlockInflater& Z, int64_t RowBytes, int Rows, int Bpp, TRowBlock& Block, TStore Store)
{
    const int64_t rowSize = RowBytes + 1;
    const int64_t perBlock = int64_t(Block.Buffer.size()) / rowSize - 1;
    uint8_t* const first = Block.Buffer.data() + rowSize;
    std::fill_n(Block.Buffer.data(), size_t(rowSize), uint8_t(0));
    const uint8_t* prior = Block.Buffer.data();
    for (int j = 0; j < Rows;) {
        const int64_t want = std::min<int64_t>(perBlock, Rows - j) * rowSize;
        std::exception_ptr fault;
        int64_t got = 0;
        try {
            got = Z.Read(first, want);
        } catch (...) {
            fault = std::current_exception();
            got = Z.LastReadCount();
        }
        int whole = int(got / rowSize);
        // zlib looks past a row's last byte before it returns: a fault met right at a row's
        // end is that row's (it is not stored), unless zlib needed new input to get there.
        if (fault && whole > 0 && got % rowSize == 0 && !Z.RefilledAfterLastByte())
            --whole;
        for (int i = 0; i < whole; ++i, ++j) {
            uint8_t* cur = first + i * rowSize;
            Unfilter(cur[0], cur + 1, prior + 1, size_t(RowBytes), Bpp);
            Store(j, cur + 1);
            prior = cur;
        }
        if (fault)
            std::rethrow_exception(fault);
        if (got < want)
            return false; // the data ends early
        std::memmove(Block.Buffer.data(), prior, size_t(rowSize));
        prior = Block.Buffer.data();
    }
    return true;
}

// Sets Stored to the count of rows written so far.
void DecodeRows(TRowDecoder& Dec, TZBlockInflater& Z, TPNGImage& Img, TRowBlock& Block, int& Stored)
{
    const int64_t stride = Img.BytesPerScanLine();
    int lastPercent = -1;
    InflateRows(Z, Dec.RowBytes(Dec.Width), Dec.Height, Dec.Bpp, Block, [&](int y, const uint8_t* raw) {
        Dec.StoreRow(raw, Img.ScanLine(y), stride);
        Stored = y + 1;
        int percent = int(int64_t(y) * 100 / Dec.Height);
        if (percent != lastPercent) {
            lastPercent = percent;
            Img.ReportProgress(uint8_t(percent));
        }
    });
}

// A colour picture straight into a block of top-down opaque 32-bit words. Rows the data
// does not reach stay opaque black, as the bitmap's untouched black rows would come out.
void DecodeRows32(TRowDecoder& Dec, TZBlockInflater& Z, TPNGImage& Img, TRowBlock& Block, bool Interlaced,
                  uint32_t* Dest)
{
    const size_t width = size_t(Dec.Width);
    if (Interlaced) {
        std::fill_n(Dest, width * size_t(Dec.Height), 0xFF000000u);
        for (int p = 0; p < 7; ++p) {
            int pw = int(PassSide(Dec.Width, Adam7ColStart[p], Adam7ColStep[p]));
            int ph = int(PassSide(Dec.Height, Adam7RowStart[p], Adam7RowStep[p]));
            if (pw == 0 || ph == 0)
                continue;
            bool whole = InflateRows(Z, Dec.RowBytes(pw), ph, Dec.Bpp, Block, [&](int j, const uint8_t* raw) {
                size_t y = size_t(Adam7RowStart[p] + j * Adam7RowStep[p]);
                Dec.Scatter32(raw, pw, Dest + y * width, Adam7ColStart[p], Adam7ColStep[p]);
            });
            if (!whole)
                return;
            Img.ReportProgress(uint8_t(p * 100 / 6));
        }
        return;
    }
    int stored = 0, lastPercent = -1;
    InflateRows(Z, Dec.RowBytes(Dec.Width), Dec.Height, Dec.Bpp, Block, [&](int y, const uint8_t* raw) {
        Dec.Scatter32(raw, Dec.Width, Dest + size_t(y) * width, 0, 1);
        stored = y + 1;
        int percent = int(int64_t(y) * 100 / Dec.Height);
        if (percent != lastPercent) {
            lastPercent = percent;
            Img.ReportProgress(uint8_t(percent));
        }
    });
    std::fill(Dest + size_t(stored) * width, Dest + size_t(Dec.Height) * width, 0xFF000000u);
}

// A kept bitmap holds the last picture: what the decoder leaves untouched is made black,
// as a fresh bitmap would be (Rows = -1: every byte).
void ClearUnstored(TBitmap& Img, int Rows, int64_t StoredBytes)
{
    const int64_t stride = Img.BytesPerScanLine();
    for (int y = 0; y < Img.Height(); ++y) {
        int64_t from = y < Rows ? StoredBytes : 0;
        if (from < stride)
            std::memset(Img.ScanLine(y) + from, 0, size_t(stride - from));
    }
}

void DecodePasses(TRowDecoder& Dec, TZBlockInflater& Z, TPNGImage& Img, TRowBlock& Block)
{
    for (int p = 0; p < 7; ++p) {
        int pw = int(PassSide(Dec.Width, Adam7ColStart[p], Adam7ColStep[p]));
        int ph = int(PassSide(Dec.Height, Adam7RowStart[p], Adam7RowStep[p]));
        if (pw == 0 || ph == 0)
            continue; // an empty pass has no rows, not even filter bytes
        bool whole = InflateRows(Z, Dec.RowBytes(pw), ph, Dec.Bpp, Block, [&](int j, const uint8_t* raw) {
            Dec.Expand(raw, pw, Dec.Expanded.data());
            int y = Adam7RowStart[p] + j * Adam7RowStep[p];
            Dec.Scatter(Dec.Expanded.data(), pw, Img.ScanLine(y), Adam7ColStart[p], Adam7ColStep[p]);
        });
        if (!whole)
            return;
        Img.ReportProgress(uint8_t(p * 100 / 6));
    }
}

} // namespace

void TChunkIDAT::Apply()
{
    TPNGImage* img = Image();
    TChunkIHDR* ihdr = HeaderOf(Owner());
    if (!img || !ihdr)
        RaisePNGError(MsgIHDR);
    TRowDecoder dec = HeaderDecoder(*ihdr);
    const bool interlaced = ihdr->Interlaced() == 1;
    CheckDataCanHoldRows(dec, interlaced, Size());

    TChunkGAMA* gama = GammaOf(Owner());
    std::vector<TPaletteEntry> palette;
    TPixelFormat format = ChooseFormat(dec, Owner(), gama ? gama->Forward().data() : nullptr, palette);
    // A picture whose alpha is kept goes to the block whatever its colour type, as the
    // bitmap has no room for the alpha.
    if (img->Pixels32Target() && (format == pf24bit || img->KeepAlpha())) {
        if (format != pf24bit)
            dec.Palette = std::move(palette);
        dec.KeepAlpha = img->KeepAlpha();
        if (TChunk* trns = Owner()->Find("tRNS"); trns && dec.KeepAlpha) {
            dec.Trns = trns->Data().Memory();
            dec.TrnsSize = int(std::min<int64_t>(trns->Size(), 256));
        }
        uint32_t* dest = img->Pixels32Target()(dec.Width, dec.Height);
        TZBlockInflater z(Data().Memory(), Size());
        TRowBlock block(dec.RowBytes(dec.Width));
        dec.Expanded.resize(size_t(dec.Width) * 3 + 8);
        dec.Alphas.resize(size_t(dec.Width) + 8);
        DecodeRows32(dec, z, *img, block, interlaced, dest);
        return;
    }
    // A picture of the same shape as the one held (a reload) is decoded into the bitmap
    // it has: a new one would cost a full-size allocation and its first touch.
    const bool kept = img->PixelFormat() == format && img->Width() == dec.Width && img->Height() == dec.Height;
    if (!kept) {
        img->SetSize(0, 0);
        img->SetPixelFormat(format);
        img->SetSize(dec.Width, dec.Height);
    }
    if (!palette.empty())
        img->SetPaletteEntries(palette);
    const int64_t storedBytes = interlaced ? 0 : dec.StoredBytes(img->BytesPerScanLine());
    if (kept && storedBytes == 0)
        ClearUnstored(*img, -1, 0);

    Data().SetPosition(0);
    TZBlockInflater z(Data().Memory(), Size());
    TRowBlock block(dec.RowBytes(dec.Width));
    dec.Expanded.resize(size_t(dec.Width) * 3 + 8);
    if (interlaced) {
        DecodePasses(dec, z, *img, block);
        return;
    }
    int stored = 0;
    try {
        DecodeRows(dec, z, *img, block, stored);
    } catch (...) {
        if (kept && storedBytes > 0)
            ClearUnstored(*img, stored, storedBytes);
        throw;
    }
    if (kept && storedBytes > 0)
        ClearUnstored(*img, stored, storedBytes);
}

// ---- IDAT: encoding --------------------------------------------------------------

void TChunkIDAT::UpdateData()
{
    TPNGImage* img = Image();
    if (!img)
        return;
    int bits = img->BitsPerPixel();
    bool paletted = bits == 1 || bits == 4 || bits == 8;
    if (!paletted && img->PixelFormat() != pf24bit) {
        img->SetPixelFormat(pf24bit);
        bits = 24;
    }
    const uint8_t* inverse = nullptr;
    if (TChunkGAMA* gama = GammaOf(Owner()))
        inverse = gama->Inverse().data();

    Data().Clear();
    TZCompressionStream z(TCompressionLevel::clDefault, Data());
    int64_t width = img->Width(), height = img->Height();
    int64_t rowBytes = paletted ? (width * bits + 7) / 8 : width * 3;
    size_t bpp = paletted ? 1 : 3;
    std::vector<uint8_t> raw(static_cast<size_t>(rowBytes)), prior(static_cast<size_t>(rowBytes));
    std::vector<uint8_t> out[5];
    for (auto& o : out)
        o.resize(size_t(rowBytes) + 1);
    uint8_t filters = img->Filter() | pfNone;
    int lastPercent = -1;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = img->ScanLine(y);
        if (paletted) {
            std::memcpy(raw.data(), src, size_t(rowBytes));
        } else {
            for (int64_t x = 0; x < width; ++x) {
                const uint8_t* s = src + 3 * x;
                uint8_t* d = raw.data() + 3 * x;
                d[0] = inverse ? inverse[s[2]] : s[2];
                d[1] = inverse ? inverse[s[1]] : s[1];
                d[2] = inverse ? inverse[s[0]] : s[0];
            }
        }
        int best = 0;
        if (filters == pfNone) {
            FilterRow(0, raw.data(), prior.data(), size_t(rowBytes), bpp, out[0].data());
        } else {
            int64_t bestScore = 0;
            for (int f = 0; f < 5; ++f) {
                if (!(filters & (1 << f)))
                    continue;
                FilterRow(f, raw.data(), prior.data(), size_t(rowBytes), bpp, out[f].data());
                int64_t score = FilterScore(out[f].data() + 1, size_t(rowBytes));
                if (score > bestScore) {
                    bestScore = score;
                    best = f;
                }
            }
        }
        z.WriteBuffer(out[best].data(), rowBytes + 1);
        std::swap(raw, prior);
        int percent = int(int64_t(y) * 100 / height);
        if (percent != lastPercent) {
            lastPercent = percent;
            img->ReportProgress(uint8_t(percent));
        }
    }
    z.Finish();
}

// ---- TChunkList ------------------------------------------------------------------

TChunkList::~TChunkList() = default;

TChunk* TChunkList::Item(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        RaisePNGError(MsgChunkIndex);
    return FItems[size_t(Index)].get();
}

static std::unique_ptr<TChunk> MakeChunk(TChunkList* List, const std::string& Type)
{
    if (const TChunkClassInfo* info = TChunkClasses::FindType(Type))
        return info->Create(List);
    return std::make_unique<TChunk>(List, Type);
}

TChunk* TChunkList::Add(const std::string& Type) { return Append(MakeChunk(this, Type)); }

TChunk* TChunkList::Insert(int32_t Index, const std::string& Type)
{
    if (Index < 0 || Index > Count())
        RaisePNGError(MsgChunkIndex);
    FItems.insert(FItems.begin() + Index, MakeChunk(this, Type));
    return FItems[size_t(Index)].get();
}

TChunk* TChunkList::Append(std::unique_ptr<TChunk> Chunk)
{
    Chunk->FOwner = this;
    FItems.push_back(std::move(Chunk));
    return FItems.back().get();
}

int32_t TChunkList::IndexOf(const TChunk* Chunk) const
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == Chunk)
            return int32_t(i);
    return -1;
}

void TChunkList::Remove(TChunk* Chunk)
{
    int32_t index = IndexOf(Chunk);
    if (index < 0)
        RaisePNGError(MsgNotInList);
    Delete(index);
}

void TChunkList::Delete(int32_t Index)
{
    if (Index < 0 || Index >= Count())
        RaisePNGError(MsgChunkIndex);
    FItems.erase(FItems.begin() + Index);
}

void TChunkList::Clear() { FItems.clear(); }

TChunk* TChunkList::Find(const std::string& Type) const
{
    for (const auto& c : FItems)
        if (c->ChunkType() == Type)
            return c.get();
    return nullptr;
}

void TChunkList::Reorder(const std::function<int(TChunk*, int32_t)>& Rank)
{
    std::vector<std::pair<int, int32_t>> keys;
    for (int32_t i = 0; i < Count(); ++i)
        keys.push_back({Rank(FItems[size_t(i)].get(), i), i});
    std::stable_sort(keys.begin(), keys.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<std::unique_ptr<TChunk>> sorted;
    for (auto& k : keys)
        sorted.push_back(std::move(FItems[size_t(k.second)]));
    FItems = std::move(sorted);
}

// ---- TPNGImage -------------------------------------------------------------------

TPNGImage::TPNGImage() : FChunkList(std::make_unique<TChunkList>(this)) { Clear(); }

TPNGImage::~TPNGImage() = default;

void TPNGImage::Clear()
{
    FChunkList->Clear();
    auto* ihdr = static_cast<TChunkIHDR*>(FChunkList->Add("IHDR"));
    ihdr->SetBitDepth(2);
    ihdr->SetColorType(3);
    FChunkList->Add("IDAT");
    FChunkList->Add("IEND");
}

void TPNGImage::ReportProgress(uint8_t PercentDone)
{
    if (OnProgress)
        Progress(this, psRunning, PercentDone, false, TRect{}, "");
}

namespace {

// The data bytes of the IDAT chunks from the chunk head at At up to IEND, walking the heads
// only; the walk stops where the chunks stop making sense (the reader reports that). The
// stream is left where it was.
int64_t IDATBytesFrom(TStream& Stream, int64_t At)
{
    const int64_t back = Stream.Position(), size = Stream.Size();
    int64_t total = 0;
    for (;;) {
        uint8_t head[8];
        Stream.SetPosition(At);
        if (Stream.Read(head, 8) < 8)
            break;
        const uint32_t length = GetU32BE(head);
        if (length > 0x7FFFFFFFu || int64_t(length) + 4 > size - (At + 8))
            break;
        if (std::memcmp(head + 4, "IDAT", 4) == 0)
            total += length;
        else if (std::memcmp(head + 4, "IEND", 4) == 0)
            break;
        At += 8 + int64_t(length) + 4;
    }
    Stream.SetPosition(back);
    return total;
}

} // namespace

void TPNGImage::ReadChunks(TStream& Stream)
{
    // All IDAT data goes into the first IDAT chunk, sized once for all of it.
    TChunk* firstIDAT = nullptr;
    int64_t idatFilled = 0;
    for (;;) {
        uint8_t head[8];
        if (Stream.Read(head, 8) < 8)
            break; // the stream ends
        uint32_t length = GetU32BE(head);
        std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (length > 0x7FFFFFFFu || int64_t(length) + 4 > Stream.Size() - Stream.Position())
            RaisePNGError(MsgCorrupted);
        if (!std::all_of(type.begin(), type.end(), IsLetter))
            RaisePNGError(MsgCorrupted);
        const TChunkClassInfo* info = TChunkClasses::FindType(type);
        if (!info && IsUpper(type[0]))
            RaisePNGError(MsgUnknownCritical);

        uint8_t* data;
        if (type == "IDAT") {
            if (!firstIDAT) {
                firstIDAT = FChunkList->Append(MakeChunk(FChunkList.get(), type));
                firstIDAT->Data().Clear();
                firstIDAT->Data().SetSize(IDATBytesFrom(Stream, Stream.Position() - 8));
            }
            if (firstIDAT->Size() < idatFilled + length) // the walk stopped early
                firstIDAT->Data().SetSize(idatFilled + length);
            data = firstIDAT->Data().Memory() + idatFilled;
            idatFilled += length;
        } else {
            TChunk* target = FChunkList->Append(MakeChunk(FChunkList.get(), type));
            target->Data().Clear();
            target->Data().SetSize(length);
            data = target->Data().Memory();
        }
        if (length > 0)
            Stream.ReadBuffer(data, length);
        uint32_t crc = Stream.ReadU32BE();
        if (crc != ChunkCRC(type, data, length))
            RaisePNGError(MsgCorrupted);
        if (type == "IEND")
            break;
    }
    if (firstIDAT)
        firstIDAT->Data().SetSize(idatFilled);
}

void TPNGImage::LoadFromStream(TStream& Stream)
{
    Clear();
    FChunkList->Clear();
    SetTransparent(false);
    uint8_t signature[8];
    if (Stream.Read(signature, 8) < 8 || std::memcmp(signature, PNGSignature, 8) != 0)
        RaisePNGError(MsgInvalidHeader);
    ReadChunks(Stream);
    if (FChunkList->Count() == 0 || FChunkList->Item(0)->ChunkType() != "IHDR" || FChunkList->Item(0)->Size() != 13)
        RaisePNGError(MsgIHDR);
    if (!FChunkList->Find("IDAT"))
        RaisePNGError(MsgNoData);
    for (int32_t i = 0; i < FChunkList->Count(); ++i)
        FChunkList->Item(i)->Apply();
    auto* trns = dynamic_cast<TChunkTRNS*>(FChunkList->Find("tRNS"));
    TChunkIHDR* ihdr = HeaderOf(FChunkList.get());
    if (trns && ihdr->ColorType() == 2 && trns->Size() >= 6) {
        SetTransparentColor(trns->TransparentColor());
        SetTransparentMode(tmFixed);
        SetTransparent(true);
    }
    Changed(this);
}

void TPNGImage::ShapeChunksForWriting()
{
    TChunkList& list = *FChunkList;
    // One of each of the chunks the writer makes itself; later copies go.
    for (const char* unique : {"IHDR", "PLTE", "tRNS", "IDAT", "IEND", "gAMA"}) {
        bool seen = false;
        for (int32_t i = 0; i < list.Count();) {
            if (list.Item(i)->ChunkType() == unique) {
                if (seen) {
                    list.Delete(i);
                    continue;
                }
                seen = true;
            }
            ++i;
        }
    }
    if (!list.Find("IHDR"))
        list.Insert(0, "IHDR");
    int bits = BitsPerPixel();
    if ((bits == 1 || bits == 4 || bits == 8) && !list.Find("PLTE"))
        list.Insert(1, "PLTE");
    if (Transparent()) {
        if (!list.Find("tRNS"))
            list.Insert(1, "tRNS");
    } else {
        while (TChunk* t = list.Find("tRNS"))
            list.Remove(t);
    }
    if (!list.Find("IEND"))
        list.Add("IEND");
    if (!list.Find("IDAT"))
        list.Insert(1, "IDAT");

    // A valid order: IHDR; gamma and the chunks that must precede PLTE; other chunks that
    // stood before PLTE; PLTE; tRNS and the chunks between PLTE and IDAT; IDAT; the chunks
    // after it; IEND.
    int32_t plteAt = list.IndexOf(list.Find("PLTE"));
    int32_t idatAt = list.IndexOf(list.Find("IDAT"));
    list.Reorder([&](TChunk* c, int32_t at) {
        const std::string& t = c->ChunkType();
        if (t == "IHDR")
            return 0;
        if (t == "gAMA" || t == "cHRM" || t == "sRGB" || t == "iCCP" || t == "sBIT")
            return 1;
        if (t == "PLTE")
            return 3;
        if (t == "tRNS")
            return 4;
        if (t == "IDAT")
            return 6;
        if (t == "IEND")
            return 8;
        if (at > idatAt)
            return 7;
        if (plteAt >= 0 && at < plteAt && t != "bKGD" && t != "hIST")
            return 2;
        return 5;
    });
}

void TPNGImage::SaveToStream(TStream& Stream)
{
    Stream.WriteBuffer(PNGSignature, 8);
    if (FChunkList->Count() == 0)
        Clear();
    ShapeChunksForWriting();
    int bits = BitsPerPixel();
    bool paletted = bits == 1 || bits == 4 || bits == 8;
    for (int32_t i = 0; i < FChunkList->Count(); ++i) {
        TChunk* c = FChunkList->Item(i);
        // An RGB picture without a palette has no PLTE to write; a tRNS is written only
        // for an RGB picture (it would say nothing otherwise).
        if (c->ChunkType() == "PLTE" && !paletted && PaletteEntries().empty())
            continue;
        if (c->ChunkType() == "tRNS" && paletted)
            continue;
        c->SaveToStream(Stream);
    }
}

void TPNGImage::Assign(TPersistent* Source)
{
    if (auto* png = dynamic_cast<TPNGImage*>(Source)) {
        if (png == this)
            return;
        FChunkList->Clear();
        for (int32_t i = 0; i < png->Chunks().Count(); ++i) {
            TChunk* from = png->Chunks().Item(i);
            TChunk* to = FChunkList->Append(MakeChunk(FChunkList.get(), from->ChunkType()));
            to->Assign(from);
        }
        FFilter = png->FFilter;
        FInterlaced = png->FInterlaced;
    }
    TBitmap::Assign(Source);
}

// ---- Registration ----------------------------------------------------------------

void RegisterPNGImage()
{
    static bool registered = [] {
        TPicture::RegisterFileFormat("png", "Portable Graphics Network",
                                     TGraphicClass{"TPNGImage", [] { return std::make_unique<TPNGImage>(); }});
        return true;
    }();
    (void)registered;
}

} // namespace kv
