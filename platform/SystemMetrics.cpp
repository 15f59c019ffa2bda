#include "platform/SystemMetrics.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include <cmath>

namespace platform {

int RealSystemMetrics::GetSystemMetrics(int index)
{
    if (index != SM_CXVSCROLL && index != SM_CYHSCROLL)
        return 0;
    if (QStyle *style = QApplication::style())
        return style->pixelMetric(QStyle::PM_ScrollBarExtent);
    return 17;
}

int RealSystemMetrics::ScreenDeviceCaps(int index)
{
    if (index != LOGPIXELSX && index != LOGPIXELSY)
        return 0;
    if (QGuiApplication::instance()) {
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const qreal dpi = index == LOGPIXELSX ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
            if (dpi >= 1 && dpi < 10000)
                return int(std::lround(dpi));
        }
    }
    return 96;
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::SystemMetricsService, platform::RealSystemMetrics)
