#include "platform/Cursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace {
std::function<POINT()> g_source;
}

BOOL GetCursorPos(POINT *lpPoint)
{
    if (!lpPoint)
        return FALSE;
    if (g_source) {
        *lpPoint = g_source();
        return TRUE;
    }
    POINT p;
    if (QGuiApplication::instance()) {
        const QPoint q = QCursor::pos();
        p.x = q.x();
        p.y = q.y();
    }
    *lpPoint = p;
    return TRUE;
}

namespace platform {
void SetCursorPosSource(std::function<POINT()> source)
{
    g_source = std::move(source);
}
} // namespace platform
