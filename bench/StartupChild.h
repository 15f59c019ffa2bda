// The child process of the start-up benchmarks: the program's start-up on
// the program directory argv[2] (with argv[3] for every other directory
// kind), then one byte on stdout once the window is shown (the digit of the
// number of scanners listed), and out without tearing anything down; and
// the parent's side, which starts such a child and times it.
#pragma once

#include "app/Startup.h"
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Boxes.h"
#include "platform/Directories.h"
#include "support/FixedDirectories.h"

#include <QCoreApplication>
#include <QListWidget>

#include <algorithm>
#include <chrono>
#include <string>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

[[noreturn]] inline void runStartUpChild(int argc, char **argv, platform::Boxes &boxes)
{
    // Without a display unless the caller chose a platform (a benchmark
    // that measures only start-ups never made its own application).
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::GuardedApplication app(argc, argv);
    platform::ScopedService<platform::Boxes> useBoxes(boxes);
    testing_support::FixedDirectories dirs;
    using platform::DirectoryKind;
    const QString program = QString::fromLocal8Bit(argv[2]);
    for (DirectoryKind kind :
         {DirectoryKind::Windows, DirectoryKind::System, DirectoryKind::Current, DirectoryKind::Temp})
        dirs.Set(kind, QString::fromLocal8Bit(argv[3]));
    dirs.Set(DirectoryKind::Application, program + QStringLiteral("/quillora"));
    dirs.SetProgramDirectory(program);

    TForm1 *form = Startup::CreateProgram();
    form->show();
    QCoreApplication::processEvents();
    const char shown = char('0' + std::min(form->LBSources->count(), 9));
    if (::write(STDOUT_FILENO, &shown, 1) != 1)
        ::_exit(2);
    ::_exit(0);
}

// Starts |self| with |flag| as a start-up child on |programDir| (every other
// directory kind |emptyDir|); milliseconds from the start to the shown
// window, or a negative number when the child failed.  |scanners| receives
// the number it listed.
inline double SpawnStartUpChild(const std::string &self, const char *flag, const QByteArray &programDir,
                                const QByteArray &emptyDir, int &scanners)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execl(self.c_str(), self.c_str(), flag, programDir.constData(), emptyDir.constData(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char byte = 0;
    const bool shown = pid > 0 && ::read(fds[0], &byte, 1) == 1;
    const auto end = std::chrono::steady_clock::now();
    ::close(fds[0]);
    int status = 0;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    if (!shown || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    scanners = byte - '0';
    return std::chrono::duration<double, std::milli>(end - begin).count();
}
