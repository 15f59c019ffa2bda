// Measures of the screen that windows lay themselves out with: the width of
// a vertical scroll bar, the height of a horizontal one, and the screen's
// pixels per inch.  A service, so tests can fix them.
#pragma once

#include "platform/Service.h"

namespace platform {

constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;

// Indices of GetDeviceCaps, for the screen here and for printers
// (platform/Printing.h).
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;

class SystemMetricsService {
public:
    virtual ~SystemMetricsService() = default;
    // SM_CXVSCROLL and SM_CYHSCROLL in pixels; 0 for any other index.
    virtual int GetSystemMetrics(int index) = 0;
    // LOGPIXELSX and LOGPIXELSY of the screen; 0 for any other index.
    virtual int ScreenDeviceCaps(int index) = 0;
};

// The style's scroll-bar extent and the primary screen's logical resolution
// (96 where there is no screen).
class RealSystemMetrics : public SystemMetricsService {
public:
    int GetSystemMetrics(int index) override;
    int ScreenDeviceCaps(int index) override;
};

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::SystemMetricsService)

namespace platform {
inline int GetSystemMetrics(int index)
{
    return Service<SystemMetricsService>::get().GetSystemMetrics(index);
}
// GetDeviceCaps on the screen's device context.
inline int ScreenDeviceCaps(int index)
{
    return Service<SystemMetricsService>::get().ScreenDeviceCaps(index);
}
} // namespace platform
