// Diagnostics of the SANE data source (off unless QT_LOGGING_RULES enables
// "quillora.source.sane").
#pragma once

#include <QLoggingCategory>

namespace sane_source {
Q_DECLARE_LOGGING_CATEGORY(lcSane)
} // namespace sane_source
