// The page store, printing, saving and the printer's page size.
#include "PreviewFixture.h"

#include "platform/Metafile.h"

#include <QTemporaryDir>

namespace {

using testing_support::PrintJob;

TEST_F(PreviewTest, ANewControlHasItsStartingValues)
{
    EXPECT_EQ(ctl->PageCount(), 0);
    EXPECT_EQ(ctl->PageIndex(), -1);
    EXPECT_EQ(ctl->PageWidth(), 816);
    EXPECT_EQ(ctl->PageHeight(), 1056);
    EXPECT_EQ(ctl->Magnification(), 1.0f);
    EXPECT_EQ(ctl->PreviewMode(), pmNormal);
    EXPECT_EQ(ctl->Title(), QStringLiteral("Printing ..."));
    EXPECT_EQ(ctl->MarginLeft(), 96);
    EXPECT_EQ(ctl->MarginTop(), 96);
    EXPECT_EQ(ctl->MarginRight(), 96);
    EXPECT_EQ(ctl->MarginBottom(), 96);
    EXPECT_EQ(ctl->PageAnchor(), (TPageAnchor{0, 0, 0}));
    EXPECT_EQ(ctl->Color(), ctl->palette().color(QPalette::Dark));
}

TEST_F(PreviewTest, SetPageIndexRaisesOneChangeOnlyWhenTheIndexChanges)
{
    AddPages(2);
    changes = 0;
    ctl->SetPageIndex(-1);
    EXPECT_EQ(changes, 0);
    ctl->SetPageIndex(1);
    EXPECT_EQ(changes, 1);
    ctl->SetPageIndex(1);
    EXPECT_EQ(changes, 1);
    ctl->SetPageIndex(7); // no range check: frames nothing
    EXPECT_EQ(ctl->PageIndex(), 7);
    EXPECT_EQ(changes, 2);
}

TEST_F(PreviewTest, BeginPageCountsThePageAtOnceAndEndPageKeepsTheDrawing)
{
    SetClient(1200, 800, true);
    changes = 0;
    QPainter *canvas = ctl->BeginPage();
    EXPECT_EQ(ctl->PageCount(), 1);
    EXPECT_EQ(changes, 1);
    canvas->fillRect(QRect(0, 0, 408, 528), Qt::black);
    // A second BeginPage while one is open ends that page first.
    ctl->BeginPage()->fillRect(QRect(408, 528, 408, 528), Qt::black);
    ctl->EndPage();
    EXPECT_EQ(ctl->PageCount(), 2);
    EXPECT_EQ(changes, 2);
    ctl->PrintAll();
    ASSERT_EQ(printer.jobs.size(), 1u);
    const PrintJob &job = printer.jobs[0];
    ASSERT_EQ(job.sheets.size(), 2u);
    EXPECT_EQ(job.sheets[0].pixel(100, 100), qRgb(0, 0, 0));
    EXPECT_EQ(job.sheets[0].pixel(700, 900), qRgb(255, 255, 255));
    EXPECT_EQ(job.sheets[1].pixel(100, 100), qRgb(255, 255, 255));
    EXPECT_EQ(job.sheets[1].pixel(700, 900), qRgb(0, 0, 0));
}

TEST_F(PreviewTest, ClearEmptiesTheStore)
{
    SetClient(1200, 800, true);
    AddPages(3);
    ctl->SetPageIndex(2);
    ctl->WMMouseWheel(-200);
    ASSERT_GT(ctl->VertOffset, 0);
    changes = 0;
    ctl->Clear();
    EXPECT_EQ(ctl->PageCount(), 0);
    EXPECT_EQ(ctl->PageIndex(), -1);
    EXPECT_EQ(ctl->HorzOffset, 0);
    EXPECT_EQ(ctl->VertOffset, 0);
    EXPECT_EQ(changes, 1);
}

TEST_F(PreviewTest, PrintAllMakesOneJobWithASheetPerPage)
{
    ctl->PrintAll();
    EXPECT_TRUE(printer.jobs.empty());

    AddPages(3);
    ctl->SetTitle(QStringLiteral("Belege"));
    ctl->PrintAll();
    ASSERT_EQ(printer.jobs.size(), 1u);
    EXPECT_EQ(printer.jobs[0].title, QStringLiteral("Belege"));
    EXPECT_EQ(printer.jobs[0].sheets.size(), 3u);
    EXPECT_TRUE(printer.jobs[0].ended);
}

TEST_F(PreviewTest, PagesAreStretchedOverThePrintableArea)
{
    // A printer of 600 per inch with an A4-like printable area: width and
    // height are scaled independently.
    printer.caps[platform::HORZRES] = 1600;
    printer.caps[platform::VERTRES] = 2400;
    AddPages(1, QRect(0, 0, 408, 528)); // the top-left quarter
    ctl->PrintPage(0);
    ASSERT_EQ(printer.jobs.size(), 1u);
    const QImage &sheet = printer.jobs[0].sheets.at(0);
    ASSERT_EQ(sheet.size(), QSize(1600, 2400));
    EXPECT_EQ(sheet.pixel(790, 1190), qRgb(0, 0, 0));
    EXPECT_EQ(sheet.pixel(810, 1190), qRgb(255, 255, 255));
    EXPECT_EQ(sheet.pixel(790, 1210), qRgb(255, 255, 255));
}

TEST_F(PreviewTest, PrintPageTitlesTheJobWithThePageNumber)
{
    AddPages(2);
    ctl->PrintPage(0);
    ctl->PrintPage(1);
    ASSERT_EQ(printer.jobs.size(), 2u);
    EXPECT_EQ(printer.jobs[0].title, QStringLiteral("Printing ... - Page 1"));
    EXPECT_EQ(printer.jobs[1].title, QStringLiteral("Printing ... - Page 2"));
    EXPECT_EQ(printer.jobs[1].sheets.size(), 1u);
}

TEST_F(PreviewTest, PageNumbersOutsideTheStoreFailBeforeAnythingHappens)
{
    AddPages(1);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("seite.wmf"));
    for (int page : {-1, 1, 1000}) {
        EXPECT_THROW(ctl->PrintPage(page), std::exception) << page;
        EXPECT_THROW(ctl->SaveToMetafile(file, page), std::exception) << page;
    }
    EXPECT_TRUE(printer.jobs.empty());
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(PreviewTest, APrintingErrorReachesTheCallerAndDropsTheJob)
{
    AddPages(3);
    printer.failOnSheet = 2;
    EXPECT_THROW(ctl->PrintAll(), platform::EPrinter);
    ASSERT_EQ(printer.jobs.size(), 1u);
    EXPECT_TRUE(printer.jobs[0].aborted);
    EXPECT_FALSE(printer.Printing());
    // The printer is free for the next job.
    printer.failOnSheet = -1;
    ctl->PrintAll();
    EXPECT_TRUE(printer.jobs.back().ended);

    printer.available = false;
    EXPECT_THROW(ctl->PrintAll(), platform::EPrinter);
    EXPECT_EQ(printer.jobs.size(), 2u);
}

TEST_F(PreviewTest, ADeclinedJobPrintsNothing)
{
    AddPages(1);
    printer.declineJobs = true;
    ctl->PrintAll();
    ctl->PrintPage(0);
    EXPECT_TRUE(printer.jobs.empty());
}

struct PrinterCase {
    const char *name;
    bool available;
    int dpi, sheetW, sheetH, screenDpi;
    int pageW, pageH;
};

class PrinterConfig : public PreviewTest, public ::testing::WithParamInterface<PrinterCase> {};

TEST_P(PrinterConfig, SetsThePageSizeAndNothingElse)
{
    const PrinterCase &c = GetParam();
    printer.available = c.available;
    printer.caps[platform::LOGPIXELSX] = printer.caps[platform::LOGPIXELSY] = c.dpi;
    printer.caps[platform::PHYSICALWIDTH] = c.sheetW;
    printer.caps[platform::PHYSICALHEIGHT] = c.sheetH;
    metrics.dpi = c.screenDpi;
    changes = 0;
    ctl->ReadPrinterConfig();
    EXPECT_EQ(ctl->PageWidth(), c.pageW);
    EXPECT_EQ(ctl->PageHeight(), c.pageH);
    EXPECT_EQ(changes, 0);
}

INSTANTIATE_TEST_SUITE_P(Printers, PrinterConfig,
                         ::testing::Values(PrinterCase{"Letter600", true, 600, 5100, 6600, 96, 816, 1056},
                                           PrinterCase{"NoPrinter", false, 600, 4960, 7016, 96, 816, 1056},
                                           PrinterCase{"A4At300", true, 300, 2480, 3508, 96, 794, 1123},
                                           PrinterCase{"NoPrinterOnA120DpiScreen", false, 0, 0, 0, 120, 1020, 1320},
                                           // 2.5 page pixels round to the even neighbour
                                           PrinterCase{"HalfToEven", true, 96, 5, 7, 48, 2, 4},
                                           PrinterCase{"ZeroResolutionIsNoPrinter", true, 0, 5100, 6600, 96, 816, 1056}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(PreviewTest, SaveToMetafileWritesAPictureTheViewerReadsBack)
{
    AddPages(2, QRect(50, 60, 300, 200));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("seite.wmf"));
    QFile old(file);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older file, replaced");
    old.close();
    ctl->SaveToMetafile(file, 1);
    const platform::Metafile back = platform::Metafile::loadFromFile(file);
    EXPECT_EQ(back.width(), 816);
    EXPECT_EQ(back.height(), 1056);
    QImage img(816, 1056, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    back.play(p, QRectF(0, 0, 816, 1056));
    p.end();
    EXPECT_EQ(img.pixel(200, 150), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(40, 150), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(200, 270), qRgb(255, 255, 255));
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

} // namespace
