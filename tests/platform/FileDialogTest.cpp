// The real file dialog: it refuses a folder that does not exist, and speaks
// German once Qt's translations are loaded.
#include "platform/Application.h"
#include "platform/FileDialogs.h"
#include "support/QtApp.h"
#include "support/ScriptedBoxes.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString labelText(const QWidget &dialog, const char *name)
{
    const auto *label = dialog.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

} // namespace

TEST(DocumentFileDialog, RefusesAFolderThatDoesNotExistAndStaysOpen)
{
    testing_support::EnsureQtApplication();
    testing_support::ScriptedBoxes boxes;
    QTemporaryDir dir;
    const auto dialog = platform::NewDocumentFileDialog(nullptr, dir.path() + "/Brief.jpg");
    dialog->show();

    const QString missing = dir.path() + "/fehlt/noch";
    dialog->selectFile(missing + "/Beleg.jpg");
    dialog->accept();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(boxes.texts(), QStringList{"Das Verzeichnis existiert nicht:\n" + missing});

    boxes.clear();
    dialog->selectFile(dir.path() + "/Beleg.jpg");
    dialog->accept();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->selectedFiles(), QStringList{dir.path() + "/Beleg.jpg"});
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(DocumentFileDialog, SpeaksGermanWithQtsTranslations)
{
    testing_support::EnsureQtApplication();
    ASSERT_TRUE(platform::InstallGermanTranslations()) << "Qt's German translations are not installed";
    const auto dialog = platform::NewDocumentFileDialog(nullptr, QString());
    EXPECT_EQ(labelText(*dialog, "lookInLabel"), "Suchen in:");
    EXPECT_EQ(labelText(*dialog, "fileNameLabel"), "Datei&name:");
    const auto *buttons = dialog->findChild<QDialogButtonBox *>();
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->button(QDialogButtonBox::Cancel)->text(), "Abbrechen");
    EXPECT_EQ(buttons->button(QDialogButtonBox::Open)->text(), "&Öffnen");
}
