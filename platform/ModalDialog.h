// Running a dialog modally.  The real service runs the dialog's own event
// loop until it closes; tests install ScriptedModalDialogs, which never
// blocks: it hands the dialog to a script that plays the person's part and
// answers a result.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QDialog;

namespace platform {

// Modal results of the dialogs of this program.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

class ModalDialogService {
public:
    virtual ~ModalDialogService() = default;
    // Shows |dialog| modally and returns its result when it closes.
    virtual int Run(QDialog &dialog) = 0;
};

// Installs |service| (null: the real one); returns the previous one (null
// when it was the real one).
ModalDialogService *SetModalDialogService(ModalDialogService *service);
ModalDialogService &ModalDialogs();

// Shows |dialog| modally through the current service.
int ShowModal(QDialog &dialog);

// Test double.  Each Run records the dialog's class name and window title,
// then calls the script (if any) with the dialog, which is shown but not
// modal while the script runs.  The script's return value is the result;
// when the script itself closed the dialog (accept, reject, done), the
// dialog's own result is taken unless the script returns something else
// than mrNone.  Without a script the dialog is cancelled.  The script may
// delete the dialog (as closing the window it belongs to does); the double
// then leaves it alone.
class ScriptedModalDialogs : public ModalDialogService {
public:
    struct Shown {
        std::string className;
        std::string title;
        int result = mrNone;
    };
    std::function<int(QDialog &)> script;
    std::vector<Shown> shown;

    int Run(QDialog &dialog) override;
};

} // namespace platform
