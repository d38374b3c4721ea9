// The platform's JPEG picture class, through libjpeg. Registered for "jpeg" and "jpg".
#pragma once

#include "platform/Graphics.h"

#include <functional>

namespace kv {

enum TJPEGPerformance : uint8_t { jpBestQuality, jpBestSpeed };

KV_DECLARE_EXCEPTION(EJPEG, EInvalidGraphic)

// Keeps the compressed bytes it was loaded from (saved back unchanged while the picture
// is not altered) and a decoded pf24bit bitmap. Assigning a bitmap makes it encode
// that bitmap on the next save with the current settings.
class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    int32_t Width() const override;
    int32_t Height() const override;
    bool Empty() const override;
    void Draw(TCanvas& ACanvas, const TRect& Rect) override;
    // Reads from the stream's position to its end; with a 32-bit target the picture goes
    // into the target's block (the compressed bytes are not kept, the bitmap stays empty).
    void LoadFromStream(TStream& Stream) override;
    bool AcceptPixels32Target(TPixels32Target Target) override
    {
        FPixels32Target = std::move(Target);
        return true;
    }
    void SaveToStream(TStream& Stream) override;
    void Assign(TPersistent* Source) override;

    int32_t CompressionQuality() const { return FQuality; }
    void SetCompressionQuality(int32_t Value); // 1..100, default 90
    bool Grayscale() const { return FGrayscale; }
    void SetGrayscale(bool Value);
    TJPEGPerformance Performance() const { return FPerformance; }
    void SetPerformance(TJPEGPerformance Value) { FPerformance = Value; }
    bool ProgressiveEncoding() const { return FProgressive; }
    void SetProgressiveEncoding(bool Value) { FProgressive = Value; }

    // Re-encodes the held bitmap now with the current settings.
    void Compress();
    // The decoded picture (pf24bit).
    TBitmap* Bitmap() { return &FBitmap; }
    std::string ClassName() const override { return "TJPEGImage"; }

protected:
    void AssignTo(TPersistent* Dest) override;

private:
    void Decode();
    TBitmap FBitmap;
    std::vector<uint8_t> FData; // the compressed picture, empty when it must be encoded
    int32_t FQuality = 90;
    bool FGrayscale = false;
    TJPEGPerformance FPerformance = jpBestQuality;
    bool FProgressive = false;
    TPixels32Target FPixels32Target;
};

// Encodes / decodes through libjpeg; errors come back as EJPEG with libjpeg's text.
std::vector<uint8_t> EncodeJpeg(const TBitmap& Bitmap, int32_t Quality, bool Grayscale, bool Progressive);
void DecodeJpeg(const uint8_t* Data, size_t Size, TBitmap& Bitmap, bool Grayscale, bool Fast);

enum TJpegLayout : uint8_t { jlBGR24, jlBGRA32 };

struct TJpegDecodeOptions {
    bool Grayscale = false;
    bool Fast = false;      // the fast DCT and plain upsampling (jpBestSpeed)
    int32_t ScaleDenom = 1; // 1, 2, 4 or 8: libjpeg's DCT scaling, sides rounded up
};

// DecodeJpeg at a DCT scale: a pf24bit bitmap of the reduced size.
void DecodeJpegScaled(const uint8_t* Data, size_t Size, TBitmap& Bitmap, const TJpegDecodeOptions& Options);
// Decodes into 32-bit pixels B, G, R, A (alpha 255), rows top-down and unpadded, in the
// block Allocate returns for the output size; the same pixels DecodeJpeg gives. On an
// error after Allocate the block holds a partial picture. False when libjpeg had to
// make up part of the picture (data cut short or corrupt: it fills what is missing).
bool DecodeJpeg32(const uint8_t* Data, size_t Size, const TJpegDecodeOptions& Options,
                  const std::function<uint32_t*(int32_t Width, int32_t Height)>& Allocate);
// The same from the stream's position to its end, read a piece at a time; the stream is
// left at its end. The stream's own errors are raised as they came.
bool DecodeJpeg32(TStream& Stream, const TJpegDecodeOptions& Options,
                  const std::function<uint32_t*(int32_t Width, int32_t Height)>& Allocate);
// The full size from the header alone; raises as DecodeJpeg does on a bad header.
void ReadJpegSize(const uint8_t* Data, size_t Size, int32_t& Width, int32_t& Height);
// The largest DCT reduction (1, 2, 4 or 8) whose picture still covers BoxWidth x BoxHeight.
int32_t JpegScaleFor(int32_t Width, int32_t Height, int32_t BoxWidth, int32_t BoxHeight);
// Whether DataBytes of file could hold a complete picture of this size: every MCU of
// the first scan costs at least one bit of Huffman code. Files that fail it are cut
// short or lie about their size; decoders refuse them before taking the picture's
// memory. (A flat picture in arithmetic coding could in theory be smaller still.)
bool JpegDataCanHold(int64_t Width, int64_t Height, int32_t MaxHSamp, int32_t MaxVSamp, int64_t DataBytes);

} // namespace kv
