// The SANE source in the whole chain: program -> TWAIN_32.DLL -> sane.ds ->
// SANE.
//
//  BM_SaneStartUp     a fresh process per start-up, from its start to the
//                     shown main window: with the manager and the SANE source
//                     over Debian's whole SANE configuration (every backend,
//                     sane-airscan included, probing networks), against the
//                     program with no manager at all.  Counters with_ms,
//                     without_ms, ratio, scanners (listed with the manager).
//  BM_A4ColourPage    an A4 colour page at 300 dpi from SANE's test backend:
//                     from "Scannen" in the source's dialog to the page in
//                     the main window's picture area (chain_ms), and from
//                     "Dokument scannen" (page_ms: source opened, dialog
//                     shown, scanned, transferred, shown), against scanimage
//                     writing the same page to a file (scanimage_ms), measured
//                     alternately in one run.  ratio = chain_ms / scanimage_ms,
//                     ratio_whole = page_ms / scanimage_ms.
//
// The processor is named in the context ("cpu").
#include "app/Records.h"
#include "app/Startup.h"
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Boxes.h"
#include "platform/Directories.h"
#include "support/FixedDirectories.h"
#include "support/SaneWorld.h"
#include "support/TestSourceScript.h"
#include "twaindirect/Scanners.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "BenchSupport.h"
#include "StartupChild.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

double ms(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

bool waitFor(const std::function<bool()> &done, int ms = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// A program directory with (or without) the manager; the SANE source in
// the manager's source folder; every other directory kind empty.
// The source folder is one per process: the source object is loaded once
// and stays loaded (a second copy would start SANE a second time).
const QTemporaryDir &sourceFolder()
{
    static QTemporaryDir *folder = [] {
        auto *dir = new QTemporaryDir;
        QFile::copy(QFileInfo(testsupport::ManagerFile()).absolutePath() + QStringLiteral("/twain/sane.ds"),
                    dir->path() + QStringLiteral("/sane.ds"));
        return dir;
    }();
    return *folder;
}

struct Layout {
    QTemporaryDir program;
    QTemporaryDir empty;
    const QTemporaryDir &sources = sourceFolder();
    QTemporaryDir home;

    explicit Layout(bool withManager)
    {
        if (withManager)
            QFile::link(testsupport::ManagerFile(), program.path() + QStringLiteral("/TWAIN_32.DLL"));
    }

    std::unique_ptr<testing_support::FixedDirectories> Use() const
    {
        auto dirs = std::make_unique<testing_support::FixedDirectories>();
        using platform::DirectoryKind;
        for (DirectoryKind kind :
             {DirectoryKind::Windows, DirectoryKind::System, DirectoryKind::Current, DirectoryKind::Temp})
            dirs->Set(kind, empty.path());
        dirs->Set(DirectoryKind::Application, program.path() + QStringLiteral("/quillora"));
        dirs->SetProgramDirectory(program.path());
        return dirs;
    }
};

// ---- start-up in a fresh process ----------------------------------------------

constexpr char kChildFlag[] = "--sane-start-up-child";

int childMain(int argc, char **argv)
{
    bench::SilentBoxes boxes{true};
    runStartUpChild(argc, argv, boxes);
}

// Milliseconds from the child's start to its shown window (negative when
// it failed); |scanners| receives the number it listed.
double spawnOnce(const std::string &self, const Layout &layout, int &scanners)
{
    return SpawnStartUpChild(self, kChildFlag, QFile::encodeName(layout.program.path()),
                             QFile::encodeName(layout.empty.path()), scanners);
}

void BM_SaneStartUp(benchmark::State &state)
{
    // Debian's own SANE configuration, nothing remembered from earlier runs.
    ::unsetenv("SANE_CONFIG_DIR");
    const Layout withManager(true);
    const Layout withoutManager(false);
    ::setenv("QUILLORA_DSM_SOURCES", QFile::encodeName(withManager.sources.path()).constData(), 1);
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(withManager.home.path()).constData(), 1);
    const std::string self = bench::SelfPath();
    int scanners = 0, none = 0;
    if (spawnOnce(self, withManager, scanners) < 0 || spawnOnce(self, withoutManager, none) < 0) {
        state.SkipWithError("the child program did not show its window");
        return;
    }
    double with = 0, without = 0, worst = 0;
    long n = 0;
    for (auto _ : state) {
        // Nothing remembered: every start-up is a first one.
        QFile::remove(withManager.home.path() + QStringLiteral("/Quillora/Scanner.json"));
        double a = 0, b = 0;
        if (n % 2 == 0) {
            a = spawnOnce(self, withManager, scanners);
            b = spawnOnce(self, withoutManager, none);
        } else {
            b = spawnOnce(self, withoutManager, none);
            a = spawnOnce(self, withManager, scanners);
        }
        if (a < 0 || b < 0) {
            state.SkipWithError("the child program did not show its window");
            return;
        }
        with += a;
        without += b;
        worst = std::max(worst, a);
        ++n;
        state.SetIterationTime((a + b) / 1000.0);
    }
    if (n > 0 && without > 0) {
        state.counters["with_ms"] = with / double(n);
        state.counters["without_ms"] = without / double(n);
        state.counters["ratio"] = with / without;
        state.counters["worst_with_ms"] = worst;
        state.counters["scanners"] = scanners;
    }
}

// ---- the main window with the SANE source ------------------------------------

QDialog *saneDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("ScanDialog") && w->isVisible())
            return qobject_cast<QDialog *>(w);
    return nullptr;
}

// Chooses |text| in the dialog's combo box |name| unless it is chosen.
bool choose(QDialog *dialog, const char *name, const QString &text)
{
    auto *combo = dialog->findChild<QComboBox *>(QString::fromLatin1(name));
    if (!combo)
        return false;
    if (combo->currentText() == text)
        return true;
    const int i = combo->findText(text);
    if (i < 0)
        return false;
    combo->setCurrentIndex(i);
    emit combo->activated(i);
    // Let the device take it before anything is timed.
    QElapsedTimer clock;
    clock.start();
    waitFor([&] { return clock.elapsed() > 150; });
    return true;
}

// The main window over SANE's test backend (the tests' SANE world), an A4
// colour page at |dpi|, the document folder a private one.
class Window {
public:
    explicit Window(int dpi) : dpi_(dpi), layout_(true)
    {
        bench::OffscreenApplication();
        testsupport::SaneWorld::Get();
        ::setenv("QUILLORA_DSM_SOURCES", QFile::encodeName(layout_.sources.path()).constData(), 1);
        ::setenv("XDG_CONFIG_HOME", QFile::encodeName(layout_.home.path()).constData(), 1);
        dirs_ = layout_.Use();
        Unit1::ResetState();
        Scanners::ResetState();
        platform::Application::instance().Reset();
        // The document folder: a settings file naming a private folder.
        optionen rec;
        std::memset(&rec, 0, sizeof rec);
        SetShortString(rec.pfad, 255, documents_.path() + QStringLiteral("/"));
        QFile settings(layout_.program.path() + QStringLiteral("/Einstellung.opt"));
        settings.open(QIODevice::WriteOnly);
        settings.write(reinterpret_cast<const char *>(&rec), sizeof rec);
        settings.close();
        form_.reset(Startup::CreateProgram());
        form_->show();
        QCoreApplication::processEvents();
    }
    ~Window()
    {
        form_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    TForm1 &form() { return *form_; }

    // "Dokument scannen", then "Scannen"; times of both clicks and of the
    // page in the picture area.  False when no page came.
    bool scan(double &fromDocument, double &fromScan)
    {
        TForm1 &f = *form_;
        const qint64 before = f.Image1->Picture().cacheKey();
        f.Edit1->setText(QStringLiteral("Seite"));
        failure_ = "no scanner listed";
        if (f.LBSources->count() < 1)
            return false;
        // Picked with the mouse, as a person does (that enables "Dokument scannen").
        QTest::mouseClick(f.LBSources->viewport(), Qt::LeftButton, {},
                          f.LBSources->visualItemRect(f.LBSources->item(0)).center());
        const auto t0 = std::chrono::steady_clock::now();
        f.Button4->click();
        failure_ = "no dialog";
        if (!waitFor([] { return saneDialog() != nullptr; }))
            return false;
        const auto tChoose = std::chrono::steady_clock::now();
        QDialog *dialog = saneDialog();
        if (!choose(dialog, "mode", QStringLiteral("Farbe")) ||
            !choose(dialog, "resolution", QStringLiteral("%1 dpi").arg(dpi_)) ||
            !choose(dialog, "paper", QStringLiteral("A4 (210 × 297 mm)"))) {
            failure_ = "settings not offered";
            return false;
        }
        failure_ = "no page shown";
        auto *button = dialog->findChild<QPushButton *>(QStringLiteral("scan"));
        const auto t1 = std::chrono::steady_clock::now();
        button->click();
        if (!waitFor([&] { return f.Image1->Picture().cacheKey() != before && !f.Image1->Picture().isNull(); }))
            return false;
        const auto t2 = std::chrono::steady_clock::now();
        // The settings chosen in the dialog are not part of the page's time.
        fromDocument = ms(t0, t2) - ms(tChoose, t1);
        fromScan = ms(t1, t2);
        failure_ = "the dialog stays";
        return waitFor([] { return saneDialog() == nullptr; });
    }

    // What the last scan() that failed was waiting for.
    const std::string &failure() const { return failure_; }

private:
    int dpi_;
    std::string failure_;
    bench::SilentBoxes boxes_{true};
    platform::ScopedService<platform::Boxes> useBoxes_{boxes_};
    Layout layout_;
    QTemporaryDir documents_;
    std::unique_ptr<testing_support::FixedDirectories> dirs_;
    std::unique_ptr<TForm1> form_;
};

double scanimageOnce(const QString &file)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SANE_CONFIG_DIR"), testsupport::SaneWorld::Get().ConfigDir());
    p.setProcessEnvironment(env);
    const auto t0 = std::chrono::steady_clock::now();
    p.start(QStringLiteral("scanimage"),
            {QStringLiteral("-d"), QStringLiteral("test:0"), QStringLiteral("--mode"), QStringLiteral("Color"),
             QStringLiteral("--resolution"), QStringLiteral("300"), QStringLiteral("-x"), QStringLiteral("210"),
             QStringLiteral("-y"), QStringLiteral("297"), QStringLiteral("--format=pnm"), QStringLiteral("-o"), file});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return -1;
    return ms(t0, std::chrono::steady_clock::now());
}

void BM_A4ColourPage(benchmark::State &state)
{
    Window window(300);
    QTemporaryDir out;
    const QString file = out.path() + QStringLiteral("/seite.pnm");
    double a = 0, b = 0;
    if (!window.scan(a, b)) { // warm-up
        state.SkipWithError(("no page: " + window.failure()).c_str());
        return;
    }
    if (scanimageOnce(file) < 0) {
        state.SkipWithError("scanimage failed");
        return;
    }
    double chain = 0, whole = 0, reference = 0;
    long n = 0;
    for (auto _ : state) {
        double fromDocument = 0, fromScan = 0, s = 0;
        bool ok = true;
        if (n % 2 == 0) {
            ok = window.scan(fromDocument, fromScan);
            s = scanimageOnce(file);
        } else {
            s = scanimageOnce(file);
            ok = window.scan(fromDocument, fromScan);
        }
        if (!ok || s < 0) {
            state.SkipWithError(ok ? "scanimage failed" : ("no page: " + window.failure()).c_str());
            return;
        }
        chain += fromScan;
        whole += fromDocument;
        reference += s;
        ++n;
        state.SetIterationTime(fromScan / 1000.0);
    }
    if (n > 0 && reference > 0) {
        state.counters["chain_ms"] = chain / double(n);
        state.counters["page_ms"] = whole / double(n);
        state.counters["scanimage_ms"] = reference / double(n);
        state.counters["ratio"] = chain / reference;
        state.counters["ratio_whole"] = whole / reference;
        const QImage shown = window.form().Image1->Picture();
        state.counters["width"] = shown.width();
        state.counters["height"] = shown.height();
    }
}

} // namespace

BENCHMARK(BM_SaneStartUp)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_A4ColourPage)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], kChildFlag) == 0)
        return childMain(argc, argv);
    benchmark::AddCustomContext("cpu", bench::ProcessorName());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
