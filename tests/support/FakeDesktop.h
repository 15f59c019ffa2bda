#pragma once

#include "platform/Desktop.h"

namespace testing_support {

// Test double of the desktop: a fixed cursor and one work area for every
// point.  Installed while the double lives.
class FakeDesktop : public platform::DesktopService {
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

private:
    platform::ScopedService<platform::DesktopService> use_{*this};
};

} // namespace testing_support
