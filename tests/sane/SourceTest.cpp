// The SANE source as an application sees it through DS_Entry: its list of
// sources, scans through its dialog and without it, the three transfer
// modes, capabilities, and TWAIN 2 applications.
#include "SaneHarness.h"

#include "sources/sane/Registry.h"
#include "sources/sane/ScanDialog.h"
#include "sources/sane/Session.h"
#include "sources/sane/Store.h"
#include "sources/sane/Texts.h"

#include "support/ScriptedBoxes.h"

#include "platform/GlobalMemory.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace sane_test;
using sane_source::ScanDialog;

namespace {

constexpr const char *kTester = "Noname frontend-tester";
constexpr const char *kFault = "Quillora Fehlerscanner";

std::vector<std::string> names(const std::vector<TW_IDENTITY> &ids)
{
    std::vector<std::string> n;
    for (const TW_IDENTITY &id : ids)
        n.emplace_back(id.ProductName);
    return n;
}

TEST(SaneSource, ListsEveryDeviceInOneOrderAndRemembersIt)
{
    Harness h;
    // In the order SANE lists them: the fault backend's device, then the
    // two testers, the second one's name made unique.
    const auto first = h.sources();
    EXPECT_EQ(names(first), (std::vector<std::string>{kFault, kTester, "Noname frontend-tester (2)"}));
    ASSERT_EQ(first.size(), 3u);
    EXPECT_STREQ(first[1].Manufacturer, "Noname");
    EXPECT_STREQ(first[1].ProductFamily, "virtual device");
    EXPECT_EQ(first[1].SupportedGroups & (DG_CONTROL | DG_IMAGE), DG_CONTROL | DG_IMAGE);
    EXPECT_EQ(names(h.sources()), names(first));

    sane_source::StoredState stored;
    ASSERT_TRUE(sane_source::loadStore(stored));
    ASSERT_EQ(stored.devices.size(), 3u);
    EXPECT_EQ(stored.devices[0].saneName, "quillorafault:0");
    EXPECT_EQ(stored.devices[2].saneName, "test:1");
}

void writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// The list at start-up: the devices of the last run first, in their order,
// then what the local search finds; a device only the network search finds
// (seconds later) is appended, nothing moves.  A remembered device that is
// gone stays listed and says so when opened.
TEST(SaneSource, RemembersDevicesOfTheLastRunAndAppendsLaterOnes)
{
    Harness h;
    sane_source::StoredState last;
    last.devices.push_back({"Alter Scanner", "test:9", "Alt", "Scanner", "flatbed scanner", false});
    last.devices.push_back({"Noname frontend-tester (2)", "test:1", "Noname", "frontend-tester", "virtual device", false});
    ASSERT_TRUE(sane_source::saveStore(last));
    writeFile(faultDir() + "/network", "800");
    sane_source::Registry::instance().forget();

    const std::vector<std::string> atOnce = {"Alter Scanner", "Noname frontend-tester (2)", kFault, kTester};
    EXPECT_EQ(names(h.sources()), atOnce);
    std::vector<std::string> later = atOnce;
    later.push_back("Quillora Netzscanner");
    EXPECT_TRUE(waitUntil([&] { return names(h.sources()) == later; }, 15000)) << names(h.sources()).size();

    testing_support::ScriptedBoxes boxes;
    EXPECT_EQ(h.open("Alter Scanner"), TWRC_FAILURE);
    EXPECT_EQ(h.condition(), TWCC_NODS);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, testing_support::ShownBox::Information);
    EXPECT_EQ(boxes.shown()[0].text,
              "Der Scanner ist nicht erreichbar. Bitte prüfen Sie, ob er eingeschaltet und angeschlossen ist.");
    EXPECT_EQ(names(h.sources()), later);
    EXPECT_EQ(h.open("Quillora Netzscanner"), TWRC_SUCCESS);
    EXPECT_EQ(h.close(), TWRC_SUCCESS);

    // The next run lists all five at once, in the same order.
    sane_source::Registry::instance().forget();
    EXPECT_EQ(names(h.sources()), later);
}

// A remembered network scanner opened before the network search has found
// it again: opening waits for the search instead of failing.
TEST(SaneSource, OpensARememberedNetworkScannerBeforeTheSearchEnds)
{
    Harness h;
    sane_source::StoredState last;
    last.devices.push_back({"Quillora Netzscanner", "quillorafault:net", "Quillora", "Netzscanner", "ip scanner", false});
    ASSERT_TRUE(sane_source::saveStore(last));
    writeFile(faultDir() + "/network", "600");
    sane_source::Registry::instance().forget();

    testing_support::ScriptedBoxes boxes;
    EXPECT_EQ(h.open("Quillora Netzscanner"), TWRC_SUCCESS);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(names(h.sources()), (std::vector<std::string>{"Quillora Netzscanner", kFault, kTester,
                                                            "Noname frontend-tester (2)"}));
    EXPECT_EQ(h.close(), TWRC_SUCCESS);
}

struct ScanCase {
    std::string name;
    QString mode; // the dialog's label
    std::vector<std::pair<const char *, QString>> options;
    QStringList scanimageArgs;
};

void PrintTo(const ScanCase &c, std::ostream *os) { *os << c.name; }

class ScanThroughDialog : public ::testing::TestWithParam<ScanCase> {};

// Pick the scanner, set the options in the dialog, "Scannen": the page the
// native transfer delivers is exactly what scanimage delivers.
TEST_P(ScanThroughDialog, DeliversWhatScanimageDelivers)
{
    const ScanCase &c = GetParam();
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    ScanDialog *dialog = h.dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Scanner-Einstellungen");
    EXPECT_TRUE(dialog->isVisible());
    h.setOption("mode", c.mode);
    for (const auto &[name, value] : c.options)
        h.setOption(name, value);
    h.click("scan");
    ASSERT_EQ(h.waitForNotification(), MSG_XFERREADY) << h.dialog()->statusText().toStdString();

    TW_PENDINGXFERS pending{};
    EXPECT_EQ(h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 1);
    TW_IMAGEINFO info{};
    ASSERT_EQ(h.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(h.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE);
    const Picture got = fromDib(dib);
    GlobalFree(dib);
    EXPECT_EQ(info.ImageWidth, got.width);
    EXPECT_EQ(info.ImageLength, got.height);
    EXPECT_EQ(h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);

    const Picture expected = scanimage("test:0", c.scanimageArgs);
    ASSERT_GT(expected.width, 0);
    EXPECT_EQ(got.width, expected.width);
    EXPECT_EQ(got.height, expected.height);
    EXPECT_TRUE(got == expected);

    // The dialog is ready for the next page; disabling closes it.
    EXPECT_FALSE(dialog->busy());
    EXPECT_EQ(h.disable(), TWRC_SUCCESS);
    EXPECT_EQ(h.dialog(), nullptr);
    EXPECT_EQ(h.close(), TWRC_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Sane, ScanThroughDialog,
    ::testing::Values(
        ScanCase{"Colour", "Farbe", {}, {"--mode", "Color", "--depth", "8"}},
        ScanCase{"Gray", "Graustufen", {}, {"--mode", "Gray", "--depth", "8"}},
        ScanCase{"Lineart", "Schwarzweiß", {}, {"--mode", "Gray", "--depth", "1"}},
        ScanCase{"Gray16", "Graustufen", {{"depth", "16"}}, {"--mode", "Gray", "--depth", "16"}},
        ScanCase{"Colour16", "Farbe", {{"depth", "16"}}, {"--mode", "Color", "--depth", "16"}},
        ScanCase{"HandScanner", "Graustufen", {{"hand-scanner", "yes"}}, {"--mode", "Gray", "--hand-scanner=yes"}},
        ScanCase{"ThreePass",
                 "Farbe",
                 {{"three-pass", "yes"}, {"three-pass-order", "GBR"}},
                 {"--mode", "Color", "--three-pass=yes", "--three-pass-order", "GBR"}}),
    [](const auto &info) { return info.param.name; });

// Without the dialog the source scans at once; memory strips and files
// carry the same picture as a native transfer.
TEST(SaneSource, MemoryAndFileTransfersCarryThePicture)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    struct Case {
        TW_UINT16 pixelType;
        QStringList args;
    };
    for (const Case &c : {Case{TWPT_RGB, {"--mode", "Color", "--depth", "8"}},
                          Case{TWPT_GRAY, {"--mode", "Gray", "--depth", "8"}},
                          Case{TWPT_BW, {"--mode", "Gray", "--depth", "1"}}}) {
        SCOPED_TRACE(c.pixelType);
        const Picture expected = scanimage("test:0", c.args);
        ASSERT_EQ(h.setOne(ICAP_PIXELTYPE, TWTY_UINT16, c.pixelType), TWRC_SUCCESS);
        ASSERT_EQ(h.setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY), TWRC_SUCCESS);

        ASSERT_EQ(h.enable(false), TWRC_SUCCESS);
        ASSERT_EQ(h.waitForNotification(), MSG_XFERREADY);
        TW_IMAGEINFO info{};
        ASSERT_EQ(h.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        EXPECT_EQ(info.PixelType, TW_INT16(c.pixelType));
        TW_SETUPMEMXFER setup{};
        ASSERT_EQ(h.call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
        // A small buffer: several strips, the last one short.
        const TW_UINT32 size = setup.MinBufSize * 7;
        std::vector<std::uint8_t> buffer(size);
        Picture got;
        got.width = info.ImageWidth;
        got.height = info.ImageLength;
        TW_UINT16 rc = TWRC_SUCCESS;
        int rows = 0;
        while (rc == TWRC_SUCCESS) {
            TW_IMAGEMEMXFER mem{};
            mem.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            mem.Memory.Length = size;
            mem.Memory.TheMem = buffer.data();
            rc = h.call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mem);
            ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
            // Packed record: fields are copied before gtest binds them.
            EXPECT_EQ(TW_UINT32(mem.YOffset), TW_UINT32(rows));
            EXPECT_EQ(TW_UINT32(mem.BytesWritten), mem.Rows * mem.BytesPerRow);
            for (TW_UINT32 r = 0; r < mem.Rows; ++r, ++rows) {
                const std::uint8_t *row = buffer.data() + r * mem.BytesPerRow;
                for (int x = 0; x < got.width; ++x) {
                    if (c.pixelType == TWPT_RGB) {
                        got.rgb.insert(got.rgb.end(), row + 3 * x, row + 3 * x + 3);
                    } else {
                        // Chocolate: 0 is black.
                        const std::uint8_t v = c.pixelType == TWPT_GRAY ? row[x]
                                               : (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
                        got.rgb.insert(got.rgb.end(), {v, v, v});
                    }
                }
            }
        }
        EXPECT_EQ(rows, info.ImageLength);
        EXPECT_TRUE(got == expected);
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        EXPECT_EQ(h.disable(), TWRC_SUCCESS);

        // The same page as a bitmap file and as a TIFF file.
        for (TW_UINT16 format : {TWFF_BMP, TWFF_TIFF}) {
            const QString file = h.configHome() + (format == TWFF_BMP ? "/seite.bmp" : "/seite.tif");
            TW_SETUPFILEXFER setupFile{};
            std::strcpy(setupFile.FileName, QFile::encodeName(file).constData());
            setupFile.Format = format;
            ASSERT_EQ(h.call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setupFile), TWRC_SUCCESS);
            ASSERT_EQ(h.enable(false), TWRC_SUCCESS);
            ASSERT_EQ(h.waitForNotification(), MSG_XFERREADY);
            ASSERT_EQ(h.call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
            EXPECT_EQ(h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
            EXPECT_EQ(h.disable(), TWRC_SUCCESS);
            const Picture fromFile = format == TWFF_TIFF ? readTiff(file) : fromImage(QImage(file));
            EXPECT_TRUE(fromFile == expected) << file.toStdString();
        }
    }
}

// What the acquisition library's capability wrappers ask: container kinds,
// item types, values in the chosen unit, and refusals.
TEST(SaneSource, AnswersTheCapabilitiesTheLibraryUses)
{
    Harness h;
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    Harness::Container c;
    struct Expect {
        TW_UINT16 cap;
        TW_UINT16 msg;
        TW_UINT16 conType;
        TW_UINT16 itemType;
    };
    for (const Expect &e : {Expect{CAP_XFERCOUNT, MSG_GETCURRENT, TWON_ONEVALUE, TWTY_INT16},
                            Expect{ICAP_UNITS, MSG_GET, TWON_ENUMERATION, TWTY_UINT16},
                            Expect{ICAP_UNITS, MSG_GETCURRENT, TWON_ENUMERATION, TWTY_UINT16},
                            Expect{ICAP_PIXELTYPE, MSG_GETDEFAULT, TWON_ENUMERATION, TWTY_UINT16},
                            Expect{ICAP_PIXELFLAVOR, MSG_GET, TWON_ENUMERATION, TWTY_UINT16},
                            Expect{ICAP_BITDEPTH, MSG_GET, TWON_ENUMERATION, TWTY_UINT16},
                            Expect{ICAP_XRESOLUTION, MSG_GET, TWON_ENUMERATION, TWTY_FIX32},
                            Expect{ICAP_YRESOLUTION, MSG_GETCURRENT, TWON_ENUMERATION, TWTY_FIX32},
                            Expect{ICAP_PHYSICALWIDTH, MSG_GET, TWON_ONEVALUE, TWTY_FIX32},
                            Expect{ICAP_PHYSICALHEIGHT, MSG_GET, TWON_ONEVALUE, TWTY_FIX32},
                            Expect{ICAP_SUPPORTEDSIZES, MSG_GET, TWON_ENUMERATION, TWTY_UINT16},
                            Expect{ICAP_ORIENTATION, MSG_GET, TWON_ENUMERATION, TWTY_UINT16},
                            Expect{CAP_FEEDERENABLED, MSG_GET, TWON_ONEVALUE, TWTY_BOOL},
                            Expect{CAP_FEEDERLOADED, MSG_GET, TWON_ONEVALUE, TWTY_BOOL},
                            Expect{CAP_INDICATORS, MSG_GET, TWON_ONEVALUE, TWTY_BOOL},
                            Expect{CAP_UICONTROLLABLE, MSG_GET, TWON_ONEVALUE, TWTY_BOOL},
                            Expect{ICAP_XFERMECH, MSG_GET, TWON_ENUMERATION, TWTY_UINT16}}) {
        SCOPED_TRACE(::testing::Message() << "cap 0x" << std::hex << e.cap);
        ASSERT_EQ(h.get(e.cap, e.msg, c), TWRC_SUCCESS);
        EXPECT_EQ(c.conType, e.conType);
        EXPECT_EQ(c.itemType, e.itemType);
        ASSERT_FALSE(c.items.empty());
        if (c.conType == TWON_ENUMERATION) {
            EXPECT_LT(c.current, c.items.size());
        }
    }
    // Booleans are stored as 1 (the library reads only 1 as true).
    ASSERT_EQ(h.get(CAP_UICONTROLLABLE, MSG_GET, c), TWRC_SUCCESS);
    EXPECT_EQ(c.items[0], 1u);
    ASSERT_EQ(h.get(CAP_XFERCOUNT, MSG_GET, c), TWRC_SUCCESS);
    EXPECT_EQ(TW_INT16(c.items[0]), -1);

    // The physical size of the test device: 300 mm, in inches, then in
    // centimetres after ICAP_UNITS changed.
    ASSERT_EQ(h.get(ICAP_PHYSICALWIDTH, MSG_GET, c), TWRC_SUCCESS);
    TW_FIX32 f;
    std::memcpy(&f, &c.items[0], 4);
    EXPECT_NEAR(f.Whole + f.Frac / 65536.0, 300 / 25.4, 1e-3);
    ASSERT_EQ(h.setOne(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS), TWRC_SUCCESS);
    ASSERT_EQ(h.get(ICAP_PHYSICALWIDTH, MSG_GET, c), TWRC_SUCCESS);
    std::memcpy(&f, &c.items[0], 4);
    EXPECT_NEAR(f.Whole + f.Frac / 65536.0, 30.0, 1e-3);

    // Resolution and layout go to the device; values come back in the unit.
    ASSERT_EQ(h.setOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES), TWRC_SUCCESS);
    const TW_FIX32 dpi = {150, 0};
    TW_UINT32 item;
    std::memcpy(&item, &dpi, 4);
    EXPECT_EQ(h.setOne(ICAP_XRESOLUTION, TWTY_FIX32, item), TWRC_SUCCESS);
    EXPECT_EQ(h.optionText("resolution"), "150");
    TW_IMAGELAYOUT layout{};
    layout.Frame.Left = {1, 0};
    layout.Frame.Top = {0, 32768};
    layout.Frame.Right = {5, 0};
    layout.Frame.Bottom = {6, 0};
    const TW_UINT16 rc = h.call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
    EXPECT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS); // the device counts whole millimetres
    EXPECT_EQ(h.optionText("tl-x"), "25"); // 25.4 mm, in 1 mm steps
    EXPECT_EQ(h.optionText("br-y"), "152");
    ASSERT_EQ(h.setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW), TWRC_SUCCESS);
    EXPECT_EQ(h.optionText("depth"), "1");
    ASSERT_EQ(h.get(ICAP_BITDEPTH, MSG_GETCURRENT, c), TWRC_SUCCESS);
    EXPECT_EQ(c.items[c.current], 1u);
    ASSERT_EQ(h.setOne(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A4LETTER), TWRC_SUCCESS);
    EXPECT_EQ(h.optionText("br-x"), "210");
    EXPECT_EQ(h.optionText("br-y"), "297");

    // Refusals.
    struct Refusal {
        const char *what;
        TW_UINT16 cap;
        TW_UINT16 type;
        TW_UINT32 value;
        TW_UINT16 cc;
    };
    for (const Refusal &r : {Refusal{"unknown capability", 0x1151, TWTY_BOOL, 1, TWCC_CAPUNSUPPORTED},
                             Refusal{"read-only", CAP_UICONTROLLABLE, TWTY_BOOL, 0, TWCC_CAPBADOPERATION},
                             Refusal{"pixel type it lacks", ICAP_PIXELTYPE, TWTY_UINT16, TWPT_CMYK, TWCC_BADVALUE},
                             Refusal{"count 0", CAP_XFERCOUNT, TWTY_INT16, 0, TWCC_BADVALUE},
                             Refusal{"size larger than the device", ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_B4,
                                     TWCC_BADVALUE}}) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(h.setOne(r.cap, r.type, r.value), TWRC_FAILURE);
        EXPECT_EQ(h.condition(), r.cc);
    }
    // A container too short for its item is refused, not read past.
    TW_CAPABILITY cap{ICAP_UNITS, TWON_ENUMERATION, GlobalAlloc(GHND, 16)};
    auto *e = static_cast<std::uint8_t *>(GlobalLock(cap.hContainer));
    const TW_UINT32 n = 100, cur = 50;
    std::memcpy(e, &TWTY_UINT16, 2);
    std::memcpy(e + 2, &n, 4);
    std::memcpy(e + 6, &cur, 4);
    GlobalUnlock(cap.hContainer);
    EXPECT_EQ(h.call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
    EXPECT_EQ(h.condition(), TWCC_BADVALUE);
    GlobalFree(cap.hContainer);

    // Once enabled, nothing is set any more.
    ASSERT_EQ(h.enable(true), TWRC_SUCCESS);
    EXPECT_EQ(h.setOne(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS), TWRC_FAILURE);
    EXPECT_EQ(h.condition(), TWCC_SEQERROR);
    EXPECT_EQ(h.enable(true), TWRC_FAILURE);
    EXPECT_EQ(h.condition(), TWCC_SEQERROR);
    TW_HANDLE none = nullptr;
    EXPECT_EQ(h.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &none), TWRC_FAILURE);
    EXPECT_EQ(h.condition(), TWCC_SEQERROR);
}

// A TWAIN 2 application hears of the page through the manager's DAT_NULL
// and receives a TIFF from the native transfer.
std::vector<TW_UINT16> g_notifications;
TW_UINT16 recordNotification(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF)
{
    if (dg == DG_CONTROL && dat == DAT_NULL)
        g_notifications.push_back(msg);
    return TWRC_SUCCESS;
}
TW_HANDLE memAllocate(TW_UINT32 size) { return GlobalAlloc(GHND, size); }
void memFree(TW_HANDLE h) { GlobalFree(h); }
TW_MEMREF memLock(TW_HANDLE h) { return GlobalLock(h); }
void memUnlock(TW_HANDLE h) { GlobalUnlock(h); }

TEST(SaneSource, NotifiesTwain2ApplicationsAndHandsThemTiff)
{
    Harness h(DG_CONTROL | DG_IMAGE | DF_APP2);
    g_notifications.clear();
    TW_ENTRYPOINT entry{sizeof(TW_ENTRYPOINT), recordNotification, memAllocate, memFree,
                                   memLock, memUnlock};
    h.sources();
    ASSERT_EQ(h.call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry), TWRC_SUCCESS);
    ASSERT_EQ(h.open(kTester), TWRC_SUCCESS);
    ASSERT_EQ(h.enable(false), TWRC_SUCCESS);
    ASSERT_TRUE(waitUntil([] { return !g_notifications.empty(); }));
    EXPECT_EQ(g_notifications, std::vector<TW_UINT16>{MSG_XFERREADY});
    TW_HANDLE tiff = nullptr;
    ASSERT_EQ(h.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &tiff), TWRC_XFERDONE);
    const auto *p = static_cast<const char *>(GlobalLock(tiff));
    const QImage image = QImage::fromData(reinterpret_cast<const uchar *>(p), int(GlobalSize(tiff)), "TIFF");
    EXPECT_EQ(std::string(p, 4), std::string("II*\0", 4));
    GlobalUnlock(tiff);
    GlobalFree(tiff);
    if (!image.isNull()) { // Qt's TIFF plug-in is optional
        EXPECT_TRUE(fromImage(image) == scanimage("test:0", {"--mode", "Gray"}));
    }
}

} // namespace
