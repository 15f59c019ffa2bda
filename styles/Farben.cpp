#include "styles/Farben.h"

#include "platform/Exceptions.h"
#include "platform/FileAccess.h"
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

[[noreturn]] void readError(int code, const QString &path)
{
    throw platform::FileAccessError(platform::FileAccessError::Op::Read, path, code);
}

// The first line of the file: up to the first CR or LF, or the whole file.
QString readFirstLine(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        readError(errno, path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        readError(EIO, path);
    }
    QByteArray line;
    char buf[512];
    bool done = false;
    while (!done) {
        const ssize_t n = platform::ReadFull(fd, buf, sizeof buf);
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            readError(code, path);
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
    platform::WriteFileAtomically(Farben::StyleFilePath(), Farben::style.toLocal8Bit());
}
