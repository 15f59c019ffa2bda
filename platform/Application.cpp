#include "platform/Application.h"

#include <QLibraryInfo>
#include <QTranslator>

#include "platform/Boxes.h"
#include "platform/Exceptions.h"
#include "platform/Help.h"
#include "platform/Messages.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>

namespace platform {

Application &Application::instance()
{
    static Application app;
    return app;
}

HWND Application::Handle()
{
    return ApplicationWindow();
}

void Application::Terminate()
{
    terminated_ = true;
    QCoreApplication::quit();
}

void Application::ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool Application::HelpContext(int context)
{
    return HelpViewer::instance().ShowContext(helpFile_, context);
}

bool Application::HelpCommand(UINT command, UINT_PTR data)
{
    switch (command) {
    case HELP_CONTEXT:
        return HelpContext(int(data));
    case HELP_QUIT:
        HelpViewer::instance().Quit();
        return true;
    default:
        return false;
    }
}

int Application::Run()
{
    if (mainForm_)
        mainForm_->show();
    if (terminated_)
        return 0;
    return QApplication::exec();
}

void Application::Reset()
{
    title_ = QStringLiteral("Quillora");
    helpFile_.clear();
    mainForm_ = nullptr;
    terminated_ = false;
}

GuardedApplication::GuardedApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool GuardedApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        Boxes::instance().ShowError(ExceptionText(e));
    } catch (...) {
        Boxes::instance().ShowError(QStringLiteral("Unbekannter Fehler"));
    }
    return false;
}

bool InstallGermanTranslations()
{
    static bool installed = [] {
        const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        auto *translator = new QTranslator(qApp);
        if (!translator->load(QStringLiteral("qtbase_de"), folder)) {
            delete translator;
            return false;
        }
        QCoreApplication::installTranslator(translator);
        return true;
    }();
    return installed;
}

} // namespace platform
