#include "platform/Directories.h"

#include <QDir>
#include <QFileInfo>

#include <array>
#include <cstdlib>
#include <optional>

namespace platform {
namespace {

std::array<std::optional<QString>, 5> &overrides()
{
    static std::array<std::optional<QString>, 5> o;
    return o;
}

QString executablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

} // namespace

QString GetDirectory(DirectoryKind kind)
{
    const auto &o = overrides()[static_cast<int>(kind)];
    if (o)
        return *o;
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

void SetDirectoryOverride(DirectoryKind kind, const QString &path)
{
    overrides()[static_cast<int>(kind)] = path;
}

void ClearDirectoryOverride(DirectoryKind kind)
{
    overrides()[static_cast<int>(kind)].reset();
}

void ClearDirectoryOverrides()
{
    for (auto &o : overrides())
        o.reset();
}

} // namespace platform
