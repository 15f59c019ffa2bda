// One open TWAIN source of this object: one SANE device opened by one
// application.  Answers the application's triplets (TWAIN states 4 to 7),
// drives the settings dialog and the scans, and holds the scanned pages
// until they are transferred.  Lives on the GUI thread; the device itself is
// only touched by jobs on the worker.
#pragma once

#include "twain/Twain.h"

#include "sources/sane/Device.h"
#include "sources/sane/Options.h"
#include "sources/sane/Page.h"
#include "sources/sane/Store.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>

namespace sane_source {

class ScanDialog;
class ProgressWindow;

// Values of TWAIN 1.9 this source uses beyond the program's header.
constexpr TW_UINT16 kCapSupportedCaps = 0x1005;
constexpr TW_UINT16 kCapDeviceOnline = 0x100f;
constexpr TW_UINT16 kTwqcGet = 0x0001, kTwqcSet = 0x0002, kTwqcGetDefault = 0x0004, kTwqcGetCurrent = 0x0008,
                    kTwqcReset = 0x0010;

class Session : public QObject {
    Q_OBJECT
public:
    Session(const TW_IDENTITY &app, const TW_IDENTITY &self, const KnownDevice &device, DeviceSettings settings,
            const TW_ENTRYPOINT *entry);
    ~Session() override;

    // Opens the device (MSG_OPENDS).  TWRC_SUCCESS, or TWRC_FAILURE with
    // the condition code set.
    TW_UINT16 open();
    // Closes it (MSG_CLOSEDS): ends a running scan, closes the dialog.
    void close();

    TW_UINT16 dispatch(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

    TW_UINT16 condition() const { return condition_; }
    const TW_IDENTITY &identity() const { return self_; }
    const QByteArray &productName() const { return device_.productName; }
    // The settings to remember for this device.
    const DeviceSettings &settings() const { return settings_; }
    int state() const { return state_; }
    // The device's options as last read.
    const OptionSnapshot &options() const { return options_; }

    // The dialog while it is shown (tests look at it).
    ScanDialog *dialog() const;

signals:
    // The settings changed after a scan or when the source was disabled.
    void settingsChanged();

private:
    friend class ScanDialog;
    friend class ProgressWindow;

    TW_UINT16 fail(TW_UINT16 cc);
    TW_UINT16 succeed();

    // Triplets.
    TW_UINT16 userInterface(TW_UINT16 msg, TW_USERINTERFACE *ui);
    TW_UINT16 processEvent(TW_EVENT *event);
    TW_UINT16 pendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS *p);
    TW_UINT16 setupMemory(TW_SETUPMEMXFER *s);
    TW_UINT16 setupFile(TW_UINT16 msg, TW_SETUPFILEXFER *s);
    TW_UINT16 imageInfo(TW_IMAGEINFO *info);
    TW_UINT16 imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT *layout);
    TW_UINT16 nativeTransfer(TW_HANDLE *handle);
    TW_UINT16 memoryTransfer(TW_IMAGEMEMXFER *mem);
    TW_UINT16 fileTransfer();
    TW_UINT16 palette(TW_UINT16 msg, TW_PALETTE8 *palette);
    TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY *cap);

    // Capabilities (SessionCaps.cpp).
    TW_UINT16 capGet(TW_UINT16 msg, TW_CAPABILITY *cap);
    TW_UINT16 capSet(TW_CAPABILITY *cap);
    TW_UINT16 capReset(TW_CAPABILITY *cap);
    TW_UINT16 capQuerySupport(TW_CAPABILITY *cap);
    bool capSupported(TW_UINT16 cap) const;
    std::vector<TW_UINT16> supportedCaps() const;

    // Device options, through the worker (state 4 only: no scan runs).
    void refreshOptions();
    SANE_Status setDeviceNumber(const std::string &name, double value, SANE_Int *info = nullptr);
    SANE_Status setDeviceText(const std::string &name, const std::string &value, SANE_Int *info = nullptr);
    // The option that sets resolution along x (or y).
    const OptionInfo *resolutionOption(bool y) const;
    double currentDpi(bool y) const;
    // Millimetres in the current unit and back.
    double mmToUnits(double mm, bool y) const;
    double unitsToMm(double v, bool y) const;
    // Geometry option value in millimetres (SANE may count pixels).
    double geometryMm(const OptionInfo &o, double value, bool y) const;
    double mmToGeometry(const OptionInfo &o, double mm, bool y) const;
    // Scan area in mm: left, top, right, bottom; false without geometry.
    bool areaMm(const OptionSnapshot &snap, double area[4]) const;
    bool maxAreaMm(double area[4]) const;
    SANE_Status setAreaMm(const double area[4], bool *inexact);

    // A worker job's first step: opens the device again (with the settings
    // it had) when it went away earlier; false when it cannot be opened.
    std::function<bool(Device &)> reopener() const;
    // Runs |change| on the device on the worker (opened again first if it had
    // to be closed) and shows its result in the dialog, naming |title|.
    void changeOption(const QString &title, std::function<SANE_Status(Device &, SANE_Int *)> change);

    // Scanning.
    void startScan(bool preview);
    void cancelScan();
    void scanFinished(std::uint64_t generation, std::shared_ptr<ScanResult> result, bool preview);
    void notify(TW_UINT16 msg);
    void closeDialog();
    void rememberSettings();
    PaperSource paperSource() const;

    // Called by the dialog.
    void dialogSetOption(int index, const OptionValue &value);
    void dialogSetMode(const std::string &mode, int depth);
    void dialogSetResolution(double dpi);
    void dialogSetSource(const std::string &value);
    void dialogSetAutomatic(int index);
    void dialogPress(int index);
    void dialogSetArea(double left, double top, double right, double bottom);
    void dialogSetPaper(const QString &paper);
    void dialogScan();
    void dialogPreview();
    void dialogCancel();
    void dialogClose();
    void applyOptionResult(SANE_Status status, SANE_Int info, const QString &title,
                           std::shared_ptr<OptionSnapshot> snapshot);

    TW_IDENTITY app_;
    TW_IDENTITY self_;
    KnownDevice device_;
    DeviceSettings settings_;
    TW_ENTRYPOINT entry_{};
    bool haveEntry_ = false;

    std::shared_ptr<Device> sane_; // touched on the worker only
    OptionSnapshot options_;       // the device's options as last read
    OptionSnapshot defaults_;      // as the device opened, before stored settings

    int state_ = 4;
    TW_UINT16 condition_ = TWCC_SUCCESS;
    TW_UINT16 pending_ = MSG_NULL; // notification for the next DAT_EVENT
    bool showUI_ = false;
    bool uiOnly_ = false;

    // Capabilities kept by the source itself.
    TW_INT16 xferCount_ = -1;
    TW_UINT16 units_ = TWUN_INCHES;
    TW_UINT16 flavor_ = TWPF_CHOCOLATE;
    TW_UINT16 xferMech_ = TWSX_NATIVE;
    bool indicators_ = true;
    bool lastFeederEmpty_ = false;

    // File transfer set-up.
    TW_SETUPFILEXFER fileSetup_{};

    // Pages ready for transfer; the first is the current one.
    std::deque<Page> pages_;
    int memoryRow_ = 0;       // next row of a memory transfer
    bool transferred_ = false; // the current page has been handed over

    // Scan in progress.
    bool scanning_ = false;
    bool previewing_ = false;
    std::uint64_t generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_;

    QPointer<ScanDialog> dialog_;
    QPointer<ProgressWindow> progress_;
};

} // namespace sane_source
