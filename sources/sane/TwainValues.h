// TWAIN values as this source builds and reads them: fixed-point numbers,
// capability containers, and the pixel types a device's modes give.
#pragma once

#include "twain/Twain.h"

#include "sources/sane/Options.h"

#include "platform/WinTypes.h"

#include <QString>

#include <string>
#include <vector>

namespace sane_source {

TW_FIX32 toFix32(double v);
double fromFix32(TW_FIX32 v);
// A TW_FIX32 as the 32-bit item of a container, and back.
TW_UINT32 fix32Item(double v);
double fix32FromItem(TW_UINT32 item);

// Bytes of one numeric item of |type| in a container (0 for other types).
std::size_t itemSize(TW_UINT16 type);

// New containers in movable global memory (null when memory is short).
// Items are given as 32-bit values and stored in the type's own width.
HGLOBAL makeOneValue(TW_UINT16 type, TW_UINT32 item);
HGLOBAL makeEnumeration(TW_UINT16 type, const std::vector<TW_UINT32> &items, std::size_t current, std::size_t def);
HGLOBAL makeArray(TW_UINT16 type, const std::vector<TW_UINT32> &items);

// The value an application sets: the item of a TW_ONEVALUE, the current
// item of a TW_ENUMERATION, the current value of a TW_RANGE.  Every size is
// checked against the block; false for anything that does not fit.
bool readSetValue(TW_UINT16 conType, HGLOBAL container, TW_UINT16 *itemType, TW_UINT32 *item);

// One choice of the dialog's mode list and of ICAP_PIXELTYPE: a value of
// the device's "mode" option, with the depth to set along (-1: leave it).
struct ModeChoice {
    TW_UINT16 pixelType = 0xFFFF; // 0xFFFF: no TWAIN pixel type of its own
    std::string mode;
    int depth = -1;
    QString label;
};
std::vector<ModeChoice> modeChoices(const OptionSnapshot &snap);
// The choice the device's current mode and depth make, or -1.
int currentModeChoice(const std::vector<ModeChoice> &choices, const OptionSnapshot &snap);
// The TWAIN pixel type of the current settings.
TW_UINT16 currentPixelType(const OptionSnapshot &snap);

// Paper sizes: TWSS_ code (or 0 for the whole area), German label, size in
// millimetres.
struct PaperSize {
    TW_UINT16 twss;
    const char *label;
    double width;
    double height;
};
const std::vector<PaperSize> &paperSizes();

} // namespace sane_source
