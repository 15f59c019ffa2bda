// Program entry: start-up, then the message loop until the main window closes.
#include "app/Startup.h"
#include "app/Unit1.h"
#include "platform/Application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char **argv)
{
    platform::GuardedApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(true);

    // Qt's own texts (file and printer dialogs, standard buttons) speak German
    // like the program, whatever the system's language; without Qt's
    // translations installed they stay English.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qt"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    TForm1 *form1 = Startup::CreateProgram();

    // 5. The message loop; the main window is shown.
    const int rc = platform::Application::instance().Run();
    Startup::DestroyProgram(form1);
    return rc;
}
