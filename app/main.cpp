// Program start-up.
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/StyleEngine.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>

int main(int argc, char **argv)
{
    platform::GuardedApplication qtApp(argc, argv);

    // 1. The program directory, before any window exists.
    Unit1::lpf = platform::ProgramDirectory();

    // 2. The application object; the main window will own the taskbar button.
    auto &app = platform::Application::instance();
    app.SetTitle(QStringLiteral("Quillora"));
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    QApplication::setQuitOnLastWindowClosed(true);

    // 3. The start-up look; a failure is shown and start-up goes on.
    platform::StyleEngine::TrySetStyle(QStringLiteral("Aqua Light Slate"));

    // 4. The windows, hidden; the main window first.
    auto *form1 = new TForm1;
    Unit1::Form1 = form1;
    app.SetMainForm(form1);
    form1->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form1->size(),
                                           QGuiApplication::primaryScreen()->availableGeometry()));

    // 5. The message loop until the main window closes.
    const int rc = app.Run();
    delete form1;
    return rc;
}
