// The optimising pass of the GIF picture: each phase alone and all together on small
// pictures worked out by hand, its progress events, and that the composed frames (by
// the GIF disposal rules) stay the same, also after writing and reading back.
#include "formats/GIFImage.h"
#include "platform/Icon.h"
#include "platform/Threads.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <sys/resource.h>
#include <thread>

using namespace kv;
using namespace kv::GIFImage;

namespace {

using Bytes = std::vector<uint8_t>;

// A frame at (l, t) of w x h; a graphic control extension when any of transparent,
// disposal or delay is given.
TGIFSubImage& AddFrame(TGIFImage& img, int l, int t, int w, int h, const Bytes& data, int transparent = -1,
                       int disposal = -1, int delay = -1, const std::vector<TGIFColor>& local = {})
{
    auto sub = std::make_unique<TGIFSubImage>(&img);
    sub->SetSize(uint16_t(w), uint16_t(h));
    sub->SetLeft(uint16_t(l));
    sub->SetTop(uint16_t(t));
    sub->Data() = data;
    for (const TGIFColor& c : local)
        sub->ColorMap().Add(c);
    if (transparent >= 0 || disposal >= 0 || delay >= 0) {
        auto gce = std::make_unique<TGIFGraphicControlExtension>(sub.get());
        gce->SetDisposal(uint8_t(std::max(disposal, 0)));
        gce->SetDelay(uint16_t(std::max(delay, 0)));
        if (transparent >= 0) {
            gce->SetTransparentColorIndex(uint8_t(transparent));
            gce->SetTransparent(true);
        }
        sub->Extensions().Add(std::move(gce));
    }
    TGIFSubImage& ref = *sub;
    img.Add(std::move(sub));
    return ref;
}

void AddComment(TGIFSubImage& sub, const std::string& text)
{
    auto c = std::make_unique<TGIFCommentExtension>(&sub);
    c->Text().Add(text);
    sub.Extensions().Add(std::move(c));
}

void AddLoop(TGIFSubImage& sub, uint16_t loops)
{
    auto l = std::make_unique<TGIFAppExtNSLoop>(&sub);
    l->SetLoops(loops);
    sub.Extensions().Add(std::move(l));
}

// The logical screen after each frame, by the GIF rules: -1 is the background.
using Screen = std::vector<int32_t>;
std::vector<Screen> Compose(TGIFImage& img)
{
    const int W = img.Width(), H = img.Height();
    Screen s(size_t(W * H), -1);
    std::vector<Screen> out;
    for (int i = 0; i < img.Images().Count(); ++i) {
        TGIFSubImage& sub = *img.Images()[i];
        if (sub.Empty())
            continue;
        auto* gce = sub.GraphicControlExtension();
        int disposal = gce ? gce->Disposal() : 0;
        int t = sub.Transparent() && gce ? gce->TransparentColorIndex() : -1;
        Screen saved = s;
        for (int y = 0; y < sub.Height(); ++y)
            for (int x = 0; x < sub.Width(); ++x) {
                int p = sub.Pixels(x, y);
                if (p == t)
                    continue;
                TGIFColor c = sub.ActiveColorMap().Colors(p);
                s[size_t((sub.Top() + y) * W + sub.Left() + x)] = (c.Red << 16) | (c.Green << 8) | c.Blue;
            }
        out.push_back(s);
        if (disposal == dmBackground)
            for (int y = sub.Top(); y < sub.Top() + sub.Height(); ++y)
                for (int x = sub.Left(); x < sub.Left() + sub.Width(); ++x)
                    s[size_t(y * W + x)] = -1;
        else if (disposal == dmPrevious)
            s = saved;
    }
    // A frame that shows nothing new may go; what is seen stays.
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::vector<Screen> ComposeAfterRoundTrip(TGIFImage& img, Bytes* written = nullptr)
{
    TMemoryStream s;
    img.SaveToStream(s);
    if (written)
        *written = s.Bytes();
    s.SetPosition(0);
    TGIFImage back;
    back.LoadFromStream(s);
    return Compose(back);
}

struct ProgressLog {
    std::vector<std::pair<int, int>> Events; // (stage, percent) of "Optimizing..."
    void Attach(TGIFImage& img)
    {
        img.OnProgress = [this](TObject*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                const std::string& msg) {
            if (msg == "Optimizing...")
                Events.emplace_back(int(stage), int(percent));
        };
    }
};

Bytes DataOf(TGIFImage& img, int i) { return img.Images()[i]->Data(); }

} // namespace

TEST(GIFOptimize, ColorTablesSortedByUseWithProgress)
{
    TGIFImage img;
    for (uint8_t r : {10, 20, 30, 40})
        img.GlobalColorMap().Add(TGIFColor{r, 0, 0});
    AddFrame(img, 0, 0, 4, 1, {2, 2, 1, 2});
    AddFrame(img, 0, 0, 4, 1, {3, 1, 3, 3});
    AddFrame(img, 0, 0, 4, 1, {0, 1, 1, 1}, 0, -1, -1, {TGIFColor{1, 1, 1}, TGIFColor{2, 2, 2}});
    auto before = Compose(img);
    ProgressLog log;
    log.Attach(img);

    img.Optimize(ooColorMap, crNone, dkNearest, 8);

    // Uses: index 0 none, 1 twice, 2 three times, 3 three times (ties keep their order).
    TGIFColorMap& g = img.GlobalColorMap();
    ASSERT_EQ(g.Count(), 4);
    EXPECT_EQ(g.Colors(0), (TGIFColor{30, 0, 0}));
    EXPECT_EQ(g.Colors(1), (TGIFColor{40, 0, 0}));
    EXPECT_EQ(g.Colors(2), (TGIFColor{20, 0, 0}));
    EXPECT_EQ(g.Colors(3), (TGIFColor{10, 0, 0}));
    EXPECT_TRUE(g.Optimized());
    EXPECT_EQ(DataOf(img, 0), (Bytes{0, 0, 2, 0}));
    EXPECT_EQ(DataOf(img, 1), (Bytes{1, 2, 1, 1}));
    // The local table and its transparent index follow the same rule.
    TGIFSubImage& f2 = *img.Images()[2];
    EXPECT_EQ(f2.ColorMap().Colors(0), (TGIFColor{2, 2, 2}));
    EXPECT_EQ(DataOf(img, 2), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(f2.GraphicControlExtension()->TransparentColorIndex(), 1);
    EXPECT_TRUE(f2.Transparent());

    // 3 frames: 18 steps in all, 3 of them done by this phase.
    std::vector<std::pair<int, int>> expected = {
        {psStarting, 0}, {psRunning, 5}, {psRunning, 11}, {psRunning, 16}, {psEnding, 100}};
    EXPECT_EQ(log.Events, expected);

    EXPECT_EQ(Compose(img), before);
    Bytes written;
    EXPECT_EQ(ComposeAfterRoundTrip(img, &written), before);
    // Header packed: table present and sorted (0x88), resolution 1 (0x10), 4 entries (1).
    EXPECT_EQ(written[10], 0x99);
}

TEST(GIFOptimize, CleanupDropsWhatChangesNothing)
{
    TGIFImage img;
    img.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    img.GlobalColorMap().Add(TGIFColor{255, 255, 255});
    img.GlobalColorMap().Add(TGIFColor{255, 0, 0});
    // Frame 0: transparent index 2 never used; restored to the background, but frame 1
    // covers it wholly and opaquely.
    TGIFSubImage& f0 = AddFrame(img, 0, 0, 4, 4, Bytes(16, 1), 2, dmBackground, 10);
    AddLoop(f0, 2);
    AddComment(f0, "hi");
    // Frame 1: restored to the background; frame 2 lies inside it and does not cover it.
    AddFrame(img, 0, 0, 4, 4, Bytes(16, 0), -1, dmBackground, 0);
    // Frame 2: a second loop extension, an unknown application block and a control
    // block that says nothing.
    TGIFSubImage& f2 = AddFrame(img, 1, 1, 2, 2, Bytes(4, 2), -1, dmNone, 0);
    AddLoop(f2, 5);
    auto app = std::make_unique<TGIFUnknownAppExtension>(&f2);
    app->Blocks().push_back(TGIFBlock{1, {7}});
    f2.Extensions().Add(std::move(app));
    // Frame 3: no picture, only a comment.
    auto empty = std::make_unique<TGIFSubImage>(&img);
    AddComment(*empty, "end");
    img.Add(std::move(empty));
    auto before = Compose(img);
    ProgressLog log;
    log.Attach(img);

    img.Optimize(ooCleanup, crNone, dkNearest, 8);

    ASSERT_EQ(img.Images().Count(), 3);
    TGIFSubImage& a = *img.Images()[0];
    ASSERT_EQ(a.Extensions().Count(), 2); // the control block, then the loop
    EXPECT_NE(dynamic_cast<TGIFAppExtNSLoop*>(a.Extensions().Extensions(1)), nullptr);
    EXPECT_FALSE(a.Transparent());
    EXPECT_EQ(a.GraphicControlExtension()->Disposal(), dmNone);
    EXPECT_EQ(a.GraphicControlExtension()->Delay(), 10);
    EXPECT_EQ(img.Images()[1]->GraphicControlExtension()->Disposal(), dmBackground);
    EXPECT_EQ(img.Images()[2]->Extensions().Count(), 0);

    // 4 frames: 24 steps; both halves report after each frame.
    std::vector<std::pair<int, int>> expected = {{psStarting, 0}, {psRunning, 4},  {psRunning, 8},  {psRunning, 12},
                                                 {psRunning, 16}, {psRunning, 20}, {psRunning, 25}, {psRunning, 29},
                                                 {psRunning, 33}, {psEnding, 100}};
    EXPECT_EQ(log.Events, expected);
    EXPECT_EQ(Compose(img), before);
    EXPECT_EQ(ComposeAfterRoundTrip(img), before);
}

TEST(GIFOptimize, MergeMakesRepeatedPixelsTransparent)
{
    TGIFImage img;
    for (TGIFColor c : {TGIFColor{0, 0, 0}, TGIFColor{255, 255, 255}, TGIFColor{255, 0, 0}, TGIFColor{0, 0, 255}})
        img.GlobalColorMap().Add(c);
    Bytes f0(16, 0);
    f0[2 * 4 + 2] = 1;
    AddFrame(img, 0, 0, 4, 4, f0);
    // Frame 1 is taken back afterwards, so frame 2 is merged with frame 0.
    AddFrame(img, 1, 1, 2, 2, {0, 2, 0, 0}, -1, dmPrevious, 5);
    Bytes f2(16, 0);
    f2[0] = 3;
    AddFrame(img, 0, 0, 4, 4, f2, -1, dmNone, 5);
    auto before = Compose(img);

    img.Optimize(ooMerge, crNone, dkNearest, 8);

    // The lowest index no kept pixel uses (1) becomes the transparent one.
    EXPECT_EQ(DataOf(img, 1), (Bytes{1, 2, 1, 0}));
    EXPECT_TRUE(img.Images()[1]->Transparent());
    EXPECT_EQ(img.Images()[1]->GraphicControlExtension()->TransparentColorIndex(), 1);
    Bytes e2(16, 1);
    e2[0] = 3;
    e2[2 * 4 + 2] = 0;
    EXPECT_EQ(DataOf(img, 2), e2);
    EXPECT_EQ(img.Images()[2]->GraphicControlExtension()->TransparentColorIndex(), 1);
    EXPECT_EQ(img.GlobalColorMap().Count(), 4);
    EXPECT_EQ(Compose(img), before);
    EXPECT_EQ(ComposeAfterRoundTrip(img), before);
}

TEST(GIFOptimize, MergeLeavesFrameWhoseFullTableIsAllInUse)
{
    TGIFImage img;
    img.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    img.GlobalColorMap().Add(TGIFColor{1, 2, 3});
    Bytes f0(17 * 16, 1);
    f0[255] = 0;
    AddFrame(img, 0, 0, 17, 16, f0);
    std::vector<TGIFColor> local;
    for (int i = 0; i < 255; ++i)
        local.push_back(TGIFColor{uint8_t(i), 0, 0});
    local.push_back(TGIFColor{1, 2, 3});
    Bytes f1(17 * 16, 255);
    for (int i = 0; i < 256; ++i)
        f1[size_t(i)] = uint8_t(i);
    AddFrame(img, 0, 0, 17, 16, f1, -1, -1, -1, local);
    auto before = Compose(img);

    // Pixels 256 to 271 repeat frame 0, but every one of the 256 entries is in use
    // elsewhere: no index can be given up for transparency.
    img.Optimize(ooMerge, crNone, dkNearest, 8);
    EXPECT_EQ(DataOf(img, 1), f1);
    EXPECT_FALSE(img.Images()[1]->Transparent());
    EXPECT_EQ(img.Images()[1]->GraphicControlExtension(), nullptr);
    EXPECT_EQ(img.Images()[1]->ColorMap().Count(), 256);
    EXPECT_EQ(Compose(img), before);
    EXPECT_EQ(ComposeAfterRoundTrip(img), before);
}

TEST(GIFOptimize, MergeAddsAnEntryWhenEveryIndexIsKept)
{
    TGIFImage img;
    img.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    img.GlobalColorMap().Add(TGIFColor{255, 255, 255});
    AddFrame(img, 0, 0, 4, 1, {0, 0, 0, 1});
    AddFrame(img, 0, 0, 4, 1, {0, 1, 2, 0}, -1, -1, -1, {TGIFColor{0, 0, 0}, TGIFColor{9, 9, 9}, TGIFColor{0, 9, 0}});
    auto before = Compose(img);
    img.Optimize(ooMerge, crNone, dkNearest, 8);
    // Only the first pixel repeats; indices 0, 1 and 2 all stay visible, so a fourth
    // entry (black) becomes the transparent one.
    EXPECT_EQ(img.Images()[1]->ColorMap().Count(), 4);
    EXPECT_EQ(DataOf(img, 1), (Bytes{3, 1, 2, 0}));
    EXPECT_EQ(img.Images()[1]->GraphicControlExtension()->TransparentColorIndex(), 3);
    EXPECT_EQ(ComposeAfterRoundTrip(img), before);
}

TEST(GIFOptimize, CropCutsTransparentEdgesAndDropsInvisibleFrames)
{
    TGIFImage img;
    img.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    img.GlobalColorMap().Add(TGIFColor{255, 255, 255});
    img.GlobalColorMap().Add(TGIFColor{255, 0, 0});
    AddFrame(img, 0, 0, 4, 4, Bytes(16, 1));
    Bytes f1(16, 0);
    f1[1 * 4 + 1] = 2;
    f1[2 * 4 + 2] = 1;
    AddFrame(img, 0, 0, 4, 4, f1, 0, dmNone, 5);
    AddFrame(img, 0, 0, 4, 4, Bytes(16, 0), 0, dmNone, 7); // shows nothing
    Bytes f3(16, 0);
    f3[15] = 2;
    AddFrame(img, 0, 0, 4, 4, f3, 0, dmBackground, 5); // its restore needs the whole rectangle
    auto before = Compose(img);
    ProgressLog log;
    log.Attach(img);

    img.Optimize(ooCrop, crNone, dkNearest, 8);

    ASSERT_EQ(img.Images().Count(), 3);
    TGIFSubImage& a = *img.Images()[1];
    EXPECT_EQ(a.BoundsRect(), Rect(1, 1, 3, 3));
    EXPECT_EQ(a.Data(), (Bytes{2, 0, 0, 1}));
    EXPECT_EQ(a.GraphicControlExtension()->Delay(), 12);
    EXPECT_EQ(img.Images()[2]->BoundsRect(), Rect(0, 0, 4, 4));
    EXPECT_EQ(DataOf(img, 2), f3);
    // 4 frames, 24 steps: one after each of the four frames.
    std::vector<std::pair<int, int>> expected = {{psStarting, 0}, {psRunning, 4},  {psRunning, 8},
                                                 {psRunning, 12}, {psRunning, 16}, {psEnding, 100}};
    EXPECT_EQ(log.Events, expected);
    EXPECT_EQ(Compose(img), before);
    EXPECT_EQ(ComposeAfterRoundTrip(img), before);
}

TEST(GIFOptimize, CropKeepsWhollyTransparentFirstFrameAsOnePixel)
{
    TGIFImage img;
    img.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    img.GlobalColorMap().Add(TGIFColor{255, 255, 255});
    AddFrame(img, 0, 0, 3, 3, Bytes(9, 1), 1, dmNone, 4);
    img.Optimize(ooCrop, crNone, dkNearest, 8);
    ASSERT_EQ(img.Images().Count(), 1);
    EXPECT_EQ(img.Images()[0]->BoundsRect(), Rect(0, 0, 1, 1));
    EXPECT_EQ(DataOf(img, 0), (Bytes{1}));
    EXPECT_EQ(img.Width(), 3);
    // Still a picture that can be written and read.
    auto back = ComposeAfterRoundTrip(img);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0], Screen(9, -1));

    // A later invisible frame that carries a loop extension stays too.
    TGIFImage two;
    two.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    two.GlobalColorMap().Add(TGIFColor{255, 255, 255});
    AddFrame(two, 0, 0, 2, 2, Bytes(4, 0));
    AddLoop(AddFrame(two, 0, 0, 2, 2, Bytes(4, 1), 1, dmNone, 3), 2);
    two.Optimize(ooCrop, crNone, dkNearest, 8);
    ASSERT_EQ(two.Images().Count(), 2);
    EXPECT_EQ(two.Images()[1]->BoundsRect(), Rect(0, 0, 1, 1));
}

TEST(GIFOptimize, AllPhasesTogether)
{
    TGIFImage img;
    for (TGIFColor c : {TGIFColor{0, 0, 0}, TGIFColor{255, 255, 255}, TGIFColor{255, 0, 0}, TGIFColor{0, 0, 255}})
        img.GlobalColorMap().Add(c);
    TGIFSubImage& f0 = AddFrame(img, 0, 0, 4, 4, Bytes(16, 1));
    AddLoop(f0, 0);
    AddComment(f0, "made by hand");
    Bytes f1(16, 1);
    f1[5] = 2;
    AddFrame(img, 0, 0, 4, 4, f1, -1, dmNone, 10);
    Bytes f2 = f1;
    f2[10] = 3;
    AddFrame(img, 0, 0, 4, 4, f2, -1, dmNone, 10);
    auto before = Compose(img);
    ProgressLog log;
    log.Attach(img);

    img.Optimize(ooAll, crNone, dkNearest, 8);

    // Tables: white, red, blue, black by use. Merge then crop leave one pixel a frame.
    EXPECT_EQ(img.GlobalColorMap().Colors(0), (TGIFColor{255, 255, 255}));
    EXPECT_EQ(img.GlobalColorMap().Colors(3), (TGIFColor{0, 0, 0}));
    ASSERT_EQ(img.Images().Count(), 3);
    EXPECT_EQ(DataOf(img, 0), Bytes(16, 0));
    ASSERT_EQ(img.Images()[0]->Extensions().Count(), 1); // the loop; the comment went
    EXPECT_EQ(img.Images()[1]->BoundsRect(), Rect(1, 1, 2, 2));
    EXPECT_EQ(DataOf(img, 1), Bytes{1});
    EXPECT_EQ(img.Images()[1]->GraphicControlExtension()->TransparentColorIndex(), 0);
    EXPECT_EQ(img.Images()[2]->BoundsRect(), Rect(2, 2, 3, 3));
    EXPECT_EQ(DataOf(img, 2), Bytes{2});
    EXPECT_EQ(img.Images()[2]->GraphicControlExtension()->Delay(), 10);

    std::vector<std::pair<int, int>> expected = {{psStarting, 0}};
    for (int k = 1; k <= 14; ++k)
        expected.emplace_back(psRunning, k * 100 / 18);
    expected.emplace_back(psEnding, 100);
    EXPECT_EQ(log.Events, expected);
    EXPECT_EQ(Compose(img), before);
    EXPECT_EQ(ComposeAfterRoundTrip(img), before);
}

TEST(GIFOptimize, ReductionCheckEmptyPictureAndWriteData)
{
    TGIFImage img;
    img.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    img.GlobalColorMap().Add(TGIFColor{255, 255, 255});
    AddFrame(img, 0, 0, 2, 1, {1, 1});
    try {
        img.Optimize(ooReduceColors | ooColorMap, crCustom, dkNearest, 8);
        FAIL() << "no exception";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Invalid reduction method");
    }
    EXPECT_EQ(img.GlobalColorMap().Colors(0), (TGIFColor{0, 0, 0})); // nothing changed
    EXPECT_NO_THROW(img.Optimize(ooReduceColors | ooCleanup, crCustom, dkNearest, 8));
    EXPECT_NO_THROW(img.Optimize(ooReduceColors, crWeb216, dkNearest, 8));
    EXPECT_EQ(DataOf(img, 0), (Bytes{1, 1})); // no colours reduced

    TGIFImage empty;
    ProgressLog log;
    log.Attach(empty);
    EXPECT_NO_THROW(empty.Optimize(ooAll, crCustom, dkNearest, 8));
    EXPECT_TRUE(log.Events.empty());

    // Form data: the plain stream unless optimise-on-store is on (off by default).
    EXPECT_FALSE(GIFSettings().OptimizeOnStream);
    TMemoryStream plain, data;
    img.SaveToStream(plain);
    img.WriteData(data);
    EXPECT_EQ(data.Bytes(), plain.Bytes());
    GIFSettings().OptimizeOnStream = true;
    TMemoryStream optimised;
    img.WriteData(optimised);
    GIFSettings().OptimizeOnStream = false;
    EXPECT_EQ(img.GlobalColorMap().Colors(0), (TGIFColor{255, 255, 255}));
    EXPECT_TRUE(img.GlobalColorMap().Optimized());
    EXPECT_EQ(optimised.Bytes()[10] & 0x08, 0x08); // written with the sort flag
}

TEST(GIFOptimize, IconMaskBecomesTransparentEntry)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf32bit);
    bmp.SetSize(2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            uint8_t* p = bmp.ScanLine(y) + 4 * x;
            p[0] = 0, p[1] = 0, p[2] = 255, p[3] = (x == 0 && y == 0) ? 0 : 255; // red, one hole
        }
    TIcon icon;
    icon.Assign(&bmp);
    TGIFImage gif;
    gif.Assign(&icon);
    ASSERT_EQ(gif.Images().Count(), 1);
    TGIFSubImage& sub = *gif.Images()[0];
    // The web palette's 216 entries, then black for the mask.
    ASSERT_EQ(sub.ColorMap().Count(), 217);
    EXPECT_EQ(sub.ColorMap().Colors(216), (TGIFColor{0, 0, 0}));
    ASSERT_NE(sub.GraphicControlExtension(), nullptr);
    EXPECT_TRUE(sub.Transparent());
    EXPECT_EQ(sub.GraphicControlExtension()->TransparentColorIndex(), 216);
    EXPECT_EQ(sub.Data(), (Bytes{216, 180, 180, 180}));

    // No pixel under the mask: no entry, no extension.
    bmp.ScanLine(0)[3] = 255;
    icon.Assign(&bmp);
    gif.Assign(&icon);
    EXPECT_EQ(gif.Images()[0]->ColorMap().Count(), 216);
    EXPECT_EQ(gif.Images()[0]->GraphicControlExtension(), nullptr);
}

namespace {
std::unique_ptr<TGIFImage> TwoFrameAnimation()
{
    auto img = std::make_unique<TGIFImage>();
    img->GlobalColorMap().Add(TGIFColor{255, 0, 0});
    img->GlobalColorMap().Add(TGIFColor{0, 0, 255});
    for (int f = 0; f < 2; ++f)
        AddFrame(*img, 0, 0, 2, 2, {uint8_t(f), 0, 1, 1}, -1, dmNone, 2);
    img->SetDrawOptions(0x060F); // asynchronous, looping
    return img;
}

template <class Pred> bool PumpUntil(Pred done)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < end) {
        ProcessPendingSynchronizedCalls();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}
} // namespace

TEST(GIFOptimize, PainterPriorityAndOptimizeFromThePaintersOwnEvent)
{
    auto img = TwoFrameAnimation();
    img->SetPainterPriority(1); // lowest
    int seenNice = 1000;
    bool optimised = false;
    TGIFImage* raw = img.get();
    img->OnFrameDone = [&](TObject* sender) {
        auto* painter = dynamic_cast<TGIFPainter*>(sender);
        if (painter && seenNice == 1000 && painter->NativeThreadId() != 0) {
            errno = 0;
            seenNice = getpriority(PRIO_PROCESS, id_t(painter->NativeThreadId()));
        }
        if (!optimised) {
            // Frames change under the painter: it must be stopped, not waited for.
            optimised = true;
            raw->Optimize(ooAll, crNone, dkNearest, 8);
        }
    };
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(2, 2);
    errno = 0;
    const int baseNice = getpriority(PRIO_PROCESS, 0);
    img->Draw(*target.Canvas(), Rect(0, 0, 2, 2));
    ASSERT_TRUE(PumpUntil([&] { return optimised; }));
    EXPECT_EQ(seenNice, std::min(19, baseNice + 10));
    ASSERT_TRUE(PumpUntil([&] { return img->PainterCount() == 0; }));
    EXPECT_EQ(img->Images().Count(), 2);
    img.reset();
    for (int i = 0; i < 10; ++i) {
        ProcessPendingSynchronizedCalls();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
TEST(GIFOptimize, GlobalTablePaddedToTheStatedSize)
{
    // A local table of 3 entries makes the picture 2 bits deep: the header says 4 global
    // entries, so 4 are written although the global table holds 2.
    TGIFImage img;
    img.GlobalColorMap().Add(TGIFColor{0, 0, 0});
    img.GlobalColorMap().Add(TGIFColor{255, 255, 255});
    AddFrame(img, 0, 0, 4, 1, {0, 0, 0, 1});
    AddFrame(img, 0, 0, 4, 1, {0, 1, 2, 0}, -1, -1, -1, {TGIFColor{0, 0, 0}, TGIFColor{9, 9, 9}, TGIFColor{0, 9, 0}});
    auto before = Compose(img);
    Bytes w;
    EXPECT_EQ(ComposeAfterRoundTrip(img, &w), before);
    EXPECT_EQ(w[10], 0x91);
    EXPECT_EQ(Bytes(w.begin() + 13, w.begin() + 26), (Bytes{0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0x2C}));
}
