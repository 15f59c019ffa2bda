#include "platform/FileDialogs.h"

#include "platform/Boxes.h"

#include <QFileDialog>
#include <QFileInfo>

namespace platform {

void DocumentFileDialog::accept()
{
    const QStringList files = selectedFiles();
    if (!files.isEmpty() && !files.first().isEmpty()) {
        const QFileInfo chosen(files.first());
        // A typed folder: the dialog changes into it, if it is there.
        const QString folder = chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath();
        if (!QFileInfo(folder).isDir()) {
            Boxes::instance().Information(NoSuchFolderText(folder));
            return;
        }
    }
    QFileDialog::accept();
}

QString NoSuchFolderText(const QString &folder)
{
    return QStringLiteral("Das Verzeichnis existiert nicht:\n") + folder;
}

std::unique_ptr<DocumentFileDialog> NewDocumentFileDialog(QWidget *parent, const QString &fileName)
{
    auto dialog = std::make_unique<DocumentFileDialog>(parent);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be typed, also that of a file not there yet.
    dialog->setFileMode(QFileDialog::AnyFile);
    // The check of the folder needs Qt's own dialog.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    if (!fileName.isEmpty()) {
        const QFileInfo info(fileName);
        dialog->setDirectory(info.absolutePath());
        dialog->selectFile(info.fileName());
    }
    return dialog;
}

FileDialogService &fileDialogs()
{
    return Service<FileDialogService>::get();
}

std::optional<QString> QtFileDialogService::getOpenFileName(QWidget *parent, const QString &fileName)
{
    const std::unique_ptr<DocumentFileDialog> dialog = NewDocumentFileDialog(parent, fileName);
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog->selectedFiles();
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
