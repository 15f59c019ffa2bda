// The desktop as the windows see it: the mouse cursor position and the work
// area (the screen without task bars and panels) of the monitor under a point.
// Both come from a replaceable service so tests can fix them.
#pragma once

#include "platform/WinTypes.h"

namespace platform {

class DesktopService {
public:
    virtual ~DesktopService() = default;
    virtual POINT CursorPos() = 0;
    // The work area of the monitor that contains |pt|, or of the nearest one.
    virtual RECT WorkAreaNearest(POINT pt) = 0;
};

// Installs |service| (null: the real one); returns the previous one (null
// when it was the real one).
DesktopService *SetDesktopService(DesktopService *service);
DesktopService &Desktop();

// Test double: a fixed cursor and a list of monitors' work areas.
class FakeDesktop : public DesktopService {
public:
    POINT cursor{};
    RECT workArea{0, 0, 1920, 1040};
    int cursorQueries = 0;
    int workAreaQueries = 0;
    POINT lastWorkAreaPoint{};

    POINT CursorPos() override
    {
        ++cursorQueries;
        return cursor;
    }
    RECT WorkAreaNearest(POINT pt) override
    {
        ++workAreaQueries;
        lastWorkAreaPoint = pt;
        return workArea;
    }
};

} // namespace platform
