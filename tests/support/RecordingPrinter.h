// Test double of the printing service: a list of printers, a selection,
// device capabilities, and every print job with its title and its sheets,
// each sheet drawn into an image of the printable area.
#pragma once

#include "platform/Printing.h"

#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

namespace testing_support {

struct PrintJob {
    QString title;
    QString printer;  // name of the printer it went to
    std::vector<QImage> sheets;
    bool ended = false;
    bool aborted = false;
};

class RecordingPrinter : public platform::PrinterService {
public:
    RecordingPrinter();
    ~RecordingPrinter() override;

    // What the double answers.
    QStringList printers{QStringLiteral("Laser"), QStringLiteral("Tinte"), platform::kPdfPrinterName};
    int defaultIndex = 0;                 // -1: the system has no default printer
    std::map<int, int> caps;              // GetDeviceCaps answers; HORZRES/VERTRES size the sheets
    bool available = true;                // false: GetDeviceCaps and BeginDoc throw EPrinter
    bool declineJobs = false;             // BeginDoc answers false (PDF dialog cancelled)
    int failOnSheet = -1;                 // NewPage throws when this many sheets are done
    bool setupAnswer = true;              // what the setup dialog returns
    int setupChooses = -2;                // index the setup dialog selects (-2: none)
    QString profileEntry = QStringLiteral("Laser,winspool,Ne00:");

    // What was asked.
    std::vector<PrintJob> jobs;
    std::vector<int> selections; // every SetPrinterIndex argument
    int setupDialogs = 0;
    int selected = -1;

    QStringList Printers() override { return printers; }
    int PrinterIndex() override { return selected >= 0 ? selected : defaultIndex; }
    void SetPrinterIndex(int index) override;
    int GetDeviceCaps(int index) override;
    QString Title() const override { return title_; }
    void SetTitle(const QString &title) override { title_ = title; }
    bool BeginDoc() override;
    QPainter &Canvas() override;
    int PageWidth() override { return GetDeviceCaps(platform::HORZRES); }
    int PageHeight() override { return GetDeviceCaps(platform::VERTRES); }
    void NewPage() override;
    void EndDoc() override;
    void Abort() override;
    bool Printing() const override { return painter_ != nullptr; }
    bool ExecuteSetupDialog(QWidget *parent) override;
    QString DefaultPrinterEntry() override { return profileEntry; }

    // The name of the selected printer, empty for none.
    QString selectedName();

private:
    void openSheet();
    QString title_;
    std::unique_ptr<QPainter> painter_;
};

} // namespace testing_support
