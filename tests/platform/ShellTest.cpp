// The real shell: which files it starts, which it hands to the desktop, and
// the Windows result codes it gives for each outcome.
#include "platform/Shell.h"
#include "support/QtApp.h"
#include "support/ScriptedShell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/wait.h>

namespace {

using platform::ShellExecute;

class RealShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureQtApplication();
        ASSERT_TRUE(dir.isValid());
    }
    QString path(const QString &name) const { return dir.path() + QLatin1Char('/') + name; }
    void writeFile(const QString &name, const QByteArray &bytes, bool executable) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        auto perms = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            perms |= QFile::ExeOwner;
        ASSERT_TRUE(f.setPermissions(perms));
    }
    // Waits until |name| exists and has content (a started program writes it).
    QByteArray waitForFile(const QString &name) const
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            QFile f(path(name));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = f.readAll();
                if (bytes.endsWith('\n'))
                    return bytes;
            }
            QThread::msleep(20);
        }
        return {};
    }

    QTemporaryDir dir;
    testing_support::ScriptedDesktop desktop;
};

TEST_F(RealShell, StartsAnExecutableDetachedInItsWorkingDirectoryWithItsParameters)
{
    writeFile(QStringLiteral("Update.Exe"), "#!/bin/sh\n{ pwd; echo \"$1|$2\"; } > ran.txt\n", true);
    const INT r = ShellExecute(nullptr, QString(), QStringLiteral("Update.Exe"), QStringLiteral("eins \"zwei drei\""),
                               dir.path(), platform::SW_SHOW);
    EXPECT_GT(r, 32);
    EXPECT_EQ(waitForFile(QStringLiteral("ran.txt")),
              QFile::encodeName(QDir(dir.path()).canonicalPath()) + "\neins|zwei drei\n");
    // Detached: no child of ours is left to reap.
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(desktop.opened.empty());
}

TEST_F(RealShell, ResultCodesForFilesThatCannotBeStarted)
{
    writeFile(QStringLiteral("text.exe"), "kein Programm\n", true);
    writeFile(QStringLiteral("update.exe"), "#!/bin/sh\ntouch lower-ran.txt\necho >> lower-ran.txt\n", true);

    struct Case {
        const char *what;
        QString file;
        QString directory;
        INT expected;
    };
    const Case cases[] = {
        {"missing program", QStringLiteral("Update2.Exe"), dir.path(), platform::ERROR_FILE_NOT_FOUND},
        {"missing working directory", QStringLiteral("Update.Exe"), path(QStringLiteral("fehlt")),
         platform::ERROR_PATH_NOT_FOUND},
        {"missing folder in the file's path", QStringLiteral("fehlt/Update.Exe"), dir.path(),
         platform::ERROR_PATH_NOT_FOUND},
        {"executable that is no program", QStringLiteral("text.exe"), dir.path(), platform::ERROR_BAD_FORMAT},
        {"empty file name", QString(), dir.path(), platform::ERROR_FILE_NOT_FOUND},
        // Windows file names ignore letter case: update.exe answers for Update.Exe.
        {"name in other letter case", QStringLiteral("Update.Exe"), dir.path(), platform::SHELL_SUCCESS},
    };
    for (const Case &c : cases) {
        const INT r = ShellExecute(nullptr, QString(), c.file, QString(), c.directory, platform::SW_SHOW);
        EXPECT_EQ(r > 32 ? platform::SHELL_SUCCESS : r, c.expected) << c.what;
    }
    EXPECT_FALSE(waitForFile(QStringLiteral("lower-ran.txt")).isEmpty());
    EXPECT_TRUE(desktop.opened.empty());
}

TEST_F(RealShell, DocumentsFoldersAndAddressesGoToTheDesktop)
{
    writeFile(QStringLiteral("brief.pdf"), "%PDF-1.4\n", false);

    EXPECT_GT(ShellExecute(nullptr, QStringLiteral("open"), QStringLiteral("https://quillora.example.org"), QString(),
                           QString(), platform::SW_SHOWNORMAL),
              32);
    EXPECT_GT(ShellExecute(nullptr, QString(), QStringLiteral("brief.pdf"), QString(), dir.path(), platform::SW_SHOW),
              32);
    EXPECT_GT(ShellExecute(nullptr, QString(), dir.path(), QString(), QString(), platform::SW_SHOW), 32);
    ASSERT_EQ(desktop.opened.size(), 3u);
    EXPECT_EQ(desktop.opened[0], QUrl(QStringLiteral("https://quillora.example.org")));
    EXPECT_EQ(desktop.opened[1], QUrl::fromLocalFile(path(QStringLiteral("brief.pdf"))));
    EXPECT_EQ(desktop.opened[2], QUrl::fromLocalFile(dir.path()));

    // No program for it: 31; a verb nothing answers to: 31 without asking.
    desktop.answer = false;
    EXPECT_EQ(ShellExecute(nullptr, QString(), QStringLiteral("brief.pdf"), QString(), dir.path(), platform::SW_SHOW),
              platform::SE_ERR_NOASSOC);
    EXPECT_EQ(ShellExecute(nullptr, QStringLiteral("print"), QStringLiteral("mailto:a@b.example"), QString(),
                           QString(), platform::SW_SHOW),
              platform::SE_ERR_NOASSOC);
    EXPECT_EQ(desktop.opened.size(), 4u);
}

TEST(ShellCodes, SystemErrorsMapToTheShellsCodes)
{
    struct Row {
        int error;
        INT code;
    };
    for (const Row &r : {Row{ENOENT, 2}, Row{ENOTDIR, 3}, Row{EACCES, 5}, Row{EPERM, 5}, Row{ETXTBSY, 5},
                         Row{ENOMEM, 8}, Row{ENOEXEC, 11}, Row{ELIBBAD, 11}, Row{EIO, 0}})
        EXPECT_EQ(platform::ShellResultForErrno(r.error), r.code) << r.error;
    EXPECT_TRUE(platform::IsAddress(QStringLiteral("https://x.example")));
    EXPECT_TRUE(platform::IsAddress(QStringLiteral("mailto:a@b.example")));
    EXPECT_FALSE(platform::IsAddress(QStringLiteral("C:\\Update.Exe")));
    EXPECT_FALSE(platform::IsAddress(QStringLiteral("/opt/quillora/Update.Exe")));
}

} // namespace
