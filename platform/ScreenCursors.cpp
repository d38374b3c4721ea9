#include "platform/ScreenCursors.h"

#include "platform/QtBridge.h"

#include <QCursor>
#include <QPixmap>

#include <algorithm>
#include <map>
#include <mutex>

namespace kv {

namespace {

struct TCursorEntry {
    QImage Image; // ARGB32, straight alpha
    TPoint HotSpot;
};

// Owned by this unit for the life of the process, like the screen object itself.
std::map<TCursor, TCursorEntry>& Table()
{
    static auto* table = new std::map<TCursor, TCursorEntry>;
    return *table;
}
std::mutex TableLock;

} // namespace

void SetScreenCursor(TCursor Index, const TBitmap& Image, TPoint HotSpot)
{
    TCursorEntry e;
    e.Image = BitmapToQImage(Image);
    e.HotSpot = {std::clamp(HotSpot.X, 0, std::max(0, Image.Width() - 1)),
                 std::clamp(HotSpot.Y, 0, std::max(0, Image.Height() - 1))};
    std::lock_guard<std::mutex> lock(TableLock);
    Table()[Index] = std::move(e);
}

void RemoveScreenCursor(TCursor Index)
{
    std::lock_guard<std::mutex> lock(TableLock);
    Table().erase(Index);
}

bool HasScreenCursor(TCursor Index)
{
    std::lock_guard<std::mutex> lock(TableLock);
    return Table().count(Index) != 0;
}

bool ScreenCursorImage(TCursor Index, TBitmap& Image, TPoint& HotSpot)
{
    std::lock_guard<std::mutex> lock(TableLock);
    auto it = Table().find(Index);
    if (it == Table().end())
        return false;
    QImageToBitmap(it->second.Image, Image);
    HotSpot = it->second.HotSpot;
    return true;
}

namespace {

Qt::CursorShape StandardShape(TCursor C)
{
    switch (C) {
    case crNone: return Qt::BlankCursor;
    case crCross: return Qt::CrossCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    case crSizeNESW: return Qt::SizeBDiagCursor;
    case crSizeNS: return Qt::SizeVerCursor;
    case crSizeNWSE: return Qt::SizeFDiagCursor;
    case crSizeWE: return Qt::SizeHorCursor;
    case crUpArrow: return Qt::UpArrowCursor;
    case crHourGlass:
    case crSQLWait: return Qt::WaitCursor;
    case crDrag:
    case crMultiDrag: return Qt::DragCopyCursor;
    case crNoDrop:
    case crNo: return Qt::ForbiddenCursor;
    case crHSplit: return Qt::SplitHCursor;
    case crVSplit: return Qt::SplitVCursor;
    case crAppStart: return Qt::BusyCursor;
    case crHelp: return Qt::WhatsThisCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    default: return Qt::ArrowCursor;
    }
}

} // namespace

bool FindScreenCursor(TCursor Index, QCursor& Cursor)
{
    std::lock_guard<std::mutex> lock(TableLock);
    auto it = Table().find(Index);
    if (it == Table().end())
        return false;
    Cursor = QCursor(QPixmap::fromImage(it->second.Image), it->second.HotSpot.X, it->second.HotSpot.Y);
    return true;
}

QCursor ScreenCursorFor(TCursor Index)
{
    QCursor Own;
    return FindScreenCursor(Index, Own) ? Own : QCursor(StandardShape(Index));
}

} // namespace kv
