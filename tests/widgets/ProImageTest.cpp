#include "widgets/ProImage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QWidget>

#include <memory>
#include <vector>

using namespace kv;

namespace {

// A picture class that only records where it is drawn.
class TRecordingGraphic : public TGraphic {
public:
    TRecordingGraphic(int32_t W, int32_t H, std::vector<TRect>* Log) : FW(W), FH(H), FLog(Log) {}
    int32_t Width() const override { return FW; }
    int32_t Height() const override { return FH; }
    bool Empty() const override { return FW == 0 || FH == 0; }
    void Draw(TCanvas&, const TRect& R) override { FLog->push_back(R); }
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}

private:
    int32_t FW, FH;
    std::vector<TRect>* FLog;
};

std::unique_ptr<TBitmap> Gradient(int32_t W, int32_t H)
{
    auto B = std::make_unique<TBitmap>();
    B->SetPixelFormat(pf24bit);
    B->SetSize(W, H);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            B->SetPixelColor(x, y, RGB(uint8_t(x * 15), uint8_t(y * 15), 0x80));
    return B;
}

std::unique_ptr<TBitmap> Surface(int32_t W, int32_t H, TColor Fill)
{
    auto B = std::make_unique<TBitmap>();
    B->SetPixelFormat(pf32bit);
    B->SetSize(W, H);
    B->Canvas()->Brush()->SetColor(Fill);
    B->Canvas()->FillRect(Rect(0, 0, W, H));
    return B;
}

} // namespace

TEST(ProImage, TilesColumnByColumnClippingTheLastRowAndColumn)
{
    TProImage Image;
    EXPECT_EQ(Image.Width(), 105);
    EXPECT_EQ(Image.Height(), 105);
    std::vector<TRect> Log;
    Image.Picture()->TakeGraphic(std::make_unique<TRecordingGraphic>(16, 16, &Log));
    Image.SetTiled(true);
    Image.SetStretch(true); // ignored while tiled
    Image.SetCenter(true);
    auto Out = Surface(105, 105, clWhite);
    Image.PaintOn(*Out->Canvas());
    ASSERT_EQ(Log.size(), 49u);
    size_t i = 0;
    for (int32_t X = 0; X <= 96; X += 16)
        for (int32_t Y = 0; Y <= 96; Y += 16)
            EXPECT_EQ(Log[i++], Bounds(X, Y, 16, 16));
}

TEST(ProImage, TiledPixelsRepeatThePicture)
{
    TProImage Image;
    auto Pic = Gradient(16, 16);
    Image.Picture()->SetGraphic(Pic.get());
    Image.SetTiled(true);
    auto Out = Surface(105, 105, clWhite);
    Image.PaintOn(*Out->Canvas());
    EXPECT_EQ(Out->PixelColor(100, 3), Pic->PixelColor(4, 3));
    EXPECT_EQ(Out->PixelColor(104, 104), Pic->PixelColor(8, 8));
    EXPECT_EQ(Out->PixelColor(17, 33), Pic->PixelColor(1, 1));
}

TEST(ProImage, EmptyOrFlatPictureDrawsNothing)
{
    TProImage Image;
    auto Out = Surface(105, 105, clWhite);
    Image.SetTiled(true);
    Image.PaintOn(*Out->Canvas()); // no graphic
    std::vector<TRect> Log;
    Image.Picture()->TakeGraphic(std::make_unique<TRecordingGraphic>(0, 16, &Log));
    Image.PaintOn(*Out->Canvas());
    Image.Picture()->TakeGraphic(std::make_unique<TRecordingGraphic>(16, 0, &Log));
    Image.PaintOn(*Out->Canvas());
    EXPECT_TRUE(Log.empty());
    EXPECT_EQ(Out->PixelColor(50, 50), clWhite);
}

TEST(ProImage, DestinationRectangles)
{
    TProImage Image;
    std::vector<TRect> Log;
    Image.Picture()->TakeGraphic(std::make_unique<TRecordingGraphic>(40, 30, &Log));
    EXPECT_EQ(Image.DestRect(), Bounds(0, 0, 40, 30));
    Image.SetCenter(true);
    EXPECT_EQ(Image.DestRect(), Bounds(32, 37, 40, 30));
    Image.SetStretch(true);
    EXPECT_EQ(Image.DestRect(), Rect(0, 0, 105, 105));

    auto Pic = Gradient(40, 30);
    Image.Picture()->SetGraphic(Pic.get());
    Image.SetStretch(false);
    auto Out = Surface(105, 105, clWhite);
    Image.PaintOn(*Out->Canvas());
    EXPECT_EQ(Out->PixelColor(32, 37), Pic->PixelColor(0, 0));
    EXPECT_EQ(Out->PixelColor(71, 66), Pic->PixelColor(39, 29));
    EXPECT_EQ(Out->PixelColor(31, 37), clWhite);
    // On a control wider than tall each side is centred by its own length.
    Image.SetBounds(0, 0, 200, 60);
    EXPECT_EQ(Image.DestRect(), Bounds(80, 15, 40, 30));
}

TEST(ProImage, AutoSizeTakesThePictureSizeInPlace)
{
    TProImage Image;
    Image.SetBounds(7, 9, 105, 105);
    Image.SetAutoSize(true); // empty picture: the size stays
    EXPECT_EQ(Image.BoundsRect(), Bounds(7, 9, 105, 105));
    auto Pic = Gradient(40, 30);
    Image.Picture()->SetGraphic(Pic.get());
    EXPECT_EQ(Image.BoundsRect(), Bounds(7, 9, 40, 30));
}

TEST(ProImage, OpaqueOnlyWhenAnOpaquePictureCoversIt)
{
    TProImage Image;
    EXPECT_FALSE(Image.Opaque());
    auto Small = Gradient(40, 30);
    Image.Picture()->SetGraphic(Small.get());
    EXPECT_FALSE(Image.Opaque());
    Image.SetStretch(true);
    EXPECT_TRUE(Image.Opaque());
    Image.SetTransparent(true);
    EXPECT_TRUE(Image.Picture()->Graphic()->Transparent());
    EXPECT_FALSE(Image.Opaque());
    Image.SetTransparent(false);
    Image.SetStretch(false);
    auto Big = Gradient(120, 110);
    Image.Picture()->SetGraphic(Big.get());
    EXPECT_TRUE(Image.Opaque());
}

TEST(ProImage, TransparentTilesShowWhatLiesBehind)
{
    TProImage Image;
    auto Pic = Gradient(16, 16);
    Pic->SetPixelColor(0, 15, clFuchsia); // the transparent colour (bottom-left)
    Pic->SetPixelColor(5, 5, clFuchsia);
    Image.Picture()->SetGraphic(Pic.get());
    Image.SetTiled(true);
    Image.SetTransparent(true);
    auto Out = Surface(105, 105, clBlue);
    Image.PaintOn(*Out->Canvas());
    EXPECT_EQ(Out->PixelColor(21, 21), clBlue);
    EXPECT_EQ(Out->PixelColor(16, 31), clBlue);
    EXPECT_EQ(Out->PixelColor(22, 21), Pic->PixelColor(6, 5));
}

TEST(ProImage, EventsAndPalette)
{
    TProImage Image;
    int Enters = 0, Leaves = 0, Progress = 0;
    Image.OnMouseEnter = [&](TObject*) { ++Enters; };
    Image.OnMouseLeave = [&](TObject*) { ++Leaves; };
    QEnterEvent Enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&Image, &Enter);
    QEvent Leave(QEvent::Leave);
    QApplication::sendEvent(&Image, &Leave);
    EXPECT_EQ(Enters, 1);
    EXPECT_EQ(Leaves, 1);

    auto Pic = Gradient(8, 8);
    Image.Picture()->SetGraphic(Pic.get());
    Image.OnProgress = [&](TObject*, TProgressStage Stage, uint8_t Percent, bool, const TRect&,
                           const std::string& Msg) {
        ++Progress;
        EXPECT_EQ(Stage, psRunning);
        EXPECT_EQ(Percent, 50);
        EXPECT_EQ(Msg, "Loading...");
    };
    Image.SetIncrementalDisplay(true);
    TGraphic* G = Image.Picture()->Graphic();
    ASSERT_TRUE(G->OnProgress);
    G->OnProgress(G, psRunning, 50, true, Rect(0, 0, 8, 8), "Loading...");
    EXPECT_EQ(Progress, 1);

    // The control's palette is the graphic's.
    QWidget Parent;
    Image.setParent(&Parent);
    Parent.show();
    auto Paletted = Gradient(8, 8);
    Paletted->SetPixelFormat(pf8bit);
    Image.Picture()->SetGraphic(Paletted.get());
    EXPECT_EQ(Image.GetPalette(), Image.Picture()->Graphic()->Palette());
    EXPECT_NE(Image.GetPalette(), nullptr);
    EXPECT_EQ(Image.PaletteChanges(), 1);
    Image.setParent(nullptr);
}
