#include "formats/AniFile.h"

#include "formats/CtrlUtils.h"
#include "formats/KvGraph.h"
#include "formats/MaxMin.h"

#include <algorithm>
#include <cstring>

namespace kv {

namespace {

[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }

bool IsId(const uint8_t* P, const char* Id) { return std::memcmp(P, Id, 4) == 0; }

// Everything after the stream's position, at most this much.
constexpr int64_t MaxCursorFile = int64_t(1) << 28;

std::string ShortString(const uint8_t* P, uint32_t Size)
{
    size_t n = std::min<uint32_t>(Size, 255);
    std::string s(reinterpret_cast<const char*>(P), n);
    if (size_t nul = s.find('\0'); nul != std::string::npos)
        s.resize(nul);
    return s;
}

int32_t ColorsOfBitCount(uint16_t Bits)
{
    switch (Bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

} // namespace

TIconFrame::TIconFrame(int32_t Index, uint32_t Rate) : FJiffRate(Rate), FSeq(Index) {}
TIconFrame::~TIconFrame() = default;

void TIconFrame::Assign(TPersistent* Source)
{
    if (auto* f = dynamic_cast<TIconFrame*>(Source)) {
        if (f == this)
            return;
        if (f->FIcon) {
            if (!FIcon)
                FIcon = std::make_unique<TIcon>();
            FIcon->Assign(f->FIcon.get());
        } else {
            FIcon.reset();
        }
        FIsIcon = f->FIsIcon;
        FTagName = f->FTagName;
        FTagSize = f->FTagSize;
        FHotSpot = f->FHotSpot;
        FJiffRate = f->FJiffRate;
        FSeq = f->FSeq;
        return;
    }
    TPersistent::Assign(Source);
}

TAnimatedCursorImage::TAnimatedCursorImage() = default;
TAnimatedCursorImage::~TAnimatedCursorImage() = default;

void TAnimatedCursorImage::Clear()
{
    FFrames.clear();
    FTitle.clear();
    FCreator.clear();
    FHeader = TAniHeader{};
    FIcons = 0;
}

TIconFrame* TAnimatedCursorImage::Frames(int32_t Index) const
{
    if (Index < 0 || Index >= FrameCount())
        throw EListError("List index out of bounds (" + IntToStr(Index) + ")");
    return FFrames[size_t(Index)].get();
}

void TAnimatedCursorImage::LoadFromStream(TStream& Stream)
{
    int64_t left = Stream.Size() - Stream.Position();
    if (left <= 0)
        return;
    if (left > MaxCursorFile)
        ReadError();
    std::vector<uint8_t> buf(static_cast<size_t>(left));
    Stream.ReadBuffer(buf.data(), left);
    Parse(buf);
}

void TAnimatedCursorImage::SaveToStream(TStream&)
{
    // Writing is not offered: the user is told so and the operation ends silently.
    ShowNotAvailable();
}

void TAnimatedCursorImage::LoadFromFile(const std::string& FileName)
{
    TFileStream f(FileName, fmOpenRead | fmShareDenyNone);
    LoadFromStream(f);
}

void TAnimatedCursorImage::ReadIcon(const uint8_t* Data, uint32_t Size, int32_t Number)
{
    std::vector<uint8_t> bytes(Data, Data + Size);
    bool isIcon = true;
    TPoint hotSpot;
    if (Size >= 6) {
        uint16_t type = GetU16LE(bytes.data() + 2);
        isIcon = type != 2;
        if (type == 2)
            PutU16LE(bytes.data() + 2, 1); // the platform icon class reads cursors as icons
        uint16_t count = GetU16LE(bytes.data() + 4);
        for (uint32_t i = 0; i < count && 6 + 16 * (i + 1) <= Size; ++i) {
            const uint8_t* e = bytes.data() + 6 + 16 * i;
            uint32_t offset = GetU32LE(e + 12);
            if (offset <= Size && Size - offset >= 16)
                FIcons = std::max(FIcons, ColorsOfBitCount(GetU16LE(bytes.data() + offset + 14)));
            // An icon's centre; a width or height byte of 0 stands for 256 pixels.
            if (isIcon)
                hotSpot = {(e[0] ? e[0] : 256) / 2, (e[1] ? e[1] : 256) / 2};
            else
                hotSpot = {GetU16LE(e + 4), GetU16LE(e + 6)};
        }
    }
    auto icon = std::make_unique<TIcon>();
    try {
        TReadOnlyMemoryStream m(bytes.data(), int64_t(bytes.size()));
        icon->LoadFromStream(m);
    } catch (const Exception&) {
        return; // an unreadable image gives no icon; its frames are dropped at the end
    }
    auto fill = [&](TIconFrame& f) {
        if (!f.FIcon)
            f.FIcon = std::make_unique<TIcon>();
        f.FIcon->Assign(icon.get());
        f.FIsIcon = isIcon;
        f.FTagName = "icon";
        f.FTagSize = Size;
        f.FHotSpot = hotSpot;
    };
    bool matched = false;
    for (auto& f : FFrames)
        if (f->FSeq == Number) {
            fill(*f);
            matched = true;
        }
    if (!matched) {
        FFrames.push_back(std::make_unique<TIconFrame>(-1, FHeader.DisplayRate));
        fill(*FFrames.back());
    }
}

void TAnimatedCursorImage::Parse(const std::vector<uint8_t>& Buf)
{
    if (Buf.size() < 12 || !IsId(Buf.data(), "RIFF") || !IsId(Buf.data() + 8, "ACON"))
        ReadError();
    Clear();
    const uint8_t* b = Buf.data();
    const size_t end = Buf.size();
    // Frames beyond the icon chunks present could never get an image.
    size_t iconChunks = 0;
    for (size_t i = 0; i + 4 <= end; ++i)
        iconChunks += IsId(b + i, "icon");
    size_t nextRate = 0, nextSeq = 0;
    int32_t iconNumber = 0;
    size_t p = 12;
    while (p + 8 <= end) {
        const uint8_t* id = b + p;
        uint32_t size = GetU32LE(b + p + 4);
        size_t data = p + 8;
        if (size > end - data)
            break; // a chunk that cannot be read whole ends the reading
        const uint8_t* d = b + data;
        if (IsId(id, "anih")) {
            uint8_t raw[36] = {};
            uint32_t declared = size >= 4 ? GetU32LE(d) : 0;
            std::memcpy(raw, d, std::min<size_t>({36, declared, size}));
            uint32_t* fields[] = {&FHeader.HeaderSize, &FHeader.Frames,      &FHeader.Steps,
                                  &FHeader.Width,      &FHeader.Height,      &FHeader.BitCount,
                                  &FHeader.Planes,     &FHeader.DisplayRate, &FHeader.Flags};
            for (int i = 0; i < 9; ++i)
                *fields[i] = GetU32LE(raw + 4 * i);
            if (!(FHeader.Flags & 1) || FHeader.Steps == 0)
                ReadError();
            FFrames.clear();
            size_t frames = std::min<size_t>(FHeader.Frames, iconChunks);
            for (size_t i = 0; i < frames; ++i)
                FFrames.push_back(std::make_unique<TIconFrame>(int32_t(i), FHeader.DisplayRate));
        } else if (IsId(id, "rate") || IsId(id, "seq ")) {
            uint8_t raw[4] = {};
            std::memcpy(raw, d, std::min<size_t>(4, size));
            uint32_t v = GetU32LE(raw);
            bool rate = IsId(id, "rate");
            size_t& next = rate ? nextRate : nextSeq;
            if (next < FFrames.size()) { // values past the last frame are ignored
                if (rate)
                    FFrames[next]->FJiffRate = v;
                else
                    FFrames[next]->FSeq = int32_t(v);
            }
            ++next;
        } else if (IsId(id, "LIST") && size >= 4) {
            bool fram = IsId(d, "fram"), info = IsId(d, "INFO");
            size_t q = 4;
            while ((fram || info) && q + 8 <= size) {
                const uint8_t* sid = d + q;
                uint32_t ssize = GetU32LE(d + q + 4);
                if (ssize > size - q - 8)
                    break;
                const uint8_t* sd = d + q + 8;
                if (fram && IsId(sid, "icon"))
                    ReadIcon(sd, ssize, iconNumber++);
                else if (info && IsId(sid, "INAM"))
                    FTitle = ShortString(sd, ssize);
                else if (info && IsId(sid, "IART"))
                    FCreator = ShortString(sd, ssize);
                q += 8 + size_t(ssize) + (ssize & 1);
            }
        }
        p = data + size_t(size) + (size & 1);
    }
    FFrames.erase(
        std::remove_if(FFrames.begin(), FFrames.end(), [](auto& f) { return !f->FIcon || f->FIcon->Empty(); }),
        FFrames.end());
    FHeader.Steps = uint32_t(FFrames.size());
    if (FFrames.empty())
        ReadError();
}

void TAnimatedCursorImage::Assign(TPersistent* Source)
{
    if (auto* a = dynamic_cast<TAnimatedCursorImage*>(Source)) {
        if (a == this)
            return;
        Clear();
        FHeader = a->FHeader;
        FTitle = a->FTitle;
        FCreator = a->FCreator;
        FIcons = a->FIcons;
        for (auto& f : a->FFrames) {
            auto copy = std::make_unique<TIconFrame>(f->FSeq, f->FJiffRate);
            copy->Assign(f.get());
            FFrames.push_back(std::move(copy));
        }
        return;
    }
    TPersistent::Assign(Source);
}

void TAnimatedCursorImage::AssignTo(TPersistent* Dest)
{
    if (auto* icon = dynamic_cast<TIcon*>(Dest)) {
        icon->Assign(FFrames.empty() ? nullptr : FFrames[0]->Icon());
        return;
    }
    if (auto* list = dynamic_cast<TIconList*>(Dest)) {
        list->BeginUpdate();
        list->Clear();
        for (auto& f : FFrames)
            list->Add(f->Icon());
        list->EndUpdate();
        return;
    }
    if (auto* bmp = dynamic_cast<TBitmap*>(Dest)) {
        if (FFrames.empty()) {
            bmp->Assign(nullptr);
            return;
        }
        // A strip of all frames side by side over the destination's brush colour.
        TIcon* first = FFrames[0]->Icon();
        int32_t w = first->Width(), h = first->Height();
        TBitmap strip;
        strip.SetPixelFormat(pf24bit);
        strip.SetSize(w * FrameCount(), h);
        strip.Canvas()->Brush()->SetColor(bmp->Canvas()->Brush()->Color());
        strip.Canvas()->FillRect(Rect(0, 0, strip.Width(), strip.Height()));
        for (int32_t i = 0; i < FrameCount(); ++i)
            strip.Canvas()->Draw(i * w, 0, FFrames[size_t(i)]->Icon());
        // The strip goes out in the frames' own colour depth (at least 16 colours).
        std::unique_ptr<TMemoryStream> reduced = ReduceToColorCount(strip, Max(FIcons, 16));
        TBitmap result;
        result.LoadFromStream(*reduced);
        bmp->Assign(&result);
        return;
    }
    TPersistent::AssignTo(Dest);
}

} // namespace kv
