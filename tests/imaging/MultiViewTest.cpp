#include "imaging/MultiView.h"

#include "imaging/IOParams.h"
#include "imaging/ImagingIO.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace kv;

namespace {

class TTestView : public TImagingMView {
public:
    using TImagingMView::DoMouseWheel;
};

void Solid(TBitmap& B, int32_t W, int32_t H, uint8_t Blue, uint8_t Green, uint8_t Red)
{
    B.SetPixelFormat(pf24bit);
    B.SetSize(W, H);
    for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
            uint8_t* P = B.ScanLine(Y) + 3 * X;
            P[0] = Blue;
            P[1] = Green;
            P[2] = Red;
        }
}

} // namespace

TEST(MultiView, LayoutHitTestWheelAndSelection)
{
    TTestView View;
    View.SetBounds(0, 0, 336, 230); // 320 for the grid beside the vertical bar
    View.SetScrollBars(iesbVertical);
    for (int32_t I = 0; I < 8; ++I)
        View.AppendImage();
    // A new view puts every image in one row; -1 asks for as many columns as fit.
    EXPECT_EQ(View.Geometry().GridWidth, 0);
    EXPECT_EQ(View.ImageX(4), 4 * 104 + 4);
    EXPECT_EQ(View.ImageY(4), 4);
    View.Geometry().GridWidth = -1;
    View.Update();
    EXPECT_EQ(View.ImageX(4), 108);
    EXPECT_EQ(View.ImageY(4), 108);
    EXPECT_EQ(View.ImageAtPos(150, 50), 1);
    EXPECT_EQ(View.ImageAtPos(105, 50), -1);
    // Three rows of 104 do not fit 230: one wheel message scrolls one cell.
    View.DoMouseWheel(0, -1, {0, 0});
    EXPECT_EQ(View.ViewXY().Y, std::min(104, View.Extent().cy - View.ClientHeight()));
    View.DoMouseWheel(0, 120, {0, 0});
    EXPECT_EQ(View.ViewXY().Y, 0);

    View.SetSelectedImage(2);
    View.DeleteImage(0);
    EXPECT_EQ(View.SelectedImage(), 1);
    View.SetSelectedImage(View.ImageCount() - 1);
    View.DeleteImage(View.ImageCount() - 1);
    EXPECT_EQ(View.SelectedImage(), View.ImageCount() - 1);
    View.MoveSelected(TIEMViewKey::Home, 0);
    EXPECT_EQ(View.SelectedImage(), 0);
    View.MoveSelected(TIEMViewKey::Down, 0);
    EXPECT_EQ(View.SelectedImage(), View.Geometry().Columns(View.ClientWidth()));
}

TEST(MultiView, MultiSelectionFollowsShiftAndTheList)
{
    TImagingMView View;
    View.SetBounds(0, 0, 320, 300);
    View.EnableMultiSelect = true;
    for (int32_t I = 0; I < 6; ++I)
        View.AppendImage();
    View.SelectAt(1, 0);
    View.SelectAt(4, ssShift);
    EXPECT_EQ(View.MultiSelectedImages(), (std::vector<int32_t>{1, 2, 3, 4}));
    View.InsertImage(0);
    EXPECT_EQ(View.MultiSelectedImages(), (std::vector<int32_t>{2, 3, 4, 5}));
    EXPECT_EQ(View.SelectedImage(), 5);
    View.DeleteImage(3);
    EXPECT_EQ(View.MultiSelectedImages(), (std::vector<int32_t>{2, 3, 4}));
}

// A thumbnail store keeps a 400 x 200 picture as 100 x 50, painted centred in its cell.
TEST(MultiView, ThumbnailIsStoredSmallAndPaintedCentred)
{
    TImagingMView View;
    View.SetBounds(0, 0, 320, 240);
    View.StoreType = ietThumb;
    View.Style = iemsFlat;
    View.SetBackground(clWhite);
    View.ThumbnailsBackground = clWhite;
    View.AppendImage();
    TBitmap Red;
    Solid(Red, 400, 200, 0, 0, 255);
    View.SetImage(0, &Red);
    TBitmap Stored;
    ASSERT_TRUE(View.CopyImage(0, Stored));
    EXPECT_EQ(Stored.Width(), 100);
    EXPECT_EQ(Stored.Height(), 50);
    const QImage Shot = View.grab().toImage();
    EXPECT_EQ(Shot.pixelColor(54, 4 + 25 + 10).red(), 255);
    EXPECT_EQ(Shot.pixelColor(54, 4 + 25 + 10).green(), 0);
    EXPECT_EQ(Shot.pixelColor(54, 4 + 20).green(), 255); // above the picture: background
}

TEST(MultiView, ParametersFollowTheViewAndItsEnd)
{
    auto View = std::make_unique<TImagingMView>();
    View->AppendImage();
    View->AppendImage();
    TImagingMIO IO;
    IO.SetAttachedMView(View.get());
    ASSERT_EQ(IO.ParamsCount(), 2); // one for each image already there
    EXPECT_EQ(IO.Params(1)->TiffImageIndex, 1);
    EXPECT_EQ(IO.Params(1)->GifImageIndex, 1);
    IO.Params(0)->GifImageCount = 9;
    View->InsertImage(0);
    ASSERT_EQ(IO.ParamsCount(), 3);
    EXPECT_EQ(IO.Params(0)->GifImageCount, 9);
    EXPECT_EQ(IO.Params(2)->TiffImageIndex, 2);
    View->DeleteImage(1);
    ASSERT_EQ(IO.ParamsCount(), 2);
    EXPECT_EQ(IO.Params(1)->GifImageIndex, 1);
    View.reset();
    EXPECT_EQ(IO.AttachedMView(), nullptr);
}

// An imaging component attached to the real view hears it go away and never touches it
// afterwards.
TEST(MultiView, AttachedIOSurvivesTheView)
{
    auto View = std::make_unique<TImagingMView>();
    TImagingIO IO;
    IO.SetAttachedImaging(View.get());
    IO.SetBitmap(nullptr);
    View.reset();
    EXPECT_EQ(IO.AttachedImaging(), nullptr);
    try {
        IO.LoadFromFile("/nonexistent/picture.png");
    } catch (const std::exception&) {
    }
}

TEST(MultiView, PlaybackWalksTheFramesAndStopsWhenEmpty)
{
    TImagingMView View;
    View.SetBounds(0, 0, 200, 200);
    TBitmap B;
    Solid(B, 10, 10, 1, 2, 3);
    for (int32_t I = 0; I < 3; ++I)
        View.SetImage(View.AppendImage(), &B);
    View.SetSelectedImage(1);
    View.PlayLoop = false;
    View.SetPlaying(true);
    EXPECT_TRUE(View.Playing());
    EXPECT_EQ(View.SelectedImage(), -1);
    EXPECT_EQ(View.DisplayMode(), mdSingle);
    View.SetDisplayMode(mdGrid); // recorded for later only
    EXPECT_EQ(View.DisplayMode(), mdSingle);
    View.PlayStep();
    View.PlayStep(); // after the last frame, without the loop flag, playback stops
    EXPECT_FALSE(View.Playing());
    EXPECT_EQ(View.SelectedImage(), 1);
    EXPECT_EQ(View.DisplayMode(), mdGrid);

    View.PlayLoop = true;
    View.SetPlaying(true);
    View.Clear();
    EXPECT_FALSE(View.Playing());
    View.PlayStep();
}

// A file that holds no picture is an image that cannot be had, whatever the reader was
// handed to fill: the view's 1 x 1 placeholder is not stored as the picture, and
// RemoveCorrupted drops the image at the next paint. The files are spelled out byte by
// byte; the good one is ImageMagick's (tests/data/iefiles/README.md).
TEST(MultiView, FilesHoldingNoPictureAreCorrupted)
{
    const std::filesystem::path Dir =
        std::filesystem::temp_directory_path() / ("kv_mview_" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
    auto Write = [&](const char* Name, const std::vector<uint8_t>& Bytes) {
        std::ofstream(Dir / Name, std::ios::binary)
            .write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
        return (Dir / Name).string();
    };
    auto Le32 = [](std::vector<uint8_t>& B, uint32_t V) {
        for (int I = 0; I < 4; ++I)
            B.push_back(uint8_t(V >> (8 * I)));
    };
    // Icon directory: reserved 0, type 1, count 0.
    const std::string NoIcon = Write("none.ico", {0, 0, 1, 0, 0, 0});
    // A 64-byte RLE8 BMP claiming 4000 x 4000 whose data is only the end-of-bitmap escape.
    std::vector<uint8_t> Rle = {'B', 'M'};
    Le32(Rle, 64); // file size
    Le32(Rle, 0);  // reserved
    Le32(Rle, 62); // pixel data offset
    Le32(Rle, 40); // info header size
    Le32(Rle, 4000);
    Le32(Rle, 4000);
    Rle.insert(Rle.end(), {1, 0, 8, 0}); // planes 1, 8 bits
    Le32(Rle, 1);                        // RLE8
    for (int I = 0; I < 3; ++I)
        Le32(Rle, 0);                                    // image size, resolutions
    Le32(Rle, 2);                                        // colours used
    Le32(Rle, 0);                                        // colours important
    Rle.insert(Rle.end(), {0, 0, 255, 0, 255, 0, 0, 0}); // red, blue
    Rle.insert(Rle.end(), {0, 1});                       // end of bitmap
    ASSERT_EQ(Rle.size(), 64u);
    const std::string Forged = Write("forged.bmp", Rle);
    std::filesystem::copy_file(std::string(KV_TEST_DATA) + "/iefiles/bmp24.bmp", Dir / "good.bmp",
                               std::filesystem::copy_options::overwrite_existing);

    TImagingMView View;
    View.SetBounds(0, 0, 400, 240);
    View.AppendFile(NoIcon);
    View.AppendFile(Forged);
    View.AppendFile((Dir / "good.bmp").string());
    TBitmap B;
    EXPECT_FALSE(View.CopyImage(0, B));
    EXPECT_FALSE(View.CopyImage(1, B));
    EXPECT_FALSE(View.HasPicture(0));
    EXPECT_FALSE(View.HasPicture(1));
    ASSERT_TRUE(View.CopyImage(2, B));
    EXPECT_GT(B.Width(), 1);

    View.RemoveCorrupted = true;
    View.grab();
    ASSERT_EQ(View.ImageCount(), 1);
    EXPECT_EQ(View.ImageFileName(0), (Dir / "good.bmp").string());
    std::filesystem::remove_all(Dir);
}
