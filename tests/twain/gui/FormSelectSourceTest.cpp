// The source selection dialog's layout and behaviour.
#include "support/FakeDesktop.h"
#include "support/ScriptedModalDialogs.h"
#include "platform/Desktop.h"
#include "platform/ModalDialog.h"
#include "GuiTestApp.h"
#include "twain/FormSelectSource.h"
#include "twain/OstraTwainLang.h"

#include <QFrame>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class FormSelectSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TwainGuiTestApp();
    }

    testing_support::FakeDesktop desktop_;
};

void expectButtonsAtRightEnd(TFormSelectSource &f)
{
    const int panelW = f.PnlBottom->contentsRect().width();
    EXPECT_EQ(f.BtnCancel->geometry(), QRect(panelW - 6 - 75, 8, 75, 25));
    EXPECT_EQ(f.BtnOK->geometry(), QRect(panelW - 6 - 75 - 6 - 75, 8, 75, 25));
}

} // namespace

TEST_F(FormSelectSourceTest, OpensCentredOnTheWorkAreaUnderTheCursor)
{
    desktop_.cursor = POINT{2500, 100};
    desktop_.workArea = RECT{0, 0, 1920, 1040};
    TFormSelectSource f;
    EXPECT_EQ(desktop_.lastWorkAreaPoint.x, 2500);
    EXPECT_EQ(f.pos(), QPoint(810, 420));
    EXPECT_EQ(f.size(), QSize(300, 200));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Select source"));
    EXPECT_EQ(f.BtnOK->text(), QStringLiteral("&OK"));
    EXPECT_EQ(f.BtnCancel->text(), QStringLiteral("&Cancel"));
    EXPECT_TRUE(f.BtnOK->isDefault());
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowContextHelpButtonHint);

    // A second monitor left of the first: odd sums truncate toward zero.
    desktop_.workArea = RECT{-1281, -3, 0, 1020};
    TFormSelectSource g;
    EXPECT_EQ(g.pos(), QPoint((-1281 + 0 - 300) / 2, (-3 + 1020 - 200) / 2));
    EXPECT_EQ(g.pos(), QPoint(-790, 408));

    // Texts replaced by the host before creation are used.
    const QString saved = OSTRATWAIN_SelectSource;
    OSTRATWAIN_SelectSource = QStringLiteral("Quelle wählen");
    TFormSelectSource h;
    EXPECT_EQ(h.windowTitle(), QStringLiteral("Quelle wählen"));
    OSTRATWAIN_SelectSource = saved;
}

TEST_F(FormSelectSourceTest, ButtonsStayAtTheRightEndOfTheBottomPanel)
{
    TFormSelectSource f;
    f.show();
    ASSERT_EQ(f.PnlBottom->height(), 41);
    expectButtonsAtRightEnd(f);
    EXPECT_EQ(f.PnlBottom->geometry(), QRect(0, f.height() - 41, f.width(), 41));
    EXPECT_EQ(f.LBSources->geometry(), QRect(3, 3, f.width() - 6, f.height() - 41 - 6));

    f.resize(520, 333);
    QCoreApplication::processEvents();
    expectButtonsAtRightEnd(f);
    EXPECT_EQ(f.PnlBottom->geometry(), QRect(0, 333 - 41, 520, 41));
    EXPECT_EQ(f.LBSources->geometry(), QRect(3, 3, 514, 333 - 41 - 6));
}

TEST_F(FormSelectSourceTest, ResultsOfTheWaysToCloseIt)
{
    testing_support::ScriptedModalDialogs dialogs;

    auto run = [&](std::function<void(TFormSelectSource &)> act, int *row = nullptr) {
        TFormSelectSource f;
        f.LBSources->addItems({"A", "B", "C"});
        f.LBSources->setCurrentRow(0);
        dialogs.script = [&](QDialog &) {
            act(f);
            return platform::mrNone;
        };
        const int r = platform::ShowModal(f);
        if (row)
            *row = f.LBSources->currentRow();
        return r;
    };

    int row = -1;
    // Double click on the third entry: OK with that entry.
    EXPECT_EQ(run(
                  [](TFormSelectSource &f) {
                      QListWidgetItem *item = f.LBSources->item(2);
                      const QPoint p = f.LBSources->visualItemRect(item).center();
                      QTest::mouseClick(f.LBSources->viewport(), Qt::LeftButton, {}, p);
                      QTest::mouseDClick(f.LBSources->viewport(), Qt::LeftButton, {}, p);
                  },
                  &row),
              platform::mrOk);
    EXPECT_EQ(row, 2);

    EXPECT_EQ(run([](TFormSelectSource &f) { QTest::mouseClick(f.BtnOK, Qt::LeftButton); }), platform::mrOk);
    EXPECT_EQ(run([](TFormSelectSource &f) { QTest::mouseClick(f.BtnCancel, Qt::LeftButton); }),
              platform::mrCancel);
    // Enter presses OK.
    EXPECT_EQ(run([](TFormSelectSource &f) { QTest::keyClick(f.LBSources, Qt::Key_Return); }), platform::mrOk);
    // Escape leaves it open; the close box closes it with a result that is not OK.
    EXPECT_EQ(run([](TFormSelectSource &f) {
                  QTest::keyClick(f.LBSources, Qt::Key_Escape);
                  EXPECT_TRUE(f.isVisible());
                  f.close();
              }),
              0);
}
