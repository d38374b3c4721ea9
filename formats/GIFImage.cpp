// GIFImage: the block model. Each item reads and writes exactly its own block; what the
// reader can live with is reported as a warning, what it cannot raises GIFException.
#include "formats/GIFImage.h"

#include <algorithm>
#include <cstring>

namespace kv::GIFImage {

const char* const GIFVersions[3] = {"", "87a", "89a"};

namespace {

constexpr uint8_t bsExtensionIntroducer = 0x21; // '!'
constexpr uint8_t bsImageSeparator = 0x2C;      // ','
constexpr uint8_t bsTrailer = 0x3B;             // ';'

constexpr const char* sPrematureEnd = "Premature end of data";
constexpr const char* sInvalidColor = "Invalid color index";

// Every fixed-size read of the model goes through here.
void ReadExact(TStream& Stream, void* Buffer, int64_t Count)
{
    if (Stream.Read(Buffer, Count) != Count)
        throw GIFException(sPrematureEnd);
}

uint8_t ReadByte(TStream& Stream)
{
    uint8_t b;
    ReadExact(Stream, &b, 1);
    return b;
}

bool TryReadByte(TStream& Stream, uint8_t& b) { return Stream.Read(&b, 1) == 1; }

void WriteByte(TStream& Stream, uint8_t b) { Stream.WriteBuffer(&b, 1); }

// Data sub-blocks: a length byte and that many bytes, up to a zero length.
void ReadSubBlocksAsStrings(TStream& Stream, TStringList& Text)
{
    Text.Clear();
    for (;;) {
        uint8_t n = ReadByte(Stream);
        if (n == 0)
            break;
        std::string s(n, '\0');
        ReadExact(Stream, s.data(), n);
        Text.Add(s);
    }
}

void WriteStringsAsSubBlocks(TStream& Stream, TStringList& Text)
{
    for (int32_t i = 0; i < Text.Count(); ++i) {
        const std::string& s = Text[i];
        for (size_t p = 0; p < s.size(); p += 255) {
            size_t n = std::min<size_t>(255, s.size() - p);
            WriteByte(Stream, uint8_t(n));
            Stream.WriteBuffer(s.data() + p, int64_t(n));
        }
    }
    WriteByte(Stream, 0);
}

void SkipSubBlocks(TStream& Stream)
{
    for (;;) {
        uint8_t n;
        if (!TryReadByte(Stream, n) || n == 0)
            return;
        if (Stream.Remaining() < n)
            throw GIFException(sPrematureEnd);
        Stream.Seek(n, soCurrent);
    }
}

} // namespace

TGIFSettings& GIFSettings()
{
    static TGIFSettings settings;
    return settings;
}

// ---------------------------------------------------------------------------------------
// TGIFItem

void TGIFItem::Warning(TGIFSeverity Severity, const std::string& Message)
{
    if (FImage)
        FImage->Warning(this, Severity, Message);
}

void TGIFItem::SaveToFile(const std::string& FileName)
{
    SaveFileSafely(FileName, [this](TStream& Stream) { SaveToStream(Stream); });
}

void TGIFItem::LoadFromFile(const std::string& FileName)
{
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

// ---------------------------------------------------------------------------------------
// TGIFColorMap

void TGIFColorMap::SetCount(int32_t Value)
{
    FCount = Value;
    // Capacity as the table would grow it: 16, then multiples of 32, never above 256.
    FCapacity = Value == 0 ? 0 : Value <= 16 ? 16 : std::min(256, (Value + 31) / 32 * 32);
}

int32_t TGIFColorMap::Add(TGIFColor Color)
{
    if (FCount >= MaxColors)
        throw GIFException("Color table overflow");
    int32_t index = FCount;
    FData[size_t(index) * 3] = Color.Red;
    FData[size_t(index) * 3 + 1] = Color.Green;
    FData[size_t(index) * 3 + 2] = Color.Blue;
    SetCount(FCount + 1);
    FOptimized = false;
    Changed();
    return index;
}

int32_t TGIFColorMap::AddUnique(TGIFColor Color)
{
    int32_t index = IndexOf(Color);
    return index >= 0 ? index : Add(Color);
}

int32_t TGIFColorMap::IndexOf(TGIFColor Color) const
{
    auto matches = [&](int32_t i) {
        return FData[size_t(i) * 3] == Color.Red && FData[size_t(i) * 3 + 1] == Color.Green &&
               FData[size_t(i) * 3 + 2] == Color.Blue;
    };
    // A sorted table has its most used colours first.
    if (FOptimized) {
        for (int32_t i = 0; i < FCount; ++i)
            if (matches(i))
                return i;
    } else {
        for (int32_t i = FCount - 1; i >= 0; --i)
            if (matches(i))
                return i;
    }
    return -1;
}

void TGIFColorMap::Delete(int32_t Index)
{
    if (Index < 0 || Index >= FCount)
        throw GIFException(sInvalidColor);
    std::memmove(&FData[size_t(Index) * 3], &FData[size_t(Index + 1) * 3], size_t(FCount - Index - 1) * 3);
    SetCount(FCount - 1);
    FOptimized = false;
    Changed();
}

void TGIFColorMap::Clear()
{
    FData.fill(0);
    SetCount(0);
    FOptimized = false;
    Changed();
}

TGIFColor TGIFColorMap::Colors(int32_t Index)
{
    if (Index < 0 || Index >= FCount) {
        Warning(1, sInvalidColor);
        if (FCount == 0)
            throw GIFException("Color table is empty");
        Index = 0;
    }
    return TGIFColor{FData[size_t(Index) * 3], FData[size_t(Index) * 3 + 1], FData[size_t(Index) * 3 + 2]};
}

void TGIFColorMap::SetColors(int32_t Index, TGIFColor Color)
{
    if (Index < 0 || Index >= FCount) {
        Warning(1, sInvalidColor);
        return;
    }
    FData[size_t(Index) * 3] = Color.Red;
    FData[size_t(Index) * 3 + 1] = Color.Green;
    FData[size_t(Index) * 3 + 2] = Color.Blue;
    Changed();
}

void TGIFColorMap::ImportRGB(const uint32_t* RGBQuads, int32_t Count)
{
    Clear();
    Count = std::clamp(Count, 0, MaxColors);
    for (int32_t i = 0; i < Count; ++i)
        Add(TGIFColor{uint8_t(RGBQuads[i] >> 16), uint8_t(RGBQuads[i] >> 8), uint8_t(RGBQuads[i])});
}

void TGIFColorMap::ImportPalette(const TGIFPalette& Palette)
{
    Clear();
    int32_t n = std::min<int32_t>(int32_t(Palette.size()), MaxColors);
    for (int32_t i = 0; i < n; ++i)
        Add(TGIFColor{Palette[size_t(i)].Red, Palette[size_t(i)].Green, Palette[size_t(i)].Blue});
}

TGIFPalette TGIFColorMap::ExportPalette() const
{
    TGIFPalette pal(static_cast<size_t>(FCount));
    for (int32_t i = 0; i < FCount; ++i)
        pal[size_t(i)] = TGIFPaletteEntry{FData[size_t(i) * 3], FData[size_t(i) * 3 + 1], FData[size_t(i) * 3 + 2], 4};
    return pal;
}

int32_t TGIFColorMap::BitsPerPixel() const
{
    if (FCount == 0)
        return 0;
    int32_t n = 1;
    while ((1 << n) < FCount)
        ++n;
    return n;
}

void TGIFColorMap::Optimize()
{
    if (FCount <= 1)
        return;
    std::vector<std::pair<uint32_t, int32_t>> histogram(static_cast<size_t>(FCount));
    for (int32_t i = 0; i < FCount; ++i)
        histogram[size_t(i)] = {0, i};
    BuildHistogram(histogram);
    // Ties keep their old order so that an already sorted table stays as it is.
    std::stable_sort(histogram.begin(), histogram.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    bool changed = false;
    for (int32_t i = 0; i < FCount; ++i)
        changed = changed || histogram[size_t(i)].second != i;
    if (!changed)
        return;
    std::array<uint8_t, 256> map{};
    for (int32_t i = 0; i < 256; ++i)
        map[size_t(i)] = uint8_t(i);
    std::array<uint8_t, 256 * 3> old = FData;
    for (int32_t newIndex = 0; newIndex < FCount; ++newIndex) {
        int32_t oldIndex = histogram[size_t(newIndex)].second;
        map[size_t(oldIndex)] = uint8_t(newIndex);
        std::memcpy(&FData[size_t(newIndex) * 3], &old[size_t(oldIndex) * 3], 3);
    }
    MapImages(map);
    FOptimized = true;
    Changed();
}

void TGIFColorMap::Assign(TPersistent* Source)
{
    if (auto* src = dynamic_cast<TGIFColorMap*>(Source)) {
        FData = src->FData;
        SetCount(src->FCount);
        FOptimized = src->FOptimized;
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

void TGIFColorMap::LoadFromStream(TStream& Stream, int32_t Count)
{
    Clear();
    ReadExact(Stream, FData.data(), int64_t(Count) * 3);
    SetCount(Count);
}

void TGIFColorMap::SaveToStream(TStream& Stream) const
{
    if (FCount == 0)
        return;
    Stream.WriteBuffer(FData.data(), int64_t(FCount) * 3);
    static const uint8_t zeros[256 * 3] = {};
    int32_t padded = (1 << BitsPerPixel()) - FCount;
    if (padded > 0)
        Stream.WriteBuffer(zeros, int64_t(padded) * 3);
}

namespace {
void CountPixels(TGIFSubImage& sub, std::vector<std::pair<uint32_t, int32_t>>& histogram)
{
    for (uint8_t index : sub.Data())
        if (index < histogram.size())
            ++histogram[index].first;
}

void RemapPixels(TGIFSubImage& sub, const std::array<uint8_t, 256>& map)
{
    for (uint8_t& index : sub.Data())
        index = map[index];
    if (auto* gce = sub.GraphicControlExtension())
        gce->SetTransparentColorIndex(map[gce->TransparentColorIndex()]);
    sub.FreeRender();
}
} // namespace

void TGIFGlobalColorMap::Warning(TGIFSeverity Severity, const std::string& Message)
{
    FHeaderItem->Warning(Severity, Message);
}

void TGIFGlobalColorMap::BuildHistogram(std::vector<std::pair<uint32_t, int32_t>>& Histogram)
{
    TGIFImage* image = FHeaderItem->Image();
    for (int32_t i = 0; image && i < image->Images().Count(); ++i)
        if (&image->Images()[i]->ActiveColorMap() == this)
            CountPixels(*image->Images()[i], Histogram);
}

void TGIFGlobalColorMap::MapImages(const std::array<uint8_t, 256>& Map)
{
    TGIFImage* image = FHeaderItem->Image();
    for (int32_t i = 0; image && i < image->Images().Count(); ++i)
        if (&image->Images()[i]->ActiveColorMap() == this)
            RemapPixels(*image->Images()[i], Map);
}

void TGIFLocalColorMap::Warning(TGIFSeverity Severity, const std::string& Message)
{
    FSubImage->Warning(Severity, Message);
}

void TGIFLocalColorMap::BuildHistogram(std::vector<std::pair<uint32_t, int32_t>>& Histogram)
{
    CountPixels(*FSubImage, Histogram);
}

void TGIFLocalColorMap::MapImages(const std::array<uint8_t, 256>& Map) { RemapPixels(*FSubImage, Map); }

// ---------------------------------------------------------------------------------------
// TGIFHeader

TGIFHeader::TGIFHeader(TGIFImage* AImage) : TGIFItem(AImage), FColorMap(this) {}

TGIFVersion TGIFHeader::Version() const { return (FColorMap.Optimized() || FAspectRatio != 0) ? gv89a : gv87a; }

void TGIFHeader::Clear()
{
    FColorMap.Clear();
    FWidth = FHeight = 0;
    FPacked = FBackgroundColorIndex = FAspectRatio = 0;
}

void TGIFHeader::Assign(TPersistent* Source)
{
    if (auto* src = dynamic_cast<TGIFHeader*>(Source)) {
        FWidth = src->FWidth;
        FHeight = src->FHeight;
        FPacked = src->FPacked;
        FBackgroundColorIndex = src->FBackgroundColorIndex;
        FAspectRatio = src->FAspectRatio;
        FColorMap.Assign(&src->FColorMap);
        return;
    }
    TGIFItem::Assign(Source);
}

void TGIFHeader::Prepare()
{
    uint8_t packed = 0;
    if (FColorMap.Count() > 0)
        packed = FColorMap.Optimized() ? 0x88 : 0x80;
    int32_t bpp = FImage ? FImage->BitsPerPixel() : std::max(1, FColorMap.BitsPerPixel());
    int32_t resolution = bpp - 1;
    packed = uint8_t(packed | ((resolution << 4) & 0x70) | ((bpp - 1) & 7));
    FPacked = packed;
}

void TGIFHeader::LoadFromStream(TStream& Stream)
{
    int64_t start = Stream.Position();
    uint8_t sig[6];
    ReadExact(Stream, sig, 6);
    auto isGIF = [&] {
        return std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' && std::toupper(sig[2]) == 'F';
    };
    if (!isGIF()) {
        // Some writers put a 4-byte prefix before the signature.
        Stream.Seek(start + 4, soBeginning);
        if (Stream.Read(sig, 6) != 6 || !isGIF())
            throw GIFException("Invalid GIF signature");
    }
    // Logical Screen Descriptor: Width u16, Height u16, Packed, BackgroundColorIndex, AspectRatio.
    uint8_t lsd[7];
    static_assert(sizeof(lsd) == 7);
    ReadExact(Stream, lsd, 7);
    FWidth = GetU16LE(lsd);
    FHeight = GetU16LE(lsd + 2);
    FPacked = lsd[4];
    FBackgroundColorIndex = lsd[5];
    FAspectRatio = lsd[6];
    // Every render allocates the whole screen: one that frames filling the rest of the
    // stream could not cover (the bound each frame meets) is refused, not left to cost
    // a gigabyte per paste of a few bytes.
    if (int64_t(FWidth) * FHeight > std::max<int64_t>(0, Stream.Remaining()) * 4 * 4096)
        throw GIFException("Invalid GIF data");
    if (FPacked & 0x80) {
        int32_t count = 1 << ((FPacked & 7) + 1);
        if (count < 2 || count > 256)
            throw GIFException("Invalid number of colors specified in Screen Descriptor");
        FColorMap.LoadFromStream(Stream, count);
        FColorMap.SetOptimized((FPacked & 0x08) != 0);
    } else
        FColorMap.Clear();
}

void TGIFHeader::SaveToStream(TStream& Stream)
{
    TGIFVersion version = FImage ? FImage->Version() : Version();
    if (version == gvUnknown)
        throw GIFException("Unsupported GIF version");
    Prepare();
    Stream.WriteBuffer("GIF", 3);
    Stream.WriteBuffer(GIFVersions[version], 3);
    uint8_t lsd[7];
    PutU16LE(lsd, FWidth);
    PutU16LE(lsd + 2, FHeight);
    lsd[4] = FPacked;
    lsd[5] = FBackgroundColorIndex;
    lsd[6] = FAspectRatio;
    Stream.WriteBuffer(lsd, 7);
    if (FPacked & 0x80) {
        FColorMap.SaveToStream(Stream);
        // The size field counts the widest table of the picture; a frame's local table
        // can be wider than this one, and a reader takes as many entries as the field says.
        const int32_t written = 1 << FColorMap.BitsPerPixel();
        const int32_t stated = 1 << ((FPacked & 7) + 1);
        static const uint8_t zeros[256 * 3] = {};
        if (stated > written)
            Stream.WriteBuffer(zeros, int64_t(stated - written) * 3);
    }
}

// ---------------------------------------------------------------------------------------
// Extensions

namespace {

const TGIFExtensionClass* SameClass(const TGIFExtensionClass* Self, TStream&) { return Self; }

// Looks at the block size and the identifier to pick the application class.
const TGIFExtensionClass* FindApplicationSubClass(const TGIFExtensionClass* Self, TStream& Stream)
{
    int64_t start = Stream.Position();
    uint8_t size;
    if (!TryReadByte(Stream, size))
        return Self;
    if (size == 10) {
        uint8_t skip[10];
        if (Stream.Read(skip, 10) != 10)
            return nullptr;
        return &TGIFUnknownAppExtension::Class;
    }
    if (size == 11) {
        TGIFApplicationRec ident;
        if (Stream.Read(ident.data(), 11) == 11) {
            const TGIFExtensionClass* cls = FindAppExtensionClass(ident);
            return cls ? cls : &TGIFUnknownAppExtension::Class;
        }
    } else if (size > 11) {
        // Read by its real length and kept as opaque sub-blocks.
        return &TGIFUnknownAppExtension::Class;
    }
    Stream.Seek(start, soBeginning);
    return Self;
}

template <class T> std::unique_ptr<TGIFExtension> Make(TGIFSubImage* SubImage) { return std::make_unique<T>(SubImage); }

struct TRegistries {
    std::vector<const TGIFExtensionClass*> Extensions;
    std::vector<std::pair<TGIFApplicationRec, const TGIFExtensionClass*>> AppExtensions;
};

TGIFApplicationRec Ident(const char* s)
{
    TGIFApplicationRec r{};
    std::memcpy(r.data(), s, 11);
    return r;
}

// Created on first use, lives until the program ends.
TRegistries& Registries()
{
    static TRegistries r = [] {
        TRegistries init;
        init.Extensions = {&TGIFTextExtension::Class, &TGIFGraphicControlExtension::Class, &TGIFCommentExtension::Class,
                           &TGIFApplicationExtension::Class};
        init.AppExtensions = {{Ident("NETSCAPE2.0"), &TGIFAppExtNSLoop::Class},
                              {Ident("ANIMEXTS1.0"), &TGIFAppExtNSLoop::Class}};
        return init;
    }();
    return r;
}

} // namespace

const TGIFExtensionClass TGIFGraphicControlExtension::Class{"TGIFGraphicControlExtension", 0xF9,
                                                            &Make<TGIFGraphicControlExtension>, &SameClass};
const TGIFExtensionClass TGIFTextExtension::Class{"TGIFTextExtension", 0x01, &Make<TGIFTextExtension>, &SameClass};
const TGIFExtensionClass TGIFCommentExtension::Class{"TGIFCommentExtension", 0xFE, &Make<TGIFCommentExtension>,
                                                     &SameClass};
const TGIFExtensionClass TGIFApplicationExtension::Class{"TGIFApplicationExtension", 0xFF,
                                                         &Make<TGIFApplicationExtension>, &FindApplicationSubClass};
const TGIFExtensionClass TGIFUnknownAppExtension::Class{"TGIFUnknownAppExtension", 0xFF, &Make<TGIFUnknownAppExtension>,
                                                        &FindApplicationSubClass};
const TGIFExtensionClass TGIFAppExtNSLoop::Class{"TGIFAppExtNSLoop", 0xFF, &Make<TGIFAppExtNSLoop>,
                                                 &FindApplicationSubClass};

const TGIFExtensionClass* FindExtensionClass(uint8_t Label)
{
    auto& list = Registries().Extensions;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if ((*it)->Label == Label)
            return *it;
    return nullptr;
}

const TGIFExtensionClass* FindAppExtensionClass(const TGIFApplicationRec& AIdent)
{
    auto& list = Registries().AppExtensions;
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->first == AIdent)
            return it->second;
    return nullptr;
}

void RegisterExtensionClass(const TGIFExtensionClass* Class) { Registries().Extensions.push_back(Class); }

void RegisterAppExtensionClass(const TGIFApplicationRec& AIdent, const TGIFExtensionClass* Class)
{
    Registries().AppExtensions.emplace_back(AIdent, Class);
}

const TGIFExtensionClass* FindExtension(TStream& Stream)
{
    int64_t start = Stream.Position();
    uint8_t label;
    const TGIFExtensionClass* cls = nullptr;
    if (TryReadByte(Stream, label)) {
        cls = FindExtensionClass(label);
        int64_t afterLabel = Stream.Position();
        // Descend until a class answers for itself; a cycle cannot last longer than the
        // number of classes there are.
        for (int guard = 0; cls && guard < 64; ++guard) {
            const TGIFExtensionClass* answer = cls->FindSubExtension(cls, Stream);
            Stream.Seek(afterLabel, soBeginning);
            if (answer == cls)
                break;
            cls = answer;
        }
    }
    Stream.Seek(start, soBeginning);
    return cls;
}

TGIFExtension::TGIFExtension(TGIFSubImage* ASubImage)
    : TGIFItem(ASubImage ? ASubImage->Image() : nullptr), FSubImage(ASubImage)
{
}

void TGIFExtension::SaveToStream(TStream& Stream)
{
    WriteByte(Stream, bsExtensionIntroducer);
    WriteByte(Stream, ExtensionType());
}

void TGIFExtension::LoadFromStream(TStream& Stream)
{
    if (ReadByte(Stream) != bsExtensionIntroducer)
        throw GIFException("Invalid extension introducer");
    if (ReadByte(Stream) != ExtensionType())
        throw GIFException("Internal error: Extension Instance does not match Extension Label");
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* ASubImage) : TGIFExtension(ASubImage)
{
    if (FSubImage && !FSubImage->GraphicControlExtension())
        FSubImage->SetGraphicControlExtension(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension()
{
    if (FSubImage && FSubImage->GraphicControlExtension() == this)
        FSubImage->SetGraphicControlExtension(nullptr);
}

void TGIFGraphicControlExtension::SetTransparent(bool Value)
{
    FPacked = uint8_t(Value ? (FPacked | 0x01) : (FPacked & ~0x01));
    if (FSubImage)
        FSubImage->SetTransparentFlag(Value);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(uint8_t Value)
{
    if (FSubImage) {
        TGIFColorMap& map = FSubImage->ActiveColorMap();
        if (map.Count() > 0 && Value >= map.Count()) {
            Warning(1, sInvalidColor);
            Value = 0;
        }
    }
    FTransparentColorIndex = Value;
}

void TGIFGraphicControlExtension::SaveToStream(TStream& Stream)
{
    TGIFExtension::SaveToStream(Stream);
    // BlockSize, Packed, Delay (LE), TransparentColorIndex, terminator.
    uint8_t rec[6] = {FBlockSize, FPacked, 0, 0, FTransparentColorIndex, FTerminator};
    static_assert(sizeof(rec) == 6);
    PutU16LE(rec + 2, FDelay);
    Stream.WriteBuffer(rec, 6);
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    uint8_t rec[6] = {};
    if (Stream.Read(rec, 6) != 6)
        Warning(1, sPrematureEnd);
    FBlockSize = rec[0];
    FPacked = rec[1];
    FDelay = GetU16LE(rec + 2);
    FTransparentColorIndex = rec[4];
    FTerminator = rec[5];
    if ((FPacked & 0x01) && FSubImage)
        FSubImage->SetTransparentFlag(true);
}

std::unique_ptr<TGIFExtension> TGIFGraphicControlExtension::Clone(TGIFSubImage* ASubImage) const
{
    auto copy = std::make_unique<TGIFGraphicControlExtension>(ASubImage);
    copy->FBlockSize = FBlockSize;
    copy->FPacked = FPacked;
    copy->FDelay = FDelay;
    copy->FTransparentColorIndex = FTransparentColorIndex;
    copy->FTerminator = FTerminator;
    if (Transparent() && ASubImage && ASubImage->GraphicControlExtension() == copy.get())
        ASubImage->SetTransparentFlag(true);
    return copy;
}

void TGIFTextExtension::SaveToStream(TStream& Stream)
{
    TGIFExtension::SaveToStream(Stream);
    uint8_t rec[13];
    static_assert(sizeof(rec) == 13);
    rec[0] = BlockSize;
    PutU16LE(rec + 1, Left);
    PutU16LE(rec + 3, Top);
    PutU16LE(rec + 5, GridWidth);
    PutU16LE(rec + 7, GridHeight);
    rec[9] = CharWidth;
    rec[10] = CharHeight;
    rec[11] = ForegroundColorIndex;
    rec[12] = BackgroundColorIndex;
    Stream.WriteBuffer(rec, 13);
    WriteStringsAsSubBlocks(Stream, FText);
}

void TGIFTextExtension::LoadFromStream(TStream& Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    uint8_t rec[13];
    ReadExact(Stream, rec, 13);
    BlockSize = rec[0];
    Left = GetU16LE(rec + 1);
    Top = GetU16LE(rec + 3);
    GridWidth = GetU16LE(rec + 5);
    GridHeight = GetU16LE(rec + 7);
    CharWidth = rec[9];
    CharHeight = rec[10];
    ForegroundColorIndex = rec[11];
    BackgroundColorIndex = rec[12];
    ReadSubBlocksAsStrings(Stream, FText);
}

std::unique_ptr<TGIFExtension> TGIFTextExtension::Clone(TGIFSubImage* ASubImage) const
{
    auto copy = std::make_unique<TGIFTextExtension>(ASubImage);
    copy->BlockSize = BlockSize;
    copy->Left = Left;
    copy->Top = Top;
    copy->GridWidth = GridWidth;
    copy->GridHeight = GridHeight;
    copy->CharWidth = CharWidth;
    copy->CharHeight = CharHeight;
    copy->ForegroundColorIndex = ForegroundColorIndex;
    copy->BackgroundColorIndex = BackgroundColorIndex;
    copy->FText.Assign(const_cast<TStringList*>(&FText));
    return copy;
}

void TGIFCommentExtension::SaveToStream(TStream& Stream)
{
    TGIFExtension::SaveToStream(Stream);
    WriteStringsAsSubBlocks(Stream, FText);
}

void TGIFCommentExtension::LoadFromStream(TStream& Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    ReadSubBlocksAsStrings(Stream, FText);
}

std::unique_ptr<TGIFExtension> TGIFCommentExtension::Clone(TGIFSubImage* ASubImage) const
{
    auto copy = std::make_unique<TGIFCommentExtension>(ASubImage);
    copy->FText.Assign(const_cast<TStringList*>(&FText));
    return copy;
}

void TGIFApplicationExtension::SaveToStream(TStream& Stream)
{
    TGIFExtension::SaveToStream(Stream);
    WriteByte(Stream, 11);
    Stream.WriteBuffer(FIdent.data(), 11);
    SaveData(Stream);
}

void TGIFApplicationExtension::LoadFromStream(TStream& Stream)
{
    TGIFExtension::LoadFromStream(Stream);
    uint8_t size = ReadByte(Stream);
    if (size < 10)
        throw GIFException("Unsupported Application Extension block size");
    FIdent.fill(0);
    ReadExact(Stream, FIdent.data(), std::min<int64_t>(size, 11));
    if (size > 11) {
        if (Stream.Remaining() < size - 11)
            throw GIFException(sPrematureEnd);
        Stream.Seek(size - 11, soCurrent);
    }
    LoadData(Stream);
}

// The plain class knows nothing of the data: it is skipped, and written back empty.
void TGIFApplicationExtension::SaveData(TStream& Stream) { WriteByte(Stream, 0); }
void TGIFApplicationExtension::LoadData(TStream& Stream) { SkipSubBlocks(Stream); }

std::unique_ptr<TGIFExtension> TGIFApplicationExtension::Clone(TGIFSubImage* ASubImage) const
{
    auto copy = std::make_unique<TGIFApplicationExtension>(ASubImage);
    copy->FIdent = FIdent;
    return copy;
}

void TGIFUnknownAppExtension::SaveData(TStream& Stream)
{
    for (const TGIFBlock& block : FBlocks) {
        WriteByte(Stream, block.Size);
        Stream.WriteBuffer(block.Data.data(), block.Size);
    }
    WriteByte(Stream, 0);
}

void TGIFUnknownAppExtension::LoadData(TStream& Stream)
{
    FBlocks.clear();
    for (;;) {
        uint8_t n = ReadByte(Stream);
        if (n == 0)
            break;
        TGIFBlock block;
        block.Size = n;
        block.Data.resize(n);
        ReadExact(Stream, block.Data.data(), n);
        FBlocks.push_back(std::move(block));
    }
}

std::unique_ptr<TGIFExtension> TGIFUnknownAppExtension::Clone(TGIFSubImage* ASubImage) const
{
    auto copy = std::make_unique<TGIFUnknownAppExtension>(ASubImage);
    copy->FIdent = FIdent;
    copy->FBlocks = FBlocks;
    return copy;
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* ASubImage) : TGIFApplicationExtension(ASubImage)
{
    FIdent = GIFImage::Ident("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::SaveData(TStream& Stream)
{
    // Sub-block 1: the loop count; sub-block 2: the buffer size, only when given.
    uint8_t loops[4] = {3, 1, 0, 0};
    PutU16LE(loops + 2, FLoops);
    Stream.WriteBuffer(loops, 4);
    if (FBufferSize != 0) {
        uint8_t buffer[6] = {5, 2, 0, 0, 0, 0};
        PutU32LE(buffer + 2, FBufferSize);
        Stream.WriteBuffer(buffer, 6);
    }
    WriteByte(Stream, 0);
}

void TGIFAppExtNSLoop::LoadData(TStream& Stream)
{
    for (;;) {
        uint8_t n = ReadByte(Stream);
        if (n == 0)
            break;
        uint8_t block[255];
        ReadExact(Stream, block, n);
        uint8_t id = block[0] & 7;
        if (id == 1) {
            if (n - 1 < 2)
                throw GIFException("Invalid GIF data");
            FLoops = GetU16LE(block + 1);
        } else if (id == 2) {
            if (n - 1 < 4)
                throw GIFException("Invalid GIF data");
            FBufferSize = GetU32LE(block + 1);
        }
    }
}

std::unique_ptr<TGIFExtension> TGIFAppExtNSLoop::Clone(TGIFSubImage* ASubImage) const
{
    auto copy = std::make_unique<TGIFAppExtNSLoop>(ASubImage);
    copy->FIdent = FIdent;
    copy->FLoops = FLoops;
    copy->FBufferSize = FBufferSize;
    return copy;
}

TGIFExtension* TGIFExtensionList::Add(std::unique_ptr<TGIFExtension> Item)
{
    FItems.push_back(std::move(Item));
    return FItems.back().get();
}

void TGIFExtensionList::Delete(int32_t Index)
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    FItems.erase(FItems.begin() + Index);
}

void TGIFExtensionList::Remove(TGIFExtension* Item)
{
    for (int32_t i = 0; i < Count(); ++i)
        if (FItems[size_t(i)].get() == Item) {
            Delete(i);
            return;
        }
}

void TGIFExtensionList::Clear() { FItems.clear(); }

void TGIFExtensionList::LoadFromStream(TStream& Stream, TGIFSubImage* Parent)
{
    uint8_t b;
    if (!TryReadByte(Stream, b))
        return;
    while (b != bsImageSeparator && b != bsTrailer) {
        if (b != bsExtensionIntroducer) {
            Parent->Warning(1, "Invalid extension introducer");
            break;
        }
        const TGIFExtensionClass* cls = FindExtension(Stream);
        if (!cls)
            throw GIFException("Unknown extension type");
        Stream.Seek(-1, soCurrent);
        std::unique_ptr<TGIFExtension> ext = cls->Create(Parent);
        ext->LoadFromStream(Stream);
        Add(std::move(ext));
        if (!TryReadByte(Stream, b))
            return;
    }
    Stream.Seek(-1, soCurrent);
}

void TGIFExtensionList::SaveToStream(TStream& Stream)
{
    for (auto& ext : FItems)
        ext->SaveToStream(Stream);
}

// ---------------------------------------------------------------------------------------
// TGIFSubImage

TGIFSubImage::TGIFSubImage(TGIFImage* AImage) : TGIFItem(AImage), FColorMap(this), FExtensions(this) {}

TGIFSubImage::~TGIFSubImage()
{
    // The graphic control extension clears its link back to us as it goes.
    FExtensions.Clear();
}

TGIFVersion TGIFSubImage::Version() const { return (FColorMap.Optimized() || FExtensions.Count() > 0) ? gv89a : gv87a; }

void TGIFSubImage::Clear()
{
    FExtensions.Clear();
    FColorMap.Clear();
    FData.clear();
    FData.shrink_to_fit();
    FreeRender();
    FLeft = FTop = FWidth = FHeight = 0;
    FPacked = 0;
    FTransparent = false;
    FGCE = nullptr;
}

void TGIFSubImage::SetSize(uint16_t AWidth, uint16_t AHeight)
{
    FWidth = AWidth;
    FHeight = AHeight;
    FData.assign(size_t(AWidth) * AHeight, 0);
    FreeRender();
}

TGIFColorMap& TGIFSubImage::ActiveColorMap()
{
    if (FColorMap.Count() > 0 || !FImage)
        return FColorMap;
    return FImage->GlobalColorMap();
}

int32_t TGIFSubImage::BitsPerPixel() { return ActiveColorMap().BitsPerPixel(); }

int32_t TGIFSubImage::ColorResolution() { return BitsPerPixel() - 1; }

void TGIFSubImage::LoadFromStream(TStream& Stream)
{
    Clear();
    FExtensions.LoadFromStream(Stream, this);
    uint8_t b;
    if (!TryReadByte(Stream, b))
        return;
    Stream.Seek(-1, soCurrent);
    // An extension-only block before the trailer (or anything that is no image
    // descriptor) leaves the sub-image without picture.
    if (b != bsImageSeparator)
        return;
    // Image Descriptor: Separator, Left u16, Top u16, Width u16, Height u16, Packed.
    uint8_t desc[10];
    static_assert(sizeof(desc) == 10);
    ReadExact(Stream, desc, 10);
    FSeparator = desc[0];
    FLeft = GetU16LE(desc + 1);
    FTop = GetU16LE(desc + 3);
    FWidth = GetU16LE(desc + 5);
    FHeight = GetU16LE(desc + 7);
    FPacked = desc[9];
    if (FWidth == 0 || FHeight == 0) {
        FWidth = FImage ? uint16_t(FImage->Width()) : 0;
        FHeight = FImage ? uint16_t(FImage->Height()) : 0;
        Warning(1, "Image exceeds Logical Screen size");
    }
    if (FPacked & 0x80) {
        int32_t count = 1 << ((FPacked & 7) + 1);
        if (count < 2 || count > 256)
            throw GIFException("Invalid number of colors specified in Image Descriptor");
        FColorMap.LoadFromStream(Stream, count);
        FColorMap.SetOptimized((FPacked & 0x20) != 0);
    }
    Decode(Stream);
}

void TGIFSubImage::Decode(TStream& Stream) { DecodeSubImage(*this, Stream); }

void TGIFSubImage::Encode(TStream& Stream)
{
    int32_t bpp;
    int32_t colorCount;
    if (FColorMap.Count() > 0) {
        bpp = FColorMap.BitsPerPixel();
        colorCount = FColorMap.Count();
    } else {
        bpp = FImage ? FImage->BitsPerPixel() : 8;
        colorCount = 1 << bpp;
    }
    uint8_t compression = FImage ? FImage->Compression() : 0;
    EncodeImageData(Stream, bpp, colorCount, FData.data(), Interlaced(), FWidth, FHeight, compression);
}

void TGIFSubImage::SaveToStream(TStream& Stream)
{
    FExtensions.SaveToStream(Stream);
    if (FData.empty() || FWidth == 0 || FHeight == 0)
        return;
    if (FColorMap.Count() > 0)
        FPacked = uint8_t((FColorMap.Optimized() ? 0xA0 : 0x80) | ((FColorMap.BitsPerPixel() - 1) & 7));
    else
        FPacked &= 0x58;
    uint8_t desc[10];
    desc[0] = bsImageSeparator;
    PutU16LE(desc + 1, FLeft);
    PutU16LE(desc + 3, FTop);
    PutU16LE(desc + 5, FWidth);
    PutU16LE(desc + 7, FHeight);
    desc[9] = FPacked;
    Stream.WriteBuffer(desc, 10);
    FColorMap.SaveToStream(Stream);
    Encode(Stream);
}

// ---------------------------------------------------------------------------------------
// Trailer and image list

void TGIFTrailer::SaveToStream(TStream& Stream) { WriteByte(Stream, bsTrailer); }

void TGIFTrailer::LoadFromStream(TStream& Stream)
{
    uint8_t b;
    if (TryReadByte(Stream, b) && b != bsTrailer)
        Warning(1, "Invalid Image trailer");
}

int32_t TGIFImageList::Add(std::unique_ptr<TGIFSubImage> Item)
{
    FItems.push_back(std::move(Item));
    return Count() - 1;
}

void TGIFImageList::Delete(int32_t Index)
{
    if (Index < 0 || Index >= Count())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    FItems.erase(FItems.begin() + Index);
}

void TGIFImageList::Clear() { FItems.clear(); }

void TGIFImageList::LoadFromStream(TStream& Stream, TGIFImage* Parent)
{
    for (;;) {
        uint8_t b;
        bool got;
        do
            got = TryReadByte(Stream, b);
        while (got && b == 0);
        if (!got)
            return; // no trailer: the trailer reader finds nothing and says nothing
        Stream.Seek(-1, soCurrent);
        if (b == bsTrailer)
            return;
        if (b != bsExtensionIntroducer && b != bsImageSeparator) {
            Parent->Warning(Parent, 1, "Unknown GIF block type");
            return;
        }
        auto sub = std::make_unique<TGIFSubImage>(Parent);
        sub->LoadFromStream(Stream);
        Add(std::move(sub));
        int64_t size = Stream.Size();
        Parent->Progress(Parent, psRunning, size > 0 ? int32_t(Stream.Position() * 100 / size) : 0, "Loading...");
    }
}

void TGIFImageList::SaveToStream(TStream& Stream)
{
    for (int32_t i = 0; i < Count(); ++i) {
        FItems[size_t(i)]->SaveToStream(Stream);
        FImage->Progress(FImage, psRunning, (i + 1) * 100 / Count(), "Saving...");
    }
}

} // namespace kv::GIFImage

namespace kv::GIFImage {

void TGIFSubImage::Assign(TPersistent* Source)
{
    if (Source == this)
        return;
    if (auto* src = dynamic_cast<TGIFSubImage*>(Source)) {
        Clear();
        FLeft = src->FLeft;
        FTop = src->FTop;
        FWidth = src->FWidth;
        FHeight = src->FHeight;
        FPacked = src->FPacked;
        FSeparator = src->FSeparator;
        FData = src->FData;
        FColorMap.Assign(&src->FColorMap);
        FNeedMask = src->FNeedMask;
        for (int32_t i = 0; i < src->FExtensions.Count(); ++i)
            FExtensions.Add(src->FExtensions.Extensions(i)->Clone(this));
        FTransparent = src->FTransparent;
        return;
    }
    AssignGraphic(Source);
}

} // namespace kv::GIFImage
