#include "platform/Directories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>

namespace platform {
namespace {

QString executablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

} // namespace

QString GetDirectory(DirectoryKind kind)
{
    return Service<DirectoryService>::get().Directory(kind);
}

QString SystemDirectories::Directory(DirectoryKind kind)
{
    switch (kind) {
    case DirectoryKind::Windows:
        return QStringLiteral("/usr/lib/quillora/");
    case DirectoryKind::System:
        return QStringLiteral("/usr/lib/");
    case DirectoryKind::Current:
        return QDir::currentPath();
    case DirectoryKind::Application:
        return executablePath();
    case DirectoryKind::Temp: {
        const char *tmp = std::getenv("TMPDIR");
        if (tmp && *tmp)
            return QString::fromLocal8Bit(tmp);
        return QStringLiteral("/tmp/");
    }
    }
    return QString();
}

QString SystemDirectories::ProgramDirectory()
{
    QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    if (dir.isEmpty()) {
        const QString exe = executablePath();
        dir = exe.isEmpty() ? QDir::currentPath() : QFileInfo(exe).absolutePath();
    }
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::DirectoryService, platform::SystemDirectories)
