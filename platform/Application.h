// The application object: the program's title, its help file, the hidden
// window that owns the taskbar button and receives the messages of the
// TWAIN world, the main window, and termination.
#pragma once

#include "platform/WinTypes.h"

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace platform {

class Application {
public:
    static Application &instance();

    QString Title() const { return title_; }
    void SetTitle(const QString &title) { title_ = title; }

    QString HelpFile() const { return helpFile_; }
    void SetHelpFile(const QString &file) { helpFile_ = file; }

    // The hidden application window (platform::ApplicationWindow), created
    // on first use; its messages pass through the application-window hooks.
    HWND Handle();

    QWidget *MainForm() const { return mainForm_; }
    void SetMainForm(QWidget *form) { mainForm_ = form; }

    // Ends the message loop once the current handler returns.
    void Terminate();
    bool Terminated() const { return terminated_; }

    // Runs the messages that are waiting, then returns.
    void ProcessMessages();

    // Opens the help file at |context|; false when the viewer could not.
    bool HelpContext(int context);
    // A help command for the help file: HELP_CONTEXT with the context
    // number as |data|, or HELP_QUIT (closes the help windows the program
    // opened).  False for a command the viewer does not know.
    bool HelpCommand(UINT command, UINT_PTR data);

    // Shows the main window and runs the message loop until it closes.
    int Run();

    // Back to the state of a fresh start (tests).
    void Reset();

private:
    Application() = default;

    QString title_ = QStringLiteral("Quillora");
    QString helpFile_;
    QPointer<QWidget> mainForm_;
    bool terminated_ = false;
};

// The Qt application object of the program: an exception that escapes the
// handling of an event ends in the standard error box, and the program goes on.
class GuardedApplication : public QApplication {
public:
    GuardedApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Loads Qt's own German translations (Debian's Qt translation files), so
// Qt's standard dialogs and buttons speak German.  Once per process; true
// when the translations were found.
bool InstallGermanTranslations();

} // namespace platform
