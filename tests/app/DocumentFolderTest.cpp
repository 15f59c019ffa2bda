// Choosing the document folder, the name check, opening and deleting
// documents from the list.
#include "DocumentHelpers.h"
#include "MainWindowFixture.h"

#include "platform/Jpeg.h"
#include "support/ScriptedFileDialog.h"

#include <QDir>
#include <QTest>

using namespace document_test;
using testing_support::ShownBox;

namespace {

const QString kExists = QStringLiteral(
    "      Der Dateiname ist bereits vorhanden.      \nBitte wählen Sie einen anderen Dateinamen.      \n"
    "sonst wird das alte Dokument überschrieben.     ");
const QString kTooLong = QStringLiteral(
    "  Der Bildname darf nur 30 Zeichen ohne Dateiendung enthalten. \n"
    "  Bitte kürzen Sie den Namen durch Umbenennen entsprechend.    \n");

QString deleteQuestion(const QString &name)
{
    return QStringLiteral("      Soll das Dokument  \n          > ") + name +
           QStringLiteral(" <   \n wirklich gelöscht werden ??  \n           \n");
}

class DocumentFolder : public DocumentFolderFixture {
protected:
    int informationCount() const
    {
        int n = 0;
        for (const auto &b : boxes.shown())
            n += b.kind == ShownBox::Information;
        return n;
    }
};

} // namespace

TEST_F(DocumentFolder, TypedNamesAreCheckedAgainstTheDocumentsThere)
{
    document("Brief.jpg");
    document("Akte.JPG.jpg");
    TForm1 &f = Start();

    QTest::keyClicks(f.Edit1, "Brief.jpg"); // warned at "Brief" and at "Brief.jpg"
    EXPECT_EQ(boxes.shown(), (std::vector<ShownBox>{{ShownBox::Information, "Informationen", kExists},
                                                    {ShownBox::Information, "Informationen", kExists}}));
    boxes.clear();
    f.Edit1->clear();
    QTest::keyClicks(f.Edit1, "Briefe");
    EXPECT_EQ(informationCount(), 1) << "only at Brief";

    // Only ".jpg" in lower case counts as an ending: Akte.JPG means Akte.JPG.jpg.
    boxes.clear();
    f.Edit1->setText("Akte.JPG");
    EXPECT_EQ(informationCount(), 1);

    // One blank disables "Dokument scannen", two blanks enable it.
    f.Edit1->setText(" ");
    EXPECT_FALSE(f.Button4->isEnabled());
    f.Edit1->setText("  ");
    EXPECT_TRUE(f.Button4->isEnabled());
    f.Edit1->setText("");
    EXPECT_FALSE(f.Button4->isEnabled());
}

TEST_F(DocumentFolder, OpensNamesOfThirtyCharactersButNotThirtyOne)
{
    const QString n30 = QString(30, 'a') + ".jpg";
    const QString n31 = QString(31, 'b') + ".jpg";
    document(n30, 20, 10);
    document(n31);
    TForm1 &f = Start();
    f.Image1->show();

    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, n30));
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(f.Edit1->text(), n30);
    EXPECT_EQ(Unit1::datei_m, n30);
    EXPECT_FALSE(f.Image1->isHidden());
    EXPECT_TRUE(f.Image1->Stretch());
    EXPECT_EQ(f.Image1->Picture().size(), QSize(20, 10));
    EXPECT_EQ(f.Panel4->Caption(), "Bitte warten ... Dokument wird geladen.");
    EXPECT_TRUE(f.Button4->isEnabled()) << "by the name rule after the text changed";
    EXPECT_FALSE(f.SpeedButton4->isEnabled());
    EXPECT_TRUE(f.SpeedButton5->isEnabled());
    EXPECT_TRUE(f.SpeedButton3->isEnabled());
    EXPECT_TRUE(f.Button3->isEnabled());
    EXPECT_EQ(Unit1::list_b, 0);

    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, n31));
    EXPECT_EQ(boxes.texts(), QStringList{kTooLong});
    EXPECT_EQ(f.Edit1->text(), n30);
    EXPECT_EQ(Unit1::datei_m, n30);
    EXPECT_TRUE(f.Image1->isHidden());
    EXPECT_EQ(f.Image1->Picture().size(), QSize(20, 10));
    EXPECT_FALSE(f.Button4->isEnabled());
}

TEST_F(DocumentFolder, AClickThatSetsTheTextAlreadyThereLeavesScanningDisabled)
{
    document("Brief.jpg");
    TForm1 &f = Start();
    f.Edit1->setText("Brief.jpg");
    ASSERT_TRUE(f.Button4->isEnabled());
    boxes.clear();
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "Brief.jpg"));
    EXPECT_FALSE(f.Button4->isEnabled());
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_FALSE(f.Image1->isHidden());
}

TEST_F(DocumentFolder, DeletingSortsTheListAndCountsTheDocuments)
{
    document("b.jpg");
    document("a.jpg");
    writeBytes(DocumentDir() + "c.bmp", {});
    TForm1 &f = Start();
    const QStringList atStart = listEntries(f.ListBox1);
    ASSERT_EQ(atStart.size(), 3);
    EXPECT_EQ(atStart.last(), "c.bmp") << "the bitmaps after the JPEG files";
    EXPECT_EQ(f.GroupBox2->title(), "Vorhandene Dokumente");

    // Answered No, with nothing selected: asks about the current document.
    Unit1::datei_m = "b.jpg";
    boxes.AnswerConfirmations({false});
    f.Button3Click(f.Button3);
    EXPECT_EQ(boxes.texts(), QStringList{deleteQuestion("b.jpg")});
    EXPECT_EQ(listEntries(f.ListBox1), QStringList({"a.jpg", "b.jpg", "c.bmp"}));
    EXPECT_EQ(f.GroupBox2->title(), "3 Dokumente");

    // Yes with nothing selected deletes nothing.
    boxes.AnswerConfirmations({true});
    f.Button3Click(f.Button3);
    EXPECT_EQ(QDir(DocumentDir()).entryList(QDir::Files).size(), 3);

    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "a.jpg"));
    boxes.clear();
    boxes.AnswerConfirmations({true});
    f.Button3->setEnabled(true);
    f.Button3->click();
    EXPECT_EQ(boxes.texts(), QStringList{deleteQuestion("a.jpg")});
    EXPECT_FALSE(QFile::exists(DocumentDir() + "a.jpg"));
    EXPECT_EQ(listEntries(f.ListBox1), QStringList({"b.jpg", "c.bmp"}));
    EXPECT_EQ(f.Edit1->text(), QString());
    EXPECT_TRUE(f.Image1->isHidden());
    EXPECT_EQ(f.Panel4->Caption(), QString());
    EXPECT_EQ(f.GroupBox2->title(), "2 Dokumente");

    for (const char *name : {"b.jpg", "c.bmp"}) {
        f.ListBox1->setCurrentRow(rowOf(f.ListBox1, name));
        boxes.AnswerConfirmations({true});
        f.Button3->click();
    }
    EXPECT_EQ(f.GroupBox2->title(), "0 Dokumente");
    document("z.jpg");
    document("m.jpg");
    f.Dir_Listbox_fuellen(nullptr);
    EXPECT_EQ(listEntries(f.ListBox1), QStringList({"m.jpg", "z.jpg"})) << "stays sorted";
    f.ListBox1->setCurrentRow(0);
    boxes.AnswerConfirmations({true});
    f.Button3->click();
    EXPECT_EQ(f.GroupBox2->title(), "1 Dokument");
}

TEST_F(DocumentFolder, TheFolderDialogSetsNameFolderAndSettings)
{
    document("alt.jpg");
    QTemporaryDir newDir;
    const QString folder = newDir.path() + "/";
    writeBytes(folder + "Rechnung.jpg", platform::encodeJpeg(gradient(8, 8), 75));
    testing_support::ScopedFileDialog dialog;
    TForm1 &f = Start();
    const QByteArray settingsBefore = ReadProgramFile("Einstellung.opt");

    // Cancelled: only the name field is enabled.
    f.Edit1->setEnabled(false);
    dialog->cancel();
    f.SpeedButton2->click();
    EXPECT_TRUE(f.Edit1->isEnabled());
    EXPECT_EQ(f.Edit1->text(), QString());
    EXPECT_EQ(f.Label3->text(), DocumentDir());
    EXPECT_EQ(ReadProgramFile("Einstellung.opt"), settingsBefore);
    EXPECT_EQ(listEntries(f.ListBox1), QStringList{"alt.jpg"});

    f.SpeedButton5->setEnabled(true);
    dialog->choose(folder + "Rechnung");
    f.SpeedButton2->click();
    EXPECT_EQ(f.Edit1->text(), "Rechnung.jpg");
    EXPECT_EQ(boxes.texts(), QStringList{kExists}) << "checked against the newly chosen folder";
    EXPECT_EQ(f.Label3->text(), folder);
    EXPECT_EQ(Unit1::doku_pfad, folder);
    const QByteArray settings = ReadProgramFile("Einstellung.opt");
    ASSERT_EQ(settings.size(), 352);
    EXPECT_EQ(settings.mid(1, std::uint8_t(settings[0])), QFile::encodeName(folder));
    EXPECT_EQ(listEntries(f.ListBox1), QStringList{"Rechnung.jpg"});
    EXPECT_FALSE(f.SpeedButton5->isEnabled());

    dialog->choose(folder + "Rechnung.jpg");
    f.SpeedButton2->click();
    EXPECT_EQ(f.Edit1->text(), "Rechnung.jpg");
    dialog->choose(folder + "Rechnung.JPG");
    f.SpeedButton2->click();
    EXPECT_EQ(f.Edit1->text(), "Rechnung.JPG.jpg");
    EXPECT_EQ(dialog->offered().last(), folder + "Rechnung.jpg") << "offers the name chosen last";
}

TEST_F(DocumentFolder, ADamagedJpegShowsTheDecodersErrorAndStaysHidden)
{
    writeBytes(DocumentDir() + "kaputt.jpg", {'k', 'e', 'i', 'n', ' ', 'B', 'i', 'l', 'd'});
    TForm1 &f = Start();
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "kaputt.jpg"));
    EXPECT_EQ(boxes.errors(), QStringList{"Keine JPEG-Datei: beginnt mit 0x6b 0x65"});
    EXPECT_TRUE(f.Image1->isHidden());
    EXPECT_EQ(Unit1::list_b, 0);
    EXPECT_FALSE(f.SpeedButton3->isEnabled());
    EXPECT_FALSE(f.Button3->isEnabled());
    EXPECT_FALSE(f.SpeedButton5->isEnabled());
}

TEST_F(DocumentFolder, DocumentsOpenByMouseAndKeyboardAndNotBySorting)
{
    document("b.jpg", 30, 20);
    document("a.jpg", 10, 10);
    TForm1 &f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    const auto clickRow = [&](int row, Qt::KeyboardModifiers mods = {}) {
        const QRect r = f.ListBox1->visualItemRect(f.ListBox1->item(row));
        QTest::mouseClick(f.ListBox1->viewport(), Qt::LeftButton, mods, r.center());
    };
    const int b = rowOf(f.ListBox1, "b.jpg");
    const int a = rowOf(f.ListBox1, "a.jpg");

    // A mouse click moves the current row before it selects.
    clickRow(b);
    EXPECT_EQ(f.Image1->Picture().size(), QSize(30, 20));
    EXPECT_FALSE(f.Image1->isHidden());
    clickRow(a);
    EXPECT_EQ(f.Image1->Picture().size(), QSize(10, 10));

    // Deselected and clicked again: the selection changes, so it opens again.
    clickRow(a, Qt::ControlModifier);
    ASSERT_TRUE(f.ListBox1->selectedItems().isEmpty());
    f.Image1->SetPicture(QImage());
    clickRow(a);
    EXPECT_EQ(f.Image1->Picture().size(), QSize(10, 10));

    // The keyboard selects before it moves the current row.
    f.ListBox1->setFocus();
    QTest::keyClick(f.ListBox1, a < b ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_EQ(f.Edit1->text(), "b.jpg");
    EXPECT_EQ(f.Image1->Picture().size(), QSize(30, 20));

    // Sorting the list ("Dokument löschen" answered No) opens nothing again,
    // so a turned picture that is not saved yet stays turned.
    f.SpeedButton5->click();
    ASSERT_EQ(f.Image1->Picture().size(), QSize(20, 30));
    boxes.AnswerConfirmations({false});
    f.Button3->click();
    EXPECT_EQ(listEntries(f.ListBox1), QStringList({"a.jpg", "b.jpg"}));
    EXPECT_EQ(f.Image1->Picture().size(), QSize(20, 30));
    EXPECT_EQ(f.ListBox1->selectedItems().value(0)->text(), "b.jpg");
}
