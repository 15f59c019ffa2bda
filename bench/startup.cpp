// Start-up of the program to its shown main window with the Data Source
// Manager of this build and three test sources, against the same start-up
// with no manager at all, measured alternately in one run.
//
//  BM_ProgramStartUp      a fresh process each time (this program started
//                         again in a child mode that runs the program's own
//                         start-up: application object, start-up steps 1 to
//                         4, the window shown and its first events handled),
//                         timed from the start of the process to the shown
//                         window.  This is the start-up a person waits for.
//  BM_WindowStartUp       the same steps inside one running process (the
//                         application object and Qt's own start-up not
//                         counted), so the manager's share shows larger.
//
// Counters: with_ms (the manager and three sources), without_ms (no
// manager: the "Twain is not installed." path, with silent boxes), ratio
// (with_ms / without_ms; the goal for the program's start-up: at most 1.2).
// The processor is named in the context ("cpu").
#include "app/Startup.h"
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Boxes.h"
#include "platform/Directories.h"
#include "platform/Files.h"
#include "support/FixedDirectories.h"
#include "support/TestSourceScript.h"
#include "twaindirect/Scanners.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"
#include "StartupChild.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

// A program directory, with or without the manager, and the directory kinds
// of the acquisition library's search pointed at it or at an empty folder.
class Layout {
public:
    explicit Layout(bool withManager)
    {
        if (withManager)
            QFile::link(testsupport::ManagerFile(), program_.path() + QStringLiteral("/TWAIN_32.DLL"));
    }

    // Installs the directories for one start-up.
    std::unique_ptr<testing_support::FixedDirectories> Use() const
    {
        auto dirs = std::make_unique<testing_support::FixedDirectories>();
        using platform::DirectoryKind;
        for (DirectoryKind kind :
             {DirectoryKind::Windows, DirectoryKind::System, DirectoryKind::Current, DirectoryKind::Temp})
            dirs->Set(kind, empty_.path());
        dirs->Set(DirectoryKind::Application, program_.path() + QStringLiteral("/quillora"));
        dirs->SetProgramDirectory(program_.path());
        return dirs;
    }

    QString ProgramDir() const { return program_.path(); }
    QString EmptyDir() const { return empty_.path(); }

private:
    QTemporaryDir program_;
    QTemporaryDir empty_;
};

// One start-up to the shown window; returns its duration in milliseconds.
// The window is destroyed afterwards, outside the measured time.  |scanners|
// receives the number of scanners listed.
double startOnce(const Layout &layout, int &scanners)
{
    const auto dirs = layout.Use();
    Unit1::ResetState();
    Scanners::ResetState();
    platform::Application::instance().Reset();

    const auto begin = std::chrono::steady_clock::now();
    TForm1 *form = Startup::CreateProgram();
    form->show();
    QCoreApplication::processEvents();
    const auto end = std::chrono::steady_clock::now();

    scanners = form->LBSources->count();
    delete form;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return std::chrono::duration<double, std::milli>(end - begin).count();
}

void BM_WindowStartUp(benchmark::State &state)
{
    bench::OffscreenApplication();
    static bench::SilentBoxes boxes;
    static platform::ScopedService<platform::Boxes> useBoxes(boxes);

    testsupport::TestSourceFolder folder;
    for (const char *name : {"Flachbett", "Einzug", "Fotoscanner"}) {
        folder.AddObject({testsupport::ScriptedSource(name)}, QString::fromLatin1(name) + QStringLiteral(".ds"));
    }
    const Layout withManager(true);
    const Layout withoutManager(false);

    // Warm-up: the settings files of both layouts exist, the libraries have
    // been read once.
    int listedWith = 0;
    int listedWithout = 0;
    startOnce(withManager, listedWith);
    startOnce(withoutManager, listedWithout);
    if (listedWith != 3 || listedWithout != 0) {
        state.SkipWithError("the scanner list is not as laid out");
        return;
    }

    double with = 0;
    double without = 0;
    long n = 0;
    for (auto _ : state) {
        // Alternate the order, so a drift of the machine hits both alike.
        double a = 0;
        double b = 0;
        if (n % 2 == 0) {
            a = startOnce(withManager, listedWith);
            b = startOnce(withoutManager, listedWithout);
        } else {
            b = startOnce(withoutManager, listedWithout);
            a = startOnce(withManager, listedWith);
        }
        with += a;
        without += b;
        ++n;
        state.SetIterationTime((a + b) / 1000.0);
    }
    if (n > 0 && without > 0) {
        state.counters["with_ms"] = with / double(n);
        state.counters["without_ms"] = without / double(n);
        state.counters["ratio"] = with / without;
    }
}


// ---- a fresh process per start-up -------------------------------------------

constexpr char kChildFlag[] = "--start-up-child";

int childMain(int argc, char **argv)
{
    bench::SilentBoxes boxes;
    runStartUpChild(argc, argv, boxes);
}

// Starts this program as a child on |programDir|; milliseconds from the
// start to the shown window, or a negative number when the child failed or
// did not list |scanners| scanners.
double spawnOnce(const std::string &self, const QByteArray &programDir, const QByteArray &emptyDir, int scanners)
{
    int listed = -1;
    const double ms = SpawnStartUpChild(self, kChildFlag, programDir, emptyDir, listed);
    return listed == scanners ? ms : -1;
}

void BM_ProgramStartUp(benchmark::State &state)
{
    bench::OffscreenApplication();
    static const std::string self = bench::SelfPath();
    testsupport::TestSourceFolder folder; // inherited by the children
    for (const char *name : {"Flachbett", "Einzug", "Fotoscanner"})
        folder.AddObject({testsupport::ScriptedSource(name)}, QString::fromLatin1(name) + QStringLiteral(".ds"));
    const Layout withManager(true);
    const Layout withoutManager(false);
    const QByteArray empty = QFile::encodeName(withManager.EmptyDir());

    const auto once = [&](const Layout &layout) {
        return spawnOnce(self, QFile::encodeName(layout.ProgramDir()), empty, &layout == &withManager ? 3 : 0);
    };
    if (once(withManager) < 0 || once(withoutManager) < 0) {
        state.SkipWithError("the child program did not show its window");
        return;
    }
    double with = 0;
    double without = 0;
    long n = 0;
    for (auto _ : state) {
        double a = 0;
        double b = 0;
        if (n % 2 == 0) {
            a = once(withManager);
            b = once(withoutManager);
        } else {
            b = once(withoutManager);
            a = once(withManager);
        }
        if (a < 0 || b < 0) {
            state.SkipWithError("the child program did not show its window");
            return;
        }
        with += a;
        without += b;
        ++n;
        state.SetIterationTime((a + b) / 1000.0);
    }
    if (n > 0 && without > 0) {
        state.counters["with_ms"] = with / double(n);
        state.counters["without_ms"] = without / double(n);
        state.counters["ratio"] = with / without;
    }
}

} // namespace

BENCHMARK(BM_ProgramStartUp)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowStartUp)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], kChildFlag) == 0)
        return childMain(argc, argv);
    benchmark::AddCustomContext("cpu", bench::ProcessorName());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
