// The about window "Autor" and the program catalogue window.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class TInv;
class TProgramm;

namespace Info {
// The windows, created hidden at start-up after the main window.
inline TInv *Inv = nullptr;
inline TProgramm *Programm = nullptr;

// The project's six contact lines in the about window's order: name;
// street and house number; postcode and town; telephone; website; e-mail.
QStringList ContactLines();
// The project's website.
QString Website();

// The programs the catalogue lists.
struct CatalogueEntry {
    QString name;
    QString description;
    QString address;
};
std::vector<CatalogueEntry> Catalogue();
} // namespace Info

class TInv : public QWidget {
    Q_OBJECT
public:
    explicit TInv(QWidget *parent = nullptr);
    ~TInv() override;

    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr; // "Info"
    QLabel *Label2 = nullptr; // product name and version
    QLabel *Label3 = nullptr; // "Autor:"
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *Label10 = nullptr;
    QPushButton *Button2 = nullptr; // "Website des Autors besuchen."
    QPushButton *Button3 = nullptr; // "Weitere Programme des Autors."
    QPushButton *Button4 = nullptr; // "Auf verfügbare Updates überprüfen."
    QPushButton *Button1 = nullptr; // "Beenden"

    void Button1Click(QObject *Sender);
    void Button2Click(QObject *Sender);
    void Button3Click(QObject *Sender);
    void Button4Click(QObject *Sender);

protected:
    void changeEvent(QEvent *event) override;

private:
    void colourHeadings();
};

// The catalogue: the project's programs, each with a button that opens its
// web page; F1 and "Hilfe" open the help at the catalogue's own page.
class TProgramm : public QWidget {
    Q_OBJECT
public:
    explicit TProgramm(QWidget *parent = nullptr);
    ~TProgramm() override;

    static constexpr int kHelpContext = 1050;

    // One web-page button per catalogue entry, in the catalogue's order.
    std::vector<QPushButton *> PageButtons;
    QPushButton *HelpButton = nullptr;  // "Hilfe"
    QPushButton *CloseButton = nullptr; // "Schließen"

    void PageButtonClick(int index);
    void HelpButtonClick(QObject *Sender);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
