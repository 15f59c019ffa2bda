#include "platform/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>

namespace platform {

FileDialogService &fileDialogs()
{
    return Service<FileDialogService>::get();
}

std::optional<QString> QtFileDialogService::getOpenFileName(QWidget *parent, const QString &fileName)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed, also that of a file not there yet.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!fileName.isEmpty()) {
        const QFileInfo info(fileName);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    return files.first();
}

bool OpenDialog::Execute()
{
    const std::optional<QString> chosen = fileDialogs().getOpenFileName(parent_, FileName);
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::FileDialogService, platform::QtFileDialogService)
