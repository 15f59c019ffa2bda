#include "twain/FormSelectSource.h"

#include "platform/Desktop.h"
#include "platform/ModalDialog.h"
#include "twain/OstraTwainLang.h"

#include <QFrame>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>

TFormSelectSource::TFormSelectSource(QWidget *parent) : QDialog(parent)
{
    DoCreate();
}

void TFormSelectSource::DoCreate()
{
    setWindowTitle(OSTRATWAIN_SelectSource);
    // System menu and close box only; the border stays resizable.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);

    // Centred on the work area of the monitor under the mouse cursor.
    platform::DesktopService &desktop = platform::Desktop();
    const RECT wa = desktop.WorkAreaNearest(desktop.CursorPos());
    const int left = (wa.left + wa.right - kWidth) / 2;
    const int top = (wa.top + wa.bottom - kHeight) / 2;
    resize(kWidth, kHeight);
    move(left, top);

    LBSources = new QListWidget(this);
    LBSources->setObjectName(QStringLiteral("LBSources"));
    connect(LBSources, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *) { LBSourcesDblClick(); });

    PnlBottom = new QFrame(this);
    PnlBottom->setObjectName(QStringLiteral("PnlBottom"));
    PnlBottom->setFrameShape(QFrame::NoFrame);
    PnlBottom->setGeometry(0, height(), width(), kPanelHeight);

    BtnOK = new QPushButton(OSTRATWAIN_OK, PnlBottom);
    BtnOK->setObjectName(QStringLiteral("BtnOK"));
    BtnOK->setFixedSize(75, 25);
    BtnOK->setDefault(true);
    connect(BtnOK, &QPushButton::clicked, this, [this]() { done(platform::mrOk); });

    BtnCancel = new QPushButton(OSTRATWAIN_Cancel, PnlBottom);
    BtnCancel->setObjectName(QStringLiteral("BtnCancel"));
    BtnCancel->setFixedSize(75, 25);
    BtnCancel->setAutoDefault(false);
    connect(BtnCancel, &QPushButton::clicked, this, [this]() { done(platform::mrCancel); });

    alignControls();
    FormResize();
}

void TFormSelectSource::alignControls()
{
    const int w = width();
    const int h = height();
    PnlBottom->setGeometry(0, h - kPanelHeight, w, kPanelHeight);
    const int listH = h - kPanelHeight - 2 * kListMargin;
    LBSources->setGeometry(kListMargin, kListMargin, qMax(0, w - 2 * kListMargin), qMax(0, listH));
}

void TFormSelectSource::FormResize()
{
    const QRect client = PnlBottom->contentsRect();
    BtnCancel->move(client.width() - BtnCancel->width() - kButtonGap, (client.height() - BtnCancel->height()) / 2);
    BtnOK->move(BtnCancel->x() - BtnOK->width() - kButtonGap, BtnCancel->y());
}

void TFormSelectSource::LBSourcesDblClick()
{
    done(platform::mrOk);
}

void TFormSelectSource::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    alignControls();
    FormResize();
}

void TFormSelectSource::keyPressEvent(QKeyEvent *event)
{
    // Neither button is the cancel button: Escape does nothing here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
