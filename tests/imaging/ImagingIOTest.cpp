#include "imaging/ImagingIO.h"
#include "imaging/FilterTestUtil.h"
#include "imaging/JpegFilter.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace kv;
namespace fs = std::filesystem;

namespace {

int32_t Detect(const std::vector<uint8_t>& d)
{
    TImagingIO io;
    TReadOnlyMemoryStream s(d.data(), int64_t(d.size()));
    int32_t id = io.FindStreamFormat(s);
    EXPECT_EQ(s.Position(), 0);
    return id;
}

std::vector<uint8_t> Text(const std::string& s, size_t padTo = 0)
{
    std::vector<uint8_t> v(s.begin(), s.end());
    if (v.size() < padTo)
        v.resize(padTo, 0);
    return v;
}

void Gradient(TBitmap& b, int32_t w, int32_t h)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < 3 * w; ++x)
            b.ScanLine(y)[x] = uint8_t(x + 7 * y);
}

std::vector<uint8_t> JpegBytes()
{
    TBitmap b;
    Gradient(b, 8, 8);
    TIOParamsVals p(nullptr);
    TMemoryStream s;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    SaveJpegToStream(s, b, p, progress);
    return s.Bytes();
}

struct TTempDir {
    fs::path Path;
    TTempDir()
    {
        Path = fs::temp_directory_path() /
               ("kv-imaging-" + std::to_string(::getpid()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(Path);
    }
    ~TTempDir() { fs::remove_all(Path); }
    std::string operator/(const std::string& name) const { return (Path / name).string(); }
};

std::vector<uint8_t> ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(FormatDetection, EachFormatFromItsFirstBytes)
{
    EXPECT_EQ(Detect(Text("JFIF", 13)), ioJPEG);
    EXPECT_EQ(Detect(Text("GIF89a", 14)), ioGIF);
    EXPECT_EQ(Detect(Text("PCX2", 13)), ioPCX);
    EXPECT_EQ(Detect(Text(std::string("PCX\0", 4), 5)), ioPCX);
    EXPECT_EQ(Detect(Text("BM", 15)), ioBMP);
    std::vector<uint8_t> pcx(129, 0);
    pcx[0] = 0x0A;
    pcx[1] = 5;
    EXPECT_EQ(Detect(pcx), ioPCX);
    EXPECT_EQ(Detect(Text("TIFF", 13)), ioTIFF);
    EXPECT_EQ(Detect(Text("II", 9)), ioTIFF);
    EXPECT_EQ(Detect(Text("II", 8)), 0);
    std::vector<uint8_t> png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0};
    EXPECT_EQ(Detect(png), ioPNG);
    EXPECT_EQ(Detect(Text("P6 2 2 255\n", 23)), ioPXM);
    std::vector<uint8_t> tga(18 + 12, 0);
    tga[2] = 2;
    tga[16] = 24;
    EXPECT_EQ(Detect(tga), ioTGA);
    tga[16] = 15;
    EXPECT_EQ(Detect(tga), 0);
    std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 4, 0, 40, 0, 0, 0, 22, 0, 0, 0};
    ico.resize(64, 0);
    EXPECT_EQ(Detect(ico), ioICO);
    ico[2] = 2;
    EXPECT_EQ(Detect(ico), ioCUR);
    std::vector<uint8_t> lead(50, 0);
    auto jpeg = JpegBytes();
    lead.insert(lead.end(), jpeg.begin(), jpeg.end());
    EXPECT_EQ(Detect(lead), ioJPEG);
    EXPECT_EQ(Detect(std::vector<uint8_t>(20, 0)), 0);
    EXPECT_EQ(Detect({}), 0);
}

TEST(FormatDetection, RegistryAndVerifiedExtension)
{
    ASSERT_EQ(FileFormatRegistry().size(), 12u);
    EXPECT_EQ(FindFileFormatEntryByExt(".TARGA")->FileType, ioTGA);
    EXPECT_EQ(FindFileFormatEntryByExt("pix")->FileType, ioTGA);
    EXPECT_EQ(FindFileFormatEntry(12)->FullName, "Portable Pixmap, GreyMap, BitMap");
    EXPECT_EQ(IEFileFormatExtensionCount(ioJPEG), 3);
    EXPECT_EQ(IEFileFormatExtension(ioJPEG, 1), "JPEG");

    TTempDir dir;
    std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 4, 0, 40, 0, 0, 0, 22, 0, 0, 0};
    ico.resize(64, 0);
    std::ofstream(dir / "x.cur", std::ios::binary).write(reinterpret_cast<char*>(ico.data()), 64);
    TImagingIO io;
    EXPECT_EQ(io.FindFileFormat(dir / "x.cur", true), ioCUR);
    EXPECT_EQ(io.FindFileFormat(dir / "x.cur", false), ioICO);
    fs::copy(dir / "x.cur", dir / "x.png");
    EXPECT_EQ(io.FindFileFormat(dir / "x.png", true), 0);
}

TEST(ImagingIO, EditorSaveRoadWritesThroughATemporaryFile)
{
    TTempDir dir;
    const std::string target = dir / "A.JPG";
    std::ofstream(target) << "old contents";
    TImagingIO io;
    {
        TBitmap b;
        Gradient(b, 32, 16);
        io.SetBitmap(&b);
        io.Params().JpegQuality = 100;
        io.SaveToFile(target);
        EXPECT_FALSE(io.Aborting());
    }
    auto d = ReadFile(target);
    ASSERT_GT(d.size(), 100u);
    EXPECT_EQ(d[0], 0xFF);
    EXPECT_EQ(d[1], 0xD8);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path), fs::directory_iterator()), 1); // no temporary left

    // A failed save leaves the old file as it was.
    TBitmap big;
    Gradient(big, 64, 64);
    io.SetBitmap(&big);
    std::vector<uint8_t> huge(70000, 'x');
    io.Params().IPTCInfo->AddItem(2, 120, int32_t(huge.size()), huge.data());
    io.SaveToFileJpeg(target);
    EXPECT_TRUE(io.Aborting());
    EXPECT_EQ(ReadFile(target), d);
}

TEST(ImagingIO, ThirtyTwoBitBitmapIsConvertedInPlaceOneBitKept)
{
    TImagingIO io;
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetSize(8, 8);
    io.SetBitmap(&b);
    TMemoryStream s;
    io.SaveToStreamJpeg(s);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    TBitmap one;
    one.SetPixelFormat(pf1bit);
    one.SetSize(8, 8);
    io.SetBitmap(&one);
    TMemoryStream s2;
    io.SaveToStreamJpeg(s2);
    EXPECT_FALSE(io.Aborting());
    EXPECT_EQ(one.PixelFormat(), pf1bit);
}

TEST(ImagingIO, FormatsWithoutAFilterAbortCleanly)
{
    TTempDir dir;
    TImagingIO io;
    TBitmap b;
    Gradient(b, 4, 4);
    io.SetBitmap(&b);
    EXPECT_NO_THROW(io.SaveToFile(dir / "a.ico"));
    EXPECT_TRUE(io.Aborting());
    EXPECT_FALSE(fs::exists(dir / "a.ico"));
    EXPECT_NO_THROW(io.LoadFromFile(dir / "a.pix"));
    EXPECT_TRUE(io.Aborting());
    EXPECT_NO_THROW(io.SaveToFile(dir / "a.emf"));
    EXPECT_TRUE(io.Aborting());
    EXPECT_FALSE(io.AbortReason().empty());
    EXPECT_FALSE(fs::exists(dir / "a.emf"));
    io.ImportMetafile(dir / "a.wmf", -1, 300);
    EXPECT_TRUE(io.Aborting());
    io.SetBitmap(nullptr);
    io.LoadFromFile(dir / "missing.jpg"); // no bitmap: nothing but the flag
    EXPECT_FALSE(io.Aborting());
}

TEST(ImagingIO, LoadByExtensionAndStream)
{
    TTempDir dir;
    auto jpeg = JpegBytes();
    std::ofstream(dir / "p.jpeg", std::ios::binary)
        .write(reinterpret_cast<char*>(jpeg.data()), std::streamsize(jpeg.size()));
    TImagingIO io;
    TBitmap b;
    io.SetBitmap(&b);
    io.LoadFromFile(dir / "p.jpeg");
    EXPECT_FALSE(io.Aborting());
    EXPECT_EQ(b.Width(), 8);
    EXPECT_EQ(io.Params().FileType, ioJPEG);
    EXPECT_EQ(io.Params().FileName, dir / "p.jpeg");

    TBitmap c;
    io.SetBitmap(&c);
    TReadOnlyMemoryStream s(jpeg.data(), int64_t(jpeg.size()));
    io.LoadFromStream(s);
    EXPECT_EQ(c.Width(), 8);
    EXPECT_EQ(io.Params().FileName, "");

    TImagingIO params;
    params.ParamsFromFile(dir / "p.jpeg");
    EXPECT_EQ(params.Params().FileType, ioJPEG);
    EXPECT_EQ(params.Params().Width, 8);
    std::vector<uint8_t> junk(40, 7);
    std::ofstream(dir / "j.jpg", std::ios::binary).write(reinterpret_cast<char*>(junk.data()), 40);
    params.ParamsFromFileFormat(dir / "j.jpg", ioJPEG);
    EXPECT_EQ(params.Params().FileType, 0);
}

TEST(ImagingIO, StreamHeaders)
{
    TImagingIO io;
    TBitmap b;
    Gradient(b, 8, 8);
    io.SetBitmap(&b);
    TMemoryStream bare;
    io.SaveToStreamJpeg(bare);
    EXPECT_EQ(bare.Bytes()[0], 0xFF);

    io.SetStreamHeaders(true);
    TMemoryStream s;
    s.WriteU8(0x55);
    io.SaveToStreamJpeg(s);
    const auto& d = s.Bytes();
    EXPECT_EQ(std::memcmp(d.data() + 1, "JFIF\0\0\0\0", 8), 0);
    EXPECT_EQ(int64_t(GetU32LE(d.data() + 9)), s.Size() - 13);
    s.WriteU8(0xAA);

    // Read back whatever StreamHeaders says; the stream ends after the payload.
    TImagingIO reader;
    TBitmap c;
    reader.SetBitmap(&c);
    s.SetPosition(1);
    reader.LoadFromStreamJpeg(s);
    EXPECT_FALSE(reader.Aborting());
    EXPECT_EQ(c.Width(), 8);
    EXPECT_EQ(s.Position(), s.Size() - 1);

    // A payload size past the end aborts before reading.
    std::vector<uint8_t> bad(d.begin() + 1, d.end());
    PutU32LE(bad.data() + 8, 0x7FFFFFF0);
    TReadOnlyMemoryStream bs(bad.data(), int64_t(bad.size()));
    reader.LoadFromStreamJpeg(bs);
    EXPECT_TRUE(reader.Aborting());
    PutU32LE(bad.data() + 8, 0xFFFFFFF0);
    TReadOnlyMemoryStream neg(bad.data(), int64_t(bad.size()));
    reader.LoadFromStreamJpeg(neg);
    EXPECT_TRUE(reader.Aborting());
}

TEST(ImagingIO, IptcRoundTripThroughAJpegFile)
{
    TTempDir dir;
    TImagingIO io;
    TBitmap b;
    Gradient(b, 8, 8);
    io.SetBitmap(&b);
    io.Params().IPTCInfo->AddStringItem(2, 120, "caption");
    io.Params().IPTCInfo->AddStringItem(2, 80, "author");
    io.SaveToFileJpeg(dir / "i.jpg");
    TImagingIO r;
    TBitmap c;
    r.SetBitmap(&c);
    r.LoadFromFileJpeg(dir / "i.jpg");
    ASSERT_EQ(r.Params().IPTCInfo->Count(), 2);
    EXPECT_EQ(r.Params().IPTCInfo->StringItem(0), "caption");
    EXPECT_EQ(r.Params().IPTCInfo->DataSetNumber(1), 80);
    EXPECT_FALSE(r.Params().IPTCInfo->Modified);
}

TEST(ImagingIO, ExifResolutionReplacesAOneToOneDensity)
{
    // APP1: "Exif\0\0" + little-endian TIFF with XResolution/YResolution 72/1 and unit 2.
    std::vector<uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0};
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        uint8_t e[12];
        PutU16LE(e, tag);
        PutU16LE(e + 2, type);
        PutU32LE(e + 4, count);
        PutU32LE(e + 8, value);
        exif.insert(exif.end(), e, e + 12);
    };
    entry(0x011A, 5, 1, 50);
    entry(0x011B, 5, 1, 58);
    entry(0x0128, 3, 1, 2);
    exif.insert(exif.end(), {0, 0, 0, 0, 72, 0, 0, 0, 1, 0, 0, 0, 72, 0, 0, 0, 1, 0, 0, 0});

    TIOParamsVals p(nullptr);
    p.DpiX = p.DpiY = 1;
    p.JpegMarkers->AddMarker(0xE1, exif.data(), exif.size());
    TBitmap b;
    Gradient(b, 8, 8);
    TMemoryStream s;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    SaveJpegToStream(s, b, p, progress);
    TImagingIO io;
    TBitmap c;
    io.SetBitmap(&c);
    s.SetPosition(0);
    io.LoadFromStreamJpeg(s);
    EXPECT_TRUE(io.Params().EXIF_HasEXIFData);
    EXPECT_EQ(io.Params().DpiX, 72);
    EXPECT_EQ(io.Params().DpiY, 72);
}

// The DPI adjustment resamples along one axis by the fast linear path: halving averages
// source pixels Trunc(i / 0.5) .. Trunc(min(i + 1, new size - 1) / 0.5), so each target
// pixel but the last takes three sources (2i, 2i + 1, 2i + 2) and the last one only 2i.
TEST(ImagingIO, DpiAdjustment)
{
    auto Source = [](int32_t X, int32_t Y) { return int32_t(uint8_t(X + 7 * Y)); }; // as Gradient
    TImagingIO io;
    TBitmap b;
    Gradient(b, 100, 50);
    io.SetBitmap(&b);
    io.Params().DpiX = 100;
    io.Params().DpiY = 200;
    io.AdjustDPI();
    ASSERT_EQ(b.Width(), 100);
    ASSERT_EQ(b.Height(), 25);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(io.Params().DpiX, 100);
    EXPECT_EQ(io.Params().DpiY, 100);
    EXPECT_EQ(io.Params().Height, 25);
    // Row 0 averages rows 0, 1, 2: byte 0 is (0 + 7 + 14) / 3, byte 299 (43 + 50 + 57) / 3.
    EXPECT_EQ(b.ScanLine(0)[0], 7);
    EXPECT_EQ(b.ScanLine(0)[299], 50);
    // Row 24 is row 48 alone: 7 * 48 = 336, which is 80 in a byte.
    EXPECT_EQ(b.ScanLine(24)[0], 80);
    for (int32_t Y = 0; Y < 25; ++Y)
        for (int32_t X = 0; X < 300; ++X) {
            const int32_t Expected =
                Y < 24 ? (Source(X, 2 * Y) + Source(X, 2 * Y + 1) + Source(X, 2 * Y + 2)) / 3 : Source(X, 48);
            ASSERT_EQ(b.ScanLine(Y)[X], Expected) << X << "," << Y;
        }

    TBitmap t;
    Gradient(t, 50, 100);
    io.SetBitmap(&t);
    io.Params().DpiX = 200;
    io.Params().DpiY = 100;
    io.AdjustDPI();
    ASSERT_EQ(t.Width(), 25);
    ASSERT_EQ(t.Height(), 100);
    EXPECT_EQ(io.Params().DpiX, 100);
    EXPECT_EQ(io.Params().Width, 25);
    // Column 0 of row 0 averages pixels 0, 1, 2 channel by channel: blue (0 + 3 + 6) / 3.
    EXPECT_EQ(t.ScanLine(0)[0], 3);
    for (int32_t Y = 0; Y < 100; ++Y)
        for (int32_t I = 0; I < 25; ++I)
            for (int32_t C = 0; C < 3; ++C) {
                auto At = [&](int32_t K) { return Source(3 * K + C, Y); };
                const int32_t Expected = I < 24 ? (At(2 * I) + At(2 * I + 1) + At(2 * I + 2)) / 3 : At(48);
                ASSERT_EQ(t.ScanLine(Y)[3 * I + C], Expected) << I << "," << Y << "," << C;
            }

    // Equal resolutions, or one below 1, change nothing.
    const std::vector<uint8_t> Before(t.ScanLine(7), t.ScanLine(7) + 75);
    io.Params().DpiX = 0;
    io.Params().DpiY = 300;
    io.AdjustDPI();
    EXPECT_EQ(t.Width(), 25);
    io.Params().DpiX = 300;
    io.AdjustDPI();
    EXPECT_EQ(t.Width(), 25);
    EXPECT_EQ(std::vector<uint8_t>(t.ScanLine(7), t.ScanLine(7) + 75), Before);
    io.Params().DpiX = 1;
    io.Params().DpiY = 65535; // absurd: left alone
    io.AdjustDPI();
    EXPECT_EQ(t.Width(), 25);
    // A 1-bit fax at 204 x 98 dpi, 16 x 8, top half white: 8 / 98 * 204 gives 16 rows.
    TBitmap fax;
    fax.SetPixelFormat(pf1bit);
    fax.SetSize(16, 8);
    for (int32_t Y = 0; Y < 8; ++Y)
        std::memset(fax.ScanLine(Y), Y < 4 ? 0xFF : 0, 2);
    io.SetBitmap(&fax);
    io.Params().DpiX = 204;
    io.Params().DpiY = 98;
    io.AdjustDPI();
    ASSERT_EQ(fax.Width(), 16);
    ASSERT_EQ(fax.Height(), 16);
    EXPECT_EQ(io.Params().DpiY, 204);
    EXPECT_EQ(io.Params().Height, 16);
    EXPECT_EQ(kv::test::PixelAt(fax, 3, 0), CreateRGB(255, 255, 255));
    EXPECT_EQ(kv::test::PixelAt(fax, 3, 15), CreateRGB(0, 0, 0));
}

TEST(ImagingIO, LibjpegErrorOnSaveKeepsTheOldFile)
{
    TTempDir dir;
    const std::string target = dir / "e.jpg";
    std::ofstream(target) << "old";
    TImagingIO io;
    TBitmap empty; // libjpeg refuses an empty picture
    empty.SetPixelFormat(pf24bit);
    io.SetBitmap(&empty);
    EXPECT_THROW(io.SaveToFileJpeg(target), EIEJpegException);
    EXPECT_TRUE(io.Aborting());
    auto d = ReadFile(target);
    EXPECT_EQ(std::string(d.begin(), d.end()), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path), fs::directory_iterator()), 1);
}

namespace {
class TFakeView : public TIEView {
public:
    TBitmap Bmp;
    TIEMask Msk;
    TColor Back = clWhite;
    int32_t Dx = 0, Dy = 0, Changes = 0, Updates = 0;
    TIEViewCallback Callback;
    TBitmap* IEBitmap() override { return &Bmp; }
    TIEMask* SelectionMask() override { return &Msk; }
    TColor Background() const override { return Back; }
    void SetBackground(TColor Value) override { Back = Value; }
    int32_t XDpi() const override { return Dx; }
    int32_t YDpi() const override { return Dy; }
    void SetDPI(int32_t X, int32_t Y) override { Dx = X, Dy = Y; }
    void ImageChange() override { ++Changes; }
    void Update() override { ++Updates; }
    int32_t RegisterChangeCallback(TIEViewCallback C) override
    {
        Callback = std::move(C);
        return 7;
    }
    void UnregisterChangeCallback(int32_t) override { Callback = nullptr; }
};
} // namespace

TEST(ImagingIO, AttachedViewIsRefreshedAfterALoad)
{
    TFakeView view;
    TImagingIO io;
    io.SetAttachedImaging(&view);
    EXPECT_EQ(io.Bitmap(), &view.Bmp);
    EXPECT_EQ(io.Background(), clWhite);
    io.SetBitmap(nullptr); // nil while a view is attached: nothing changes
    EXPECT_EQ(io.Bitmap(), &view.Bmp);
    io.SetAttachedImaging(&view);
    auto jpeg = JpegBytes();
    TReadOnlyMemoryStream s(jpeg.data(), int64_t(jpeg.size()));
    io.LoadFromStreamJpeg(s);
    EXPECT_EQ(view.Bmp.Width(), 8);
    EXPECT_EQ(view.Changes, 1);
    EXPECT_EQ(view.Updates, 1);
    EXPECT_EQ(view.Dx, io.Params().DpiX);
    EXPECT_TRUE(view.Msk.Full());
    EXPECT_EQ(view.Msk.Width(), 8);
    ASSERT_TRUE(view.Callback);
    view.Callback(ievcGoingAway);
    EXPECT_EQ(io.AttachedImaging(), nullptr);
    EXPECT_EQ(io.Mask(), nullptr);
}

TEST(ImagingIO, ForgedHugeHeadersFailWithoutMemoryAndLeaveTheBitmap)
{
    auto peakKb = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return int64_t(u.ru_maxrss);
    };
    // Tiny files claiming 16383 x 16383 pictures or 16384 x 16384 tiles (tests/data/forged/README.md).
    for (const char* name : {"forged_tiles_16384.tif", "forged_16383.tga", "forged_16383.bmp", "forged_16383.png"}) {
        TBitmap b;
        Gradient(b, 5, 4);
        TImagingIO io;
        io.SetBitmap(&b);
        const int64_t before = peakKb();
        io.LoadFromFile(std::string(KV_TEST_DATA) + "/forged/" + name);
        EXPECT_TRUE(io.Aborting()) << name;
        EXPECT_LT(peakKb() - before, 64 * 1024) << name;
        // The caller's picture is kept, or (for the 1 x 1 TIFF) replaced by what was read.
        EXPECT_LE(int64_t(b.Width()) * b.Height(), 20) << name;
        if (b.Width() == 5) {
            EXPECT_EQ(b.ScanLine(3)[14], uint8_t(14 + 21)) << name;
        }
    }
}
