#include "app/Startup.h"

#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/StyleEngine.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

namespace Startup {

TForm1 *CreateProgram()
{
    // 1. The program directory, before any window exists.
    Unit1::lpf = platform::ProgramDirectory();

    // 2. The application object; the main window will own the taskbar button.
    auto &app = platform::Application::instance();
    app.SetTitle(QStringLiteral("Quillora"));
    QApplication::setApplicationName(QStringLiteral("Quillora"));

    // 3. The start-up look; a failure is shown and start-up goes on.
    platform::StyleEngine::TrySetStyle(QStringLiteral("Aqua Light Slate"));

    // 4. The windows, hidden; the main window first (its FormCreate runs
    //    before any other window exists).
    auto *form1 = new TForm1;
    Unit1::Form1 = form1;
    app.SetMainForm(form1);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        form1->setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form1->size(), screen->availableGeometry()));
    return form1;
}

} // namespace Startup
