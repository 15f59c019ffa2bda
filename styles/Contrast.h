// Colour measures used to build readable palettes: WCAG 2 relative
// luminance and contrast ratio, and hue families.
#pragma once

#include <QColor>

namespace Farben {

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double RelativeLuminance(const QColor &c);
// Contrast ratio of two colours, 1 (equal luminance) to 21 (black on white).
double ContrastRatio(const QColor &a, const QColor &b);

// |from| moved a fraction |t| (0..1) of the way towards |to|.
QColor Mix(const QColor &from, const QColor &to, double t);

// |fg| moved towards |bg| until its contrast on |bg| falls to |target|;
// |fg| itself when it has no more contrast than that.
QColor DimTowards(const QColor &fg, const QColor &bg, double target);

// |c| moved away from |other| (towards black or white, keeping its hue)
// until the two reach a contrast of |target|; black or white when even
// that does not reach it.
QColor Separate(const QColor &c, const QColor &other, double target);

enum class HueFamily { Neutral, Red, Orange, Gold, Green, Cyan, Blue, Violet };
const char *HueFamilyName(HueFamily family);
// Whether |hue| (degrees, 0..359) belongs to |family|; every hue belongs
// to Neutral.
bool HueInFamily(int hue, HueFamily family);

} // namespace Farben
