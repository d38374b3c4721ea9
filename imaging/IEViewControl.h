// The window side shared by the imaging library's views: a control framed by the sunken
// client edge or by nothing, whose client area lies inside that frame, and which tells
// of the mouse entering and leaving it.
#pragma once

#include "imaging/IEView.h"
#include "platform/Controls.h"

class QPainter;

namespace kv {

class TIEViewControl : public TCustomControl, public TIEView {
public:
    explicit TIEViewControl(QWidget* AOwner = nullptr);
    std::string ClassName() const override { return "TIEView"; }

    TControlBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TControlBorderStyle Value);
    // The width of the frame on each side: the 3-D client edge is 2 pixels.
    int32_t FrameWidth() const { return FBorderStyle == bsSingleBorder ? 2 : 0; }

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

protected:
    // The view as the sender of its events (it is a TObject through both its bases).
    TObject* Self() { return static_cast<TCustomControl*>(this); }
    // Draws the frame around the whole control; the client area is left alone.
    void PaintFrame(QPainter& Painter);
    // The frame changed the client area.
    virtual void FrameChanged() { Invalidate(); }
    void MouseEnter() override;
    void MouseLeave() override;

private:
    TControlBorderStyle FBorderStyle = bsSingleBorder;
};

} // namespace kv
