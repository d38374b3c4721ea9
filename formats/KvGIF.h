// GIF pictures: the frame list with its colour tables and extensions, the GIF 87a/89a
// stream reader and writer, and the variable-length-code LZW coder.
#pragma once

#include "platform/Classes.h"

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
extern const char* const SGIFUnknownVersion;   // "Неизвестная версия изображения GIF"
extern const char* const SGIFEncodeError;      // "Ошибка кодировки данных в формат GIF"
extern const char* const SGIFBadData;          // "Неверные данные в формате GIF"
extern const char* const SGIFBadCodeSize;      // "Размер кода GIF не принадлежит диапазону от 2 до 9"
extern const char* const SGIFBadColorCount;    // "Неверное число цветов; должно быть степенью числа 2"
extern const char* const SGIFUnknownExtension; // "Неопределенное расширение GIF: %.2x"
extern const char* const SGIFNoData;           // "Нет данных для записи в формате GIF"
extern const char* const SGIFCannotResize;     // "Невозможно изменить размер изображения GIF"

} // namespace kv
