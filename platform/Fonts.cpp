#include "platform/Fonts.h"

#include <QFont>
#include <QStringList>

namespace platform {

void RegisterFontSubstitutes()
{
    static const QStringList substitutes{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                         QStringLiteral("DejaVu Sans")};
    for (const char *family : {"Arial", "Microsoft Sans Serif", "System"}) {
        const QString name = QString::fromLatin1(family);
        if (QFont::substitutes(name).isEmpty())
            QFont::insertSubstitutions(name, substitutes);
    }
}

} // namespace platform
