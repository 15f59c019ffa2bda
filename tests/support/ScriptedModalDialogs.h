#pragma once

#include "platform/ModalDialog.h"

#include <functional>
#include <string>
#include <vector>

class QDialog;

namespace testing_support {

// Test double of modal dialogs, installed while it lives.  Each Run records the dialog's class name and window title,
// then calls the script (if any) with the dialog, which is shown but not
// modal while the script runs.  The script's return value is the result;
// when the script itself closed the dialog (accept, reject, done), the
// dialog's own result is taken unless the script returns something else
// than mrNone.  Without a script the dialog is cancelled.  The script may
// delete the dialog (as closing the window it belongs to does); the double
// then leaves it alone.
class ScriptedModalDialogs : public platform::ModalDialogService {
public:
    struct Shown {
        std::string className;
        std::string title;
        int result = platform::mrNone;
    };
    std::function<int(QDialog &)> script;
    std::vector<Shown> shown;

    int Run(QDialog &dialog) override;

private:
    platform::ScopedService<platform::ModalDialogService> use_{*this};
};

} // namespace testing_support
