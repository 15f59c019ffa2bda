#include "platform/Printing.h"

#include "platform/FileAccess.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPrinting, "quillora.printing", QtWarningMsg)

namespace platform {

namespace {

const QString kNoDefaultPrinter = QStringLiteral("Es ist kein Standarddrucker gewählt.");
const QString kNotPrinting = QStringLiteral("Es wird gerade nicht gedruckt.");

QString printerNotAvailable(const QString &name)
{
    return QStringLiteral("Der Drucker \"%1\" ist nicht verfügbar.").arg(name);
}

// Resolution and sheet of the PDF printer.
constexpr int kPdfResolution = 600;

QPageSize localPaper()
{
    return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize(QPageSize::Letter)
                                                                              : QPageSize(QPageSize::A4);
}

void syncFolderOf(const QString &path)
{
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

class QtPrinterService : public PrinterService {
public:
    QStringList Printers() override
    {
        if (!listed_) {
            names_ = QPrinterInfo::availablePrinterNames();
            if (!names_.contains(kPdfPrinterName, Qt::CaseInsensitive))
                names_.append(kPdfPrinterName);
            listed_ = true;
            qCDebug(lcPrinting) << "printers" << names_;
        }
        return names_;
    }

    int PrinterIndex() override
    {
        const QStringList names = Printers();
        if (selected_ >= 0)
            return selected_;
        const QString def = QPrinterInfo::defaultPrinterName();
        return def.isEmpty() ? -1 : int(names.indexOf(def));
    }

    void SetPrinterIndex(int index) override
    {
        const QStringList names = Printers();
        if (index < -1 || index >= names.size())
            throw EPrinter(QStringLiteral("Druckerindex außerhalb des gültigen Bereichs."));
        if (printing())
            throw EPrinter(QStringLiteral("Der Drucker kann während des Druckens nicht gewechselt werden."));
        qCDebug(lcPrinting) << "select printer" << index << (index >= 0 ? names[index] : QStringLiteral("(default)"));
        selected_ = index;
        printer_.reset();
    }

    int GetDeviceCaps(int index) override
    {
        QPrinter &p = printer();
        const int res = p.resolution();
        const QPageLayout layout = p.pageLayout();
        int value = 0;
        switch (index) {
        case LOGPIXELSX:
        case LOGPIXELSY:
            value = res;
            break;
        case HORZRES:
            value = layout.paintRectPixels(res).width();
            break;
        case VERTRES:
            value = layout.paintRectPixels(res).height();
            break;
        case PHYSICALWIDTH:
            value = layout.fullRectPixels(res).width();
            break;
        case PHYSICALHEIGHT:
            value = layout.fullRectPixels(res).height();
            break;
        default:
            break;
        }
        qCDebug(lcPrinting) << "GetDeviceCaps" << index << "->" << value;
        return value;
    }

    QString Title() const override { return title_; }
    void SetTitle(const QString &title) override { title_ = title; }

    bool BeginDoc() override
    {
        if (printing())
            throw EPrinter(QStringLiteral("Es wird bereits gedruckt."));
        QPrinter &p = printer();
        p.setDocName(title_);
        pdfTarget_.clear();
        pdfTemp_.clear();
        if (selectedIsPdfPrinter()) {
            const std::optional<QString> chosen =
                Service<PdfFileDialogService>::get().AskPdfFileName(QApplication::activeWindow());
            if (!chosen) {
                qCDebug(lcPrinting) << "PDF file dialog cancelled";
                return false;
            }
            pdfTarget_ = *chosen;
            // Written beside the target and put in place when the job ends,
            // so an existing file is replaced only by a complete one.
            pdfTemp_ = QFile::decodeName(TemporaryNameFor(QFile::encodeName(pdfTarget_), long(::getpid())));
            const int fd = ::open(QFile::encodeName(pdfTemp_).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) {
                const int err = errno;
                const QString target = pdfTarget_;
                pdfTemp_.clear();
                pdfTarget_.clear();
                throw FileAccessError(FileAccessError::Op::Create, target, err);
            }
            ::close(fd);
            p.setOutputFileName(pdfTemp_);
        }
        painter_ = std::make_unique<QPainter>();
        if (!painter_->begin(&p)) {
            painter_.reset();
            const QString target = pdfTarget_;
            discardPdf();
            if (!target.isEmpty())
                throw FileAccessError(FileAccessError::Op::Create, target, EIO);
            throw EPrinter(printerNotAvailable(p.printerName()));
        }
        qCDebug(lcPrinting) << "BeginDoc" << title_ << p.printerName() << pdfTarget_;
        return true;
    }

    QPainter &Canvas() override
    {
        if (!printing())
            throw EPrinter(kNotPrinting);
        return *painter_;
    }

    int PageWidth() override { return GetDeviceCaps(HORZRES); }
    int PageHeight() override { return GetDeviceCaps(VERTRES); }

    void NewPage() override
    {
        if (!printing())
            throw EPrinter(kNotPrinting);
        if (!printer_->newPage())
            throw EPrinter(QStringLiteral("Das nächste Blatt konnte nicht begonnen werden."));
    }

    void EndDoc() override
    {
        if (!printing())
            throw EPrinter(kNotPrinting);
        const bool ended = painter_->end();
        painter_.reset();
        const bool failed = !ended || printer_->printerState() == QPrinter::Error;
        qCDebug(lcPrinting) << "EndDoc" << (failed ? "failed" : "ok");
        if (pdfTarget_.isEmpty()) {
            if (failed)
                throw EPrinter(QStringLiteral("Der Druckauftrag wurde vom Drucker \"%1\" nicht angenommen.")
                                   .arg(printer_->printerName()));
            return;
        }
        const QString target = std::exchange(pdfTarget_, QString());
        const QString temp = std::exchange(pdfTemp_, QString());
        const QByteArray tempName = QFile::encodeName(temp);
        if (failed || !syncFile(temp) || ::rename(tempName.constData(), QFile::encodeName(target).constData()) != 0) {
            const int err = failed ? EIO : errno;
            ::unlink(tempName.constData());
            throw FileAccessError(FileAccessError::Op::Write, target, err ? err : EIO);
        }
        syncFolderOf(target);
    }

    void Abort() override
    {
        if (!printing())
            return;
        qCDebug(lcPrinting) << "Abort";
        printer_->abort();
        painter_->end();
        painter_.reset();
        discardPdf();
    }

    bool Printing() const override { return printing(); }

    bool ExecuteSetupDialog(QWidget *parent) override
    {
        if (printing())
            return false;
        QPrinter &p = printer();
        QPrintDialog dialog(&p, parent);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
        const bool ok = dialog.exec() == QDialog::Accepted;
        if (ok) {
            const int index = int(Printers().indexOf(p.printerName()));
            if (index >= 0)
                selected_ = index;
        }
        return ok;
    }

    QString DefaultPrinterEntry() override
    {
        const QPrinterInfo def = QPrinterInfo::defaultPrinter();
        if (def.isNull())
            return QString();
        QString driver = def.makeAndModel().trimmed();
        driver.replace(QLatin1Char(','), QLatin1Char(' '));
        if (driver.isEmpty())
            driver = QStringLiteral("CUPS");
        return def.printerName() + QLatin1Char(',') + driver + QStringLiteral(",CUPS:");
    }

private:
    bool printing() const { return painter_ != nullptr; }

    bool selectedIsPdfPrinter()
    {
        const int index = PrinterIndex();
        const QStringList names = Printers();
        return index >= 0 && names[index] == kPdfPrinterName &&
               QPrinterInfo::printerInfo(kPdfPrinterName).isNull();
    }

    // The device of the selected printer, made when first needed.
    QPrinter &printer()
    {
        if (printer_)
            return *printer_;
        const int index = PrinterIndex();
        if (index < 0)
            throw EPrinter(kNoDefaultPrinter);
        const QString name = Printers()[index];
        if (selectedIsPdfPrinter()) {
            auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
            p->setOutputFormat(QPrinter::PdfFormat);
            p->setResolution(kPdfResolution);
            p->setFullPage(true);
            p->setPageLayout(QPageLayout(localPaper(), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
            printer_ = std::move(p);
        } else {
            const QPrinterInfo info = QPrinterInfo::printerInfo(name);
            if (info.isNull())
                throw EPrinter(printerNotAvailable(name));
            printer_ = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
            if (!printer_->isValid()) {
                printer_.reset();
                throw EPrinter(printerNotAvailable(name));
            }
        }
        return *printer_;
    }

    void discardPdf()
    {
        if (!pdfTemp_.isEmpty())
            ::unlink(QFile::encodeName(pdfTemp_).constData());
        pdfTemp_.clear();
        pdfTarget_.clear();
    }

    QStringList names_;
    bool listed_ = false;
    int selected_ = -1;
    QString title_;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<QPainter> painter_;
    QString pdfTarget_;
    QString pdfTemp_;
};

std::optional<QString> QtPdfFileDialog::AskPdfFileName(QWidget *parent)
{
    QFileDialog dialog(parent, QStringLiteral("Druckausgabe speichern unter"), QDir::homePath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("PDF-Dokument (*.pdf)"));
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QString GetProfileString(const QString &section, const QString &key, const QString &defaultValue)
{
    if (section.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0 &&
        key.compare(QLatin1String("device"), Qt::CaseInsensitive) == 0) {
        const QString entry = Printer().DefaultPrinterEntry();
        return entry.isEmpty() ? defaultValue : entry;
    }
    return defaultValue;
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::PrinterService, platform::QtPrinterService)
QUILLORA_DEFINE_SERVICE(platform::PdfFileDialogService, platform::QtPdfFileDialog)
