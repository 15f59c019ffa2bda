// A TWAIN 2 application of this test's own (DF_APP2) scanning from the test
// source scripted as a TWAIN 2 source, through the real manager: memory only
// through the entry points, notifications through a registered callback,
// native (TIFF), memory and file transfers; and the wrong uses.

#include "DsmFixture.h"

#include "platform/Bitmaps.h"
#include "twain/NativeTiff.h"

#include <QFile>
#include <QTemporaryDir>

using testsupport::ExpectedImage;
using testsupport::Page;
using testsupport::PageSpec;
using testsupport::PixelKind;
using testsupport::ScriptedSource;

namespace {

struct Note {
    TW_UINT32 origin;
    TW_UINT32 dest;
    TW_UINT16 msg;
    TW_MEMREF data;
};
std::vector<Note> g_notes;

TW_UINT16 Callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    EXPECT_EQ(dg, DG_CONTROL);
    EXPECT_EQ(dat, DAT_NULL);
    g_notes.push_back(Note{origin ? origin->Id : 0, dest ? dest->Id : 0, msg, data});
    return TWRC_SUCCESS;
}

QImage ImageOfDib(const std::vector<std::uint8_t> &dib)
{
    if (dib.empty())
        return QImage();
    HBITMAP bitmap = CreateBitmapFromPackedDib(dib.data(), dib.size());
    QImage image = platform::BitmapToImage(bitmap);
    DeleteObject(bitmap);
    return testsupport::AsRgb32(image);
}

class Twain2 : public DsmFixture {
protected:
    void SetUp() override
    {
        DsmFixture::SetUp();
        g_notes.clear();
    }

    // The application opens the manager, takes its entry points and opens
    // the only source.
    void Connect(const ScriptedSource &script)
    {
        folder.AddObject({script});
        ASSERT_EQ(Open(app), TWRC_SUCCESS);
        ASSERT_EQ(app.SupportedGroups & DF_DSM2, DF_DSM2);
        entry.Size = sizeof entry;
        ASSERT_EQ(Call(app, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &entry), TWRC_SUCCESS);
        ASSERT_NE(Copy(entry.DSM_MemAllocate), nullptr);
        ASSERT_NE(Copy(entry.DSM_Entry), nullptr);
        source = OpenSource(app, script.name.c_str());
        ASSERT_EQ(source.SupportedGroups & DF_DS2, DF_DS2);
    }

    void RegisterCallback(TW_UINTPTR refCon = 0x5150)
    {
        TW_CALLBACK2 cb{};
        cb.CallBackProc = reinterpret_cast<TW_MEMREF>(&Callback);
        cb.RefCon = refCon;
        ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &cb), TWRC_SUCCESS);
    }

    TW_UINT16 Enable(bool showUI)
    {
        TW_USERINTERFACE ui{};
        ui.ShowUI = showUI ? 1 : 0;
        return Call(app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }

    // Sets ICAP_XFERMECH with a container the application allocates through
    // the entry points (the source reads it through them too).
    void SetMechanism(TW_UINT16 mech)
    {
        TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, entry.DSM_MemAllocate(sizeof(TW_ONEVALUE))};
        ASSERT_NE(Copy(cap.hContainer), nullptr);
        auto *one = static_cast<TW_ONEVALUE *>(entry.DSM_MemLock(cap.hContainer));
        one->ItemType = TWTY_UINT16;
        one->Item = mech;
        entry.DSM_MemUnlock(cap.hContainer);
        EXPECT_EQ(Call(app, &source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS);
        entry.DSM_MemFree(cap.hContainer);
    }

    TW_UINT16 EndTransfer()
    {
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(Call(app, &source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        return pending.Count;
    }

    void Finish()
    {
        TW_USERINTERFACE ui{};
        EXPECT_EQ(Call(app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
        EXPECT_EQ(Close(app), TWRC_SUCCESS);
    }

    TW_IDENTITY app = AppIdentity("Linux-Anwendung", DF_APP2);
    TW_ENTRYPOINT entry{};
    TW_IDENTITY source{};
};

// --- native transfers: TIFF in strips and tiles ------------------------------------------

struct TiffCase {
    const char *name;
    PageSpec page;
    const char *layout;
};

class Twain2Native : public Twain2, public ::testing::WithParamInterface<TiffCase> {};

TEST_P(Twain2Native, HandsATiffThatTheLibraryDecodes)
{
    const TiffCase &c = GetParam();
    Connect(ScriptedSource("Linux-Scanner").Twain2().Add(c.page).With(c.layout));
    RegisterCallback();
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    // Notified from inside MSG_ENABLEDS, with the source as origin.
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0].msg, MSG_XFERREADY);
    EXPECT_EQ(g_notes[0].origin, Copy(source.Id));
    EXPECT_EQ(g_notes[0].dest, Copy(app.Id));
    EXPECT_EQ(g_notes[0].data, reinterpret_cast<TW_MEMREF>(TW_UINTPTR(0x5150)));

    TW_HANDLE handle = nullptr;
    ASSERT_EQ(Call(app, &source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_XFERDONE);
    const void *bytes = entry.DSM_MemLock(handle);
    ASSERT_NE(bytes, nullptr);
    ASSERT_TRUE(IsTiffFile(bytes, GlobalSize(handle)));
    const QImage image = ImageOfDib(TiffToPackedDib(bytes, GlobalSize(handle)));
    entry.DSM_MemUnlock(handle);
    entry.DSM_MemFree(handle);
    EXPECT_EQ(image, ExpectedImage(c.page, 0));
    EXPECT_EQ(EndTransfer(), 0);
    Finish();
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Twain2Native,
    ::testing::Values(TiffCase{"ColourStrips", Page(37, 23, PixelKind::Rgb), "tiff strips 5"},
                      TiffCase{"ColourTiles", Page(37, 23, PixelKind::Rgb), "tiff tiles 16"},
                      TiffCase{"GrayStrips", Page(30, 20, PixelKind::Gray), "tiff strips 16"},
                      TiffCase{"GrayTiles", Page(33, 40, PixelKind::Gray), "tiff tiles 32"},
                      TiffCase{"BlackWhiteStrips", Page(45, 19, PixelKind::Bw), "tiff strips 7"},
                      TiffCase{"BlackWhiteTiles", Page(45, 19, PixelKind::Bw), "tiff tiles 16"}),
    [](const ::testing::TestParamInfo<TiffCase> &info) { return std::string(info.param.name); });

// --- memory and file transfers ----------------------------------------------------------------

TEST_F(Twain2, MemoryTransferIntoABufferOfTheEntryPoints)
{
    const PageSpec page = Page(21, 17, PixelKind::Rgb);
    Connect(ScriptedSource("Linux-Scanner").Twain2().Add(page).With("buffer 200"));
    RegisterCallback();
    SetMechanism(TWSX_MEMORY);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    ASSERT_EQ(g_notes.size(), 1u);

    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
    TW_HANDLE buffer = entry.DSM_MemAllocate(setup.Preferred);
    ASSERT_NE(buffer, nullptr);
    QImage got(page.width, page.height, QImage::Format_RGB32);
    TW_UINT16 rc = TWRC_SUCCESS;
    int strips = 0;
    while (rc == TWRC_SUCCESS && strips < 100) {
        TW_IMAGEMEMXFER x{};
        x.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
        x.Memory.Length = setup.Preferred;
        x.Memory.TheMem = buffer;
        rc = Call(app, &source, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
        ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
        ++strips;
        const auto *data = static_cast<const std::uint8_t *>(entry.DSM_MemLock(buffer));
        for (TW_UINT32 r = 0; r < x.Rows; ++r) {
            const std::uint8_t *row = data + std::size_t(r) * x.BytesPerRow;
            for (int col = 0; col < page.width; ++col)
                got.setPixel(col, int(x.YOffset + r), qRgb(row[3 * col], row[3 * col + 1], row[3 * col + 2]));
        }
        entry.DSM_MemUnlock(buffer);
    }
    entry.DSM_MemFree(buffer);
    EXPECT_EQ(rc, TWRC_XFERDONE);
    EXPECT_GT(strips, 1);
    EXPECT_EQ(got, ExpectedImage(page, 0));
    EXPECT_EQ(EndTransfer(), 0);
    Finish();
}

TEST_F(Twain2, FileTransferWritesATiff)
{
    const PageSpec page = Page(19, 11, PixelKind::Gray);
    Connect(ScriptedSource("Linux-Scanner").Twain2().Add(page));
    RegisterCallback();
    SetMechanism(TWSX_FILE);
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.path() + "/seite.tif");
    TW_SETUPFILEXFER setup{};
    std::memcpy(setup.FileName, name.constData(), std::size_t(name.size()));
    setup.Format = TWFF_TIFF;
    ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    ASSERT_EQ(Call(app, &source, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr), TWRC_XFERDONE);
    QFile file(QFile::decodeName(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(ImageOfDib(TiffToPackedDib(bytes.constData(), std::size_t(bytes.size()))), ExpectedImage(page, 0));
    EXPECT_EQ(EndTransfer(), 0);
    Finish();
}

// --- memory passes freely ------------------------------------------------------------------------

TEST_F(Twain2, BlocksPassBetweenTheEntryPointsAndThePlatformEitherWay)
{
    Connect(ScriptedSource("Linux-Scanner").Twain2());
    const long before = platform::GlobalLiveBlocks();
    TW_HANDLE fromEntry = entry.DSM_MemAllocate(100);
    ASSERT_NE(fromEntry, nullptr);
    EXPECT_EQ(platform::GlobalLiveBlocks(), before + 1);
    EXPECT_EQ(GlobalSize(fromEntry), 100u);
    std::memset(GlobalLock(fromEntry), 0x5A, 100);
    GlobalUnlock(fromEntry);
    EXPECT_EQ(GlobalFree(fromEntry), nullptr);

    HGLOBAL fromPlatform = GlobalAlloc(GHND, 64);
    auto *p = static_cast<std::uint8_t *>(entry.DSM_MemLock(fromPlatform));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[63], 0);
    entry.DSM_MemUnlock(fromPlatform);
    entry.DSM_MemFree(fromPlatform);
    EXPECT_EQ(platform::GlobalLiveBlocks(), before);

    // A container the source allocated through the entry points, freed here.
    TW_CAPABILITY cap{ICAP_BITDEPTH, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
    EXPECT_EQ(platform::GlobalLiveBlocks(), before + 1);
    EXPECT_EQ(Copy(static_cast<TW_ONEVALUE *>(GlobalLock(cap.hContainer))->Item), 24u);
    GlobalUnlock(cap.hContainer);
    GlobalFree(cap.hContainer);
    EXPECT_EQ(platform::GlobalLiveBlocks(), before);
    EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(Close(app), TWRC_SUCCESS);
}

// --- notifications --------------------------------------------------------------------------------

TEST_F(Twain2, TheDialogsButtonsNotifyThroughTheCallback)
{
    Connect(ScriptedSource("Linux-Scanner").Twain2());
    RegisterCallback();
    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    EXPECT_TRUE(g_notes.empty());
    ASSERT_TRUE(ClickInSourceDialog("cancel"));
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_EQ(g_notes[0].msg, MSG_CLOSEDSREQ);
    TW_USERINTERFACE ui{};
    ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);

    ASSERT_EQ(Enable(true), TWRC_SUCCESS);
    ASSERT_TRUE(ClickInSourceDialog("scan"));
    ASSERT_EQ(g_notes.size(), 2u);
    EXPECT_EQ(g_notes[1].msg, MSG_XFERREADY);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    Finish();
}

TEST_F(Twain2, WithoutACallbackTheNotificationAnswersTheNextDatEvent)
{
    Connect(ScriptedSource("Linux-Scanner").Twain2());
    ASSERT_EQ(Enable(false), TWRC_SUCCESS);
    TW_EVENT event{};
    ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(Copy(event.TWMessage), MSG_XFERREADY);
    event = TW_EVENT{};
    EXPECT_EQ(Call(app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(Call(app, &source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    Finish();
}

TEST_F(Twain2, NotificationsForAnApplicationThatClosedTheSourceFailAndChangeNothing)
{
    Connect(ScriptedSource("Linux-Scanner").Twain2());
    RegisterCallback();
    TW_IDENTITY asSource = source; // what the source would send as origin
    ASSERT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    auto notify = [&](TW_UINT16 msg) { return entry_(&asSource, &app, DG_CONTROL, DAT_NULL, msg, nullptr); };
    auto sourceCondition = [&]() {
        TW_STATUS status{};
        EXPECT_EQ(entry_(&asSource, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    };

    EXPECT_EQ(notify(MSG_XFERREADY), TWRC_FAILURE);
    EXPECT_EQ(sourceCondition(), TWCC_SEQERROR);
    EXPECT_EQ(notify(MSG_GET), TWRC_FAILURE);
    EXPECT_EQ(sourceCondition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(Close(app), TWRC_SUCCESS);
    EXPECT_EQ(notify(MSG_CLOSEDSREQ), TWRC_FAILURE);
    EXPECT_EQ(sourceCondition(), TWCC_BADDEST);
    EXPECT_TRUE(g_notes.empty()) << "no callback was called";

    // Nothing was kept for the application either.
    TW_IDENTITY again = AppIdentity("Linux-Anwendung", DF_APP2);
    ASSERT_EQ(Open(again), TWRC_SUCCESS);
    TW_IDENTITY reopened = OpenSource(again, "Linux-Scanner");
    TW_EVENT event{};
    EXPECT_EQ(Call(again, &reopened, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(Call(again, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &reopened), TWRC_SUCCESS);
    EXPECT_EQ(Close(again), TWRC_SUCCESS);
}

TEST_F(Twain2, EntryPointsNeedARecordOfTheirSize)
{
    Connect(ScriptedSource("Linux-Scanner").Twain2());
    TW_ENTRYPOINT small{};
    small.Size = 8;
    EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &small), TWRC_FAILURE);
    EXPECT_EQ(Condition(app), TWCC_BADVALUE);
    EXPECT_EQ(Copy(small.DSM_Entry), nullptr);
    EXPECT_EQ(Call(app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(Close(app), TWRC_SUCCESS);
}

} // namespace
