// Scripts for the test source (sources/testsource) and the pictures it
// delivers, for tests that scan through the real TWAIN_32.DLL.
//
//   testsupport::TestSourceFolder folder;               // QUILLORA_DSM_SOURCES -> a private folder
//   folder.AddObject({{.name = "Scanner B", .pages = {testsupport::Page(40, 30, testsource::PixelKind::Gray)}},
//                     {.name = "Scanner A"}});
//   ... scan ...
//   EXPECT_EQ(picture, testsupport::ExpectedImage(page, 0));
//
// The manager is found through testsupport::UseManagerFrom(): every
// directory kind points at an empty private folder and the program
// directory at the build's bin/, so an installed manager is never used.
#pragma once

#include "sources/testsource/Pattern.h"
#include "support/FixedDirectories.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using testsource::Fill;
using testsource::PageSpec;
using testsource::PixelKind;

// One source of a test source script:
//   ScriptedSource("Scanner").Add(Page(40, 30, PixelKind::Gray)).With("fail ENABLEDS")
struct ScriptedSource {
    explicit ScriptedSource(std::string productName = "Testscanner") : name(std::move(productName)) {}
    ScriptedSource &Add(const PageSpec &page)
    {
        pages.push_back(page);
        return *this;
    }
    ScriptedSource &With(std::string statement)
    {
        statements.push_back(std::move(statement));
        return *this;
    }
    ScriptedSource &Twain2(bool on = true)
    {
        twain2 = on;
        return *this;
    }

    std::string name;
    std::string manufacturer = "Quillora";
    std::string family = "Testquellen";
    bool twain2 = false;
    std::vector<PageSpec> pages; // none: the source's one default page
    // Further statements, one per line ("fail ENABLEDS", "xfermech memory").
    std::vector<std::string> statements;
};

PageSpec Page(int width, int height, PixelKind kind, Fill fill = Fill::Gradient);
PageSpec SolidPage(int width, int height, PixelKind kind, std::uint8_t v0, std::uint8_t v1 = 0, std::uint8_t v2 = 0);
PageSpec CheckerPage(int width, int height, PixelKind kind, int cell);

// The script text for |sources|.
std::string ScriptText(const std::vector<ScriptedSource> &sources);

// What page |index| (0: the first of an acquisition) of |page| looks like,
// as an RGB32 picture.
QImage ExpectedImage(const PageSpec &page, int index);
// The picture as 32-bit RGB, for comparing with ExpectedImage.
QImage AsRgb32(const QImage &image);

// The files as built.
QString TestSourceFile(); // build/testsources/testsource.ds
QString ManagerFile();    // build/bin/TWAIN_32.DLL

// A private folder of source objects.  While it exists the manager's source
// folders are this folder alone (QUILLORA_DSM_SOURCES) and
// QUILLORA_TESTSOURCE_SCRIPT is unset, so each copy of the test source reads
// the script beside it.
class TestSourceFolder {
public:
    TestSourceFolder();
    ~TestSourceFolder();
    TestSourceFolder(const TestSourceFolder &) = delete;
    TestSourceFolder &operator=(const TestSourceFolder &) = delete;

    // A copy of the test source named |file| (in |subfolder| when given)
    // with a script offering |sources|.  Returns its path.
    QString AddObject(const std::vector<ScriptedSource> &sources, const QString &file = QStringLiteral("testsource.ds"),
                      const QString &subfolder = QString());
    // Replaces the script of the object |file| (path relative to the folder).
    void SetScript(const QString &file, const std::vector<ScriptedSource> &sources);
    // Puts any file into the folder (a broken object, say).
    QString AddFile(const QString &relative, const QByteArray &content);
    QString Path() const; // with a trailing "/"

private:
    QTemporaryDir dir_;
    bool hadSources_ = false;
    QByteArray previousSources_;
    bool hadScript_ = false;
    QByteArray previousScript_;
};

// Points every directory kind of the TWAIN utilities at an empty private
// folder and the program directory at the build's bin/, so that the
// acquisition library finds the manager of this build and nothing
// installed.  Undone when the returned object goes.
class ManagerLocation {
public:
    ManagerLocation();
    ~ManagerLocation();
    ManagerLocation(const ManagerLocation &) = delete;
    ManagerLocation &operator=(const ManagerLocation &) = delete;

private:
    QTemporaryDir empty_;
    testing_support::FixedDirectories directories_;
};

} // namespace testsupport
