// The remembered devices and the last settings of each, kept in
// ~/.config/Quillora/Scanner.json (or $XDG_CONFIG_HOME/Quillora/).
#pragma once

#include "sources/sane/Devices.h"
#include "sources/sane/Options.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <string>
#include <vector>

namespace sane_source {

struct DeviceSettings {
    std::map<std::string, OptionValue> values; // by SANE option name
    QString paper;                             // "auto" for the automatic paper choice, else empty
    bool operator==(const DeviceSettings &) const = default;
};

struct StoredState {
    std::vector<KnownDevice> devices; // in their order; present is false
    std::map<QByteArray, DeviceSettings> settings; // by product name
};

// The file's full name.
QString storeFile();

// Reads the file.  A missing file gives an empty state and true.  A damaged
// file gives an empty state and false; it is moved aside (".beschädigt") so
// that the next save does not destroy what it held.
bool loadStore(StoredState &state);

// Writes the file atomically (new file, flush to disk, rename, folder flushed).
bool saveStore(const StoredState &state);

// The serial forms, for the file and for tests.
QByteArray storeToJson(const StoredState &state);
bool storeFromJson(const QByteArray &json, StoredState &state);

} // namespace sane_source
