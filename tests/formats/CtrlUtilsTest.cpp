// The plain routines shared by the codec and the controls, and keyed drawing.
#include "formats/CtrlUtils.h"
#include "formats/MaxMin.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/KvImageList.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace kv;

TEST(CtrlUtils, MemoryRoutines)
{
    EXPECT_EQ(AllocZeroedBlock(0), nullptr);
    EXPECT_EQ(AllocZeroedBlock(-5), nullptr);
    void* none = nullptr;
    FreeZeroedBlock(none);
    EXPECT_EQ(none, nullptr);
    auto* p = static_cast<uint8_t*>(AllocZeroedBlock(9));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(p[i], 0);
    CopyBytes(p, "abcdefgh", 8);
    EXPECT_EQ(static_cast<uint8_t*>(OffsetPointer(p, 3))[0], 'd');
    EXPECT_TRUE(SameBytes(p + 5, "fgh", 3));
    EXPECT_FALSE(SameBytes(p + 5, "fgX", 3));
    EXPECT_TRUE(SameBytes(p, "zzz", 0));
    EXPECT_TRUE(SameBytes(p, "abcdefg", 7));
    FreeZeroedBlock(p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Max(-3, 2), 2);
    EXPECT_EQ(Min(-3, 2), -3);
    EXPECT_EQ(PassResourceText("Функция"), "Функция");
}

TEST(CtrlUtils, RectanglesAndScreens)
{
    const TRect screen{0, 0, 800, 600};
    TRect r{700, 550, 900, 650};
    FitRectToScreen(r, screen);
    EXPECT_EQ(r, (TRect{600, 500, 800, 600}));
    r = TRect{-50, -10, 50, 20};
    FitRectToScreen(r, screen);
    EXPECT_EQ(r, (TRect{0, 0, 100, 30}));
    r = TRect{100, 0, 1100, 10}; // wider than the screen: left edge ends at 0
    FitRectToScreen(r, screen);
    EXPECT_EQ(r, (TRect{0, 0, 1000, 10}));
    EXPECT_EQ(WidthOfRect(r), 1000);
    EXPECT_EQ(HeightOfRect(r), 10);
    EXPECT_EQ(PaletteRelativeColor(clRed), 0x020000FF);
}

TEST(CtrlUtils, KeyedDrawingLeavesKeyPixelsAlone)
{
    TBitmap src;
    src.SetPixelFormat(pf24bit);
    src.SetSize(2, 2);
    src.SetPixelColor(0, 0, clRed);
    src.SetPixelColor(1, 0, clGreen);
    src.SetPixelColor(0, 1, clBlue); // bottom-left: the key of 0x20000000
    src.SetPixelColor(1, 1, clRed);
    TBitmap dst;
    dst.SetPixelFormat(pf24bit);
    dst.SetSize(4, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            dst.SetPixelColor(x, y, clYellow);
    DrawBitmapRectKeyed(*dst.Canvas(), 0, 0, 4, 4, Rect(0, 0, 2, 2), src, clDefault);
    EXPECT_EQ(dst.PixelColor(0, 0), clRed);
    EXPECT_EQ(dst.PixelColor(3, 1), clGreen);
    EXPECT_EQ(dst.PixelColor(1, 3), clYellow);
    EXPECT_EQ(dst.PixelColor(3, 3), clRed);
    // clNone: a plain copy.
    DrawBitmapKeyed(*dst.Canvas(), src, clNone, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(dst.PixelColor(0, 1), clBlue);
    // Keyed on red with an explicit colour, over a yellow patch.
    for (int32_t y = 2; y < 4; ++y)
        for (int32_t x = 2; x < 4; ++x)
            dst.SetPixelColor(x, y, clYellow);
    DrawBitmapKeyed(*dst.Canvas(), src, clRed, 2, 2, 2, 2, 0, 0, 2, 2);
    EXPECT_EQ(dst.PixelColor(2, 2), clYellow);
    EXPECT_EQ(dst.PixelColor(3, 2), clGreen);
    EXPECT_EQ(dst.PixelColor(2, 3), clBlue);
    EXPECT_EQ(dst.PixelColor(3, 3), clYellow);
}

TEST(CtrlUtils, DisabledGlyphAndEllipsis)
{
    TBitmap glyph;
    glyph.SetPixelFormat(pf24bit);
    glyph.SetSize(3, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x)
            glyph.SetPixelColor(x, y, clWhite);
    glyph.SetPixelColor(0, 0, clBlack);
    auto disabled = MakeDisabledGlyphEx(glyph, clWhite, clSilver, clYellow, clGray, true);
    EXPECT_EQ(disabled->PixelColor(0, 0), clGray);
    EXPECT_EQ(disabled->PixelColor(1, 1), clYellow);
    EXPECT_EQ(disabled->PixelColor(2, 2), clSilver);

    TBitmap canvasOwner;
    canvasOwner.SetSize(10, 10);
    TCanvas& canvas = *canvasOwner.Canvas();
    std::string out;
    EllipsizeToWidth("short", canvas, 1000, out);
    EXPECT_EQ(out, "short");
    const std::string longText = "a rather long caption for a small label";
    const int32_t limit = canvas.TextWidth("a rather...");
    EllipsizeToWidth(longText, canvas, limit, out);
    EXPECT_LE(canvas.TextWidth(out), limit);
    EXPECT_EQ(out.substr(out.size() - 3), "...");
    EXPECT_EQ(longText.rfind(out.substr(0, out.size() - 3), 0), 0u);
}

TEST(CtrlUtils, ShowNotAvailableTellsAndAbortsSilently)
{
    TScriptedAnswers answers;
    answers.Then(mrOk);
    Screen()->SetCursor(crHourGlass);
    EXPECT_THROW(ShowNotAvailable(), EAbort);
    ASSERT_EQ(answers.Requests.size(), 1u);
    EXPECT_EQ(answers.Requests[0].Text, "Функция не реализована");
    EXPECT_EQ(answers.Requests[0].Buttons, mbOKOnly);
    EXPECT_EQ(Screen()->Cursor(), crDefault);
}

TEST(CtrlUtils, WindowsOnTheScreen)
{
    TRect big{-10, 5, Screen()->Width() + 90, 25};
    FitRectToScreen(big);
    EXPECT_EQ(big.Left, 0);
    EXPECT_EQ(WidthOfRect(big), Screen()->Width() + 100);
    QWidget w;
    w.resize(100, 50);
    CenterOnScreen(&w);
    EXPECT_EQ(w.size(), QSize(100, 50));
    EXPECT_NEAR(w.frameGeometry().left(), (Screen()->Width() - w.frameGeometry().width()) / 2, 1);
    EXPECT_FALSE(OwnsActiveWindow() && QApplication::activeWindow() == nullptr);
}

namespace {

// Notes whether a widget was painted while flagged as a copy.
class TPaintWatch : public QObject {
public:
    explicit TPaintWatch(QWidget* W) : FWidget(W) { W->installEventFilter(this); }
    int Paints = 0;
    int CopyPaints = 0;

protected:
    bool eventFilter(QObject*, QEvent* E) override
    {
        if (E->type() == QEvent::Paint) {
            ++Paints;
            CopyPaints += PaintingCopy(FWidget);
        }
        return false;
    }

private:
    QWidget* FWidget;
};

QWidget* Coloured(QWidget* Parent, const QRect& R, Qt::GlobalColor C)
{
    auto* w = new QWidget(Parent);
    w->setGeometry(R);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, C);
    w->setPalette(p);
    w->setAutoFillBackground(true);
    return w;
}

} // namespace

TEST(CtrlUtils, PaintParentBackgroundShowsParentAndLowerSiblings)
{
    QWidget parent;
    parent.resize(40, 30);
    QPalette p = parent.palette();
    p.setColor(QPalette::Window, Qt::red);
    parent.setPalette(p);
    QWidget* below = Coloured(&parent, QRect(10, 5, 10, 10), Qt::blue);
    QWidget* hidden = Coloured(&parent, QRect(20, 10, 5, 5), Qt::yellow);
    hidden->hide();
    QWidget* control = new QWidget(&parent);
    control->setGeometry(5, 0, 20, 20);
    Coloured(&parent, QRect(0, 0, 8, 8), Qt::green); // above the control: not behind it
    TPaintWatch watch(below);

    TBitmap dest;
    dest.SetPixelFormat(pf24bit);
    dest.SetSize(20, 20);
    PaintParentBackground(control, *dest.Canvas());
    EXPECT_EQ(dest.PixelColor(0, 0), clRed);  // the parent; the green sibling is above
    EXPECT_EQ(dest.PixelColor(5, 5), clBlue); // the sibling below, at parent (10, 5)
    EXPECT_EQ(dest.PixelColor(14, 14), clBlue);
    EXPECT_EQ(dest.PixelColor(15, 14), clRed);
    EXPECT_EQ(dest.PixelColor(4, 5), clRed);
    EXPECT_EQ(dest.PixelColor(16, 11), clRed); // the hidden sibling is not painted
    EXPECT_GE(watch.CopyPaints, 1);
    EXPECT_EQ(watch.CopyPaints, watch.Paints);
    EXPECT_FALSE(PaintingCopy(below));

    // Only the part inside the parent is painted; a control without a parent gets nothing.
    control->setGeometry(30, 20, 20, 20);
    dest.Canvas()->Brush()->SetColor(clWhite);
    dest.Canvas()->FillRect(Rect(0, 0, 20, 20));
    PaintParentBackground(control, *dest.Canvas());
    EXPECT_EQ(dest.PixelColor(9, 9), clRed);
    EXPECT_EQ(dest.PixelColor(10, 10), clWhite);
    QWidget orphan;
    orphan.resize(20, 20);
    PaintParentBackground(&orphan, *dest.Canvas());
    PaintParentBackground(nullptr, *dest.Canvas());
    EXPECT_EQ(dest.PixelColor(10, 10), clWhite);
}

TEST(CtrlUtils, DropPendingMessageDropsOneEventOfItsKind)
{
    QWidget w;
    const auto kind = QEvent::Type(QEvent::User + 1), other = QEvent::Type(QEvent::User + 2);
    int kinds = 0, others = 0;
    struct TCounter : QObject {
        int& K;
        int& O;
        TCounter(int& k, int& o) : K(k), O(o) {}
        bool eventFilter(QObject*, QEvent* E) override
        {
            K += E->type() == QEvent::User + 1;
            O += E->type() == QEvent::User + 2;
            return false;
        }
    } counter(kinds, others);
    w.installEventFilter(&counter);

    QCoreApplication::postEvent(&w, new QEvent(kind));
    QCoreApplication::postEvent(&w, new QEvent(other));
    QCoreApplication::postEvent(&w, new QEvent(kind));
    DropPendingMessage(&w, kind);
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_EQ(kinds, 1); // one of the two dropped
    EXPECT_EQ(others, 1);
    QCoreApplication::postEvent(&w, new QEvent(kind));
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_EQ(kinds, 2); // only one is ever dropped

    // With nothing pending, the event loop's next wait ends the drop: later events pass.
    DropPendingMessage(&w, kind);
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::postEvent(&w, new QEvent(kind));
    QCoreApplication::sendPostedEvents(&w);
    EXPECT_EQ(kinds, 3);
    DropPendingMessage(nullptr, kind);
}

TEST(CtrlUtils, DrawImageListDisabledPaintsTheSilhouette)
{
    // A 3 x 2 image whose fuchsia pixels are see-through:  A F A / F A F.
    TBitmap image;
    image.SetPixelFormat(pf24bit);
    image.SetSize(3, 2);
    const char* rows[] = {"AFA", "FAF"};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            image.SetPixelColor(x, y, rows[y][x] == 'F' ? clFuchsia : clMaroon);
    TCustomImageList list(3, 2);
    ASSERT_EQ(list.AddMasked(image, clFuchsia), 0);

    auto draw = [&](bool highlight) {
        TBitmap canvas;
        canvas.SetPixelFormat(pf24bit);
        canvas.SetSize(6, 5);
        canvas.Canvas()->Brush()->SetColor(clBlue);
        canvas.Canvas()->FillRect(Rect(0, 0, 6, 5));
        DrawImageListDisabled(list, *canvas.Canvas(), 1, 1, 0, clWhite, clGray, highlight);
        EXPECT_EQ(canvas.Canvas()->Brush()->Color(), clBlue);
        std::vector<std::string> out;
        for (int y = 0; y < 5; ++y) {
            std::string r;
            for (int x = 0; x < 6; ++x) {
                const TColor c = canvas.PixelColor(x, y);
                r += c == clBlue ? 'B' : c == clGray ? 'G' : c == clWhite ? 'W' : '?';
            }
            out.push_back(r);
        }
        return out;
    };
    // Grey on the opaque pixels at (1, 1); white one pixel right and down, under the grey.
    EXPECT_EQ(draw(true), (std::vector<std::string>{"BBBBBB", "BGBGBB", "BBGBWB", "BBBWBB", "BBBBBB"}));
    EXPECT_EQ(draw(false), (std::vector<std::string>{"BBBBBB", "BGBGBB", "BBGBBB", "BBBBBB", "BBBBBB"}));
}
