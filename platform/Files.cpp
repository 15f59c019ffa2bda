#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString programDirOverride;

QString withSlash(QString dir)
{
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct TSearchRec::State {
    DIR *dir = nullptr;
    QByteArray folder;  // with trailing '/'
    QByteArray pattern; // last component
    int attr = 0;
    ~State()
    {
        if (dir)
            ::closedir(dir);
    }
};

namespace {

int entryAttributes(const QByteArray &full, const char *name, struct stat &st, bool &ok)
{
    ok = false;
    struct stat lst {};
    if (::lstat(full.constData(), &lst) != 0)
        return 0;
    int attr = 0;
    if (S_ISLNK(lst.st_mode)) {
        attr |= faSymLink;
        // A link is judged by what it points to; a dangling one as a file.
        if (::stat(full.constData(), &st) != 0)
            st = lst;
    } else {
        st = lst;
    }
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        attr |= faSysFile;
    if (name[0] == '.')
        attr |= faHidden;
    if (::access(full.constData(), W_OK) != 0)
        attr |= faReadOnly;
    if (!(attr & (faDirectory | faSysFile)))
        attr |= faArchive;
    ok = true;
    return attr;
}

int nextMatch(TSearchRec &rec)
{
    auto *s = rec.state.get();
    if (!s || !s->dir)
        return EBADF;
    // Attributes that only an explicit request lets through.
    const int special = faHidden | faSysFile | faDirectory | faSymLink;
    for (;;) {
        errno = 0;
        dirent *e = ::readdir(s->dir);
        if (!e)
            return errno ? errno : ENOENT;
        const char *name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (::fnmatch(s->pattern.constData(), name, FNM_CASEFOLD) != 0)
            continue;
        QByteArray full = s->folder + name;
        struct stat st {};
        bool ok = false;
        int attr = entryAttributes(full, name, st, ok);
        if (!ok)
            continue;
        if ((attr & special & ~s->attr) != 0)
            continue;
        rec.Name = QFile::decodeName(name);
        rec.Size = S_ISREG(st.st_mode) ? qint64(st.st_size) : 0;
        rec.Attr = attr;
        rec.Time = QDateTime::fromSecsSinceEpoch(st.st_mtime);
        return 0;
    }
}

} // namespace

int FindFirst(const QString &pattern, int attr, TSearchRec &rec)
{
    FindClose(rec);
    QByteArray p = QFile::encodeName(pattern);
    int slash = p.lastIndexOf('/');
    auto s = std::make_shared<TSearchRec::State>();
    s->folder = slash >= 0 ? p.left(slash + 1) : QByteArray("./");
    s->pattern = slash >= 0 ? p.mid(slash + 1) : p;
    s->attr = attr;
    if (s->pattern.isEmpty())
        return ENOENT;
    s->dir = ::opendir(s->folder.constData());
    if (!s->dir)
        return errno ? errno : ENOENT;
    rec.state = s;
    int r = nextMatch(rec);
    if (r != 0)
        FindClose(rec);
    return r;
}

int FindNext(TSearchRec &rec)
{
    return nextMatch(rec);
}

void FindClose(TSearchRec &rec)
{
    rec.state.reset();
}

QString ProgramDirectory()
{
    if (!programDirOverride.isEmpty())
        return programDirOverride;
    QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (dir.isEmpty()) {
        char buf[4096];
        ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0) {
            buf[n] = 0;
            dir = QFileInfo(QFile::decodeName(buf)).absolutePath();
        } else {
            dir = QDir::currentPath();
        }
    }
    return withSlash(dir);
}

void SetProgramDirectory(const QString &dir)
{
    programDirOverride = dir.isEmpty() ? QString() : withSlash(dir);
}

QString DataDirectoryFor(const QString &programDir, bool programDirWritable, const QString &xdgConfigHome,
                         const QString &home)
{
    if (programDirWritable)
        return withSlash(programDir);
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    QString config = xdgConfigHome;
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = withSlash(home) + QStringLiteral(".config");
    return withSlash(config) + QStringLiteral("Quillora/");
}

QString DataDirectory()
{
    const QString lpf = ProgramDirectory();
    const bool writable = ::access(QFile::encodeName(lpf).constData(), W_OK) == 0;
    const QString dir = DataDirectoryFor(lpf, writable, qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
    if (!writable)
        QDir().mkpath(dir);
    return dir;
}

QByteArray CutAtCharacterBoundary(const QByteArray &bytes, int limit)
{
    if (bytes.size() <= limit)
        return bytes;
    int n = limit;
    // Step back over continuation bytes (10xxxxxx) to the start of the
    // character that would be cut, and drop it whole.
    if ((static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80) {
        while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80)
            --n;
    }
    return bytes.left(n);
}

} // namespace platform
