#include "support/QtApp.h"

#include <QApplication>

#include <cstdlib>

namespace testing_support {

QApplication &EnsureQtApplication()
{
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return *app;
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "quillora-tests";
    static char *argv[] = {name, nullptr};
    // Never destroyed: Qt's test devices and other statics outlive main().
    static QApplication *app = new QApplication(argc, argv);
    app->setQuitOnLastWindowClosed(false);
    return *app;
}

} // namespace testing_support
