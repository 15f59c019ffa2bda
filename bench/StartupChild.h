// The child process of the start-up benchmarks: the program's start-up on
// the program directory argv[2] (with argv[3] for every other directory
// kind), then one byte on stdout once the window is shown (the digit of the
// number of scanners listed), and out without tearing anything down.
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
#include <cstdlib>

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
