// The cursor position on the screen, in screen coordinates, as the desktop
// service tells it (tests fix it with tests/support/FakeDesktop.h).
#pragma once

#include "platform/WinTypes.h"

// Writes the cursor position into *lpPoint; FALSE when lpPoint is null.
BOOL GetCursorPos(POINT *lpPoint);
