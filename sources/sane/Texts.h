// The texts this source shows the person.
#pragma once

#include <sane/sane.h>

#include <QString>

namespace sane_source::texts {

// A remembered scanner that cannot be opened.
QString unreachable();
// The device went away in the middle of a scan.
QString deviceLost();
// The scan ended without a single row.
QString noImage();
// The device refused the value of the option called |title|.
QString valueRefused(const QString &title);
// A SANE status of a scan or an option change.
QString forStatus(SANE_Status status);

} // namespace sane_source::texts
