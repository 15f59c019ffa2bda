// The style chooser window: what a click, a double click, "Style
// aktivieren" and "Beenden" do to the look and to the style file.
#include "platform/Files.h"
#include "platform/StyleEngine.h"
#include "styles/Farben.h"
#include "styles/StyleTable.h"
#include "support/FixedDirectories.h"
#include "support/QtApp.h"
#include "support/ScriptedBoxes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ChooserFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureQtApplication();
        ASSERT_TRUE(dir_.isValid());
        directories.SetProgramDirectory(dir_.path());
        Farben::InstallStyles();
        Farben::style.clear();
        platform::StyleEngine::SetStyle(QStringLiteral("Aqua Light Slate"));
    }
    void TearDown() override
    {
        chooser.reset();
    }

    QString stylePath() const { return dir_.path() + QStringLiteral("/Styledat.txt"); }
    void writeStyleFile(const QByteArray &bytes) const
    {
        QFile f(stylePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray styleFile() const
    {
        QFile f(stylePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // Start-up: the stored style is read, then the chooser is created.
    TFarbe &start()
    {
        TFarbe::style_lesen();
        chooser = std::make_unique<TFarbe>();
        chooser->show();
        return *chooser;
    }

    QListWidgetItem *entry(const QString &name) const
    {
        const auto found = chooser->ListBox1->findItems(name, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }
    void click(const QString &name) const
    {
        QListWidgetItem *item = entry(name);
        ASSERT_NE(item, nullptr) << name.toStdString();
        chooser->ListBox1->scrollToItem(item);
        QTest::mouseClick(chooser->ListBox1->viewport(), Qt::LeftButton, {},
                          chooser->ListBox1->visualItemRect(item).center());
    }
    void doubleClick(const QString &name) const
    {
        click(name);
        QTest::mouseDClick(chooser->ListBox1->viewport(), Qt::LeftButton, {},
                           chooser->ListBox1->visualItemRect(entry(name)).center());
    }

    testing_support::FixedDirectories directories;
    testing_support::ScriptedBoxes boxes;
    std::unique_ptr<TFarbe> chooser;

private:
    QTemporaryDir dir_;
};

TEST_F(ChooserFixture, ListsTheFortyStylesAlphabeticallyAndNamesTheStyleReadAtStart)
{
    writeStyleFile("Carbon");
    TFarbe &f = start();
    QStringList names;
    for (int i = 0; i < f.ListBox1->count(); ++i)
        names << f.ListBox1->item(i)->text();
    EXPECT_EQ(names.size(), 40);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString &a, const QString &b) { return QString::localeAwareCompare(a, b) < 0; });
    EXPECT_EQ(names, sorted);
    EXPECT_TRUE(names.contains(QStringLiteral("Windows")));
    EXPECT_EQ(f.Panel1->text(), QStringLiteral("Aktiver Style > Carbon"));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Farbwahl"));
    EXPECT_EQ(f.size(), QSize(220, 444));
    EXPECT_TRUE(f.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(f.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

TEST_F(ChooserFixture, ClickThenBeendenChangesNeitherTheLookNorTheFile)
{
    writeStyleFile("Carbon");
    TFarbe &f = start();
    click(QStringLiteral("Sky"));
    EXPECT_EQ(Farben::style, QStringLiteral("Sky"));
    QTest::mouseClick(f.Button22, Qt::LeftButton);

    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Carbon"));
    EXPECT_EQ(styleFile(), QByteArray("Carbon"));
    // Shown again as it was: closing only hid it.
    f.show();
    EXPECT_EQ(f.ListBox1->count(), 40);
    EXPECT_EQ(f.ListBox1->currentItem()->text(), QStringLiteral("Sky"));
}

TEST_F(ChooserFixture, DoubleClickAppliesAndWritesButTheLabelKeepsTheStyleReadAtStart)
{
    writeStyleFile("Carbon");
    TFarbe &f = start();
    doubleClick(QStringLiteral("Sky"));

    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Sky"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              Farben::BuildPalette(*Farben::FindStyleRow(QStringLiteral("Sky"))).color(QPalette::Window));
    EXPECT_EQ(styleFile(), QByteArray("Sky"));
    EXPECT_EQ(f.Panel1->text(), QStringLiteral("Aktiver Style > Carbon"));
    EXPECT_TRUE(f.isVisible());
}

TEST_F(ChooserFixture, StyleAktivierenWithoutAClickWritesTheStyleReadAtStartAndCloses)
{
    writeStyleFile("Glossy\r\nrest");
    TFarbe &f = start();
    platform::StyleEngine::SetStyle(QStringLiteral("Windows")); // changed meanwhile
    QTest::mouseClick(f.Style_Button, Qt::LeftButton);

    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Glossy"));
    EXPECT_EQ(styleFile(), QByteArray("Glossy"));
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(ChooserFixture, WithoutAStyleFileTheStartUpLookIsNamedAndKept)
{
    TFarbe &f = start();
    EXPECT_EQ(Farben::style, QString());
    EXPECT_EQ(f.Panel1->text(), QStringLiteral("Aktiver Style > Aqua Light Slate"));
    QTest::mouseClick(f.Style_Button, Qt::LeftButton);
    EXPECT_TRUE(boxes.shown().empty()) << boxes.errors().join(u'|').toStdString();
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Aqua Light Slate"));
    EXPECT_EQ(styleFile(), QByteArray("Aqua Light Slate"));
}

TEST_F(ChooserFixture, AStyleFileThatCannotBeWrittenIsReportedAfterTheLookChanged)
{
    TFarbe &f = start();
    ASSERT_TRUE(QDir().mkdir(stylePath())); // a folder in the file's place
    click(QStringLiteral("Windows10 Green"));
    QTest::mouseClick(f.Style_Button, Qt::LeftButton);

    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Windows10 Green"));
    ASSERT_EQ(boxes.errors().size(), 1);
    EXPECT_TRUE(boxes.errors()[0].contains(QStringLiteral("Styledat.txt")));
    EXPECT_FALSE(f.isVisible());
}

} // namespace
