// Texts of the acquisition library's own dialog.  They are variables so a
// host may replace them before the dialog is created.
#pragma once

#include <QString>

extern QString OSTRATWAIN_SelectSource;
extern QString OSTRATWAIN_OK;
extern QString OSTRATWAIN_Cancel;
