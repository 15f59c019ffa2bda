// Starts the real main window on a temporary program directory with
// scripted boxes, help and TWAIN manager, so a test can say: start with this settings file
// and these documents, click this, expect these boxes and these files.
#pragma once

#include "support/FixedDirectories.h"
#include "app/Unit1.h"
#include "support/ScriptedBoxes.h"
#include "support/ScriptedDsm.h"
#include "support/ScriptedHelp.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

class MainWindowFixture : public ::testing::Test {
public:
    static void WriteFile(const QString &path, const QByteArray &bytes);
    static QByteArray ReadFile(const QString &path);

protected:
    // |scriptedManager| false: no scripted manager is installed, and the
    // window finds whatever manager the directories lead it to.
    explicit MainWindowFixture(bool scriptedManager = true) : scriptedManager_(scriptedManager) {}

    void SetUp() override;
    void TearDown() override;

    // The program directory (lpf) and a folder for documents, both with "/".
    QString ProgramDir() const;
    QString DocumentDir() const;

    // Files in the program directory or anywhere.
    void WriteProgramFile(const QString &name, const QByteArray &bytes) const;
    QByteArray ReadProgramFile(const QString &name) const;
    bool ProgramFileExists(const QString &name) const;

    // A settings file that stores |folder| as the document folder.
    void StoreFolder(const QString &folder) const;
    // Puts a help file in place, so start-up shows no message about it.
    void ProvideHelpFile() const;

    // Creates the main window as start-up does (FormCreate runs).
    TForm1 &Start();
    // Destroys the main window, as at program end.
    void Stop();

    testing_support::ScriptedBoxes boxes;
    testing_support::ScriptedHelp help;
    // The manager the window finds: a scripted one listing no source unless
    // a test adds some before Start() (null without a scripted manager).
    std::unique_ptr<testsupport::ScriptedDsm> dsm;
    std::unique_ptr<TForm1> form;

private:
    std::unique_ptr<QTemporaryDir> programDir_;
    std::unique_ptr<testing_support::FixedDirectories> directories_;
    std::unique_ptr<QTemporaryDir> documentDir_;
    bool scriptedManager_ = true;
};
