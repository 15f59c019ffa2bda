// The main window and the module state of the document workflow.
#pragma once

#include "widgets/Controls.h"
#include "app/Records.h"
#include "platform/FileDialogs.h"
#include "platform/Files.h"
#include "platform/Picture.h"
#include "platform/WinTypes.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>

#include <QSet>

#include <QPointer>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Held modifier keys and mouse buttons of a key event.
enum TShiftStateFlag : unsigned {
    ssShift = 1u << 0,
    ssAlt = 1u << 1,
    ssCtrl = 1u << 2,
    ssLeft = 1u << 3,
    ssRight = 1u << 4,
    ssMiddle = 1u << 5,
};
using TShiftState = unsigned;

class TForm1;
class TObject;
class TOstraTwain;
namespace platform {
class Bitmap;
}

// Module state of the main window's unit, alive for the whole run.
namespace Unit1 {
inline QString lpf;               // program directory, with trailing "/"
inline QString version;           // "2.03"
inline std::int32_t versionsnum;  // 203
inline QString chmFile;           // lpf + "Quillora-Hilfe.chm"
inline optionen option{};         // the settings record
inline welcheversion t_version{}; // the version record
inline QString datei_m;           // current document's file name
// datei_m as the bytes the file system knows it by, while it names the
// same file (see NativeFor).
inline QByteArray datei_m_bytes;
inline double breit = 0; // half the window's outer width
inline QString d_name;   // name just found while the list is filled
inline platform::TSearchRec SearchRec;
inline TForm1 *Form1 = nullptr;

// Document folder and list.
inline QString doku_pfad;       // the folder chosen last, with trailing "/"
inline std::int32_t list_b = 0; // 1 while a document click fills the name field
inline int zeile = -1;          // selected list entry, -1 for none
// Rotating and saving.
inline QString datei_o;          // name of a new document, without ".jpg"
inline QString MyFilesExtension; // extension of datei_m when turning

// The document folder held in option.pfad, and setting it (cut to 255
// bytes at a character boundary; later bytes of the field are kept).
QString Pfad();
void SetPfad(const QString &folder);
// The stored folder exactly as its bytes are stored: file names are bytes,
// and a folder whose name is no UTF-8 is used as it is.  Pfad() shows it.
QByteArray PfadNative();

// The bytes of a name shown as |shown|: |bytes| while they are what |shown|
// shows (a name taken from the file system), otherwise |shown| as UTF-8.
QByteArray NativeFor(const QString &shown, const QByteArray &bytes);
// The current document's name as bytes.
QByteArray CurrentDocumentNative();

// Paths of the stored files.
QString SettingsFilePath(); // "Einstellung.opt"
QString VersionFilePath();  // "Version.ver"

// Back to the state at program start (tests).
void ResetState();
} // namespace Unit1

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // Controls, named as in the window's design.
    QMenuBar *MainMenu1 = nullptr;
    QAction *Style1 = nullptr;
    QAction *Update1 = nullptr;
    QAction *Hilfe1 = nullptr;
    QAction *Info1 = nullptr;
    TPanel *Panel1 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    TPanel *Panel3 = nullptr;
    TPanel *Panel2 = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QListWidget *ListBox1 = nullptr;
    TPanel *Panel5 = nullptr;
    QPushButton *Button3 = nullptr;
    TPanel *Panel4 = nullptr;
    TGroupBox *GroupBox1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label6 = nullptr;
    QLineEdit *Edit1 = nullptr;
    TSpeedButton *SpeedButton2 = nullptr;
    QLabel *Label2 = nullptr;
    TPathLabel *Label3 = nullptr;
    QPushButton *Button4 = nullptr;
    QGroupBox *GroupBox4 = nullptr;
    QListWidget *LBSources = nullptr;
    TSpeedButton *SpeedButton4 = nullptr;
    TSpeedButton *SpeedButton5 = nullptr;
    TSpeedButton *SpeedButton3 = nullptr;
    TImage *Image1 = nullptr;

    // Handlers.
    void FormCreate(QObject *Sender);
    void FormResize(QObject *Sender);
    void FormKeyDown(QObject *Sender, WORD &Key, TShiftState Shift);
    void Button1Click(QObject *Sender);
    void Dir_Listbox_fuellen(QObject *Sender);

    // Document folder and list.
    void SpeedButton2Click(QObject *Sender);
    void Edit1Change(QObject *Sender);
    void ListBox1Click(QObject *Sender);
    void Button3Click(QObject *Sender);

    // Scanner connection and scanning.
    void ReloadSources();
    void LBSourcesClick(QObject *Sender);
    void Button4Click(QObject *Sender);
    void TwainTwainAcquire(TObject *Sender, std::int32_t Index, platform::Bitmap *Image, bool &Cancel);
    void FormDestroy(QObject *Sender);
    // The source index an entry of the scanner list stands for, -1 for none.
    static std::int32_t SourceIndexOf(const QListWidgetItem *entry);

    // The acquisition component, created by FormCreate (null before) and
    // freed with the window.
    TOstraTwain *Twain = nullptr;

    // Rotating and saving.
    void Button2Click(QObject *Sender);
    void Speichern(QObject *Sender);
    QString setJPGFileName(const QString &fbmp);
    void SpeedButton4Click(QObject *Sender);
    void SpeedButton5Click(QObject *Sender);

    // Document viewer.
    void SpeedButton3Click(QObject *Sender);
    void rotate90(const QImage &Source, QImage &Target);
    void Drehen90Grad(QImage &Bitmap);

    platform::OpenDialog OpenDialog1{this};

    // The picture of the picture area: what Image1 shows, as a bitmap or a
    // JPEG image that may still hold the bytes it was decoded from.  A
    // picture put into Image1 directly counts as a bitmap.
    platform::Picture &ShownPicture();
    void ShowPicture(const platform::Picture &picture);

    // Menu: help, update, about and style chooser.
    void Hilfe1Click(QObject *Sender);
    void Update1Click(QObject *Sender);
    void Info1Click(QObject *Sender);
    void Style1Click(QObject *Sender);

    // Stored files.
    void opt_lesen(QObject *Sender);
    void opt_anlegen(QObject *Sender);
    void opt_speichern(QObject *Sender);
    void version_lesen(QObject *Sender);
    void version_speichern(QObject *Sender);
    void version_anlegen(QObject *Sender);

    // The window's outer width, borders included.
    int OuterWidth() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void buildControls();
    // The names in the document list, letter case ignored.
    struct ListedNames;

    void connectDocumentHandlers();
    void connectScanHandlers();
    // Start-up step 11: the component, the scanner list, the direct binding.
    void connectScanners();
    void connectMenuHandlers();
    // The row of the selected entry of the document list, -1 for none.
    int SelectedRow() const;

    // Shows the stored folder in "Pfad:".
    void ShowFolder(const QString &folder);
    // Input for the document list that arrives while a document is being
    // opened waits until it is done, and is then handled in order.
    bool deferListInput(QObject *watched, QEvent *event);
    void replayListInput();
    int openingDepth_ = 0;
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> deferredListInput_;
    bool replayScheduled_ = false;
    bool replayingListInput_ = false;

    bool creatingSettings_ = false;
    // While a folder is being chosen: the folder the name check consults.
    std::optional<QByteArray> nameCheckFolder_;
    // The file name bytes of the list entry the name field was filled from;
    // forgotten when the person edits the field.
    QByteArray nameFieldBytes_;
    QByteArray NameFieldNative() const;
    // The name of a document list entry as bytes.
    static QByteArray EntryNative(const QListWidgetItem *entry);
    platform::Picture picture_;
    int lastOuterWidth_ = -1;
    // While the program fills or selects in the scanner list: not a click.
    bool fillingSources_ = false;
};

// The list entries of the document list: a sorted list orders them
// alphabetically with letter case ignored, by the locale's rules.
class TDocumentItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem &other) const override;
};
