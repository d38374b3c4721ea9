#include "imaging/IOParams.h"
#include "platform/Graphics.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kv;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(uint8_t(b));
    return v;
}

const char PhotoshopHeader[] = "Photoshop 3.0"; // and its NUL

} // namespace

TEST(IPTC, BlockLayoutWithShortAndLongDatasets)
{
    TIEIPTCInfoList list;
    list.AddStringItem(2, 5, "abc");
    list.AddStringItem(2, 0, "x"); // record 2 / dataset 0 is never written
    list.AddStringItem(2, 120, std::string(32768, 'z'));
    std::vector<uint8_t> buf;
    list.SaveToBuffer(buf);
    ASSERT_EQ(buf.size(), 32812u);
    EXPECT_EQ(std::memcmp(buf.data(), PhotoshopHeader, 14), 0);
    EXPECT_EQ(std::memcmp(buf.data() + 14, "8BIM\x04\x04\0\0", 8), 0);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 22, buf.begin() + 26), Bytes({0, 0, 0x80, 0x11})); // 32785
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 26, buf.begin() + 34), Bytes({0x1C, 2, 5, 0, 3, 'a', 'b', 'c'}));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 34, buf.begin() + 43),
              Bytes({0x1C, 2, 120, 0x80, 0x04, 0, 0, 0x80, 0}));
    EXPECT_EQ(buf.back(), 0); // odd total padded, not counted in the size field

    TIEIPTCInfoList back;
    back.LoadFromBuffer(buf.data(), int64_t(buf.size()));
    ASSERT_EQ(back.Count(), 2);
    EXPECT_FALSE(back.Modified);
    EXPECT_EQ(back.DataSetNumber(0), 5);
    EXPECT_EQ(back.StringItem(0), "abc");
    EXPECT_EQ(back.DataSetNumber(1), 120);
    EXPECT_EQ(back.DataLength(1), 32768);
}

TEST(IPTC, EmptyListAndLengthBoundary)
{
    TIEIPTCInfoList list;
    std::vector<uint8_t> buf;
    list.SaveToBuffer(buf);
    ASSERT_EQ(buf.size(), 26u);
    EXPECT_EQ(GetU32BE(buf.data() + 22), 0u);

    list.AddStringItem(2, 25, std::string(32767, 'k'));
    list.SaveToBuffer(buf);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 26, buf.begin() + 31), Bytes({0x1C, 2, 25, 0x7F, 0xFF}));
}

TEST(IPTC, SizeFieldHoldingTheTagByteStillReadsBack)
{
    // 23 data bytes make a 28-byte (0x1C) dataset: the size field holds the tag byte.
    TIEIPTCInfoList list;
    list.AddStringItem(2, 5, std::string(23, 'q'));
    std::vector<uint8_t> buf;
    list.SaveToBuffer(buf);
    ASSERT_EQ(buf.size(), 54u);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 22, buf.begin() + 26), Bytes({0, 0, 0, 0x1C}));
    TIEIPTCInfoList back;
    back.LoadFromBuffer(buf.data(), int64_t(buf.size()));
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back.StringItem(0), std::string(23, 'q'));
}

TEST(IPTC, ModifiedFlag)
{
    TIEIPTCInfoList list;
    EXPECT_TRUE(list.Modified);
    std::vector<uint8_t> buf;
    list.SaveToBuffer(buf);
    list.LoadFromBuffer(buf.data(), int64_t(buf.size()));
    EXPECT_FALSE(list.Modified);
    list.AddStringItem(2, 5, "a");
    EXPECT_TRUE(list.Modified);
    list.LoadFromBuffer(buf.data(), int64_t(buf.size()));
    list.Clear();
    EXPECT_TRUE(list.Modified);
    list.LoadFromBuffer(buf.data(), int64_t(buf.size()));
    TIEIPTCInfoList other;
    list.Assign(&other);
    EXPECT_TRUE(list.Modified);
}

TEST(IPTC, MalformedDatasetsStopQuietly)
{
    TIEIPTCInfoList list;
    // Bare datasets (no Photoshop header): a good one, then a long form cut short.
    auto raw = Bytes({0, 0, 0x1C, 2, 5, 0, 2, 'h', 'i', 0x1C, 2, 6, 0x80, 0x04, 0});
    list.LoadFromBuffer(raw.data(), int64_t(raw.size()));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.StringItem(0), "hi");
    // A length that would wrap a 32-bit sum.
    auto huge = Bytes({0x1C, 2, 5, 0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xF0, 1, 2});
    list.LoadFromBuffer(huge.data(), int64_t(huge.size()));
    EXPECT_EQ(list.Count(), 0);
    auto one = Bytes({0x1C});
    list.LoadFromBuffer(one.data(), 1);
    EXPECT_EQ(list.Count(), 0);
    list.LoadFromBuffer(nullptr, 0);
    EXPECT_EQ(list.Count(), 0);
}

TEST(IPTC, MergeKeepsOtherPhotoshopResources)
{
    // An APP13 with a resolution resource (0x03ED) then an IPTC resource.
    std::vector<uint8_t> old(PhotoshopHeader, PhotoshopHeader + 14);
    auto res = Bytes({'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 4, 1, 2, 3, 4});
    old.insert(old.end(), res.begin(), res.end());
    auto iptc = Bytes({'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, 5, 0x1C, 2, 5, 0, 0, 0});
    old.insert(old.end(), iptc.begin(), iptc.end());

    TIEIPTCInfoList list;
    list.AddStringItem(2, 120, "new");
    std::vector<uint8_t> block;
    list.SaveToBuffer(block);
    std::vector<uint8_t> merged = IEMergeIPTCResource(old.data(), old.size(), block);
    ASSERT_EQ(merged.size(), 14 + res.size() + (block.size() - 14));
    EXPECT_EQ(std::memcmp(merged.data() + 14, res.data(), res.size()), 0);
    TIEIPTCInfoList back;
    back.LoadFromBuffer(merged.data(), int64_t(merged.size()));
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back.StringItem(0), "new");
    // Not a Photoshop block: replaced whole.
    auto junk = Bytes({1, 2, 3});
    EXPECT_EQ(IEMergeIPTCResource(junk.data(), junk.size(), block), block);
}

TEST(Markers, ListOperations)
{
    TIEMarkerList m;
    EXPECT_EQ(m.IndexOf(0xE1), -1);
    m.AddMarker(0xE1, "abc", 3);
    m.AddMarker(0xFE, "c", 1);
    m.SetMarker(0, 0xED, "xy", 2);
    EXPECT_EQ(m.IndexOf(0xED), 0);
    EXPECT_EQ(m.MarkerLength(0), 2);
    EXPECT_EQ(m.MarkerType(1), 0xFE);
    TIEMarkerList copy;
    copy.Assign(&m);
    copy.Assign(nullptr);
    EXPECT_EQ(copy.Count(), 2);
    EXPECT_EQ(std::memcmp(copy.MarkerData(0), "xy", 2), 0);
}

TEST(Params, DefaultsAndAssign)
{
    TIOParamsVals p(nullptr);
    EXPECT_EQ(p.JpegQuality, 50);
    EXPECT_EQ(p.JpegColorSpace, 2);
    EXPECT_EQ(p.JpegScale, 1);
    EXPECT_EQ(p.GifVersion, "GIF89a");
    EXPECT_EQ(p.IcoBackground, (TRGB{255, 255, 255}));
    EXPECT_EQ(p.PngCompression, 5);
    EXPECT_DOUBLE_EQ(p.TgaGamma, 2.2);
    EXPECT_GT(p.TgaDate, 40000.0); // after 2009
    EXPECT_TRUE(p.IPTCInfo->Modified);
    EXPECT_EQ(p.ExifThumbnail->Width(), 1);
    p.JpegQuality = 90;
    p.DpiX = 300;
    p.IPTCInfo->AddStringItem(2, 5, "t");
    TRGB map[2] = {{1, 2, 3}, {4, 5, 6}};
    p.SetColorMap(map, 2);
    TIOParamsVals q(nullptr);
    q.Assign(&p);
    EXPECT_EQ(q.JpegQuality, 90);
    EXPECT_EQ(q.DpiX, 300);
    EXPECT_EQ(q.IPTCInfo->Count(), 1);
    ASSERT_EQ(q.ColorMapCount, 2);
    EXPECT_EQ(q.ColorMap[1], (TRGB{4, 5, 6}));
    // The further TIFF and EXIF tags are copied, the EXIF ones cleared by ResetInfo and
    // the TIFF ones restored by SetDefaultParams.
    p.TiffMore.InkSet = 2;
    p.TiffMore.TransferFunction = {1, 2, 3};
    p.EXIF_More.ExifVersion = "0230";
    p.EXIF_More.SceneType = 1;
    TIOParamsVals r(nullptr);
    r.Assign(&p);
    EXPECT_EQ(r.TiffMore.InkSet, 2);
    EXPECT_EQ(r.TiffMore.TransferFunction.size(), 3u);
    EXPECT_EQ(r.EXIF_More.ExifVersion, "0230");
    TIOParamsVals e(nullptr);
    e.CopyExif(p);
    EXPECT_EQ(e.EXIF_More.SceneType, 1);
    r.ResetInfo();
    EXPECT_EQ(r.EXIF_More.ExifVersion, "");
    EXPECT_EQ(r.TiffMore.InkSet, 2);
    r.SetDefaultParams();
    EXPECT_EQ(r.TiffMore.InkSet, 1);
    EXPECT_TRUE(r.TiffMore.TransferFunction.empty());
}
