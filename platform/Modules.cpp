#include "platform/Modules.h"

#include "platform/Files.h"

#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <glob.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcModules, "quillora.modules", QtWarningMsg)

namespace platform {
namespace {

QString withSlash(QString dir)
{
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Owner and write permission of one file or folder on the way.
QString checkEntry(const QByteArray &path, const struct stat &st, bool isFile)
{
    const uid_t me = ::geteuid();
    const QString what = isFile ? QStringLiteral("the file") : QStringLiteral("the folder ") + QFile::decodeName(path);
    if (st.st_uid != 0 && st.st_uid != me)
        return QStringLiteral("%1 belongs to user %2, neither root nor the program's user").arg(what).arg(st.st_uid);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        // A root-owned sticky folder (/tmp): others may add entries but
        // cannot replace ours.
        if (!isFile && st.st_uid == 0 && (st.st_mode & S_ISVTX) != 0)
            return QString();
        return QStringLiteral("%1 can be written by group or others").arg(what);
    }
    return QString();
}

// Directories of /etc/ld.so.conf and its includes, in file order.
void readLoaderConfig(const QByteArray &file, QStringList &out, int depth)
{
    if (depth > 8)
        return;
    QFile f(QFile::decodeName(file));
    if (!f.open(QIODevice::ReadOnly))
        return;
    while (!f.atEnd()) {
        QByteArray line = f.readLine();
        const qsizetype hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith("include") && line.size() > 7 && (line[7] == ' ' || line[7] == '\t')) {
            QByteArray pattern = line.mid(8).trimmed();
            if (!pattern.startsWith('/')) {
                const qsizetype slash = file.lastIndexOf('/');
                pattern = file.left(slash + 1) + pattern;
            }
            glob_t g{};
            if (::glob(pattern.constData(), 0, nullptr, &g) == 0) {
                for (std::size_t i = 0; i < g.gl_pathc; ++i)
                    readLoaderConfig(QByteArray(g.gl_pathv[i]), out, depth + 1);
            }
            ::globfree(&g);
            continue;
        }
        if (line.startsWith('/'))
            out << withSlash(QFile::decodeName(line));
    }
}

class DlModuleService final : public ModuleService {
public:
    HMODULE load(const QString &fileName) override
    {
        const QString path = FindLibrary(fileName);
        if (path.isEmpty())
            return nullptr;
        const QByteArray bytes = QFile::encodeName(path);
        void *module = dlopen(bytes.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module)
            qCInfo(lcModules) << "dlopen" << path << "failed:" << dlerror();
        return static_cast<HMODULE>(module);
    }

    FARPROC symbol(HMODULE module, const char *name) override
    {
        if (!module || !name)
            return nullptr;
        void *sym = dlsym(static_cast<void *>(module), name);
        return reinterpret_cast<FARPROC>(sym);
    }

    bool free(HMODULE module) override
    {
        return module && dlclose(static_cast<void *>(module)) == 0;
    }
};

ModuleService &current()
{
    return Service<ModuleService>::get();
}

} // namespace

QString LibraryFileRefusal(const QString &path, QString *resolved)
{
    if (path.isEmpty())
        return QStringLiteral("no file name");
    const QByteArray bytes = QFile::encodeName(path);
    char real[PATH_MAX];
    if (!::realpath(bytes.constData(), real))
        return QStringLiteral("it cannot be found (%1)").arg(errnoText(errno));
    if (resolved)
        *resolved = QFile::decodeName(real);
    struct stat st {};
    if (::stat(real, &st) != 0)
        return QStringLiteral("it cannot be read (%1)").arg(errnoText(errno));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is not a regular file");
    QString why = checkEntry(QByteArray(real), st, true);
    if (!why.isEmpty())
        return why;
    // Every folder up to "/"; the resolved path has no links left in it.
    QByteArray dir(real);
    while (dir != "/") {
        const qsizetype slash = dir.lastIndexOf('/');
        dir.truncate(slash > 0 ? slash : 1);
        if (::lstat(dir.constData(), &st) != 0)
            return QStringLiteral("the folder %1 cannot be read (%2)").arg(QFile::decodeName(dir), errnoText(errno));
        why = checkEntry(dir, st, false);
        if (!why.isEmpty())
            return why;
    }
    return QString();
}

QStringList LoaderSearchFolders()
{
    QStringList folders;
    // The loader ignores the variable for a set-id program.
    if (::getauxval(AT_SECURE) == 0) {
        const QByteArray env = qgetenv("LD_LIBRARY_PATH");
        for (const QByteArray &part : env.split(':')) {
            if (!part.isEmpty())
                folders << withSlash(QFile::decodeName(part));
        }
    }
    readLoaderConfig(QByteArrayLiteral("/etc/ld.so.conf"), folders, 0);
    folders << QStringLiteral("/lib/x86_64-linux-gnu/") << QStringLiteral("/usr/lib/x86_64-linux-gnu/")
            << QStringLiteral("/lib/") << QStringLiteral("/usr/lib/") << QStringLiteral("/lib64/")
            << QStringLiteral("/usr/lib64/");
    folders.removeDuplicates();
    return folders;
}

QString FindLibrary(const QString &fileName)
{
    if (fileName.isEmpty())
        return QString();
    auto usable = [](const QString &candidate) {
        struct stat st {};
        if (::stat(QFile::encodeName(candidate).constData(), &st) != 0) {
            qCInfo(lcModules).noquote() << "No library" << candidate;
            return QString();
        }
        QString resolved;
        const QString why = LibraryFileRefusal(candidate, &resolved);
        if (why.isEmpty())
            return resolved;
        qCWarning(lcModules).noquote() << "Not loading" << candidate << "because" << why;
        return QString();
    };
    if (fileName.contains(u'/'))
        return usable(fileName);
    QStringList folders{ProgramDirectory()};
    folders += LoaderSearchFolders();
    for (const QString &folder : folders) {
        const QString candidate = withSlash(folder) + fileName;
        struct stat st {};
        if (::stat(QFile::encodeName(candidate).constData(), &st) != 0)
            continue;
        const QString found = usable(candidate);
        if (!found.isEmpty())
            return found;
    }
    return QString();
}

const char *OrdinalName(WORD ordinal)
{
    switch (ordinal) {
    case 1:
        return "DSM_Entry";
    default:
        return nullptr;
    }
}

} // namespace platform

HMODULE LoadLibrary(const QString &fileName)
{
    return platform::current().load(fileName);
}

FARPROC GetProcAddress(HMODULE module, const char *nameOrOrdinal)
{
    const auto value = reinterpret_cast<std::uintptr_t>(nameOrOrdinal);
    if (value < 0x10000)
        return GetProcAddress(module, static_cast<WORD>(value));
    return platform::current().symbol(module, nameOrOrdinal);
}

FARPROC GetProcAddress(HMODULE module, WORD ordinal)
{
    const char *name = platform::OrdinalName(ordinal);
    if (!name)
        return nullptr;
    return platform::current().symbol(module, name);
}

BOOL FreeLibrary(HMODULE module)
{
    return platform::current().free(module) ? TRUE : FALSE;
}

QUILLORA_DEFINE_SERVICE(platform::ModuleService, platform::DlModuleService)
