// Font names of the windows that Linux does not have: "Arial",
// "Microsoft Sans Serif" and "System" are drawn with Liberation Sans, which
// has Arial's metrics, so texts measure as the windows expect.
#pragma once

namespace platform {

// Enters the substitutes; safe to call more than once.  Needs the
// application object.
void RegisterFontSubstitutes();

} // namespace platform
