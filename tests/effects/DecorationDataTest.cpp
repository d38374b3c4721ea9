// The decoration folders drawn by tools/assetgen: stable bytes, and every file opens
// through the program's own loaders with the contents the dialogs rely on.
#include "tools/assetgen/AssetDesigns.h"
#include "tools/assetgen/AssetGen.h"

#include "formats/GIFImage.h"
#include "formats/KvGIF.h"
#include "platform/Icon.h"
#include "platform/Jpeg.h"
#include "raster/Raster32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <unistd.h>

using namespace kv;
namespace fs = std::filesystem;

namespace {

// Removes the generated folders when the test program ends.
struct TTempFolders {
    std::vector<fs::path> Paths;
    ~TTempFolders()
    {
        std::error_code ec;
        for (auto& p : Paths)
            fs::remove_all(p, ec);
    }
} TempFolders;

// One generated folder shared by the tests of this file.
const std::string& Generated()
{
    static const std::string dir = [] {
        // One folder per process: ctest runs the cases of this file side by side.
        fs::path d = fs::temp_directory_path() / ("kv_assets_a" + std::to_string(getpid()));
        fs::remove_all(d);
        TempFolders.Paths.push_back(d);
        assetgen::GenerateAssets(d.string());
        return d.string();
    }();
    return dir;
}

std::string At(const std::string& Rel) { return (fs::path(Generated()) / Rel).string(); }

std::vector<std::string> FilesIn(const std::string& Folder)
{
    std::vector<std::string> f;
    for (auto& e : fs::directory_iterator(At(Folder)))
        f.push_back(e.path().string());
    std::sort(f.begin(), f.end());
    return f;
}

void ExpectGrey(const TBitmap32& B, const std::string& Name)
{
    for (int32_t y = 0; y < B.Height(); y += 3)
        for (int32_t x = 0; x < B.Width(); x += 3) {
            TColor32 c = B.GetPixelFast(x, y);
            ASSERT_TRUE(Color32Red(c) == Color32Green(c) && Color32Green(c) == Color32Blue(c))
                << Name << " at " << x << "," << y;
        }
}

struct TManifestLine {
    uint64_t Size;
    std::string Bytes, Pixels;
};

std::map<std::string, TManifestLine> ParseManifest(const std::string& Text)
{
    std::map<std::string, TManifestLine> m;
    std::istringstream in(Text);
    std::string path;
    TManifestLine l;
    while (in >> path >> l.Size >> l.Bytes >> l.Pixels)
        m[path] = l;
    return m;
}

} // namespace

TEST(DecorationData, TwoRunsGiveTheSameBytesAndMatchTheCommittedManifest)
{
    fs::path other = fs::temp_directory_path() / ("kv_assets_b" + std::to_string(getpid()));
    fs::remove_all(other);
    TempFolders.Paths.push_back(other);
    auto first = assetgen::GenerateAssets(At(""));
    auto second = assetgen::GenerateAssets(other.string());
    EXPECT_EQ(assetgen::ManifestText(first), assetgen::ManifestText(second));
    EXPECT_EQ(first.size(), 84u);

    std::ifstream committed(std::string(KV_TEST_DATA) + "/assets/manifest.txt");
    std::stringstream text;
    text << committed.rdbuf();
    auto want = ParseManifest(text.str());
    auto got = ParseManifest(assetgen::ManifestText(first));
    ASSERT_EQ(want.size(), got.size());
    for (auto& [path, line] : want) {
        ASSERT_TRUE(got.count(path)) << path;
        EXPECT_EQ(got[path].Pixels, line.Pixels) << path;
        // libjpeg's output may change between releases; its input may not.
        if (fs::path(path).extension() != ".jpg") {
            EXPECT_EQ(got[path].Bytes, line.Bytes) << path;
            EXPECT_EQ(got[path].Size, line.Size) << path;
        }
    }
}

TEST(DecorationData, FramesOpenThroughBothGifReaders)
{
    for (int n = 1; n <= 8; ++n) {
        std::string f = At("Frames/Frame" + std::to_string(n) + ".gif");
        TBitmap32 b;
        b.LoadFromFile(f);
        EXPECT_EQ(b.Width(), 800);
        EXPECT_EQ(b.Height(), 600);
        kv::TGIFImage gif;
        gif.LoadFromFile(f);
        EXPECT_EQ(gif.Width(), 800);
        EXPECT_EQ(gif.Height(), 600);
        // One image, a 256-entry global table, no extension: "GIF87a", packed 0xF7.
        std::ifstream in(f, std::ios::binary);
        char head[11];
        in.read(head, 11);
        EXPECT_EQ(std::string(head, 6), "GIF87a");
        EXPECT_EQ(uint8_t(head[10]), 0xF7);
    }
}

TEST(DecorationData, MasksAreGreyAndMask01HasItsEdge)
{
    TBitmap32 m;
    m.LoadFromFile(At("Frames/mask01.gif"));
    ASSERT_EQ(m.Width(), 800);
    EXPECT_EQ(Color32Red(m.GetPixelFast(95, 300)), 255);
    EXPECT_EQ(Color32Red(m.GetPixelFast(96, 300)), 170);
    EXPECT_EQ(Color32Red(m.GetPixelFast(97, 300)), 85);
    EXPECT_EQ(Color32Red(m.GetPixelFast(98, 300)), 0);
    EXPECT_EQ(Color32Red(m.GetPixelFast(400, 300)), 0);
    EXPECT_EQ(Color32Red(m.GetPixelFast(400, 71)), 255);
    EXPECT_EQ(Color32Red(m.GetPixelFast(704, 300)), 255);
    ExpectGrey(m, "mask01");
    const std::pair<const char*, int> shapes[] = {{"mask_grad.jpg", 400},
                                                  {"mask_blur.gif", 400},
                                                  {"mask_spray.gif", 400},
                                                  {"mask_heart2.gif", 400},
                                                  {"mask_heart.gif", 225}};
    for (auto [name, insideX] : shapes) {
        TBitmap32 s;
        s.LoadFromFile(At(std::string("Frames/") + name));
        EXPECT_EQ(s.Width(), 800) << name;
        EXPECT_EQ(s.Height(), 600) << name;
        ExpectGrey(s, name);
        // Black inside the shape, white in the corners.
        EXPECT_LT(Color32Red(s.GetPixelFast(insideX, 300)), 16) << name;
        EXPECT_GT(Color32Red(s.GetPixelFast(2, 2)), 240) << name;
    }
    auto masks = FilesIn("Masks");
    EXPECT_GE(masks.size(), 12u);
    EXPECT_LE(masks.size(), 16u);
    for (auto& f : masks) {
        EXPECT_EQ(fs::path(f).extension(), ".gif");
        TBitmap32 b;
        b.LoadFromFile(f);
        EXPECT_EQ(b.Width(), 400);
        EXPECT_EQ(b.Height(), 300);
        ExpectGrey(b, f);
    }
}

TEST(DecorationData, PatternsAreSmall24BitTiles)
{
    for (int n = 1; n <= 38; ++n) {
        std::string f = At("Patterns/pat" + std::to_string(n) + ".bmp");
        EXPECT_EQ(fs::file_size(f), 246u) << f;
        TBitmap32 b;
        b.LoadFromFile(f);
        ASSERT_EQ(b.Width(), 8);
        ASSERT_EQ(b.Height(), 8);
        const auto rgb = assetgen::PatternPixels(n);
        for (int i = 0; i < 64; ++i) {
            TColor32 c = b.Bits()[i];
            EXPECT_EQ(Color32Alpha(c), 255);
            EXPECT_EQ(Color32Red(c), rgb[size_t(3 * i)]);
            EXPECT_EQ(Color32Blue(c), rgb[size_t(3 * i + 2)]);
        }
    }
    EXPECT_FALSE(fs::exists(At("Patterns/pat39.bmp")));
}

TEST(DecorationData, IconHoldsThreeSizes)
{
    std::string f = At("Icon.ico");
    ASSERT_EQ(fs::file_size(f), 15086u);
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(b[2], 1);
    EXPECT_EQ(b[4], 3);
    EXPECT_EQ(b[6], 16);
    EXPECT_EQ(b[22], 32);
    EXPECT_EQ(b[38], 48);
    TIcon icon;
    icon.LoadFromFile(f);
    EXPECT_FALSE(icon.Empty());
    // The corners are transparent, the middle opaque.
    const uint8_t* mid = icon.Image().ScanLine(icon.Height() / 2) + 4 * (icon.Width() / 2);
    EXPECT_EQ(mid[3], 255);
    EXPECT_EQ(icon.Image().ScanLine(0)[3], 0);
}

namespace {

// Sums of |difference| over the wrap seam and over the worst pair of neighbouring
// columns (or rows) inside the tile.
struct TSeam {
    int64_t SeamX = 0, SeamY = 0, WorstX = 0, WorstY = 0;
};

TSeam Seams(const std::function<int(int, int, int)>& Channel)
{
    auto diff = [&](int x1, int y1, int x2, int y2) {
        int d = 0;
        for (int c = 0; c < 3; ++c)
            d += std::abs(Channel(x1, y1, c) - Channel(x2, y2, c));
        return d;
    };
    TSeam s;
    for (int i = 0; i < 256; ++i) {
        s.SeamX += diff(255, i, 0, i);
        s.SeamY += diff(i, 255, i, 0);
    }
    for (int k = 0; k < 255; ++k) {
        int64_t cx = 0, cy = 0;
        for (int i = 0; i < 256; ++i) {
            cx += diff(k, i, k + 1, i);
            cy += diff(i, k, i, k + 1);
        }
        s.WorstX = std::max(s.WorstX, cx);
        s.WorstY = std::max(s.WorstY, cy);
    }
    return s;
}

} // namespace

TEST(DecorationData, TexturesAreSeamless256Tiles)
{
    // The drawn pixels wrap exactly like neighbours inside the tile.
    for (const auto& t : assetgen::Textures()) {
        TSeam s = Seams([&](int x, int y, int c) { return int(t.Rgb[size_t(y * 256 + x) * 3 + size_t(c)]); });
        EXPECT_LE(s.SeamX, s.WorstX) << t.Name;
        EXPECT_LE(s.SeamY, s.WorstY) << t.Name;
    }
    auto tex = FilesIn("Textures");
    EXPECT_GE(tex.size(), 12u);
    EXPECT_LE(tex.size(), 16u);
    for (auto& f : tex) {
        EXPECT_EQ(fs::path(f).extension(), ".jpg");
        TBitmap32 b;
        b.LoadFromFile(f);
        ASSERT_EQ(b.Width(), 256);
        ASSERT_EQ(b.Height(), 256);
        // After JPEG the seam is a block edge like any other: within a little of the worst.
        TSeam s = Seams([&](int x, int y, int c) { return int((b.GetPixelFast(x, y) >> (8 * c)) & 0xFF); });
        EXPECT_LE(s.SeamX * 4, s.WorstX * 5) << f;
        EXPECT_LE(s.SeamY * 4, s.WorstY * 5) << f;
    }
}
