#include "platform/Graphics.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kv;

namespace {

// A 32-bit top-down surface the tests can inspect.
struct Surface {
    int w, h;
    std::vector<uint32_t> px;
    TCanvas canvas;
    Surface(int W, int H, uint32_t fill = 0xFFFFFFFF) : w(W), h(H), px(size_t(W) * H, fill)
    {
        canvas.AttachBuffer(px.data(), W, H, W * 4);
    }
    uint32_t at(int x, int y) const { return px[size_t(y) * w + x]; }
    std::string map(uint32_t on) const
    {
        std::string s;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                s += at(x, y) == on ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

} // namespace

TEST(Colors, SystemColoursAndNames)
{
    EXPECT_EQ(ColorToRGB(clBtnFace), 0xC0C0C0);
    EXPECT_EQ(ColorToRGB(clWindow), 0xFFFFFF);
    EXPECT_EQ(ColorToRGB(clWindowText), 0);
    EXPECT_EQ(ColorToRGB(clHighlight), 0x800000);
    EXPECT_EQ(ColorToRGB(clInfoBk), 0xE1FFFF);
    EXPECT_EQ(ColorToRGB(0x12345678), 0x345678);
    EXPECT_EQ(ColorToString(clRed), "clRed");
    EXPECT_EQ(ColorToString(clDkGray), "clGray");
    EXPECT_EQ(ColorToString(clBtnFace), "clBtnFace");
    EXPECT_EQ(ColorToString(0x00123456), "$00123456");
    EXPECT_EQ(StringToColor("clBtnFace"), clBtnFace);
    EXPECT_EQ(StringToColor("CLRED"), clRed);
    EXPECT_EQ(StringToColor("$00FF8000"), 0xFF8000);
    EXPECT_EQ(StringToColor("255"), clRed);
    EXPECT_EQ(StringToColor("-2147483648"), clScrollBar);
    EXPECT_THROW(StringToColor("clNotAColour"), EConvertError);
    EXPECT_THROW(StringToColor("$123456789"), EConvertError);
    for (TColor c : {clBlack, clNavy, clMoneyGreen, clNone, clDefault, clInfoBk, 0x00ABCDEF})
        EXPECT_EQ(StringToColor(ColorToString(c)), c);
}

TEST(Palettes, HandlesAndNearestEntry)
{
    HPALETTE h = CreateHalftonePalette();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 256u);
    auto e = PaletteEntries(h);
    EXPECT_EQ(e[0], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(e[8], (TPaletteEntry{192, 220, 192, 0}));
    EXPECT_EQ(e[10 + 1], (TPaletteEntry{51, 0, 0, 0})); // cube, red fastest
    EXPECT_EQ(e[255], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(GetNearestPaletteIndex(h, clRed), 15u); // the cube's red comes before the static one
    TPaletteEntry two[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    EXPECT_EQ(SetPaletteEntries(h, 255, 2, two), 1u);
    EXPECT_EQ(PaletteEntries(h)[255], (TPaletteEntry{1, 2, 3, 0}));
    EXPECT_TRUE(DeletePalette(h));
    EXPECT_FALSE(DeletePalette(h));
    EXPECT_EQ(GetPaletteEntries(h, 0, 0, nullptr), 0u);
    EXPECT_EQ(SystemPaletteEntries().size(), 20u);
}

TEST(GraphicsObjects, OnChangeOnlyOnRealChanges)
{
    TPen pen;
    TFont font;
    int n = 0;
    pen.OnChange = [&](TObject*) { ++n; };
    font.OnChange = [&](TObject*) { ++n; };
    pen.SetColor(clBlack);
    pen.SetWidth(1);
    EXPECT_EQ(n, 0);
    pen.SetColor(clRed);
    EXPECT_EQ(n, 1);
    font.SetSize(12);
    EXPECT_EQ(font.Height(), -16);
    EXPECT_EQ(font.Size(), 12);
    font.SetSize(12);
    EXPECT_EQ(n, 2);
    TFont other;
    other.Assign(&font);
    EXPECT_EQ(other.Height(), -16);
    EXPECT_EQ(font.Size(), 12);
    TFont def;
    EXPECT_EQ(def.Size(), 8);
}

TEST(Canvas, FillRectRectangleAndLinesExactPixels)
{
    Surface s(6, 5);
    s.canvas.Brush()->SetColor(clRed);
    s.canvas.FillRect(Rect(1, 1, 3, 4));
    EXPECT_EQ(s.map(0xFFFF0000), "......\n"
                                 ".##...\n"
                                 ".##...\n"
                                 ".##...\n"
                                 "......\n");

    Surface r(6, 5);
    r.canvas.Pen()->SetColor(clBlue);
    r.canvas.Brush()->SetColor(clLime);
    r.canvas.Rectangle(0, 0, 5, 4);
    EXPECT_EQ(r.map(0xFF0000FF), "#####.\n"
                                 "#...#.\n"
                                 "#...#.\n"
                                 "#####.\n"
                                 "......\n");
    EXPECT_EQ(r.at(1, 1), 0xFF00FF00u);

    Surface l(5, 2);
    l.canvas.MoveTo(0, 0);
    l.canvas.LineTo(4, 0); // the end point is left out
    EXPECT_EQ(l.map(0xFF000000), "####.\n.....\n");
    EXPECT_EQ(l.canvas.PenPos(), Point(4, 0));
}

TEST(Canvas, PenModesCombineWithTheDestination)
{
    Surface s(3, 1, 0x80FFFF00); // half-transparent yellow
    s.canvas.Pen()->SetColor(clWhite);
    s.canvas.Pen()->SetMode(pmXor);
    s.canvas.MoveTo(0, 0);
    s.canvas.LineTo(2, 0);
    EXPECT_EQ(s.at(0, 0), 0x800000FFu); // colour bits inverted, alpha kept
    EXPECT_EQ(s.at(2, 0), 0x80FFFF00u);
    s.canvas.MoveTo(0, 0);
    s.canvas.LineTo(2, 0);
    EXPECT_EQ(s.at(0, 0), 0x80FFFF00u); // a second XOR restores
}

TEST(Canvas, PixelsReadAndWriteDirectly)
{
    Surface s(2, 2, 0);
    s.canvas.SetPixels(1, 0, RGB(1, 2, 3));
    EXPECT_EQ(s.at(1, 0), 0xFF010203u);
    EXPECT_EQ(s.canvas.Pixels(1, 0), RGB(1, 2, 3));
    EXPECT_EQ(s.canvas.Pixels(5, 0), -1);
    s.canvas.SetPixels(0, 1, clBtnFace);
    EXPECT_EQ(s.canvas.Pixels(0, 1), 0xC0C0C0);
    TCanvas unattached;
    EXPECT_EQ(unattached.Pixels(0, 0), clBlack);
}

TEST(BlockTransfers, RopsOnColourBits)
{
    Surface src(2, 1, 0);
    src.px = {0xFF00FF0F, 0x10F0F0F0};
    for (auto [rop, expect0] : std::initializer_list<std::pair<uint32_t, uint32_t>>{{SRCCOPY, 0xFF00FF0Fu},
                                                                                    {SRCAND, 0xFF003303u},
                                                                                    {SRCPAINT, 0xFF33FF3Fu},
                                                                                    {SRCINVERT, 0xFF33CC3Cu},
                                                                                    {NOTSRCCOPY, 0xFFFF00F0u},
                                                                                    {SRCERASE, 0xFF00CC0Cu}, // S & ~D
                                                                                    {DSTINVERT, 0xFFCCCCCCu},
                                                                                    {BLACKNESS, 0xFF000000u},
                                                                                    {WHITENESS, 0xFFFFFFFFu}}) {
        Surface dst(2, 1, 0xFF333333);
        ASSERT_TRUE(BitBlt(dst.canvas.Handle(), 0, 0, 2, 1, src.canvas.Handle(), 0, 0, rop)) << std::hex << rop;
        EXPECT_EQ(dst.at(0, 0), expect0) << std::hex << rop;
    }
    // SRCCOPY moves all 32 bits, alpha included.
    Surface dst(2, 1, 0);
    BitBlt(dst.canvas.Handle(), 0, 0, 2, 1, src.canvas.Handle(), 0, 0, SRCCOPY);
    EXPECT_EQ(dst.at(1, 0), 0x10F0F0F0u);
    // PATCOPY uses the destination's brush.
    dst.canvas.Brush()->SetColor(clBlue);
    PatBlt(dst.canvas.Handle(), 1, 0, 1, 1, PATCOPY);
    EXPECT_EQ(dst.at(1, 0), 0x100000FFu);
}

TEST(BlockTransfers, OverlapClipAndStretch)
{
    Surface s(4, 1, 0);
    s.px = {1, 2, 3, 4};
    BitBlt(s.canvas.Handle(), 1, 0, 3, 1, s.canvas.Handle(), 0, 0, SRCCOPY);
    EXPECT_EQ(s.px, (std::vector<uint32_t>{1, 1, 2, 3}));
    s.px = {1, 2, 3, 4};
    BitBlt(s.canvas.Handle(), 0, 0, 3, 1, s.canvas.Handle(), 1, 0, SRCINVERT);
    EXPECT_EQ(s.px, (std::vector<uint32_t>{1 ^ 2, 2 ^ 3, 3 ^ 4, 4}));
    Surface v(1, 4, 0);
    v.px = {1, 2, 3, 4};
    BitBlt(v.canvas.Handle(), 0, 1, 1, 3, v.canvas.Handle(), 0, 0, SRCCOPY);
    EXPECT_EQ(v.px, (std::vector<uint32_t>{1, 1, 2, 3}));
    // Clipped at every edge: nothing outside is touched, nothing crashes.
    Surface c(3, 3, 0);
    Surface src(2, 2, 7);
    BitBlt(c.canvas.Handle(), -1, -1, 2, 2, src.canvas.Handle(), 0, 0, SRCCOPY);
    EXPECT_EQ(c.at(0, 0), 7u);
    EXPECT_EQ(c.at(1, 1), 0u);
    BitBlt(c.canvas.Handle(), 2, 2, 5, 5, src.canvas.Handle(), -1, -1, SRCCOPY);
    EXPECT_EQ(c.at(2, 2), 0u); // source pixel (-1,-1) does not exist
    // Stretch 2 -> 4, nearest, and mirrored.
    Surface w(4, 1, 0);
    Surface two(2, 1, 0);
    two.px = {5, 6};
    StretchBlt(w.canvas.Handle(), 0, 0, 4, 1, two.canvas.Handle(), 0, 0, 2, 1, SRCCOPY);
    EXPECT_EQ(w.px, (std::vector<uint32_t>{5, 5, 6, 6}));
    StretchBlt(w.canvas.Handle(), 3, 0, -4, 1, two.canvas.Handle(), 0, 0, 2, 1, SRCCOPY);
    EXPECT_EQ(w.px, (std::vector<uint32_t>{6, 6, 5, 5}));
    w.canvas.CopyRect(Rect(0, 0, 1, 1), &two.canvas, Rect(1, 0, 2, 1));
    EXPECT_EQ(w.px[0], 6u);
}

TEST(Canvas, TextUsesSubstitutedFacesAndPixelHeights)
{
    Surface s(80, 30);
    s.canvas.Font()->SetName("Arial");
    s.canvas.Font()->SetHeight(-20);
    s.canvas.Font()->SetColor(clBlack);
    s.canvas.Brush()->SetColor(clYellow);
    int w = s.canvas.TextWidth("Hi");
    int h = s.canvas.TextHeight("Hi");
    EXPECT_GT(w, 8);
    EXPECT_GE(h, 20);
    EXPECT_LE(h, 26);
    s.canvas.TextOut(2, 3, "Hi");
    EXPECT_EQ(s.canvas.PenPos(), Point(2 + w, 3));
    EXPECT_EQ(s.at(2, 3), 0xFFFFFF00u); // the brush fills the text cell
    EXPECT_EQ(s.at(1, 3), 0xFFFFFFFFu);
    int dark = 0;
    for (uint32_t p : s.px)
        dark += (p & 0xFF) < 0x40;
    EXPECT_GT(dark, 10);
    s.canvas.Font()->SetName("MS Sans Serif");
    EXPECT_GT(s.canvas.TextWidth("Hi"), 0);
}

// ---- Registry ---------------------------------------------------------------------

namespace {
class TFakeGraphic : public TGraphic {
public:
    explicit TFakeGraphic(int tag = 0) : Tag(tag) {}
    int Tag;
    int32_t Width() const override { return 1; }
    int32_t Height() const override { return 1; }
    bool Empty() const override { return false; }
    void Draw(TCanvas&, const TRect&) override {}
    void LoadFromStream(TStream& s) override { Tag = 100 + int(s.Size()); }
    void SaveToStream(TStream&) override {}
    std::string ClassName() const override { return "TFakeGraphic" + std::to_string(Tag); }
};
} // namespace

TEST(Registry, LowerCaseLastWinsAndUnknownExtension)
{
    TPicture::RegisterFileFormat("FAKE", "Fake one",
                                 {"TFakeGraphic1", [] { return std::make_unique<TFakeGraphic>(1); }});
    TPicture::RegisterFileFormat(".fake", "Fake two",
                                 {"TFakeGraphic2", [] { return std::make_unique<TFakeGraphic>(2); }});
    const TGraphicClass* c = TPicture::FindGraphicClass("Fake");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Name, "TFakeGraphic2");
    EXPECT_NE(TPicture::GraphicFilter().find("Fake two (*.fake)|*.fake"), std::string::npos);
    EXPECT_NE(TPicture::FindGraphicClass("BMP"), nullptr);

    auto dir = std::filesystem::temp_directory_path() / "kv_registry_test";
    std::filesystem::create_directories(dir);
    std::string name = (dir / "x.FaKe").string();
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fputs("abc", f);
    std::fclose(f);
    TPicture pic;
    pic.LoadFromFile(name);
    ASSERT_NE(pic.Graphic(), nullptr);
    EXPECT_EQ(static_cast<TFakeGraphic*>(pic.Graphic())->Tag, 103);

    try {
        pic.LoadFromFile((dir / "y.WMF").string());
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Unknown picture file extension (.wmf)");
    }
    TPicture::UnregisterGraphicClass("TFakeGraphic2");
    EXPECT_EQ(TPicture::FindGraphicClass("fake")->Name, "TFakeGraphic1");
    TPicture::UnregisterGraphicClass("TFakeGraphic1");
    EXPECT_EQ(TPicture::FindGraphicClass("fake"), nullptr);
    std::filesystem::remove_all(dir);
}

TEST(Registry, PictureLoadsBitmapsAndConvertsGraphics)
{
    auto dir = std::filesystem::temp_directory_path() / "kv_picture_test";
    std::filesystem::create_directories(dir);
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 2);
    bmp.SetPixelColor(1, 1, clRed);
    std::string name = (dir / "p.BMP").string();
    bmp.SaveToFile(name);
    TPicture pic;
    int changes = 0;
    pic.OnChange = [&](TObject*) { ++changes; };
    pic.LoadFromFile(name);
    EXPECT_GE(changes, 1);
    EXPECT_EQ(pic.Width(), 3);
    EXPECT_EQ(pic.Graphic()->ClassName(), "TBitmap");
    EXPECT_EQ(pic.Bitmap()->PixelColor(1, 1), clRed);
    TPicture copy;
    copy.Assign(&pic);
    EXPECT_EQ(copy.Bitmap()->PixelColor(1, 1), clRed);
    EXPECT_NE(copy.Bitmap(), pic.Bitmap());
    TBitmap out;
    out.Assign(&pic);
    EXPECT_EQ(out.PixelColor(1, 1), clRed);
    std::filesystem::remove_all(dir);
}
