#include "platform/Assert.h"

#include <QString>

namespace platform {

void AssertionFailed(const char *message, const char *unit, int line)
{
    throw EAssertionFailed(QStringLiteral("%1 (%2, Zeile %3)")
                               .arg(QString::fromUtf8(message), QString::fromUtf8(unit))
                               .arg(line));
}

} // namespace platform
