#include "platform/ModalDialog.h"

#include <QDialog>

namespace platform {
namespace {

class RealModalDialogs : public ModalDialogService {
public:
    int Run(QDialog &dialog) override { return dialog.exec(); }
};

} // namespace

ModalDialogService &ModalDialogs()
{
    return Service<ModalDialogService>::get();
}

int ShowModal(QDialog &dialog)
{
    return ModalDialogs().Run(dialog);
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::ModalDialogService, platform::RealModalDialogs)
