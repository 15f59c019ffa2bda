#include "app/Startup.h"

#include "app/Info.h"
#include "app/Log.h"
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/StyleEngine.h"
#include "preview/Bildanzeige.h"
#include "styles/Farben.h"
#include "styles/StyleTable.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

namespace Startup {
namespace {

void centre(QWidget *window)
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window->setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(), screen->availableGeometry()));
}

} // namespace

TForm1 *CreateProgram()
{
    // 1. The program directory, before any window exists.
    Unit1::lpf = platform::ProgramDirectory();

    // 2. The application object; the main window will own the taskbar button.
    auto &app = platform::Application::instance();
    app.SetTitle(QStringLiteral("Quillora"));
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    platform::InstallGermanTranslations();

    // 3. The program's looks, then the start-up look; a failure is shown and
    //    start-up goes on.
    Farben::InstallStyles();
    platform::StyleEngine::TrySetStyle(QStringLiteral("Aqua Light Slate"));

    // 4. The windows, hidden; the main window first (its FormCreate runs
    //    before any other window exists), then the style chooser, the about
    //    window, the catalogue and the document viewer.
    auto *form1 = new TForm1;
    Unit1::Form1 = form1;
    app.SetMainForm(form1);
    centre(form1);

    Farben::Farbe = new TFarbe;
    centre(Farben::Farbe);
    Info::Inv = new TInv;
    centre(Info::Inv);
    Info::Programm = new TProgramm;
    centre(Info::Programm);
    // The viewer on the main window's current document; the main window
    // takes it along when it goes.
    Bildanzeige::Bild = new TBild(TDocumentSource{[] { return Unit1::Pfad(); }, [] { return Unit1::datei_m; }}, form1);
    qCDebug(lcApp) << "started; program directory" << Unit1::lpf << "document folder" << Unit1::Pfad();
    return form1;
}

void DestroyProgram(TForm1 *form1)
{
    delete Info::Programm;
    delete Info::Inv;
    delete Farben::Farbe;
    delete form1;
}

} // namespace Startup
