// Source names, the order of the device list, and the stored file.
#include "sources/sane/Devices.h"
#include "sources/sane/Store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sane_source;

namespace {

struct NameCase {
    const char *what;
    FoundDevice device;
    const char *expected;
};

TEST(ProductNames, AreReadableAndFitAStr32)
{
    const std::vector<NameCase> cases = {
        {"vendor and model", {"genesys:libusb:001:007", "Canon", "LiDE 110", "flatbed scanner"}, "Canon LiDE 110"},
        {"model starting with the vendor", {"airscan:e0:x", "HP", "HP Color LaserJet MFP", "ip scanner"},
         "HP Color LaserJet MFP"},
        {"blanks tidied", {"x:1", "  Epson ", " Perfection   V39 ", ""}, "Epson Perfection V39"},
        {"no vendor, no model", {"net:host:pnm:0", "", "", ""}, "net:host:pnm:0"},
        {"control characters", {"x:2", "Acme", "Scan\tPro", ""}, "Acme Scan Pro"},
        // 33 bytes at most, and never half of "ü" (two bytes).
        {"cut at a character", {"x:3", "Büroscanner-Hersteller", "Modell-xÜ", ""},
         "Büroscanner-Hersteller Modell-x"},
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray name = baseProductName(c.device);
        EXPECT_EQ(name, QByteArray(c.expected));
        EXPECT_LE(name.size(), kStr32Length);
        EXPECT_TRUE(QString::fromUtf8(name).toUtf8() == name); // valid UTF-8
    }
    const QByteArray longBase(33, 'x');
    EXPECT_EQ(suffixedProductName(longBase, 2), QByteArray(29, 'x') + " (2)");
    EXPECT_EQ(suffixedProductName("Scanner", 12), QByteArray("Scanner (12)"));
}

TEST(DeviceList, KeepsItsOrderAndNamesAcrossRunsAndReplugging)
{
    // First run: two identical devices and one other, in discovery order.
    std::vector<KnownDevice> list;
    EXPECT_EQ(mergeFoundDevices(list, {{"test:0", "Noname", "frontend-tester", "virtual device"},
                                       {"test:1", "Noname", "frontend-tester", "virtual device"},
                                       {"genesys:libusb:001:005", "Canon", "LiDE 110", "flatbed scanner"}}),
              3);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].productName, "Noname frontend-tester");
    EXPECT_EQ(list[1].productName, "Noname frontend-tester (2)");
    EXPECT_EQ(list[2].productName, "Canon LiDE 110");

    // Next run: the list comes from the file; discovery finds the Canon on
    // another USB port, a new scanner, and the second tester is gone.
    StoredState stored;
    stored.devices = list;
    StoredState reread;
    ASSERT_TRUE(storeFromJson(storeToJson(stored), reread));
    std::vector<KnownDevice> next = reread.devices;
    for (const KnownDevice &d : next)
        EXPECT_FALSE(d.present);
    EXPECT_EQ(mergeFoundDevices(next, {{"epson2:net:10.0.0.5", "Epson", "WF-3620", "flatbed scanner"},
                                       {"genesys:libusb:002:011", "Canon", "LiDE 110", "flatbed scanner"},
                                       {"test:0", "Noname", "frontend-tester", "virtual device"}}),
              1);
    ASSERT_EQ(next.size(), 4u);
    EXPECT_EQ(next[0].productName, "Noname frontend-tester");
    EXPECT_TRUE(next[0].present);
    EXPECT_EQ(next[1].productName, "Noname frontend-tester (2)");
    EXPECT_FALSE(next[1].present); // listed, not reachable
    EXPECT_EQ(next[2].productName, "Canon LiDE 110");
    EXPECT_EQ(next[2].saneName, "genesys:libusb:002:011");
    EXPECT_TRUE(next[2].present);
    EXPECT_EQ(next[3].productName, "Epson WF-3620");
}

TEST(Store, KeepsDevicesAndSettingsAndSurvivesDamage)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());

    StoredState state;
    EXPECT_TRUE(loadStore(state)); // no file yet
    EXPECT_TRUE(state.devices.empty());

    mergeFoundDevices(state.devices, {{"test:0", "Noname", "frontend-tester", "virtual device"}});
    DeviceSettings s;
    s.values["mode"].text = "Color";
    s.values["resolution"].words = {300};
    s.values["tl-x"].words = {-65536 * 3};
    s.paper = "auto";
    state.settings["Noname frontend-tester"] = s;
    ASSERT_TRUE(saveStore(state));
    EXPECT_EQ(storeFile(), home.path() + "/Quillora/Scanner.json");

    StoredState back;
    ASSERT_TRUE(loadStore(back));
    ASSERT_EQ(back.devices.size(), 1u);
    EXPECT_EQ(back.devices[0].productName, "Noname frontend-tester");
    EXPECT_EQ(back.devices[0].saneName, "test:0");
    EXPECT_EQ(back.settings["Noname frontend-tester"], s);
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(home.path() + "/Quillora").entryList(QDir::Files), QStringList{"Scanner.json"});

    // A damaged file is moved aside, not overwritten by the next save.
    {
        QFile f(storeFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\"devices\": [ {\"productName\": ");
    }
    StoredState damaged;
    EXPECT_FALSE(loadStore(damaged));
    EXPECT_TRUE(damaged.devices.empty());
    EXPECT_TRUE(QFile::exists(storeFile() + QStringLiteral(".beschädigt")));
    EXPECT_FALSE(QFile::exists(storeFile()));

    // Entries that cannot be names of sources are left out.
    StoredState odd;
    ASSERT_TRUE(storeFromJson(R"({"devices": [{"productName": ""}, {"productName": "A"},
                                              {"productName": "A"}, {"productName": "0123456789012345678901234567890123"},
                                              {"productName": "B", "device": 5}],
                                  "settings": {"A": {"options": {"x": {"w": ["a"]}, "y": {"w": [1e12]}, "z": {"t": "v"}}}}})",
                              odd));
    ASSERT_EQ(odd.devices.size(), 2u);
    EXPECT_EQ(odd.devices[1].productName, "B");
    EXPECT_EQ(odd.settings["A"].values.size(), 1u);
    EXPECT_FALSE(storeFromJson("[1, 2]", odd));
}

} // namespace
