// The settings, version and style files: byte layout, damaged files, and
// start-up going on whatever they hold.
#include "MainWindowFixture.h"

#include "app/Records.h"
#include "platform/FileAccess.h"
#include "platform/Files.h"
#include "platform/StyleEngine.h"
#include "styles/Farben.h"
#include "styles/StyleTable.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <unistd.h>

namespace {

const QString kSettings = QStringLiteral("Einstellung.opt");
const QString kVersion = QStringLiteral("Version.ver");
const QString kStyle = QStringLiteral("Styledat.txt");

template <typename T> QByteArray bytesOf(const T &rec)
{
    return QByteArray(reinterpret_cast<const char *>(&rec), sizeof rec);
}

} // namespace

TEST_F(MainWindowFixture, ChoosingAFolderWritesLengthPrefixedPathAndKeepsStaleBytes)
{
    ProvideHelpFile();
    TForm1 &f = Start();

    Unit1::SetPfad(QStringLiteral("/srv/Belege/"));
    f.opt_speichern(&f);
    QByteArray file = ReadProgramFile(kSettings);
    ASSERT_EQ(file.size(), 352);
    EXPECT_EQ(quint8(file[0]), 12);
    EXPECT_EQ(file.mid(1, 12), QByteArray("/srv/Belege/"));
    EXPECT_EQ(file.mid(272, 4), QByteArray(4, '\0'));

    // A shorter folder leaves the rest of the old path in the field.
    Unit1::SetPfad(QStringLiteral("/X/"));
    f.opt_speichern(&f);
    file = ReadProgramFile(kSettings);
    ASSERT_EQ(file.size(), 352);
    EXPECT_EQ(quint8(file[0]), 3);
    EXPECT_EQ(file.mid(1, 12), QByteArray("/X/v/Belege/"));

    // Reading uses only the length byte's count.
    Stop();
    ProvideHelpFile();
    TForm1 &g = Start();
    EXPECT_EQ(Unit1::Pfad(), QStringLiteral("/X/"));
    EXPECT_EQ(g.Label3->text(), QStringLiteral("/X/"));
}

TEST_F(MainWindowFixture, ReservedFieldsAreWrittenBackAsReadAndAnzahlAsZero)
{
    optionen rec;
    std::memset(&rec, 0xA5, sizeof rec); // padding and all reserved bytes set
    SetShortString(rec.pfad, 255, QStringLiteral("/alt/"));
    rec.doub1 = 1.5;
    rec.doub2 = -2.25;
    rec.anzahl = 7;
    rec.sonst2 = 11;
    rec.sonst3 = -12;
    SetShortString(rec.Str1, 20, QStringLiteral("eins"));
    WriteProgramFile(kSettings, bytesOf(rec));
    ProvideHelpFile();

    TForm1 &f = Start();
    EXPECT_EQ(Unit1::option.anzahl, 7); // read without effect
    EXPECT_EQ(ReadProgramFile(kSettings), bytesOf(rec)); // reading writes nothing

    Unit1::SetPfad(QStringLiteral("/neu/"));
    f.opt_speichern(&f);
    const QByteArray file = ReadProgramFile(kSettings);
    optionen expected = rec;
    SetShortString(expected.pfad, 255, QStringLiteral("/neu/"));
    expected.anzahl = 0;
    EXPECT_EQ(file, bytesOf(expected));
}

TEST_F(MainWindowFixture, FolderPathIsCutTo255BytesAtACharacterBoundary)
{
    ProvideHelpFile();
    TForm1 &f = Start();

    const QString ascii = QStringLiteral("/") + QString(300, QLatin1Char('a'));
    Unit1::SetPfad(ascii);
    f.opt_speichern(&f);
    QByteArray file = ReadProgramFile(kSettings);
    EXPECT_EQ(quint8(file[0]), 255);
    EXPECT_EQ(file.mid(1, 255), ascii.toUtf8().left(255));

    // 254 ASCII bytes and then "ä" (2 bytes): the "ä" would be cut in half,
    // so it is left out entirely.
    const QString umlaut = QString(254, QLatin1Char('b')) + QStringLiteral("äöü");
    Unit1::SetPfad(umlaut);
    EXPECT_EQ(Unit1::option.pfad[0], 254);
    EXPECT_EQ(Unit1::Pfad(), QString(254, QLatin1Char('b')));

    // 253 + "ä" fits exactly.
    Unit1::SetPfad(QString(253, QLatin1Char('c')) + QStringLiteral("äx"));
    EXPECT_EQ(Unit1::option.pfad[0], 255);
    EXPECT_EQ(Unit1::Pfad(), QString(253, QLatin1Char('c')) + QStringLiteral("ä"));

    // Four-byte characters.
    EXPECT_EQ(platform::CutAtCharacterBoundary(QByteArray("ab\xF0\x9F\x98\x80", 6), 5), QByteArray("ab"));
    EXPECT_EQ(platform::CutAtCharacterBoundary(QByteArray("ab\xF0\x9F\x98\x80", 6), 6), QByteArray("ab\xF0\x9F\x98\x80"));
}

TEST_F(MainWindowFixture, ShortAndLongSettingsFilesNeverStopStartUp)
{
    // Short: the bytes it holds go to the front of the record.
    QByteArray shortFile;
    shortFile.append(char(4)).append("/kz/");
    WriteProgramFile(kSettings, shortFile);
    ProvideHelpFile();
    TForm1 &f = Start();
    EXPECT_EQ(Unit1::Pfad(), QStringLiteral("/kz/"));
    EXPECT_EQ(ReadProgramFile(kSettings), shortFile); // not rewritten at start
    EXPECT_TRUE(f.Edit1->isEnabled());
    Stop();

    // Long: the first record is used; the next write leaves exactly one.
    Unit1::ResetState();
    Unit1::lpf = ProgramDir();
    optionen rec{};
    SetShortString(rec.pfad, 255, QStringLiteral("/lang/"));
    QByteArray longFile = bytesOf(rec) + QByteArray(100, 'z');
    WriteProgramFile(kSettings, longFile);
    TForm1 &g = Start();
    EXPECT_EQ(Unit1::Pfad(), QStringLiteral("/lang/"));
    g.opt_speichern(&g);
    EXPECT_EQ(ReadProgramFile(kSettings).size(), 352);

    // A length byte beyond the data does not read past the field.
    Stop();
    Unit1::ResetState();
    QByteArray junk(352, '\xFF');
    WriteProgramFile(kSettings, junk);
    TForm1 &h = Start();
    EXPECT_EQ(Unit1::Pfad().toLocal8Bit().size() <= 255 * 3, true);
    EXPECT_TRUE(h.isEnabled());
}

TEST_F(MainWindowFixture, SettingsThatCannotBeStoredStayInMemoryWithoutEndlessRetries)
{
    // A folder stands where the settings file should be: it can be neither
    // read nor replaced.
    ASSERT_TRUE(QDir(ProgramDir()).mkdir(kSettings));
    ProvideHelpFile();
    TForm1 &f = Start();
    EXPECT_EQ(Unit1::Pfad(), QString());
    Unit1::SetPfad(DocumentDir());
    f.opt_speichern(&f); // returns: no endless create/write cycle
    EXPECT_EQ(Unit1::Pfad(), DocumentDir());
    EXPECT_TRUE(QFileInfo(ProgramDir() + kSettings).isDir());
    // No temporary files are left behind.
    EXPECT_EQ(QDir(ProgramDir()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Quillora-Hilfe.chm"});
}

TEST_F(MainWindowFixture, PipeInPlaceOfSettingsOrStyleFileDoesNotHang)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(ProgramDir() + kSettings).constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(ProgramDir() + kStyle).constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(ProgramDir() + kVersion).constData(), 0600), 0);
    ProvideHelpFile();
    TForm1 &f = Start();
    EXPECT_EQ(Unit1::Pfad(), QString());
    // The style file could not be read: shown in the error box, start-up went on.
    ASSERT_EQ(boxes.errors().size(), 1);
    EXPECT_TRUE(boxes.errors()[0].contains(kStyle));
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Aqua Light Slate"));
    EXPECT_FALSE(f.Button4->isEnabled());
}

TEST_F(MainWindowFixture, WritesNeverLeaveAHalfWrittenSettingsFile)
{
    ProvideHelpFile();
    TForm1 &f = Start();
    Unit1::SetPfad(QStringLiteral("/eins/"));
    f.opt_speichern(&f);
    const QByteArray before = ReadProgramFile(kSettings);

    // A failing write keeps the old file.  The write is made to fail for
    // any user, root included: a folder stands where its temporary file
    // would go.
    const QByteArray temp =
        platform::TemporaryNameFor(QFile::encodeName(ProgramDir() + kSettings), long(::getpid()));
    ASSERT_EQ(::mkdir(temp.constData(), 0700), 0);
    Unit1::SetPfad(QStringLiteral("/zwei/"));
    f.opt_speichern(&f);
    ::rmdir(temp.constData());
    EXPECT_EQ(ReadProgramFile(kSettings), before);
    EXPECT_EQ(ReadProgramFile(kSettings).size(), 352);
}

TEST_F(MainWindowFixture, VersionFileIsReadButNeverCreatedAtStart)
{
    ProvideHelpFile();
    Start();
    EXPECT_FALSE(ProgramFileExists(kVersion));
    EXPECT_EQ(Unit1::t_version.version, 0);
    Stop();

    welcheversion v{};
    v.version = 150;
    v.int_3 = 42;
    WriteProgramFile(kVersion, bytesOf(v));
    Start();
    EXPECT_EQ(Unit1::t_version.version, 150);
    EXPECT_EQ(Unit1::t_version.int_3, 42);
    EXPECT_EQ(Unit1::versionsnum, 203);
    EXPECT_EQ(ReadProgramFile(kVersion), bytesOf(v));
}

TEST_F(MainWindowFixture, DamagedVersionFilesNeverStopStartUp)
{
    ProvideHelpFile();
    WriteProgramFile(kVersion, QByteArray("\x01\x02\x03", 3));
    TForm1 &f = Start();
    EXPECT_TRUE(f.Button1->isEnabled());
    EXPECT_EQ(quint8(reinterpret_cast<const char *>(&Unit1::t_version)[0]), 1);
    Stop();
    WriteProgramFile(kVersion, QByteArray(5000, '\x7F'));
    Start();
    EXPECT_EQ(Unit1::t_version.version, 0x7F7F7F7F);
}

TEST_F(MainWindowFixture, VersionWritersKeepWhatFollowsTheRecord)
{
    ProvideHelpFile();
    TForm1 &f = Start();
    Unit1::versionsnum = 203;

    f.version_speichern(&f); // no file: created, then the record written
    QByteArray file = ReadProgramFile(kVersion);
    ASSERT_EQ(file.size(), 104);
    std::int32_t written = 0;
    std::memcpy(&written, file.constData() + 16, 4);
    EXPECT_EQ(written, 203);

    WriteProgramFile(kVersion, QByteArray(104, '\0') + QByteArray("rest"));
    Unit1::t_version.version = 1;
    f.version_speichern(&f);
    file = ReadProgramFile(kVersion);
    ASSERT_EQ(file.size(), 108);
    std::memcpy(&written, file.constData() + 16, 4);
    EXPECT_EQ(written, 203);
    EXPECT_EQ(file.right(4), QByteArray("rest"));
}

TEST_F(MainWindowFixture, StyleFileTakesItsFirstLine)
{
    ProvideHelpFile();
    WriteProgramFile(kStyle, QByteArray("Carbon\r\nGlossy\n"));
    Start();
    EXPECT_EQ(Farben::style, QStringLiteral("Carbon"));
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Carbon"));
    Stop();

    WriteProgramFile(kStyle, QByteArray("Sky\nCarbon"));
    Start();
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Sky"));
    Stop();

    WriteProgramFile(kStyle, QByteArray());
    Start();
    EXPECT_EQ(Farben::style, QStringLiteral("Windows"));
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Windows"));
    EXPECT_TRUE(boxes.errors().isEmpty());
}

TEST_F(MainWindowFixture, NoStyleFileKeepsTheStartUpLookAndCreatesNothing)
{
    ProvideHelpFile();
    Start();
    EXPECT_EQ(Farben::style, QString());
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Aqua Light Slate"));
    EXPECT_FALSE(ProgramFileExists(kStyle));
}

TEST_F(MainWindowFixture, UnknownStyleIsReportedAndStartUpGoesOn)
{
    ProvideHelpFile();
    WriteProgramFile(kStyle, QByteArray("Neon Pink"));
    TForm1 &f = Start();
    EXPECT_EQ(boxes.errors(), QStringList{"Stil 'Neon Pink' nicht gefunden"});
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Aqua Light Slate"));
    // The steps after the style still ran.
    EXPECT_FALSE(f.Button4->isEnabled());
    EXPECT_FALSE(f.Button3->isEnabled());
}

TEST_F(MainWindowFixture, SavedStyleIsExactlyTheNameAndAppliesAtNextStart)
{
    ProvideHelpFile();
    Start();
    Farben::style = QStringLiteral("Glossy");
    platform::StyleEngine::SetStyle(Farben::style);
    TFarbe::style_speichern();
    EXPECT_EQ(ReadProgramFile(kStyle), QByteArray("Glossy"));
    Stop();

    Farben::style.clear();
    platform::StyleEngine::SetStyle(QStringLiteral("Aqua Light Slate"));
    Start();
    EXPECT_EQ(platform::StyleEngine::ActiveStyle(), QStringLiteral("Glossy"));
}

TEST(StyleEngine, OffersFortyNamesAndRejectsUnknownOnes)
{
    Farben::InstallStyles(); // as start-up does
    QStringList names = platform::StyleEngine::StyleNames();
    EXPECT_EQ(names.size(), 40);
    EXPECT_EQ(names.removeDuplicates(), 0);
    EXPECT_TRUE(names.contains("Windows"));
    EXPECT_TRUE(names.contains("Aqua Light Slate"));
    EXPECT_TRUE(names.contains("Windows10 SlateGray"));
    try {
        platform::StyleEngine::SetStyle(QStringLiteral("Gibtsnicht"));
        FAIL() << "unknown style accepted";
    } catch (const std::exception &e) {
        EXPECT_STREQ(e.what(), "Stil 'Gibtsnicht' nicht gefunden");
    }
}

TEST(DataDirectory, FallsBackToTheUserConfigurationFolder)
{
    using platform::DataDirectoryFor;
    EXPECT_EQ(DataDirectoryFor("/opt/q", true, "/x", "/home/u"), QStringLiteral("/opt/q/"));
    EXPECT_EQ(DataDirectoryFor("/usr/lib/q/", false, "/home/u/cfg", "/home/u"),
              QStringLiteral("/home/u/cfg/Quillora/"));
    EXPECT_EQ(DataDirectoryFor("/usr/lib/q/", false, "", "/home/u"), QStringLiteral("/home/u/.config/Quillora/"));
    // An installed program directory is never written, not even by root.
    EXPECT_EQ(DataDirectoryFor("/usr/lib/quillora", true, "", "/root"), QStringLiteral("/root/.config/Quillora/"));
    EXPECT_EQ(DataDirectoryFor("/usr/local/lib/quillora/", true, "", "/root"),
              QStringLiteral("/root/.config/Quillora/"));
    EXPECT_EQ(DataDirectoryFor("/usrdata/q/", true, "", "/home/u"), QStringLiteral("/usrdata/q/"));
    // A relative XDG_CONFIG_HOME is not valid and is ignored.
    EXPECT_EQ(DataDirectoryFor("/usr/lib/q/", false, "cfg", "/home/u/"),
              QStringLiteral("/home/u/.config/Quillora/"));
}

TEST(DirectorySearch, MatchesIgnoringCaseAndFiltersByAttribute)
{
    QTemporaryDir dir;
    const QString d = dir.path() + "/";
    for (const char *n : {"a.jpg", "B.JPG", ".h.jpg", "c.jpgx", "d.png"})
        MainWindowFixture::WriteFile(d + n, "x");
    QDir(d).mkdir("sub.jpg");

    auto collect = [&](int attr) {
        QStringList out;
        platform::TSearchRec rec;
        int r = platform::FindFirst(d + "*.jpg", attr, rec);
        while (r == 0) {
            out << rec.Name;
            r = platform::FindNext(rec);
        }
        platform::FindClose(rec);
        out.sort();
        return out;
    };
    EXPECT_EQ(collect(platform::faAnyFile), (QStringList{".h.jpg", "B.JPG", "a.jpg", "sub.jpg"}));
    EXPECT_EQ(collect(0), (QStringList{"B.JPG", "a.jpg"}));
    EXPECT_EQ(collect(platform::faDirectory), (QStringList{"B.JPG", "a.jpg", "sub.jpg"}));

    platform::TSearchRec rec;
    EXPECT_NE(platform::FindFirst(d + "gibtsnicht/*.jpg", platform::faAnyFile, rec), 0);
    EXPECT_NE(platform::FindFirst(d + "*.tif", platform::faAnyFile, rec), 0);

    ASSERT_EQ(platform::FindFirst(d + "sub.jpg", platform::faAnyFile, rec), 0);
    EXPECT_TRUE(rec.Attr & platform::faDirectory);
    EXPECT_EQ(rec.Size(), 0);
    ASSERT_EQ(platform::FindFirst(d + "a.j?g", 0, rec), 0);
    EXPECT_EQ(rec.Name, QStringLiteral("a.jpg"));
    EXPECT_EQ(rec.Size(), 1);
    EXPECT_TRUE(rec.Time().isValid());
    platform::FindClose(rec);
    EXPECT_FALSE(platform::FileExists(d + "sub.jpg"));
    EXPECT_TRUE(platform::FileExists(d + "a.jpg"));
    EXPECT_FALSE(platform::FileExists(QString()));
}

TEST(DirectorySearch, OnePassFindsWhatOneSearchPerPatternFinds)
{
    QTemporaryDir dir;
    const QString d = dir.path() + "/";
    for (int i = 0; i < 200; ++i)
        MainWindowFixture::WriteFile(d + QString("f%1.%2").arg(i).arg(i % 3 == 0 ? "JPG" : i % 3 == 1 ? "bmp" : "txt"),
                                     "x");
    QDir(d).mkdir("ordner.bmp");
    ASSERT_EQ(::symlink("f0.JPG", QFile::encodeName(d + "link.jpg").constData()), 0);
    ASSERT_EQ(::symlink("nirgends", QFile::encodeName(d + "kaputt.bmp").constData()), 0);

    QStringList perPattern[2];
    const QStringList patterns{"*.jpg", "*.bmp"};
    for (int i = 0; i < 2; ++i) {
        platform::TSearchRec rec;
        int r = platform::FindFirst(d + patterns[i], platform::faAnyFile, rec);
        while (r == 0) {
            perPattern[i] << rec.Name;
            r = platform::FindNext(rec);
        }
    }
    QStringList onePass[2];
    EXPECT_EQ(platform::SearchFolder(d, patterns, platform::faAnyFile,
                                     [&](int p, const platform::TSearchRec &rec) { onePass[p] << rec.Name; }),
              0);
    EXPECT_EQ(onePass[0], perPattern[0]);
    EXPECT_EQ(onePass[1], perPattern[1]);
    EXPECT_EQ(onePass[0].size(), 67 + 1);
    EXPECT_EQ(onePass[1].size(), 67 + 2);
    EXPECT_NE(platform::SearchFolder(d + "fehlt/", patterns, platform::faAnyFile, [](int, const auto &) {}), 0);
}

TEST(DirectorySearch, WildcardsMatchLikeTheShell)
{
    using platform::MatchesWildcard;
    EXPECT_TRUE(MatchesWildcard("*.jpg", "a.JPG"));
    EXPECT_TRUE(MatchesWildcard("*.jpg", ".jpg"));
    EXPECT_FALSE(MatchesWildcard("*.jpg", "a.jpgx"));
    EXPECT_FALSE(MatchesWildcard("*.jpg", "a.jp"));
    EXPECT_TRUE(MatchesWildcard("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(MatchesWildcard("a*b*c", "aXXbYY"));
    EXPECT_TRUE(MatchesWildcard("?.bmp", "x.BMP"));
    EXPECT_FALSE(MatchesWildcard("?.bmp", "xy.bmp"));
    EXPECT_TRUE(MatchesWildcard("*", ""));
    EXPECT_TRUE(MatchesWildcard("**.jpg", "q.jpg"));
    EXPECT_TRUE(MatchesWildcard("*ä*", "Bäckerei")); // bytes beyond ASCII compared exactly
}
