// What the benchmark programs share: an offscreen application, boxes that
// show nothing, the processor's name for the report, and a reporter that
// keeps each benchmark's time for the ratios printed at the end.
#pragma once

#include "platform/Boxes.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace bench {

// Boxes that show nothing; a confirmation gets |confirm|.
class SilentBoxes : public platform::Boxes {
public:
    explicit SilentBoxes(bool confirm = false) : confirm_(confirm) {}
    void ShowMessage(const QString &, const QString &) override {}
    void Information(const QString &) override {}
    bool Confirm(const QString &) override { return confirm_; }
    void ShowError(const QString &) override {}

private:
    bool confirm_;
};

// The process's application, made on first use, without a display unless
// QT_QPA_PLATFORM names a platform.
inline QApplication &OffscreenApplication()
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bench";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// The processor's model name as the kernel reports it.
inline std::string ProcessorName()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown processor";
}

// This program's own file, to start it again as a child.
inline std::string SelfPath()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return std::string(buf, n > 0 ? std::size_t(n) : 0);
}

// The console report, keeping each benchmark's adjusted real time by its
// function name (without arguments such as "/iterations:2").
class TimeKeepingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> time;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration)
                time[r.run_name.function_name] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace bench
