#include "editor/PictureFiles.h"

#include "platform/Classes.h"
#include "platform/QtBridge.h"
#include "platform/SysUtils.h"

#include <QImageReader>

#include <cstring>

namespace kv {

namespace {

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Walks the chunk headers up to the first IDAT; every step moves forward by at least a
// chunk's 12 bytes of framing, so a hostile length ends the walk at the end of the file.
bool ChunksCarryAlpha(TStream& Stream)
{
    uint8_t head[8];
    if (Stream.Read(head, 8) != 8 || std::memcmp(head, PngSignature, 8) != 0)
        return false;
    const int64_t size = Stream.Size();
    while (Stream.Read(head, 8) == 8) {
        const int64_t length = GetU32BE(head);
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (type == "IDAT")
            return false;
        if (type == "tRNS")
            return true;
        if (type == "IHDR") {
            uint8_t ihdr[13];
            if (length != 13 || Stream.Read(ihdr, 13) != 13)
                return false;
            const uint8_t colorType = ihdr[9];
            if (colorType == 4 || colorType == 6)
                return true;
            Stream.Seek(4, soCurrent); // the CRC
            continue;
        }
        const int64_t next = Stream.Position() + length + 4;
        if (next > size)
            return false;
        Stream.Seek(next, soBeginning);
    }
    return false;
}

// The road a pasted PNG takes: the platform's reader, then the clipboard's conversion
// to a 32-bit platform bitmap whose fourth byte is the straight (not premultiplied) alpha.
void LoadPngWithAlpha(const std::string& FileName, TBitmap32& Into)
{
    QImageReader reader(QString::fromStdString(FileName), "png");
    const QSize size = reader.size();
    if (size.isValid())
        CheckPixelBufferSize(size.width(), size.height(), "PNG picture");
    const QImage image = reader.read();
    if (image.isNull())
        throw EInvalidGraphic("Cannot read the PNG picture " + FileName + ": " + reader.errorString().toStdString());
    TBitmap platform;
    QImageToBitmap(image, platform, "PNG picture");
    Into.Assign(&platform);
}

} // namespace

bool PngFileHasAlpha(const std::string& FileName)
{
    try {
        TFileStream stream(FileName, fmOpenRead | fmShareDenyNone);
        return ChunksCarryAlpha(stream);
    } catch (const std::exception&) {
        return false; // the registry's loader reports the file's fault
    }
}

TFileAlpha LoadPictureFile(const std::string& FileName, TBitmap32& Into)
{
    if (PngFileHasAlpha(FileName)) {
        LoadPngWithAlpha(FileName, Into);
        return faFromFile;
    }
    Into.LoadFromFile(FileName);
    return faNone;
}

} // namespace kv
