// The acquisition library scanning from the test source through the real
// TWAIN_32.DLL: native, memory and file transfers, the source's dialog,
// several pages, scripted faults; nothing left behind afterwards.

#include "DsmFixture.h"

#include "platform/Bitmaps.h"
#include "platform/Messages.h"
#include "support/ManualTimerService.h"
#include "twain/OstraTwainGui.h"

#include <QTemporaryDir>

#include <memory>

using testsupport::ExpectedImage;
using testsupport::Page;
using testsupport::PageSpec;
using testsupport::PixelKind;
using testsupport::ScriptedSource;

namespace {

class Acquisition : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing_support::EnsureQtApplication();
        blocks_ = platform::GlobalLiveBlocks();
        bitmaps_ = platform::LiveBitmapCount();
        windows_ = QApplication::topLevelWidgets().size();
    }

    void TearDown() override
    {
        tw.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(platform::GlobalLiveBlocks(), blocks_) << "global blocks leaked";
        EXPECT_EQ(platform::LiveBitmapCount(), bitmaps_) << "bitmaps leaked";
        EXPECT_EQ(QApplication::topLevelWidgets().size(), windows_) << "windows left open";
        EXPECT_EQ(platform::ApplicationHookCount(), 0u);
    }

    void Start()
    {
        tw = std::make_unique<TOstraTwain>();
        ASSERT_TRUE(tw->LoadLibrary());
        tw->SetSourceManagerLoaded(true);
        ASSERT_TRUE(tw->SourceManagerLoaded());
        tw->OnTwainAcquire() = [this](TObject *, std::int32_t index, platform::Bitmap *image, bool &cancel) {
            journal.push_back("acquire " + std::to_string(index));
            images.push_back(image->ToImage());
            cancel = cancelAfter > 0 && int(images.size()) >= cancelAfter;
        };
        tw->OnAcquireCancel() = [this](TObject *, std::int32_t i) { journal.push_back("cancel " + std::to_string(i)); };
        tw->OnAcquireError() = [this](TObject *, std::int32_t i, std::int32_t e, std::int32_t a) {
            journal.push_back("error " + std::to_string(i) + " " + std::to_string(e) + " " + std::to_string(a));
        };
        tw->OnTransferComplete() = [this](TObject *, std::int32_t i, bool canceled) {
            journal.push_back("complete " + std::to_string(i) + (canceled ? " canceled" : ""));
        };
    }

    TTwainSource *Enable(int index, TTwainTransferMode mode = ttmNative, bool showUI = false)
    {
        TTwainSource *s = tw->Source(index);
        EXPECT_NE(s, nullptr);
        if (!s)
            return nullptr;
        s->SetTransferMode(mode);
        s->SetShowUI(showUI);
        s->SetLoaded(true);
        s->SetEnabled(true);
        return s;
    }

    // Window messages of the application, as the message loop and the
    // timer would send them.
    void Pump(int ticks = 3)
    {
        for (int i = 0; i < ticks; ++i)
            SendMessage(tw->VirtualWindow(), WM_USER, 0, 0);
    }

    static QImage Rgb(const QImage &image) { return testsupport::AsRgb32(image); }

    testing_support::ManualTimerService clock;
    testsupport::ManagerLocation location;
    testsupport::TestSourceFolder folder;
    std::unique_ptr<TOstraTwain> tw;
    std::vector<QImage> images;
    std::vector<std::string> journal;
    int cancelAfter = 0;

private:
    long blocks_ = 0;
    std::size_t bitmaps_ = 0;
    qsizetype windows_ = 0;
};

// --- the pixels of every transfer mode and pixel type ------------------------------

struct Delivery {
    const char *name;
    PixelKind kind;
    TTwainTransferMode mode;
};

class AcquisitionPixels : public Acquisition, public ::testing::WithParamInterface<Delivery> {};

TEST_P(AcquisitionPixels, ArriveAsTheScriptChoseThem)
{
    const Delivery &d = GetParam();
    // An odd width: rows are padded in DIBs and memory strips; a small
    // buffer: several strips per page.
    const PageSpec page = Page(37, 23, d.kind);
    folder.AddObject({ScriptedSource("Seiten").Add(page).With("buffer 100")});
    Start();
    QTemporaryDir out;
    const QString file = out.path() + QStringLiteral("/seite.bmp");
    QImage written;
    tw->OnSourceSetupFileXfer() = [&](TObject *, std::int32_t i) {
        EXPECT_TRUE(tw->Source(i)->SetupFileTransfer(file, tfBMP));
    };
    tw->OnSourceFileTransfer() = [&](TObject *, std::int32_t, TW_STR255 &name, TTwainFormat format, bool &) {
        EXPECT_EQ(QFile::decodeName(name), file);
        EXPECT_EQ(format, tfBMP);
        written = QImage(file);
    };

    TTwainSource *s = Enable(0, d.mode);
    ASSERT_TRUE(s && s->Enabled());
    Pump();

    const QImage got = d.mode == ttmFile ? written : (images.empty() ? QImage() : images.front());
    ASSERT_FALSE(got.isNull()) << d.name;
    EXPECT_EQ(Rgb(got), ExpectedImage(page, 0)) << d.name;
    EXPECT_EQ(journal.back(), "complete 0");
    EXPECT_FALSE(tw->HasEnumerated()) << "the source manager rebuilt itself";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AcquisitionPixels,
    ::testing::Values(Delivery{"NativeColour", PixelKind::Rgb, ttmNative}, Delivery{"NativeGray", PixelKind::Gray, ttmNative},
                      Delivery{"NativeBlackWhite", PixelKind::Bw, ttmNative},
                      Delivery{"MemoryColour", PixelKind::Rgb, ttmMemory}, Delivery{"MemoryGray", PixelKind::Gray, ttmMemory},
                      Delivery{"MemoryBlackWhite", PixelKind::Bw, ttmMemory},
                      Delivery{"FileColour", PixelKind::Rgb, ttmFile}, Delivery{"FileGray", PixelKind::Gray, ttmFile},
                      Delivery{"FileBlackWhite", PixelKind::Bw, ttmFile}),
    [](const ::testing::TestParamInfo<Delivery> &info) { return std::string(info.param.name); });

// --- the source's dialog and several pages ---------------------------------------------

TEST_F(Acquisition, ScannenInTheDialogDeliversEveryPageInOrder)
{
    const PageSpec a = Page(20, 10, PixelKind::Rgb);
    const PageSpec b = testsupport::CheckerPage(16, 16, PixelKind::Gray, 4);
    const PageSpec c = testsupport::SolidPage(8, 8, PixelKind::Rgb, 10, 200, 30);
    folder.AddObject({ScriptedSource("Stapel").Add(a).Add(b).Add(c)});
    Start();
    ASSERT_TRUE(Enable(0, ttmNative, true)->Enabled());
    ASSERT_NE(SourceDialog(), nullptr);
    Pump();
    EXPECT_TRUE(images.empty()) << "nothing before \"Scannen\"";
    ASSERT_TRUE(ClickInSourceDialog("scan"));
    Pump();
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(Rgb(images[0]), ExpectedImage(a, 0));
    EXPECT_EQ(Rgb(images[1]), ExpectedImage(b, 1));
    EXPECT_EQ(Rgb(images[2]), ExpectedImage(c, 2));
    EXPECT_EQ(journal, (std::vector<std::string>{"acquire 0", "acquire 0", "acquire 0", "complete 0"}));
    EXPECT_EQ(SourceDialog(), nullptr);
}

TEST_F(Acquisition, AHandlerThatCancelsKeepsThePageAndDiscardsTheRest)
{
    const PageSpec page = Page(12, 9, PixelKind::Gray);
    folder.AddObject({ScriptedSource("Stapel").Add(page).Add(page).Add(page)});
    Start();
    cancelAfter = 1;
    ASSERT_TRUE(Enable(0, ttmNative, true)->Enabled());
    ASSERT_TRUE(ClickInSourceDialog("scan"));
    Pump();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(Rgb(images[0]), ExpectedImage(page, 0));
    EXPECT_EQ(journal, (std::vector<std::string>{"acquire 0", "complete 0 canceled"}));
}

TEST_F(Acquisition, AbbrechenInTheDialogDeliversNoPage)
{
    folder.AddObject({ScriptedSource("Zweifler")});
    Start();
    ASSERT_TRUE(Enable(0, ttmNative, true)->Enabled());
    ASSERT_TRUE(ClickInSourceDialog("cancel"));
    Pump();
    EXPECT_TRUE(images.empty());
    EXPECT_EQ(journal, (std::vector<std::string>{"cancel 0", "complete 0 canceled"}));
    EXPECT_EQ(tw->SourcesLoaded(), 0);
}

TEST_F(Acquisition, ASecondScanUsesTheSameSourceAfterTheListWasRebuilt)
{
    const PageSpec first = testsupport::SolidPage(5, 5, PixelKind::Rgb, 1, 2, 3);
    const PageSpec second = testsupport::SolidPage(6, 4, PixelKind::Gray, 77);
    folder.AddObject({ScriptedSource("Erster").Add(first), ScriptedSource("Zweiter").Add(second)});
    Start();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(Enable(1)->Enabled()) << round;
        Pump();
        ASSERT_EQ(images.size(), std::size_t(round + 1));
        EXPECT_EQ(Rgb(images.back()), ExpectedImage(second, 0)) << round;
    }
}

// --- a TWAIN 2 source -------------------------------------------------------------------------

TEST_F(Acquisition, ATwain2SourceNotifiesThroughDatEventAndHandsATiff)
{
    // The TIFF is allocated by the source through the manager's entry
    // points and locked and freed by the library.
    const PageSpec colour = Page(29, 13, PixelKind::Rgb);
    const PageSpec blackWhite = Page(40, 18, PixelKind::Bw);
    folder.AddObject({ScriptedSource("Linux-Scanner").Twain2().Add(colour).Add(blackWhite).With("tiff tiles 16")});
    Start();
    ASSERT_TRUE(Enable(0, ttmNative, true)->Enabled());
    ASSERT_TRUE(ClickInSourceDialog("scan"));
    Pump();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(Rgb(images[0]), ExpectedImage(colour, 0));
    EXPECT_EQ(Rgb(images[1]), ExpectedImage(blackWhite, 1));
    EXPECT_EQ(journal.back(), "complete 0");

    // Without a dialog the notification comes from inside MSG_ENABLEDS and
    // waits for the next message.
    images.clear();
    ASSERT_TRUE(Enable(0)->Enabled());
    Pump();
    EXPECT_EQ(images.size(), 2u);
}

// --- faults at named steps ------------------------------------------------------------------

struct Fault {
    const char *name;
    const char *statement;
    bool enabled;
    std::vector<std::string> journal;
};

class AcquisitionFault : public Acquisition, public ::testing::WithParamInterface<Fault> {};

TEST_P(AcquisitionFault, IsReportedAsTheLibraryDoes)
{
    const Fault &f = GetParam();
    folder.AddObject({ScriptedSource("Launisch").Add(Page(4, 4, PixelKind::Gray)).With(f.statement)});
    Start();
    TTwainSource *s = Enable(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Enabled(), f.enabled);
    Pump();
    EXPECT_EQ(journal, f.journal);
    if (!f.enabled)
        s->SetLoaded(false);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AcquisitionFault,
    ::testing::Values(
        Fault{"TransferFails", "fail IMAGENATIVEXFER TWCC_PAPERJAM", true, {"error 0 1 20", "complete 0"}},
        Fault{"TransferCancelled", "cancel IMAGENATIVEXFER", true, {"cancel 0", "complete 0 canceled"}},
        Fault{"EnableWithChanges", "checkstatus ENABLEDS", true, {"acquire 0", "complete 0"}},
        Fault{"EnableRefused", "fail ENABLEDS", false, {}},
        Fault{"ScanCancelled", "cancel SCAN", true, {"cancel 0", "complete 0 canceled"}},
        Fault{"SecondPageFails", "page 4 4 gray gradient\nfail IMAGENATIVEXFER page=2", true,
              {"acquire 0", "error 0 1 1", "complete 0"}}),
    [](const ::testing::TestParamInfo<Fault> &info) { return std::string(info.param.name); });

} // namespace
