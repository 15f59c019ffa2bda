#pragma once

#include "platform/Messages.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace testing_support {

// Test double of the timer clock: a clock that moves only when the test
// says so.  Installed while the double lives.
class ManualTimerService : public platform::TimerService {
public:
    ManualTimerService();
    ~ManualTimerService() override;

    void Arm(platform::Timer &timer) override;
    void Disarm(platform::Timer &timer) override;

    // Moves the clock forward; every armed timer fires once for each whole
    // interval it passes, in time order.
    void Advance(UINT ms);
    std::uint64_t Now() const { return now_; }
    std::size_t ArmedCount() const;
    bool IsArmed(const platform::Timer &timer) const;

private:
    std::uint64_t now_ = 0;
    struct State;
    std::unique_ptr<State> state_;
    platform::ScopedService<platform::TimerService> use_{*this};
};

} // namespace testing_support
