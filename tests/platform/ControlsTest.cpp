#include "platform/Controls.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace kv;

namespace {

class Probe : public TCustomControl {
public:
    int Moves = 0, Ups = 0, Wheels = 0, LastDelta = 0;
    using TCustomControl::TCustomControl;

protected:
    void MouseMove(TShiftState, int32_t, int32_t) override { ++Moves; }
    void MouseUp(TMouseButton, TShiftState, int32_t, int32_t) override { ++Ups; }
    bool DoMouseWheelDefault(TShiftState, int32_t Delta, TPoint) override
    {
        ++Wheels;
        LastDelta = Delta;
        return true;
    }
};

void SendMouse(QWidget& W, QEvent::Type Type, QPoint P, Qt::MouseButton B, Qt::MouseButtons Held)
{
    QMouseEvent E(Type, QPointF(P), W.mapToGlobal(QPointF(P)), B, Held, Qt::NoModifier);
    QApplication::sendEvent(&W, &E);
}

void SendWheel(QWidget& W, int Delta)
{
    QWheelEvent E(QPointF(5, 5), W.mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, Delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(&W, &E);
}

} // namespace

TEST(Controls, CaptureOnlyOnTheLeftButton)
{
    Probe P;
    P.SetBounds(0, 0, 50, 50);
    // A right press does not capture: moves and the release outside are not ours.
    SendMouse(P, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(P.MouseCapture());
    SendMouse(P, QEvent::MouseMove, {80, 80}, Qt::NoButton, Qt::RightButton);
    SendMouse(P, QEvent::MouseButtonRelease, {80, 80}, Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(P.Moves, 0);
    EXPECT_EQ(P.Ups, 0);
    // A left press does.
    SendMouse(P, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(P.MouseCapture());
    SendMouse(P, QEvent::MouseMove, {80, 80}, Qt::NoButton, Qt::LeftButton);
    SendMouse(P, QEvent::MouseButtonRelease, {80, 80}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(P.Moves, 1);
    EXPECT_EQ(P.Ups, 1);
    EXPECT_FALSE(P.MouseCapture());
}

TEST(Controls, WheelInWholeNotches)
{
    Probe P;
    P.SetBounds(0, 0, 50, 50);
    SendWheel(P, 60);
    EXPECT_EQ(P.Wheels, 0);
    SendWheel(P, 60);
    EXPECT_EQ(P.Wheels, 1);
    EXPECT_EQ(P.LastDelta, 120);
    SendWheel(P, -360);
    EXPECT_EQ(P.LastDelta, -360);
    bool Asked = false;
    P.OnMouseWheel = [&](TObject*, TShiftState, int32_t, TPoint, bool& Handled) {
        Asked = true;
        Handled = true;
    };
    SendWheel(P, 120);
    EXPECT_TRUE(Asked);
    EXPECT_EQ(P.Wheels, 2); // the hook handled it
}

TEST(Controls, AlignClientFollowsTheParent)
{
    QWidget Parent;
    Parent.resize(200, 100);
    Probe P(&Parent);
    P.SetAlign(alClient);
    EXPECT_EQ(P.BoundsRect(), (TRect{0, 0, 200, 100}));
    Parent.resize(300, 120);
    QApplication::sendPostedEvents();
    QResizeEvent E(QSize(300, 120), QSize(200, 100));
    QApplication::sendEvent(&Parent, &E);
    EXPECT_EQ(P.BoundsRect(), (TRect{0, 0, 300, 120}));
    P.SetAlign(alNone);
    P.SetAlign(alBottom);
    EXPECT_EQ(P.Width(), 300);
}
