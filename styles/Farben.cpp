#include "styles/Farben.h"

#include "platform/Exceptions.h"
#include "platform/FileAccess.h"
#include "platform/Files.h"
#include "platform/StyleEngine.h"

#include <QCloseEvent>
#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcStyles, "quillora.styles", QtWarningMsg)

namespace Farben {

QString StyleFilePath()
{
    return platform::DataDirectory() + QStringLiteral("Styledat.txt");
}

} // namespace Farben

namespace {

[[noreturn]] void readError(int code, const QString &path)
{
    throw platform::FileAccessError(platform::FileAccessError::Op::Read, path, code);
}

// The first line of the file: up to the first CR or LF, or the whole file.
QString readFirstLine(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        readError(errno, path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        readError(EIO, path);
    }
    QByteArray line;
    char buf[512];
    bool done = false;
    while (!done) {
        const ssize_t n = platform::ReadFull(fd, buf, sizeof buf);
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            readError(code, path);
        }
        if (n == 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\r' || buf[i] == '\n') {
                done = true;
                break;
            }
            line.append(buf[i]);
        }
        // A style name is short; a huge first line is not one.
        if (line.size() > 4096)
            break;
    }
    ::close(fd);
    return QString::fromLocal8Bit(line);
}

} // namespace

void TFarbe::style_lesen()
{
    const QString path = Farben::StyleFilePath();
    if (!platform::FileExists(path))
        return;
    Farben::style = readFirstLine(path);
    if (Farben::style.isEmpty())
        Farben::style = QStringLiteral("Windows");
    platform::StyleEngine::SetStyle(Farben::style);
}

void TFarbe::style_speichern()
{
    platform::WriteFileAtomically(Farben::StyleFilePath(), Farben::style.toLocal8Bit());
}

// ---- the chooser window ------------------------------------------------------

TFarbe::TFarbe(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Farbe"));
    setWindowTitle(QStringLiteral("Farbwahl"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(220, 444);

    Panel1 = new QLabel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 220, 41);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setAlignment(Qt::AlignCenter);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(0, 41, 220, 301);
    QFont listFont(QStringLiteral("Microsoft Sans Serif"));
    listFont.setPixelSize(11);
    ListBox1->setFont(listFont);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setSortingEnabled(true);

    Style_Button = new QPushButton(QStringLiteral("Style aktivieren"), this);
    Style_Button->setObjectName(QStringLiteral("Style_Button"));
    Style_Button->setGeometry(45, 360, 130, 30);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 444 - 45, 220, 45);
    Button22 = new QPushButton(QStringLiteral("Beenden"), Panel2);
    Button22->setObjectName(QStringLiteral("Button22"));
    Button22->setGeometry(53, 6, 110, 30);

    platform::Guarded([&] { FormCreate(this); });

    auto guarded = [this](void (TFarbe::*handler)(QObject *), QObject *sender) {
        return [this, handler, sender] { platform::Guarded([&] { (this->*handler)(sender); }); };
    };
    // The selection, not the mouse button: the keyboard picks entries too.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, guarded(&TFarbe::ListBox1Click, ListBox1));
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, guarded(&TFarbe::ListBox1DblClick, ListBox1));
    connect(Style_Button, &QPushButton::clicked, this, guarded(&TFarbe::Style_ButtonClick, Style_Button));
    connect(Button22, &QPushButton::clicked, this, guarded(&TFarbe::Button22Click, Button22));
}

TFarbe::~TFarbe()
{
    if (Farben::Farbe == this)
        Farben::Farbe = nullptr;
}

void TFarbe::FormCreate(QObject *)
{
    for (const QString &name : platform::StyleEngine::StyleNames()) {
        Farben::str1 = name;
        if (ListBox1->findItems(Farben::str1, Qt::MatchFixedString | Qt::MatchCaseSensitive).isEmpty())
            ListBox1->addItem(Farben::str1);
    }
    // Without a style file |style| is empty while the start-up look is
    // active: the label names that look, and "Style aktivieren" keeps it.
    const QString shown = Farben::style.isEmpty() ? platform::StyleEngine::ActiveStyle() : Farben::style;
    Panel1->setText(QStringLiteral("Aktiver Style > ") + shown);

    // The active style is the selected entry, without counting as a click.
    const QList<QListWidgetItem *> active = ListBox1->findItems(shown, Qt::MatchFixedString);
    if (!active.isEmpty()) {
        const QSignalBlocker quiet(ListBox1);
        ListBox1->setCurrentItem(active.first());
    }
}

void TFarbe::ListBox1Click(QObject *)
{
    const QList<QListWidgetItem *> selected = ListBox1->selectedItems();
    if (selected.isEmpty())
        return;
    Farben::style = selected.first()->text();
    Style_Button->setEnabled(true);
    qCDebug(lcStyles) << "picked" << Farben::style;
}

void TFarbe::activateAndStore()
{
    if (Farben::style.isEmpty())
        Farben::style = platform::StyleEngine::ActiveStyle();
    qCDebug(lcStyles) << "activating" << Farben::style;
    platform::StyleEngine::SetStyle(Farben::style);
    style_speichern();
}

void TFarbe::ListBox1DblClick(QObject *)
{
    activateAndStore();
}

void TFarbe::Style_ButtonClick(QObject *)
{
    // The chooser closes even when writing the file failed; the error box
    // has told the person.
    struct CloseAfter {
        TFarbe *f;
        ~CloseAfter() { f->close(); }
    } closeAfter{this};
    activateAndStore();
}

void TFarbe::Button22Click(QObject *)
{
    close();
}

bool TFarbe::FormCloseQuery(QObject *)
{
    return true;
}

void TFarbe::closeEvent(QCloseEvent *event)
{
    bool canClose = true;
    platform::Guarded([&] { canClose = FormCloseQuery(this); });
    if (canClose)
        event->accept();
    else
        event->ignore();
}
