// The application-wide table of numbered cursors: a control enters the
// cursors it brings under numbers of its own and shows them by number.
#pragma once

#include <QCursor>

namespace platform {

// Enters |cursor| under |number|, replacing what was there.
void SetScreenCursor(int number, const QCursor &cursor);
// The cursor entered under |number|; the arrow for a number never entered.
QCursor ScreenCursor(int number);
// True when a cursor was entered under |number|.
bool HasScreenCursor(int number);

} // namespace platform
