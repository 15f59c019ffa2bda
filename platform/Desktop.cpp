#include "platform/Desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <climits>

namespace platform {
namespace {

class RealDesktop : public DesktopService {
public:
    POINT CursorPos() override
    {
        POINT p;
        if (!QGuiApplication::instance())
            return p;
        const QPoint q = QCursor::pos();
        p.x = q.x();
        p.y = q.y();
        return p;
    }

    RECT WorkAreaNearest(POINT pt) override
    {
        RECT r;
        if (!QGuiApplication::instance())
            return r;
        const QPoint q(pt.x, pt.y);
        QScreen *best = QGuiApplication::screenAt(q);
        if (!best) {
            // Nearest monitor: the one whose geometry is closest to the point.
            long long bestDist = LLONG_MAX;
            for (QScreen *s : QGuiApplication::screens()) {
                const QRect g = s->geometry();
                const long long dx = q.x() < g.left() ? g.left() - q.x() : (q.x() > g.right() ? q.x() - g.right() : 0);
                const long long dy = q.y() < g.top() ? g.top() - q.y() : (q.y() > g.bottom() ? q.y() - g.bottom() : 0);
                const long long d = dx * dx + dy * dy;
                if (d < bestDist) {
                    bestDist = d;
                    best = s;
                }
            }
        }
        if (!best)
            best = QGuiApplication::primaryScreen();
        if (!best)
            return r;
        const QRect a = best->availableGeometry();
        r.left = a.left();
        r.top = a.top();
        r.right = a.left() + a.width();
        r.bottom = a.top() + a.height();
        return r;
    }
};

} // namespace

DesktopService &Desktop()
{
    return Service<DesktopService>::get();
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::DesktopService, platform::RealDesktop)
