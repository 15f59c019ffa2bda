// The program's visual styles: one row per style with its base colours,
// its kind and its hue family, and the palette each row gives.
#pragma once

#include "styles/Contrast.h"

#include <QPalette>
#include <QRgb>

#include <span>

namespace Farben {

enum class StyleKind { Light, Dark };

struct StyleRow {
    const char *name;
    StyleKind kind;
    // The family of the style's accent (selection) colour; Neutral: the
    // name suggests no colour, and the window face is a grey.
    HueFamily family;
    QRgb window; // window and button face
    QRgb base;   // background of lists and edit fields
    QRgb text;   // text on all three
    QRgb accent; // selection
};

// The 40 styles: the 39 named looks and "Windows", the platform's plain look.
std::span<const StyleRow> StyleRows();
const StyleRow *FindStyleRow(const QString &name);

// The palette of a row.  Text keeps a contrast of at least 4.5:1 on its
// background in every enabled role; disabled text keeps at least 3:1 and a
// disabled edit field has a background of its own.
QPalette BuildPalette(const StyleRow &row);

// Gives the platform's style engine the looks of every row.  Runs before
// the first style is activated; running it again changes nothing.
void InstallStyles();

} // namespace Farben
