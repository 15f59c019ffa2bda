// The help viewer: shows the program's compiled help file (CHM) at a
// context number and closes the help windows the program opened.  Tests
// install a recording double (tests/support/ScriptedHelp.h).
#pragma once

#include "platform/Service.h"
#include "platform/WinTypes.h"

#include <QPointer>
#include <QString>
#include <QWidget>

namespace platform {

// Help commands of the application object.
constexpr UINT HELP_CONTEXT = 0x0001;
constexpr UINT HELP_QUIT = 0x0002;

class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // Shows |file| at the topic mapped to |context|; false when the viewer
    // could not show the file.
    virtual bool ShowContext(const QString &file, int context) = 0;
    // Closes every help window the program opened.
    virtual void Quit() = 0;

    // The viewer in use: the real one unless a test installed another.
    static HelpViewer &instance() { return Service<HelpViewer>::get(); }
};

class HelpWindow;

// The program's own viewer: a help window inside the program that reads the
// CHM file.  A help file that cannot be opened is reported in the plain
// message box; a context the file does not map shows its start page.
class ChmHelpViewer : public HelpViewer {
public:
    ~ChmHelpViewer() override;
    bool ShowContext(const QString &file, int context) override;
    void Quit() override;

    // The help window, while one is open.
    HelpWindow *Window() const;

private:
    QPointer<QWidget> window_;
};

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::HelpViewer)
