// The real main window with the real TWAIN_32.DLL of this build and copies
// of the test source in a private folder.  The program directory is a
// temporary folder; the manager is put there (a link to the build's file)
// only when a test asks for it, and every directory kind of the acquisition
// library's search points at an empty folder or at the program directory,
// so nothing installed on the machine is ever found.
#pragma once

#include "MainWindowFixture.h"

#include "platform/Directories.h"
#include "platform/GlobalMemory.h"
#include "platform/Messages.h"
#include "support/FixedDirectories.h"
#include "support/TestSourceScript.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace endtoend {

// Runs the message loop until |done| or |ms| milliseconds have passed.
inline bool WaitFor(const std::function<bool()> &done, int ms = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

// The test source's dialog while it is shown.
inline QDialog *SourceDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("QuilloraTestSourceDialog") && w->isVisible())
            return qobject_cast<QDialog *>(w);
    return nullptr;
}

// Clicks "Scannen" ("scan") or "Abbrechen" ("cancel") in the source's dialog
// once it is shown.
inline bool ClickInSourceDialog(const char *button)
{
    if (!WaitFor([] { return SourceDialog() != nullptr; }))
        return false;
    auto *b = SourceDialog()->findChild<QPushButton *>(QString::fromLatin1(button));
    if (!b)
        return false;
    QTest::mouseClick(b, Qt::LeftButton);
    return true;
}

// Top-level widgets and window handles alive.
inline std::pair<qsizetype, std::size_t> OpenWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return {QApplication::topLevelWidgets().size(), platform::WindowCount()};
}

class EndToEndFixture : public MainWindowFixture {
protected:
    EndToEndFixture() : MainWindowFixture(false) {}

    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ProvideHelpFile();
        StoreFolder(DocumentDir());
        ASSERT_TRUE(empty_.isValid());
        directories_ = std::make_unique<testing_support::FixedDirectories>();
        using platform::DirectoryKind;
        for (DirectoryKind kind :
             {DirectoryKind::Windows, DirectoryKind::System, DirectoryKind::Current, DirectoryKind::Temp})
            directories_->Set(kind, empty_.path());
        // The executable's file name: its folder is the program directory.
        directories_->Set(DirectoryKind::Application, ProgramDir() + QStringLiteral("quillora"));
        platform::ApplicationWindow(); // exists before the counts are taken
        blocks_ = platform::GlobalLiveBlocks();
        windows_ = OpenWindows();
    }

    void TearDown() override
    {
        Stop();
        EXPECT_EQ(platform::GlobalLiveBlocks(), blocks_) << "global blocks leaked";
        EXPECT_EQ(OpenWindows(), windows_) << "windows left open";
        EXPECT_EQ(platform::ApplicationHookCount(), 0u);
        directories_.reset();
        MainWindowFixture::TearDown();
    }

    // The manager of this build in the program directory.
    void ProvideManager() const
    {
        ASSERT_TRUE(QFile::link(testsupport::ManagerFile(), ProgramDir() + QStringLiteral("TWAIN_32.DLL")));
    }

    // Starts the window and shows it, as the program does.
    TForm1 &StartShown()
    {
        TForm1 &f = Start();
        f.show();
        QCoreApplication::processEvents();
        return f;
    }

    void ClickSource(TForm1 &f, const QString &name)
    {
        for (int row = 0; row < f.LBSources->count(); ++row) {
            if (f.LBSources->item(row)->text() == name) {
                QTest::mouseClick(f.LBSources->viewport(), Qt::LeftButton, {},
                                  f.LBSources->visualItemRect(f.LBSources->item(row)).center());
                return;
            }
        }
        ADD_FAILURE() << "no scanner " << name.toStdString();
    }

    void TypeName(TForm1 &f, const QString &name)
    {
        f.Edit1->clear();
        QTest::keyClicks(f.Edit1, name);
    }

    testsupport::TestSourceFolder folder;

private:
    QTemporaryDir empty_;
    std::unique_ptr<testing_support::FixedDirectories> directories_;
    long blocks_ = 0;
    std::pair<qsizetype, std::size_t> windows_;
};

} // namespace endtoend
