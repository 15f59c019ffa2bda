// Test double of the screen measures: 17-pixel scroll bars and 96 pixels
// per inch unless a test says otherwise.
#pragma once

#include "platform/SystemMetrics.h"

namespace testing_support {

class FixedSystemMetrics : public platform::SystemMetricsService {
public:
    int scrollBar = 17;
    int dpi = 96;
    int GetSystemMetrics(int index) override
    {
        return index == platform::SM_CXVSCROLL || index == platform::SM_CYHSCROLL ? scrollBar : 0;
    }
    int ScreenDeviceCaps(int index) override
    {
        return index == platform::LOGPIXELSX || index == platform::LOGPIXELSY ? dpi : 0;
    }
};

} // namespace testing_support
