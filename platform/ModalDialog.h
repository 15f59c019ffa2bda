// Running a dialog modally.  The real service runs the dialog's own event
// loop until it closes; tests install ScriptedModalDialogs
// (tests/support/ScriptedModalDialogs.h), which never
// blocks: it hands the dialog to a script that plays the person's part and
// answers a result.
#pragma once

#include "platform/Service.h"

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

// The service in use (see platform/Service.h for replacing it).
ModalDialogService &ModalDialogs();

// Shows |dialog| modally through the current service.
int ShowModal(QDialog &dialog);

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::ModalDialogService)
