#include "twain/OstraTwainLang.h"

QString OSTRATWAIN_SelectSource = QStringLiteral("Select source");
QString OSTRATWAIN_OK = QStringLiteral("&OK");
QString OSTRATWAIN_Cancel = QStringLiteral("&Cancel");
