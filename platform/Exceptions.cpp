#include "platform/Exceptions.h"

#include "platform/Boxes.h"

namespace platform {

Exception::Exception(const QString &message) : std::runtime_error(message.toStdString()) {}

QString Exception::message() const
{
    return QString::fromStdString(what());
}

EInOutError::EInOutError(int errorCode, const QString &message) : Exception(message), code_(errorCode) {}

QString ExceptionText(const std::exception &e)
{
    return QString::fromUtf8(e.what());
}

void Guarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const std::exception &e) {
        Boxes::instance().ShowError(ExceptionText(e));
    } catch (...) {
        Boxes::instance().ShowError(QStringLiteral("Unbekannter Fehler"));
    }
}

} // namespace platform
