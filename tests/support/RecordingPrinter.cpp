#include "support/RecordingPrinter.h"

namespace testing_support {

RecordingPrinter::RecordingPrinter()
{
    caps[platform::LOGPIXELSX] = 96;
    caps[platform::LOGPIXELSY] = 96;
    caps[platform::HORZRES] = 816;
    caps[platform::VERTRES] = 1056;
    caps[platform::PHYSICALWIDTH] = 816;
    caps[platform::PHYSICALHEIGHT] = 1056;
}

RecordingPrinter::~RecordingPrinter() = default;

void RecordingPrinter::SetPrinterIndex(int index)
{
    selections.push_back(index);
    if (index < -1 || index >= printers.size())
        throw platform::EPrinter(QStringLiteral("Druckerindex außerhalb des gültigen Bereichs."));
    selected = index;
}

int RecordingPrinter::GetDeviceCaps(int index)
{
    if (!available || PrinterIndex() < 0)
        throw platform::EPrinter(QStringLiteral("Es ist kein Standarddrucker gewählt."));
    const auto it = caps.find(index);
    return it == caps.end() ? 0 : it->second;
}

QString RecordingPrinter::selectedName()
{
    const int i = PrinterIndex();
    return i >= 0 && i < printers.size() ? printers[i] : QString();
}

bool RecordingPrinter::BeginDoc()
{
    if (!available || PrinterIndex() < 0)
        throw platform::EPrinter(QStringLiteral("Es ist kein Standarddrucker gewählt."));
    if (painter_)
        throw platform::EPrinter(QStringLiteral("Es wird bereits gedruckt."));
    if (declineJobs)
        return false;
    jobs.push_back(PrintJob{title_, selectedName(), {}, false, false});
    openSheet();
    return true;
}

void RecordingPrinter::openSheet()
{
    painter_.reset();
    QImage sheet(GetDeviceCaps(platform::HORZRES), GetDeviceCaps(platform::VERTRES), QImage::Format_RGB32);
    sheet.fill(Qt::white);
    jobs.back().sheets.push_back(sheet);
    painter_ = std::make_unique<QPainter>(&jobs.back().sheets.back());
}

QPainter &RecordingPrinter::Canvas()
{
    if (!painter_)
        throw platform::EPrinter(QStringLiteral("Es wird gerade nicht gedruckt."));
    return *painter_;
}

void RecordingPrinter::NewPage()
{
    if (!painter_)
        throw platform::EPrinter(QStringLiteral("Es wird gerade nicht gedruckt."));
    if (failOnSheet >= 0 && int(jobs.back().sheets.size()) >= failOnSheet)
        throw platform::EPrinter(QStringLiteral("Der Druckauftrag wurde vom Drucker nicht angenommen."));
    painter_->end();
    openSheet();
}

void RecordingPrinter::EndDoc()
{
    if (!painter_)
        throw platform::EPrinter(QStringLiteral("Es wird gerade nicht gedruckt."));
    painter_.reset();
    jobs.back().ended = true;
}

void RecordingPrinter::Abort()
{
    if (!painter_)
        return;
    painter_.reset();
    jobs.back().aborted = true;
}

bool RecordingPrinter::ExecuteSetupDialog(QWidget *)
{
    ++setupDialogs;
    if (setupAnswer && setupChooses >= -1)
        selected = setupChooses;
    return setupAnswer;
}

} // namespace testing_support
