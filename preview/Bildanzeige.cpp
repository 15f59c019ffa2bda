#include "preview/Bildanzeige.h"

#include "platform/Application.h"
#include "platform/BmpFile.h"
#include "platform/Desktop.h"
#include "platform/Exceptions.h"
#include "platform/Fonts.h"
#include "platform/Jpeg.h"
#include "platform/ModalDialog.h"
#include "platform/Printing.h"
#include "platform/SystemMetrics.h"
#include "widgets/Controls.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLoggingCategory>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcPreview)

namespace {

QFont namedFont(const char *family, int pixels)
{
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(pixels);
    return f;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, int x, int y, int w, int h)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFont(namedFont("Microsoft Sans Serif", 12));
    b->setGeometry(x, y, w, h);
    return b;
}

// Rounds to the nearest integer, halves to the even neighbour.
int roundEven(double v)
{
    return int(std::nearbyint(v));
}

} // namespace

void TViewerPicture::StretchDraw(QPainter &canvas, const QRect &r) const
{
    if (page_)
        page_->play(canvas, r);
    else if (!image_.isEmpty())
        canvas.drawImage(r, image_.image());
}

TBild::TBild(TDocumentSource source, QWidget *owner) : QWidget(owner, Qt::Window), source_(std::move(source))
{
    platform::RegisterFontSubstitutes();
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    platform::Guarded([&] { FormCreate(this); });
}

TBild::~TBild() = default;

void TBild::buildControls()
{
    setObjectName(QStringLiteral("Bild"));
    setWindowTitle(QStringLiteral("Bild anzeigen."));
    setFont(namedFont("System", 12));
    resize(1092, 561);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new TPanel(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(41);
    Button5 = makeButton(Panel1, "Button5", QStringLiteral("Standart"), 15, 10, 75, 25);
    Button6 = makeButton(Panel1, "Button6", QStringLiteral("Zoom +"), 96, 10, 75, 25);
    Button7 = makeButton(Panel1, "Button7", QStringLiteral("Zoom -"), 177, 10, 75, 25);
    Button8 = makeButton(Panel1, "Button8", QStringLiteral("Drag"), 258, 10, 75, 25);
    Button9 = makeButton(Panel1, "Button9", QStringLiteral("Normal"), 339, 10, 75, 25);
    Button10 = makeButton(Panel1, "Button10", QStringLiteral("Weit"), 420, 9, 75, 25);

    RaduZovovaz1 = new TRaduZovovaz(this);
    RaduZovovaz1->setObjectName(QStringLiteral("RaduZovovaz1"));
    RaduZovovaz1->SetTitle(QStringLiteral("Printing ..."));
    RaduZovovaz1->SetMarginLeft(96);
    RaduZovovaz1->SetMarginTop(96);
    RaduZovovaz1->SetMarginRight(96);
    RaduZovovaz1->SetMarginBottom(96);

    Panel2 = new TPanel(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(45);
    Button13 = makeButton(Panel2, "Button13", QStringLiteral("Anderen Drucker wählen"), 15, 6, 156, 25);
    Button3 = makeButton(Panel2, "Button3", QStringLiteral("Drucken"), 0, 6, 100, 27);
    Button12 = makeButton(Panel2, "Button12", QStringLiteral("Beenden"), 0, 6, 100, 27);
    Button1 = makeButton(Panel2, "Button1", QStringLiteral("PDF erstellen"), 0, 6, 100, 27);
    Panel3 = new TPanel(Panel2);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFrameShape(QFrame::NoFrame);
    Button11 = makeButton(Panel3, "Button11", QStringLiteral("Bildnamen anzeigen"), 70, 6, 160, 27);
    Button14 = makeButton(Panel3, "Button14", QStringLiteral("Bildnamen nicht anzeigen"), 70, 6, 160, 27);
    Panel2->installEventFilter(this);

    layout->addWidget(Panel1);
    layout->addWidget(RaduZovovaz1, 1);
    layout->addWidget(Panel2);

    auto guarded = [this](QPushButton *button, void (TBild::*handler)(QObject *)) {
        connect(button, &QPushButton::clicked, this,
                [this, button, handler] { platform::Guarded([&] { (this->*handler)(button); }); });
    };
    guarded(Button1, &TBild::Button1Click);
    guarded(Button3, &TBild::Button3Click);
    guarded(Button5, &TBild::Button5Click);
    guarded(Button6, &TBild::Button6Click);
    guarded(Button7, &TBild::Button7Click);
    guarded(Button8, &TBild::Button8Click);
    guarded(Button9, &TBild::Button9Click);
    guarded(Button10, &TBild::Button10Click);
    guarded(Button11, &TBild::Button11Click);
    guarded(Button12, &TBild::Button12Click);
    guarded(Button13, &TBild::Button13Click);
    guarded(Button14, &TBild::Button14Click);

    RaduZovovaz1->OnPrintUnderlay = [this](QPainter &canvas, std::int32_t page) {
        if (page == textPage_)
            DrawTextLayer(canvas, printWords_, textPicture_, textTarget_);
    };
}

bool TBild::eventFilter(QObject *watched, QEvent *event)
{
    // The name buttons' area keeps to the right end of the bottom bar.
    if (watched == Panel2 && event->type() == QEvent::Resize)
        Panel3->setGeometry(Panel2->width() - 260, 0, 260, Panel2->height());
    return QWidget::eventFilter(watched, event);
}

void TBild::FormCreate(QObject *)
{
    const RECT work = platform::Desktop().WorkAreaNearest(POINT{0, 0});
    setGeometry(0, 0, work.right - work.left, work.bottom - work.top);
    layout()->activate();
    Panel3->setGeometry(Panel2->width() - 260, 0, 260, Panel2->height());
    const int c = Panel2->width() / 2;
    Button3->move(c - (int(1.5 * Button3->width()) + 15), Button3->y());
    Button12->move(c - (Button12->width() / 2 + 10), Button12->y());
    Button1->move(c + Button1->width() / 2 - 5, Button1->y());
}

// ---- documents ---------------------------------------------------------------

QString TBild::DocumentType(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QString();
    return fileName.mid(dot + 1).toLower().left(3);
}

std::optional<TViewerPicture> TBild::LoadDocument(const QString &path)
{
    const QString type = DocumentType(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    qCDebug(lcPreview) << "load document" << path << "as" << type;
    auto contentOf = [](const std::vector<std::uint8_t> &bytes) {
        return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    };
    if (type == QLatin1String("jpg")) {
        std::vector<std::uint8_t> bytes = platform::readWholeFile(path);
        QByteArray content = contentOf(bytes);
        platform::Picture picture;
        picture.setJpegData(std::move(bytes));
        return TViewerPicture(std::move(picture), std::move(content));
    }
    if (type == QLatin1String("bmp")) {
        const std::vector<std::uint8_t> bytes = platform::readWholeFile(path);
        platform::Picture picture;
        picture.setBitmap(platform::decodeBmp(bytes.data(), bytes.size()));
        return TViewerPicture(std::move(picture), contentOf(bytes));
    }
    if (type == QLatin1String("wmf"))
        return TViewerPicture(platform::Metafile::loadFromFile(path));
    return std::nullopt;
}

void TBild::ComposePage(const TViewerPicture *picture, bool withName)
{
    TRaduZovovaz *P = RaduZovovaz1;
    QPainter *canvas = P->BeginPage();
    struct EndPage {
        TRaduZovovaz *p;
        ~EndPage() { p->EndPage(); }
    } endPage{P};
    textPage_ = -1;
    textTarget_ = QRect();
    textPicture_ = QSize();
    // Another document type, or a picture without pixels: an empty page.
    if (!picture || picture->Width() <= 0 || picture->Height() <= 0)
        return;

    const int AW = P->PageWidth() - P->MarginLeft() - P->MarginRight();
    const double scale = double(AW) / picture->Width();
    const int AH = roundEven(picture->Height() * scale);
    const int X0 = (P->PageWidth() - AW) / 2;
    const int Y0 = (P->PageHeight() - AH) / 2;
    picture->StretchDraw(*canvas, QRect(X0, Y0, AW, AH));
    textPage_ = P->GetPageCount() - 1;
    textTarget_ = QRect(X0, Y0, AW, AH);
    textPicture_ = QSize(picture->Width(), picture->Height());

    // Arial 20 points at the screen's pixels per inch.
    const int dpi = platform::ScreenDeviceCaps(platform::LOGPIXELSY);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(int(std::lround(20.0 * (dpi > 0 ? dpi : 96) / 72.0)));
    font.setBold(false);
    font.setItalic(false);
    canvas->setFont(font);
    canvas->setPen(Qt::black);
    const QString T = withName && source_.Name ? source_.Name() : QString();
    const QFontMetrics fm(font, canvas->device());
    const int TW = fm.horizontalAdvance(T);
    const int TH = fm.height();
    if (!T.isEmpty())
        canvas->drawText(QPoint((P->PageWidth() - TW) / 2, Y0 - 5 - TH + fm.ascent()), T);
}

void TBild::composeFromSource(bool withName)
{
    const QString folder = source_.Folder ? source_.Folder() : QString();
    const QString name = source_.Name ? source_.Name() : QString();
    std::optional<TViewerPicture> picture = LoadDocument(folder + name);
    RaduZovovaz1->Clear();
    ComposePage(picture ? &*picture : nullptr, withName);
    startTextRecognition(picture ? &*picture : nullptr);
}

void TBild::startTextRecognition(const TViewerPicture *picture)
{
    const QImage image = picture ? picture->Image() : QImage();
    if (image.isNull() || picture->Content().isEmpty()) {
        textJob_.reset();
        return;
    }
    if (textJob_ && textJob_->pictureSize() == image.size() && textJob_->content() == picture->Content())
        return;
    textJob_ = TTextRecognitionJob::Start(image, picture->Content());
}

TBild *TBild::OpenDocument(TDocumentSource source, QWidget *owner)
{
    QPointer<TBild> viewer = new TBild(std::move(source), owner);
    Bildanzeige::Bild = viewer;
    viewer->Button11->show();
    viewer->Button14->hide();
    try {
        const QString name = viewer->source_.Name ? viewer->source_.Name() : QString();
        const QString folder = viewer->source_.Folder ? viewer->source_.Folder() : QString();
        std::optional<TViewerPicture> picture = LoadDocument(folder + name);
        viewer->ComposePage(picture ? &*picture : nullptr, false);
        viewer->startTextRecognition(picture ? &*picture : nullptr);
        viewer->Button3->show();
        viewer->setWindowTitle(QStringLiteral("Angezeigtes Dokument = ") + name);
    } catch (...) {
        delete viewer.data();
        throw;
    }
    viewer->showMaximized();
    return viewer;
}

QString TBild::GetDefaultPrinter()
{
    QString entry = platform::GetProfileString(QStringLiteral("Windows"), QStringLiteral("device"), QString());
    // A buffer of 255 characters: at most 254 and the terminating zero.
    const qsizetype zero = entry.indexOf(QChar(0));
    if (zero >= 0)
        entry.truncate(zero);
    return entry.left(254);
}

// ---- buttons -------------------------------------------------------------------

void TBild::Button5Click(QObject *)
{
    RaduZovovaz1->SetPreviewMode(pmNormal);
}

void TBild::Button6Click(QObject *)
{
    RaduZovovaz1->SetPreviewMode(pmZoomIn);
}

void TBild::Button7Click(QObject *)
{
    RaduZovovaz1->SetPreviewMode(pmZoomOut);
}

void TBild::Button8Click(QObject *)
{
    RaduZovovaz1->SetPreviewMode(pmDrag);
}

void TBild::Button9Click(QObject *)
{
    RaduZovovaz1->ViewActualSize();
}

void TBild::Button10Click(QObject *)
{
    RaduZovovaz1->ViewFitToWidth();
}

void TBild::Button3Click(QObject *)
{
    printPages();
}

bool TBild::selectedPrinterWritesPdf() const
{
    platform::PrinterService &printer = platform::Printer();
    return printer.Printers().value(printer.PrinterIndex()).compare(platform::kPdfPrinterName, Qt::CaseInsensitive) == 0;
}

std::vector<platform::RecognizedWord> TBild::textLayerForPrinting()
{
    if (!textJob_ || textPage_ < 0 || textJob_->pictureSize() != textPicture_ || !selectedPrinterWritesPdf())
        return {};
    if (textJob_->state() == TTextRecognitionJob::State::Running) {
        TTextRecognitionProgress progress(*textJob_, this);
        // Finished since: the dialog's accept is on its way, no need to wait.
        if (textJob_->state() == TTextRecognitionJob::State::Running &&
            platform::ShowModal(progress) != QDialog::Accepted) {
            qCDebug(lcPreview) << "PDF without text: recognition cancelled";
            return {};
        }
    }
    return textJob_->state() == TTextRecognitionJob::State::Done ? textJob_->words()
                                                                   : std::vector<platform::RecognizedWord>{};
}

void TBild::printPages()
{
    printWords_ = textLayerForPrinting();
    struct Forget {
        std::vector<platform::RecognizedWord> &words;
        ~Forget() { words.clear(); }
    } forget{printWords_};
    RaduZovovaz1->PrintAll();
}

namespace {

int indexOfName(const QStringList &names, const QString &name)
{
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace

void TBild::Button1Click(QObject *)
{
    platform::PrinterService &printer = platform::Printer();
    printer.SetPrinterIndex(indexOfName(printer.Printers(), platform::kPdfPrinterName));
    // The default printer comes back also when the PDF could not be made,
    // so the next "Drucken" does not write a PDF file.
    auto selectDefault = [&] { printer.SetPrinterIndex(indexOfName(printer.Printers(), GetDefaultPrinter())); };
    try {
        printPages();
    } catch (...) {
        try {
            selectDefault();
        } catch (...) {
        }
        throw;
    }
    selectDefault();
}

void TBild::Button13Click(QObject *)
{
    platform::Printer().ExecuteSetupDialog(this);
}

void TBild::Button11Click(QObject *)
{
    Button11->hide();
    Button14->show();
    composeFromSource(true);
}

void TBild::Button14Click(QObject *)
{
    Button11->show();
    Button14->hide();
    composeFromSource(false);
}

void TBild::Button12Click(QObject *)
{
    close();
    Bildanzeige::Bild = nullptr;
}
