// Test double of the help viewer: records each request.
#pragma once

#include "platform/Help.h"

#include <utility>
#include <vector>

namespace testing_support {

class ScriptedHelp : public platform::HelpViewer {
public:
    ScriptedHelp() { platform::HelpViewer::install(this); }
    ~ScriptedHelp() override { platform::HelpViewer::install(nullptr); }

    bool ShowContext(const QString &file, int context) override
    {
        requests.emplace_back(file, context);
        return answer;
    }
    void Quit() override { ++quits; }

    std::vector<std::pair<QString, int>> requests;
    int quits = 0;
    bool answer = true;
};

} // namespace testing_support
