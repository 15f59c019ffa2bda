// Finding and loading libraries: a bare name in the program directory first,
// then the dynamic loader's folders; a file that another user could have put
// there or changed is never loaded.

#include "platform/Directories.h"
#include "platform/Files.h"
#include "platform/Modules.h"
#include "support/FixedDirectories.h"
#include "support/TestSourceScript.h"
#include "twain/OstraTwain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isRoot()
{
    return ::geteuid() == 0;
}

QString copyManager(const QString &folder)
{
    QDir().mkpath(folder);
    const QString target = folder + QStringLiteral("/TWAIN_32.DLL");
    QFile::remove(target);
    EXPECT_TRUE(QFile::copy(testsupport::ManagerFile(), target));
    ::chmod(QFile::encodeName(target).constData(), 0755);
    return target;
}

// The file a loaded module was loaded from.
QString loadedFrom(HMODULE module)
{
    FARPROC entry = GetProcAddress(module, "DSM_Entry");
    Dl_info info{};
    if (!entry || dladdr(reinterpret_cast<void *>(entry), &info) == 0 || !info.dli_fname)
        return QString();
    return QFileInfo(QFile::decodeName(info.dli_fname)).canonicalFilePath();
}

void chmodPath(const QString &path, mode_t mode)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

void chownPath(const QString &path, uid_t uid)
{
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), uid, uid), 0) << path.toStdString();
}

struct Placement {
    const char *name;
    bool needsRoot;
    // Puts a library into |root| and returns the path to load.
    std::function<QString(const QString &root)> place;
    bool loads;
};

class SafeLoading : public ::testing::TestWithParam<Placement> {};

TEST_P(SafeLoading, LoadsOnlyFilesNoOtherUserCanChange)
{
    const Placement &p = GetParam();
    if (p.needsRoot && !isRoot())
        GTEST_SKIP() << "needs root to give a file to another user";
    QTemporaryDir dir; // private, below the root-owned sticky /tmp
    const QString path = p.place(dir.path());
    ASSERT_FALSE(path.isEmpty());
    const QString refusal = platform::LibraryFileRefusal(path);
    EXPECT_EQ(refusal.isEmpty(), p.loads) << refusal.toStdString();
    HMODULE module = LoadLibrary(path);
    EXPECT_EQ(module != nullptr, p.loads);
    if (module)
        FreeLibrary(module);
}

const Placement kPlacements[] = {
    {"PrivateFolder", false, [](const QString &root) { return copyManager(root + "/lib"); }, true},
    {"GroupWritableFile", false,
     [](const QString &root) {
         const QString f = copyManager(root + "/lib");
         chmodPath(f, 0775);
         return f;
     },
     false},
    {"WorldWritableFile", false,
     [](const QString &root) {
         const QString f = copyManager(root + "/lib");
         chmodPath(f, 0757);
         return f;
     },
     false},
    {"WritableFolderOnTheWay", false,
     [](const QString &root) {
         const QString f = copyManager(root + "/open/lib");
         chmodPath(root + "/open", 0777);
         return f;
     },
     false},
    {"RootOwnedStickyFolderOnTheWay", true,
     [](const QString &root) {
         const QString f = copyManager(root + "/sticky/lib");
         chmodPath(root + "/sticky", 01777);
         return f;
     },
     true},
    {"FileOfAnotherUser", true,
     [](const QString &root) {
         const QString f = copyManager(root + "/lib");
         chownPath(f, 12345);
         return f;
     },
     false},
    {"FileOfAnotherUserInAStickyFolder", true,
     [](const QString &root) {
         const QString f = copyManager(root + "/sticky");
         chmodPath(root + "/sticky", 01777);
         chownPath(f, 12345);
         return f;
     },
     false},
    {"FolderOfAnotherUserOnTheWay", true,
     [](const QString &root) {
         const QString f = copyManager(root + "/theirs/lib");
         chownPath(root + "/theirs", 12345);
         return f;
     },
     false},
    {"LinkToAWritableFile", false,
     [](const QString &root) {
         const QString f = copyManager(root + "/lib");
         chmodPath(f, 0666);
         QFile::link(f, root + "/link.so");
         return root + "/link.so";
     },
     false},
    {"LinkInAnOpenFolderToASafeFile", false,
     [](const QString &root) {
         // What is loaded is the file the link names, which is safe.
         const QString f = copyManager(root + "/lib");
         QDir().mkpath(root + "/open");
         QFile::link(f, root + "/open/link.so");
         chmodPath(root + "/open", 0777);
         return root + "/open/link.so";
     },
     true},
    {"NoSuchFile", false, [](const QString &root) { return root + "/nothing/TWAIN_32.DLL"; }, false},
};

INSTANTIATE_TEST_SUITE_P(Placements, SafeLoading, ::testing::ValuesIn(kPlacements),
                         [](const ::testing::TestParamInfo<Placement> &info) { return std::string(info.param.name); });

// --- a bare name --------------------------------------------------------------------------

class BareName : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (hadPath_)
            qputenv("LD_LIBRARY_PATH", path_);
        else
            qunsetenv("LD_LIBRARY_PATH");
    }
    void SetLoaderPath(const QString &folder) { qputenv("LD_LIBRARY_PATH", QFile::encodeName(folder)); }
    QString LoadAndTell()
    {
        HMODULE module = LoadLibrary(QStringLiteral("TWAIN_32.DLL"));
        if (!module)
            return QString();
        const QString from = loadedFrom(module);
        FreeLibrary(module);
        return from;
    }

    QTemporaryDir dir;
    testing_support::FixedDirectories directories;

private:
    bool hadPath_ = qEnvironmentVariableIsSet("LD_LIBRARY_PATH");
    QByteArray path_ = qgetenv("LD_LIBRARY_PATH");
};

TEST_F(BareName, IsFoundInTheProgramDirectoryOfTheBuildAndOfAnInstallation)
{
    SetLoaderPath(dir.path() + "/elsewhere");
    directories.SetProgramDirectory(QFileInfo(testsupport::ManagerFile()).absolutePath());
    EXPECT_EQ(LoadAndTell(), QFileInfo(testsupport::ManagerFile()).canonicalFilePath());

    const QString installed = copyManager(dir.path() + "/usr/lib/quillora");
    copyManager(dir.path() + "/elsewhere"); // later in the search
    directories.SetProgramDirectory(dir.path() + "/usr/lib/quillora");
    EXPECT_EQ(LoadAndTell(), QFileInfo(installed).canonicalFilePath());
}

TEST_F(BareName, IsThenLookedForAlongTheLoadersPathPassingUnsafeFilesOver)
{
    QDir().mkpath(dir.path() + "/bin");
    directories.SetProgramDirectory(dir.path() + "/bin"); // holds no manager
    const QString unsafe = copyManager(dir.path() + "/first");
    chmodPath(unsafe, 0777);
    const QString safe = copyManager(dir.path() + "/second");
    SetLoaderPath(dir.path() + "/first:" + dir.path() + "/second");
    EXPECT_EQ(LoadAndTell(), QFileInfo(safe).canonicalFilePath());
    EXPECT_TRUE(platform::LoaderSearchFolders().startsWith(dir.path() + "/first/"));

    SetLoaderPath(dir.path() + "/first");
    EXPECT_EQ(LoadAndTell(), QString()) << "nothing safe to load";
    EXPECT_EQ(LoadLibrary(QStringLiteral("NoSuchLibrary.DLL")), nullptr);
}

TEST_F(BareName, APlantedManagerInTheCurrentFolderIsPassedOverByTheLibrarysSearch)
{
    using platform::DirectoryKind;
    const QString planted = copyManager(dir.path() + "/current");
    chmodPath(planted, 0666);
    directories.Set(DirectoryKind::Windows, dir.path() + "/none");
    directories.Set(DirectoryKind::System, dir.path() + "/none");
    directories.Set(DirectoryKind::Current, dir.path() + "/current");
    directories.Set(DirectoryKind::Application, dir.path() + "/bin/quillora");
    directories.Set(DirectoryKind::Temp, dir.path() + "/current");
    EXPECT_EQ(GetTwainDirectory(), QString());
    copyManager(dir.path() + "/bin");
    EXPECT_EQ(GetTwainDirectory(), dir.path() + "/bin/");
}

} // namespace
