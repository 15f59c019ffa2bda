// The exception kinds our windows raise and the guard that ends every
// uncaught exception of a window handler in the standard error box.
#pragma once

#include <QString>

#include <functional>
#include <stdexcept>

namespace platform {

// An error with a message for the person.  The text is kept as UTF-8.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &message);
    QString message() const;
};

// A file-system input/output error, carrying the system's error number.
class EInOutError : public Exception {
public:
    EInOutError(int errorCode, const QString &message);
    int errorCode() const { return code_; }

private:
    int code_;
};

// The text the standard error box shows for an exception.
QString ExceptionText(const std::exception &e);

// Runs a window handler.  An exception that escapes it is shown in the
// standard error box, and the program goes on.
void Guarded(const std::function<void()> &handler);

} // namespace platform
