#include "platform/KvScreenMetrics.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace kv {

TScreenMetrics ReadScreenMetrics()
{
    TScreenMetrics m;
    if (!QGuiApplication::instance())
        return m;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return m;
    m.BitsPerPixel = screen->depth() > 0 ? screen->depth() : 24;
    int32_t dx = int32_t(std::lround(screen->logicalDotsPerInchX()));
    int32_t dy = int32_t(std::lround(screen->logicalDotsPerInchY()));
    if (dx > 0)
        m.LogicalDpiX = dx;
    if (dy > 0)
        m.LogicalDpiY = dy;
    return m;
}

} // namespace kv
