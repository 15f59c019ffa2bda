// The source selection dialog: a list of source names above a bottom panel
// with OK and Cancel at its right end.  Built in code; the caller fills
// LBSources, preselects an entry, shows the dialog modally and reads the
// selected row.  Escape does not close it; OK, Enter and a double click on
// an entry close it with mrOk, Cancel with mrCancel, the close box with a
// result that is not mrOk.
#pragma once

#include <QDialog>

class QFrame;
class QListWidget;
class QPushButton;

class TFormSelectSource : public QDialog {
    Q_OBJECT

public:
    explicit TFormSelectSource(QWidget *parent = nullptr);

    QListWidget *LBSources = nullptr;
    QFrame *PnlBottom = nullptr;
    QPushButton *BtnOK = nullptr;
    QPushButton *BtnCancel = nullptr;

    // Keeps the buttons at the right end of the panel, vertically centred.
    void FormResize();
    void LBSourcesDblClick();

    // Height of the bottom panel and the gap around the buttons.
    static constexpr int kPanelHeight = 41;
    static constexpr int kButtonGap = 6;
    // Margin of the list on every side.
    static constexpr int kListMargin = 3;
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 200;

protected:
    void DoCreate();
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Places the panel at the bottom edge and the list in the rest.
    void alignControls();
};
