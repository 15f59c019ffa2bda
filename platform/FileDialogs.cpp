#include "platform/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>

namespace platform {

namespace {

std::unique_ptr<FileDialogService> &installed()
{
    static std::unique_ptr<FileDialogService> service;
    return service;
}

} // namespace

FileDialogService &fileDialogs()
{
    auto &s = installed();
    if (!s)
        s = std::make_unique<QtFileDialogService>();
    return *s;
}

std::unique_ptr<FileDialogService> setFileDialogs(std::unique_ptr<FileDialogService> service)
{
    auto previous = std::move(installed());
    installed() = std::move(service);
    return previous;
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
