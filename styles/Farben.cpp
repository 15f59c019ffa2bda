#include "styles/Farben.h"

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/StyleEngine.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Farben {

QString StyleFilePath()
{
    return platform::DataDirectory() + QStringLiteral("Styledat.txt");
}

} // namespace Farben

namespace {

[[noreturn]] void ioError(int code, const QString &path, const QString &what)
{
    throw platform::EInOutError(
        code, QStringLiteral("E/A-Fehler %1: %2 \"%3\": %4")
                  .arg(code)
                  .arg(what, path, QString::fromLocal8Bit(std::strerror(code))));
}

// The first line of the file: up to the first CR or LF, or the whole file.
QString readFirstLine(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        ioError(errno, path, QStringLiteral("Datei kann nicht gelesen werden"));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        ioError(EIO, path, QStringLiteral("Datei kann nicht gelesen werden"));
    }
    QByteArray line;
    char buf[512];
    bool done = false;
    while (!done) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int code = errno;
            ::close(fd);
            ioError(code, path, QStringLiteral("Datei kann nicht gelesen werden"));
        }
        if (n == 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\r' || buf[i] == '\n') {
                done = true;
                break;
            }
            line.append(buf[i]);
        }
        // A style name is short; a huge first line is not one.
        if (line.size() > 4096)
            break;
    }
    ::close(fd);
    return QString::fromLocal8Bit(line);
}

} // namespace

void TFarbe::style_lesen()
{
    const QString path = Farben::StyleFilePath();
    if (!platform::FileExists(path))
        return;
    Farben::style = readFirstLine(path);
    if (Farben::style.isEmpty())
        Farben::style = QStringLiteral("Windows");
    platform::StyleEngine::SetStyle(Farben::style);
}

void TFarbe::style_speichern()
{
    const QString path = Farben::StyleFilePath();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ioError(errno ? errno : EACCES, path, QStringLiteral("Datei kann nicht geschrieben werden"));
    const QByteArray bytes = Farben::style.toLocal8Bit();
    if (f.write(bytes) != bytes.size() || !f.flush())
        ioError(EIO, path, QStringLiteral("Datei kann nicht geschrieben werden"));
    f.close();
}
