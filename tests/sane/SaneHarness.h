// Drives the SANE source through DS_Entry as an application would, against
// SANE's own "test" backend and the tests' fault backend, with a private
// SANE configuration and a private configuration folder.
#pragma once

#include "twain/Twain.h"

#include "platform/WinTypes.h"
#include "support/SaneWorld.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

namespace sane_source {
class ScanDialog;
class Session;
} // namespace sane_source

extern "C" TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

namespace sane_test {

// The folder of the private SANE configuration (dll.conf: test and
// quillorafault) and the fault backend's state folder.
QString saneConfigDir();
QString faultDir();

// Pumps the event loop until |done| holds or |ms| milliseconds pass.
bool waitUntil(const std::function<bool()> &done, int ms = 20000);

class Harness {
public:
    // A fresh run of the source: empty configuration folder (or the one
    // given), no remembered devices, the list discovered anew.
    explicit Harness(TW_UINT32 appGroups = DG_CONTROL | DG_IMAGE);
    ~Harness();

    QString configHome() const { return home_.path(); }

    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void *data);
    TW_UINT16 condition();

    std::vector<TW_IDENTITY> sources();
    // Enumerates and opens the source called |productName|.
    TW_UINT16 open(const char *productName);
    TW_UINT16 close();
    TW_UINT16 enable(bool showUI);
    TW_UINT16 disable();
    // Offers events until the source notifies; MSG_NULL after |ms|.
    TW_UINT16 waitForNotification(int ms = 30000);

    sane_source::Session *session() const;
    sane_source::ScanDialog *dialog() const;

    // Capabilities.
    TW_UINT16 setOne(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 value);
    // Reads |cap|: container type, item type and items (as 32-bit values),
    // current index of an enumeration.
    struct Container {
        TW_UINT16 conType = 0;
        TW_UINT16 itemType = 0;
        std::vector<TW_UINT32> items;
        TW_UINT32 current = 0;
        TW_UINT32 def = 0;
    };
    TW_UINT16 get(TW_UINT16 cap, TW_UINT16 msg, Container &out);

    // The dialog's option widgets: sets SANE option |name| as a person would
    // and waits until the device has it.
    void setOption(const char *name, const QString &value);
    QString optionText(const char *name) const;

    // Clicks a button of the dialog by object name.
    void click(const char *objectName);

    TW_IDENTITY app{};
    TW_IDENTITY ds{};

private:
    QTemporaryDir home_;
};

using testsupport::Picture;
inline Picture scanimage(const QString &device, const QStringList &args) { return testsupport::Scanimage(device, args); }
inline Picture fromDib(HGLOBAL dib) { return testsupport::FromDib(dib); }
inline Picture fromImage(const QImage &image) { return testsupport::FromImage(image); }
Picture readTiff(const QString &file);

} // namespace sane_test
