#include "platform/StyleEngine.h"

#include "platform/Boxes.h"
#include "platform/Exceptions.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>

Q_LOGGING_CATEGORY(lcStyleEngine, "quillora.styles.engine", QtWarningMsg)

namespace platform {
namespace {

const QString kPlainLook = QStringLiteral("Windows");
const QString kNamedLookStyle = QStringLiteral("Fusion");

struct EngineState {
    std::vector<StyleEngine::Look> looks;
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

bool isPlain(const QString &name)
{
    return name.compare(kPlainLook, Qt::CaseInsensitive) == 0;
}

const StyleEngine::Look *findLook(const QString &name)
{
    for (const auto &look : state().looks)
        if (name.compare(look.name, Qt::CaseInsensitive) == 0)
            return &look;
    return nullptr;
}

// The widget style and palette the application started with, taken once,
// before the first look replaces them.
void capturePlainLook()
{
    auto &s = state();
    if (s.captured || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    s.captured = true;
    s.plainStyleName = QApplication::style() ? QApplication::style()->name() : QString();
    s.plainPalette = QApplication::palette();
}

// A widget style that draws with a look's colours.  The colours reach the
// application as the style's own palette, polished into the palette Qt
// derives, and not through QApplication::setPalette: a palette set there
// keeps the mask of its roles, and then every widget created later gets a
// palette copy with a key of its own.  The widget styles cache pixmaps
// under that key, so each new window (the scanner's dialog at every scan)
// left cache entries behind that were never found again.
class LookStyle : public QProxyStyle {
public:
    LookStyle(QStyle *base, const QPalette &palette) : QProxyStyle(base), palette_(palette)
    {
        palette_.setResolveMask(0);
    }

    QPalette standardPalette() const override { return palette_; }
    void polish(QPalette &palette) override { palette = palette_; }
    using QProxyStyle::polish;

private:
    QPalette palette_;
};

void applyLook(const QString &styleName, const QPalette &palette)
{
    QStyle *base = QStyleFactory::create(styleName);
    if (!base)
        base = QStyleFactory::create(kNamedLookStyle);
    if (base)
        QApplication::setStyle(new LookStyle(base, palette));
}

} // namespace

void StyleEngine::InstallLooks(std::vector<Look> looks)
{
    state().looks = std::move(looks);
}

QStringList StyleEngine::StyleNames()
{
    QStringList names{kPlainLook};
    for (const auto &look : state().looks)
        if (!isPlain(look.name))
            names << look.name;
    return names;
}

bool StyleEngine::IsStyleName(const QString &name)
{
    return isPlain(name) || findLook(name) != nullptr;
}

QPalette StyleEngine::PaletteFor(const QString &name)
{
    if (const Look *look = findLook(name))
        return look->palette;
    if (const Look *plain = findLook(kPlainLook))
        return plain->palette;
    capturePlainLook();
    return state().plainPalette;
}

void StyleEngine::SetStyle(const QString &name)
{
    const bool plain = isPlain(name);
    const Look *look = findLook(name);
    if (!plain && !look) {
        qCDebug(lcStyleEngine) << "unknown style" << name;
        throw Exception(QStringLiteral("Stil '%1' nicht gefunden").arg(name));
    }

    capturePlainLook();
    auto &s = state();
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        const QString widgetStyle =
            plain ? (s.plainStyleName.isEmpty() ? kNamedLookStyle : s.plainStyleName) : kNamedLookStyle;
        applyLook(widgetStyle, look ? look->palette : s.plainPalette);
    }
    s.active = plain ? kPlainLook : look->name;
    qCDebug(lcStyleEngine) << "style activated:" << s.active;
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
