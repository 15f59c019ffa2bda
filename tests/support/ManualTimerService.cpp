#include "support/ManualTimerService.h"

#include <algorithm>
#include <vector>

namespace testing_support {

struct ManualTimerService::State {
    struct Entry {
        platform::Timer *timer;
        std::uint64_t due;
        std::uint64_t order;
    };
    std::vector<Entry> armed;
    std::uint64_t nextOrder = 0;
};

ManualTimerService::ManualTimerService() : state_(std::make_unique<State>()) {}

ManualTimerService::~ManualTimerService()
{
    // Timers still armed here fall back to no service; they stay enabled but
    // never fire again.
    std::vector<State::Entry> left;
    left.swap(state_->armed);
    for (auto &e : left)
        e.timer->SetEnabled(false);
}

void ManualTimerService::Arm(platform::Timer &timer)
{
    Disarm(timer);
    std::uint64_t step = std::max<UINT>(timer.Interval(), 1);
    state_->armed.push_back(State::Entry{&timer, now_ + step, state_->nextOrder++});
}

void ManualTimerService::Disarm(platform::Timer &timer)
{
    auto &a = state_->armed;
    a.erase(std::remove_if(a.begin(), a.end(), [&](const State::Entry &e) { return e.timer == &timer; }), a.end());
}

void ManualTimerService::Advance(UINT ms)
{
    const std::uint64_t target = now_ + ms;
    for (;;) {
        auto &a = state_->armed;
        auto next = a.end();
        for (auto it = a.begin(); it != a.end(); ++it) {
            if (it->due > target)
                continue;
            if (next == a.end() || it->due < next->due || (it->due == next->due && it->order < next->order))
                next = it;
        }
        if (next == a.end())
            break;
        now_ = next->due;
        next->due += std::max<UINT>(next->timer->Interval(), 1);
        next->order = state_->nextOrder++;
        platform::Timer *t = next->timer;
        t->Fire(); // may arm, disarm or destroy timers
    }
    now_ = target;
}

std::size_t ManualTimerService::ArmedCount() const
{
    return state_->armed.size();
}

bool ManualTimerService::IsArmed(const platform::Timer &timer) const
{
    for (const auto &e : state_->armed)
        if (e.timer == &timer)
            return true;
    return false;
}

} // namespace testing_support
