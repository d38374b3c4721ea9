// The GIF picture class: registry, rendering, assignment, clipboard blocks, and the
// painter driven on a clock that only Sleep advances.
#include "formats/GIFImage.h"
#include "platform/Threads.h"

#include <gtest/gtest.h>

using namespace kv;
using namespace kv::GIFImage;

namespace {

// Two or more 2 x 2 frames over a 2-colour global table; frame 0 carries a loop extension.
std::unique_ptr<TGIFImage> Animation(int frames, int loops, uint16_t delay)
{
    auto img = std::make_unique<TGIFImage>();
    img->GlobalColorMap().Add(TGIFColor{255, 0, 0});
    img->GlobalColorMap().Add(TGIFColor{0, 0, 255});
    for (int f = 0; f < frames; ++f) {
        auto sub = std::make_unique<TGIFSubImage>(img.get());
        sub->SetSize(2, 2);
        sub->Data() = {uint8_t(f & 1), 0, 1, 1};
        if (f == 0 && loops >= 0) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(sub.get());
            loop->SetLoops(uint16_t(loops));
            sub->Extensions().Add(std::move(loop));
        }
        auto gce = std::make_unique<TGIFGraphicControlExtension>(sub.get());
        gce->SetDelay(delay);
        sub->Extensions().Add(std::move(gce));
        img->Add(std::move(sub));
    }
    return img;
}

struct FakeClock {
    uint32_t Now = 0;
    std::vector<uint32_t> Sleeps;
    TGIFClock Saved = GIFClock();
    FakeClock()
    {
        GIFClock().Now = [this] { return Now; };
        GIFClock().Sleep = [this](uint32_t ms) {
            if (ms > 0)
                Sleeps.push_back(ms);
            Now += ms;
        };
    }
    ~FakeClock() { GIFClock() = Saved; }
};

struct Recorder {
    std::string Log;
    void Attach(TGIFImage& img)
    {
        img.OnPlayStart = [this](TObject*) { Log += "S"; };
        img.OnFrameStart = [this](TObject*) { Log += "f"; };
        img.OnFrameDone = [this](TObject*) { Log += "d"; };
        img.OnPassStart = [this](TObject*) { Log += "P"; };
        img.OnPlayEnd = [this](TObject*) { Log += "E"; };
    }
};

std::unique_ptr<TBitmap> Target(int w, int h)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    return b;
}

} // namespace

TEST(GIFPicture, RegistryBuildsThisClassForEveryCase)
{
    for (const char* ext : {"gif", "GIF", "Gif", ".gif"}) {
        const TGraphicClass* cls = TPicture::FindGraphicClass(ext);
        ASSERT_NE(cls, nullptr) << ext;
        std::unique_ptr<TGraphic> g = cls->Create();
        EXPECT_NE(dynamic_cast<TGIFImage*>(g.get()), nullptr) << ext;
    }
}

TEST(GIFPicture, StillFrameDrawsItsColours)
{
    auto img = Animation(1, -1, 0);
    auto targetp = Target(4, 4);
    TBitmap& target = *targetp;
    img->Draw(*target.Canvas(), Rect(0, 0, 4, 4));
    EXPECT_EQ(target.PixelColor(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(target.PixelColor(3, 0), RGB(255, 0, 0));
    EXPECT_EQ(target.PixelColor(0, 3), RGB(0, 0, 255));
    EXPECT_EQ(img->PainterCount(), 0);
}

TEST(GIFPicture, TransparentFrameLeavesTargetUnchanged)
{
    auto img = Animation(1, -1, 0);
    TGIFSubImage* sub = img->Images()[0];
    sub->GraphicControlExtension()->SetTransparent(true);
    sub->GraphicControlExtension()->SetTransparentColorIndex(1);
    sub->FreeRender();
    auto targetp = Target(2, 2);
    TBitmap& target = *targetp;
    target.Canvas()->Brush()->SetColor(RGB(0, 255, 0));
    target.Canvas()->FillRect(Rect(0, 0, 2, 2));
    img->Draw(*target.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(target.PixelColor(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(target.PixelColor(0, 1), RGB(0, 255, 0));
}

TEST(GIFPicture, DitheredRenderUsesWebPalette)
{
    auto img = Animation(1, -1, 0);
    img->SetDrawOptions(uint16_t(img->DrawOptions() & ~doAutoDither)); // doDither alone: dithering on
    EXPECT_TRUE(img->Dithering());
    TBitmap* frame = img->FrameBitmap(*img->Images()[0]);
    ASSERT_EQ(frame->PixelFormat(), pf8bit);
    EXPECT_EQ(frame->ScanLine(0)[0], 180); // (255,0,0) is web index 36 x 5
    EXPECT_EQ(frame->ScanLine(1)[0], 5);   // (0,0,255)
}

TEST(GIFPicture, AssignBitmapConvertsAndGrowsScreen)
{
    auto srcp = Target(3, 2);
    TBitmap& src = *srcp;
    src.Canvas()->Brush()->SetColor(RGB(255, 255, 255));
    src.Canvas()->FillRect(Rect(0, 0, 3, 2));
    src.SetPixelColor(1, 1, RGB(0, 0, 0));
    TGIFImage img;
    img.Assign(&src);
    ASSERT_EQ(img.Images().Count(), 1);
    EXPECT_EQ(img.Width(), 3);
    EXPECT_EQ(img.Height(), 2);
    TGIFSubImage* sub = img.Images()[0];
    EXPECT_EQ(sub->Pixels(0, 0), 215);
    EXPECT_EQ(sub->Pixels(1, 1), 0);
    // Written and read back, the picture keeps its indices.
    TMemoryStream s;
    img.SaveToStream(s);
    s.SetPosition(0);
    TGIFImage back;
    back.LoadFromStream(s);
    EXPECT_EQ(back.Images()[0]->Data(), sub->Data());
    TBitmap out;
    out.Assign(&back);
    EXPECT_EQ(out.PixelColor(1, 1), RGB(0, 0, 0));
    EXPECT_EQ(out.PixelColor(2, 0), RGB(255, 255, 255));
}

TEST(GIFPicture, SizeChecksAndPaletteWithoutTables)
{
    auto img = Animation(2, -1, 0);
    EXPECT_THROW(img->SetHeight(1), GIFException);
    EXPECT_EQ(img->Height(), 2);
    img->SetHeight(5);
    EXPECT_EQ(img->Height(), 5);
    TGIFImage bare;
    auto sub = std::make_unique<TGIFSubImage>(&bare);
    sub->SetSize(1, 1);
    bare.Add(std::move(sub));
    EXPECT_THROW(bare.Palette(), GIFException);
    TGIFImage other;
    other.Assign(img.get());
    EXPECT_EQ(other.Images().Count(), 2);
    EXPECT_TRUE(other.Equals(&other));
    EXPECT_FALSE(other.Equals(img.get()));
}

TEST(GIFPicture, ClipboardBlocks)
{
    auto img = Animation(2, 0, 5);
    TMemoryStream s;
    img->SaveToStream(s);
    TGIFImage pasted;
    pasted.LoadFromClipboardFormat(CF_GIF(), s.Bytes(), nullptr);
    EXPECT_EQ(pasted.Images().Count(), 2);
    EXPECT_THROW(pasted.LoadFromClipboardFormat(CF_PALETTE, {1, 2, 3}, nullptr), GIFException);
}

TEST(GIFPainter, SynchronousRunEventsAndWaits)
{
    FakeClock clock;
    auto img = Animation(2, 3, 0);
    img->SetDrawOptions(0x060E);
    Recorder rec;
    rec.Attach(*img);
    auto targetp = Target(2, 2);
    TBitmap& target = *targetp;
    img->Draw(*target.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(rec.Log, "SfdfdPfdfdPfdfdE");
    std::vector<uint32_t> expected = {12};
    for (int i = 0; i < 5; ++i) {
        expected.push_back(100);
        expected.push_back(20);
    }
    EXPECT_EQ(clock.Sleeps, expected);
    EXPECT_EQ(clock.Now, 612u);
    EXPECT_EQ(img->PainterCount(), 0);
}

TEST(GIFPainter, DelaysSpeedAndLoopZero)
{
    struct Case {
        uint16_t Delay;
        int32_t Speed;
        uint32_t Wait;
    };
    for (Case c : {Case{0, 100, 120}, Case{1, 100, 36}, Case{5000, 100, 12000}, Case{10, 200, 60}}) {
        FakeClock clock;
        auto img = Animation(2, 0, c.Delay); // Loops 0: once when synchronous
        img->SetDrawOptions(0x060E);
        img->SetPlaySpeed(c.Speed);
        auto targetp = Target(2, 2);
        TBitmap& target = *targetp;
        img->Draw(*target.Canvas(), Rect(0, 0, 2, 2));
        // The wait before frame 1, in all its sleeps.
        uint32_t total = clock.Now;
        uint32_t first = (12 * 100) / uint32_t(c.Speed);
        EXPECT_EQ(total - first, c.Wait) << c.Delay << " " << c.Speed;
    }
}

TEST(GIFPainter, NoAnimateDrawsFirstFrameOnly)
{
    FakeClock clock;
    auto img = Animation(10, 0, 0);
    img->SetDrawOptions(uint16_t(img->DrawOptions() & ~doAnimate));
    Recorder rec;
    rec.Attach(*img);
    auto targetp = Target(2, 2);
    TBitmap& target = *targetp;
    img->Draw(*target.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(rec.Log, "");
    EXPECT_EQ(img->PainterCount(), 0);
    EXPECT_TRUE(clock.Sleeps.empty());
}

TEST(GIFPainter, AsyncPainterStopsAndPictureDiesWhilePlaying)
{
    auto img = Animation(3, 0, 2); // loops for ever when asynchronous
    img->SetDrawOptions(0x060F);
    Recorder rec;
    rec.Attach(*img);
    auto targetp = Target(2, 2);
    TBitmap& target = *targetp;
    img->Draw(*target.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(img->PainterCount(), 1);
    // Drawing again at the same place starts no second painter.
    for (int i = 0; i < 20; ++i) {
        ProcessPendingSynchronizedCalls();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    img->StopDraw();
    EXPECT_EQ(img->PainterCount(), 0);
    EXPECT_NE(rec.Log.find('f'), std::string::npos);

    auto target2p = Target(2, 2);
    TBitmap& target2 = *target2p;
    img->Draw(*target2.Canvas(), Rect(0, 0, 2, 2));
    img.reset(); // destroyed while its painter plays
    for (int i = 0; i < 10; ++i) {
        ProcessPendingSynchronizedCalls();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// An asynchronous run that ends without painting (its first frame is empty) must not
// leave Draw waiting for a first frame that never comes.
TEST(GIFPainter, AsyncRunWithoutAnyFrameEndsDraw)
{
    auto img = Animation(2, 0, 2);
    img->Images()[0]->SetSize(0, 0);
    img->SetDrawOptions(0x060F);
    auto target = Target(2, 2);
    img->Draw(*target->Canvas(), Rect(0, 0, 2, 2)); // returned: the test passes
    img->StopDraw();
    EXPECT_EQ(img->PainterCount(), 0);
}

// The 43-byte still picture leaves 30 bytes after its screen descriptor: frames in them
// could cover 30 x 4 x 4096 = 491520 pixels, and no larger screen is taken.
TEST(GIFPicture, ScreenLargerThanTheStreamCouldCoverIsRefused)
{
    const std::vector<uint8_t> still = {0x47, 0x49, 0x46, 0x38, 0x37, 0x61, 0x08, 0x00, 0x04, 0x00, 0x80,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x2C, 0x00, 0x00,
                                        0x00, 0x00, 0x08, 0x00, 0x04, 0x00, 0x00, 0x02, 0x0A, 0x0C, 0x62,
                                        0x70, 0x6A, 0xB9, 0x88, 0x1E, 0x54, 0xA0, 0x00, 0x00, 0x3B};
    for (auto [w, h, ok] : {std::tuple{700, 702, true}, std::tuple{701, 702, false}, std::tuple{4096, 65280, false}}) {
        std::vector<uint8_t> data = still;
        PutU16LE(&data[6], uint16_t(w));
        PutU16LE(&data[8], uint16_t(h));
        TReadOnlyMemoryStream s(data.data(), int64_t(data.size()));
        TGIFImage img;
        if (ok) {
            img.LoadFromStream(s);
            EXPECT_EQ(img.Width(), w);
        } else {
            EXPECT_THROW(img.LoadFromStream(s), GIFException) << w << "x" << h;
        }
    }
}

// A first frame whose disposal (4 to 7) draws nothing, then a ten-minute delay: Draw
// returns once that frame is handled instead of waiting for the second.
TEST(GIFPainter, AsyncFirstFrameDrawingNothingEndsDraw)
{
    auto img = Animation(2, 0, 60000);
    img->Images()[0]->GraphicControlExtension()->SetDisposal(4);
    img->Images()[1]->GraphicControlExtension()->SetDisposal(2);
    img->SetDrawOptions(0x060F);
    auto target = Target(2, 2);
    img->Draw(*target->Canvas(), Rect(0, 0, 2, 2)); // returned: the test passes
    img->StopDraw();
    EXPECT_EQ(img->PainterCount(), 0);
}
