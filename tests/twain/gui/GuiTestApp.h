// The Qt application object of this test process (offscreen platform).
#pragma once

#include <QApplication>

inline QApplication &TwainGuiTestApp()
{
    static int argc = 1;
    static char name[] = "test_twaingui";
    static char *argv[] = {name, nullptr};
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        return *app;
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                      : qgetenv("QT_QPA_PLATFORM"));
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}
