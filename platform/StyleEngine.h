// The visual-style engine: named looks for all windows.
//
// The looks themselves are data of the styles library, which installs them
// at start-up (InstallLooks).  A look is Qt's Fusion style with a palette of
// its own; the look named "Windows" is the platform's plain look: the widget
// style the application started with, with the palette installed for that
// name (or, when none was installed, the palette the application started
// with).  "Windows" is always known.
#pragma once

#include <QPalette>
#include <QString>
#include <QStringList>

#include <vector>

namespace platform {

class StyleEngine {
public:
    struct Look {
        QString name;
        QPalette palette;
    };

    // Replaces the engine's looks by |looks|, in this order.  The active
    // look keeps its name; it is not re-applied.
    static void InstallLooks(std::vector<Look> looks);

    // The engine's style names: "Windows" first, then the installed looks
    // in their order (a look named "Windows" is not listed twice).
    static QStringList StyleNames();
    static bool IsStyleName(const QString &name);

    // Activates |name| for all windows.  Throws platform::Exception with
    // "Stil '<name>' nicht gefunden" for a name the engine does not know.
    static void SetStyle(const QString &name);
    // As SetStyle, but shows the failure in the standard error box;
    // false when the style could not be activated.
    static bool TrySetStyle(const QString &name);

    // The active style; "Windows" until another was activated.
    static QString ActiveStyle();

    // The palette a style gives; the plain palette for "Windows" and for
    // names the engine does not know.
    static QPalette PaletteFor(const QString &name);
};

} // namespace platform
