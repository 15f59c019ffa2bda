// Fixed point, paths, the library search and loading, identities, the
// pointer list and global memory.
#include "support/FakeDesktop.h"
#include "support/FixedDirectories.h"
#include "TestTwain.h"

#include "platform/Cursor.h"
#include "platform/Directories.h"
#include "platform/Files.h"
#include "platform/GlobalMemory.h"
#include "platform/Modules.h"
#include "twain/OstraTwain.h"
#include "twain/OstraTwainUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(FixedPoint, TiesGoToEvenAndNegativeValuesKeepAPositiveFraction)
{
    TW_FIX32 f = FloatToFix32(1.5);
    EXPECT_EQ(f.Whole, 1);
    EXPECT_EQ(f.Frac, 32768);
    f = FloatToFix32(0.5 / 65536);
    EXPECT_EQ(f.Whole, 0);
    EXPECT_EQ(f.Frac, 0);
    f = FloatToFix32(1.5 / 65536);
    EXPECT_EQ(f.Frac, 2);
    f = FloatToFix32(2.5 / 65536);
    EXPECT_EQ(f.Frac, 2);

    f = FloatToFix32(-1.5);
    EXPECT_EQ(static_cast<TW_UINT16>(f.Whole), 0xFFFE);
    EXPECT_EQ(f.Frac, 32768);
    EXPECT_EQ(Fix32ToFloat(f), -1.5L);

    for (Extended v : {0.0L, 300.0L, -0.25L, 32767.5L, -32768.0L, 1.0L / 65536})
        EXPECT_EQ(Fix32ToFloat(FloatToFix32(v)), v) << static_cast<double>(v);
}

TEST(FixedPoint, ValuesOutsideTheRangeWrapAndNonNumbersGiveZero)
{
    TW_FIX32 f = FloatToFix32(32768.0);
    EXPECT_EQ(f.Whole, -32768);
    EXPECT_EQ(f.Frac, 0);
    f = FloatToFix32(65536.0 * 65536.0 * 3 + 2.0);
    EXPECT_EQ(f.Whole, 2);
    f = FloatToFix32(std::numeric_limits<Extended>::infinity());
    EXPECT_EQ(f.Whole, 0);
    EXPECT_EQ(f.Frac, 0);
}

TEST(Paths, LastPositionAndExtractDirectoryUseThePlatformDelimiter)
{
    EXPECT_EQ(LastPosition(QStringLiteral("abc"), QStringLiteral("\\:")), 3);
    EXPECT_EQ(LastPosition(QString(), QStringLiteral("\\:")), 0);
    EXPECT_EQ(LastPosition(QStringLiteral("a/b/c"), QStringLiteral("/")), 4);
    EXPECT_EQ(ExtractDirectory(QStringLiteral("/opt/scan/prog")), QStringLiteral("/opt/scan/"));
    EXPECT_EQ(ExtractDirectory(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(ExtractDirectory(QStringLiteral("prog")), QStringLiteral("prog"));
    // ":" is an ordinary character of a Linux file name.
    EXPECT_EQ(ExtractDirectory(QStringLiteral("/data/a:b/c:d")), QStringLiteral("/data/a:b/"));

    QString dir = QStringLiteral("/tmp");
    IncludeTrailingBackslash(dir);
    EXPECT_EQ(dir, QStringLiteral("/tmp/"));
    IncludeTrailingBackslash(dir);
    EXPECT_EQ(dir, QStringLiteral("/tmp/"));
    QString empty;
    IncludeTrailingBackslash(empty);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(Str255, CutsLongValuesAndAlwaysEndsInZero)
{
    TW_STR255 s;
    std::memset(s, 'x', sizeof s);
    StrToStr255(QByteArray(300, 'a'), s);
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s[254], 'a');
    EXPECT_EQ(s[255], 0);
    StrToStr255(QByteArray(), s);
    for (char c : s)
        ASSERT_EQ(c, 0);
}

// Points all five directory kinds at empty folders of the test's own.
class Directories : public ::testing::Test {
protected:
    void SetUp() override
    {
        using platform::DirectoryKind;
        for (auto kind : {DirectoryKind::Windows, DirectoryKind::System, DirectoryKind::Current,
                          DirectoryKind::Application, DirectoryKind::Temp})
            dirs->Set(kind, dir(kind));
        // The application kind names the executable, not its folder.
        dirs->Set(DirectoryKind::Application, dir(DirectoryKind::Application) + "quillora");
    }
    void TearDown() override { dirs.reset(); }

    QString dir(platform::DirectoryKind kind) const
    {
        return root.path() + QStringLiteral("/k%1/").arg(static_cast<int>(kind));
    }
    void place(platform::DirectoryKind kind, const char *probe)
    {
        QDir().mkpath(dir(kind));
        ASSERT_TRUE(QFile::copy(QString::fromLocal8Bit(probe), dir(kind) + "TWAIN_32.DLL"));
    }

    QTemporaryDir root;
    std::unique_ptr<testing_support::FixedDirectories> dirs = std::make_unique<testing_support::FixedDirectories>();
};

TEST_F(Directories, CustomDirectoriesEndInTheDelimiterAndApplicationIsTheFolder)
{
    EXPECT_EQ(GetCustomDirectory(dkApplication), dir(platform::DirectoryKind::Application));
    dirs->Set(platform::DirectoryKind::Temp, QStringLiteral("/var/tmp"));
    EXPECT_EQ(GetCustomDirectory(dkTemp), QStringLiteral("/var/tmp/"));
    dirs.reset();
    EXPECT_TRUE(GetCustomDirectory(dkApplication).endsWith(u'/'));
    EXPECT_EQ(GetCustomDirectory(dkApplication), platform::ProgramDirectory());
    EXPECT_EQ(GetCustomDirectory(dkCurrent), QDir::currentPath() + "/");
}

TEST_F(Directories, TheManagerIsLookedForInTheFixedOrder)
{
    EXPECT_EQ(GetTwainDirectory(), QString());
    place(platform::DirectoryKind::Application, PROBE_DSM_PATH);
    EXPECT_EQ(GetTwainDirectory(), dir(platform::DirectoryKind::Application));
    place(platform::DirectoryKind::Windows, PROBE_DSM_PATH);
    EXPECT_EQ(GetTwainDirectory(), dir(platform::DirectoryKind::Windows));
    EXPECT_TRUE(FileExists(dir(platform::DirectoryKind::Windows)));
}

TEST_F(Directories, LoadLibraryLoadsARealManagerAndGetsItsEntryByOrdinal)
{
    place(platform::DirectoryKind::Temp, PROBE_DSM_PATH);
    place(platform::DirectoryKind::Current, PROBE_DSM_PATH);
    TestTwain twain;
    ASSERT_TRUE(twain.LoadLibrary());
    EXPECT_TRUE(twain.LibraryLoaded());
    ASSERT_NE(twain.TwainProc(), nullptr);
    EXPECT_NE(twain.Handle(), nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(twain.TwainProc()),
              reinterpret_cast<void *>(GetProcAddress(twain.Handle(), "DSM_Entry")));
    TW_STATUS status{};
    EXPECT_EQ(twain.TwainProc()(twain.AppIdentity(), nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status),
              TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, 0x4242);
    twain.SetSourceManagerLoaded(true);
    EXPECT_TRUE(twain.SourceManagerLoaded());
    EXPECT_EQ(twain.SourceCount(), 0);
    EXPECT_TRUE(twain.UnloadLibrary());
    EXPECT_FALSE(twain.LibraryLoaded());
    EXPECT_EQ(twain.Handle(), nullptr);
    EXPECT_EQ(twain.TwainProc(), nullptr);
}

TEST_F(Directories, LoadLibraryFailsWithoutFileModuleOrOrdinalOne)
{
    TestTwain twain;
    EXPECT_FALSE(twain.LoadLibrary()); // no file anywhere
    EXPECT_EQ(twain.Handle(), nullptr);

    // A file that is no shared object gives no module.
    QDir().mkpath(dir(platform::DirectoryKind::System));
    QFile junk(dir(platform::DirectoryKind::System) + "TWAIN_32.DLL");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a shared object");
    junk.close();
    EXPECT_FALSE(twain.LoadLibrary());
    EXPECT_EQ(twain.Handle(), nullptr);
    EXPECT_FALSE(twain.LibraryLoaded());

    // A shared object without DSM_Entry: loaded, then freed again.
    place(platform::DirectoryKind::Windows, PROBE_NOENTRY_PATH);
    EXPECT_FALSE(twain.LoadLibrary());
    EXPECT_EQ(twain.Handle(), nullptr);
    EXPECT_EQ(twain.TwainProc(), nullptr);
    EXPECT_FALSE(twain.LibraryLoaded());
}

TEST(Modules, OrdinalsMapToNamesAndSmallNamePointersAreOrdinals)
{
    EXPECT_STREQ(platform::OrdinalName(1), "DSM_Entry");
    EXPECT_EQ(platform::OrdinalName(2), nullptr);
    HMODULE probe = LoadLibrary(QStringLiteral(PROBE_DSM_PATH));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(GetProcAddress(probe, MAKEINTRESOURCEA(1)), GetProcAddress(probe, "DSM_Entry"));
    EXPECT_EQ(GetProcAddress(probe, WORD(2)), nullptr);
    EXPECT_EQ(GetProcAddress(probe, "NoSuchExport"), nullptr);
    EXPECT_TRUE(FreeLibrary(probe));
    EXPECT_EQ(LoadLibrary(QStringLiteral("/nonexistent/TWAIN_32.DLL")), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(Identity, DefaultsStringsGroupsAndLanguage)
{
    TTwainIdentity id;
    EXPECT_EQ(id.ProductName(), QStringLiteral("App product name"));
    EXPECT_EQ(id.Manufacturer(), QStringLiteral("Application manufacturer"));
    EXPECT_EQ(id.ProductFamily(), QStringLiteral("App product family"));
    EXPECT_EQ(id.VersionInfo(), QStringLiteral("Application name"));
    EXPECT_EQ(id.MajorVersion(), 1);
    EXPECT_EQ(id.MinorVersion(), 0);
    EXPECT_EQ(id.CountryCode(), 1);
    EXPECT_EQ(id.Groups(), (TTwainGroups{tgControl, tgImage}));
    EXPECT_EQ(id.Structure.ProtocolMajor, 1);
    EXPECT_EQ(id.Structure.ProtocolMinor, 9);
    EXPECT_EQ(id.Structure.Version.Language, 0xFFFF);
    EXPECT_EQ(+id.Structure.SupportedGroups, 3u);
    EXPECT_EQ(+id.Structure.Id, 0u);
    EXPECT_EQ(id.Language(), tlUserLocale);

    id.SetLanguage(tlGerman);
    EXPECT_EQ(id.Structure.Version.Language, 6);
    EXPECT_EQ(id.Language(), tlGerman);
    id.Structure.Version.Language = 113;
    EXPECT_EQ(id.Language(), tlVietnamese);
    id.Structure.Version.Language = 500;
    EXPECT_EQ(id.Language(), tlUserLocale);

    id.SetString(3, QString(40, u'N'));
    EXPECT_EQ(id.GetString(7), QString(33, u'N'));
    EXPECT_EQ(id.Structure.ProductName[33], 0);
    // A character of several bytes is not cut in two.
    id.SetString(1, QString(32, u'a') + QStringLiteral("ÄÖ"));
    EXPECT_EQ(id.Manufacturer(), QString(32, u'a'));

    id.SetGroups({});
    EXPECT_EQ(+id.Structure.SupportedGroups, 1u);
    EXPECT_EQ(id.Groups(), TTwainGroups{tgControl});
    id.SetGroups({tgAudio});
    EXPECT_EQ(+id.Structure.SupportedGroups, 5u);
    id.Structure.SupportedGroups = 0xFFFFFFF8u | DG_IMAGE;
    EXPECT_EQ(id.Groups(), (TTwainGroups{tgControl, tgImage}));
}

TEST(Identity, AssignCopiesOnlyFromIdentities)
{
    TTwainIdentity a;
    TTwainIdentity b;
    b.SetProductName(QStringLiteral("Other"));
    b.Structure.Id = 77;
    TObject foreign;
    const TW_IDENTITY before = a.Structure;
    a.Assign(&foreign);
    a.Assign(nullptr);
    EXPECT_EQ(std::memcmp(&a.Structure, &before, sizeof before), 0);
    a.Assign(&b);
    EXPECT_EQ(std::memcmp(&a.Structure, &b.Structure, sizeof before), 0);
    EXPECT_EQ(a.ProductName(), QStringLiteral("Other"));
}

TEST(PointerList, GrowsInBlocksAndGuardsItsIndices)
{
    TPointerList list;
    EXPECT_EQ(list.Allocated(), 10);
    std::vector<int> values(25);
    std::vector<int> seen;
    for (int i = 0; i < 25; ++i) {
        list.Add(&values[i]);
        seen.push_back(list.Allocated());
    }
    EXPECT_EQ(seen[9], 10);
    EXPECT_EQ(seen[10], 20);
    EXPECT_EQ(seen[20], 30);
    EXPECT_EQ(list.Count(), 25);
    EXPECT_EQ(list[24], &values[24]);
    EXPECT_EQ(list[0], &values[0]);
    EXPECT_EQ(list[25], nullptr);
    EXPECT_EQ(list[-1], nullptr);
    list.PutItem(25, &values[0]);
    list.PutItem(-1, &values[0]);
    EXPECT_EQ(list.Count(), 25);

    list.SetCount(-1);
    EXPECT_EQ(list.Count(), 25);
    list.SetAllocated(5); // below the count: ignored
    EXPECT_EQ(list.Allocated(), 30);
    list.SetCount(3); // lowering never frees slots
    EXPECT_EQ(list.Allocated(), 30);
    EXPECT_EQ(list[3], nullptr);

    list.SetAdditionalBlock(0);
    list.SetAdditionalBlock(-4);
    EXPECT_EQ(list.AdditionalBlock(), 10);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Allocated(), 10);
    list.SetAdditionalBlock(7);
    list.SetCount(11);
    EXPECT_EQ(list.Allocated(), 17);
    EXPECT_EQ(list[10], nullptr);
}

TEST(GlobalMemory, BlocksAreZeroedCountedAndSelfDescribing)
{
    const long before = platform::GlobalLiveBlocks();
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(platform::GlobalLiveBlocks(), before + 1);
    EXPECT_EQ(GlobalSize(h), 10u);
    auto *p = static_cast<unsigned char *>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(p[i], 0);
    EXPECT_EQ(GlobalLock(h), p); // the address stays
    EXPECT_TRUE(GlobalUnlock(h));
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(platform::GlobalLiveBlocks(), before);

    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(GlobalLock(empty), nullptr);
    GlobalUnlock(empty);
    GlobalFree(empty);

    int notABlock[8] = {};
    EXPECT_EQ(GlobalLock(notABlock), nullptr);
    // Handles a misbehaving source might hand over: unmapped, unreadable or
    // misaligned addresses are refused without touching them.
    for (std::uintptr_t bogus : {std::uintptr_t(0x10), std::uintptr_t(0x7ffff0000000), std::uintptr_t(-16),
                                 reinterpret_cast<std::uintptr_t>(p) + 1}) {
        EXPECT_EQ(GlobalLock(reinterpret_cast<HGLOBAL>(bogus)), nullptr);
        EXPECT_EQ(GlobalSize(reinterpret_cast<HGLOBAL>(bogus)), 0u);
        EXPECT_FALSE(GlobalUnlock(reinterpret_cast<HGLOBAL>(bogus)));
    }
    EXPECT_EQ(GlobalSize(notABlock), 0u);
    EXPECT_EQ(GlobalFree(notABlock), static_cast<HGLOBAL>(notABlock));
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, SIZE_T(-1)), nullptr);

    platform::SetGlobalAllocFailureHook([](SIZE_T size) { return size == 12; });
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, 12), nullptr);
    HGLOBAL other = GlobalAlloc(GMEM_MOVEABLE, 13);
    EXPECT_NE(other, nullptr);
    GlobalFree(other);
    platform::SetGlobalAllocFailureHook({});
    EXPECT_EQ(platform::GlobalLiveBlocks(), before);
}

TEST(Tables, ReverseTranslationsMapUnknownValuesToTheUnknownMember)
{
    EXPECT_EQ(TwainToTTwainUnit(TWUN_PIXELS), tuPixels);
    EXPECT_EQ(TwainToTTwainUnit(6), tuUnknown);
    EXPECT_EQ(TwainToTTwainPixelFlavor(TWPF_VANILLA), tpfVanilla);
    EXPECT_EQ(TwainToTTwainPixelFlavor(2), tpfUnknown);
    EXPECT_EQ(TwainToTTwainPixelType(TWPT_CIEXYZ), tbdCieXYZ);
    for (TW_UINT16 v : {9, 10, 11, 13, 0xFFFF})
        EXPECT_EQ(TwainToTTwainPixelType(v), tbdUnknown) << v;
    EXPECT_EQ(TwainToTTwainPixelType(TWPT_BGR), tbdBgr);
    EXPECT_EQ(FormatToTwain[tfUnknown], TWFF_TIFF);
    EXPECT_EQ(FormatToTwain[tfJPEG], TWFF_JFIF);
    EXPECT_EQ(PixelColor[tpfVanilla].Value0, 255);
    EXPECT_EQ(PixelColor[tpfUnknown].Value0, 0);
}

TEST(MakeMsgRecord, CarriesTheCursorPositionAndNoTime)
{
    MSG m;
    {
        testing_support::FakeDesktop desktop;
        desktop.cursor = POINT{17, -4};
        m = MakeMsg(reinterpret_cast<HWND>(std::uintptr_t(0x40)), WM_USER, 3, -9);
    }
    EXPECT_EQ(m.hwnd, reinterpret_cast<HWND>(std::uintptr_t(0x40)));
    EXPECT_EQ(m.message, WM_USER);
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_EQ(m.lParam, -9);
    EXPECT_EQ(m.pt.x, 17);
    EXPECT_EQ(m.pt.y, -4);
    EXPECT_EQ(m.time, 0u);
}

} // namespace
