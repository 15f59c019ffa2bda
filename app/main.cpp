// Program entry: start-up, then the message loop until the main window closes.
#include "app/Startup.h"
#include "app/Unit1.h"
#include "platform/Application.h"

#include <QApplication>

int main(int argc, char **argv)
{
    platform::GuardedApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(true);

    TForm1 *form1 = Startup::CreateProgram();

    // 5. The message loop; the main window is shown.
    const int rc = platform::Application::instance().Run();
    Startup::DestroyProgram(form1);
    return rc;
}
