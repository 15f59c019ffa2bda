// The cursor position on the screen, in screen coordinates.
#pragma once

#include "platform/WinTypes.h"

#include <functional>

// Writes the cursor position into *lpPoint; FALSE when lpPoint is null.
BOOL GetCursorPos(POINT *lpPoint);

namespace platform {
// Tests replace the position source; an empty function restores the real one.
void SetCursorPosSource(std::function<POINT()> source);
} // namespace platform
