// Assertions that raise, as the runtime's own assertion check does: a
// failed check throws EAssertionFailed, whose text names the message, the
// source unit and the line ("%s (%s, Zeile %d)").  They are always on,
// release builds included: callers rely on the exception.
#pragma once

#include "platform/Exceptions.h"

namespace platform {

// The default message of a check that gives none.
inline constexpr char kAssertionFailedText[] = "Assertion fehlgeschlagen";

class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// Throws EAssertionFailed with "|message| (|unit|, Zeile |line|)".
[[noreturn]] void AssertionFailed(const char *message, const char *unit, int line);

} // namespace platform

// QUILLORA_ASSERT(condition, message, unit): |message| and |unit| are plain
// 8-bit texts; the line is the line of the check.
#define QUILLORA_ASSERT(condition, message, unit)                                                                     \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::platform::AssertionFailed((message), (unit), __LINE__);                                                  \
    } while (false)
