#include "styles/Contrast.h"

#include <algorithm>
#include <cmath>

namespace Farben {
namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

double RelativeLuminance(const QColor &c)
{
    const QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double ContrastRatio(const QColor &a, const QColor &b)
{
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Mix(const QColor &from, const QColor &to, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    auto channel = [t](int x, int y) { return int(std::lround(x + (y - x) * t)); };
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()), channel(a.blue(), b.blue()));
}

QColor DimTowards(const QColor &fg, const QColor &bg, double target)
{
    if (ContrastRatio(fg, bg) <= target)
        return fg;
    // Contrast falls steadily as fg approaches bg: search the step that
    // keeps at least |target|.
    double lo = 0.0, hi = 1.0;
    for (int i = 0; i < 30; ++i) {
        const double mid = (lo + hi) / 2;
        if (ContrastRatio(Mix(fg, bg, mid), bg) >= target)
            lo = mid;
        else
            hi = mid;
    }
    QColor c = Mix(fg, bg, lo);
    // Rounding to whole channel values may cost a little contrast.
    while (ContrastRatio(c, bg) < target && lo > 0) {
        lo = std::max(0.0, lo - 0.005);
        c = Mix(fg, bg, lo);
    }
    return c;
}

QColor Separate(const QColor &c, const QColor &other, double target)
{
    if (ContrastRatio(c, other) >= target)
        return c;
    // Towards black when |other| is the lighter one, else towards white.
    // Mixing with black or white keeps the hue.
    const QColor away = RelativeLuminance(other) > RelativeLuminance(c) ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 1; step <= 100; ++step) {
        const QColor moved = Mix(c, away, step / 100.0);
        if (ContrastRatio(moved, other) >= target)
            return moved;
    }
    return away;
}

const char *HueFamilyName(HueFamily family)
{
    switch (family) {
    case HueFamily::Neutral: return "neutral";
    case HueFamily::Red: return "red";
    case HueFamily::Orange: return "orange";
    case HueFamily::Gold: return "gold";
    case HueFamily::Green: return "green";
    case HueFamily::Cyan: return "cyan";
    case HueFamily::Blue: return "blue";
    case HueFamily::Violet: return "violet";
    }
    return "?";
}

bool HueInFamily(int hue, HueFamily family)
{
    hue = ((hue % 360) + 360) % 360;
    switch (family) {
    case HueFamily::Neutral: return true;
    case HueFamily::Red: return hue >= 340 || hue < 15;
    case HueFamily::Orange: return hue >= 15 && hue < 38;
    case HueFamily::Gold: return hue >= 38 && hue < 60;
    case HueFamily::Green: return hue >= 85 && hue < 165;
    case HueFamily::Cyan: return hue >= 165 && hue < 195;
    case HueFamily::Blue: return hue >= 195 && hue < 250;
    case HueFamily::Violet: return hue >= 250 && hue < 320;
    }
    return false;
}

} // namespace Farben
