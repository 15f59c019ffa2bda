// The texts the main window shows when the shell could not start a program.
#pragma once

#include <QString>

namespace Unit1 {
// The message for a shell result of 32 or less; empty for a result that has
// no text of its own.
QString ShellFehlertext(int result);
} // namespace Unit1
