// The file-open dialog.
//
// FileDialogService shows the dialog; the real one is Qt's file dialog, tests
// install a scripted double.  OpenDialog is the component a window owns: it
// remembers the file name chosen last and offers it again the next time.
#pragma once

#include "platform/Service.h"

#include <QFileDialog>
#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace platform {

class FileDialogService {
public:
    virtual ~FileDialogService() = default;
    // Shows an open dialog offering |fileName| (may be empty), with no
    // filter and no title of its own; the chosen file need not exist.
    // Returns the chosen full path, or nothing when the person cancelled.
    virtual std::optional<QString> getOpenFileName(QWidget *parent, const QString &fileName) = 0;
};

// The service in use: the real dialog unless a test installed another
// (see platform/Service.h).
FileDialogService &fileDialogs();

// Qt's file dialog, as the real service shows it: a name in a folder that
// does not exist is refused with an information box, and the dialog stays
// open.
class DocumentFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    void accept() override;
};
std::unique_ptr<DocumentFileDialog> NewDocumentFileDialog(QWidget *parent, const QString &fileName);
QString NoSuchFolderText(const QString &folder);

// Qt's file dialog.
class QtFileDialogService : public FileDialogService {
public:
    std::optional<QString> getOpenFileName(QWidget *parent, const QString &fileName) override;
};

class OpenDialog {
public:
    explicit OpenDialog(QWidget *parent = nullptr) : parent_(parent) {}
    // Shows the dialog; on OK FileName holds the chosen path and true is
    // returned.  On cancel FileName keeps its value.
    bool Execute();

    QString FileName;

private:
    QWidget *parent_;
};

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::FileDialogService)
