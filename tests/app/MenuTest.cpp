// The main window's menu: help, update, the about window with its buttons,
// the style chooser, and the catalogue window.
#include "MainWindowFixture.h"

#include "app/Info.h"
#include "app/ProjectVersion.h"
#include "platform/Application.h"
#include "platform/Messages.h"
#include "platform/StyleEngine.h"
#include "styles/Farben.h"
#include "support/ScriptedShell.h"

#include <QApplication>
#include <QTest>

#include <array>

namespace {

using testing_support::ShownBox;

// The shell's result codes and the texts "Update" shows for them.
const std::array<std::pair<INT, const char *>, 16> kUpdateTexts{{
    {0, "Zuwenig Speicher, ausführbare Datei war zerstört, Relokationswerte waren ungültig"},
    {2, "Datei wurde nicht gefunden."},
    {3, "Verzeichnis wurde nicht gefunden."},
    {5, "Fehler beim gemeinsamen Zugriff auf eine Datei im Netz oder Fehler beim Zugriff auf eine gesperrte Datei im "
        "Netz."},
    {6, "Bibliothek forderte separate Datensegmente für jede Task an."},
    {8, "Zuwenig Speicher, um die Anwendung zu starten."},
    {10, "Falsche Windows-Version."},
    {11, "Ungültige ausführbare Datei. Entweder keine Windows-Anwendung oder Fehler in der EXE-Datei."},
    {12, "Anwendung für ein anderes Betriebssystem."},
    {13, "Anwendung für MS-DOS 4.0."},
    {14, "Typ der ausführbaren Datei unbekannt."},
    {15, "Versuch, eine Real-Mode-Anwendung (für eine frühere Windows-Version) zu laden."},
    {16, "Versuch, eine zweite Instanz einer ausführbaren Datei mit mehreren Datensegmenten, die nicht als nur lesbar "
         "gekennzeichnet waren, zu laden."},
    {19, "Versuch, eine komprimierte ausführbare Datei zu laden. Die Datei muß dekomprimiert werden, bevor sie "
         "geladen werden kann."},
    {20, "Ungültige dynamische Linkbibliothek (DLL). Eine der DLLs, die benötigt wurde, um die Anwendung auszuführen, "
         "war beschädigt."},
    {21, "Anwendung benötigt Windows-32-Bit-Erweiterungen."},
}};

QString updateText(INT result)
{
    for (const auto &[code, text] : kUpdateTexts)
        if (code == result)
            return QString::fromUtf8(text);
    return {};
}

class MenuFixture : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ProvideHelpFile();
    }
    // The main window with the about and catalogue windows, as at start-up.
    TForm1 &startWithWindows()
    {
        TForm1 &f = Start();
        Info::Inv = new TInv;
        Info::Programm = new TProgramm;
        f.show();
        boxes.clear();
        return f;
    }
};

TEST_F(MenuFixture, HilfeOpensTheHelpFileAtContext100)
{
    TForm1 &f = Start();
    f.Hilfe1->trigger();
    ASSERT_EQ(help.requests.size(), 1u);
    EXPECT_EQ(help.requests[0], std::make_pair(ProgramDir() + "Quillora-Hilfe.chm", 100));
}

// Every result the shell can give: the texts of the table, an empty text for
// the other codes of 32 or less, nothing after a start; the program ends in
// every case.
TEST_F(MenuFixture, UpdateShowsTheShellsTextAndAlwaysEndsTheProgram)
{
    std::vector<INT> results;
    for (INT r = 0; r <= 33; ++r)
        results.push_back(r);
    results.push_back(platform::SHELL_SUCCESS);

    for (INT result : results) {
        SCOPED_TRACE(result);
        platform::Application::instance().Reset();
        TForm1 &f = startWithWindows();
        testing_support::ScriptedShell shell;
        shell.result = result;

        f.Update1->trigger();

        ASSERT_EQ(shell.requests.size(), 1u);
        const auto &rq = shell.requests[0];
        EXPECT_EQ(rq.owner, platform::HandleOfWidget(&f));
        EXPECT_EQ(rq.verb, QString());
        EXPECT_EQ(rq.file, QStringLiteral("Update.Exe"));
        EXPECT_EQ(rq.parameters, QString());
        EXPECT_EQ(rq.directory, ProgramDir());
        EXPECT_EQ(rq.showCommand, 5);
        const std::vector<ShownBox> expected =
            result <= 32 ? std::vector<ShownBox>{{ShownBox::Message, "Quillora", updateText(result)}}
                         : std::vector<ShownBox>{};
        EXPECT_EQ(boxes.shown(), expected);
        EXPECT_FALSE(f.isVisible());
        EXPECT_TRUE(platform::Application::instance().Terminated());
        delete Info::Programm;
        delete Info::Inv;
        Stop();
    }
}

TEST_F(MenuFixture, UpdateWithoutTheUpdateProgramSaysSoAndEndsTheProgram)
{
    TForm1 &f = startWithWindows();
    f.Update1->trigger(); // the real shell, on a program directory without Update.Exe
    EXPECT_EQ(boxes.texts(), QStringList{"Datei wurde nicht gefunden."});
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(platform::Application::instance().Terminated());
}

TEST_F(MenuFixture, InfoTwiceShowsOneAboutWindowWithTheSameLines)
{
    TForm1 &f = startWithWindows();
    auto lines = [] {
        TInv *inv = Info::Inv;
        return QStringList{inv->Label2->text(), inv->Label4->text(), inv->Label5->text(), inv->Label6->text(),
                           inv->Label7->text(), inv->Label9->text(), inv->Label10->text()};
    };
    f.Info1->trigger();
    const QStringList first = lines();
    f.Info1->trigger();
    EXPECT_EQ(lines(), first);
    EXPECT_EQ(first[0], QStringLiteral("Quillora " QUILLORA_VERSION));
    EXPECT_EQ(first.mid(1), Info::ContactLines());
    EXPECT_EQ(first[5], Info::Website());
    for (const QString &line : first)
        EXPECT_FALSE(line.isEmpty());

    int shownAbout = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        shownAbout += qobject_cast<TInv *>(w) && w->isVisible();
    EXPECT_EQ(shownAbout, 1);
    EXPECT_EQ(Info::Inv->windowTitle(), QStringLiteral("Autor"));
    EXPECT_TRUE(f.isEnabled()); // not modal
}

TEST_F(MenuFixture, AboutWindowButtons)
{
    TForm1 &f = startWithWindows();
    testing_support::ScriptedShell shell;
    TInv *inv = Info::Inv;

    // "Beenden": help is told to quit, the window closes.
    f.Info1->trigger();
    QTest::mouseClick(inv->Button1, Qt::LeftButton);
    EXPECT_EQ(help.quits, 1);
    EXPECT_FALSE(inv->isVisible());

    // The website, with "open" and the show command "normal".
    f.Info1->trigger();
    QTest::mouseClick(inv->Button2, Qt::LeftButton);
    EXPECT_FALSE(inv->isVisible());
    ASSERT_EQ(shell.requests.size(), 1u);
    EXPECT_EQ(shell.requests[0].verb, QStringLiteral("open"));
    EXPECT_EQ(shell.requests[0].file, Info::Website());
    EXPECT_EQ(shell.requests[0].parameters, QString());
    EXPECT_EQ(shell.requests[0].directory, QString());
    EXPECT_EQ(shell.requests[0].showCommand, 1);

    // The catalogue.
    f.Info1->trigger();
    QTest::mouseClick(inv->Button3, Qt::LeftButton);
    EXPECT_FALSE(inv->isVisible());
    EXPECT_TRUE(Info::Programm->isVisible());
    EXPECT_EQ(help.quits, 1); // closing by a button other than "Beenden" leaves help open

    // Updates: exactly as the menu item.
    shell.result = platform::ERROR_FILE_NOT_FOUND;
    f.Info1->trigger();
    QTest::mouseClick(inv->Button4, Qt::LeftButton);
    ASSERT_EQ(shell.requests.size(), 2u);
    EXPECT_EQ(shell.requests[1].file, QStringLiteral("Update.Exe"));
    EXPECT_EQ(shell.requests[1].directory, ProgramDir());
    EXPECT_EQ(boxes.texts(), QStringList{"Datei wurde nicht gefunden."});
    EXPECT_FALSE(f.isVisible());
}

TEST_F(MenuFixture, CatalogueOpensEachProgramsPageAndItsOwnHelp)
{
    startWithWindows();
    testing_support::ScriptedShell shell;
    TProgramm *catalogue = Info::Programm;
    catalogue->show();

    const auto entries = Info::Catalogue();
    ASSERT_EQ(catalogue->PageButtons.size(), entries.size());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].name, QStringLiteral("Quillora"));
    for (size_t i = 0; i < entries.size(); ++i)
        QTest::mouseClick(catalogue->PageButtons[i], Qt::LeftButton);
    ASSERT_EQ(shell.requests.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(shell.requests[i].file, entries[i].address);
        EXPECT_EQ(shell.requests[i].verb, QStringLiteral("open"));
    }

    QTest::mouseClick(catalogue->HelpButton, Qt::LeftButton);
    QTest::keyClick(catalogue->PageButtons[0], Qt::Key_F1);
    ASSERT_EQ(help.requests.size(), 2u);
    EXPECT_EQ(help.requests[0], std::make_pair(ProgramDir() + "Quillora-Hilfe.chm", 1050));
    EXPECT_EQ(help.requests[1].second, 1050);
}

TEST_F(MenuFixture, StyleShowsTheChooserNotModal)
{
    TForm1 &f = startWithWindows();
    Farben::Farbe = new TFarbe;
    f.Style1->trigger();
    EXPECT_TRUE(Farben::Farbe->isVisible());
    EXPECT_FALSE(Farben::Farbe->isModal());
    f.Style1->trigger(); // a second time: the same window
    int shown = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        shown += qobject_cast<TFarbe *>(w) && w->isVisible();
    EXPECT_EQ(shown, 1);
}

} // namespace
