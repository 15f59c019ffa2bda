// What the worker thread does with SANE: discovery, one open device, its
// options, and scanning.  Every function here runs on the worker only.
#pragma once

#include "sources/sane/Devices.h"
#include "sources/sane/Options.h"
#include "sources/sane/Page.h"

#include <sane/sane.h>

#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sane_source {

// sane_init once per process; the status of that call.
SANE_Status initSane();
// sane_get_devices over every backend; |localOnly| leaves out what only a
// network search finds (much faster).  |status| receives its result.
std::vector<FoundDevice> discoverDevices(bool localOnly, SANE_Status *status);
// sane_exit, when sane_init was called.
void exitSane();

// Where a scan takes its paper from.
enum class PaperSource { AsSet, Flatbed, Feeder, Automatic };

struct ScanRequest {
    std::shared_ptr<std::atomic<bool>> cancel;
    // Pages from a feeder: at most this many (-1: until it is empty).  A
    // flatbed gives one page.
    int maxPages = 1;
    PaperSource paper = PaperSource::AsSet;
    // Called on the worker now and then with the share done (0 to 1).
    std::function<void(double)> progress;
    // A low-resolution scan of the whole area in colour, which leaves the
    // device's settings as they were (the dialog's preview).
    bool preview = false;
};

struct ScanResult {
    std::vector<Page> pages;
    SANE_Status status = SANE_STATUS_GOOD; // of the step that failed
    bool cancelled = false;
    bool deviceLost = false; // the device went away and could not be opened again
    QString message;         // German, when status is not GOOD or a page could not be taken
};

class Device {
public:
    Device() = default;
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    SANE_Status open(const std::string &saneName);
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    const std::string &saneName() const { return name_; }

    OptionSnapshot snapshot();
    // Sets option |index|.  |info| receives SANE's info bits.
    SANE_Status setValue(int index, const OptionValue &value, SANE_Int *info = nullptr);
    SANE_Status setAutomatic(int index, SANE_Int *info = nullptr);
    SANE_Status press(int index, SANE_Int *info = nullptr);
    // Sets option |name| to a number (words of every element), the nearest
    // allowed value.
    SANE_Status setNumber(const std::string &name, double value, SANE_Int *info = nullptr);
    SANE_Status setText(const std::string &name, const std::string &value, SANE_Int *info = nullptr);

    // Applies stored values by option name: settable, active options only,
    // in the device's order, twice (a value may make another option active).
    void applyValues(const std::map<std::string, OptionValue> &values);
    // The values of every settable, active option, for applyValues.
    std::map<std::string, OptionValue> currentValues();

    ScanResult scan(const ScanRequest &request);

private:
    int indexOf(const std::string &name);
    const SANE_Option_Descriptor *descriptor(int index);
    ScanResult scanPages(const ScanRequest &request, bool feeder);
    // After an I/O error: closes the device and opens it again with its
    // settings.  False when it cannot be opened (gone).
    bool reconnect(const std::map<std::string, OptionValue> &values);
    double resolutionDpi(bool y);

    SANE_Handle handle_ = nullptr;
    std::string name_;
};

// German text for a SANE status of a scan or an option change.
QString statusMessage(SANE_Status status);

} // namespace sane_source
