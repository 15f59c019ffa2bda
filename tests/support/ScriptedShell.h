// Test doubles of the shell and of the desktop opener: record each request
// and answer what the test scripted.
#pragma once

#include "platform/Shell.h"

#include <vector>

namespace testing_support {

struct ShellRequest {
    HWND owner;
    QString verb, file, parameters, directory;
    INT showCommand;
};

class ScriptedShell : public platform::ShellService {
public:
    INT Execute(HWND owner, const QString &verb, const QString &file, const QString &parameters,
                const QString &directory, INT showCommand) override
    {
        requests.push_back({owner, verb, file, parameters, directory, showCommand});
        return result;
    }

    std::vector<ShellRequest> requests;
    INT result = platform::SHELL_SUCCESS;

private:
    platform::ScopedService<platform::ShellService> use_{*this};
};

class ScriptedDesktop : public platform::DesktopOpener {
public:
    bool Open(const QUrl &url) override
    {
        opened.push_back(url);
        return answer;
    }

    std::vector<QUrl> opened;
    bool answer = true;

private:
    platform::ScopedService<platform::DesktopOpener> use_{*this};
};

} // namespace testing_support
