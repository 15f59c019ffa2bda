#include "sources/sane/Log.h"

namespace sane_source {
Q_LOGGING_CATEGORY(lcSane, "quillora.source.sane", QtWarningMsg)
} // namespace sane_source
