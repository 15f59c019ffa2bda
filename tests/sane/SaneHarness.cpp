#include "SaneHarness.h"

#include "sources/sane/Registry.h"
#include "sources/sane/ScanDialog.h"
#include "sources/sane/Session.h"
#include "sources/sane/Worker.h"

#include "support/QtApp.h"

#include "platform/Bitmaps.h"
#include "platform/GlobalMemory.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSlider>
#include <QSpinBox>
#include <QDoubleSpinBox>
#include <QThread>

#include <gtest/gtest.h>

#include <tiffio.h>

#include <chrono>
#include <cstring>

namespace sane_test {

namespace {

testsupport::SaneWorld &world() { return testsupport::SaneWorld::Get(FAULT_BACKEND_DIR); }

} // namespace

QString saneConfigDir() { return world().ConfigDir(); }
QString faultDir() { return world().FaultDir(); }

bool waitUntil(const std::function<bool()> &done, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

// Lets the worker finish what it was given and the GUI take the results.
static void settle()
{
    waitUntil([] { return !sane_source::Worker::instance().busy(); });
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

Harness::Harness(TW_UINT32 appGroups)
{
    world();
    testing_support::EnsureQtApplication();
    qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
    QFile::remove(faultDir() + "/gone");
    QFile::remove(faultDir() + "/network");
    sane_source::Registry::instance().forget();
    app.Id = 7;
    app.Version.MajorNum = 1;
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    app.SupportedGroups = appGroups;
    std::strcpy(app.ProductName, "Testanwendung");
}

Harness::~Harness()
{
    sane_source::Registry::instance().forget();
    settle();
}

TW_UINT16 Harness::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void *data)
{
    return DS_Entry(&app, dg, dat, msg, data);
}

TW_UINT16 Harness::condition()
{
    TW_STATUS status{};
    call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return status.ConditionCode;
}

std::vector<TW_IDENTITY> Harness::sources()
{
    std::vector<TW_IDENTITY> list;
    TW_IDENTITY id{};
    for (TW_UINT16 rc = DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
         rc = DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id))
        list.push_back(id);
    return list;
}

TW_UINT16 Harness::open(const char *productName)
{
    for (const TW_IDENTITY &id : sources()) {
        if (std::strcmp(id.ProductName, productName) == 0) {
            ds = id;
            ds.Id = 42;
            return call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &ds);
        }
    }
    ADD_FAILURE() << "no source " << productName;
    return TWRC_FAILURE;
}

TW_UINT16 Harness::close() { return call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &ds); }

TW_UINT16 Harness::enable(bool showUI)
{
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUI ? 1 : 0;
    ui.ModalUI = 0;
    return call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

TW_UINT16 Harness::disable()
{
    TW_USERINTERFACE ui{};
    return call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

TW_UINT16 Harness::waitForNotification(int ms)
{
    TW_UINT16 message = MSG_NULL;
    waitUntil(
        [&] {
            MSG msg{};
            msg.message = WM_USER;
            TW_EVENT event{&msg, MSG_NULL};
            if (call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT && event.TWMessage != MSG_NULL)
                message = event.TWMessage;
            return message != MSG_NULL;
        },
        ms);
    return message;
}

sane_source::Session *Harness::session() const { return sane_source::Registry::instance().session(app.Id); }

sane_source::ScanDialog *Harness::dialog() const
{
    auto *s = session();
    return s ? s->dialog() : nullptr;
}

TW_UINT16 Harness::setOne(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 value)
{
    TW_CAPABILITY c{cap, TWON_ONEVALUE, GlobalAlloc(GHND, sizeof(TW_ONEVALUE))};
    auto *one = static_cast<TW_ONEVALUE *>(GlobalLock(c.hContainer));
    one->ItemType = type;
    one->Item = value;
    GlobalUnlock(c.hContainer);
    const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
    GlobalFree(c.hContainer);
    return rc;
}

TW_UINT16 Harness::get(TW_UINT16 cap, TW_UINT16 msg, Container &out)
{
    out = Container{};
    TW_CAPABILITY c{cap, TWON_DONTCARE16, nullptr};
    const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, msg, &c);
    if (rc != TWRC_SUCCESS)
        return rc;
    out.conType = c.ConType;
    const auto *p = static_cast<const std::uint8_t *>(GlobalLock(c.hContainer));
    std::memcpy(&out.itemType, p, 2);
    const std::size_t size = out.itemType == TWTY_FIX32 || out.itemType == TWTY_INT32 || out.itemType == TWTY_UINT32
                                 ? 4
                                 : 2;
    auto item = [&](const std::uint8_t *at) {
        TW_UINT32 v = 0;
        std::memcpy(&v, at, size);
        return v;
    };
    if (c.ConType == TWON_ONEVALUE) {
        out.items.push_back(item(p + 2));
    } else if (c.ConType == TWON_ENUMERATION || c.ConType == TWON_ARRAY) {
        TW_UINT32 n = 0;
        std::memcpy(&n, p + 2, 4);
        const std::size_t first = c.ConType == TWON_ENUMERATION ? 14 : 6;
        EXPECT_LE(first + n * size, GlobalSize(c.hContainer));
        if (c.ConType == TWON_ENUMERATION) {
            std::memcpy(&out.current, p + 6, 4);
            std::memcpy(&out.def, p + 10, 4);
        }
        for (TW_UINT32 i = 0; i < n; ++i)
            out.items.push_back(item(p + first + i * size));
    }
    GlobalUnlock(c.hContainer);
    GlobalFree(c.hContainer);
    return rc;
}

void Harness::setOption(const char *name, const QString &value)
{
    sane_source::ScanDialog *d = dialog();
    ASSERT_NE(d, nullptr);
    settle();
    const QString topName = QString::fromLatin1(name);
    QWidget *w = d->findChild<QWidget *>(topName == "mode" || topName == "resolution" || topName == "source"
                                             ? topName
                                             : QStringLiteral("sane:") + topName);
    ASSERT_NE(w, nullptr) << name;
    ASSERT_TRUE(w->isEnabled()) << name;
    if (auto *c = qobject_cast<QComboBox *>(w)) {
        const int i = c->findText(value);
        QStringList items;
        for (int k = 0; k < c->count(); ++k)
            items << c->itemText(k);
        ASSERT_GE(i, 0) << name << " has no " << value.toStdString() << " in " << items.join('|').toStdString();
        c->setCurrentIndex(i);
        emit c->activated(i);
    } else if (auto *c = qobject_cast<QCheckBox *>(w)) {
        c->setChecked(value == "yes");
    } else if (auto *e = qobject_cast<QLineEdit *>(w)) {
        e->setText(value);
        emit e->editingFinished();
    } else if (auto *spin = qobject_cast<QSpinBox *>(w)) {
        spin->setValue(value.toInt());
    } else if (auto *spin = qobject_cast<QDoubleSpinBox *>(w)) {
        spin->setValue(value.toDouble());
    } else if (auto *slider = w->findChild<QSlider *>("slider")) {
        const sane_source::OptionInfo *o = session()->options().find(name);
        ASSERT_NE(o, nullptr);
        const double min = sane_source::wordToDouble(*o, o->range.min);
        double q = sane_source::wordToDouble(*o, o->range.quant);
        if (!(q > 0))
            q = 1;
        slider->setValue(int((value.toDouble() - min) / q + 0.5));
    } else {
        FAIL() << "no way to set " << name;
    }
    settle();
}

QString Harness::optionText(const char *name) const
{
    const sane_source::OptionInfo *o = session()->options().find(name);
    return o ? sane_source::valueText(*o, o->value) : QString();
}

void Harness::click(const char *objectName)
{
    sane_source::ScanDialog *d = dialog();
    ASSERT_NE(d, nullptr);
    auto *b = d->findChild<QAbstractButton *>(objectName);
    ASSERT_NE(b, nullptr) << objectName;
    ASSERT_TRUE(b->isEnabled()) << objectName;
    b->click();
}

// ---------------------------------------------------------------------------

} // namespace sane_test

namespace sane_test {

Picture readTiff(const QString &file)
{
    Picture pic;
    TIFF *t = TIFFOpen(QFile::encodeName(file).constData(), "r");
    if (!t)
        return pic;
    std::uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> raster(std::size_t(w) * h);
    if (TIFFReadRGBAImageOriented(t, w, h, raster.data(), ORIENTATION_TOPLEFT, 0) == 1) {
        pic.width = int(w);
        pic.height = int(h);
        for (std::uint32_t px : raster)
            pic.rgb.insert(pic.rgb.end(), {std::uint8_t(TIFFGetR(px)), std::uint8_t(TIFFGetG(px)),
                                           std::uint8_t(TIFFGetB(px))});
    }
    TIFFClose(t);
    return pic;
}

} // namespace sane_test
