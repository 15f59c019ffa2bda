#include "platform/Help.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace platform {
namespace {
HelpViewer *installed = nullptr;
}

HelpViewer &HelpViewer::instance()
{
    static DesktopHelpViewer real;
    return installed ? *installed : real;
}

void HelpViewer::install(HelpViewer *viewer)
{
    installed = viewer;
}

bool DesktopHelpViewer::ShowContext(const QString &file, int /*context*/)
{
    // The desktop opens the file as a whole; topics are not addressable there.
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

void DesktopHelpViewer::Quit()
{
    // Help opened by the desktop runs in its own program; nothing to close.
}

} // namespace platform
