// Window handles and synchronous messages.
//
// A window handle names a message target inside this process: a window
// procedure that receives messages sent to it.  Real widgets are not
// involved; the handle is what the TWAIN world passes around as "the
// window" (the application object's hidden window, a component's own
// message window).
#pragma once

#include "platform/WinTypes.h"

#include <functional>

namespace platform {

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a hidden message window whose messages go to |proc|.
HWND AllocateHWnd(WindowProc proc);
// Destroys it; later messages to the handle are dropped.  Safe while the
// window's own procedure runs.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

} // namespace platform

// Sends a message synchronously: the target's procedure runs before this
// returns.  0 for a handle that names no window.
LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
