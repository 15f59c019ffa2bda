// TBild: the document viewer.  One preview control fills its middle and
// shows the document as a printable page; the buttons zoom, drag, print the
// page, print it to the PDF printer, choose another printer and show or hide
// the document's file name above the picture.
#pragma once

#include "preview/RaduZovovaz.h"
#include "preview/TextLayer.h"

#include "platform/Metafile.h"
#include "platform/Picture.h"

#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "widgets/Controls.h"

// A document's picture: a JPEG image, a bitmap or a metafile, with the
// bytes of the file it was read from (empty when it was made otherwise).
class TViewerPicture {
public:
    explicit TViewerPicture(platform::Picture image, QByteArray content = QByteArray())
        : image_(std::move(image)), content_(std::move(content))
    {
    }
    explicit TViewerPicture(platform::Metafile page) : page_(std::move(page)) {}

    int Width() const { return page_ ? page_->width() : image_.width(); }
    int Height() const { return page_ ? page_->height() : image_.height(); }
    // Draws the picture stretched into |r|.
    void StretchDraw(QPainter &canvas, const QRect &r) const;
    // The pixels of a JPEG image or bitmap; null for a metafile.
    QImage Image() const { return page_ ? QImage() : image_.image(); }
    const QByteArray &Content() const { return content_; }

private:
    platform::Picture image_;
    QByteArray content_;
    std::optional<platform::Metafile> page_;
};

// Where the viewer's document lies: the main window's document folder
// (ending with "/") and its current document's file name, asked anew
// whenever the page is composed.
struct TDocumentSource {
    std::function<QString()> Folder;
    std::function<QString()> Name;
};

class TBild : public QWidget {
    Q_OBJECT
public:
    // The viewer window; FormCreate runs.  |owner| (the main window) takes
    // it along when it goes.
    TBild(TDocumentSource source, QWidget *owner = nullptr);
    ~TBild() override;

    // Opens a new viewer on the source's current document, as the main
    // window's display button does: the page is composed without the name
    // and the viewer shown.  A document that cannot be read throws the
    // loader's error; the new viewer is then released without being shown.
    static TBild *OpenDocument(TDocumentSource source, QWidget *owner = nullptr);

    // The picture kind of a file name: the extension from the last dot, in
    // lower case, without the dot, cut to three characters.
    static QString DocumentType(const QString &fileName);
    // Loads a document: "jpg" a JPEG image, "bmp" a bitmap, "wmf" a
    // metafile; nothing for any other type.  Throws the loader's error.
    static std::optional<TViewerPicture> LoadDocument(const QString &path);

    // Records the viewer's page: the picture across the width between the
    // side margins, centred vertically, and with |withName| the document's
    // name centred above it.  Without a picture the page stays empty.
    void ComposePage(const TViewerPicture *picture, bool withName);
    // The user profile's default-printer entry.
    static QString GetDefaultPrinter();

    void FormCreate(QObject *Sender);
    void Button1Click(QObject *Sender);  // "PDF erstellen"
    void Button3Click(QObject *Sender);  // "Drucken"
    void Button5Click(QObject *Sender);  // "Standart"
    void Button6Click(QObject *Sender);  // "Zoom +"
    void Button7Click(QObject *Sender);  // "Zoom -"
    void Button8Click(QObject *Sender);  // "Drag"
    void Button9Click(QObject *Sender);  // "Normal"
    void Button10Click(QObject *Sender); // "Weit"
    void Button11Click(QObject *Sender); // "Bildnamen anzeigen"
    void Button12Click(QObject *Sender); // "Beenden"
    void Button13Click(QObject *Sender); // "Anderen Drucker wählen"
    void Button14Click(QObject *Sender); // "Bildnamen nicht anzeigen"

    TPanel *Panel1 = nullptr; // top bar
    TPanel *Panel2 = nullptr; // bottom bar
    TPanel *Panel3 = nullptr; // right end of the bottom bar
    QPushButton *Button5 = nullptr;
    QPushButton *Button6 = nullptr;
    QPushButton *Button7 = nullptr;
    QPushButton *Button8 = nullptr;
    QPushButton *Button9 = nullptr;
    QPushButton *Button10 = nullptr;
    QPushButton *Button13 = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *Button12 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button11 = nullptr;
    QPushButton *Button14 = nullptr;
    TRaduZovovaz *RaduZovovaz1 = nullptr;

    // The recognition of the shown document's text; none for a metafile or
    // an empty page.
    TTextRecognitionJob *TextRecognition() const { return textJob_.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void composeFromSource(bool withName);
    // Starts recognising the text of |picture| unless that document's
    // recognition is already under way.
    void startTextRecognition(const TViewerPicture *picture);
    bool selectedPrinterWritesPdf() const;
    // The words to put under the page on the selected printer: none on a
    // printer that is no PDF printer; waits for a recognition still running.
    std::vector<platform::RecognizedWord> textLayerForPrinting();
    // PrintAll, with the text layer when the printer makes a PDF file.
    void printPages();

    TDocumentSource source_;
    std::unique_ptr<TTextRecognitionJob> textJob_;
    // Where the last composed page shows the picture, and its size.
    std::int32_t textPage_ = -1;
    QRect textTarget_;
    QSize textPicture_;
    std::vector<platform::RecognizedWord> printWords_; // while printPages runs
};

namespace Bildanzeige {
// The newest viewer window; cleared by "Beenden" and when that window goes.
inline QPointer<TBild> Bild;
} // namespace Bildanzeige
