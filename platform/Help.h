// The help viewer: shows the program's help file at a context number and
// closes the help windows the program opened.  Tests install a recording
// double (tests/support/ScriptedHelp.h).
#pragma once

#include "platform/Service.h"

#include <QString>

namespace platform {

class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // Shows |file| at topic |context|; false when the viewer could not.
    virtual bool ShowContext(const QString &file, int context) = 0;
    // Closes every help window the program opened.
    virtual void Quit() = 0;

    static HelpViewer &instance() { return Service<HelpViewer>::get(); }
};

// Opens the help file with the desktop's handler for its type.
class DesktopHelpViewer : public HelpViewer {
public:
    bool ShowContext(const QString &file, int context) override;
    void Quit() override;
};

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::HelpViewer)
