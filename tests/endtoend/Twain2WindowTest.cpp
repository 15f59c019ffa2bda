// The program, a TWAIN 1.x application, scanning from a source written for
// TWAIN 2 on Linux: the source notifies through the manager (DAT_NULL), the
// manager keeps the notification for the program's next DAT_EVENT, and the
// page comes as a TIFF in the native handle.
#include "EndToEnd.h"

#include <QImage>

using namespace endtoend;
using testsupport::ExpectedImage;
using testsupport::Page;
using testsupport::PageSpec;
using testsupport::PixelKind;
using testsupport::ScriptedSource;

namespace {

struct TiffPage {
    const char *name;
    PageSpec page;
    const char *layout;
};

class Twain2Window : public EndToEndFixture, public ::testing::WithParamInterface<TiffPage> {};

TEST_P(Twain2Window, ShowsThePageOfATwain2Source)
{
    const TiffPage &p = GetParam();
    folder.AddObject({ScriptedSource("Linux-Scanner").Twain2().Add(p.page).Add(p.page).With(p.layout)});
    ProvideManager();
    TForm1 &f = StartShown();
    ASSERT_EQ(f.LBSources->count(), 1);
    TypeName(f, "Linux");
    ClickSource(f, "Linux-Scanner");
    f.Button4->click();
    ASSERT_TRUE(ClickInSourceDialog("scan"));
    ASSERT_TRUE(WaitFor([&] { return !f.Image1->Picture().isNull(); }));
    EXPECT_EQ(testsupport::AsRgb32(f.Image1->Picture()), ExpectedImage(p.page, 0));
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join("|").toStdString();
    EXPECT_TRUE(WaitFor([] { return SourceDialog() == nullptr; }));
}

INSTANTIATE_TEST_SUITE_P(Tiff, Twain2Window,
                         ::testing::Values(TiffPage{"Colour24Strips", Page(41, 29, PixelKind::Rgb), "tiff strips 8"},
                                           TiffPage{"Gray8Tiles", Page(35, 20, PixelKind::Gray), "tiff tiles 16"},
                                           TiffPage{"BlackWhite1Tiles", Page(50, 33, PixelKind::Bw), "tiff tiles 32"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
