#include "platform/TextRecognition.h"

#include <QFile>
#include <QLoggingCategory>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <cmath>
#include <memory>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcTesseract, "quillora.ocr", QtWarningMsg)

// Tesseract's OpenMP runtime, when it was built with one (weak: null
// without it).
extern "C" void omp_set_dynamic(int) __attribute__((weak));

namespace platform {

namespace {

constexpr const char *kLanguages = "deu+eng";
// The resolution assumed for a picture that names none: scanners of
// receipts and letters mostly deliver 300 per inch.
constexpr int kAssumedDpi = 300;

int pictureDpi(const QImage &picture)
{
    const double dpi = picture.dotsPerMeterX() * 0.0254;
    return dpi >= 70 && dpi <= 2400 ? int(std::lround(dpi)) : kAssumedDpi;
}

bool cancelled(void *flag, int)
{
    return static_cast<const std::atomic<bool> *>(flag)->load(std::memory_order_relaxed);
}

class TesseractRecognition : public TextRecognitionService {
public:
    explicit TesseractRecognition(QString dataPath = QString()) : dataPath_(std::move(dataPath)) {}

    std::vector<RecognizedWord> Recognize(const QImage &picture, const std::atomic<bool> *cancel) override
    {
        if (picture.isNull() || picture.width() < 3 || picture.height() < 3)
            throw TextRecognitionError("Das Bild ist zu klein für die Texterkennung.");
        const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);

        // The engine asks for several threads per recognition.  On a busy
        // machine those threads wait for each other and for the windows,
        // and recognition takes several times as long; with dynamic
        // adjustment the runtime gives this thread's regions only the cores
        // that are idle.
        if (omp_set_dynamic)
            omp_set_dynamic(1);

        tesseract::TessBaseAPI api;
        // The engine's own chatter goes nowhere; failures are reported here.
        const std::vector<std::string> names{"debug_file"};
        const std::vector<std::string> values{"/dev/null"};
        const QByteArray path = QFile::encodeName(dataPath_);
        if (api.Init(dataPath_.isEmpty() ? nullptr : path.constData(), kLanguages, tesseract::OEM_LSTM_ONLY, nullptr,
                     0, &names, &values, false) != 0) {
            qCInfo(lcTesseract) << "no language data for" << kLanguages << "in"
                                << (dataPath_.isEmpty() ? QStringLiteral("(default)") : dataPath_);
            throw TextRecognitionError("Die Sprachdaten für die Texterkennung fehlen.");
        }
        api.SetPageSegMode(tesseract::PSM_AUTO);
        api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
        api.SetSourceResolution(pictureDpi(picture));

        tesseract::ETEXT_DESC monitor;
        if (cancel) {
            monitor.cancel = &cancelled;
            monitor.cancel_this = const_cast<std::atomic<bool> *>(cancel);
        }
        if (api.Recognize(&monitor) != 0)
            throw TextRecognitionError("Die Texterkennung ist fehlgeschlagen.");

        std::vector<RecognizedWord> words;
        std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
        if (!it)
            return words;
        do {
            const std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
            if (!text)
                continue;
            const QString word = QString::fromUtf8(text.get()).trimmed();
            int left = 0, top = 0, right = 0, bottom = 0;
            if (word.isEmpty() || !it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            const QRect box = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & grey.rect();
            if (box.isEmpty())
                continue;
            words.push_back(RecognizedWord{word, box, it->Confidence(tesseract::RIL_WORD)});
        } while (it->Next(tesseract::RIL_WORD));
        api.End();
        return words;
    }

private:
    QString dataPath_;
};

} // namespace

std::unique_ptr<TextRecognitionService> MakeTesseractRecognition(const QString &dataPath)
{
    return std::make_unique<TesseractRecognition>(dataPath);
}

void LowerThreadPriority()
{
    // The nice value is a property of each thread on Linux.
    if (::setpriority(PRIO_PROCESS, ::gettid(), 10) != 0)
        qCDebug(lcTesseract) << "thread priority not lowered";
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::TextRecognitionService, platform::TesseractRecognition)
