#include "platform/Files.h"

#include "platform/Directories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

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

bool NativeFileExists(const QByteArray &path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// A name pattern; the common "*.ext" form is tested as a plain suffix.
struct CompiledPattern {
    QByteArray pattern;
    QByteArray suffix; // lower-cased, for suffixOnly
    bool suffixOnly = false;

    explicit CompiledPattern(const QByteArray &p) : pattern(p)
    {
        if (p.startsWith('*') && p.indexOf('*', 1) < 0 && p.indexOf('?') < 0) {
            suffixOnly = true;
            suffix = p.mid(1).toLower();
        }
    }
    bool matches(const char *name, std::size_t len) const;
};

} // namespace

struct TSearchRec::State {
    DIR *dir = nullptr;
    QByteArray folder; // with trailing '/'
    std::vector<CompiledPattern> patterns;
    int matchedPattern = -1;
    int attr = 0;
    std::string currentName; // name of the entry found last
    QByteArray currentPath() const { return folder + QByteArray(currentName.data(), qsizetype(currentName.size())); }
    ~State()
    {
        if (dir)
            ::closedir(dir);
    }
};

namespace {

inline unsigned char lowerAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool endsWithNoCase(const char *name, std::size_t len, const QByteArray &suffix)
{
    const auto n = static_cast<std::size_t>(suffix.size());
    if (len < n)
        return false;
    const char *tail = name + (len - n);
    for (std::size_t i = 0; i < n; ++i)
        if (lowerAscii(static_cast<unsigned char>(tail[i])) != static_cast<unsigned char>(suffix[qsizetype(i)]))
            return false;
    return true;
}

} // namespace

bool CompiledPattern::matches(const char *name, std::size_t len) const
{
    return suffixOnly ? endsWithNoCase(name, len, suffix) : MatchesWildcard(pattern.constData(), name);
}

namespace {

// Attributes of an entry; the entry type from readdir spares a stat where
// the file system provides it.
bool entryAttributes(const TSearchRec::State &s, const dirent *e, int &attr)
{
    attr = 0;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
        const QByteArray full = s.currentPath();
        struct stat lst {};
        if (::lstat(full.constData(), &lst) != 0)
            return false;
        if (S_ISLNK(lst.st_mode)) {
            attr |= faSymLink;
            // A link is judged by what it points to; a dangling one as a file.
            struct stat st {};
            if (::stat(full.constData(), &st) == 0)
                lst = st;
            else
                lst.st_mode = S_IFREG;
        }
        type = S_ISDIR(lst.st_mode) ? DT_DIR : S_ISREG(lst.st_mode) ? DT_REG : DT_FIFO;
    }
    if (type == DT_DIR)
        attr |= faDirectory;
    else if (type != DT_REG)
        attr |= faSysFile;
    if (e->d_name[0] == '.')
        attr |= faHidden;
    if (!(attr & (faDirectory | faSysFile)))
        attr |= faArchive;
    return true;
}

int nextMatch(TSearchRec &rec)
{
    auto *s = rec.state.get();
    if (!s || !s->dir)
        return EBADF;
    // Attributes that only an explicit request lets through.
    const int special = faHidden | faSysFile | faDirectory;
    for (;;) {
        errno = 0;
        dirent *e = ::readdir(s->dir);
        if (!e)
            return errno ? errno : ENOENT;
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const std::size_t len = std::strlen(name);
        s->matchedPattern = -1;
        for (std::size_t i = 0; i < s->patterns.size(); ++i)
            if (s->patterns[i].matches(name, len)) {
                s->matchedPattern = int(i);
                break;
            }
        if (s->matchedPattern < 0)
            continue;
        s->currentName.assign(name);
        int attr = 0;
        if (!entryAttributes(*s, e, attr))
            continue; // vanished meanwhile
        if ((attr & special & ~s->attr) != 0)
            continue;
        rec.Name = QString::fromUtf8(name, qsizetype(len));
        rec.Attr = attr;
        return 0;
    }
}

} // namespace

bool MatchesWildcard(const char *pattern, const char *name)
{
    // Iterative matcher with one backtrack point for the last "*".
    const char *starP = nullptr;
    const char *starN = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starP = ++pattern;
            starN = name;
        } else if (*pattern == '?' || (*pattern && lowerAscii(static_cast<unsigned char>(*pattern)) ==
                                                       lowerAscii(static_cast<unsigned char>(*name)))) {
            ++pattern;
            ++name;
        } else if (starP) {
            pattern = starP;
            name = ++starN;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == 0;
}

qint64 TSearchRec::Size() const
{
    struct stat st {};
    if (!state || ::stat(state->currentPath().constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return qint64(st.st_size);
}

QDateTime TSearchRec::Time() const
{
    struct stat st {};
    if (!state || ::stat(state->currentPath().constData(), &st) != 0)
        return {};
    return QDateTime::fromSecsSinceEpoch(st.st_mtime);
}

QByteArray TSearchRec::NativeName() const
{
    if (!state)
        return QByteArray();
    return QByteArray(state->currentName.data(), qsizetype(state->currentName.size()));
}

bool TSearchRec::ReadOnly() const
{
    return state && ::access(state->currentPath().constData(), W_OK) != 0;
}

namespace {

int openSearch(const QByteArray &folder, const std::vector<QByteArray> &patterns, int attr, TSearchRec &rec)
{
    FindClose(rec);
    auto s = std::make_shared<TSearchRec::State>();
    s->folder = folder;
    s->attr = attr;
    for (const auto &p : patterns)
        if (!p.isEmpty())
            s->patterns.emplace_back(p);
    if (s->patterns.empty())
        return ENOENT;
    s->dir = ::opendir(s->folder.constData());
    if (!s->dir)
        return errno ? errno : ENOENT;
    rec.state = s;
    return 0;
}

} // namespace

int FindFirst(const QString &pattern, int attr, TSearchRec &rec)
{
    const QByteArray p = QFile::encodeName(pattern);
    const int slash = p.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? p.left(slash + 1) : QByteArray("./");
    int r = openSearch(folder, {slash >= 0 ? p.mid(slash + 1) : p}, attr, rec);
    if (r == 0)
        r = nextMatch(rec);
    if (r != 0)
        FindClose(rec);
    return r;
}

int SearchFolder(const QString &folder, const QStringList &patterns, int attr,
                 const std::function<void(int pattern, const TSearchRec &rec)> &found)
{
    return SearchFolder(QFile::encodeName(folder), patterns, attr, found);
}

int SearchFolder(const QByteArray &nativeFolder, const QStringList &patterns, int attr,
                 const std::function<void(int pattern, const TSearchRec &rec)> &found)
{
    QByteArray dir = nativeFolder;
    if (!dir.endsWith('/'))
        dir += '/';
    std::vector<QByteArray> encoded;
    for (const auto &p : patterns)
        encoded.push_back(QFile::encodeName(p));
    TSearchRec rec;
    int r = openSearch(dir, encoded, attr, rec);
    if (r != 0)
        return r;
    while ((r = nextMatch(rec)) == 0)
        found(rec.state->matchedPattern, rec);
    FindClose(rec);
    return r == ENOENT ? 0 : r;
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
    return Service<DirectoryService>::get().ProgramDirectory();
}

QString DataDirectoryFor(const QString &programDir, bool programDirWritable, const QString &xdgConfigHome,
                         const QString &home)
{
    // Below /usr/ lies what the package manager installed (/usr/lib/quillora/
    // of the package, /usr/local/ of a "make install"): nothing is stored
    // there, even when it can be written, as it can by root.
    const bool systemTree = withSlash(programDir).startsWith(QStringLiteral("/usr/"));
    if (programDirWritable && !systemTree)
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
    if (dir != withSlash(lpf))
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
