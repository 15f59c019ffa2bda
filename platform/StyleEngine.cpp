#include "platform/StyleEngine.h"

#include "platform/Boxes.h"
#include "platform/Exceptions.h"

#include <QApplication>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>

#include <array>

namespace platform {
namespace {

struct StyleLook {
    const char *name;
    QRgb window;    // window and button face
    QRgb highlight; // selection
    bool dark;
};

// The built-in looks, in the engine's order.
constexpr std::array<StyleLook, 39> kLooks{{
    {"Amakrits", 0x2b3a42, 0xd97b29, true},
    {"Amethyst Kamri", 0xd9d0e6, 0x7b4fa8, false},
    {"Aqua Graphite", 0x3c4147, 0x2e9cca, true},
    {"Aqua Light Slate", 0xdfe6ec, 0x3a8fc4, false},
    {"Auric", 0x3a3326, 0xd9a514, true},
    {"Carbon", 0x2c2c2c, 0x4f8fd6, true},
    {"Charcoal Dark Slate", 0x33383d, 0x6d8aa6, true},
    {"Cobalt XEMedia", 0x1f2d4a, 0x3f7fe0, true},
    {"Cyan Dusk", 0x24414a, 0x19b3c9, true},
    {"Cyan Night", 0x1a2a30, 0x16a6b8, true},
    {"Emerald Light Slate", 0xdce6e1, 0x2e9a63, false},
    {"Glossy", 0x35393d, 0x5aa0e6, true},
    {"Glow", 0x26282b, 0xf0a030, true},
    {"Golden Graphite", 0x3b3a36, 0xc9a440, true},
    {"Iceberg Classico", 0xe4edf3, 0x5b9bd5, false},
    {"Lavender Classico", 0xe8e3f0, 0x8a6fb8, false},
    {"Light", 0xf3f3f3, 0x3d8ee0, false},
    {"Luna", 0xece9d8, 0x316ac5, false},
    {"Metropolis UI Black", 0x1e1e1e, 0x2a8ad4, true},
    {"Metropolis UI Blue", 0x1f3a5f, 0x36a3e8, true},
    {"Metropolis UI Dark", 0x2d2d30, 0x007acc, true},
    {"Metropolis UI Green", 0x1e3b2c, 0x3cb371, true},
    {"Obsidian", 0x1f2326, 0x5c7c99, true},
    {"Onyx Blue", 0x22272e, 0x3b8eea, true},
    {"Ruby Graphite", 0x3a3435, 0xc0392b, true},
    {"Sapphire Kamri", 0xd3dcea, 0x2f5fa8, false},
    {"Silver", 0xe6e6e6, 0x8096b3, false},
    {"Sky", 0xdcebf7, 0x3399ff, false},
    {"Slate Classico", 0xd6dbe0, 0x566f87, false},
    {"Smokey Quartz Kamri", 0xdad3cc, 0x8c6f5a, false},
    {"Tablet Light", 0xf7f7f7, 0x0078d7, false},
    {"TabletDark", 0x262626, 0x0078d7, true},
    {"Turquoise Gray", 0xdde3e3, 0x1fa7a0, false},
    {"Windows10", 0xf0f0f0, 0x0078d7, false},
    {"Windows10 Blue", 0xdbe7f5, 0x1f5fb3, false},
    {"Windows10 Dark", 0x2b2b2b, 0x0078d7, true},
    {"Windows10 Green", 0xdcefe0, 0x2e8b57, false},
    {"Windows10 Purple", 0xe7def2, 0x6a3fa0, false},
    {"Windows10 SlateGray", 0xd9dee3, 0x5f7387, false},
}};

const QString kPlainLook = QStringLiteral("Windows");

struct EngineState {
    QString active = kPlainLook;
    bool captured = false;
    QString plainStyleName;
    QPalette plainPalette;
};

EngineState &state()
{
    static EngineState s;
    return s;
}

const StyleLook *findLook(const QString &name)
{
    for (const auto &look : kLooks)
        if (name.compare(QLatin1String(look.name), Qt::CaseInsensitive) == 0)
            return &look;
    return nullptr;
}

QPalette makePalette(const StyleLook &look)
{
    const QColor window(look.window);
    const QColor highlight(look.highlight);
    const QColor text = look.dark ? QColor(0xe8, 0xe8, 0xe8) : QColor(0x10, 0x10, 0x10);
    const QColor base = look.dark ? window.darker(125) : QColor(0xff, 0xff, 0xff);
    const QColor button = look.dark ? window.lighter(125) : window.lighter(104);
    const QColor disabled = look.dark ? QColor(0x80, 0x80, 0x80) : QColor(0x90, 0x90, 0x90);

    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, look.dark ? base.lighter(115) : window);
    p.setColor(QPalette::ToolTipBase, button);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, highlight);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, button.lighter(150));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

void capturePlainLook()
{
    auto &s = state();
    if (s.captured || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    s.captured = true;
    s.plainStyleName = QApplication::style() ? QApplication::style()->name() : QString();
    s.plainPalette = QApplication::palette();
}

} // namespace

QStringList StyleEngine::StyleNames()
{
    QStringList names{kPlainLook};
    for (const auto &look : kLooks)
        names << QString::fromLatin1(look.name);
    return names;
}

bool StyleEngine::IsStyleName(const QString &name)
{
    return name.compare(kPlainLook, Qt::CaseInsensitive) == 0 || findLook(name) != nullptr;
}

QPalette StyleEngine::PaletteFor(const QString &name)
{
    if (const StyleLook *look = findLook(name))
        return makePalette(*look);
    capturePlainLook();
    return state().plainPalette;
}

void StyleEngine::SetStyle(const QString &name)
{
    const bool plain = name.compare(kPlainLook, Qt::CaseInsensitive) == 0;
    const StyleLook *look = plain ? nullptr : findLook(name);
    if (!plain && !look)
        throw Exception(QStringLiteral("Stil '%1' nicht gefunden").arg(name));

    capturePlainLook();
    auto &s = state();
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        if (plain) {
            if (QStyle *st = QStyleFactory::create(s.plainStyleName.isEmpty() ? QStringLiteral("Fusion") : s.plainStyleName))
                QApplication::setStyle(st);
            QApplication::setPalette(s.plainPalette);
        } else {
            if (QStyle *st = QStyleFactory::create(QStringLiteral("Fusion")))
                QApplication::setStyle(st);
            QApplication::setPalette(makePalette(*look));
        }
    }
    s.active = plain ? kPlainLook : QString::fromLatin1(look->name);
}

bool StyleEngine::TrySetStyle(const QString &name)
{
    try {
        SetStyle(name);
        return true;
    } catch (const std::exception &e) {
        Boxes::instance().ShowError(ExceptionText(e));
        return false;
    }
}

QString StyleEngine::ActiveStyle()
{
    return state().active;
}

} // namespace platform
