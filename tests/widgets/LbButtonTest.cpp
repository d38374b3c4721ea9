#include "widgets/LbButton.h"

#include "widgets/WidgetTestUtil.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

using namespace kv;

namespace {

TColor Pixel(const QImage& I, int X, int Y)
{
    const QRgb P = I.pixel(X, Y);
    return RGB(uint8_t(qRed(P)), uint8_t(qGreen(P)), uint8_t(qBlue(P)));
}

std::unique_ptr<TBitmap> SolidGlyph(int W, int H, TColor Colour)
{
    auto B = std::make_unique<TBitmap>();
    B->SetPixelFormat(pf24bit);
    B->SetSize(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            B->SetPixelColor(x, y, Colour);
    // The bottom-left pixel is the transparent colour.
    B->SetPixelColor(0, H - 1, LbKeyColor);
    return B;
}

} // namespace

TEST(LbButton, KindsSetCaptionResultAndGlyph)
{
    TLbButton B;
    EXPECT_EQ(B.Width(), 100);
    EXPECT_EQ(B.Height(), 23);
    B.SetKind(bkCancel);
    EXPECT_EQ(B.Caption(), "Abbrechen");
    EXPECT_EQ(B.ModalResult(), mrCancel);
    EXPECT_EQ(B.NumGlyphs(), 2);
    EXPECT_EQ(B.Glyph()->Width(), 32);
    EXPECT_EQ(B.Kind(), bkCancel);

    auto Strip = SolidGlyph(48, 16, clRed);
    B.SetGlyph(Strip.get());
    EXPECT_EQ(B.Kind(), bkCustom);
    EXPECT_EQ(B.NumGlyphs(), 3);

    B.SetKind(bkAbort);
    EXPECT_EQ(B.Caption(), "Abbrechen");
    EXPECT_EQ(B.ModalResult(), mrAbort);
    B.SetKind(bkClose);
    EXPECT_EQ(B.Caption(), "Schließen");
    EXPECT_EQ(B.ModalResult(), mrNone);
    B.SetKind(bkAll);
    EXPECT_EQ(B.ModalResult(), mrAll);
    B.SetModalResult(mrYes);
    EXPECT_EQ(B.Kind(), bkCustom);

    // A glyph taller than wide has no whole image; nil empties.
    auto Tall = SolidGlyph(16, 32, clRed);
    B.SetGlyph(Tall.get());
    EXPECT_EQ(B.NumGlyphs(), 0);
    B.Render(); // draws it as one image, no division by zero
    B.SetGlyph(nullptr);
    EXPECT_EQ(B.NumGlyphs(), 0);
    EXPECT_TRUE(B.Glyph()->Empty());
    B.Render();
}

TEST(LbButton, ColourSchemes)
{
    TLbButton B;
    B.SetColorStyle(lcsQuicken);
    EXPECT_EQ(B.Color(), TColor(0x603000));
    EXPECT_EQ(B.Style(), bsQuicken);
    EXPECT_EQ(B.Font()->Color(), clWhite);
    EXPECT_FALSE(B.Flat());
    EXPECT_EQ(B.HotTrackColor(), TColor(0xCEAE9C));
    B.SetColorStyle(lcsUltraFlat1);
    EXPECT_TRUE(B.Flat());
    EXPECT_EQ(B.Color(), clBtnFace);
    EXPECT_EQ(B.ColorWhenDown(), TColor(0xB59284));
    EXPECT_EQ(B.Style(), bsNormal);
    B.SetColorStyle(lcsGold);
    EXPECT_FALSE(B.Flat()); // every scheme that does not set Flat clears it
    EXPECT_EQ(B.Style(), bsModern);
    EXPECT_EQ(B.Font()->Color(), clBlack);
}

TEST(LbButton, FadeColoursAtGivenCounters)
{
    EXPECT_EQ(LbMixColors(0x000000, 0x0000FF, 4), TColor(0x00007F));
    EXPECT_EQ(LbMixColors(0x000000, 0x0000FF, 7), TColor(0x0000DF));
    EXPECT_EQ(LbMixColors(0xFFFFFF, 0x000000, 7), TColor(0x1F1F1F));
    EXPECT_EQ(LbMixColors(0x123456, 0xFFFFFF, 0), TColor(0x123456));
    EXPECT_EQ(LbMixColors(0x123456, 0xABCDEF, 8), TColor(0xABCDEF));
    // System colours are resolved before mixing: at rest the face is the face colour.
    EXPECT_EQ(LbMixColors(clBtnFace, 0x0000FF, 0), ColorToRGB(clBtnFace));
}

TEST(LbButton, GradientBandsStepByARealThirtyFirst)
{
    EXPECT_EQ(LbGradientBand(0x000000, 0x0000FF, 0), TColor(0x000000));
    EXPECT_EQ(LbGradientBand(0x000000, 0x0000FF, 1), TColor(0x000008));  // 255 / 31 = 8.2
    EXPECT_EQ(LbGradientBand(0x000000, 0x0000FF, 16), TColor(0x000083)); // 4080 / 31 = 131.6
    EXPECT_EQ(LbGradientBand(0x000000, 0x0000FF, 31), TColor(0x0000FF));
    EXPECT_EQ(LbGradientBand(0xFF0000, 0x000000, 1), TColor(0xF70000)); // 255 - 8.2
}

TEST(LbButton, HotTrackingAndSlowFade)
{
    QWidget Parent;
    auto* B = new TLbButton(&Parent);
    Parent.show();
    B->SetColor(0x000000);
    B->SetHotTrackColor(0x0000FF);
    int Enters = 0, Exits = 0;
    B->OnMouseEnter = [&](TObject*) { ++Enters; };
    B->OnMouseExit = [&](TObject*) { ++Exits; };

    B->MouseEnter();
    EXPECT_TRUE(B->Hot());
    EXPECT_EQ(B->FadeCounter(), 8);
    EXPECT_EQ(B->BackgroundColor(), TColor(0x0000FF));
    EXPECT_EQ(Enters, 1);
    // Without SlowDecease the hot colour goes at once.
    B->MouseLeave();
    EXPECT_EQ(B->FadeCounter(), 0);
    EXPECT_EQ(B->BackgroundColor(), TColor(0));
    EXPECT_EQ(Exits, 1);

    B->SetSlowDecease(true);
    B->MouseEnter();
    B->MouseLeave();
    EXPECT_TRUE(B->FadeRunning());
    B->FadeTick();
    EXPECT_EQ(B->FadeCounter(), 7);
    EXPECT_EQ(B->BackgroundColor(), TColor(0x0000DF));
    // Back under the mouse: the fade stops and a stray tick keeps the hot colour.
    B->MouseEnter();
    EXPECT_FALSE(B->FadeRunning());
    B->FadeTick();
    EXPECT_EQ(B->FadeCounter(), 8);
    B->MouseLeave();
    for (int i = 0; i < 8; ++i)
        B->FadeTick();
    EXPECT_EQ(B->FadeCounter(), 0);
    EXPECT_FALSE(B->FadeRunning());

    // Switching SlowDecease off in mid-fade ends it.
    B->MouseEnter();
    B->MouseLeave();
    B->FadeTick();
    B->SetSlowDecease(false);
    EXPECT_EQ(B->FadeCounter(), 0);
    EXPECT_FALSE(B->FadeRunning());

    // A disabled button ignores the mouse.
    B->setEnabled(false);
    B->MouseEnter();
    EXPECT_FALSE(B->Hot());
    EXPECT_EQ(Enters, 4);
}

TEST(LbButton, FadeReachesRestInEightTicksOf30Ms)
{
    QWidget Parent;
    Parent.resize(400, 400);
    auto* B = new TLbButton(&Parent);
    B->SetBounds(250, 300, 100, 23); // away from the pointer, which would send its own enter
    Parent.show();
    kvtest::Wait(20);
    B->SetSlowDecease(true);
    B->MouseEnter();
    QElapsedTimer Clock;
    Clock.start();
    B->MouseLeave();
    while (B->FadeCounter() > 0 && Clock.elapsed() < 3000)
        kvtest::Wait(5);
    EXPECT_EQ(B->FadeCounter(), 0);
    EXPECT_GE(Clock.elapsed(), 8 * 30 - 5);
    EXPECT_FALSE(B->FadeRunning());
}

// Watches the timer events of the fade timers (the only timers of LbFadeInterval here).
class TFadeTimerWatch : public QObject {
public:
    std::vector<QPointer<QTimer>> Seen;
    int TicksAfter = 0;
    bool Deleted = false;

protected:
    bool eventFilter(QObject* Receiver, QEvent* Event) override
    {
        auto* T = qobject_cast<QTimer*>(Receiver);
        if (Event->type() == QEvent::Timer && T && T->interval() == int(LbFadeInterval)) {
            if (Deleted)
                ++TicksAfter;
            else
                Seen.emplace_back(T);
        }
        return false;
    }
};

TEST(LbButton, FadeTimerDiesWithItsButton)
{
    QWidget Parent;
    Parent.resize(400, 400);
    auto* B = new TLbButton(&Parent);
    B->SetBounds(250, 300, 100, 23); // away from the pointer, which would send its own enter
    Parent.show();
    kvtest::Wait(20);
    TFadeTimerWatch Watch;
    qApp->installEventFilter(&Watch);
    B->SetSlowDecease(true);
    B->MouseEnter();
    B->MouseLeave();
    QElapsedTimer Clock;
    Clock.start();
    while (Watch.Seen.empty() && Clock.elapsed() < 2000)
        kvtest::Wait(5);
    ASSERT_TRUE(B->FadeRunning()); // one tick of eight gone
    ASSERT_FALSE(Watch.Seen.empty());
    delete B;
    Watch.Deleted = true;
    for (const QPointer<QTimer>& T : Watch.Seen)
        EXPECT_TRUE(T.isNull()); // the timer went with its button
    kvtest::Wait(100);
    EXPECT_EQ(Watch.TicksAfter, 0);
    qApp->removeEventFilter(&Watch);
}

TEST(LbButton, NoHotTrackColourMeansNoFadeButTheCounterRuns)
{
    QWidget Parent;
    auto* B = new TLbButton(&Parent);
    Parent.show();
    B->SetColor(0x123456);
    B->MouseEnter();
    EXPECT_EQ(B->FadeCounter(), 8);
    EXPECT_EQ(B->BackgroundColor(), TColor(0x123456));
}

TEST(LbButton, PaintsFaceAndBevel)
{
    TLbButton B;
    B.SetColor(0x204060);
    QImage I = B.Render();
    // Inner size 98 x 21 at the origin.
    EXPECT_EQ(Pixel(I, 0, 0), TColor(0xFFFFFF)); // LightColor top-left
    EXPECT_EQ(Pixel(I, 0, 19), TColor(0xFFFFFF));
    EXPECT_EQ(Pixel(I, 97, 20), TColor(0x808080)); // ShadowColor bottom-right
    EXPECT_EQ(Pixel(I, 97, 0), TColor(0x808080));
    EXPECT_EQ(Pixel(I, 0, 20), TColor(0x808080));
    EXPECT_EQ(Pixel(I, 5, 5), TColor(0x204060));

    // Down: the face moves one pixel and the bevel swaps.
    B.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    I = B.Render();
    EXPECT_EQ(Pixel(I, 1, 1), TColor(0x808080));
    EXPECT_EQ(Pixel(I, 98, 21), TColor(0xFFFFFF));
    EXPECT_EQ(Pixel(I, 6, 6), TColor(0x204060));

    // Flat and not hot: no frame.
    TLbButton F;
    F.SetColor(0x204060);
    F.SetFlat(true);
    I = F.Render();
    EXPECT_EQ(Pixel(I, 0, 0), TColor(0x204060));

    // The shape style leaves everything but glyph and caption in the key colour.
    TLbButton S;
    S.SetStyle(bsShape);
    I = S.Render();
    EXPECT_EQ(Pixel(I, 0, 0), LbKeyColor);
    EXPECT_EQ(Pixel(I, 50, 11), LbKeyColor);
}

TEST(LbButton, GlyphImageForEachState)
{
    TLbButton B;
    auto One = SolidGlyph(16, 16, clRed);
    B.SetGlyph(One.get());
    EXPECT_EQ(B.NumGlyphs(), 1);
    // Centred with no caption: (98 - 16) / 2 = 41, (21 - 16) / 2 = 2.
    QImage I = B.Render();
    EXPECT_EQ(Pixel(I, 49, 10), clRed);
    // Disabled with a single image: the first image, never past the glyph's edge.
    B.setEnabled(false);
    I = B.Render();
    EXPECT_EQ(Pixel(I, 49, 10), clRed);

    auto Strip = SolidGlyph(64, 16, clRed);
    for (int x = 16; x < 32; ++x)
        for (int y = 0; y < 16; ++y)
            Strip->SetPixelColor(x, y, clGray);
    for (int x = 32; x < 48; ++x)
        for (int y = 0; y < 16; ++y)
            Strip->SetPixelColor(x, y, clBlue);
    for (int x = 48; x < 64; ++x)
        for (int y = 0; y < 15; ++y)
            Strip->SetPixelColor(x, y, clLime);
    QWidget Parent;
    auto& C = *new TLbButton(&Parent);
    C.SetGlyph(Strip.get());
    EXPECT_EQ(C.NumGlyphs(), 4);
    EXPECT_EQ(Pixel(C.Render(), 49, 10), clRed);
    Parent.show();
    C.MouseEnter();
    EXPECT_EQ(Pixel(C.Render(), 49, 10), clLime);
    C.SimulateMouseDown(mbLeft, ssLeft, 5, 5); // down wins over hot, one pixel lower
    EXPECT_EQ(Pixel(C.Render(), 50, 11), clBlue);
    C.SimulateMouseUp(mbLeft, 0, 5, 5);
    C.setEnabled(false);
    EXPECT_EQ(Pixel(C.Render(), 49, 10), clGray);
}

TEST(LbButton, NarrowButtonWithLongCaptionPaints)
{
    TLbButton B;
    B.SetBounds(0, 0, 6, 23);
    B.SetCaption("A caption far too long for six pixels");
    auto Glyph = SolidGlyph(16, 16, clRed);
    B.SetGlyph(Glyph.get());
    QImage I = B.Render();
    EXPECT_EQ(I.width(), 6);
    B.SetBounds(0, 0, 0, 0);
    B.Render();
    EXPECT_EQ(LbFitCaption("abc", [](const std::string&) { return false; }), "");
    EXPECT_EQ(LbFitCaption("Schließen", [](const std::string& S) { return S.size() <= 7; }),
              "Schlie"); // "ß" goes whole
}

TEST(LbButton, ClicksGiveTheModalResultToTheForm)
{
    QDialog Form;
    auto* B = new TLbButton(&Form);
    B->SetKind(bkOK);
    int Clicks = 0;
    B->OnClick = [&](TObject*) { ++Clicks; };
    Form.show();
    B->SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    EXPECT_TRUE(B->IsDown());
    B->SimulateMouseUp(mbLeft, 0, 5, 5);
    EXPECT_FALSE(B->IsDown());
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(Form.result(), mrOk);

    // Keys: Space down, then up clicks.
    Form.show();
    kvtest::KeyClick(B, Qt::Key_Space, " ");
    EXPECT_EQ(Clicks, 2);

    // Disabled: no click.
    B->setEnabled(false);
    B->SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    B->SimulateMouseUp(mbLeft, 0, 5, 5);
    EXPECT_EQ(Clicks, 2);
}

TEST(LbButton, DefaultButtonStepsAsideForAFocusedButton)
{
    QWidget Form;
    auto* Ok = new TLbButton(&Form);
    auto* Other = new TLbButton(&Form);
    Ok->SetDefault(true);
    int Clicks = 0;
    Ok->OnClick = [&](TObject*) { ++Clicks; };
    Form.show();
    QApplication::setActiveWindow(&Form);
    EXPECT_TRUE(Ok->DialogKey(VK_RETURN, 0));
    EXPECT_EQ(Clicks, 1);
    EXPECT_FALSE(Ok->DialogKey(VK_ESCAPE, 0)); // not a cancel button
    Other->setFocus();
    if (Form.focusWidget() == Other) {
        EXPECT_FALSE(Ok->DialogKey(VK_RETURN, 0));
        EXPECT_EQ(Clicks, 1);
    }
}
