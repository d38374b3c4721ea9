#include "imaging/ExifReader.h"

#include "platform/Classes.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace kv {

namespace {

// Bounded view of the TIFF bytes with the file's byte order.
struct TTiffView {
    const uint8_t* P;
    int64_t Size;
    bool Big;

    bool Has(int64_t off, int64_t n) const { return off >= 0 && n >= 0 && off + n <= Size; }
    uint16_t U16(int64_t off) const { return Big ? GetU16BE(P + off) : GetU16LE(P + off); }
    uint32_t U32(int64_t off) const { return Big ? GetU32BE(P + off) : GetU32LE(P + off); }
};

// TIFF field types and their sizes in bytes.
int64_t TypeSize(uint16_t type)
{
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7: return 1;
    case 3:
    case 8: return 2;
    case 4:
    case 9:
    case 11: return 4;
    case 5:
    case 10:
    case 12: return 8;
    default: return 0;
    }
}

struct TEntry {
    uint16_t Tag, Type;
    uint32_t Count;
    int64_t ValueOffset; // where the value bytes are (inline or pointed to)
};

bool ValueBytes(const TTiffView& v, int64_t entryPos, TEntry& e)
{
    e.Tag = v.U16(entryPos);
    e.Type = v.U16(entryPos + 2);
    e.Count = v.U32(entryPos + 4);
    const int64_t bytes = TypeSize(e.Type) * int64_t(e.Count);
    if (bytes == 0)
        return false;
    e.ValueOffset = bytes <= 4 ? entryPos + 8 : int64_t(v.U32(entryPos + 8));
    return v.Has(e.ValueOffset, bytes);
}

std::string AsString(const TTiffView& v, const TEntry& e)
{
    if (e.Type != 2)
        return "";
    const char* s = reinterpret_cast<const char*>(v.P + e.ValueOffset);
    return std::string(s, strnlen(s, e.Count));
}

double AsNumber(const TTiffView& v, const TEntry& e, uint32_t index = 0)
{
    if (index >= e.Count)
        return 0;
    const int64_t at = e.ValueOffset + int64_t(index) * TypeSize(e.Type);
    switch (e.Type) {
    case 1: return v.P[at];
    case 3: return v.U16(at);
    case 4: return v.U32(at);
    case 8: return int16_t(v.U16(at));
    case 9: return int32_t(v.U32(at));
    case 5: {
        uint32_t d = v.U32(at + 4);
        return d ? double(v.U32(at)) / d : 0.0;
    }
    case 10: {
        int32_t d = int32_t(v.U32(at + 4));
        return d ? double(int32_t(v.U32(at))) / d : 0.0;
    }
    default: return 0;
    }
}

// Integer fields: a LONG or RATIONAL value may lie outside Integer; it is clamped
// rather than converted out of range.
int32_t AsInteger(const TTiffView& v, const TEntry& e, uint32_t index = 0)
{
    const double d = AsNumber(v, e, index);
    if (d >= 2147483647.0)
        return INT32_MAX;
    if (d <= -2147483648.0)
        return INT32_MIN;
    return int32_t(d);
}

void ReadDirectory(const TTiffView& v, int64_t ifd, TIOParamsVals& p, int depth)
{
    if (depth > 1 || !v.Has(ifd, 2))
        return;
    const int64_t count = v.U16(ifd);
    if (!v.Has(ifd + 2, count * 12))
        return;
    for (int64_t i = 0; i < count; ++i) {
        TEntry e;
        if (!ValueBytes(v, ifd + 2 + 12 * i, e))
            continue;
        switch (e.Tag) {
        case 0x010E: p.EXIF_ImageDescription = AsString(v, e); break;
        case 0x010F: p.EXIF_Make = AsString(v, e); break;
        case 0x0110: p.EXIF_Model = AsString(v, e); break;
        case 0x0112: p.EXIF_Orientation = AsInteger(v, e); break;
        case 0x011A: p.EXIF_XResolution = AsNumber(v, e); break;
        case 0x011B: p.EXIF_YResolution = AsNumber(v, e); break;
        case 0x0128: p.EXIF_ResolutionUnit = AsInteger(v, e); break;
        case 0x0131: p.EXIF_Software = AsString(v, e); break;
        case 0x0132: p.EXIF_DateTime = AsString(v, e); break;
        case 0x013B: p.EXIF_Artist = AsString(v, e); break;
        case 0x013E:
            for (uint32_t k = 0; k < 2; ++k)
                p.EXIF_WhitePoint[k] = AsNumber(v, e, k);
            break;
        case 0x013F:
            for (uint32_t k = 0; k < 6; ++k)
                p.EXIF_PrimaryChromaticities[k] = AsNumber(v, e, k);
            break;
        case 0x0211:
            for (uint32_t k = 0; k < 3; ++k)
                p.EXIF_YCbCrCoefficients[k] = AsNumber(v, e, k);
            break;
        case 0x0214:
            for (uint32_t k = 0; k < 6; ++k)
                p.EXIF_ReferenceBlackWhite[k] = AsNumber(v, e, k);
            break;
        case 0x8298: p.EXIF_Copyright = AsString(v, e); break;
        case 0x829A: p.EXIF_ExposureTime = AsNumber(v, e); break;
        case 0x829D: p.EXIF_FNumber = AsNumber(v, e); break;
        case 0x8822: p.EXIF_ExposureProgram = AsInteger(v, e); break;
        case 0x8827:
            for (uint32_t k = 0; k < 2; ++k)
                p.EXIF_ISOSpeedRatings[k] = AsInteger(v, e, k);
            break;
        case 0x9003: p.EXIF_DateTimeOriginal = AsString(v, e); break;
        case 0x9209: p.EXIF_Flash = AsInteger(v, e); break;
        case 0x920A: p.EXIF_FocalLength = AsNumber(v, e); break;
        case 0xA002: p.EXIF_ExifImageWidth = AsInteger(v, e); break;
        case 0xA003: p.EXIF_ExifImageHeight = AsInteger(v, e); break;
        case 0x8769: // the EXIF sub-directory
            ReadDirectory(v, int64_t(AsNumber(v, e)), p, depth + 1);
            break;
        default: break;
        }
    }
}

} // namespace

bool IEReadExifMarker(const uint8_t* Data, size_t Length, TIOParamsVals& Params)
{
    if (!Data || Length < 6 + 8 || std::memcmp(Data, "Exif", 4) != 0)
        return false;
    TTiffView v{Data + 6, int64_t(Length) - 6, false};
    if (v.P[0] == 'I' && v.P[1] == 'I')
        v.Big = false;
    else if (v.P[0] == 'M' && v.P[1] == 'M')
        v.Big = true;
    else
        return false;
    if (v.U16(2) != 42)
        return false;
    const int64_t ifd = v.U32(4);
    if (!v.Has(ifd, 2))
        return false;
    ReadDirectory(v, ifd, Params, 0);
    Params.EXIF_HasEXIFData = true;
    return true;
}

} // namespace kv
