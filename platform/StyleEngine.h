// The visual-style engine: a fixed list of named looks for all windows.
// "Windows" is the platform's plain look (the style and palette the
// application started with); every other name is Qt's Fusion style with a
// palette of its own.
#pragma once

#include <QPalette>
#include <QString>
#include <QStringList>

namespace platform {

class StyleEngine {
public:
    // The engine's style names: "Windows" followed by the built-in styles.
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

    // The palette a built-in style gives (empty name: "Windows").
    static QPalette PaletteFor(const QString &name);
};

} // namespace platform
