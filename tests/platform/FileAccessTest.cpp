#include "platform/FileAccess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::AtomicFile;
using platform::FileAccessError;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The id of a process that has ended.
long deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return long(child);
}

TEST(AtomicFile, ReplacesKeepingPermissionsAndLeavesNoTemporary)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Einstellung.opt");
    platform::WriteFileAtomically(path, QByteArray("alt"));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);

    platform::WriteFileAtomically(path, QByteArray("neu"));

    EXPECT_EQ(readAll(path), QByteArray("neu"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Einstellung.opt"});
}

TEST(AtomicFile, WithoutCommitOrOnFailureTheTargetIsUntouched)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Akte.jpg");
    platform::WriteFileAtomically(path, QByteArray("ganz"));
    {
        AtomicFile file(path);
        file.Write("halb", 4);
        EXPECT_TRUE(QFile::exists(QFile::decodeName(file.TemporaryPath())));
        // A write that throws half-way, as a full disk would.
    }
    EXPECT_THROW(platform::WriteFileAtomically(path,
                                               [](const platform::ByteSink &sink) {
                                                   sink(reinterpret_cast<const std::uint8_t *>("xx"), 2);
                                                   throw FileAccessError(FileAccessError::Op::Write, "Akte.jpg", ENOSPC);
                                               }),
                 FileAccessError);
    EXPECT_EQ(readAll(path), QByteArray("ganz"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Akte.jpg"});
    // A folder that is not there: a German message naming the file.
    try {
        platform::WriteFileAtomically(dir.filePath("fehlt/x.jpg"), QByteArray("1"));
        ADD_FAILURE() << "no error";
    } catch (const FileAccessError &e) {
        EXPECT_EQ(e.op(), FileAccessError::Op::Create);
        EXPECT_EQ(e.errnoValue(), ENOENT);
        EXPECT_TRUE(e.message().contains("kann nicht erstellt werden")) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("fehlt/x.jpg"));
    }
}

TEST(AtomicFile, TemporaryNameIsHiddenAndNeverADocumentName)
{
    EXPECT_EQ(platform::TemporaryNameFor("/d/Akte.bmp", 42), QByteArray("/d/.Akte.bmp.quillora-42.tmp"));
    EXPECT_EQ(platform::TemporaryNameFor("Bel\xe4ge.jpg", 7), QByteArray(".Bel\xe4ge.jpg.quillora-7.tmp"));
}

// Only files of the pattern whose process has ended are removed.
TEST(StaleTemporaries, OnlyThoseOfEndedProcessesAreRemoved)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const long dead = deadPid();
    const long alive = long(::getppid());
    struct Row {
        QByteArray name;
        bool removed;
    } rows[] = {
        {platform::TemporaryNameFor("Akte.bmp", dead), true},
        {platform::TemporaryNameFor("Einstellung.opt", dead), true},
        {platform::TemporaryNameFor("Akte.bmp", alive), false},
        {platform::TemporaryNameFor("Akte.bmp", long(::getpid())), false},
        {"Akte.bmp", false},
        {".Akte.bmp.quillora-.tmp", false},
        {".Akte.bmp.quillora-12x.tmp", false},
        {"Akte.quillora-" + QByteArray::number(qlonglong(dead)) + ".tmp", false},
    };
    for (const Row &r : rows) {
        QFile f(QFile::decodeName(folder + '/' + r.name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << r.name.constData();
    }
    EXPECT_EQ(platform::RemoveStaleTemporaries(folder), 2);
    for (const Row &r : rows)
        EXPECT_EQ(QFile::exists(QFile::decodeName(folder + '/' + r.name)), !r.removed) << r.name.constData();
}

} // namespace
