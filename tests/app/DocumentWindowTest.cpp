// The main window's layout while documents are opened and deleted, its
// smallest size, the folder display, and fast keys in the document list.
#include "DocumentHelpers.h"
#include "MainWindowFixture.h"

#include "platform/Jpeg.h"

#include <QDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace document_test;

namespace {

class DocumentWindow : public DocumentFolderFixture {
protected:
    TForm1 &StartShown()
    {
        TForm1 &f = Start();
        f.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&f));
        return f;
    }
};

// Something that hides the picture area.
struct Hiding {
    const char *what;
    std::function<void(TForm1 &, testing_support::ScriptedBoxes &)> act;
    friend void PrintTo(const Hiding &h, std::ostream *os) { *os << h.what; }
};

class PictureAreaHidden : public DocumentWindow, public ::testing::WithParamInterface<Hiding> {};

} // namespace

// The scanning group stays at the top of its panel, and the waiting text
// shows whole in the hidden picture area below it.
TEST_P(PictureAreaHidden, TheGroupStaysAtTheTopAndTheCaptionShowsWhole)
{
    document("Brief.jpg");
    writeBytes(DocumentDir() + "kaputt.jpg", {'k', 'e', 'i', 'n'});
    document(QString(31, 'b') + ".jpg");
    ASSERT_TRUE(QDir(DocumentDir()).mkdir("Ordner.jpg"));
    TForm1 &f = StartShown();
    f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "Brief.jpg"));
    ASSERT_FALSE(f.Image1->isHidden());
    const QRect group = f.GroupBox1->geometry();

    GetParam().act(f, boxes);
    QTest::qWait(0);
    ASSERT_TRUE(f.Image1->isHidden());
    EXPECT_EQ(f.GroupBox1->geometry(), group);

    f.Panel4->SetCaption("Bitte warten ... Dokument wird geladen.");
    const QRect area = f.Panel4->CaptionArea();
    const QRect text =
        f.Panel4->fontMetrics().boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, f.Panel4->Caption());
    EXPECT_TRUE(area.contains(text)) << "cut";
    EXPECT_FALSE(text.intersects(f.GroupBox1->geometry())) << "under the group";
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, PictureAreaHidden,
    ::testing::Values(
        Hiding{"FailedOpen",
               [](TForm1 &f, auto &) { f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "kaputt.jpg")); }},
        Hiding{"LongName",
               [](TForm1 &f, auto &) { f.ListBox1->setCurrentRow(rowOf(f.ListBox1, QString(31, 'b') + ".jpg")); }},
        Hiding{"FolderEntry", [](TForm1 &f, auto &) { f.ListBox1->setCurrentRow(rowOf(f.ListBox1, "Ordner.jpg")); }},
        Hiding{"Delete",
               [](TForm1 &f, testing_support::ScriptedBoxes &boxes) {
                   boxes.AnswerConfirmations({true});
                   f.Button3->click();
               }}),
    [](const auto &info) { return std::string(info.param.what); });

// At its smallest the window still shows every control whole.
TEST_F(DocumentWindow, TheSmallestWindowShowsEveryControlWhole)
{
    TForm1 &f = StartShown();
    f.resize(50, 50);
    QTest::qWait(0);
    const auto whole = [](QWidget *w) {
        QWidget *parent = w->parentWidget();
        return parent->rect().contains(w->geometry());
    };
    for (QWidget *w : f.GroupBox1->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!w->isWindow() && w->isVisible()) {
            EXPECT_TRUE(whole(w)) << w->objectName().toStdString();
        }
    }
    for (QWidget *w : std::initializer_list<QWidget *>{f.Button1, f.Button2, f.Button3})
        EXPECT_TRUE(whole(w)) << w->objectName().toStdString();
    EXPECT_TRUE(whole(f.GroupBox1));
    EXPECT_GE(f.ListBox1->height(), 3 * f.ListBox1->fontMetrics().height());
    const QRect groupInWindow(f.GroupBox1->mapTo(&f, QPoint(0, 0)), f.GroupBox1->size());
    const QRect listSide(f.Panel2->mapTo(&f, QPoint(0, 0)), f.Panel2->size());
    EXPECT_FALSE(groupInWindow.intersects(listSide));
    EXPECT_FALSE(f.Button1->geometry().intersects(f.Button2->geometry()));
}

// A folder path too long for "Pfad:" is shortened in the middle, and the
// whole path is its tool tip.
TEST_F(DocumentWindow, ALongFolderIsShortenedInTheMiddle)
{
    const QString longFolder = DocumentDir() + QString(20, 'x') + "/Unterordner/" + QString(20, 'y') + "/Belege/";
    ASSERT_TRUE(QDir().mkpath(longFolder));
    StoreFolder(longFolder);
    TForm1 &f = StartShown();
    EXPECT_EQ(f.Label3->text(), longFolder);
    EXPECT_EQ(f.Label3->toolTip(), longFolder);
    const QString shown = f.Label3->ShownText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(longFolder.left(3)));
    EXPECT_TRUE(shown.endsWith("Belege/"));
    EXPECT_LE(f.Label3->fontMetrics().horizontalAdvance(shown), f.Label3->contentsRect().width());
}

// Keys that come while a document is being opened are handled after it, in
// order: the highlighted entry, the current entry, the name field and the
// picture agree, and the keys all count.
TEST_F(DocumentWindow, FastArrowKeysKeepTheListConsistent)
{
    for (int i = 0; i < 10; ++i)
        document(QStringLiteral("d%1.jpg").arg(i), 20 + i, 10);
    TForm1 &f = StartShown();
    f.ListBox1->setFocus();
    f.ListBox1->setCurrentRow(0);
    ASSERT_EQ(f.Edit1->text(), f.ListBox1->item(0)->text());

    // Every key is due at once, so each arrives while the one before is
    // still opening its document, as keys typed faster than documents load.
    std::vector<Qt::Key> keys;
    keys.insert(keys.end(), 4, Qt::Key_Down);
    keys.insert(keys.end(), 3, Qt::Key_Up);
    keys.insert(keys.end(), 4, Qt::Key_Down);
    int sent = 0;
    for (Qt::Key key : keys)
        QTimer::singleShot(0, f.ListBox1, [&f, key, &sent] {
            QTest::keyClick(f.ListBox1, key);
            ++sent;
        });
    for (int waited = 0; sent < int(keys.size()) && waited < 5000; waited += 10)
        QTest::qWait(10);
    ASSERT_EQ(sent, int(keys.size()));
    QTest::qWait(50);

    // The list is in the file system's order; width 20 + n is document dn.
    const auto agree = [&f](int row) {
        const QString name = f.ListBox1->item(row)->text();
        ASSERT_EQ(f.ListBox1->selectedItems().size(), 1);
        EXPECT_EQ(f.ListBox1->row(f.ListBox1->selectedItems().first()), row);
        EXPECT_EQ(f.ListBox1->currentRow(), row);
        EXPECT_EQ(f.Edit1->text(), name);
        EXPECT_EQ(f.Image1->Picture().width(), 20 + name.mid(1, 1).toInt());
    };
    agree(5);

    // A further key still moves.
    QTest::keyClick(f.ListBox1, Qt::Key_Down);
    agree(6);
}
