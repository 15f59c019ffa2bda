// Diagnostics of the main window: documents, settings and scanning.  Off by
// default; QT_LOGGING_RULES="quillora.app.debug=true" switches them on.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
