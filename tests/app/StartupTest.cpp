// Start-up of the main window: start state, document list, centring, keys.
#include "MainWindowFixture.h"

#include "app/Info.h"
#include "app/ProjectVersion.h"
#include "app/Startup.h"
#include "preview/Bildanzeige.h"
#include "styles/Farben.h"
#include "platform/Application.h"
#include "platform/StyleEngine.h"
#include "platform/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <dirent.h>

namespace {

QStringList listEntries(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// The order in which the file system returns the matching names.
QStringList fileSystemOrder(const QString &dir, const QStringList &suffixes)
{
    QStringList out;
    DIR *d = ::opendir(QFile::encodeName(dir).constData());
    if (!d)
        return out;
    while (dirent *e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        for (const auto &s : suffixes)
            if (name.endsWith(s, Qt::CaseInsensitive))
                out << name;
    }
    ::closedir(d);
    return out;
}

} // namespace

using testing_support::ShownBox;

TEST_F(MainWindowFixture, FirstStartCreatesEmptySettingsAndDisablesEverythingButBeendenAndFolder)
{
    TForm1 &f = Start();

    const QByteArray settings = ReadProgramFile(QStringLiteral("Einstellung.opt"));
    ASSERT_EQ(settings.size(), 352);
    EXPECT_EQ(settings, QByteArray(352, '\0'));

    EXPECT_EQ(f.windowTitle(), QStringLiteral("Quillora " QUILLORA_VERSION));
    EXPECT_EQ(f.Label3->text(), QString());
    EXPECT_FALSE(f.Label6->isEnabled());
    EXPECT_FALSE(f.Edit1->isEnabled());
    for (QWidget *w : std::initializer_list<QWidget *>{f.Button4, f.Button2, f.SpeedButton4, f.SpeedButton5,
                                                       f.SpeedButton3, f.Button3})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(f.Button1->isEnabled());
    EXPECT_TRUE(f.SpeedButton2->isEnabled());
    EXPECT_TRUE(f.LBSources->isEnabled());
    EXPECT_TRUE(f.ListBox1->isEnabled());
    EXPECT_EQ(f.ListBox1->count(), 0);
    EXPECT_FALSE(f.ListBox1->isSortingEnabled());
    EXPECT_TRUE(f.LBSources->isSortingEnabled());
    EXPECT_TRUE(f.Image1->isVisibleTo(&f));
    EXPECT_TRUE(f.Image1->Empty());
    EXPECT_EQ(Unit1::version, QStringLiteral(QUILLORA_VERSION));
    // The number of the version file is the shown version without its dot:
    // 2.03 is 203, 2.10 would be 210.
    const QStringList parts = Unit1::version.split(QLatin1Char('.'));
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[1].size(), 2);
    EXPECT_EQ(Unit1::versionsnum, parts[0].toInt() * 100 + parts[1].toInt());
}

TEST_F(MainWindowFixture, ControlsCarryTheirCaptionsAndSizes)
{
    TForm1 &f = Start();
    f.show();
    EXPECT_EQ(f.centralWidget()->size(), QSize(586, 561));
    EXPECT_EQ(f.Panel1->height(), 41);
    EXPECT_EQ(f.Panel5->height(), 41);
    EXPECT_EQ(f.Panel2->width(), 230);
    EXPECT_EQ(f.GroupBox1->height(), 177);
    EXPECT_EQ(f.Button1->size(), QSize(75, 28));
    EXPECT_EQ(f.Button2->size(), QSize(75, 28));
    for (QWidget *w : std::initializer_list<QWidget *>{f.SpeedButton2, f.SpeedButton3, f.SpeedButton4, f.SpeedButton5})
        EXPECT_EQ(w->size(), QSize(35, 35));

    EXPECT_EQ(f.Button1->text(), QStringLiteral("Beenden"));
    EXPECT_EQ(f.Button2->text(), QStringLiteral("Speichern"));
    EXPECT_EQ(f.Button3->text(), QStringLiteral("Dokument löschen"));
    EXPECT_EQ(f.Button4->text(), QStringLiteral("Dokument scannen"));
    EXPECT_EQ(f.GroupBox1->title(), QStringLiteral("Belege scannen"));
    EXPECT_EQ(f.GroupBox2->title(), QStringLiteral("Vorhandene Dokumente"));
    EXPECT_EQ(f.GroupBox4->title(), QStringLiteral("Scanner wählen"));
    EXPECT_EQ(f.Label1->text(), QStringLiteral("Bitte erst Verzeichnis und Namen wählen. "));
    EXPECT_EQ(f.Label2->text(), QStringLiteral("Pfad:"));
    EXPECT_EQ(f.Label6->text(), QStringLiteral("Beleg Name"));
    EXPECT_EQ(f.Panel4->Caption(), QString());

    QStringList menu;
    for (QAction *a : f.MainMenu1->actions())
        menu << a->text();
    EXPECT_EQ(menu, (QStringList{"Style", "Update", "Hilfe", "Info"}));
    EXPECT_EQ(f.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(f.font().pointSize(), 8);
    EXPECT_TRUE(f.Panel3->font().bold());
    EXPECT_EQ(f.Panel3->font().pointSize(), 9);
}

TEST_F(MainWindowFixture, MissingHelpFileIsNamedWithItsFullPath)
{
    Start();
    const QString expected = QStringLiteral("Hilfe-Datei nicht gefunden\r") + ProgramDir() + "Quillora-Hilfe.chm";
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0], (ShownBox{ShownBox::Message, QStringLiteral("Quillora"), expected}));
    EXPECT_EQ(platform::Application::instance().HelpFile(), ProgramDir() + "Quillora-Hilfe.chm");
}

TEST_F(MainWindowFixture, PresentHelpFileGivesNoMessage)
{
    ProvideHelpFile();
    Start();
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join('|').toStdString();
}

TEST_F(MainWindowFixture, StoredFolderListsJpgInFileSystemOrderThenBmp)
{
    ProvideHelpFile();
    const QString docs = DocumentDir();
    for (const char *name : {"b.jpg", "a.jpg", "c.bmp", "Quittung.JPG", "z.bmp", "note.txt", "x.jpeg", "y.jpg.bak",
                             ".versteckt.jpg"})
        WriteFile(docs + name, "x");
    ASSERT_TRUE(QDir(docs).mkdir("Alt.jpg")); // a folder named like a document
    StoreFolder(docs);

    TForm1 &f = Start();

    QStringList expected = fileSystemOrder(docs, {".jpg"});
    expected += fileSystemOrder(docs, {".bmp"});
    EXPECT_EQ(listEntries(f.ListBox1), expected);
    EXPECT_TRUE(expected.contains("Alt.jpg"));
    EXPECT_TRUE(expected.contains(".versteckt.jpg"));
    EXPECT_TRUE(expected.contains("Quittung.JPG"));
    EXPECT_EQ(expected.size(), 7);
    EXPECT_EQ(f.Label3->text(), docs);
    EXPECT_TRUE(f.Label6->isEnabled());
    EXPECT_TRUE(f.Edit1->isEnabled());
    EXPECT_FALSE(f.Button4->isEnabled());
    EXPECT_EQ(f.GroupBox2->title(), QStringLiteral("Vorhandene Dokumente"));
}

TEST_F(MainWindowFixture, NamesDifferingOnlyInLetterCaseAreListedOnce)
{
    ProvideHelpFile();
    const QString docs = DocumentDir();
    WriteFile(docs + "Brief.jpg", "x");
    WriteFile(docs + "BRIEF.JPG", "x");
    WriteFile(docs + "brief.bmp", "x");
    WriteFile(docs + "Brief.BMP", "x");
    StoreFolder(docs);

    TForm1 &f = Start();
    const QStringList entries = listEntries(f.ListBox1);
    ASSERT_EQ(entries.size(), 2) << entries.join('|').toStdString();
    EXPECT_TRUE(entries[0].endsWith(".jpg", Qt::CaseInsensitive));
    EXPECT_EQ(fileSystemOrder(docs, {".jpg"}).first(), entries[0]);
    EXPECT_EQ(fileSystemOrder(docs, {".bmp"}).first(), entries[1]);
}

TEST_F(MainWindowFixture, SortedListPlacesNamesAlphabeticallyIgnoringCase)
{
    ProvideHelpFile();
    const QString docs = DocumentDir();
    for (const char *name : {"c.jpg", "B.jpg", "a.bmp", "D.bmp"})
        WriteFile(docs + name, "x");
    StoreFolder(docs);
    TForm1 &f = Start();
    f.ListBox1->setSortingEnabled(true);
    f.Dir_Listbox_fuellen(&f);
    EXPECT_EQ(listEntries(f.ListBox1), (QStringList{"a.bmp", "B.jpg", "c.jpg", "D.bmp"}));
}

TEST_F(MainWindowFixture, MissingOrUnreadableFolderGivesEmptyListWithoutMessage)
{
    ProvideHelpFile();
    StoreFolder(DocumentDir() + "gibt-es-nicht/");
    TForm1 &f = Start();
    EXPECT_EQ(f.ListBox1->count(), 0);
    EXPECT_TRUE(boxes.shown().empty());
    // A name field is still offered: the folder is stored.
    EXPECT_TRUE(f.Edit1->isEnabled());

    // A file where the folder should be.
    WriteFile(DocumentDir() + "datei", "x");
    Unit1::SetPfad(DocumentDir() + "datei/");
    f.Dir_Listbox_fuellen(&f);
    EXPECT_EQ(f.ListBox1->count(), 0);
}

TEST_F(MainWindowFixture, RefillingReplacesTheList)
{
    ProvideHelpFile();
    const QString docs = DocumentDir();
    WriteFile(docs + "eins.jpg", "x");
    StoreFolder(docs);
    TForm1 &f = Start();
    ASSERT_EQ(listEntries(f.ListBox1), QStringList{"eins.jpg"});
    QFile::remove(docs + "eins.jpg");
    WriteFile(docs + "zwei.bmp", "x");
    f.Dir_Listbox_fuellen(&f);
    EXPECT_EQ(listEntries(f.ListBox1), QStringList{"zwei.bmp"});
}

TEST_F(MainWindowFixture, BottomButtonsAreCentredOnHalfTheOuterWidth)
{
    ProvideHelpFile();
    TForm1 &f = Start();
    f.show();
    const int frame = f.frameGeometry().width() - f.width();
    f.resize(602 - frame, f.height());
    ASSERT_EQ(f.OuterWidth(), 602);
    EXPECT_EQ(f.Button1->x(), 216);
    EXPECT_EQ(f.Button2->x(), 296);
    EXPECT_DOUBLE_EQ(Unit1::breit, 301.0);
    // An odd width is truncated towards zero.
    f.resize(603 - frame, f.height());
    EXPECT_EQ(f.Button1->x(), 216);
    EXPECT_EQ(f.Button2->x(), 296);
    EXPECT_DOUBLE_EQ(Unit1::breit, 301.5);
    f.resize(800 - frame, f.height());
    EXPECT_EQ(f.Button1->x(), 400 - 85);
    EXPECT_EQ(f.Button2->x(), 395);
    EXPECT_EQ(f.Button2->x() - (f.Button1->x() + f.Button1->width()), 5);
}

TEST_F(MainWindowFixture, AltF4ClosesAndF1OpensHelpWithAnyModifier)
{
    ProvideHelpFile();
    TForm1 &f = Start();

    WORD key = VK_F1;
    for (TShiftState shift : {0u, unsigned(ssShift), unsigned(ssCtrl), unsigned(ssAlt), unsigned(ssShift | ssCtrl)}) {
        f.FormKeyDown(&f, key, shift);
        EXPECT_EQ(key, VK_F1);
    }
    ASSERT_EQ(help.requests.size(), 5u);
    for (const auto &r : help.requests)
        EXPECT_EQ(r, std::make_pair(ProgramDir() + "Quillora-Hilfe.chm", 100));

    f.show();
    key = VK_F4;
    f.FormKeyDown(&f, key, ssCtrl);
    f.FormKeyDown(&f, key, ssAlt | ssShift);
    f.FormKeyDown(&f, key, 0);
    EXPECT_TRUE(f.isVisible());
    f.FormKeyDown(&f, key, ssAlt);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(key, VK_F4);
    EXPECT_EQ(help.requests.size(), 5u);
}

TEST_F(MainWindowFixture, KeysReachTheWindowBeforeTheFocusedControl)
{
    ProvideHelpFile();
    StoreFolder(DocumentDir());
    TForm1 &f = Start();
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.Edit1->setFocus();

    QTest::keyClick(f.Edit1, Qt::Key_F1, Qt::ShiftModifier);
    ASSERT_EQ(help.requests.size(), 1u); // seen once, not once per parent
    EXPECT_EQ(help.requests[0].second, 100);

    QTest::keyClick(f.Edit1, Qt::Key_F4, Qt::AltModifier);
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(platform::Application::instance().Terminated());
}

TEST_F(MainWindowFixture, BeendenClosesAndTerminates)
{
    ProvideHelpFile();
    TForm1 &f = Start();
    f.show();
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(platform::Application::instance().Terminated());
}

TEST_F(MainWindowFixture, ExceptionInAHandlerEndsInTheErrorBoxAndTheProgramGoesOn)
{
    ProvideHelpFile();
    Start();
    int steps = 0;
    const auto failHalfWay = [&steps] {
        ++steps;
        if (steps > 0)
            throw platform::Exception(QStringLiteral("Etwas ging schief"));
        ++steps;
    };
    platform::Guarded(failHalfWay);
    // The handler ended at the error; the box showed its text.
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(boxes.errors(), QStringList{"Etwas ging schief"});
    // The program goes on: the next handler runs whole, with no new box.
    platform::Guarded([&steps] { steps += 10; });
    EXPECT_EQ(steps, 11);
    EXPECT_EQ(boxes.errors().size(), 1);
}

TEST_F(MainWindowFixture, StartUpRunsInItsFixedOrder)
{
    ProvideHelpFile();
    // A settings file names a folder; the style file is absent, so the look
    // activated before the main window stays.
    StoreFolder(DocumentDir());
    platform::StyleEngine::SetStyle(QStringLiteral("Windows"));
    Unit1::lpf.clear();

    form.reset(Startup::CreateProgram());

    EXPECT_EQ(Unit1::lpf, ProgramDir());
    EXPECT_EQ(Unit1::Form1, form.get());
    EXPECT_EQ(platform::Application::instance().MainForm(), form.get());
    EXPECT_EQ(platform::Application::instance().Title(), QStringLiteral("Quillora"));
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Aqua Light Slate"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Label3->text(), DocumentDir()); // FormCreate has run
    EXPECT_EQ(Unit1::chmFile, ProgramDir() + "Quillora-Hilfe.chm");
    // After the main window: the style chooser, the about window and the
    // catalogue, all hidden.
    ASSERT_NE(Farben::Farbe, nullptr);
    ASSERT_NE(Info::Inv, nullptr);
    ASSERT_NE(Info::Programm, nullptr);
    ASSERT_NE(Bildanzeige::Bild, nullptr);
    for (QWidget *w : std::initializer_list<QWidget *>{Farben::Farbe, Info::Inv, Info::Programm, Bildanzeige::Bild})
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    EXPECT_EQ(Farben::Farbe->ListBox1->count(), 40);
}

TEST_F(MainWindowFixture, ScanGroupCaptionIsMaroonWhileItsControlsFollowTheStyle)
{
    ProvideHelpFile();
    TForm1 &f = Start();
    EXPECT_EQ(f.GroupBox1->CaptionColor(), QColor(0x80, 0, 0));
    EXPECT_EQ(f.Label1->palette().color(QPalette::WindowText), QApplication::palette().color(QPalette::WindowText));

    platform::StyleEngine::SetStyle(QStringLiteral("Carbon"));
    QApplication::processEvents();
    const QColor text = QApplication::palette().color(QPalette::WindowText);
    EXPECT_EQ(f.Label1->palette().color(QPalette::WindowText), text);
    EXPECT_EQ(f.Edit1->palette().color(QPalette::Active, QPalette::Base),
              QApplication::palette().color(QPalette::Active, QPalette::Base));
    // The name field is disabled at first start, and looks it.
    ASSERT_FALSE(f.Edit1->isEnabled());
    EXPECT_NE(f.Edit1->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Active, QPalette::Base));
    // Readable on the dark background, and still a red.
    EXPECT_GT(f.GroupBox1->CaptionColor().lightness(), 128);
    EXPECT_EQ(f.GroupBox1->CaptionColor().hslHue(), 0);
}
