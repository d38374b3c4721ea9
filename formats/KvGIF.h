// GIF pictures: the frame list with its colour tables and extensions, the GIF 87a/89a
// stream reader and writer, and the variable-length-code LZW coder.
#pragma once

#include "platform/Classes.h"
#include "platform/Graphics.h"

#include <memory>
#include <vector>

#include <cstdint>
#include <functional>
#include <string>

namespace kv {

// ---- LZW coder ------------------------------------------------------------------------

// The pixel block both directions work on: bottom-up device-independent rows padded to
// 4 bytes, 1-bit pixels most significant bit first, 4-bit pixels high nibble first.
struct TGIFBitmapInfo {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BitCount = 8; // 1, 4 or 8
};

inline int64_t GIFRowSize(int32_t BitCount, int32_t Width) { return ((int64_t(BitCount) * Width + 31) / 32) * 4; }

enum TGIFCoderStage : uint8_t { gcsStarting, gcsRunning, gcsEnding };
using TGIFCoderProgress =
    std::function<void(TObject* Owner, TGIFCoderStage Stage, uint8_t PercentDone, const std::string& Msg)>;

// Next picture row in GIF order: +1 without interlacing, else the four passes
// (0, 8, 16 ...; 4, 12 ...; 2, 6 ...; 1, 3, 5 ...). A result of Height or more ends the walk.
int32_t NextInterlacedRow(int32_t Row, int32_t Height, int32_t& Pass, bool Interlaced = true);

// Fills Pixels (zero-filled by the caller, GIFRowSize x Height bytes) from the image data
// at Source's position (minimum code size byte, sub-blocks, terminator). Data that ends
// early, codes that cannot be resolved and a bad code size set DataTruncated when
// AcceptTruncated is set; otherwise the last two raise EInvalidGraphicOperation.
void DecodeLZW(TStream& Source, const TGIFBitmapInfo& Info, bool Interlaced, const TGIFCoderProgress& Progress,
               TObject* Owner, bool& DataTruncated, uint8_t* Pixels, int32_t FrameBitsPerPixel, bool AcceptTruncated);
// The same over a byte range (the fuzz target and the benchmark use it directly).
void DecodeLZW(const uint8_t* Data, int64_t Size, const TGIFBitmapInfo& Info, bool Interlaced,
               const TGIFCoderProgress& Progress, TObject* Owner, bool& DataTruncated, uint8_t* Pixels,
               int32_t FrameBitsPerPixel, bool AcceptTruncated);

// Appends the minimum code size byte, the sub-blocks of at most 255 bytes and the
// terminator for the pixel block to Dest.
void EncodeLZW(TStream& Dest, const TGIFBitmapInfo& Info, bool Interlaced, const TGIFCoderProgress& Progress,
               TObject* Owner, const uint8_t* Pixels);

// Messages of the unit, as the program shows them.
extern const char* const SGIFUnknownVersion; // "Неизвестная версия изображения GIF"
extern const char* const SGIFEncodeError;    // "Ошибка кодировки данных в формат GIF"
extern const char* const SGIFBadData;        // "Неверные данные в формате GIF"
extern const char* const SGIFBadCodeSize; // "Размер кода GIF не принадлежит диапазону от 2 до 9"
extern const char* const SGIFBadColorCount; // "Неверное число цветов; должно быть степенью числа 2"
extern const char* const SGIFUnknownExtension; // "Неопределенное расширение GIF: %.2x"
extern const char* const SGIFNoData;           // "Нет данных для записи в формате GIF"
extern const char* const SGIFCannotResize; // "Невозможно изменить размер изображения GIF"

// ---- Picture model ---------------------------------------------------------------------

// A colour table: Count valid entries (0..256) of red, green, blue; unused entries zero.
struct TGIFColors {
    int32_t Count = 0;
    uint8_t Colors[256][3] = {};
};
static_assert(sizeof(TGIFColors) == 772, "a colour table is a count and 256 RGB entries");

// Image data shared by all frames of a picture and by copies of the picture.
class TGIFData {
public:
    TStringList Comment;      // lines of the comments that follow the last image
    uint8_t PixelAspect = 0;  // kept from the logical screen descriptor
    uint8_t BitsPerPixel = 1; // size exponent of the global table
    TGIFColors ColorTable;    // the global table
};

// Encoded frame data, shared by frames assigned from one another.
class TGIFItem {
public:
    TGIFItem() : Data(std::make_unique<TMemoryStream>()) {}
    // The image data as it stands in the file: minimum code size, sub-blocks, terminator.
    std::unique_ptr<TMemoryStream> Data;
    int32_t Width = 0;
    int32_t Height = 0;
    uint8_t BitsPerPixel = 0; // size exponent of the frame's table; 0 until known
    TGIFColors ColorTable;
};

enum TGIFExtensionKind : uint8_t { ekGraphicControl, ekPlainText, ekApplication, ekComment };

class TExtension : public TPersistent {
public:
    TGIFExtensionKind Kind = ekComment;
    std::unique_ptr<TStringList> Data; // one string per data sub-block; nil for a graphic control
    // The fixed bytes after the label, from the block-size byte on: 6 for a graphic
    // control (size 4, packed, delay, transparent index, terminator), 13 for plain text,
    // 12 for an application block, none for a comment.
    std::vector<uint8_t> Header;
    void Assign(TPersistent* Source) override;
    std::string ClassName() const override { return "TExtension"; }
};

class TGIFImage;
class TGIFReader;

class TGIFFrame : public TPersistent {
public:
    explicit TGIFFrame(TGIFImage* AOwner);
    ~TGIFFrame() override;

    TGIFImage* Owner() const { return FOwner; }
    // The frame's picture: its bitmap when present and not empty, else a new bitmap
    // decoded from the encoded data (when there is any).
    TBitmap* Bitmap();
    TBitmap* StoredBitmap() const { return FBitmap.get(); }
    TGIFItem& Item() { return *FItem; }
    const std::shared_ptr<TGIFItem>& SharedItem() const { return FItem; }
    std::vector<std::unique_ptr<TExtension>>& Extensions() { return FExtensions; }
    // Lines of the frame's comment extensions.
    std::vector<std::string> CommentLines() const;

    TPoint Position;
    bool Interlaced = false;
    bool DataTruncated = false;
    bool GrayReduce = false;
    bool HasLocalTable = false;
    TColor TransparentColor = clNone;
    uint32_t DelayMs = 0; // wider than the file's field: writes clamp it
    uint8_t DisposalMethod = 0;

    void Assign(TPersistent* Source) override;
    void AssignTo(TPersistent* Dest) override;
    // Encodes the bitmap into the item's data (1/4/8 bits kept, others reduced to 8).
    void EncodeBitmap();
    // Brings the graphic control extension in line with the frame's fields.
    void UpdateGraphicControl();
    bool HasEncodedData() const { return FItem && FItem->Data && FItem->Data->Size() > 0; }
    std::string ClassName() const override { return "TGIFFrame"; }

private:
    friend class TGIFImage;
    void Reset();
    void Decode(TBitmap& Target);
    void EncodeRows(const uint8_t* Rows, int32_t Width, int32_t Height, int32_t BitCount,
                    const std::vector<TPaletteEntry>& Palette);
    void ApplyGraphicControl();
    TGIFImage* FOwner;
    std::unique_ptr<TBitmap> FBitmap;
    std::shared_ptr<TGIFItem> FItem;
    std::vector<std::unique_ptr<TExtension>> FExtensions;
};

enum TGIFVersion : uint8_t { gvNone, gv87a, gv89a };

class TGIFImage : public TGraphic {
public:
    TGIFImage();
    ~TGIFImage() override;

    int32_t Width() const override;
    int32_t Height() const override;
    void SetWidth(int32_t Value) override;  // raises: a GIF cannot be resized
    void SetHeight(int32_t Value) override; // raises
    bool Empty() const override;
    void Draw(TCanvas& ACanvas, const TRect& Rect) override;
    void LoadFromStream(TStream& Stream) override;
    void SaveToStream(TStream& Stream) override;
    void LoadFromClipboardFormat(TClipboardFormat Format, const std::vector<uint8_t>& Data, HPALETTE APalette) override;
    void SaveToClipboardFormat(TClipboardFormat& Format, std::vector<uint8_t>& Data, HPALETTE& APalette) override;
    HPALETTE Palette() const override;
    bool Transparent() const override;
    void Assign(TPersistent* Source) override;
    void AssignTo(TPersistent* Dest) override;
    bool Equals(const TGraphic* Graphic) const;

    // Property streaming: a 32-bit little-endian byte count, then the GIF stream.
    void ReadData(TStream& Stream);
    void WriteData(TStream& Stream);
    // The "GIF Image" clipboard block (byte count and GIF stream); false when some frame
    // has no encoded data, as only fully encoded pictures go on the clipboard that way.
    bool SaveToClipboardBlock(std::vector<uint8_t>& Block);

    int32_t AddFrame(TGraphic* Value);
    int32_t Count() const { return int32_t(FFrames.size()); }
    TGIFFrame* Frames(int32_t Index) const;
    int32_t CurrentFrame() const { return FCurrentFrame; }
    void SetCurrentFrame(int32_t Value) { FCurrentFrame = Value; }
    // The bitmap of the current frame (frame 0 when out of range); an empty picture
    // first gets one empty frame.
    TBitmap* CurrentBitmap();
    void NewImage();

    const std::shared_ptr<TGIFData>& SharedData() const { return FSharedData; }
    uint8_t Version() const { return FVersion; }
    void SetVersion(uint8_t Value) { FVersion = Value; }
    uint16_t ScreenWidth() const { return FScreenWidth; }
    uint16_t ScreenHeight() const { return FScreenHeight; }
    TColor BackgroundColor() const { return FBackgroundColor; }
    void SetBackgroundColor(TColor Value) { FBackgroundColor = Value; }
    bool LoopEnabled() const { return FLoopEnabled; }
    void SetLoopEnabled(bool Value) { FLoopEnabled = Value; }
    uint16_t LoopCount() const { return FLoopCount; }
    void SetLoopCount(uint16_t Value) { FLoopCount = Value; }

    std::string ClassName() const override { return "TGIFImage"; }

    // Frames whose data ends early or decodes badly are kept (flagged DataTruncated).
    static constexpr bool AcceptCorruptedGIF = true;

private:
    friend class TGIFFrame;
    void ReadGIFStream(int64_t Length, TStream& Stream, bool DecodeFirst);
    void WriteGIFStream(TStream& Stream, bool WithLength);
    void ReadScreen(TGIFReader& Reader);
    void ReadExtension(TGIFReader& Reader, std::vector<std::unique_ptr<TExtension>>& Collected);
    void ReadFrame(TGIFReader& Reader, std::vector<std::unique_ptr<TExtension>>& Collected);
    void ReadImage(TGIFReader& Reader, TGIFFrame& Frame);
    void TakeComments(std::vector<std::unique_ptr<TExtension>>& Collected);
    void DecodeFirstFrame();
    void RecomputeScreenSize();
    void CoderProgress(TGIFCoderStage Stage, uint8_t Percent, const std::string& Msg);
    TGIFFrame* CurrentOrFirst() const;

    std::shared_ptr<TGIFData> FSharedData;
    uint8_t FVersion = gvNone;
    std::vector<std::unique_ptr<TGIFFrame>> FFrames;
    int32_t FCurrentFrame = -1;
    uint16_t FScreenWidth = 0;
    uint16_t FScreenHeight = 0;
    TColor FBackgroundColor = clNone;
    bool FLoopEnabled = false;
    uint16_t FLoopCount = 1;
};

// The clipboard format registered for "GIF Image".
TClipboardFormat CF_GIFIMAGE();

// Unit start-up and shut-down, counted: registers TGIFImage for "gif" ("CompuServe GIF
// Image") and the "GIF Image" clipboard format; the last call of the finaliser removes
// it. Start-up runs it before the GIF model's registration, which then wins lookups.
void InitializeKvGIF();
void FinalizeKvGIF();

} // namespace kv
