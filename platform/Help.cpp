#include "platform/Help.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace platform {
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

QUILLORA_DEFINE_SERVICE(platform::HelpViewer, platform::DesktopHelpViewer)
