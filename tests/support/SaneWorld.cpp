#include "support/SaneWorld.h"

#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>

namespace testsupport {

SaneWorld &SaneWorld::Get(const QByteArray &faultBackendDir)
{
    static SaneWorld *world = new SaneWorld(faultBackendDir);
    return *world;
}

SaneWorld::SaneWorld(const QByteArray &faultBackendDir)
{
    QFile dll(config_.path() + "/dll.conf");
    dll.open(QIODevice::WriteOnly);
    dll.write(faultBackendDir.isEmpty() ? "test\n" : "test\nquillorafault\n");
    dll.close();
    QFile test(config_.path() + "/test.conf");
    test.open(QIODevice::WriteOnly);
    // The backend's own defaults, with a colourful picture and room for an
    // A4 page.
    test.write("number_of_devices 2\n"
               "mode Gray\n"
               "depth 8\n"
               "hand-scanner false\n"
               "three-pass false\n"
               "three-pass-order RGB\n"
               "resolution_min 1.0\n"
               "resolution_max 1200.0\n"
               "resolution_quant 1.0\n"
               "resolution 50.0\n"
               "test-picture \"Color pattern\"\n"
               "invert-endianess false\n"
               "read-limit false\n"
               "read-limit-size 1\n"
               "read-delay false\n"
               "read-delay-duration 1000\n"
               "read-status-code \"Default\"\n"
               "fuzzy-parameters false\n"
               "ppl-loss 0\n"
               "non-blocking false\n"
               "select-fd false\n"
               "enable-test-options false\n"
               "geometry_min 0.0\n"
               "geometry_max 300.0\n"
               "geometry_quant 1.0\n"
               "tl_x 0.0\n"
               "tl_y 0.0\n"
               "br_x 80.0\n"
               "br_y 100.0\n");
    test.close();
    qputenv("SANE_CONFIG_DIR", config_.path().toUtf8());
    if (!faultBackendDir.isEmpty()) {
        QByteArray path = faultBackendDir;
        if (!qgetenv("LD_LIBRARY_PATH").isEmpty())
            path += ':' + qgetenv("LD_LIBRARY_PATH");
        qputenv("LD_LIBRARY_PATH", path);
    }
    qputenv("QUILLORA_FAULT_DIR", fault_.path().toUtf8());
    // SANE unloads its backends at sane_exit; kept mapped, what they leak is
    // reported with their names (and matched by the leak checker's list of
    // system libraries) instead of as frames of no module.
    for (const QByteArray &backend : {QByteArray(QUILLORA_SANE_TEST_BACKEND),
                                      faultBackendDir.isEmpty() ? QByteArray()
                                                                : faultBackendDir + "/libsane-quillorafault.so.1"})
        if (!backend.isEmpty())
            ::dlopen(backend.constData(), RTLD_NOW | RTLD_NODELETE);
    // Tests wait for the whole discovery: only local backends run.
    qputenv("QUILLORA_SANE_DISCOVERY_WAIT_MS", "20000");
}

Picture Scanimage(const QString &device, const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SANE_CONFIG_DIR", SaneWorld::Get().ConfigDir());
    p.setProcessEnvironment(env);
    p.start("scanimage", QStringList{"-d", device, "--format=pnm"} + args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        ADD_FAILURE() << "scanimage failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    const QByteArray data = p.readAllStandardOutput();
    // P4, P5 or P6 header: magic, width, height, maximum (not for P4),
    // comments starting with "#".
    int pos = 0;
    auto token = [&]() {
        for (;;) {
            while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos])))
                ++pos;
            if (pos < data.size() && data[pos] == '#') {
                while (pos < data.size() && data[pos] != '\n')
                    ++pos;
                continue;
            }
            break;
        }
        const int start = pos;
        while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos])))
            ++pos;
        return data.mid(start, pos - start);
    };
    const QByteArray magic = token();
    Picture pic;
    pic.width = token().toInt();
    pic.height = token().toInt();
    const int maxval = magic == "P4" ? 1 : token().toInt();
    ++pos; // the one blank after the header
    const auto *px = reinterpret_cast<const std::uint8_t *>(data.constData() + pos);
    const std::size_t avail = std::size_t(data.size() - pos);
    const std::size_t bytesPerSample = maxval > 255 ? 2 : 1;
    pic.rgb.resize(std::size_t(pic.width) * std::size_t(pic.height) * 3);
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            std::uint8_t *out = &pic.rgb[(std::size_t(y) * std::size_t(pic.width) + std::size_t(x)) * 3];
            if (magic == "P4") {
                const std::size_t rowBytes = (std::size_t(pic.width) + 7) / 8;
                const std::size_t at = std::size_t(y) * rowBytes + std::size_t(x) / 8;
                const bool black = at < avail && (px[at] & (0x80 >> (x % 8)));
                out[0] = out[1] = out[2] = black ? 0 : 255;
            } else {
                const int samples = magic == "P6" ? 3 : 1;
                for (int c = 0; c < 3; ++c) {
                    // PNM stores 16-bit samples big-endian: the first byte is the high one.
                    const std::size_t at =
                        ((std::size_t(y) * std::size_t(pic.width) + std::size_t(x)) * std::size_t(samples) +
                         std::size_t(samples == 3 ? c : 0)) *
                        bytesPerSample;
                    out[c] = at < avail ? px[at] : 0;
                }
            }
        }
    return pic;
}

Picture FromDib(HGLOBAL dib)
{
    Picture pic;
    if (!dib)
        return pic;
    const auto *p = static_cast<const std::uint8_t *>(GlobalLock(dib));
    BITMAPINFOHEADER h;
    std::memcpy(&h, p, sizeof h);
    pic.width = h.biWidth;
    pic.height = std::abs(h.biHeight);
    const int colors = h.biClrUsed ? int(h.biClrUsed) : h.biBitCount <= 8 ? 1 << h.biBitCount : 0;
    const std::uint8_t *table = p + h.biSize;
    const std::uint8_t *bits = table + colors * 4;
    const std::size_t stride = (std::size_t(pic.width) * h.biBitCount + 31) / 32 * 4;
    pic.rgb.resize(std::size_t(pic.width) * std::size_t(pic.height) * 3);
    for (int y = 0; y < pic.height; ++y) {
        const std::uint8_t *row = bits + stride * std::size_t(h.biHeight > 0 ? pic.height - 1 - y : y);
        for (int x = 0; x < pic.width; ++x) {
            std::uint8_t *out = &pic.rgb[(std::size_t(y) * std::size_t(pic.width) + std::size_t(x)) * 3];
            if (h.biBitCount == 24) {
                out[0] = row[3 * x + 2];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x];
            } else {
                const int index = h.biBitCount == 8 ? row[x] : (row[x / 8] >> (7 - x % 8)) & 1;
                out[0] = table[4 * index + 2];
                out[1] = table[4 * index + 1];
                out[2] = table[4 * index];
            }
        }
    }
    GlobalUnlock(dib);
    return pic;
}

Picture FromImage(const QImage &image)
{
    Picture pic;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    pic.width = rgb.width();
    pic.height = rgb.height();
    for (int y = 0; y < rgb.height(); ++y)
        pic.rgb.insert(pic.rgb.end(), rgb.constScanLine(y), rgb.constScanLine(y) + 3 * rgb.width());
    return pic;
}

} // namespace testsupport
