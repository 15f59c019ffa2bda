// The list of devices this source offers, and their names.
//
// Each SANE device becomes one TWAIN source.  Its product name is made from
// vendor and model, readable and stable when the device is plugged in again
// (SANE's own device names carry USB bus and port numbers, which change);
// only devices that would share a name get a short suffix.  The list keeps
// one order for the whole run: remembered devices first, in their stored
// order, devices found later at the end.
#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace sane_source {

// A device as sane_get_devices reports it.
struct FoundDevice {
    std::string name; // SANE device name, e.g. "test:0"
    std::string vendor;
    std::string model;
    std::string type;
};

// One TWAIN source of this object.
struct KnownDevice {
    QByteArray productName; // at most 33 bytes, unique in the list
    std::string saneName;
    std::string vendor;
    std::string model;
    std::string type;
    bool present = false; // found by this run's discovery
};

// The longest text a TW_STR32 holds.
constexpr int kStr32Length = 33;

// Vendor and model as one readable name ("Canon LiDE 110"); the model alone
// when it already starts with the vendor; the SANE name when both are empty.
// Cut to 33 bytes without splitting a character.
QByteArray baseProductName(const FoundDevice &device);

// |base| with the suffix " (n)" for n >= 2, the base cut so that the whole
// fits 33 bytes.
QByteArray suffixedProductName(const QByteArray &base, int n);

// Merges a discovery's result into |list|: a device is matched first by its
// SANE name, then (plugged in again under another name) by vendor and model
// to a remembered device that nothing else matched; the rest are appended
// with a unique name.  Nothing is ever removed or moved; entries that were
// not found keep present as they were.  Returns how many were appended.
int mergeFoundDevices(std::vector<KnownDevice> &list, const std::vector<FoundDevice> &found);

// The index of the device called |productName|, or -1.
int findDevice(const std::vector<KnownDevice> &list, const QByteArray &productName);

} // namespace sane_source
