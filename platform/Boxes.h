// The four modal boxes the windows show the person.
//
//  - the plain message box: caption = the application title, one OK button;
//  - the information box: information icon, caption "Informationen", "OK";
//  - the confirmation box: question icon, caption "Bestätigen", "&Ja"/"&Nein";
//  - the standard error box for exceptions no handler caught.
//
// The program uses the Qt implementation; tests install a scripted double
// (tests/support/ScriptedBoxes.h) so that nothing ever blocks.
#pragma once

#include "platform/Service.h"

#include <QString>

namespace platform {

class Boxes {
public:
    virtual ~Boxes() = default;

    virtual void ShowMessage(const QString &caption, const QString &text) = 0;
    virtual void Information(const QString &text) = 0;
    // true when the person answers "&Ja".
    virtual bool Confirm(const QString &text) = 0;
    virtual void ShowError(const QString &text) = 0;

    // The boxes in use: the real ones unless a test installed others.
    static Boxes &instance() { return Service<Boxes>::get(); }
};

// The Qt boxes.
class QtBoxes : public Boxes {
public:
    void ShowMessage(const QString &caption, const QString &text) override;
    void Information(const QString &text) override;
    bool Confirm(const QString &text) override;
    void ShowError(const QString &text) override;
};

// Plain message box with the application title as caption.
void ShowMessage(const QString &text);

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::Boxes)
