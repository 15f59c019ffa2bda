// Every style's palette is readable and matches its row in the table.
#include "platform/StyleEngine.h"
#include "styles/StyleTable.h"
#include "support/QtApp.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QSet>

#include <gtest/gtest.h>

using namespace Farben;

namespace {

struct Pair {
    const char *what;
    QPalette::ColorRole foreground;
    QPalette::ColorRole background;
};

// Text and its background in the controls the windows use.
constexpr Pair kPairs[] = {
    {"button", QPalette::ButtonText, QPalette::Button},
    {"list and edit", QPalette::Text, QPalette::Base},
    {"label", QPalette::WindowText, QPalette::Window},
    {"selected list entry", QPalette::HighlightedText, QPalette::Highlight},
};

class EveryStyle : public ::testing::TestWithParam<StyleRow> {};

std::string rowName(const ::testing::TestParamInfo<StyleRow> &info)
{
    std::string name;
    for (const char *p = info.param.name; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

TEST_P(EveryStyle, EnabledTextHasAtLeastFourAndAHalfToOne)
{
    const QPalette p = BuildPalette(GetParam());
    for (const Pair &pair : kPairs) {
        const double ratio = ContrastRatio(p.color(QPalette::Active, pair.foreground),
                                           p.color(QPalette::Active, pair.background));
        EXPECT_GE(ratio, 4.5) << pair.what;
    }
    EXPECT_GE(ContrastRatio(p.color(QPalette::Active, QPalette::Link), p.color(QPalette::Active, QPalette::Base)), 4.5)
        << "link";
}

TEST_P(EveryStyle, DisabledControlsStayLegibleAndLookDisabled)
{
    const QPalette p = BuildPalette(GetParam());
    for (const Pair &pair : kPairs) {
        const QColor fg = p.color(QPalette::Disabled, pair.foreground);
        const QColor bg = p.color(QPalette::Disabled, pair.background);
        EXPECT_GE(ContrastRatio(fg, bg), 2.5) << pair.what;
        // A clear step from the enabled look: fainter text or another background.
        const double textStep = ContrastRatio(fg, p.color(QPalette::Active, pair.foreground));
        const double backgroundStep = ContrastRatio(bg, p.color(QPalette::Active, pair.background));
        EXPECT_TRUE(textStep >= 1.5 || backgroundStep >= 1.5)
            << pair.what << ": text step " << textStep << ", background step " << backgroundStep;
    }
    // An empty disabled edit field shows no text: its background alone
    // must tell it from an enabled one.
    EXPECT_GE(ContrastRatio(p.color(QPalette::Disabled, QPalette::Base), p.color(QPalette::Active, QPalette::Base)), 1.15);
}

TEST_P(EveryStyle, PaletteMatchesTheKindAndHueFamilyOfItsRow)
{
    const StyleRow &row = GetParam();
    const QPalette p = BuildPalette(row);
    const QColor window = p.color(QPalette::Active, QPalette::Window);
    const double lum = RelativeLuminance(window);
    if (row.kind == StyleKind::Dark) {
        EXPECT_LT(lum, 0.1) << "a dark style has a dark window";
        EXPECT_GT(RelativeLuminance(p.color(QPalette::Active, QPalette::WindowText)), lum);
    } else {
        EXPECT_GT(lum, 0.45) << "a light style has a light window";
        EXPECT_LT(RelativeLuminance(p.color(QPalette::Active, QPalette::WindowText)), lum);
    }

    const QColor accent = p.color(QPalette::Active, QPalette::Highlight).toHsv();
    if (row.family == HueFamily::Neutral) {
        EXPECT_LE(window.toHsv().hsvSaturationF(), 0.25) << "a style without a colour in its name has a grey face";
    } else {
        EXPECT_GE(accent.hsvSaturationF(), 0.35) << "the selection shows the style's colour";
        EXPECT_TRUE(HueInFamily(accent.hsvHue(), row.family))
            << "selection hue " << accent.hsvHue() << " is not " << HueFamilyName(row.family);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, EveryStyle, ::testing::ValuesIn(StyleRows().begin(), StyleRows().end()), rowName);

// The names say what a style looks like; the table must follow them.
TEST(StyleTable, KindAndHueFollowTheNames)
{
    struct Expect {
        const char *word;
        bool atStart;
        HueFamily family;
    };
    const Expect families[] = {
        {"Aqua", true, HueFamily::Blue},      {"Cobalt", true, HueFamily::Blue},  {"Sapphire", true, HueFamily::Blue},
        {"Emerald", true, HueFamily::Green},  {"Ruby", true, HueFamily::Red},     {"Amethyst", true, HueFamily::Violet},
        {"Lavender", true, HueFamily::Violet}, {"Auric", true, HueFamily::Gold},   {"Golden", true, HueFamily::Gold},
        {"Blue", false, HueFamily::Blue},     {"Green", false, HueFamily::Green}, {"Purple", false, HueFamily::Violet},
    };
    for (const StyleRow &row : StyleRows()) {
        const QString name = QString::fromLatin1(row.name);
        for (const Expect &e : families) {
            const bool named = e.atStart ? name.startsWith(QLatin1String(e.word))
                                         : name.endsWith(QLatin1String(e.word));
            if (named) {
                EXPECT_EQ(row.family, e.family) << row.name;
            }
        }
        const bool dark = name == QLatin1String("Carbon") || name == QLatin1String("Obsidian") ||
                          name.contains(QLatin1String("Dark"));
        const bool light = name.contains(QLatin1String("Light")) || name == QLatin1String("Windows");
        if (dark || light) {
            EXPECT_EQ(row.kind, dark ? StyleKind::Dark : StyleKind::Light) << row.name;
        }
    }
}

TEST(StyleTable, EveryStyleLooksDifferent)
{
    QSet<QString> seen;
    for (const StyleRow &row : StyleRows()) {
        const QPalette p = BuildPalette(row);
        QString key;
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Text, QPalette::Highlight})
            key += p.color(role).name();
        EXPECT_FALSE(seen.contains(key)) << row.name << " looks like another style";
        seen.insert(key);
    }
}

TEST(StyleEngineLooks, FortyNamesAndEachActivatesItsOwnPalette)
{
    testing_support::EnsureQtApplication();
    InstallStyles();
    const QStringList names = platform::StyleEngine::StyleNames();
    EXPECT_EQ(names.size(), 40);
    EXPECT_EQ(names.count(QStringLiteral("Windows")), 1);
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 40);

    for (const QString &name : {QStringLiteral("Ruby Graphite"), QStringLiteral("Windows")}) {
        platform::StyleEngine::SetStyle(name);
        EXPECT_EQ(platform::StyleEngine::ActiveStyle(), name);
        EXPECT_EQ(QApplication::palette().color(QPalette::Window),
                  BuildPalette(*FindStyleRow(name)).color(QPalette::Window))
            << name.toStdString();
    }
    // Names compare without letter case and give the table's spelling.
    platform::StyleEngine::SetStyle(QStringLiteral("cyan night"));
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Cyan Night"));
    EXPECT_THROW(platform::StyleEngine::SetStyle(QStringLiteral("Neon")), std::exception);
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Cyan Night"));
}

// Windows opened one after the other under a look draw with one shared
// palette: the widget style caches its pixmaps under the palette's key, and
// a key of its own for every new window (the scanner's dialog at every
// scan) filled that cache with entries never found again.
TEST(StyleEngineLooks, WindowsOpenedLaterShareTheLooksPalette)
{
    testing_support::EnsureQtApplication();
    InstallStyles();
    for (const QString &name : {QStringLiteral("Ruby Graphite"), QStringLiteral("Windows")}) {
        platform::StyleEngine::SetStyle(name);
        QWidget kept;
        QComboBox keptChild(&kept);
        kept.show();
        qint64 first = 0;
        for (int i = 0; i < 2; ++i) {
            QDialog dialog;
            QComboBox child(&dialog);
            dialog.show();
            EXPECT_EQ(child.palette().color(QPalette::Window),
                      BuildPalette(*FindStyleRow(name)).color(QPalette::Window))
                << name.toStdString();
            if (i == 0)
                first = child.palette().cacheKey();
            else
                EXPECT_EQ(child.palette().cacheKey(), first) << name.toStdString();
        }
        EXPECT_EQ(keptChild.palette().cacheKey(), first) << name.toStdString();
    }
}

TEST(Contrast, MeasuresAsWcagDefines)
{
    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(0x77, 0x77, 0x77), Qt::white), 4.48, 0.01);
    EXPECT_NEAR(ContrastRatio(QColor(0x76, 0x76, 0x76), Qt::white), 4.54, 0.01);
    // Dimming and separating reach what they promise and keep the hue.
    const QColor dim = DimTowards(Qt::black, Qt::white, 3.0);
    EXPECT_GE(ContrastRatio(dim, Qt::white), 3.0);
    EXPECT_LT(ContrastRatio(dim, Qt::white), 3.1);
    const QColor sep = Separate(QColor(0x2d8ee8), Qt::white, 4.6);
    EXPECT_GE(ContrastRatio(sep, Qt::white), 4.6);
    EXPECT_NEAR(sep.toHsv().hsvHue(), QColor(0x2d8ee8).toHsv().hsvHue(), 2);
}

} // namespace
