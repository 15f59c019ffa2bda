#include "platform/Messages.h"

#include <memory>
#include <unordered_map>

namespace platform {
namespace {

struct Window {
    WindowProc proc;
};

struct Registry {
    std::unordered_map<HWND, std::shared_ptr<Window>> windows;
    std::uintptr_t next = 0x1000;
};

Registry &registry()
{
    static Registry r;
    return r;
}

} // namespace

HWND AllocateHWnd(WindowProc proc)
{
    auto &r = registry();
    r.next += 0x10;
    HWND h = reinterpret_cast<HWND>(r.next);
    r.windows.emplace(h, std::make_shared<Window>(Window{std::move(proc)}));
    return h;
}

void DeallocateHWnd(HWND wnd)
{
    registry().windows.erase(wnd);
}

bool IsWindow(HWND wnd)
{
    return wnd && registry().windows.count(wnd) != 0;
}

} // namespace platform

LRESULT SendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto &r = platform::registry();
    auto it = r.windows.find(wnd);
    if (it == r.windows.end())
        return 0;
    // Keep the window alive while its procedure runs, even if it destroys itself.
    std::shared_ptr<platform::Window> w = it->second;
    return w->proc ? w->proc(wnd, msg, wParam, lParam) : 0;
}
