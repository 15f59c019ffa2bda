// The style chooser's unit: the stored visual style.
//
// style_lesen and style_speichern work only on the style file and on
// |style|; style_lesen runs while the main window is being created, before
// any chooser window exists.
#pragma once

#include <QString>

namespace Farben {
// The current style name: read from the style file at start, empty until then.
inline QString style;
// The style file: "Styledat.txt" in the folder of the program's stored files.
QString StyleFilePath();
} // namespace Farben

class TFarbe {
public:
    // Reads the style file into |style| and activates that style (an empty
    // name gives the plain look "Windows").  Without a style file nothing
    // happens.  Throws platform::EInOutError when the file cannot be read,
    // platform::Exception when the style is unknown.
    static void style_lesen();
    // Writes |style| to the style file, without line end.  Throws
    // platform::EInOutError when the file cannot be written.
    static void style_speichern();
};
