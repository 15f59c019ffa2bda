#include "app/Info.h"

#include "app/ProjectContact.h"
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "platform/Help.h"
#include "platform/Messages.h"
#include "platform/Shell.h"

#include <QEvent>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace Info {

QStringList ContactLines()
{
    return {QString::fromUtf8(QUILLORA_CONTACT_NAME),  QString::fromUtf8(QUILLORA_CONTACT_STREET),
            QString::fromUtf8(QUILLORA_CONTACT_TOWN),  QString::fromUtf8(QUILLORA_CONTACT_PHONE),
            QString::fromUtf8(QUILLORA_WEBSITE),       QString::fromUtf8(QUILLORA_CONTACT_MAIL)};
}

QString Website()
{
    return QString::fromUtf8(QUILLORA_WEBSITE);
}

std::vector<CatalogueEntry> Catalogue()
{
    return {
        {QStringLiteral("Quillora"),
         QStringLiteral("Belege und Briefe scannen, als JPEG-Dateien ablegen, ansehen, drehen, drucken und als "
                        "PDF-Datei speichern."),
         Website()},
    };
}

} // namespace Info

namespace {

// Window flags of a window with the system menu and close box only.
constexpr Qt::WindowFlags kToolWindowFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

const QColor kMaroon(0x80, 0, 0);

// Maroon, lightened on a dark window so that it stays readable.
QColor headingColour(const QPalette &palette)
{
    if (palette.color(QPalette::Window).lightness() >= 128)
        return kMaroon;
    const QColor hsl = kMaroon.toHsl();
    return QColor::fromHsl(hsl.hslHue(), std::max(hsl.hslSaturation(), 150), 170);
}

QPushButton *wideButton(const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setFixedWidth(250);
    return b;
}

} // namespace

TInv::TInv(QWidget *parent) : QWidget(parent, kToolWindowFlags)
{
    setObjectName(QStringLiteral("Inv"));
    setWindowTitle(QStringLiteral("Autor"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setFixedSize(294, 323);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    outer->addWidget(Panel1);

    auto *layout = new QVBoxLayout(Panel1);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(2);
    auto label = [this](const char *name, const QString &text = QString()) {
        auto *l = new QLabel(text, Panel1);
        l->setObjectName(QLatin1String(name));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    Label1 = label("Label1", QStringLiteral("Info"));
    Label2 = label("Label2");
    QFont bold = font();
    bold.setBold(true);
    for (QLabel *heading : {Label1, Label2}) {
        heading->setAlignment(Qt::AlignCenter);
        heading->setFont(bold);
        layout->addWidget(heading);
    }
    layout->addSpacing(6);
    Label3 = label("Label3", QStringLiteral("Autor:"));
    layout->addWidget(Label3);
    Label4 = label("Label4");
    Label5 = label("Label5");
    Label6 = label("Label6");
    Label7 = label("Label7");
    Label9 = label("Label9");
    Label10 = label("Label10");
    for (QLabel *line : {Label4, Label5, Label6, Label7, Label9, Label10})
        layout->addWidget(line);
    layout->addStretch(1);

    Button2 = wideButton(QStringLiteral("Website des Autors besuchen."), Panel1);
    Button3 = wideButton(QStringLiteral("Weitere Programme des Autors."), Panel1);
    Button4 = wideButton(QStringLiteral("Auf verfügbare Updates überprüfen."), Panel1);
    Button1 = new QPushButton(QStringLiteral("Beenden"), Panel1);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button3->setObjectName(QStringLiteral("Button3"));
    Button4->setObjectName(QStringLiteral("Button4"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFixedWidth(100);
    for (QPushButton *b : {Button2, Button3, Button4, Button1})
        layout->addWidget(b, 0, Qt::AlignHCenter);

    auto guarded = [this](void (TInv::*handler)(QObject *), QObject *sender) {
        return [this, handler, sender] { platform::Guarded([&] { (this->*handler)(sender); }); };
    };
    connect(Button1, &QPushButton::clicked, this, guarded(&TInv::Button1Click, Button1));
    connect(Button2, &QPushButton::clicked, this, guarded(&TInv::Button2Click, Button2));
    connect(Button3, &QPushButton::clicked, this, guarded(&TInv::Button3Click, Button3));
    connect(Button4, &QPushButton::clicked, this, guarded(&TInv::Button4Click, Button4));
    colourHeadings();
}

TInv::~TInv()
{
    if (Info::Inv == this)
        Info::Inv = nullptr;
}

void TInv::colourHeadings()
{
    const QColor colour = headingColour(palette());
    for (QLabel *heading : {Label1, Label2}) {
        QPalette p = palette();
        p.setColor(QPalette::WindowText, colour);
        heading->setPalette(p);
    }
}

void TInv::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && Label1)
        colourHeadings();
}

void TInv::Button1Click(QObject *)
{
    platform::Application::instance().HelpCommand(platform::HELP_QUIT, 0);
    close();
}

void TInv::Button2Click(QObject *)
{
    close();
    platform::ShellExecute(platform::Application::instance().Handle(), QStringLiteral("open"), Info::Website(),
                           QString(), QString(), platform::SW_SHOWNORMAL);
}

void TInv::Button3Click(QObject *)
{
    close();
    if (Info::Programm) {
        Info::Programm->show();
        Info::Programm->raise();
        Info::Programm->activateWindow();
    }
}

void TInv::Button4Click(QObject *)
{
    close();
    if (Unit1::Form1)
        Unit1::Form1->Update1Click(Button4);
}

// ---- the catalogue ---------------------------------------------------------

TProgramm::TProgramm(QWidget *parent) : QWidget(parent, kToolWindowFlags)
{
    setObjectName(QStringLiteral("Programm"));
    setWindowTitle(QStringLiteral("Weitere Programme"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setMinimumWidth(360);

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("Programme des Projekts:"), this);
    layout->addWidget(intro);

    const std::vector<Info::CatalogueEntry> entries = Info::Catalogue();
    for (size_t i = 0; i < entries.size(); ++i) {
        auto *box = new QFrame(this);
        box->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        auto *boxLayout = new QVBoxLayout(box);
        auto *name = new QLabel(entries[i].name, box);
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
        auto *description = new QLabel(entries[i].description, box);
        description->setWordWrap(true);
        auto *button = new QPushButton(QStringLiteral("Webseite öffnen"), box);
        button->setObjectName(QStringLiteral("PageButton%1").arg(i));
        boxLayout->addWidget(name);
        boxLayout->addWidget(description);
        boxLayout->addWidget(button, 0, Qt::AlignLeft);
        layout->addWidget(box);
        PageButtons.push_back(button);
        connect(button, &QPushButton::clicked, this,
                [this, i] { platform::Guarded([&] { PageButtonClick(int(i)); }); });
    }
    layout->addStretch(1);

    auto *bottom = new QHBoxLayout;
    HelpButton = new QPushButton(QStringLiteral("Hilfe"), this);
    HelpButton->setObjectName(QStringLiteral("HelpButton"));
    CloseButton = new QPushButton(QStringLiteral("Schließen"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    bottom->addWidget(HelpButton);
    bottom->addStretch(1);
    bottom->addWidget(CloseButton);
    layout->addLayout(bottom);
    connect(HelpButton, &QPushButton::clicked, this, [this] { platform::Guarded([&] { HelpButtonClick(HelpButton); }); });
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
}

TProgramm::~TProgramm()
{
    if (Info::Programm == this)
        Info::Programm = nullptr;
}

void TProgramm::PageButtonClick(int index)
{
    const std::vector<Info::CatalogueEntry> entries = Info::Catalogue();
    if (index < 0 || size_t(index) >= entries.size())
        return;
    platform::ShellExecute(platform::HandleOfWidget(this), QStringLiteral("open"), entries[size_t(index)].address,
                           QString(), QString(), platform::SW_SHOWNORMAL);
}

void TProgramm::HelpButtonClick(QObject *)
{
    platform::Application::instance().HelpContext(kHelpContext);
}

void TProgramm::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1) {
        platform::Guarded([&] { HelpButtonClick(this); });
        return;
    }
    QWidget::keyPressEvent(event);
}
