// The style chooser's unit: the chooser window and the stored visual style.
//
// style_lesen and style_speichern work only on the style file and on
// |style|; style_lesen runs while the main window is being created, before
// any chooser window exists.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <QWidget>

class TFarbe;

namespace Farben {
// The current style name: read from the style file at start, replaced by a
// click in the chooser's list; empty until then.
inline QString style;
// The name being added while the chooser's list is filled.
inline QString str1;
// The chooser window, created at start-up after the main window.
inline TFarbe *Farbe = nullptr;
// The style file: "Styledat.txt" in the folder of the program's stored files.
QString StyleFilePath();
} // namespace Farben

// The style chooser "Farbwahl": lists the styles of the style engine and
// activates one.  Closing it only hides it.
class TFarbe : public QWidget {
    Q_OBJECT
public:
    explicit TFarbe(QWidget *parent = nullptr);
    ~TFarbe() override;

    QLabel *Panel1 = nullptr; // "Aktiver Style > " and the style read at start
    QListWidget *ListBox1 = nullptr;
    QPushButton *Style_Button = nullptr; // "Style aktivieren"
    QWidget *Panel2 = nullptr;           // bottom panel
    QPushButton *Button22 = nullptr;     // "Beenden"

    void FormCreate(QObject *Sender);
    void ListBox1Click(QObject *Sender);
    void ListBox1DblClick(QObject *Sender);
    void Style_ButtonClick(QObject *Sender);
    void Button22Click(QObject *Sender);
    // Any closing: always allowed.
    bool FormCloseQuery(QObject *Sender);

    // Reads the style file into |style| and activates that style (an empty
    // name gives the plain look "Windows").  Without a style file nothing
    // happens.  Throws platform::EInOutError when the file cannot be read,
    // platform::Exception when the style is unknown.
    static void style_lesen();
    // Writes |style| to the style file, without line end.  Throws
    // platform::EInOutError when the file cannot be written.
    static void style_speichern();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Activates |style| and writes it: what a double click and "Style
    // aktivieren" share.
    void activateAndStore();
};
