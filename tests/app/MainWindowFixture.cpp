#include "MainWindowFixture.h"

#include "app/Records.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/StyleEngine.h"
#include "app/Info.h"
#include "styles/Farben.h"
#include "styles/StyleTable.h"
#include "support/QtApp.h"
#include "twaindirect/Scanners.h"

#include <QFile>

#include <cstring>

void MainWindowFixture::SetUp()
{
    testing_support::EnsureQtApplication();
    programDir_ = std::make_unique<QTemporaryDir>();
    documentDir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(programDir_->isValid());
    ASSERT_TRUE(documentDir_->isValid());

    Unit1::ResetState();
    Scanners::ResetState();
    if (scriptedManager_)
        dsm = std::make_unique<testsupport::ScriptedDsm>();
    Farben::style.clear();
    platform::Application::instance().Reset();
    directories_ = std::make_unique<testing_support::FixedDirectories>();
    directories_->SetProgramDirectory(programDir_->path());
    // Start-up step 1 and 3: the program directory and the start-up look.
    Unit1::lpf = platform::ProgramDirectory();
    Farben::InstallStyles();
    platform::StyleEngine::SetStyle(QStringLiteral("Aqua Light Slate"));
}

void MainWindowFixture::TearDown()
{
    // The windows start-up makes besides the main window.
    delete Info::Programm;
    delete Info::Inv;
    delete Farben::Farbe;
    Stop();
    // The overrides go in the reverse order of their installation.
    directories_.reset();
    Scanners::ResetState();
    dsm.reset();
    platform::Application::instance().Reset();
}

QString MainWindowFixture::ProgramDir() const
{
    return programDir_->path() + QLatin1Char('/');
}

QString MainWindowFixture::DocumentDir() const
{
    return documentDir_->path() + QLatin1Char('/');
}

void MainWindowFixture::WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray MainWindowFixture::ReadFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void MainWindowFixture::WriteProgramFile(const QString &name, const QByteArray &bytes) const
{
    WriteFile(ProgramDir() + name, bytes);
}

QByteArray MainWindowFixture::ReadProgramFile(const QString &name) const
{
    return ReadFile(ProgramDir() + name);
}

bool MainWindowFixture::ProgramFileExists(const QString &name) const
{
    return QFile::exists(ProgramDir() + name);
}

void MainWindowFixture::StoreFolder(const QString &folder) const
{
    optionen rec;
    std::memset(&rec, 0, sizeof rec);
    SetShortString(rec.pfad, 255, folder);
    WriteProgramFile(QStringLiteral("Einstellung.opt"), QByteArray(reinterpret_cast<const char *>(&rec), sizeof rec));
}

void MainWindowFixture::ProvideHelpFile() const
{
    WriteProgramFile(QStringLiteral("Quillora-Hilfe.chm"), QByteArray("ITSF"));
}

TForm1 &MainWindowFixture::Start()
{
    form = std::make_unique<TForm1>();
    Unit1::Form1 = form.get();
    platform::Application::instance().SetMainForm(form.get());
    return *form;
}

void MainWindowFixture::Stop()
{
    form.reset();
    Unit1::Form1 = nullptr;
}
