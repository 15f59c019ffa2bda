// The help viewer on the program's own help file: context numbers, links,
// the table of contents, quitting, and help files that are missing, damaged
// or carry no compiled context map.
#include "platform/ChmFile.h"
#include "platform/Help.h"
#include "platform/HelpWindow.h"
#include "support/QtApp.h"
#include "support/ScriptedBoxes.h"
#include "support/ScriptedShell.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

const QString kHelpFile = QStringLiteral(QUILLORA_BIN_DIR "/Quillora-Hilfe.chm");
const QString kNoMapDir = QStringLiteral(QUILLORA_TEST_CHM_DIR);

class HelpViewer : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureQtApplication(); }
    void TearDown() override { viewer.Quit(); }

    QString title() const { return viewer.Window()->Browser()->documentTitle(); }

    testing_support::ScriptedBoxes boxes;
    platform::ChmHelpViewer viewer;
};

TEST_F(HelpViewer, ContextNumbersOpenTheirMappedPagesInOneWindow)
{
    ASSERT_TRUE(viewer.ShowContext(kHelpFile, 100));
    platform::HelpWindow *window = viewer.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(title(), QStringLiteral("Quillora – Hilfe"));

    ASSERT_TRUE(viewer.ShowContext(kHelpFile, 1050));
    EXPECT_EQ(viewer.Window(), window);
    EXPECT_EQ(title(), QStringLiteral("Weitere Programme"));
    EXPECT_EQ(window->CurrentTopic(), QStringLiteral("/programme.htm"));

    // A number the file does not map shows the start page.
    ASSERT_TRUE(viewer.ShowContext(kHelpFile, 4711));
    EXPECT_EQ(title(), QStringLiteral("Quillora – Hilfe"));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(HelpViewer, LinksStayInTheFileAndAddressesGoToTheShell)
{
    testing_support::ScriptedShell shell;
    ASSERT_TRUE(viewer.ShowContext(kHelpFile, 100));
    platform::ChmBrowser *browser = viewer.Window()->Browser();

    emit browser->anchorClicked(QUrl(QStringLiteral("scanner.htm")));
    EXPECT_EQ(title(), QStringLiteral("Scanner unter Linux"));
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("sane-airscan")));
    browser->backward();
    EXPECT_EQ(title(), QStringLiteral("Quillora – Hilfe"));

    emit browser->anchorClicked(QUrl(QStringLiteral("http://localhost:631")));
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].file, QStringLiteral("http://localhost:631"));
    EXPECT_EQ(shell.requests[0].verb, QStringLiteral("open"));
    EXPECT_EQ(title(), QStringLiteral("Quillora – Hilfe"));
}

// The pages are real: every entry of the contents opens a page with its own
// title, and every link between pages leads to a page of the file.
TEST_F(HelpViewer, EveryContentsEntryOpensAndNoLinkIsBroken)
{
    ASSERT_TRUE(viewer.ShowContext(kHelpFile, 100));
    QTreeWidget *tree = viewer.Window()->ContentsTree();
    std::shared_ptr<platform::ChmFile> chm = platform::ChmFile::Open(kHelpFile);
    ASSERT_TRUE(chm);
    ASSERT_GE(chm->Contents().size(), 9u);
    EXPECT_EQ(chm->Contents().front().name, QStringLiteral("Quillora – Hilfe"));
    EXPECT_EQ(chm->Contents()[8].name, QStringLiteral("Das Menü"));

    static const QRegularExpression href(QStringLiteral("href=\"([^\"#:]+)"));
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        emit tree->itemClicked(*it, 0);
        EXPECT_EQ(title(), (*it)->text(0)) << (*it)->text(0).toStdString();
        const std::optional<QByteArray> html = chm->Read(viewer.Window()->CurrentTopic());
        ASSERT_TRUE(html);
        auto links = href.globalMatch(QString::fromUtf8(*html));
        while (links.hasNext()) {
            const QString target = links.next().captured(1);
            EXPECT_TRUE(chm->Contains(target)) << viewer.Window()->CurrentTopic().toStdString() << " links to "
                                               << target.toStdString();
        }
    }
}

TEST_F(HelpViewer, QuitClosesTheHelpWindow)
{
    ASSERT_TRUE(viewer.ShowContext(kHelpFile, 100));
    viewer.Quit();
    EXPECT_EQ(viewer.Window(), nullptr);
    viewer.Quit(); // nothing open: nothing to do
    ASSERT_TRUE(viewer.ShowContext(kHelpFile, 1050));
    EXPECT_EQ(title(), QStringLiteral("Weitere Programme"));
}

TEST_F(HelpViewer, MissingOrDamagedHelpFilesAreReportedWithTheirPath)
{
    QTemporaryDir dir;
    const QString damaged = dir.path() + QStringLiteral("/kaputt.chm");
    {
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("ITSF") + QByteArray(200, '\xff'));
    }
    for (const QString &file : {dir.path() + QStringLiteral("/fehlt.chm"), damaged, dir.path()}) {
        boxes.clear();
        EXPECT_FALSE(viewer.ShowContext(file, 100));
        ASSERT_EQ(boxes.texts().size(), 1) << file.toStdString();
        EXPECT_TRUE(boxes.texts()[0].startsWith(QStringLiteral("Die Hilfe-Datei kann nicht angezeigt werden.\r") +
                                                file));
        EXPECT_EQ(viewer.Window(), nullptr);
    }
}

TEST_F(HelpViewer, WithoutACompiledMapTheMapBesideTheFileIsRead)
{
    QTemporaryDir dir;
    const QString chm = dir.path() + QStringLiteral("/ohne-map.chm");
    ASSERT_TRUE(QFile::copy(kNoMapDir + QStringLiteral("/ohne-map.chm"), chm));

    ASSERT_TRUE(viewer.ShowContext(chm, 20));
    EXPECT_EQ(title(), QStringLiteral("Seite eins")); // no map: the start page

    QFile map(dir.path() + QStringLiteral("/ohne-map.map"));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write("# Kontext = Seite\n10 = eins.htm\n0x14=unter/zwei.htm#mitte\n");
    map.close();
    ASSERT_TRUE(viewer.ShowContext(chm, 20));
    EXPECT_EQ(title(), QStringLiteral("Seite zwei"));
    EXPECT_EQ(viewer.Window()->CurrentTopic(), QStringLiteral("/unter/zwei.htm"));

    // A relative link from a page in a folder resolves against that folder.
    emit viewer.Window()->Browser()->anchorClicked(QUrl(QStringLiteral("../eins.htm")));
    EXPECT_EQ(title(), QStringLiteral("Seite eins"));
}

// ---- the parsers, on damaged input -------------------------------------------

QByteArray u32(quint32 v)
{
    return QByteArray(reinterpret_cast<const char *>(&v), 4);
}

TEST(ChmParsers, ContextMapTakesWhatTheBytesHold)
{
    const QByteArray strings("\0/a/start.htm\0katalog.htm\0", 27);
    struct Case {
        const char *what;
        QByteArray ivb;
        std::map<quint32, QString> expected;
    };
    const Case cases[] = {
        {"two entries", u32(16) + u32(100) + u32(1) + u32(1050) + u32(14),
         {{100, QStringLiteral("/a/start.htm")}, {1050, QStringLiteral("katalog.htm")}}},
        {"count larger than the block", u32(4000) + u32(100) + u32(1) + u32(7), {{100, QStringLiteral("/a/start.htm")}}},
        {"offset past the strings", u32(16) + u32(100) + u32(999) + u32(5) + u32(0), {}},
        {"count smaller than the block", u32(8) + u32(100) + u32(1) + u32(1050) + u32(14),
         {{100, QStringLiteral("/a/start.htm")}}},
        {"too short for a count", QByteArray("\x10\0", 2), {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(platform::chm::ParseContextMap(c.ivb, strings), c.expected) << c.what;
    // A string running to the end of the block without its terminator.
    EXPECT_EQ(platform::chm::ParseContextMap(u32(8) + u32(1) + u32(2), QByteArray("\0\0abc", 5)),
              (std::map<quint32, QString>{{1, QStringLiteral("abc")}}));
}

TEST(ChmParsers, SystemRecordsStopAtTheEndOfTheBlock)
{
    auto record = [](quint16 code, const QByteArray &data) {
        QByteArray r;
        r.append(char(code & 0xff)).append(char(code >> 8));
        r.append(char(data.size() & 0xff)).append(char(data.size() >> 8));
        return r + data;
    };
    const QByteArray whole = u32(3) + record(2, QByteArray("start.htm\0", 10)) +
                             record(3, QByteArray("Hilfe f\xc3\xbcr alle\0", 15)) + record(0, QByteArray("t.hhc\0", 6));
    const auto info = platform::chm::ParseSystem(whole);
    EXPECT_EQ(info.defaultTopic, QStringLiteral("start.htm"));
    EXPECT_EQ(info.title, QStringLiteral("Hilfe für alle"));
    EXPECT_EQ(info.contentsFile, QStringLiteral("t.hhc"));

    // The last record claims more bytes than follow: it is not read.
    const auto cut = platform::chm::ParseSystem(whole.left(whole.size() - 3));
    EXPECT_EQ(cut.title, QStringLiteral("Hilfe für alle"));
    EXPECT_EQ(cut.contentsFile, QString());
    // Windows-1252 text is read as such.
    EXPECT_EQ(platform::chm::ParseSystem(u32(3) + record(3, QByteArray("Gr\xfc\xdf" "e", 5))).title,
              QStringLiteral("Grüße"));
}

TEST(ChmParsers, SitemapNestingEntitiesAndAttributeOrder)
{
    const QByteArray hhc =
        "<object type=\"text/site properties\"><param name=\"Window Styles\" value=\"0x800025\"></object>"
        "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A &amp; B\">"
        "<param value=\"a.htm\" name=\"Local\"></OBJECT>"
        "<ul><li><object type=\"text/sitemap\"><param name=name value='Unter &#252;'><param name=local value=b.htm#x></object>"
        "</ul></ul></ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Ohne Seite\"></object>";
    const auto entries = platform::chm::ParseSitemap(hhc);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, QStringLiteral("A & B"));
    EXPECT_EQ(entries[0].topic, QStringLiteral("a.htm"));
    EXPECT_EQ(entries[0].depth, 0);
    EXPECT_EQ(entries[1].name, QStringLiteral("Unter ü"));
    EXPECT_EQ(entries[1].topic, QStringLiteral("b.htm#x"));
    EXPECT_EQ(entries[1].depth, 1);
    EXPECT_EQ(entries[2].topic, QString());
    EXPECT_EQ(entries[2].depth, 0); // more closing than opening lists
}

} // namespace
