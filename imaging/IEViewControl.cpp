#include "imaging/IEViewControl.h"

#include <QPainter>
#include <QStyleOptionFrame>

namespace kv {

TIEViewControl::TIEViewControl(QWidget* AOwner) : TCustomControl(AOwner)
{
    SetColor(clBtnFace);
    SetCtl3D(true);
}

void TIEViewControl::SetBorderStyle(TControlBorderStyle Value)
{
    if (Value == FBorderStyle)
        return;
    FBorderStyle = Value;
    FrameChanged();
}

void TIEViewControl::PaintFrame(QPainter& Painter)
{
    if (FBorderStyle != bsSingleBorder)
        return;
    // The sunken client edge: the style's sunken panel, over an edge of the classic
    // colours so that the full two pixels are covered whatever the style draws.
    const QRect All = rect();
    Painter.save();
    Painter.setPen(ToQColor(clBtnShadow));
    Painter.drawLine(All.left(), All.bottom(), All.left(), All.top());
    Painter.drawLine(All.left(), All.top(), All.right(), All.top());
    Painter.setPen(ToQColor(clBtnHighlight));
    Painter.drawLine(All.right(), All.top(), All.right(), All.bottom());
    Painter.drawLine(All.right(), All.bottom(), All.left(), All.bottom());
    const QRect Inner = All.adjusted(1, 1, -1, -1);
    Painter.setPen(ToQColor(cl3DDkShadow));
    Painter.drawLine(Inner.left(), Inner.bottom(), Inner.left(), Inner.top());
    Painter.drawLine(Inner.left(), Inner.top(), Inner.right(), Inner.top());
    Painter.setPen(ToQColor(cl3DLight));
    Painter.drawLine(Inner.right(), Inner.top(), Inner.right(), Inner.bottom());
    Painter.drawLine(Inner.right(), Inner.bottom(), Inner.left(), Inner.bottom());
    QStyleOptionFrame Option;
    Option.initFrom(this);
    Option.rect = All;
    Option.lineWidth = 2;
    Option.midLineWidth = 0;
    Option.frameShape = QFrame::StyledPanel;
    Option.state |= QStyle::State_Sunken;
    style()->drawPrimitive(QStyle::PE_Frame, &Option, &Painter, this);
    Painter.restore();
}

void TIEViewControl::MouseEnter()
{
    if (OnMouseEnter)
        OnMouseEnter(Self());
}

void TIEViewControl::MouseLeave()
{
    if (OnMouseLeave)
        OnMouseLeave(Self());
}

} // namespace kv
