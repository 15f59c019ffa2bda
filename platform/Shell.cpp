#include "platform/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

Q_LOGGING_CATEGORY(lcShell, "quillora.shell", QtWarningMsg)

QUILLORA_DEFINE_SERVICE(platform::ShellService, platform::PosixShell)
QUILLORA_DEFINE_SERVICE(platform::DesktopOpener, platform::QtDesktopOpener)

namespace platform {
namespace {

bool isDefaultVerb(const QString &verb)
{
    return verb.isEmpty() || verb.compare(QLatin1String("open"), Qt::CaseInsensitive) == 0;
}

INT openWithDesktop(const QUrl &url)
{
    const bool opened = Service<DesktopOpener>::get().Open(url);
    qCDebug(lcShell) << "desktop open" << url << (opened ? "done" : "no handler");
    return opened ? SHELL_SUCCESS : SE_ERR_NOASSOC;
}

// The one entry of |folder| whose name equals |name| apart from letter
// case, as file names on Windows compare; empty when there is none or
// more than one.
QString caseInsensitiveMatch(const QString &folder, const QString &name)
{
    DIR *d = ::opendir(QFile::encodeName(folder).constData());
    if (!d)
        return {};
    QString found;
    int matches = 0;
    while (dirent *e = ::readdir(d)) {
        const QString entry = QFile::decodeName(e->d_name);
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            found = entry;
            ++matches;
        }
    }
    ::closedir(d);
    return matches == 1 ? found : QString();
}

// Error numbers the started program's side reports: a failed chdir is
// sent negated, so a missing working directory is not taken for a missing
// program.
struct SpawnResult {
    int error = 0;
    bool inDirectory = false;
};

void writeAll(int fd, int value)
{
    const char *p = reinterpret_cast<const char *>(&value);
    size_t left = sizeof value;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= size_t(n);
    }
}

// Starts |program| detached (its own session, reparented to init by a
// double fork) and reports whether exec succeeded: a close-on-exec pipe
// stays silent when it did and carries errno when it did not.  Only
// async-signal-safe calls run between fork and exec.
SpawnResult spawnDetached(const QByteArray &program, const QList<QByteArray> &args, const QByteArray &directory)
{
    std::vector<QByteArray> storage;
    storage.reserve(size_t(args.size()) + 1);
    storage.push_back(program);
    for (const QByteArray &a : args)
        storage.push_back(a);
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const char *dir = directory.isEmpty() ? nullptr : directory.constData();

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {errno, false};

    const pid_t child = ::fork();
    if (child < 0) {
        const int e = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return {e, false};
    }
    if (child == 0) {
        ::close(fds[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            writeAll(fds[1], errno);
            ::_exit(1);
        }
        if (grandchild == 0) {
            // The program starts with the signals as a new process would.
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &dfl, nullptr);
            if (dir && ::chdir(dir) != 0) {
                writeAll(fds[1], -errno);
                ::_exit(127);
            }
            ::execv(argv[0], argv.data());
            writeAll(fds[1], errno);
            ::_exit(127);
        }
        ::_exit(0);
    }

    ::close(fds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int reported = 0;
    ssize_t n;
    do {
        n = ::read(fds[0], &reported, sizeof reported);
    } while (n < 0 && errno == EINTR);
    ::close(fds[0]);
    if (n != ssize_t(sizeof reported))
        return {};
    return reported < 0 ? SpawnResult{-reported, true} : SpawnResult{reported, false};
}

} // namespace

bool QtDesktopOpener::Open(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

bool IsAddress(const QString &file)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(file).hasMatch();
}

INT ShellResultForErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ELOOP:
    case ENAMETOOLONG:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ETXTBSY:
        return SE_ERR_ACCESSDENIED;
    case ENOMEM:
    case EAGAIN:
    case E2BIG:
        return SE_ERR_OOM;
    case ENOEXEC:
    case ELIBBAD:
    case EISDIR:
    case EINVAL:
        return ERROR_BAD_FORMAT;
    default:
        return SHELL_OUT_OF_RESOURCES;
    }
}

INT PosixShell::Execute(HWND, const QString &verb, const QString &file, const QString &parameters,
                        const QString &directory, INT showCommand)
{
    qCDebug(lcShell) << "ShellExecute" << verb << file << parameters << directory << showCommand;
    if (file.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    if (IsAddress(file))
        return isDefaultVerb(verb) ? openWithDesktop(QUrl(file)) : SE_ERR_NOASSOC;

    struct stat st {};
    if (!directory.isEmpty()) {
        if (::stat(QFile::encodeName(directory).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            qCDebug(lcShell) << "working directory missing:" << directory;
            return ERROR_PATH_NOT_FOUND;
        }
    }

    const QString base = directory.isEmpty() ? QDir::currentPath() : directory;
    QString path = QDir::isAbsolutePath(file) ? file : QDir(base).filePath(file);
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        const int e = errno;
        if (e != ENOENT)
            return ShellResultForErrno(e);
        const QString folder = QFileInfo(path).path();
        struct stat fst {};
        if (::stat(QFile::encodeName(folder).constData(), &fst) != 0 || !S_ISDIR(fst.st_mode))
            return ERROR_PATH_NOT_FOUND;
        const QString match = caseInsensitiveMatch(folder, QFileInfo(path).fileName());
        if (match.isEmpty())
            return ERROR_FILE_NOT_FOUND;
        path = QDir(folder).filePath(match);
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return ShellResultForErrno(errno);
    }

    if (S_ISDIR(st.st_mode)) {
        const bool browse = isDefaultVerb(verb) || verb.compare(QLatin1String("explore"), Qt::CaseInsensitive) == 0;
        return browse ? openWithDesktop(QUrl::fromLocalFile(path)) : SE_ERR_NOASSOC;
    }
    if (!S_ISREG(st.st_mode))
        return SE_ERR_NOASSOC;

    const QByteArray encoded = QFile::encodeName(path);
    if (::access(encoded.constData(), X_OK) == 0) {
        if (!isDefaultVerb(verb))
            return SE_ERR_NOASSOC;
        QList<QByteArray> args;
        for (const QString &a : QProcess::splitCommand(parameters))
            args << a.toLocal8Bit();
        const SpawnResult r = spawnDetached(encoded, args, QFile::encodeName(directory));
        qCDebug(lcShell) << "started" << path << "error" << r.error;
        if (r.error == 0)
            return SHELL_SUCCESS;
        if (r.inDirectory)
            return r.error == EACCES ? SE_ERR_ACCESSDENIED : ERROR_PATH_NOT_FOUND;
        return ShellResultForErrno(r.error);
    }
    return isDefaultVerb(verb) ? openWithDesktop(QUrl::fromLocalFile(path)) : SE_ERR_NOASSOC;
}

INT ShellExecute(HWND owner, const QString &verb, const QString &file, const QString &parameters,
                 const QString &directory, INT showCommand)
{
    return Service<ShellService>::get().Execute(owner, verb, file, parameters, directory, showCommand);
}

} // namespace platform
