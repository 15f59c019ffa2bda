// The desktop as the windows see it: the mouse cursor position and the work
// area (the screen without task bars and panels) of the monitor under a point.
// Both come from a replaceable service so tests can fix them
// (tests/support/FakeDesktop.h).
#pragma once

#include "platform/Service.h"
#include "platform/WinTypes.h"

namespace platform {

class DesktopService {
public:
    virtual ~DesktopService() = default;
    virtual POINT CursorPos() = 0;
    // The work area of the monitor that contains |pt|, or of the nearest one.
    virtual RECT WorkAreaNearest(POINT pt) = 0;
};

// The desktop in use (see platform/Service.h for replacing it).
DesktopService &Desktop();

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::DesktopService)
