#include "platform/ModalDialog.h"

#include <QDialog>
#include <QPointer>

namespace platform {
namespace {

class RealModalDialogs : public ModalDialogService {
public:
    int Run(QDialog &dialog) override { return dialog.exec(); }
};

RealModalDialogs &realDialogs()
{
    static RealModalDialogs d;
    return d;
}

ModalDialogService *&current()
{
    static ModalDialogService *s = nullptr;
    return s;
}

} // namespace

ModalDialogService *SetModalDialogService(ModalDialogService *service)
{
    ModalDialogService *prev = current();
    current() = service;
    return prev;
}

ModalDialogService &ModalDialogs()
{
    ModalDialogService *s = current();
    return s ? *s : realDialogs();
}

int ShowModal(QDialog &dialog)
{
    return ModalDialogs().Run(dialog);
}

int ScriptedModalDialogs::Run(QDialog &dialog)
{
    Shown s;
    s.className = dialog.metaObject()->className();
    s.title = dialog.windowTitle().toStdString();
    dialog.setResult(mrNone);
    dialog.show();
    // The script may delete the dialog (or a window that takes it along).
    QPointer<QDialog> alive(&dialog);
    int result = mrCancel;
    if (script) {
        result = script(dialog);
        if (result == mrNone && alive)
            result = dialog.result();
    }
    if (alive)
        dialog.hide();
    s.result = result;
    shown.push_back(s);
    return result;
}

} // namespace platform
