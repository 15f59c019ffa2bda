// A private SANE world for tests of the SANE source: a SANE configuration
// folder with SANE's "test" backend (and, where wanted, the tests' fault
// backend), the environment that points SANE and the source at it, and
// scanimage's picture of the same device for comparison.
#pragma once

#include "platform/WinTypes.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

namespace testsupport {

// Made once per process, before the source is first loaded: SANE reads its
// configuration once.  |faultBackendDir| (may be empty) is put in front of
// LD_LIBRARY_PATH, where SANE's dll backend looks for backends first.
class SaneWorld {
public:
    static SaneWorld &Get(const QByteArray &faultBackendDir = {});

    QString ConfigDir() const { return config_.path(); }
    QString FaultDir() const { return fault_.path(); }

private:
    explicit SaneWorld(const QByteArray &faultBackendDir);
    QTemporaryDir config_;
    QTemporaryDir fault_;
};

// A picture as plain rows of red, green, blue.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    bool operator==(const Picture &) const = default;
};

// What scanimage delivers from |device| with |args| in the SANE world;
// 16-bit samples keep their high byte.
Picture Scanimage(const QString &device, const QStringList &args);
// A packed DIB, a QImage.
Picture FromDib(HGLOBAL dib);
Picture FromImage(const QImage &image);

} // namespace testsupport
