#include "app/Unit1.h"

#include "app/DocumentSave.h"
#include "app/Info.h"
#include "app/Log.h"
#include "app/ProjectVersion.h"
#include "app/Rotation.h"
#include "preview/Bildanzeige.h"
#include "app/ShellMessages.h"
#include "platform/Application.h"
#include "platform/Boxes.h"
#include "platform/Exceptions.h"
#include "platform/Help.h"
#include "platform/Messages.h"
#include "platform/Shell.h"
#include "platform/StyleEngine.h"
#include "styles/Farben.h"
#include "twain/OstraTwainGui.h"
#include "twaindirect/Scanners.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCollator>
#include <QFile>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <unordered_set>
#include <vector>
#include <utility>
#include <cstring>

#include <unistd.h>

namespace Unit1 {

QString Pfad()
{
    return ShortStringValue(option.pfad, 255);
}

void SetPfad(const QString &folder)
{
    SetShortString(option.pfad, 255, folder);
}

QByteArray PfadNative()
{
    return ShortStringBytes(option.pfad, 255);
}

QByteArray NativeFor(const QString &shown, const QByteArray &bytes)
{
    if (!bytes.isNull() && QFile::decodeName(bytes) == shown)
        return bytes;
    return QFile::encodeName(shown);
}

QByteArray CurrentDocumentNative()
{
    return NativeFor(datei_m, datei_m_bytes);
}

QString SettingsFilePath()
{
    return platform::DataDirectory() + QStringLiteral("Einstellung.opt");
}

QString VersionFilePath()
{
    return platform::DataDirectory() + QStringLiteral("Version.ver");
}

void ResetState()
{
    lpf.clear();
    version.clear();
    versionsnum = 0;
    chmFile.clear();
    std::memset(&option, 0, sizeof option);
    std::memset(&t_version, 0, sizeof t_version);
    datei_m.clear();
    datei_m_bytes.clear();
    breit = 0;
    d_name.clear();
    platform::FindClose(SearchRec);
    Form1 = nullptr;
    doku_pfad.clear();
    list_b = 0;
    zeile = -1;
    datei_o.clear();
    MyFilesExtension.clear();
}

} // namespace Unit1

using namespace Unit1;

bool TDocumentItem::operator<(const QListWidgetItem &other) const
{
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const int r = collator.compare(text(), other.text());
    return r != 0 ? r < 0 : text() < other.text();
}

TForm1::TForm1(QWidget *parent) : QMainWindow(parent)
{
    buildControls();
    connectMenuHandlers();
    qApp->installEventFilter(this);
    platform::Guarded([&] { FormCreate(this); });
}

TForm1::~TForm1()
{
    // An error of the direct binding is shown; the window goes all the same.
    platform::Guarded([&] { FormDestroy(this); });
    delete std::exchange(Twain, nullptr);
    if (qApp)
        qApp->removeEventFilter(this);
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::buildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));

    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Style1 = MainMenu1->addAction(QStringLiteral("Style"));
    Update1 = MainMenu1->addAction(QStringLiteral("Update"));
    Hilfe1 = MainMenu1->addAction(QStringLiteral("Hilfe"));
    Info1 = MainMenu1->addAction(QStringLiteral("Info"));
    Style1->setObjectName(QStringLiteral("Style1"));
    Update1->setObjectName(QStringLiteral("Update1"));
    Hilfe1->setObjectName(QStringLiteral("Hilfe1"));
    Info1->setObjectName(QStringLiteral("Info1"));

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);
    auto *clientLayout = new QVBoxLayout(client);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    clientLayout->setSpacing(0);

    // Document side and picture side.
    Panel3 = new TPanel(client);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFont(QFont(QStringLiteral("MS Sans Serif"), 9, QFont::Bold));
    auto *panel3Layout = new QHBoxLayout(Panel3);
    panel3Layout->setContentsMargins(0, 0, 0, 0);
    panel3Layout->setSpacing(0);

    // Left half: scanning controls above the picture area.
    Panel4 = new TPanel(Panel3);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    auto *panel4Layout = new QVBoxLayout(Panel4);
    panel4Layout->setContentsMargins(0, 0, 0, 0);
    panel4Layout->setSpacing(0);

    GroupBox1 = new TGroupBox(QStringLiteral("Belege scannen"), QColor(0x80, 0, 0), Panel4); // maroon caption
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFixedHeight(177);
    GroupBox1->setFont(QFont(QStringLiteral("Microsoft Sans Serif"), 9, QFont::Normal));
    // At the top of its panel also while the picture area is hidden.
    panel4Layout->addWidget(GroupBox1, 0, Qt::AlignTop);
    // Its controls are placed by hand; none may be cut off.
    GroupBox1->setMinimumWidth(356);

    Label1 = new QLabel(QStringLiteral("Bitte erst Verzeichnis und Namen wählen. "), GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(10, 20, 340, 16);

    Label6 = new QLabel(QStringLiteral("Beleg Name"), GroupBox1);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setGeometry(10, 42, 150, 16);

    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(10, 58, 150, 22);

    SpeedButton2 = new TSpeedButton(Glyphs::OpenFolder(), GroupBox1);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->move(166, 48);

    Label2 = new QLabel(QStringLiteral("Pfad:"), GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(10, 86, 30, 16);

    Label3 = new TPathLabel(GroupBox1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(42, 86, 160, 16);

    Button4 = new QPushButton(QStringLiteral("Dokument scannen"), GroupBox1);
    Button4->setObjectName(QStringLiteral("Button4"));
    Button4->setGeometry(10, 106, 150, 28);

    SpeedButton4 = new TSpeedButton(Glyphs::FloppyDisk(), GroupBox1);
    SpeedButton4->setObjectName(QStringLiteral("SpeedButton4"));
    SpeedButton4->move(10, 138);
    SpeedButton5 = new TSpeedButton(Glyphs::RotateRight(), GroupBox1);
    SpeedButton5->setObjectName(QStringLiteral("SpeedButton5"));
    SpeedButton5->move(52, 138);
    SpeedButton3 = new TSpeedButton(Glyphs::FramedPicture(), GroupBox1);
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    SpeedButton3->move(94, 138);

    GroupBox4 = new QGroupBox(QStringLiteral("Scanner wählen"), GroupBox1);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    GroupBox4->setGeometry(215, 40, 135, 132);
    auto *gb4Layout = new QVBoxLayout(GroupBox4);
    gb4Layout->setContentsMargins(4, 4, 4, 4);
    LBSources = new QListWidget(GroupBox4);
    LBSources->setObjectName(QStringLiteral("LBSources"));
    LBSources->setSortingEnabled(true);
    gb4Layout->addWidget(LBSources);

    Image1 = new TImage(Panel4);
    Image1->setObjectName(QStringLiteral("Image1"));
    panel4Layout->addWidget(Image1, 1);
    // The waiting text shows in the middle of the hidden picture area; the
    // window never gets so low that it would not fit there.
    Panel4->SetCaptionBelow(GroupBox1);
    Panel4->setMinimumHeight(177 + 3 * Panel4->fontMetrics().height());

    // Right side: the document list.
    Panel2 = new TPanel(Panel3);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedWidth(230);
    auto *panel2Layout = new QVBoxLayout(Panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);

    GroupBox2 = new QGroupBox(QStringLiteral("Vorhandene Dokumente"), Panel2);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    panel2Layout->addWidget(GroupBox2);
    auto *gb2Layout = new QVBoxLayout(GroupBox2);
    gb2Layout->setContentsMargins(2, 2, 2, 0);
    gb2Layout->setSpacing(0);
    ListBox1 = new QListWidget(GroupBox2);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSortingEnabled(false);
    ListBox1->setMinimumHeight(3 * ListBox1->fontMetrics().height());
    gb2Layout->addWidget(ListBox1, 1);
    Panel5 = new TPanel(GroupBox2);
    Panel5->setObjectName(QStringLiteral("Panel5"));
    Panel5->setFixedHeight(41);
    Button3 = new QPushButton(QStringLiteral("Dokument löschen"), Panel5);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(40, 6, 140, 28);
    gb2Layout->addWidget(Panel5);

    panel3Layout->addWidget(Panel4, 1);
    panel3Layout->addWidget(Panel2);
    clientLayout->addWidget(Panel3, 1);

    // Bottom panel with "Beenden" and "Speichern", placed by FormResize.
    Panel1 = new TPanel(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(41);
    Button1 = new QPushButton(QStringLiteral("Beenden"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(0, 6, 75, 28);
    Button2 = new QPushButton(QStringLiteral("Speichern"), Panel1);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(0, 6, 75, 28);
    clientLayout->addWidget(Panel1);

    connect(Button1, &QPushButton::clicked, this, [this] { platform::Guarded([&] { Button1Click(Button1); }); });
    connectDocumentHandlers();
    connectScanHandlers();

    // Client area 586 x 561 below the menu bar.
    const int menuHeight = MainMenu1->sizeHint().height();
    resize(586, 561 + menuHeight);
}

void TForm1::FormCreate(QObject *)
{
    auto &app = platform::Application::instance();

    // 1. Version and caption.
    version = QStringLiteral(QUILLORA_VERSION);
    setWindowTitle(QStringLiteral("Quillora ") + version);

    // 2. Settings (the file is created when missing).
    platform::Guarded([&] { opt_lesen(this); });

    // 3. The stored folder.
    ShowFolder(Pfad());

    // 4. Help file.
    chmFile = lpf + QStringLiteral("Quillora-Hilfe.chm");
    app.SetHelpFile(chmFile);

    // 5. Version file; the program's own number.
    platform::Guarded([&] { version_lesen(this); });
    versionsnum = QUILLORA_VERSION_NUMBER;
    platform::Guarded([&] { version_lesen(this); });

    // 6. Help file missing.
    if (!platform::FileExists(chmFile))
        platform::ShowMessage(QStringLiteral("Hilfe-Datei nicht gefunden\r") + chmFile);

    // 7. Bottom buttons.
    FormResize(this);

    // 8. Stored visual style.
    platform::Guarded([] { TFarbe::style_lesen(); });

    // 9. Name field only with a folder.
    const bool haveFolder = !Pfad().isEmpty();
    Label6->setEnabled(haveFolder);
    Edit1->setEnabled(haveFolder);

    // 10. Nothing to scan or save yet.
    Button4->setEnabled(false);
    Button2->setEnabled(false);

    // 11. The scanners.
    connectScanners();

    // 12. Nothing to save, turn, view or delete yet.
    SpeedButton4->setEnabled(false);
    SpeedButton5->setEnabled(false);
    SpeedButton3->setEnabled(false);
    Button3->setEnabled(false);

    // 13. The documents of the stored folder.
    Dir_Listbox_fuellen(this);
}

void TForm1::ShowFolder(const QString &folder)
{
    Label3->SetPath(folder);
}

int TForm1::OuterWidth() const
{
    return frameGeometry().width();
}

void TForm1::FormResize(QObject *)
{
    breit = OuterWidth() / 2.0;
    const int h = static_cast<int>(std::trunc(breit));
    Button1->move(h - (Button1->width() + 10), Button1->y());
    Button2->move(h - 5, Button2->y());
}

void TForm1::FormKeyDown(QObject *, WORD &Key, TShiftState Shift)
{
    if (Key == VK_F4 && Shift == ssAlt)
        close();
    if (Key == VK_F1)
        platform::Application::instance().HelpContext(100);
}

void TForm1::Button1Click(QObject *)
{
    close();
    platform::Application::instance().Terminate();
}

namespace {

// Names compared without letter case, hashed without building folded copies.
struct CaseInsensitiveHash {
    std::size_t operator()(const QString &s) const noexcept
    {
        std::size_t h = 1469598103934665603ull;
        for (QChar c : s) {
            char16_t u = c.unicode();
            if (u < 0x80)
                u = (u >= 'A' && u <= 'Z') ? char16_t(u + 32) : u;
            else
                u = c.toCaseFolded().unicode();
            h = (h ^ u) * 1099511628211ull;
        }
        return h;
    }
};
struct CaseInsensitiveEqual {
    bool operator()(const QString &a, const QString &b) const noexcept
    {
        return a.compare(b, Qt::CaseInsensitive) == 0;
    }
};

} // namespace

namespace {
// The file name bytes of a document list entry.
constexpr int kNativeNameRole = Qt::UserRole + 2;
} // namespace

QByteArray TForm1::EntryNative(const QListWidgetItem *entry)
{
    const QVariant bytes = entry->data(kNativeNameRole);
    return bytes.isValid() ? bytes.toByteArray() : QFile::encodeName(entry->text());
}

QByteArray TForm1::NameFieldNative() const
{
    return NativeFor(Edit1->text(), nameFieldBytes_);
}

struct TForm1::ListedNames {
    std::unordered_set<QString, CaseInsensitiveHash, CaseInsensitiveEqual> names;
};

void TForm1::Dir_Listbox_fuellen(QObject *)
{
    ListBox1->clear();
    if (Pfad().isEmpty())
        return;
    // What a killed save left behind is not a document.
    platform::RemoveStaleTemporaries(PfadNative());
    // The ".jpg" names in the order the file system returns them, then the
    // ".bmp" names: one pass over the folder yields both searches.
    struct Found {
        QString name;
        QByteArray bytes;
    };
    std::vector<Found> found[2];
    platform::SearchFolder(PfadNative(), {QStringLiteral("*.jpg"), QStringLiteral("*.bmp")}, platform::faAnyFile,
                           [&](int pattern, const platform::TSearchRec &rec) {
                               found[pattern].push_back({rec.Name, rec.NativeName()});
                           });

    ListedNames listed;
    const bool sorted = ListBox1->isSortingEnabled();
    ListBox1->setUpdatesEnabled(false);
    for (const std::vector<Found> &names : found) {
        for (const Found &entry : names) {
            d_name = entry.name;
            // Names that are no UTF-8 are told apart by their bytes, not by
            // how they are shown.
            const QString key = d_name.contains(QChar::ReplacementCharacter)
                                    ? QString(QChar(1)) + QString::fromLatin1(entry.bytes)
                                    : d_name;
            if (!listed.names.insert(key).second)
                continue;
            auto *item = new TDocumentItem(d_name);
            item->setData(kNativeNameRole, entry.bytes);
            if (sorted)
                ListBox1->addItem(item); // the model inserts it at its place
            else
                ListBox1->insertItem(ListBox1->count(), item);
        }
    }
    ListBox1->setUpdatesEnabled(true);
}

namespace {

// Writes the settings record; what a killed write left beside the file
// goes first.
bool writeSettingsRecord()
{
    platform::RemoveStaleTemporaries(QFile::encodeName(platform::DataDirectory()));
    return WriteRecordFile(SettingsFilePath(), &option, sizeof option);
}

} // namespace

void TForm1::opt_lesen(QObject *)
{
    const RecordReadResult r = ReadRecordFile(SettingsFilePath(), &option, sizeof option);
    if (r == RecordReadResult::Missing)
        opt_anlegen(this);
    // A file that cannot be opened for writing, or that is short or broken,
    // is not reported: the settings then stay as read (or empty) for the run.
}

void TForm1::opt_anlegen(QObject *)
{
    option.doub1 = 0.0;
    option.doub2 = 0.0;
    option.anzahl = 0;
    option.sonst2 = 0;
    option.sonst3 = 0;
    option.Str1[0] = 0;
    option.str2[0] = 0;
    option.str3[0] = 0;
    if (!writeSettingsRecord())
        return; // no stored settings this run
    creatingSettings_ = true;
    opt_speichern(this);
    creatingSettings_ = false;
}

void TForm1::opt_speichern(QObject *)
{
    if (platform::FileExists(SettingsFilePath())) {
        option.anzahl = 0;
        writeSettingsRecord();
    } else if (!creatingSettings_) {
        opt_anlegen(this);
    }
}

void TForm1::version_lesen(QObject *)
{
    const RecordReadResult r = ReadRecordFile(VersionFilePath(), &t_version, sizeof t_version);
    if (r == RecordReadResult::Missing)
        t_version.version = 0;
}

void TForm1::version_speichern(QObject *)
{
    if (platform::FileExists(VersionFilePath())) {
        t_version.version = versionsnum;
        OverwriteRecordInPlace(VersionFilePath(), &t_version, sizeof t_version);
    } else {
        version_anlegen(this);
    }
}

void TForm1::version_anlegen(QObject *)
{
    QFile f(VersionFilePath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.close();
    version_speichern(this);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (deferListInput(watched, event))
        return true;
    if (event->type() == QEvent::KeyPress && isActiveWindow()) {
        // Key preview: the window sees each key once, before the focused
        // control (the first delivery goes to the focus widget).
        QWidget *w = qobject_cast<QWidget *>(watched);
        QWidget *focus = QApplication::focusWidget();
        const bool first = focus ? watched == focus : watched == this;
        if (w && first && w->window() == this) {
            auto *ke = static_cast<QKeyEvent *>(event);
            WORD key = 0;
            if (ke->key() >= Qt::Key_F1 && ke->key() <= Qt::Key_F24)
                key = static_cast<WORD>(VK_F1 + (ke->key() - Qt::Key_F1));
            if (key != 0) {
                TShiftState shift = 0;
                const auto mods = ke->modifiers();
                if (mods & Qt::ShiftModifier)
                    shift |= ssShift;
                if (mods & Qt::AltModifier)
                    shift |= ssAlt;
                if (mods & Qt::ControlModifier)
                    shift |= ssCtrl;
                const auto buttons = QGuiApplication::mouseButtons();
                if (buttons & Qt::LeftButton)
                    shift |= ssLeft;
                if (buttons & Qt::RightButton)
                    shift |= ssRight;
                if (buttons & Qt::MiddleButton)
                    shift |= ssMiddle;
                platform::Guarded([&] { FormKeyDown(this, key, shift); });
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    lastOuterWidth_ = OuterWidth();
    platform::Guarded([&] { FormResize(this); });
}

void TForm1::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    // The window manager adds its frame after the first show; the outer
    // width changes then without a resize of the client area.
    if (OuterWidth() != lastOuterWidth_) {
        lastOuterWidth_ = OuterWidth();
        platform::Guarded([&] { FormResize(this); });
    }
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    lastOuterWidth_ = OuterWidth();
    platform::Guarded([&] { FormResize(this); });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    // Closing the main window ends the program, whatever else is open.
    if (event->isAccepted() && platform::Application::instance().MainForm() == this)
        platform::Application::instance().Terminate();
}

// ---- document folder and list -------------------------------------------

namespace {

const QString kNameExistsText = QStringLiteral(
    "      Der Dateiname ist bereits vorhanden.      \nBitte wählen Sie einen anderen Dateinamen.      \n"
    "sonst wird das alte Dokument überschrieben.     ");
const QString kNameTooLongText = QStringLiteral("  Der Bildname darf nur 30 Zeichen ohne Dateiendung enthalten. \n"
                                                "  Bitte kürzen Sie den Namen durch Umbenennen entsprechend.    \n");
const QString kLoadingText = QStringLiteral("Bitte warten ... Dokument wird geladen.");
const QString kOverwriteText =
    QStringLiteral("          Die Datei ist bereits vorhanden.   \n  möchten Sie die Datei trotzdem speichern\n"
                   "   und die vorhandene Datei überschreiben?         \n");

// The folder part of a path, with its trailing "/", and the file part.
QString folderPart(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString filePart(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The extension of a file name from its last dot on, dot included; empty
// when the file part has no dot.
QString extensionOf(const QString &name)
{
    const QString file = filePart(name);
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : file.mid(dot);
}

void processPendingMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

void TForm1::connectDocumentHandlers()
{
    auto guarded = [this](void (TForm1::*handler)(QObject *), QObject *sender) {
        return [this, handler, sender] { platform::Guarded([&] { (this->*handler)(sender); }); };
    };
    connect(SpeedButton2, &QToolButton::clicked, this, guarded(&TForm1::SpeedButton2Click, SpeedButton2));
    connect(Edit1, &QLineEdit::textChanged, this, guarded(&TForm1::Edit1Change, Edit1));
    // Typed text is the person's own and is written as UTF-8.
    connect(Edit1, &QLineEdit::textEdited, this, [this] { nameFieldBytes_.clear(); });
    // The selection, not the current row: a mouse click moves the current
    // row before it selects, and the keyboard selects before it moves it.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, guarded(&TForm1::ListBox1Click, ListBox1));
    connect(Button3, &QPushButton::clicked, this, guarded(&TForm1::Button3Click, Button3));
    connect(Button2, &QPushButton::clicked, this, guarded(&TForm1::Button2Click, Button2));
    connect(SpeedButton4, &QToolButton::clicked, this, guarded(&TForm1::SpeedButton4Click, SpeedButton4));
    connect(SpeedButton5, &QToolButton::clicked, this, guarded(&TForm1::SpeedButton5Click, SpeedButton5));
    connect(SpeedButton3, &QToolButton::clicked, this, guarded(&TForm1::SpeedButton3Click, SpeedButton3));
}

int TForm1::SelectedRow() const
{
    const QList<QListWidgetItem *> selected = ListBox1->selectedItems();
    return selected.isEmpty() ? -1 : ListBox1->row(selected.first());
}

platform::Picture &TForm1::ShownPicture()
{
    const QImage &shown = Image1->Picture();
    if (shown.isNull()) {
        if (!picture_.isEmpty())
            picture_.clear();
    } else if (picture_.isEmpty() || shown.cacheKey() != picture_.image().cacheKey()) {
        picture_.setBitmap(shown);
    }
    return picture_;
}

void TForm1::ShowPicture(const platform::Picture &picture)
{
    picture_ = picture;
    Image1->SetPicture(picture_.image());
}

void TForm1::SpeedButton2Click(QObject *)
{
    Label6->setEnabled(true);
    Edit1->setEnabled(true);
    if (!OpenDialog1.Execute())
        return;
    const QString name = quillora::withJpgEnding(OpenDialog1.FileName);
    const QString folder = folderPart(name);

    // The name check while the field is set looks into the folder the
    // document will be saved in: the new one, as it will be stored.
    optionen stored = option;
    SetShortString(stored.pfad, 255, folder);
    nameCheckFolder_ = ShortStringBytes(stored.pfad, 255);
    struct ClearCheckFolder {
        std::optional<QByteArray> &f;
        ~ClearCheckFolder() { f.reset(); }
    } clearCheckFolder{nameCheckFolder_};
    nameFieldBytes_.clear();
    Edit1->setText(filePart(name));
    nameCheckFolder_.reset();

    doku_pfad = folder;
    ShowFolder(doku_pfad);
    SetPfad(doku_pfad);
    opt_speichern(this);

    SpeedButton4->setEnabled(false);
    SpeedButton5->setEnabled(false);
    SpeedButton3->setEnabled(false);

    Dir_Listbox_fuellen(this);
}

void TForm1::Edit1Change(QObject *)
{
    const QString s = Edit1->text();
    QByteArray fileName = NameFieldNative();
    if (quillora::withJpgEnding(s) != s)
        fileName += ".jpg";
    Button4->setEnabled(s > QStringLiteral(" "));
    const QByteArray folder = nameCheckFolder_ ? *nameCheckFolder_ : PfadNative();
    if (platform::NativeFileExists(folder + fileName) && list_b == 0)
        platform::Boxes::instance().Information(kNameExistsText);
}

bool TForm1::deferListInput(QObject *watched, QEvent *event)
{
    if (watched != ListBox1 && watched != ListBox1->viewport())
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        break;
    default:
        return false;
    }
    // Handled in the middle of opening a document, a key or click would
    // move the list's selection while it is being changed, and the
    // highlighted entry, the focus frame and the shown document would part.
    // Input that comes while earlier input waits, waits behind it.
    if (openingDepth_ == 0 && (deferredListInput_.empty() || replayingListInput_))
        return false;
    deferredListInput_.emplace_back(watched, std::unique_ptr<QEvent>(event->clone()));
    if (openingDepth_ == 0 && !replayScheduled_) {
        replayScheduled_ = true;
        QTimer::singleShot(0, this, [this] { replayListInput(); });
    }
    return true;
}

void TForm1::replayListInput()
{
    replayScheduled_ = false;
    while (openingDepth_ == 0 && !deferredListInput_.empty()) {
        auto [receiver, event] = std::move(deferredListInput_.front());
        deferredListInput_.erase(deferredListInput_.begin());
        if (!receiver)
            continue;
        // Sent past the deferral: an event that opens a document defers
        // what follows it until it is done.
        replayingListInput_ = true;
        QCoreApplication::sendEvent(receiver, event.get());
        replayingListInput_ = false;
    }
}

void TForm1::ListBox1Click(QObject *)
{
    zeile = SelectedRow();
    if (zeile < 0)
        return;
    ++openingDepth_;
    struct EndOpening {
        TForm1 &form;
        ~EndOpening()
        {
            if (--form.openingDepth_ == 0 && !form.deferredListInput_.empty() && !form.replayScheduled_) {
                // After the list has finished the change that started this.
                form.replayScheduled_ = true;
                QTimer::singleShot(0, &form, [f = &form] { f->replayListInput(); });
            }
        }
    } endOpening{*this};
    list_b = 1;
    // Back to 0 at the end, also when loading the picture fails.
    struct ResetListFlag {
        ~ResetListFlag() { list_b = 0; }
    } resetListFlag;

    Image1->hide();
    processPendingMessages();

    // Messages handled meanwhile may have changed the list.
    zeile = SelectedRow();
    if (zeile < 0)
        return;
    const QString entry = ListBox1->item(zeile)->text();
    const QByteArray entryBytes = EntryNative(ListBox1->item(zeile));
    const qsizetype n = entry.size() - 4;

    SpeedButton2->setEnabled(true);
    Button4->setEnabled(false);
    SpeedButton4->setEnabled(false);

    if (n > 30) {
        platform::Boxes::instance().Information(kNameTooLongText);
    } else {
        nameFieldBytes_ = entryBytes;
        Edit1->setText(entry);
        datei_m = Edit1->text();
        datei_m_bytes = NameFieldNative();
        const QByteArray path = PfadNative() + datei_m_bytes;
        if (platform::NativeFileExists(path)) {
            Panel4->SetCaption(kLoadingText);
            // The picture of the document shown before is let go first: a
            // document that cannot be loaded must leave nothing that a later
            // turn or save could write under its name.
            ShowPicture(platform::Picture());
            platform::Picture loaded;
            loaded.loadFromFile(path);
            ShowPicture(loaded);
            Image1->update();
            Image1->show();
            Image1->SetStretch(true);
            processPendingMessages();
        }
    }

    SpeedButton3->setEnabled(true);
    Button3->setEnabled(true);
    SpeedButton5->setEnabled(true);
    ListBox1->update();
}

void TForm1::Button3Click(QObject *)
{
    zeile = SelectedRow();
    const QString name = zeile >= 0 ? ListBox1->item(zeile)->text() : datei_m;
    const QByteArray nameBytes = zeile >= 0 ? EntryNative(ListBox1->item(zeile)) : CurrentDocumentNative();
    const QString question = QStringLiteral("      Soll das Dokument  \n          > ") + name +
                             QStringLiteral(" <   \n") + QStringLiteral(" wirklich gelöscht werden ??  ") +
                             QStringLiteral("\n") + QStringLiteral("           ") + QStringLiteral("\n");
    if (platform::Boxes::instance().Confirm(question)) {
        Panel4->SetCaption(QString());
        if (zeile >= 0) {
            // A file that cannot be deleted simply stays.
            ::unlink((PfadNative() + nameBytes).constData());
            Dir_Listbox_fuellen(this);
            Edit1->clear();
            Image1->hide();
        }
    }
    const int c = ListBox1->count();
    GroupBox2->setTitle(QString::number(c) + (c == 1 ? QStringLiteral(" Dokument") : QStringLiteral(" Dokumente")));
    ListBox1->setSortingEnabled(true);
    ListBox1->sortItems(Qt::AscendingOrder);
}

// ---- rotating and saving ----------------------------------------------------

void TForm1::Button2Click(QObject *)
{
    const QByteArray path = PfadNative() + CurrentDocumentNative();
    if (platform::NativeFileExists(path)) {
        // Without a picture (a document that could not be loaded) there is
        // nothing to write over the file.
        if (ShownPicture().isEmpty())
            return;
        if (platform::Boxes::instance().Confirm(kOverwriteText))
            quillora::overwriteDocument(ShownPicture(), path);
        return;
    }
    Speichern(this);
}

void TForm1::Speichern(QObject *)
{
    datei_o = quillora::withoutJpgEnding(Edit1->text());
    QByteArray nativeName = NameFieldNative();
    nativeName.chop(Edit1->text().size() - datei_o.size()); // ".jpg" is four bytes as it is four characters
    QByteArray written;
    if (!datei_o.isEmpty()) {
        written = quillora::writeNewDocument(ShownPicture(), PfadNative(), nativeName);
        Image1->show();
        Button2->setEnabled(false);
        Edit1->clear();
    }
    datei_m = QFile::decodeName(written);
    datei_m_bytes = written;
    if (datei_m > QStringLiteral(" ") && ListBox1->findItems(datei_m, Qt::MatchFixedString).isEmpty()) {
        auto *item = new TDocumentItem(datei_m);
        item->setData(kNativeNameRole, written);
        ListBox1->addItem(item);
    }
    Dir_Listbox_fuellen(this);
    ListBox1->update();
}

QString TForm1::setJPGFileName(const QString &fbmp)
{
    return quillora::jpgFileNameFor(fbmp);
}

void TForm1::SpeedButton4Click(QObject *)
{
    Button2Click(this);
    SpeedButton4->setEnabled(false);
    SpeedButton5->setEnabled(true);
    SpeedButton3->setEnabled(true);
}

void TForm1::SpeedButton5Click(QObject *)
{
    MyFilesExtension = extensionOf(datei_m);
    platform::Picture &picture = ShownPicture();
    if (!picture.isEmpty()) {
        if (MyFilesExtension.compare(QLatin1String(".JPG"), Qt::CaseInsensitive) == 0) {
            QImage turned;
            rotate90(picture.image(), turned);
            if (picture.kind() == platform::Picture::Kind::Jpeg)
                picture.setJpegImage(turned);
            else
                picture.setBitmap(turned);
            Image1->SetPicture(picture.image());
            Image1->update();
        } else if (MyFilesExtension.compare(QLatin1String(".BMP"), Qt::CaseInsensitive) == 0) {
            Drehen90Grad(picture.editImage());
            Image1->SetPicture(picture.image());
        }
    }
    Button2->setEnabled(false);
    SpeedButton4->setEnabled(true);
}

void TForm1::rotate90(const QImage &Source, QImage &Target)
{
    quillora::rotateClockwiseInto(Source, Target);
}

void TForm1::Drehen90Grad(QImage &Bitmap)
{
    quillora::rotateClockwiseInPlace(Bitmap);
}

// ---- scanner connection and scanning ----------------------------------------

namespace {

const QString kTwainMissingText = QStringLiteral("Twain is not installed.");
const QString kChooseScannerText =
    QStringLiteral("     Bitte wählen Sie einen Scanner aus und  \n   wählen Sie ein Verzeichnis und Dateinamen.   \n"
                   "Die Dateiendung *.jpg wird automatisch angefügt.                \n") +
    QString(52, QLatin1Char(' '));
const QString kOtherScannerText =
    QStringLiteral(" Bitte wählen Sie einen anderen Scanner aus.\n") + QString(44, QLatin1Char(' '));

constexpr int kSourceIndexRole = Qt::UserRole + 1;

} // namespace

void TForm1::connectScanHandlers()
{
    connect(Button4, &QPushButton::clicked, this, [this] { platform::Guarded([&] { Button4Click(Button4); }); });
    // A click, or a selection the person makes with the keyboard; the
    // program's own selection is no click.  A click on the entry already
    // selected counts too.
    const auto click = [this] {
        if (!fillingSources_)
            platform::Guarded([&] { LBSourcesClick(LBSources); });
    };
    connect(LBSources, &QListWidget::itemSelectionChanged, this, click);
    connect(LBSources, &QListWidget::itemClicked, this, click);
}

void TForm1::connectScanners()
{
    // 1. The component, with the acquire event bound.
    Twain = new TOstraTwain;
    Twain->OnTwainAcquire() = [this](TObject *Sender, std::int32_t Index, platform::Bitmap *Image, bool &Cancel) {
        TwainTwainAcquire(Sender, Index, Image, Cancel);
    };

    // 2. The manager through the component, and the scanner list.
    if (Twain->LoadLibrary()) {
        Twain->SetSourceManagerLoaded(true);
        ReloadSources();
    } else {
        qCDebug(lcApp) << "no source manager in" << Unit1::lpf;
        platform::ShowMessage(kTwainMissingText);
    }

    // 3. The manager a second time, through the direct binding, on the
    //    application object's window.
    platform::Guarded([] { Scanners::TWOpenDSM(platform::Application::instance().Handle()); });
}

std::int32_t TForm1::SourceIndexOf(const QListWidgetItem *entry)
{
    if (!entry)
        return -1;
    bool ok = false;
    const int index = entry->data(kSourceIndexRole).toInt(&ok);
    return ok ? index : -1;
}

void TForm1::ReloadSources()
{
    fillingSources_ = true;
    struct EndFilling {
        bool &flag;
        ~EndFilling() { flag = false; }
    } endFilling{fillingSources_};

    LBSources->clear();
    const std::int32_t count = Twain ? Twain->SourceCount() : 0;
    for (std::int32_t i = 0; i < count; ++i) {
        TTwainSource *source = Twain->Source(i);
        auto *entry = new TDocumentItem(source ? source->ProductName() : QString());
        entry->setData(kSourceIndexRole, i);
        LBSources->addItem(entry); // the sorted list puts it at its place
    }
    if (LBSources->count() > 0)
        LBSources->setCurrentRow(0);
    if (lcApp().isDebugEnabled()) {
        QStringList names;
        for (int row = 0; row < LBSources->count(); ++row)
            names << LBSources->item(row)->text();
        qCDebug(lcApp) << "scanner list:" << names;
    }
}

void TForm1::LBSourcesClick(QObject *)
{
    Button4->setEnabled(true);
}

void TForm1::Button4Click(QObject *)
{
    if (Edit1->text().isEmpty()) {
        platform::Boxes::instance().Information(kChooseScannerText);
    } else {
        SpeedButton3->setEnabled(false);
        SpeedButton5->setEnabled(false);
        datei_m = Edit1->text();
        datei_m_bytes = NameFieldNative();

        const QList<QListWidgetItem *> selected = LBSources->selectedItems();
        const std::int32_t index = selected.isEmpty() ? -1 : SourceIndexOf(selected.first());
        qCDebug(lcApp) << "scan" << datei_m << "from source" << index;
        if (Twain) {
            Twain->SetSelectedSourceIndex(index);
            if (TTwainSource *source = Twain->SelectedSource()) {
                source->SetLoaded(true);
                source->SetShowUI(true);
                source->SetEnabled(true);
                // A source that keeps the message loop running inside
                // MSG_ENABLEDS may finish the whole acquisition there; the
                // source list is rebuilt at its end and |source| is gone.
                // It was enabled then.
                const bool rebuilt = !Twain->HasEnumerated();
                if (rebuilt || source->Enabled()) {
                    SpeedButton4->setEnabled(true);
                } else {
                    // Closed again: an open source may keep the manager from
                    // opening the scanner the person picks next (one source
                    // per source object and application).
                    qCDebug(lcApp) << "source" << index << "could not be enabled";
                    source->SetLoaded(false);
                    platform::Boxes::instance().Information(kOtherScannerText);
                }
            }
        }

        Image1->update();
        Image1->show();
        Image1->SetStretch(true);
        Button1->setEnabled(true);
    }
    Edit1->setFocus();
    Button4->setEnabled(false);
    Button2->setEnabled(true);
}

void TForm1::TwainTwainAcquire(TObject *, std::int32_t, platform::Bitmap *Image, bool &Cancel)
{
    platform::Picture page;
    if (Image)
        page.setBitmap(Image->ToImage().copy());
    qCDebug(lcApp) << "page received:" << page.image().size();
    ShowPicture(page);
    Cancel = true;
}

void TForm1::FormDestroy(QObject *)
{
    if (Scanners::TWIsDSEnabled())
        Scanners::TWDisableDS();
    if (Scanners::TWIsDSOpen())
        Scanners::TWCloseDS();
    if (Scanners::TWIsDSMOpen())
        Scanners::TWCloseDSM();
}

// ---- document viewer ---------------------------------------------------------

void TForm1::SpeedButton3Click(QObject *)
{
    // A new viewer on the selected document; the name buttons compose from
    // the document selected then.
    TBild::OpenDocument(TDocumentSource{[] { return Pfad(); }, [] { return datei_m; }}, this);
}

// ---- menu: help, update, about, style ----------------------------------------

void TForm1::connectMenuHandlers()
{
    auto guarded = [this](void (TForm1::*handler)(QObject *), QObject *sender) {
        return [this, handler, sender] { platform::Guarded([&] { (this->*handler)(sender); }); };
    };
    connect(Style1, &QAction::triggered, this, guarded(&TForm1::Style1Click, Style1));
    connect(Update1, &QAction::triggered, this, guarded(&TForm1::Update1Click, Update1));
    connect(Hilfe1, &QAction::triggered, this, guarded(&TForm1::Hilfe1Click, Hilfe1));
    connect(Info1, &QAction::triggered, this, guarded(&TForm1::Info1Click, Info1));
}

void TForm1::Hilfe1Click(QObject *)
{
    platform::Application::instance().HelpContext(100);
}

void TForm1::Update1Click(QObject *)
{
    const INT result = platform::ShellExecute(platform::HandleOfWidget(this), QString(), QStringLiteral("Update.Exe"),
                                              QString(), lpf, platform::SW_SHOW);
    if (result <= 32)
        platform::ShowMessage(ShellFehlertext(result));
    // The program ends either way; a started update program runs on alone.
    close();
}

void TForm1::Info1Click(QObject *)
{
    TInv *inv = Info::Inv;
    if (!inv)
        return;
    inv->Label2->setText(QStringLiteral("Quillora ") + version);
    const QStringList lines = Info::ContactLines();
    QLabel *labels[] = {inv->Label4, inv->Label5, inv->Label6, inv->Label7, inv->Label9, inv->Label10};
    for (qsizetype i = 0; i < lines.size() && i < qsizetype(std::size(labels)); ++i)
        labels[i]->setText(lines[i]);
    inv->show();
    inv->raise();
    inv->activateWindow();
}

void TForm1::Style1Click(QObject *)
{
    if (TFarbe *chooser = Farben::Farbe) {
        chooser->show();
        chooser->raise();
        chooser->activateWindow();
    }
}
