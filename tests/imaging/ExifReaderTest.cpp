// The EXIF marker reader: integer fields from LONG and RATIONAL values that do not fit
// an Integer, laid out byte by byte in a little-endian TIFF block.
#include "imaging/ExifReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace kv;

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(Bytes& b, uint32_t v)
{
    Put16(b, uint16_t(v));
    Put16(b, uint16_t(v >> 16));
}

void Entry(Bytes& b, uint16_t tag, uint16_t type, uint32_t valueOrOffset)
{
    Put16(b, tag);
    Put16(b, type);
    Put32(b, 1); // count
    Put32(b, valueOrOffset);
}

} // namespace

TEST(ExifReader, IntegerFieldsOutsideIntegerAreClamped)
{
    Bytes b{'E', 'x', 'i', 'f', 0, 0};
    b.insert(b.end(), {'I', 'I'});
    Put16(b, 42);
    Put32(b, 8);                     // first directory right after the header
    Put16(b, 6);                     // entries; values too long to sit inline start at 8 + 2 + 72 + 4 = 86
    Entry(b, 0x0112, 4, 0xFFFFFFFF); // Orientation, LONG 4294967295
    Entry(b, 0x0128, 3, 2);          // ResolutionUnit, SHORT 2
    Entry(b, 0x8822, 5, 86);         // ExposureProgram, RATIONAL 7/2
    Entry(b, 0x9209, 8, 0xFFFB);     // Flash, SSHORT -5
    Entry(b, 0xA002, 10, 94);        // ExifImageWidth, SRATIONAL -2147483648/-1
    Entry(b, 0xA003, 5, 102);        // ExifImageHeight, RATIONAL 4294967295/1
    Put32(b, 0);                     // no next directory
    Put32(b, 7);
    Put32(b, 2);
    Put32(b, 0x80000000);
    Put32(b, 0xFFFFFFFF);
    Put32(b, 0xFFFFFFFF);
    Put32(b, 1);
    ASSERT_EQ(b.size(), 6u + 110u);

    TIOParamsVals p(nullptr);
    ASSERT_TRUE(IEReadExifMarker(b.data(), b.size(), p));
    EXPECT_TRUE(p.EXIF_HasEXIFData);
    EXPECT_EQ(p.EXIF_Orientation, INT32_MAX);
    EXPECT_EQ(p.EXIF_ResolutionUnit, 2);
    EXPECT_EQ(p.EXIF_ExposureProgram, 3);
    EXPECT_EQ(p.EXIF_Flash, -5);
    EXPECT_EQ(p.EXIF_ExifImageWidth, INT32_MAX);
    EXPECT_EQ(p.EXIF_ExifImageHeight, INT32_MAX);
}
