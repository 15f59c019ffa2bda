// Test double of the help viewer: records each request.
#pragma once

#include "platform/Help.h"

#include <utility>
#include <vector>

namespace testing_support {

class ScriptedHelp : public platform::HelpViewer {
public:
    bool ShowContext(const QString &file, int context) override
    {
        requests.emplace_back(file, context);
        return answer;
    }
    void Quit() override { ++quits; }

    std::vector<std::pair<QString, int>> requests;
    int quits = 0;
    bool answer = true;

private:
    // Installed while the double lives; whatever was installed before comes back.
    platform::ScopedService<platform::HelpViewer> use_{*this};
};

} // namespace testing_support
