#include "styles/StyleTable.h"

#include "platform/StyleEngine.h"

#include <array>

namespace Farben {
namespace {

using K = StyleKind;
using H = HueFamily;

// clang-format off
constexpr std::array<StyleRow, 40> kRows{{
    //  name                   kind      family      window    base      text      accent
    {"Amakrits",              K::Dark,  H::Neutral, 0x2d3035, 0x1f2125, 0xeeeeee, 0xe07b2a},
    {"Amethyst Kamri",        K::Light, H::Violet,  0xe6dff0, 0xfbf9fd, 0x1e1428, 0x7a4bb0},
    {"Aqua Graphite",         K::Dark,  H::Blue,    0x383c42, 0x25282c, 0xecf0f3, 0x2f9fd8},
    {"Aqua Light Slate",      K::Light, H::Blue,    0xdde5ec, 0xffffff, 0x14202b, 0x2f86c6},
    {"Auric",                 K::Dark,  H::Gold,    0x302a1e, 0x221e15, 0xf3ead6, 0xd8a81c},
    {"Carbon",                K::Dark,  H::Neutral, 0x2b2b2b, 0x1c1c1c, 0xe9e9e9, 0x5a8fd0},
    {"Charcoal Dark Slate",   K::Dark,  H::Neutral, 0x323840, 0x23282e, 0xe6eaee, 0x7896b4},
    {"Cobalt XEMedia",        K::Dark,  H::Blue,    0x1d2b47, 0x141e33, 0xe8eef8, 0x3d7fe6},
    {"Cyan Dusk",             K::Dark,  H::Cyan,    0x25414a, 0x1a2f36, 0xe6f4f6, 0x1fb5c8},
    {"Cyan Night",            K::Dark,  H::Cyan,    0x182a31, 0x101d22, 0xdff2f5, 0x17a9bb},
    {"Emerald Light Slate",   K::Light, H::Green,   0xdbe6e0, 0xffffff, 0x13251b, 0x25935c},
    {"Glossy",                K::Dark,  H::Neutral, 0x36393d, 0x26282b, 0xf0f0f0, 0x4f9be0},
    {"Glow",                  K::Dark,  H::Neutral, 0x242629, 0x18191b, 0xeeeeee, 0xf09a2a},
    {"Golden Graphite",       K::Dark,  H::Gold,    0x3a3934, 0x2a2925, 0xf2efe4, 0xcfa23a},
    {"Iceberg Classico",      K::Light, H::Blue,    0xe3edf4, 0xffffff, 0x14212c, 0x4a8fcc},
    {"Lavender Classico",     K::Light, H::Violet,  0xe9e4f2, 0xfdfcff, 0x211a2e, 0x8466b8},
    {"Light",                 K::Light, H::Neutral, 0xf2f2f2, 0xffffff, 0x1a1a1a, 0x3b88d8},
    {"Luna",                  K::Light, H::Neutral, 0xece9d8, 0xffffff, 0x101010, 0x316ac5},
    {"Metropolis UI Black",   K::Dark,  H::Neutral, 0x1b1b1b, 0x101010, 0xf2f2f2, 0x2b8ad6},
    {"Metropolis UI Blue",    K::Dark,  H::Blue,    0x1c3557, 0x13263f, 0xeef4fb, 0x38a2ea},
    {"Metropolis UI Dark",    K::Dark,  H::Neutral, 0x2d2d30, 0x1e1e1e, 0xf1f1f1, 0x1c86d0},
    {"Metropolis UI Green",   K::Dark,  H::Green,   0x1c3a2a, 0x132a1e, 0xeaf6ef, 0x3bb873},
    {"Obsidian",              K::Dark,  H::Neutral, 0x1e2226, 0x14171a, 0xe4e8ec, 0x5f82a3},
    {"Onyx Blue",             K::Dark,  H::Blue,    0x21262d, 0x171b20, 0xe8edf3, 0x3a8de8},
    {"Ruby Graphite",         K::Dark,  H::Red,     0x3a3435, 0x2a2526, 0xf3eced, 0xc8323c},
    {"Sapphire Kamri",        K::Light, H::Blue,    0xd4ddeb, 0xfbfcfe, 0x111c2e, 0x2a5aa8},
    {"Silver",                K::Light, H::Neutral, 0xe4e4e4, 0xffffff, 0x1a1a1a, 0x7790b0},
    {"Sky",                   K::Light, H::Blue,    0xdbeaf7, 0xffffff, 0x0f2236, 0x2d8ee8},
    {"Slate Classico",        K::Light, H::Neutral, 0xd5dae0, 0xfafbfc, 0x1a2129, 0x52697f},
    {"Smokey Quartz Kamri",   K::Light, H::Neutral, 0xdad2ca, 0xfcfaf8, 0x2a211b, 0x8a6a52},
    {"Tablet Light",          K::Light, H::Neutral, 0xf7f7f7, 0xffffff, 0x202020, 0x0a74cf},
    {"TabletDark",            K::Dark,  H::Neutral, 0x252526, 0x1a1a1b, 0xf0f0f0, 0x0a74cf},
    {"Turquoise Gray",        K::Light, H::Cyan,    0xdde3e3, 0xffffff, 0x18262a, 0x17a39b},
    {"Windows10",             K::Light, H::Neutral, 0xf0f0f0, 0xffffff, 0x000000, 0x0078d7},
    {"Windows10 Blue",        K::Light, H::Blue,    0xd9e6f5, 0xffffff, 0x0d1b2e, 0x1c5fb5},
    {"Windows10 Dark",        K::Dark,  H::Neutral, 0x2b2b2b, 0x1f1f1f, 0xf2f2f2, 0x0078d7},
    {"Windows10 Green",       K::Light, H::Green,   0xdcefe1, 0xffffff, 0x10261a, 0x2a8a50},
    {"Windows10 Purple",      K::Light, H::Violet,  0xe6ddf2, 0xffffff, 0x1f1430, 0x6b3fa3},
    {"Windows10 SlateGray",   K::Light, H::Neutral, 0xd8dde3, 0xfbfcfd, 0x161d25, 0x5d7186},
    {"Windows",               K::Light, H::Neutral, 0xefefef, 0xffffff, 0x000000, 0x308cc6},
}};
// clang-format on

// Contrast the palette gives disabled text: legible, and clearly fainter
// than enabled text (which has at least 4.5:1).
constexpr double kDisabledContrast = 3.0;
// Contrast of selected text on the selection colour.
constexpr double kSelectionContrast = 4.6;
// How far a disabled edit field's background stands off the enabled one.
constexpr double kDisabledBaseStep = 1.2;

} // namespace

std::span<const StyleRow> StyleRows()
{
    return kRows;
}

const StyleRow *FindStyleRow(const QString &name)
{
    for (const StyleRow &row : kRows)
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return &row;
    return nullptr;
}

QPalette BuildPalette(const StyleRow &row)
{
    const bool dark = row.kind == StyleKind::Dark;
    const QColor white(Qt::white), black(Qt::black);
    const QColor window(row.window), base(row.base), text(row.text), accent(row.accent);
    const QColor button = dark ? Mix(window, white, 0.08) : Mix(window, white, 0.35);

    // Selection: white text where the accent allows it, else black; the
    // accent is darkened or lightened (keeping its hue) until it reads.
    const QColor selectedText = ContrastRatio(white, accent) >= 3.0 ? white : black;
    const QColor selection = Separate(accent, selectedText, kSelectionContrast);

    QPalette p;
    auto all = [&p](QPalette::ColorRole role, const QColor &c) { p.setColor(role, c); };
    all(QPalette::Window, window);
    all(QPalette::WindowText, text);
    all(QPalette::Base, base);
    all(QPalette::AlternateBase, Mix(base, window, 0.5));
    all(QPalette::Text, text);
    all(QPalette::Button, button);
    all(QPalette::ButtonText, text);
    all(QPalette::BrightText, dark ? white : QColor(0xc0, 0, 0));
    all(QPalette::Highlight, selection);
    all(QPalette::HighlightedText, selectedText);
    all(QPalette::Link, Separate(accent, base, 4.5));
    all(QPalette::LinkVisited, Separate(Mix(accent, text, 0.3), base, 4.5));
    all(QPalette::ToolTipBase, dark ? button : QColor(0xff, 0xff, 0xe1));
    all(QPalette::ToolTipText, dark ? text : black);
    all(QPalette::Light, Mix(button, white, 0.5));
    all(QPalette::Midlight, Mix(button, white, 0.25));
    all(QPalette::Mid, Mix(button, black, 0.2));
    all(QPalette::Dark, Mix(button, black, 0.4));
    all(QPalette::Shadow, Mix(button, black, 0.7));

    // Disabled controls: fainter text on every background, an edit field or
    // list that no longer looks like one that takes input, a muted selection.
    const QColor disabledBase = Separate(window, base, kDisabledBaseStep);
    const QColor disabledText = DimTowards(text, disabledBase, kDisabledContrast);
    const QColor disabledSelection = Separate(Mix(selection, disabledBase, 0.5), selectedText, kDisabledContrast);
    p.setColor(QPalette::Disabled, QPalette::Base, disabledBase);
    p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, DimTowards(text, window, kDisabledContrast));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, DimTowards(text, button, kDisabledContrast));
    p.setColor(QPalette::Disabled, QPalette::Highlight, disabledSelection);
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, selectedText);
    p.setColor(QPalette::Disabled, QPalette::Link, DimTowards(p.color(QPalette::Link), disabledBase, kDisabledContrast));
    p.setColor(QPalette::PlaceholderText, DimTowards(text, base, kDisabledContrast));
    p.setColor(QPalette::Disabled, QPalette::PlaceholderText, disabledText);
    return p;
}

void InstallStyles()
{
    std::vector<platform::StyleEngine::Look> looks;
    looks.reserve(kRows.size());
    for (const StyleRow &row : kRows)
        looks.push_back({QString::fromLatin1(row.name), BuildPalette(row)});
    platform::StyleEngine::InstallLooks(std::move(looks));
}

} // namespace Farben
