// Printing: the list of printers (CUPS through Qt, plus a PDF printer of our
// own named "Microsoft Print to PDF" that asks where to write the file), the
// selected printer, its device capabilities, print jobs with a title and
// sheets, the printer-setup dialog and the default-printer entry of the
// user profile.
//
// The selected printer is the system's default printer until another is
// selected; selecting index -1 selects the default again.
#pragma once

#include "platform/Exceptions.h"
#include "platform/Service.h"
#include "platform/SystemMetrics.h"

#include <QString>
#include <QStringList>

#include <optional>

class QPainter;
class QWidget;

namespace platform {

// The name of the PDF printer.
inline const QString kPdfPrinterName = QStringLiteral("Microsoft Print to PDF");

// A printing failure: no printer, a printer that is not available, a job the
// spooler did not take, a PDF file that could not be written.
class EPrinter : public Exception {
public:
    using Exception::Exception;
};

class PrinterService {
public:
    virtual ~PrinterService() = default;

    // The printer names, in the order of their indices.
    virtual QStringList Printers() = 0;
    // The index of the selected printer in Printers(); -1 when the default
    // printer is selected but the system has none.
    virtual int PrinterIndex() = 0;
    // Selects a printer; -1 selects the system's default printer.  Throws
    // EPrinter for an index outside -1 .. Printers().size() - 1.
    virtual void SetPrinterIndex(int index) = 0;

    // A capability of the selected printer: HORZRES, VERTRES (printable
    // area), LOGPIXELSX, LOGPIXELSY, PHYSICALWIDTH, PHYSICALHEIGHT (whole
    // sheet), in device pixels.  Throws EPrinter when there is no printer or
    // it is not available; 0 for an index not listed here.
    virtual int GetDeviceCaps(int index) = 0;

    // Title of the next print job.
    virtual QString Title() const = 0;
    virtual void SetTitle(const QString &title) = 0;

    // Starts a print job with the title on the selected printer; the first
    // sheet is open.  False when the person declined (the PDF printer's file
    // dialog was cancelled): no job was started.  Throws EPrinter.
    virtual bool BeginDoc() = 0;
    // The canvas of the open sheet, in device pixels of the printable area.
    // Only while a job runs.
    virtual QPainter &Canvas() = 0;
    // Printable area of a sheet (HORZRES x VERTRES) while a job runs.
    virtual int PageWidth() = 0;
    virtual int PageHeight() = 0;
    // Ends the sheet and opens the next.
    virtual void NewPage() = 0;
    // Ends the job and hands it to the printer.  Throws EPrinter.
    virtual void EndDoc() = 0;
    // Drops a running job; nothing is printed or written.
    virtual void Abort() = 0;
    virtual bool Printing() const = 0;

    // The printer-setup dialog for the selected printer; the printer and
    // settings chosen there serve the following jobs.  True on OK.
    virtual bool ExecuteSetupDialog(QWidget *parent) = 0;

    // The default-printer entry of the user profile: "name,driver,port" of
    // the system's default printer, empty without one.
    virtual QString DefaultPrinterEntry() = 0;
};

// Where the PDF printer writes a job: asks the person.
class PdfFileDialogService {
public:
    virtual ~PdfFileDialogService() = default;
    // The path chosen for the PDF file (".pdf" appended when no extension
    // was given), or nothing when the person cancelled.
    virtual std::optional<QString> AskPdfFileName(QWidget *parent) = 0;
};

// CUPS printers through Qt, and the PDF printer.
class QtPrinterService;

class QtPdfFileDialog : public PdfFileDialogService {
public:
    std::optional<QString> AskPdfFileName(QWidget *parent) override;
};

} // namespace platform

QUILLORA_DECLARE_SERVICE(platform::PrinterService)
QUILLORA_DECLARE_SERVICE(platform::PdfFileDialogService)

namespace platform {

inline PrinterService &Printer()
{
    return Service<PrinterService>::get();
}

// The user profile: section "windows", key "device" gives the default-
// printer entry (letter case of section and key ignored); anything else
// gives |defaultValue|.
QString GetProfileString(const QString &section, const QString &key, const QString &defaultValue);

} // namespace platform
