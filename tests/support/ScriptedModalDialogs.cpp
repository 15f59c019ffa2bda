#include "support/ScriptedModalDialogs.h"

#include <QDialog>
#include <QPointer>

namespace testing_support {

int ScriptedModalDialogs::Run(QDialog &dialog)
{
    Shown s;
    s.className = dialog.metaObject()->className();
    s.title = dialog.windowTitle().toStdString();
    dialog.setResult(platform::mrNone);
    dialog.show();
    // The script may delete the dialog (or a window that takes it along).
    QPointer<QDialog> alive(&dialog);
    int result = platform::mrCancel;
    if (script) {
        result = script(dialog);
        if (result == platform::mrNone && alive)
            result = dialog.result();
    }
    if (alive)
        dialog.hide();
    s.result = result;
    shown.push_back(s);
    return result;
}

} // namespace testing_support
