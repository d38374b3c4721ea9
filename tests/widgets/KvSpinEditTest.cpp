#include "widgets/KvSpinEdit.h"
#include "widgets/LbButton.h"

#include <gtest/gtest.h>

#include "widgets/WidgetTestUtil.h"

#include <QElapsedTimer>
#include <QWidget>

#include <vector>

using namespace kv;

namespace {

struct TCounts {
    int Change = 0, Top = 0, Bottom = 0;
};

void Wire(TKvSpinEdit& E, TCounts& C)
{
    E.OnChange = [&C](TObject*) { ++C.Change; };
    E.OnTopClick = [&C](TObject*) { ++C.Top; };
    E.OnBottomClick = [&C](TObject*) { ++C.Bottom; };
}

} // namespace

TEST(KvSpinEdit, FormatsAndReadsEachValueType)
{
    TKvSpinEdit E;
    EXPECT_EQ(E.Text(), "0");
    E.SetValueType(vtHex);
    E.SetValue(255);
    EXPECT_EQ(E.Text(), "FF");
    E.SetText("ff");
    EXPECT_EQ(E.Value(), 255);

    E.SetValueType(vtFloat);
    E.SetDecimal(2);
    E.SetValue(3.14159L);
    EXPECT_EQ(E.Text(), "3.14");

    E.SetValueType(vtInteger);
    E.SetValue(2.5L); // halves go to the even neighbour
    EXPECT_EQ(E.Text(), "2");
    E.SetValue(3.5L);
    EXPECT_EQ(E.Text(), "4");
}

TEST(KvSpinEdit, ClampsOnlyWithARange)
{
    TKvSpinEdit E;
    E.SetValue(-5); // Min = Max = 0: no limit
    EXPECT_EQ(E.Text(), "-5");
    E.SetMinValue(0);
    E.SetMaxValue(10);
    E.SetValue(12);
    EXPECT_EQ(E.Text(), "10");
    E.SetValue(-3);
    EXPECT_EQ(E.Text(), "0");
}

TEST(KvSpinEdit, UnreadableTextReadsAsMinValue)
{
    TKvSpinEdit E;
    E.SetMinValue(1.5L);
    E.SetText("");
    EXPECT_EQ(E.Value(), 1); // Trunc for integers
    E.SetText("abc");
    EXPECT_EQ(E.Value(), 1);
    E.SetValueType(vtFloat);
    E.SetText("");
    EXPECT_EQ(E.Value(), 1.5L);
    E.SetText("1.2.3");
    EXPECT_EQ(E.Value(), 1.5L);
}

TEST(KvSpinEdit, ChangingTheTypeKeepsTheValue)
{
    TKvSpinEdit E;
    E.SetValue(255);
    E.SetValueType(vtHex); // "255" would read as $255 = 597 under the new type
    EXPECT_EQ(E.Text(), "FF");
    EXPECT_EQ(E.Value(), 255);
    E.SetValueType(vtInteger);
    EXPECT_EQ(E.Text(), "255");

    E.SetValueType(vtFloat);
    E.SetText("12.75");
    E.SetValueType(vtInteger);
    EXPECT_EQ(E.Text(), "13");

    TKvSpinEdit F;
    F.SetValueType(vtFloat);
    F.SetIncrement(0.4L);
    F.SetValueType(vtInteger); // Round gives 0, which becomes 1
    EXPECT_EQ(F.Increment(), 1);
    F.SetValueType(vtFloat);
    F.SetIncrement(2.6L);
    F.SetValueType(vtHex);
    EXPECT_EQ(F.Increment(), 3);
}

TEST(KvSpinEdit, IntegersStayWithinWhatTheReaderTakes)
{
    TKvSpinEdit E;
    E.SetValueType(vtHex);
    E.SetValue(-1);
    EXPECT_EQ(E.Text(), "FFFFFFFF");
    EXPECT_EQ(E.Value(), -1);
    E.SetValue(1e12L);
    EXPECT_EQ(E.Text(), "7FFFFFFF");
    EXPECT_EQ(E.Value(), 2147483647);
    E.SetValue(-2147483648.0L);
    EXPECT_EQ(E.Text(), "80000000");
    EXPECT_EQ(E.Value(), -2147483648.0L);

    E.SetValueType(vtInteger);
    E.SetValue(1e12L);
    EXPECT_EQ(E.Text(), "2147483647");
    EXPECT_EQ(E.Value(), 2147483647);
    E.SetValue(-1e30L);
    EXPECT_EQ(E.Text(), "-2147483648");
}

TEST(KvSpinEdit, StepsFireChangeOnceAndTopClickAlways)
{
    TKvSpinEdit E;
    TCounts C;
    Wire(E, C);
    E.SetMaxValue(10);
    E.SetText("10");
    C = {};
    E.UpClick(&E);
    EXPECT_EQ(E.Text(), "10");
    EXPECT_EQ(C.Change, 0);
    EXPECT_EQ(C.Top, 1);

    E.SetText("9");
    E.SetModified(false);
    C = {};
    E.UpClick(&E);
    EXPECT_EQ(E.Text(), "10");
    EXPECT_EQ(C.Change, 1);
    EXPECT_EQ(C.Top, 1);
    EXPECT_TRUE(E.Modified());

    E.DownClick(&E);
    EXPECT_EQ(E.Text(), "9");
    EXPECT_EQ(C.Bottom, 1);
    EXPECT_EQ(C.Change, 2);

    // Read only: a beep and nothing else.
    E.SetReadOnly(true);
    C = {};
    const uint32_t Beeps = MessageBeepCount();
    E.UpClick(&E);
    EXPECT_EQ(MessageBeepCount(), Beeps + 1);
    EXPECT_EQ(C.Top, 0);
    EXPECT_EQ(E.Text(), "9");
}

TEST(KvSpinEdit, FiltersKeys)
{
    TKvSpinEdit E;
    E.SetValueType(vtFloat);
    E.SetText("1.5");
    EXPECT_FALSE(E.IsValidChar('.'));
    EXPECT_TRUE(E.IsValidChar('e'));
    EXPECT_TRUE(E.IsValidChar('7'));
    EXPECT_TRUE(E.IsValidChar('-'));
    EXPECT_FALSE(E.IsValidChar('x'));
    E.SetText("1e5");
    EXPECT_FALSE(E.IsValidChar('E'));
    EXPECT_TRUE(E.IsValidChar('.'));

    E.SetValueType(vtHex);
    EXPECT_FALSE(E.IsValidChar('g'));
    EXPECT_TRUE(E.IsValidChar('a'));
    EXPECT_TRUE(E.IsValidChar('F'));

    E.SetEditorEnabled(false);
    EXPECT_FALSE(E.IsValidChar('5'));
    EXPECT_FALSE(E.IsValidChar('\b'));
    EXPECT_TRUE(E.IsValidChar('\r'));

    // A refused key is dropped with a beep.
    char Key = '5';
    const uint32_t Beeps = MessageBeepCount();
    E.KeyPress(Key);
    EXPECT_EQ(Key, 0);
    EXPECT_EQ(MessageBeepCount(), Beeps + 1);
}

TEST(KvSpinEdit, TypedKeysReachTheTextOnlyWhenValid)
{
    QWidget Form;
    auto* E = new TKvSpinEdit(&Form);
    E->SetValueType(vtHex);
    E->SetText("");
    Form.show();
    kvtest::KeyClicks(E, "1g2a");
    EXPECT_EQ(E->Text(), "12a");
    EXPECT_EQ(E->Value(), 0x12A);

    TCounts C;
    Wire(*E, C);
    kvtest::KeyClick(E, Qt::Key_Up);
    EXPECT_EQ(E->Text(), "12B");
    EXPECT_EQ(C.Top, 1);
    kvtest::KeyClick(E, Qt::Key_Down);
    kvtest::KeyClick(E, Qt::Key_Down);
    EXPECT_EQ(E->Text(), "129");
    EXPECT_EQ(C.Bottom, 2);

    E->SetArrowKeys(false);
    kvtest::KeyClick(E, Qt::Key_Up);
    EXPECT_EQ(E->Text(), "129");
}

TEST(KvSpinEdit, EnterAndEscapeReachTheDefaultAndCancelButtons)
{
    QWidget Form;
    auto* E = new TKvSpinEdit(&Form);
    auto* Ok = new TLbButton(&Form);
    auto* Cancel = new TLbButton(&Form);
    Ok->SetDefault(true);
    Cancel->SetCancel(true);
    int OkClicks = 0, CancelClicks = 0;
    Ok->OnClick = [&](TObject*) { ++OkClicks; };
    Cancel->OnClick = [&](TObject*) { ++CancelClicks; };
    Form.show();

    char Key = '\r';
    E->KeyPress(Key);
    EXPECT_EQ(Key, 0); // Enter is consumed after being handed on
    EXPECT_EQ(OkClicks, 1);
    EXPECT_EQ(CancelClicks, 0);

    kvtest::KeyClick(E, Qt::Key_Escape, "\x1b");
    EXPECT_EQ(CancelClicks, 1);
    EXPECT_EQ(OkClicks, 1);

    // Escape with a shift key is not the cancel key.
    EXPECT_FALSE(Cancel->DialogKey(VK_ESCAPE, ssShift));
    // With EditorEnabled off, Enter still goes through.
    E->SetEditorEnabled(false);
    kvtest::KeyClick(E, Qt::Key_Return, "\r");
    EXPECT_EQ(OkClicks, 2);
}

TEST(KvSpinEdit, DiagonalButtonSplitsAtTheDiagonal)
{
    TKvSpinButton B;
    B.SetBounds(0, 0, 20, 20);
    for (auto [X, Y] : {std::pair{5, 5}, {19, 1}, {10, 10}})
        EXPECT_TRUE(B.InTopPart(X, Y)) << X << "," << Y;
    for (auto [X, Y] : {std::pair{15, 15}, {19, 2}})
        EXPECT_FALSE(B.InTopPart(X, Y)) << X << "," << Y;
    // Not square: 40 x 10, the line runs from (0, 10) to (40, 0).
    B.SetBounds(0, 0, 40, 10);
    EXPECT_TRUE(B.InTopPart(20, 5));
    EXPECT_FALSE(B.InTopPart(21, 5));
}

TEST(KvSpinEdit, SpinButtonClicksAndRepeats)
{
    TKvSpinButton B;
    int Top = 0, Bottom = 0;
    B.OnTopClick = [&](TObject*) { ++Top; };
    B.OnBottomClick = [&](TObject*) { ++Bottom; };

    B.SimulateMouseDown(mbLeft, ssLeft, 15, 15);
    EXPECT_EQ(Bottom, 1);
    EXPECT_EQ(B.Down(), sbBottomDown);
    ASSERT_NE(B.RepeatTimer(), nullptr);
    EXPECT_TRUE(B.RepeatTimer()->Enabled());
    EXPECT_EQ(B.RepeatTimer()->Interval(), 400u);
    B.SetMouseCapture(true);
    B.TimerExpired();
    EXPECT_EQ(Bottom, 2);
    EXPECT_EQ(B.RepeatTimer()->Interval(), 100u);
    // Dragged onto the other part: nothing is pressed, nothing repeats.
    B.SimulateMouseMove(ssLeft, 2, 2);
    EXPECT_EQ(B.Down(), sbNotDown);
    B.TimerExpired();
    EXPECT_EQ(Bottom, 2);
    B.SimulateMouseMove(ssLeft, 16, 16);
    EXPECT_EQ(B.Down(), sbBottomDown);
    B.SimulateMouseUp(mbLeft, 0, 16, 16);
    EXPECT_EQ(B.Down(), sbNotDown);
    EXPECT_FALSE(B.RepeatTimer()->Enabled()); // the repeat stops with the press
    EXPECT_EQ(Top, 0);

    // A disabled button ignores the press.
    B.setEnabled(false);
    B.SimulateMouseDown(mbLeft, ssLeft, 2, 2);
    EXPECT_EQ(Top, 0);
}

TEST(KvSpinEdit, HoldingTheTopPartRepeatsAfter400ThenEvery100Ms)
{
    TKvSpinButton B;
    QElapsedTimer Clock;
    std::vector<qint64> Clicks;
    B.OnTopClick = [&](TObject*) { Clicks.push_back(Clock.elapsed()); };
    Clock.start();
    B.SimulateMouseDown(mbLeft, ssLeft, 5, 5);
    B.SetMouseCapture(true);
    while (Clicks.size() < 4 && Clock.elapsed() < 3000)
        kvtest::Wait(5);
    B.SimulateMouseUp(mbLeft, 0, 5, 5);
    ASSERT_EQ(Clicks.size(), 4u);
    // At 0, 400, 500 and 600 ms, within 30 ms (Qt's coarse timers may fire up to 5 %
    // early); a loaded machine may add more lateness.
    EXPECT_LE(Clicks[0], 30);
    const qint64 Expected[] = {0, 400, 500, 600};
    for (int i = 1; i < 4; ++i) {
        EXPECT_GE(Clicks[i] - Clicks[0], Expected[i] - 30) << i;
        // Lateness is the machine's, not the control's: a busy test run may add a lot.
        EXPECT_LE(Clicks[i] - Clicks[0], Expected[i] + 250) << i;
    }
    EXPECT_GE(Clicks[1] - Clicks[0], Clicks[2] - Clicks[1] + 100); // the first wait is the long one
    kvtest::Wait(250);
    EXPECT_EQ(Clicks.size(), 4u);
}

TEST(KvSpinEdit, ButtonPaintsTheGlyphsOfItsState)
{
    TKvSpinButton B;
    B.SetBounds(0, 0, 20, 20);
    TBitmap Out;
    Out.SetPixelFormat(pf32bit);
    Out.SetSize(20, 20);
    B.PaintOn(*Out.Canvas());
    EXPECT_EQ(Out.PixelColor(0, 0), ColorToRGB(clWindowFrame));
    EXPECT_EQ(Out.PixelColor(5, 10), ColorToRGB(clBtnFace));
    // The up glyph (9 x 6) at (Round(5 - 4.5) + 1, Round(5 - 3) + 1) = (1, 3): the arrow's
    // widest row is its bottom one, glyph row 4.
    EXPECT_EQ(Out.PixelColor(2, 7), clBlack);
    EXPECT_EQ(Out.PixelColor(8, 7), clBlack);
    EXPECT_EQ(Out.PixelColor(5, 4), clBlack);
    EXPECT_EQ(Out.PixelColor(2, 4), ColorToRGB(clBtnFace)); // the key colour left the face alone
    // The down glyph at (Round(15 - 4.5) - 1, Round(15 - 3) - 1) = (9, 11): widest row on top.
    EXPECT_EQ(Out.PixelColor(10, 12), clBlack);
    EXPECT_EQ(Out.PixelColor(16, 12), clBlack);
    EXPECT_EQ(Out.PixelColor(13, 15), clBlack);
    // Pressed, the up arrow moves one pixel down and right.
    B.SetDown(sbTopDown);
    B.PaintOn(*Out.Canvas());
    EXPECT_EQ(Out.PixelColor(3, 8), clBlack);
    EXPECT_EQ(Out.PixelColor(9, 8), clBlack);
    // Nil reloads the default glyph.
    TBitmap Empty;
    B.SetUpGlyph(&Empty);
    EXPECT_TRUE(B.UpGlyph()->Empty());
    B.PaintOn(*Out.Canvas());
    B.SetUpGlyph(nullptr);
    EXPECT_EQ(B.UpGlyph()->Width(), 9);
}

TEST(KvSpinEdit, LaysOutItsButtonAndTextRectangle)
{
    QWidget Form;
    auto* E = new TKvSpinEdit(&Form);
    E->SetBounds(0, 0, 121, 40);
    const int H = E->height(), W = E->width();
    ASSERT_NE(E->Button(), nullptr);
    EXPECT_EQ(E->UpDown(), nullptr);
    // Client (W - H - 1, -1, H - 3, H - 3) inside the 2-pixel frame.
    EXPECT_EQ(E->Button()->BoundsRect(), Bounds(W - H + 1, 1, H - 3, H - 3));
    EXPECT_EQ(E->TextMargins(), std::make_pair(0, H - 3 + 2));

    E->SetRightToLeft(true);
    EXPECT_EQ(E->Button()->BoundsRect(), Bounds(1, 1, H - 3, H - 3));
    EXPECT_EQ(E->TextMargins(), std::make_pair(H - 3 + 1, 1));
    E->SetRightToLeft(false);

    E->SetButtonKind(bkStandard);
    ASSERT_NE(E->UpDown(), nullptr);
    EXPECT_EQ(E->Button(), nullptr);
    const int UW = std::min(ScrollBarExtent(), 15);
    EXPECT_EQ(E->UpDown()->width(), UW);
    EXPECT_EQ(E->UpDown()->x(), W - 2 - UW);
    EXPECT_EQ(E->TextMargins(), std::make_pair(0, UW + 2));

    // Never lower than the font's text height + 5, through SetBounds or a resize.
    E->SetBounds(0, 0, 121, 3);
    EXPECT_EQ(E->height(), E->GetMinHeight());
    Form.show();
    E->resize(121, 30);
    E->resize(121, 2);
    EXPECT_EQ(E->height(), E->GetMinHeight());
    EXPECT_EQ(E->UpDown()->height(), E->GetMinHeight() - 4);
}

TEST(KvSpinEdit, UpDownClicksThroughThumbPosition)
{
    TKvSpinEdit E;
    E.SetButtonKind(bkStandard);
    TCounts C;
    Wire(E, C);
    E.UpDown()->ArrowPressed(btNext);
    EXPECT_EQ(E.Text(), "1");
    EXPECT_EQ(E.UpDown()->Position(), 0); // reset after every click
    E.UpDown()->ThumbPosition(-1);
    E.UpDown()->ThumbPosition(-1);
    EXPECT_EQ(E.Text(), "-1");
    E.UpDown()->ThumbPosition(0);
    EXPECT_EQ(E.Text(), "-1");
    EXPECT_EQ(C.Top, 1);
    EXPECT_EQ(C.Bottom, 2);
}

TEST(KvSpinEdit, FocusExitClampsOnlyWhatCheckValueChanges)
{
    QWidget Form;
    auto* E = new TKvSpinEdit(&Form);
    auto* Other = new QWidget(&Form);
    Other->setFocusPolicy(Qt::StrongFocus);
    Form.show();
    QApplication::setActiveWindow(&Form);
    E->SetMinValue(0);
    E->SetMaxValue(10);
    E->setFocus();
    E->SetText("0012");
    Other->setFocus();
    EXPECT_EQ(E->Text(), "10");
    E->setFocus();
    E->SetText("007");
    Other->setFocus();
    EXPECT_EQ(E->Text(), "007"); // in range: left as typed
}

TEST(KvSpinEdit, NumberTextHelpers)
{
    EXPECT_EQ(FloatToStrFixed(2.675L, 2), "2.68"); // 15 significant digits first
    EXPECT_EQ(FloatToStrFixed(-0.001L, 2), "0.00");
    EXPECT_EQ(FloatToStrFixed(9.999L, 2), "10.00");
    EXPECT_EQ(FloatToStrFixed(0.5L, 0), "1");
    EXPECT_EQ(FloatToStrFixed(-12.5L, 1), "-12.5");
    EXPECT_EQ(FloatToStrFixed(1e20L, 2), "1E20");
    EXPECT_EQ(FloatToStrFixed(1.5e20L, 2), "1.5E20");
    EXPECT_EQ(IntToHex(-1, 1), "FFFFFFFF");
    EXPECT_EQ(IntToHex(10, 4), "000A");
    EXPECT_EQ(RoundToInt32(-2.5L), -2);
    EXPECT_EQ(RoundToInt32(1e40L), 2147483647);

    Extended V = 0;
    EXPECT_TRUE(TryStrToFloat(" -1.5e3 ", V));
    EXPECT_EQ(V, -1500);
    EXPECT_FALSE(TryStrToFloat("1e", V));
    EXPECT_FALSE(TryStrToFloat(".", V));
    EXPECT_FALSE(TryStrToFloat("1e99999", V));

    // One separator for the parser, the formatter and the key filter.
    SetDecimalSeparator(',');
    TKvSpinEdit E;
    E.SetValueType(vtFloat);
    E.SetValue(1.5L);
    EXPECT_EQ(E.Text(), "1,50");
    E.SetText("2,25");
    EXPECT_EQ(E.Value(), 2.25L);
    EXPECT_FALSE(E.IsValidChar(','));
    E.SetText("2");
    EXPECT_TRUE(E.IsValidChar(','));
    EXPECT_FALSE(E.IsValidChar('.'));
    SetDecimalSeparator('.');
}
