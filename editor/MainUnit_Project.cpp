// The project file (".kvn"): picture blocks, the background block, the 108-byte layer
// records, a text list of the block sizes and a trailer, read from the end:
//
//   [BMP of each stored picture layer, bottom first]
//   [BMP of the background]
//   [one LayerRecord per stored layer, bottom first]   (absent when none is stored)
//   ["<decimal length of each block above>" CR LF ...]
//   [Int32 LE: length of the size list + 4]
//
// The record block is built and read in memory. The reader checks every number before
// it uses one and builds the whole new document before anything of the open one
// changes.
#include "editor/MainUnit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QSlider>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace kv {

namespace {

// LayerRecord, 108 bytes, little-endian:
//   0  Kind: length byte + up to 71 characters ("bitmap" or "magn")
//  72  Int32 Opacity
//  76  4 x Single Placement (Left, Top, Right, Bottom)
//  92  UInt8 ScaleWithView, 93 UInt8 ClipToImage, 94 two bytes padding
//  96  Int32 Magnification
// 100  Int32 Rotation
// 104  UInt8 Interpolate, 105 three bytes padding
struct LayerRecord {
    uint8_t Bytes[108];
};
static_assert(sizeof(LayerRecord) == 108, "a layer record is 108 bytes");

constexpr size_t RecordSize = sizeof(LayerRecord);
constexpr size_t KindField = 72;
constexpr size_t MaxKindLength = KindField - 1;
constexpr size_t OffOpacity = 72, OffPlacement = 76, OffScaleWithView = 92, OffClipToImage = 93, OffMagnification = 96,
                 OffRotation = 100, OffInterpolate = 104;

void PutSingle(uint8_t* P, float V)
{
    uint32_t Bits;
    std::memcpy(&Bits, &V, 4);
    PutU32LE(P, Bits);
}

float GetSingle(const uint8_t* P)
{
    const uint32_t Bits = GetU32LE(P);
    float V;
    std::memcpy(&V, &Bits, 4);
    return V;
}

void PutKind(LayerRecord& Rec, const std::string& Kind)
{
    Rec.Bytes[0] = uint8_t(Kind.size());
    std::memcpy(Rec.Bytes + 1, Kind.data(), Kind.size());
}

void PutPlacement(LayerRecord& Rec, const TSingleRect& R)
{
    PutSingle(Rec.Bytes + OffPlacement, R.Left);
    PutSingle(Rec.Bytes + OffPlacement + 4, R.Top);
    PutSingle(Rec.Bytes + OffPlacement + 8, R.Right);
    PutSingle(Rec.Bytes + OffPlacement + 12, R.Bottom);
}

void AppendBlock(TStream& Out, TMemoryStream& Block, std::string& SizeList)
{
    Out.WriteBuffer(Block.Memory(), Block.Size());
    SizeList += std::to_string(Block.Size()) + "\r\n";
}

constexpr uint32_t PictureHeaderSize = 14 + 40;

// The BMP header of a W x H 32-bit picture block.
std::array<uint8_t, PictureHeaderSize> PictureHeader(uint32_t W, uint32_t H)
{
    std::array<uint8_t, PictureHeaderSize> Header{};
    const uint32_t ImageSize = W * 4 * H;
    PutU16LE(Header.data(), 0x4D42);
    PutU32LE(Header.data() + 2, PictureHeaderSize + ImageSize);
    PutU32LE(Header.data() + 10, PictureHeaderSize);
    uint8_t* Info = Header.data() + 14;
    PutU32LE(Info, 40);
    PutU32LE(Info + 4, W);
    PutU32LE(Info + 8, H);
    PutU16LE(Info + 12, 1);
    PutU16LE(Info + 14, 32);
    PutU32LE(Info + 20, ImageSize);
    return Header;
}

// A picture block: the BMP file a 32-bit bitmap saves as (the header, then its rows
// bottom-up, alpha included), written from the picture's own rows through a staging buffer
// small enough to stay in the cache, so no full-size copy is made.
void AppendPictureBlock(TStream& Out, const TBitmap32& Picture, std::string& SizeList)
{
    const uint32_t W = uint32_t(Picture.Width()), H = uint32_t(Picture.Height());
    const uint32_t RowBytes = W * 4, ImageSize = RowBytes * H;
    Out.WriteBuffer(PictureHeader(W, H).data(), PictureHeaderSize);
    // The file keeps the rows bottom-up: hand them over in that order, uncopied.
    std::vector<TWritePiece> Rows(H);
    for (uint32_t I = 0; I < H; ++I)
        Rows[I] = {Picture.RowAddress(int32_t(H - 1 - I)), int64_t(RowBytes)};
    Out.WritePieces(Rows.data(), int64_t(H));
    SizeList += std::to_string(int64_t(PictureHeaderSize) + ImageSize) + "\r\n";
}

// True when Header (PictureHeaderSize bytes) starts a block exactly as
// AppendPictureBlock writes it, Length bytes long; then W and H are its size.
bool IsOwnPictureBlock(const uint8_t* Header, int64_t Length, uint32_t& W, uint32_t& H)
{
    if (Length < int64_t(PictureHeaderSize))
        return false;
    W = GetU32LE(Header + 18);
    H = GetU32LE(Header + 22);
    if (W == 0 || H == 0 || !PixelBufferSizeOk(W, H) || Length != int64_t(PictureHeaderSize) + int64_t(W) * H * 4)
        return false;
    return std::memcmp(Header, PictureHeader(W, H).data(), PictureHeaderSize) == 0;
}

// One decoded record, with its picture when it is a "bitmap" record.
struct ParsedLayer {
    bool IsBitmap = false;
    int32_t Opacity = 255;
    TSingleRect Placement;
    bool ScaleWithView = false;
    bool ClipToImage = false;
    int32_t Magnification = 0;
    int32_t Rotation = 0;
    bool Interpolate = false;
    // A picture layer in no collection yet, its bitmap decoded in place.
    std::unique_ptr<TBitmapLayer> Picture;
};

struct ParsedProject {
    TBitmap32 Background;
    std::vector<ParsedLayer> Layers; // bottom first
};

struct ProjectFault {
    const char* Why;
};

[[noreturn]] void Fault(const char* Why) { throw ProjectFault{Why}; }

std::vector<int64_t> ParseSizeList(const uint8_t* P, int64_t Length, int64_t FileSize)
{
    std::vector<int64_t> Sizes;
    int64_t I = 0;
    while (I < Length) {
        int64_t Value = 0;
        int64_t Digits = 0;
        while (I < Length && P[I] >= '0' && P[I] <= '9') {
            Value = Value * 10 + (P[I] - '0');
            if (Value > FileSize)
                Fault("a block is longer than the file");
            ++I;
            ++Digits;
        }
        if (Digits == 0)
            Fault("a size line is not a number");
        if (I < Length && P[I] == '\r')
            ++I;
        if (I >= Length || P[I] != '\n')
            Fault("a size line is not ended");
        ++I;
        Sizes.push_back(Value);
    }
    return Sizes;
}

// The picture block of Length bytes at the stream's position into Dest. A block as
// AppendPictureBlock writes it is read straight into Dest's rows; anything else is read
// whole and left to the BMP reader, bounded by the size list, never by the BMP header.
void ReadBitmapBlock(TStream& Stream, int64_t Length, TBitmap32& Dest)
{
    std::array<uint8_t, PictureHeaderSize> Header;
    const int64_t HeaderBytes = std::min<int64_t>(Length, PictureHeaderSize);
    Stream.ReadBuffer(Header.data(), HeaderBytes);
    uint32_t W = 0, H = 0;
    if (IsOwnPictureBlock(Header.data(), Length, W, H)) {
        // Every row is read over: the block is not cleared first.
        Dest.SetSizeForOverwrite(int32_t(W), int32_t(H));
        // The file keeps the rows bottom-up.
        std::vector<TReadPiece> Rows(H);
        for (uint32_t I = 0; I < H; ++I)
            Rows[I] = {Dest.RowAddress(int32_t(H - 1 - I)), int64_t(W) * 4};
        Stream.ReadPieces(Rows.data(), int64_t(H));
        Dest.Changed();
        return;
    }
    std::vector<uint8_t> Block(static_cast<size_t>(Length));
    std::memcpy(Block.data(), Header.data(), size_t(HeaderBytes));
    Stream.ReadBuffer(Block.data() + HeaderBytes, Length - HeaderBytes);
    TReadOnlyMemoryStream In(Block.data(), Length);
    Dest.LoadFromStream(In);
}

ParsedLayer ParseRecord(const uint8_t* P)
{
    ParsedLayer L;
    const size_t KindLength = P[0];
    if (KindLength > MaxKindLength)
        Fault("a layer kind is too long");
    const std::string Kind(reinterpret_cast<const char*>(P + 1), KindLength);
    L.IsBitmap = Kind == "bitmap";
    L.Opacity = int32_t(GetU32LE(P + OffOpacity));
    if (L.Opacity < 0 || L.Opacity > 255)
        Fault("a layer opacity is out of range");
    L.Placement = TSingleRect{GetSingle(P + OffPlacement), GetSingle(P + OffPlacement + 4),
                              GetSingle(P + OffPlacement + 8), GetSingle(P + OffPlacement + 12)};
    if (!std::isfinite(L.Placement.Left) || !std::isfinite(L.Placement.Top) || !std::isfinite(L.Placement.Right) ||
        !std::isfinite(L.Placement.Bottom))
        Fault("a layer placement is not finite");
    L.Interpolate = P[OffInterpolate] != 0;
    if (L.IsBitmap) {
        L.ScaleWithView = P[OffScaleWithView] != 0;
        L.ClipToImage = P[OffClipToImage] != 0;
    } else {
        // Anything but a picture comes back as a magnifier (frames of older files too).
        L.ScaleWithView = true;
        L.Magnification = int32_t(GetU32LE(P + OffMagnification));
        L.Rotation = int32_t(GetU32LE(P + OffRotation));
        if (L.Magnification < 0 || L.Magnification > 50 || L.Rotation < -180 || L.Rotation > 180)
            Fault("magnifier settings are out of range");
    }
    return L;
}

// The project of S bytes from the stream's position Base on. Only the trailer, the size
// list and the records are read into memory; each picture block goes straight into its
// bitmap once the list has been checked against the file.
void ParseProject(TStream& Stream, int64_t Base, int64_t S, ParsedProject& Out)
{
    if (S < 8)
        Fault("the file is too short");
    Stream.SetPosition(Base + S - 4);
    const int64_t T = Stream.ReadI32LE();
    if (T <= 4 || T > S)
        Fault("the trailer points outside the file");
    const int64_t ListStart = S - T;
    std::vector<uint8_t> List(static_cast<size_t>(T - 4));
    Stream.SetPosition(Base + ListStart);
    Stream.ReadBuffer(List.data(), T - 4);
    const std::vector<int64_t> Sizes = ParseSizeList(List.data(), T - 4, S);
    const int64_t N = int64_t(Sizes.size());
    if (N == 0)
        Fault("the size list is empty");
    // The blocks tile the file up to the size list exactly.
    std::vector<int64_t> Starts(size_t(N) + 1, 0);
    for (int64_t I = 0; I < N; ++I) {
        Starts[size_t(I) + 1] = Starts[size_t(I)] + Sizes[size_t(I)];
        if (Starts[size_t(I) + 1] > ListStart)
            Fault("the blocks run past the size list");
    }
    if (Starts[size_t(N)] != ListStart)
        Fault("the blocks do not end where the size list starts");

    auto ReadPicture = [&](int64_t Line, TBitmap32& Dest) {
        Stream.SetPosition(Base + Starts[size_t(Line)]);
        ReadBitmapBlock(Stream, Sizes[size_t(Line)], Dest);
    };
    if (N == 1) {
        ReadPicture(0, Out.Background);
        return;
    }
    const int64_t RecordBytes = Sizes[size_t(N - 1)];
    if (RecordBytes % int64_t(RecordSize) != 0)
        Fault("the record block is not a whole number of records");
    const int64_t Count = RecordBytes / int64_t(RecordSize);
    const int64_t Pictures = N - 2;
    std::vector<uint8_t> Records(static_cast<size_t>(RecordBytes));
    Stream.SetPosition(Base + Starts[size_t(N - 1)]);
    Stream.ReadBuffer(Records.data(), RecordBytes);
    ReadPicture(N - 2, Out.Background);

    // Last record first: the k-th picture record going down takes line n - 3 - k.
    std::vector<ParsedLayer> TopFirst;
    int64_t K = 0;
    for (int64_t R = Count - 1; R >= 0; --R) {
        ParsedLayer L = ParseRecord(Records.data() + R * int64_t(RecordSize));
        if (L.IsBitmap) {
            const int64_t Line = N - 3 - K;
            if (Line < 0)
                Fault("more picture records than picture blocks");
            L.Picture = std::make_unique<TBitmapLayer>(nullptr);
            ReadPicture(Line, *L.Picture->Bitmap());
            ++K;
        }
        TopFirst.push_back(std::move(L));
    }
    if (K != Pictures)
        Fault("picture blocks without a record");
    for (auto It = TopFirst.rbegin(); It != TopFirst.rend(); ++It)
        Out.Layers.push_back(std::move(*It));
}

} // namespace

// ---- Writing --------------------------------------------------------------------------

void TMainForm::SaveProjectToStream(TStream& Stream)
{
    std::vector<TPositionedLayer*> Stored;
    TLayerCollection* Layers = ImgView->Layers();
    for (int32_t I = 0; I < Layers->Count(); ++I) {
        TCustomLayer* L = Layers->Items(I);
        // The band is skipped by identity; selection and crop frames are transient tools.
        if (L == RBLayer() || L->Tag() == TagSelectionFrame || L->Tag() == TagCropFrame)
            continue;
        if (auto* P = dynamic_cast<TPositionedLayer*>(L))
            Stored.push_back(P);
    }

    std::string SizeList;
    for (TPositionedLayer* P : Stored)
        if (auto* BL = dynamic_cast<TBitmapLayer*>(P))
            AppendPictureBlock(Stream, *BL->Bitmap(), SizeList);
    AppendPictureBlock(Stream, *ImgView->Bitmap(), SizeList);
    if (!Stored.empty()) {
        TMemoryStream Block;
        for (TPositionedLayer* P : Stored) {
            LayerRecord Rec{}; // unused bytes stay zero: the file is deterministic
            PutPlacement(Rec, P->Placement());
            if (auto* BL = dynamic_cast<TBitmapLayer*>(P)) {
                PutKind(Rec, "bitmap");
                PutU32LE(Rec.Bytes + OffOpacity, BL->Bitmap()->MasterAlpha());
                Rec.Bytes[OffScaleWithView] = BL->ScaleWithView() ? 1 : 0;
                Rec.Bytes[OffClipToImage] = BL->ClipToImage() ? 1 : 0;
                Rec.Bytes[OffInterpolate] = BL->Bitmap()->StretchFilter() != sfNearest ? 1 : 0;
            } else {
                PutKind(Rec, "magn");
                PutU32LE(Rec.Bytes + OffOpacity, uint32_t(MagnOpacity->value()));
                PutU32LE(Rec.Bytes + OffMagnification, uint32_t(MagnMagnification->value()));
                PutU32LE(Rec.Bytes + OffRotation, uint32_t(MagnRotation->value()));
                Rec.Bytes[OffInterpolate] = MagnInterpolate->isChecked() ? 1 : 0;
            }
            Block.WriteBuffer(Rec.Bytes, RecordSize);
        }
        AppendBlock(Stream, Block, SizeList);
    }
    Stream.WriteBuffer(SizeList.data(), int64_t(SizeList.size()));
    Stream.WriteI32LE(int32_t(SizeList.size() + 4));
}

void TMainForm::SaveProject(const std::string& FileName)
{
    // The old file stays until the new one is complete.
    SaveFileSafely(FileName, [this](TStream& Stream) { SaveProjectToStream(Stream); });
}

// ---- Reading --------------------------------------------------------------------------

void TMainForm::LoadProject(const std::string& FileName)
{
    TFileStream File(FileName, fmOpenRead | fmShareDenyWrite);
    LoadProjectFromStream(File, FileName);
}

// Holds the enabling refresh for its lifetime and runs it once at the end if one was
// asked for meanwhile (also when the reading ends by an exception).
class TEnablingHold {
public:
    explicit TEnablingHold(TMainForm& Form) : FForm(Form) { ++FForm.FEnablingHeld; }
    ~TEnablingHold()
    {
        if (--FForm.FEnablingHeld == 0 && FForm.FEnablingDue) {
            FForm.FEnablingDue = false;
            FForm.UpdateCommandEnabling();
        }
    }
    TEnablingHold(const TEnablingHold&) = delete;
    TEnablingHold& operator=(const TEnablingHold&) = delete;

private:
    TMainForm& FForm;
};

void TMainForm::LoadProjectFromStream(TStream& Stream, const std::string& Name)
{
    ParsedProject Parsed;
    try {
        const int64_t Base = Stream.Position();
        ParseProject(Stream, Base, std::max<int64_t>(Stream.Size() - Base, 0), Parsed);
    } catch (const ProjectFault&) {
        throw EProjectError(Name + " is not a valid Kelvane project");
    } catch (const std::exception&) {
        throw EProjectError(Name + " is not a valid Kelvane project");
    }

    // Everything is decoded: the open document is replaced only now.
    TBitmap32* Bg = ImgView->Bitmap();
    Parsed.Background.SetDrawMode(Bg->DrawMode());
    Parsed.Background.SetMasterAlpha(Bg->MasterAlpha());
    Parsed.Background.SetOuterColor(Bg->OuterColor());
    Parsed.Background.SetStretchFilter(Bg->StretchFilter());
    ClearDocument();
    // The decoded block becomes the background's: no second copy of its pixels.
    Bg->TakeOver(Parsed.Background);
    pnlImage->setVisible(!Bg->IsEmpty());

    const ParsedLayer* LowestMagnifier = nullptr;
    {
        // One refresh of the enabling once every layer is in, however many the file
        // holds (each walks every layer); the selection below refreshes it as any does.
        TEnablingHold Hold(*this);
        for (ParsedLayer& P : Parsed.Layers) {
            if (P.IsBitmap) {
                TBitmapLayer* BL = P.Picture.get();
                BL->Bitmap()->SetDrawMode(dmBlend);
                BL->Bitmap()->SetMasterAlpha(P.Opacity);
                BL->Bitmap()->SetStretchFilter(P.Interpolate ? sfLinear : sfNearest);
                BL->SetPlacement(P.Placement);
                SetUpContentLayer(BL);
                BL->SetScaleWithView(P.ScaleWithView); // as the file has it
                BL->SetClipToImage(P.ClipToImage);
                P.Picture.release()->SetLayerCollection(ImgView->Layers());
            } else {
                TPositionedLayer* L = CreatePositionedLayer();
                L->SetPlacement(P.Placement);
                L->SetTag(TagMagnifier);
                L->OnPaint = [this](TObject* Sender, TBitmap32* Buffer) { PaintMagnifierHandler(Sender, Buffer); };
                if (!LowestMagnifier)
                    LowestMagnifier = &P;
            }
        }
    }
    // The magnifier controls are shared; the lowest magnifier's record sets them.
    if (LowestMagnifier) {
        MagnOpacity->setValue(LowestMagnifier->Opacity);
        MagnRotation->setValue(LowestMagnifier->Rotation);
        MagnInterpolate->setChecked(LowestMagnifier->Interpolate);
        MagnMagnification->setValue(LowestMagnifier->Magnification);
    }
    // Only the top layer ends selected, so it is the only one selected: selecting each
    // as it came would move the rubber band to the top once per layer.
    TLayerCollection* Layers = ImgView->Layers();
    SetSelection(nullptr);
    for (int32_t I = Layers->Count() - 1; I >= 0; --I)
        if (Layers->Items(I) != RBLayer()) {
            SetSelection(static_cast<TPositionedLayer*>(Layers->Items(I)));
            break;
        }
}

} // namespace kv
